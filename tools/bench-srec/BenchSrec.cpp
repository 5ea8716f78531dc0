// kestrel-bench-srec [--runs N]
//
// Generates an S-record file describing a 512 KiB code image (about 1.3 MB of
// text) and times, as whole processes in the same run and interleaved, Kestrel's
// conversion + save (`kestrel-cli save`) and `srec_cat FILE -o out.bin -binary`;
// prints both medians and their ratio. Then times the load + save of a 0xE0000-byte
// flash map. Started as `kestrel-bench-srec save ...` it is itself the save
// command, used when no kestrel-cli stands beside it.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "cli/SaveCommand.h"
#include "image/FlashImage.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kCodeBytes = 0x7FFF0;    // 512 KiB less the code image's header and letter
constexpr uint32_t kRecordBytes = 32;
constexpr uint32_t kFlashMapBytes = 0xE0000;

std::string Record(char type, uint32_t address, const uint8_t* data, uint32_t count) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string text = {'S', type};
    unsigned sum = 0;
    auto put = [&](uint8_t b) {
        sum += b;
        text += kHex[b >> 4];
        text += kHex[b & 0x0F];
    };
    put(static_cast<uint8_t>(count + 5));
    for (int shift = 24; shift >= 0; shift -= 8) put(static_cast<uint8_t>(address >> shift));
    for (uint32_t i = 0; i < count; ++i) put(data[i]);
    const uint8_t checksum = static_cast<uint8_t>(~sum);
    text += kHex[checksum >> 4];
    text += kHex[checksum & 0x0F];
    return text + "\n";
}

std::vector<uint8_t> CodeBytes() {
    std::vector<uint8_t> code(kCodeBytes);
    uint32_t x = 0x12345678;
    for (auto& b : code) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return code;
}

std::string SRecordText(const std::vector<uint8_t>& code) {
    const uint8_t title[] = {'b', 'e', 'n', 'c', 'h'};
    std::string text = Record('0', 0, title, sizeof title);
    for (uint32_t a = 0; a < code.size(); a += kRecordBytes)
        text += Record('3', a, &code[a], std::min<uint32_t>(kRecordBytes, static_cast<uint32_t>(code.size()) - a));
    return text + Record('7', 0, nullptr, 0);
}

void WriteFile(const std::string& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs a program to its end with its output discarded; milliseconds, or -1 when
// it could not run or did not succeed.
double TimeProcess(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = ::fork();
    if (child == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) return -1;
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool OnPath(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string ExecutableFolder() {
    return fs::read_symlink("/proc/self/exe").parent_path().string();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "save") == 0) return RunSaveCommand(argc - 1, argv + 1);
    int runs = 7;
    if (argc == 3 && std::strcmp(argv[1], "--runs") == 0) runs = std::max(1, std::atoi(argv[2]));
    else if (argc != 1) {
        std::fprintf(stderr, "usage: %s [--runs N]\n", argv[0]);
        return 2;
    }

    std::vector<std::string> kestrel;
    const std::string cli = ExecutableFolder() + "/kestrel-cli";
    if (::access(cli.c_str(), X_OK) == 0) kestrel = {cli, "save"};
    else kestrel = {fs::read_symlink("/proc/self/exe").string(), "save"};

    char pattern[] = "/tmp/kestrel-bench-srec-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    const std::string dir = pattern;
    fs::create_directory(dir + "/Lib");
    const char* layout = "#define CodeBufSize 0x80000\n#define FontBufSize 0x40000\n"
                         "#define BmpBufSize 0x20000\n#define EsLogoPicBufSize 0x20000\n";
    WriteFile(dir + "/Lib/FlashAddrAssign.h", layout, std::strlen(layout));
    const auto code = CodeBytes();
    const std::string text = SRecordText(code);
    WriteFile(dir + "/code.s", text.data(), text.size());

    std::printf("S-record file: %zu bytes of text for %u bytes of code (%u-byte records)\n", text.size(), kCodeBytes,
                kRecordBytes);
    std::printf("Kestrel: %s save\n", kestrel[0].c_str());
    std::vector<std::string> save = kestrel;
    save.insert(save.end(), {"--output", dir + "/kestrel.bin", "--lib", dir + "/Lib", dir + "/code.s"});
    const bool haveSrecCat = OnPath("srec_cat");
    const std::vector<std::string> srecCat = {"srec_cat", dir + "/code.s", "-o", dir + "/srec_cat.bin", "-binary"};

    std::vector<double> kestrelMs, srecCatMs;
    for (int i = 0; i < runs; ++i) {  // interleaved, so both see the same machine load
        kestrelMs.push_back(TimeProcess(save));
        if (haveSrecCat) srecCatMs.push_back(TimeProcess(srecCat));
    }
    if (std::count(kestrelMs.begin(), kestrelMs.end(), -1.0) > 0) {
        std::fprintf(stderr, "kestrel save failed\n");
        return 1;
    }
    const double kestrelMedian = Median(kestrelMs);
    std::printf("kestrel-cli save (convert + save), median of %d: %8.2f ms\n", runs, kestrelMedian);

    // Both must have produced the same code bytes (the saved image carries its
    // length in front, its letter behind, and two patched fields).
    auto saved = ReadFile(dir + "/kestrel.bin");
    bool same = saved.size() == code.size() + 5 && std::equal(code.begin(), code.end(), saved.begin() + 4,
                                                            [&](uint8_t a, uint8_t b) { return a == b; });
    if (haveSrecCat && std::count(srecCatMs.begin(), srecCatMs.end(), -1.0) == 0) {
        const double srecCatMedian = Median(srecCatMs);
        const auto reference = ReadFile(dir + "/srec_cat.bin");
        std::vector<uint8_t> expected = reference;
        if (expected.size() > 0x19C) {
            expected[0x17C] = 0;
            CFlashImage::WriteBigEndian32(&expected[0x194], static_cast<uint32_t>(reference.size() + 4));
        }
        same = saved.size() == expected.size() + 5 && std::equal(expected.begin(), expected.end(), saved.begin() + 4);
        std::printf("srec_cat -binary,                  median of %d: %8.2f ms\n", runs, srecCatMedian);
        std::printf("ratio srec_cat / kestrel: %.1fx (goal: at least 5x)\n", srecCatMedian / kestrelMedian);
    } else {
        std::printf("srec_cat not available (Debian package srecord): no comparison\n");
    }
    std::printf("code bytes %s\n", same ? "agree" : "DIFFER");

    std::vector<uint8_t> map(kFlashMapBytes);
    for (size_t i = 0; i < map.size(); ++i) map[i] = static_cast<uint8_t>(i * 31 + (i >> 12));
    WriteFile(dir + "/map.bin", map.data(), map.size());
    std::vector<std::string> mapSave = kestrel;
    mapSave.insert(mapSave.end(), {"--output", dir + "/map-out.bin", "--lib", dir + "/Lib", dir + "/map.bin"});
    std::vector<double> mapMs;
    for (int i = 0; i < runs; ++i) mapMs.push_back(TimeProcess(mapSave));
    const bool mapSame = ReadFile(dir + "/map-out.bin") == map;
    std::printf("flash map 0x%X bytes, load + save, median of %d: %8.2f ms (%s)\n", kFlashMapBytes, runs,
                Median(mapMs), mapSame ? "saved map agrees" : "saved map DIFFERS");

    fs::remove_all(dir);
    return same && mapSame ? 0 : 1;
}
