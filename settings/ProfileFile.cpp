#include "settings/ProfileFile.h"

#include <algorithm>
#include <array>
#include <iterator>
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

std::vector<std::string> ProfileFile::Keys(const std::string& section) const {
    std::vector<std::string> keys;
    for (const auto& e : entries) {
        if (!SameName(e.section, section))
            continue;
        bool seen = false;
        for (const auto& k : keys)
            seen = seen || SameName(k, e.key);
        if (!seen)
            keys.push_back(e.key);
    }
    return keys;
}

int ProfileFile::GetInt(const std::string& section, const std::string& key) const { return ReadInt(section, key).value; }

ProfileFile::IntRead ProfileFile::ReadInt(const std::string& section, const std::string& key) const {
    const auto value = GetString(section, key);
    if (!value)
        return {};
    long long n = 0;
    size_t i = 0;
    while (i < value->size() && std::isdigit(static_cast<unsigned char>((*value)[i])) && n < 1000000000)
        n = n * 10 + ((*value)[i++] - '0');
    // A sign or text in front reads as 0; so does an empty value.
    return {static_cast<int>(n), i == 0};
}

std::string StoredChoice::Named() const { return "[" + std::string(section) + "] " + key + "=" + text; }

std::string StoredChoice::ListText() const {
    std::string text;
    for (size_t i = 0; i < items.size(); ++i)
        text += (i ? ", " : "") + std::to_string(i) + " = " + items[i];
    return text;
}

namespace {

template <typename List, typename Name>
StoredChoice ReadChoice(const ProfileFile& p, const char* section, const char* key, const List& list, Name name) {
    StoredChoice c{section, key, p.GetString(section, key).value_or(""), 0, false, true, {}};
    const ProfileFile::IntRead read = p.ReadInt(section, key);
    c.index = read.value;
    c.readAsZero = read.readAsZero;
    c.inList = c.index < static_cast<int>(std::size(list));
    for (const auto& item : list)
        c.items.push_back(name(item));
    return c;
}

}  // namespace

const StoredChoice& OperatorSettings::Choice(const std::string& key) const {
    for (const StoredChoice& c : choices)
        if (SameName(c.key, key))
            return c;
    static const StoredChoice none{"", "", "", 0, false, true, {}};
    return none;
}

OperatorSettings OperatorSettings::Load(const std::string& libFolder) {
    OperatorSettings s;
    s.path = libFolder + "/" + kFileName;
    s.profile = ProfileFile::Load(s.path, s.problem);
    const ProfileFile& p = s.profile;
    std::array<std::string, kPortChoices> ports;
    for (size_t i = 0; i < ports.size(); ++i)
        ports[i] = "com" + std::to_string(i + 1);
    const auto text = [](const auto& item) { return std::string(item); };
    s.choices = {
        ReadChoice(p, "COM", "portno", ports, text),
        ReadChoice(p, "COM", "baudrate", kBaudChoices, text),
        ReadChoice(p, "COM", "parity", kParityChoices, [](const ParityChoice& c) { return std::string(c.name); }),
        ReadChoice(p, "COM", "databits", kDataBitsChoices, text),
        ReadChoice(p, "COM", "stopbits", kStopBitsChoices, text),
        ReadChoice(p, "PLANT", "XTLO", kCrystals, [](const CrystalChoice& c) { return std::string(c.text); }),
    };
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
