#include "settings/ProfileFile.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "protocol/Crystals.h"
#include "serial/LineFactory.h"
#include "settings/LibraryFile.h"
#include "settings/LineChoices.h"

namespace {

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// A settings file holds a few short sections; anything far larger is not one.
constexpr uint64_t kMaxProfileBytes = 0x10000;


}  // namespace

ProfileFile ProfileFile::Load(const std::string& path, std::string& problem) {
    std::vector<uint8_t> bytes;
    const LibraryFileRead read = ReadLibraryFile(path, kMaxProfileBytes, bytes);
    problem = read.Ok() || read.missing ? std::string() : path + ": " + read.problem;
    return Parse(std::string(bytes.begin(), bytes.end()));
}

ProfileFile ProfileFile::Parse(const std::string& text) {
    ProfileFile profile;
    std::string section;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const std::string t = Trim(line);
        if (t.empty() || t[0] == ';')
            continue;
        if (t[0] == '[') {
            const auto close = t.find(']');
            section = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            continue;
        }
        const auto eq = t.find('=');
        if (eq == std::string::npos)
            continue;
        profile.entries.push_back({section, Trim(t.substr(0, eq)), Trim(t.substr(eq + 1))});
    }
    return profile;
}

std::optional<std::string> ProfileFile::GetString(const std::string& section, const std::string& key) const {
    for (const auto& e : entries)
        if (SameName(e.section, section) && SameName(e.key, key))
            return e.value;
    return std::nullopt;
}

int ProfileFile::GetInt(const std::string& section, const std::string& key) const {
    const auto value = GetString(section, key);
    if (!value)
        return 0;
    long long n = 0;
    size_t i = 0;
    while (i < value->size() && std::isdigit(static_cast<unsigned char>((*value)[i])) && n < 1000000000)
        n = n * 10 + ((*value)[i++] - '0');
    return static_cast<int>(n);  // a sign or text in front reads as 0
}

OperatorSettings OperatorSettings::Load(const std::string& libFolder) {
    OperatorSettings s;
    s.profile = ProfileFile::Load(libFolder + "/" + kFileName, s.problem);
    const ProfileFile& p = s.profile;
    const int port = p.GetInt("COM", "portno");
    s.portNumber = port < kPortChoices ? static_cast<unsigned>(port) + 1 : 0;
    s.lineSettings = LineSettingsText(p.GetInt("COM", "baudrate"), p.GetInt("COM", "parity"),
                                      p.GetInt("COM", "databits"), p.GetInt("COM", "stopbits"));
    const int crystal = p.GetInt("PLANT", "XTLO");
    s.crystalIndex = crystal < static_cast<int>(kCrystalCount) ? crystal : -1;
    return s;
}

std::string OperatorSettings::DeviceForPort(unsigned n) const {
    if (const auto device = profile.GetString("PORTS", "com" + std::to_string(n)); device && !device->empty())
        return *device;
    return DefaultDeviceForPort(n);
}
