#include "cli/SaveCommand.h"

#include "cli/CliLibrary.h"

#include <climits>
#include <cstdio>
#include <getopt.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "image/FlashImage.h"

namespace {

// What the window would show in a box goes to stderr as "Caption: text"; the
// constant texts the dialog shows in its warning box get that caption here too.
class StderrReporter : public IImageReporter {
public:
    void ErrorText(const char* constantText) override { std::fprintf(stderr, "Warning: %s\n", constantText); }
    void MessageBox(const std::string& text, const std::string& caption, MessageIcon) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    }
};

void PrintUsage(std::FILE* out) {
    std::fputs(
        "Usage: kestrel-cli save --output PATH [--lib DIR] FILE...\n"
        "Resets the flash image, loads each FILE in order as Open File does, then saves\n"
        "the result to PATH as Save As Bin does.\n"
        "\n"
        "  -o, --output PATH  file to write: the flash map when a font, bitmap or logo\n"
        "                     section is placed; else a complete map that was loaded;\n"
        "                     else the converted code image, with RmPgm.h written beside\n"
        "                     PATH for a small program\n"
        "  -l, --lib DIR      library folder holding FlashAddrAssign.h\n"
        "                     (default: Lib/ beside the executable)\n"
        "  -h, --help         show this help and exit\n"
        "\n"
        "Each FILE is a section file ending in its letter (name ending in bin), Motorola\n"
        "S-record code text (name ending in s; S1, S2 or S3 data, every record with a\n"
        "correct byte count and checksum), or a complete flash map of 0x60000, 0x80000,\n"
        "0x90000 or 0xE0000 bytes (name ending in bin).\n"
        "Messages are written to stderr as \"Caption: text\".\n"
        "PATH is replaced in one step, and only when every FILE was taken: a refused\n"
        "FILE or a failed write leaves the old PATH (and RmPgm.h) as they were. A link\n"
        "at PATH is followed; a device, pipe or folder there is refused.\n"
        "Exit status: 0 when every file was taken and the file was written, 1 otherwise,\n"
        "2 for a usage error.\n",
        out);
}

int UsageError(const char* problem) {
    if (problem) std::fprintf(stderr, "save: %s\n", problem);
    std::fputs("Try 'kestrel-cli save --help'.\n", stderr);
    return 2;
}

}  // namespace

int RunSaveCommand(int argc, char** argv) {
    static const option kOptions[] = {
        {"output", required_argument, nullptr, 'o'},
        {"lib", required_argument, nullptr, 'l'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    std::string output;
    std::string lib;
    bool help = false;
    optind = 0;  // a full restart of the option scanner: the command may run more than once per process
    for (int c; (c = getopt_long(argc, argv, "o:l:h", kOptions, nullptr)) != -1;) {
        switch (c) {
        case 'o': output = optarg; break;
        case 'l': lib = optarg; break;
        case 'h': help = true; break;
        default: return UsageError(nullptr);  // getopt has said what was wrong
        }
    }
    if (help) {
        PrintUsage(stdout);
        std::fputs(LibraryHelpLine(lib).c_str(), stdout);
        return 0;
    }
    if (output.empty()) return UsageError("--output PATH is required");
    if (optind >= argc) return UsageError("no update FILE given");

    StderrReporter reporter;
    CFlashImage image(reporter);
    if (!image.ReadFlashAddrAssign(CliLibraryPaths(lib).Find("FlashAddrAssign.h"))) return 1;
    // A new image is already in the state a reset leaves: nothing placed, erased.
    std::vector<std::string> refused;
    for (int i = optind; i < argc; ++i)
        if (!image.OnLoadFile(argv[i])) refused.emplace_back(argv[i]);
    if (!refused.empty()) {
        // A batch with a refused file is not what the operator asked for: saving
        // the rest would replace a good file with a different image.
        std::string names = refused[0];
        for (size_t i = 1; i < refused.size(); ++i) names += (i + 1 == refused.size() ? " and " : ", ") + refused[i];
        std::fprintf(stderr, "Error: Nothing was saved to %s: %s %s refused!\n", output.c_str(), names.c_str(),
                     refused.size() == 1 ? "was" : "were");
        return 1;
    }
    return image.OnSaveFlashMap(output) ? 0 : 1;
}
