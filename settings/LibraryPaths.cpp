#include "settings/LibraryPaths.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/NewFile.h"
#include "settings/ProfileFile.h"

namespace fs = std::filesystem;

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

std::string ErrorText(const std::string& what, const std::string& path, int error) {
    return "cannot " + what + " " + path + ": " + std::strerror(error);
}

bool CopyFileAtomically(const std::string& from, const std::string& to, std::string& error) {
    const std::string temporary = to + ".new" + std::to_string(getpid());
    std::error_code ec;
    if (!fs::copy_file(from, temporary, fs::copy_options::overwrite_existing, ec)) {
        error = ErrorText("copy the default settings to", temporary, ec.value());
        fs::remove(temporary, ec);
        return false;
    }
    // A settings file made but lost on power failure would silently bring the
    // defaults back: it is on disk before it takes the name. Another instance that
    // made the file meanwhile keeps its own.
    if (const std::string cause = PlaceNewFile(temporary, to); !cause.empty()) {
        error = "cannot create " + to + ": " + cause;
        fs::remove(temporary, ec);
        return false;
    }
    fs::remove(temporary, ec);
    return true;
}

}  // namespace

LibraryEnvironment LibraryEnvironment::FromProcess() { return {Env("XDG_CONFIG_HOME"), Env("HOME")}; }

LibraryPaths LibraryPaths::Resolve(const std::string& appFolder, const std::string& libOverride,
                                   const LibraryEnvironment& environment) {
    LibraryPaths paths;
    const std::string shipped = libOverride.empty() ? appFolder + "/Lib" : libOverride;
    paths.shippedSettings = shipped + "/" + OperatorSettings::kFileName;
    const bool installed = libOverride.empty() && (Exists(shipped + "/" + kShippedMark) ||
                                                   ::access(shipped.c_str(), W_OK) != 0);
    // XDG wants an absolute path; a relative one is ignored.
    std::string config = environment.xdgConfigHome;
    if (config.empty() || config[0] != '/')
        config = environment.home.empty() ? std::string() : environment.home + "/.config";
    if (!installed || config.empty()) {
        paths.searchFolders = {shipped};
        paths.settingsFile = paths.shippedSettings;
        return paths;
    }
    const std::string own = config + "/kestrel";
    paths.perUser = true;
    paths.searchFolders = {own + "/Lib", shipped};
    paths.settingsFile = own + "/" + OperatorSettings::kFileName;
    return paths;
}

std::string LibraryPaths::Find(const std::string& fileName) const {
    for (const auto& folder : searchFolders) {
        if (Exists(folder + "/" + fileName))
            return folder + "/" + fileName;
    }
    return searchFolders.back() + "/" + fileName;
}

std::string LibraryPaths::SettingsFileToRead() const {
    return Exists(settingsFile) ? settingsFile : shippedSettings;
}

bool LibraryPaths::PrepareSettingsForWrite(std::string& error) const {
    if (settingsFile == shippedSettings || Exists(settingsFile))
        return true;
    const std::string folder = fs::path(settingsFile).parent_path().string();
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        error = ErrorText("create", folder, ec.value());
        return false;
    }
    if (!Exists(shippedSettings))
        return true;  // no defaults to start from: the first write makes the file
    return CopyFileAtomically(shippedSettings, settingsFile, error);
}

std::string LibraryPaths::Describe() const {
    std::string text = "library " + searchFolders.front();
    for (size_t i = 1; i < searchFolders.size(); ++i)
        text += " (then " + searchFolders[i] + ")";
    return text + ", settings " + settingsFile;
}
