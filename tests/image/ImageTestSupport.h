#pragma once
// Shared pieces of the image tests: a reporter that records what the operator
// would be told, a scratch folder, and builders for the files the tool reads.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image/FlashImage.h"

struct ReportedBox {
    std::string text;
    std::string caption;
    MessageIcon icon;
};

class RecordingReporter : public IImageReporter {
public:
    void ErrorText(const char* constantText) override { errorTexts.emplace_back(constantText); }
    void MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) override {
        boxes.push_back({text, caption, icon});
    }
    bool Silent() const { return errorTexts.empty() && boxes.empty(); }
    void Clear() {
        errorTexts.clear();
        boxes.clear();
    }
    std::vector<std::string> errorTexts;
    std::vector<ReportedBox> boxes;
};

// A fresh folder under the system's temporary folder, removed with everything in
// it when the object goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& Path() const { return path; }
    std::string operator/(const std::string& name) const { return path + "/" + name; }

private:
    std::string path;
};

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteText(const std::string& path, const std::string& text);
std::vector<uint8_t> ReadBytes(const std::string& path);
std::string ReadText(const std::string& path);
bool FileExists(const std::string& path);

// Runs `body` in a child process as an ordinary user: as root (whom no file mode
// stops) the child first becomes nobody. `body` returns what went wrong, or "".
// The scratch folder a body works in must be open to that user.
std::string RunAsOrdinaryUser(const std::function<std::string()>& body);

// A flash address file with the four sizes as "#define Key 0x...." lines.
std::string AddrAssignText(uint32_t code, uint32_t font, uint32_t bmp, uint32_t logo);

// A section file of `size` bytes: a counting payload and the letter last.
std::vector<uint8_t> SectionFile(uint32_t size, char letter);

// One S-record of the given type ('0' to '9') with a correct checksum, the
// address as wide as the type has it.
std::string SRecord(char type, uint32_t address, const std::vector<uint8_t>& data);
// One S3 record (with a correct checksum) for `data` at `address`.
std::string S3Record(uint32_t address, const std::vector<uint8_t>& data);
std::string S7Record(uint32_t address);

// An image that has read a layout of the given sizes; the test fails if the
// layout is refused.
struct LoadedImage {
    LoadedImage(uint32_t code, uint32_t font, uint32_t bmp, uint32_t logo);
    RecordingReporter reporter;
    CFlashImage image{reporter};
    ScratchDir dir;
    // Writes `bytes` to a file of that name in the scratch folder and loads it.
    bool Load(const std::string& name, const std::vector<uint8_t>& bytes);
    bool LoadText(const std::string& name, const std::string& text);
};
