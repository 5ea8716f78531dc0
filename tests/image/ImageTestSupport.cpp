#include "ImageTestSupport.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <stdexcept>
#ifdef _WIN32
#include <random>
#else
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#ifdef _WIN32
// Windows has no mkdtemp: a folder of a random name, never one already taken.
ScratchDir::ScratchDir() {
    std::random_device seed;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto candidate = std::filesystem::temp_directory_path() / ("kestrel-image-" + std::to_string(seed()));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) {
            path = candidate.string();
            return;
        }
    }
    throw std::runtime_error("cannot make a scratch folder");
}
#else
ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-image-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path = pattern;
}
#endif

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    // Tests may have taken write permission away; give it back so removal works.
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path, ignored);
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteText(const std::string& path, const std::string& text) {
    WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const std::string& path) {
    std::vector<uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

#ifndef _WIN32  // the image tests built for Windows change no user
std::string RunAsOrdinaryUser(const std::function<std::string()>& body) {
    constexpr uid_t kNobody = 65534;
    int report[2];
    if (::pipe(report) != 0) return "no pipe";
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        std::string failure;
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
            failure = "cannot become an ordinary user";
        else
            failure = body();
        [[maybe_unused]] const ssize_t n = ::write(report[1], failure.data(), failure.size());
        ::_exit(0);
    }
    ::close(report[1]);
    std::string failure;
    char buffer[256];
    for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) > 0;) failure.append(buffer, static_cast<size_t>(n));
    ::close(report[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        failure += " (the child ended abnormally, status " + std::to_string(status) + ")";
    return failure;
}
#endif

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

std::string AddrAssignText(uint32_t code, uint32_t font, uint32_t bmp, uint32_t logo) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "#ifndef FLASH_ADDR_ASSIGN_H\n#define CodeBufSize 0x%X\n#define FontBufSize 0x%X\n"
                  "#define BmpBufSize 0x%X\n#define EsLogoPicBufSize 0x%X\n#endif\n",
                  code, font, bmp, logo);
    return text;
}

std::vector<uint8_t> SectionFile(uint32_t size, char letter) {
    std::vector<uint8_t> bytes(size);
    for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    if (size > 0) bytes.back() = static_cast<uint8_t>(letter);
    return bytes;
}

std::string SRecord(char type, uint32_t address, const std::vector<uint8_t>& data) {
    // Address bytes by record type: S0, S1, S5, S9 two; S2, S6, S8 three; S3, S7 four.
    const int addressBytes = type == '2' || type == '6' || type == '8' ? 3 : type == '3' || type == '7' ? 4 : 2;
    std::vector<uint8_t> body = {static_cast<uint8_t>(data.size() + addressBytes + 1)};
    for (int i = addressBytes - 1; i >= 0; --i) body.push_back(static_cast<uint8_t>(address >> (8 * i)));
    body.insert(body.end(), data.begin(), data.end());
    unsigned sum = 0;
    std::string text = {'S', type};
    char hex[3];
    for (uint8_t b : body) {
        sum += b;
        std::snprintf(hex, sizeof hex, "%02X", b);
        text += hex;
    }
    std::snprintf(hex, sizeof hex, "%02X", ~sum & 0xFF);
    return text + hex + "\n";
}

std::string S3Record(uint32_t address, const std::vector<uint8_t>& data) { return SRecord('3', address, data); }
std::string S7Record(uint32_t address) { return SRecord('7', address, {}); }

LoadedImage::LoadedImage(uint32_t code, uint32_t font, uint32_t bmp, uint32_t logo) {
    EXPECT_TRUE(image.ReadFlashAddrAssignText(AddrAssignText(code, font, bmp, logo), "test layout"));
    image.ResetImage();
}

bool LoadedImage::Load(const std::string& name, const std::vector<uint8_t>& bytes) {
    WriteBytes(dir / name, bytes);
    return image.OnLoadFile(dir / name);
}

bool LoadedImage::LoadText(const std::string& name, const std::string& text) {
    WriteText(dir / name, text);
    return image.OnLoadFile(dir / name);
}
