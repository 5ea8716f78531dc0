// Where settings and library files are for a build tree, an installed program and
// --lib, with real folders in a temporary directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "settings/LibraryPaths.h"

namespace fs = std::filesystem;

namespace {

struct Folders {
    Folders() : root(fs::temp_directory_path() / ("kestrel-lib-" + std::to_string(getpid()))) {
        fs::remove_all(root);
        fs::create_directories(app / "Lib");
        Write(app / "Lib/M850T.ini", "[PLANT]\nXTLO=2\n");
        Write(app / "Lib/Pgm_4M.bin", "shipped");
        Write(app / "Lib/FlashAddrAssign.h", "shipped");
    }
    ~Folders() { fs::remove_all(root); }
    static void Write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
    static std::string Read(const fs::path& file) {
        std::ifstream in(file);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void Ship() { Write(app / "Lib" / LibraryPaths::kShippedMark, ""); }

    fs::path root;
    fs::path app = root / "app";
    fs::path config = root / "config";
    LibraryEnvironment env{(root / "config").string(), (root / "home").string()};
};

}  // namespace

TEST(LibraryPaths, ABuildTreeKeepsEverythingInItsLibAndLibOverridesAnInstalledCopy) {
    Folders f;
    const auto build = LibraryPaths::Resolve(f.app.string(), "", f.env);
    EXPECT_FALSE(build.PerUser());
    EXPECT_EQ(build.SettingsFile(), (f.app / "Lib/M850T.ini").string());
    EXPECT_EQ(build.Find("Pgm_4M.bin"), (f.app / "Lib/Pgm_4M.bin").string());
    std::string error;
    EXPECT_TRUE(build.PrepareSettingsForWrite(error));
    EXPECT_FALSE(fs::exists(f.config));  // nothing written outside the build tree

    f.Ship();
    const auto other = LibraryPaths::Resolve(f.app.string(), (f.root / "mine").string(), f.env);
    EXPECT_FALSE(other.PerUser());
    EXPECT_EQ(other.SettingsFile(), (f.root / "mine/M850T.ini").string());
    EXPECT_EQ(other.Find("FlashAddrAssign.h"), (f.root / "mine/FlashAddrAssign.h").string());
}

TEST(LibraryPaths, AnInstalledCopyGivesEachUserTheirOwnSettingsAndLoadersFirst) {
    Folders f;
    f.Ship();
    const auto paths = LibraryPaths::Resolve(f.app.string(), "", f.env);
    ASSERT_TRUE(paths.PerUser());
    const fs::path own = f.config / "kestrel";
    EXPECT_EQ(paths.SettingsFile(), (own / "M850T.ini").string());
    EXPECT_EQ(paths.SettingsFileToRead(), (f.app / "Lib/M850T.ini").string());  // defaults until first write
    EXPECT_EQ(paths.Describe(), "library " + (own / "Lib").string() + " (then " + (f.app / "Lib").string() +
                                    "), settings " + (own / "M850T.ini").string());

    // An operator's own loader is found first; the rest still come from the shipped Lib/,
    // and a missing file is looked for where the shipped ones are.
    Folders::Write(own / "Lib/Pgm_4M.bin", "mine");
    EXPECT_EQ(paths.Find("Pgm_4M.bin"), (own / "Lib/Pgm_4M.bin").string());
    EXPECT_EQ(paths.Find("FlashAddrAssign.h"), (f.app / "Lib/FlashAddrAssign.h").string());
    EXPECT_EQ(paths.Find("Pgm_27M.bin"), (f.app / "Lib/Pgm_27M.bin").string());

    // The first write starts from the shipped defaults; later ones keep the user's file.
    std::string error;
    ASSERT_TRUE(paths.PrepareSettingsForWrite(error)) << error;
    EXPECT_EQ(Folders::Read(own / "M850T.ini"), "[PLANT]\nXTLO=2\n");
    EXPECT_EQ(paths.SettingsFileToRead(), (own / "M850T.ini").string());
    Folders::Write(own / "M850T.ini", "[PLANT]\nXTLO=4\n");
    ASSERT_TRUE(paths.PrepareSettingsForWrite(error)) << error;
    EXPECT_EQ(Folders::Read(own / "M850T.ini"), "[PLANT]\nXTLO=4\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(own), fs::directory_iterator()), 2);  // no temporary left

    // Without XDG_CONFIG_HOME (or with a relative one, which XDG says to ignore): ~/.config.
    for (const std::string xdg : {"", "relative/config"}) {
        const auto home = LibraryPaths::Resolve(f.app.string(), "", {xdg, (f.root / "home").string()});
        EXPECT_EQ(home.SettingsFile(), (f.root / "home/.config/kestrel/M850T.ini").string());
    }

    // A configuration folder that cannot be made is reported, not ignored.
    Folders::Write(f.root / "blocked", "a file where a folder should be");
    const auto blocked = LibraryPaths::Resolve(f.app.string(), "", {(f.root / "blocked").string(), ""});
    EXPECT_FALSE(blocked.PrepareSettingsForWrite(error));
    EXPECT_NE(error.find(f.root / "blocked"), std::string::npos) << error;
}
