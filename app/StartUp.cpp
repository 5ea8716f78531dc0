#include "app/StartUp.h"

#include <getopt.h>

#include <filesystem>
#include <iostream>

#include "console/MessageBoxes.h"

StartUpRequest ReadStartUp(int argc, char** argv) {
    static const option kLong[] = {{"lib", required_argument, nullptr, 'l'},
                                   {"station", no_argument, nullptr, 's'},
                                   {"results", required_argument, nullptr, 'r'},
                                   {nullptr, 0, nullptr, 0}};
    StartUpRequest request;
    optind = 0;  // a fresh scan, however often the command line is read
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, "", kLong, nullptr)) != -1;) {
        if (c == 'l') {
            request.lib = optarg;
            continue;
        }
        if (c == 's') {
            request.station = true;
            continue;
        }
        if (c == 'r') {
            request.results = optarg;
            continue;
        }
        request.refusal = std::string("unknown option or missing value: ") + argv[optind - 1];
        request.status = 2;
        return request;
    }
    if (!request.lib.empty()) {
        std::error_code ec;
        if (!std::filesystem::is_directory(request.lib, ec)) {
            request.refusal = "the library folder " + request.lib + " does not exist";
            request.status = 2;
            return request;
        }
        request.lib = std::filesystem::absolute(request.lib, ec).lexically_normal().string();
    }
    if (!request.results.empty() && !request.station) {
        request.refusal = "--results is the station's: start the window with --station";
        request.status = 2;
        return request;
    }
    if (!request.results.empty()) {
        std::error_code ec;
        request.results = std::filesystem::absolute(request.results, ec).lexically_normal().string();
    }
    for (int i = optind; i < argc; ++i)
        request.files << QString::fromLocal8Bit(argv[i]);
    return request;
}

void RefuseStartUp(const StartUpRequest& request, IMessageBoxes& boxes) {
    std::cerr << "kestrel: " << request.refusal << "\n";
    boxes.Show(nullptr, "Kestrel cannot start!\n" + request.refusal + ".\nkestrel --help says how it is started.",
               "Error", BoxIcon::Error);
}
