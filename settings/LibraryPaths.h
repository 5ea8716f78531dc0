#pragma once
#include <string>
#include <vector>

// Where the library files and the settings file are, for a program run from its build
// tree and for an installed one.
//
// - `--lib DIR` names the one folder for everything.
// - A writable AppFolder/Lib (a build tree) holds everything, as it always has.
// - An installed program's Lib/ is read-only to operators (and marked as shipped, so
//   even root leaves it alone): each user then has their own settings file,
//   $XDG_CONFIG_HOME/kestrel/M850T.ini (default ~/.config/kestrel/), made from the
//   shipped defaults when first written, and may drop their own loader files and
//   address file into $XDG_CONFIG_HOME/kestrel/Lib/, which are found before the
//   shipped ones.
struct LibraryEnvironment {
    std::string xdgConfigHome;  // empty when unset
    std::string home;
    static LibraryEnvironment FromProcess();
};

class LibraryPaths {
public:
    // A file in the shipped Lib/ that marks it as an installed copy.
    static constexpr const char* kShippedMark = ".shipped";

    static LibraryPaths Resolve(const std::string& appFolder, const std::string& libOverride,
                                const LibraryEnvironment& environment);

    // The folders searched for a library file, in order.
    const std::vector<std::string>& SearchFolders() const { return searchFolders; }
    // The first copy of `fileName` in the search folders; the last folder's path when
    // there is none, so the error names where the file belongs.
    std::string Find(const std::string& fileName) const;

    // The settings file written to, and the one read now: the shipped defaults until the
    // user's own file exists.
    const std::string& SettingsFile() const { return settingsFile; }
    std::string SettingsFileToRead() const;
    // Makes sure SettingsFile() exists before it is changed: creates its folder and
    // copies the shipped defaults there (atomically). False, with the reason, when that
    // fails; nothing to do when the file is already there or is the shipped one.
    bool PrepareSettingsForWrite(std::string& error) const;

    bool PerUser() const { return perUser; }
    // "library Lib/ (then /usr/lib/kestrel/Lib), settings ~/.config/kestrel/M850T.ini"
    // style text for help texts, about boxes and start-up log lines.
    std::string Describe() const;

private:
    std::vector<std::string> searchFolders;
    std::string settingsFile;
    std::string shippedSettings;
    bool perUser = false;
};
