#include "settings/StationSettings.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <string_view>

bool ParseSeconds(const std::string& text, long lowestMs, long highestMs, std::chrono::milliseconds& out) {
    const std::string_view s(text);
    const size_t dot = s.find('.');
    const std::string_view whole = s.substr(0, dot);
    const std::string_view fraction = dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
    if (whole.empty() || (dot != std::string_view::npos && (fraction.empty() || fraction.size() > 3)))
        return false;
    long seconds = 0;
    const auto [end, ec] = std::from_chars(whole.data(), whole.data() + whole.size(), seconds);
    if (ec != std::errc() || end != whole.data() + whole.size() || seconds > 86400)
        return false;
    long ms = 0;
    for (size_t i = 0; i < 3; ++i) {
        const char c = i < fraction.size() ? fraction[i] : '0';
        if (c < '0' || c > '9')
            return false;
        ms = ms * 10 + (c - '0');
    }
    const long value = seconds * 1000 + ms;
    if (value < lowestMs || value > highestMs)
        return false;
    out = std::chrono::milliseconds(value);
    return true;
}

std::string SecondsText(std::chrono::milliseconds ms) {
    const long long v = ms.count() < 0 ? 0 : ms.count();
    char text[32];
    if (v % 1000 == 0)
        std::snprintf(text, sizeof text, "%lld", v / 1000);
    else {
        std::snprintf(text, sizeof text, "%lld.%03lld", v / 1000, v % 1000);
        std::string t = text;
        while (t.back() == '0')
            t.pop_back();
        return t;
    }
    return text;
}

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// "com12" is port 12; anything else is no COM port.
unsigned ComNumber(const std::string& key) {
    const std::string k = Lower(key);
    if (k.size() < 4 || k.compare(0, 3, "com") != 0)
        return 0;
    unsigned n = 0;
    const auto [end, ec] = std::from_chars(k.data() + 3, k.data() + k.size(), n);
    return ec == std::errc() && end == k.data() + k.size() && n >= 1 && n <= 1024 ? n : 0;
}

}  // namespace

StationSettings StationSettings::Read(const ProfileFile& p) {
    StationSettings s;
    s.crystalIndex = p.GetInt("PLANT", "XTLO");
    if (p.GetString(kSection, kCrystal))
        s.crystalIndex = p.GetInt(kSection, kCrystal);
    s.expect = p.GetString(kSection, kExpect).value_or("");
    s.failOn = p.GetString(kSection, kFailOn).value_or("");
    const struct {
        const char* key;
        std::chrono::milliseconds* value;
        long lowest;
    } times[] = {{kWithin, &s.within, 100}, {kWakeEvery, &s.wakeEvery, 100}, {kRearmAfter, &s.rearmAfter, 0}};
    for (const auto& t : times) {
        const auto text = p.GetString(kSection, t.key);
        if (text && !text->empty() && !ParseSeconds(*text, t.lowest, 3600 * 1000, *t.value))
            s.unread.push_back("[" + std::string(kSection) + "] " + t.key + "=" + *text);
    }
    s.results = p.GetString(kSection, kResults).value_or("");
    s.logDir = p.GetString(kSection, kLogDir).value_or("");
    std::vector<std::string> leftOut;
    const std::string left = Lower(p.GetString(kSection, kLeftOut).value_or(""));
    for (size_t at = 0; at <= left.size();) {
        size_t comma = left.find(',', at);
        if (comma == std::string::npos)
            comma = left.size();
        std::string name = left.substr(at, comma - at);
        name.erase(std::remove_if(name.begin(), name.end(), [](unsigned char c) { return std::isspace(c); }), name.end());
        if (!name.empty())
            leftOut.push_back(name);
        at = comma + 1;
    }
    for (const std::string& key : p.Keys("PORTS")) {
        const unsigned n = ComNumber(key);
        const std::string device = p.GetString("PORTS", key).value_or("");
        if (n == 0 || device.empty())
            continue;
        StationPortEntry e{key, n, device, true};
        e.armed = std::find(leftOut.begin(), leftOut.end(), Lower(key)) == leftOut.end();
        s.ports.push_back(e);
    }
    std::sort(s.ports.begin(), s.ports.end(), [](const auto& a, const auto& b) { return a.number < b.number; });
    return s;
}

std::string StationSettings::LeftOutText(const std::vector<StationPortEntry>& ports) {
    std::string text;
    for (const auto& p : ports)
        if (!p.armed)
            text += (text.empty() ? "" : ",") + p.name;
    return text;
}

unsigned FreePortNumber(const std::vector<StationPortEntry>& ports) {
    for (unsigned n = 1;; ++n)
        if (std::none_of(ports.begin(), ports.end(), [n](const auto& p) { return p.number == n; }))
            return n;
}
