#include "engine/BoardNames.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <system_error>

namespace {

namespace fs = std::filesystem;

std::string ShortName(const std::string& device) {
    const fs::path path(device);
    std::string name = path.filename().string();
    const bool number = !name.empty() && std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isdigit(c); });
    if (number && path.has_parent_path() && !path.parent_path().filename().empty())
        name = path.parent_path().filename().string() + "/" + name;
    return name.empty() ? device : name;
}

// The device itself: links followed where they can be.
std::string Identity(const std::string& device) {
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(device, error);
    return error ? fs::path(device).lexically_normal().string() : canonical.string();
}

}  // namespace

std::vector<std::string> BoardNames(const std::vector<std::string>& devices) {
    std::map<std::string, int> uses;
    for (const auto& d : devices)
        ++uses[ShortName(d)];
    std::vector<std::string> names;
    for (const auto& d : devices)
        names.push_back(uses[ShortName(d)] > 1 ? d : ShortName(d));
    return names;
}

std::string BoardFileName(const std::string& boardName, const std::string& extension) {
    std::string name = boardName;
    while (!name.empty() && name.front() == '/')
        name.erase(name.begin());
    std::replace(name.begin(), name.end(), '/', '_');
    return name + extension;
}

std::optional<std::string> RepeatedDevice(const std::vector<std::string>& devices) {
    std::map<std::string, std::string> seen;
    for (const auto& d : devices) {
        if (!seen.emplace(Identity(d), d).second)
            return d;
    }
    return std::nullopt;
}
