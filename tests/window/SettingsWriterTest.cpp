// The settings writer: the results of the platform's profile routines, and a file
// that is either written whole or left as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "console/LogPieces.h"
#include "settings/ProfileWriter.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(SettingsWriter, KeysAreFoundWithoutRegardToCaseAndAddedWhereTheyBelong) {
    const std::string lf = "[com]\n portno = 1 ; com2\nbaudrate=0\n\n[PORTS]\ncom1=/dev/ttyUSB0";
    // In place: the file's own spelling of the key, its own line ends, nothing else touched.
    EXPECT_EQ(SetProfileString(lf, "COM", "PortNo", "2"),
              "[com]\nportno=2\nbaudrate=0\n\n[PORTS]\ncom1=/dev/ttyUSB0");
    // A new key ends its section, before the blank line that parts it from the next.
    EXPECT_EQ(SetProfileString(lf, "COM", "parity", "1"),
              "[com]\n portno = 1 ; com2\nbaudrate=0\nparity=1\n\n[PORTS]\ncom1=/dev/ttyUSB0");
    // A new section follows the last line, even one without a line end.
    EXPECT_EQ(SetProfileString(lf, "PLANT", "XTLO", "4"),
              "[com]\n portno = 1 ; com2\nbaudrate=0\n\n[PORTS]\ncom1=/dev/ttyUSB0\n\n[PLANT]\nXTLO=4\n");
    EXPECT_EQ(SetProfileString("", "COM", "portno", "0"), "[COM]\r\nportno=0\r\n");
    // Comments and lines of another section never count as the key.
    EXPECT_EQ(SetProfileString("[PLANT]\r\n;XTLO=1\r\n[Other]\r\nXTLO=3\r\n", "plant", "xtlo", "2"),
              "[PLANT]\r\n;XTLO=1\r\nxtlo=2\r\n[Other]\r\nXTLO=3\r\n");
    // The first of two sections of one name is the one read, so it is the one written.
    EXPECT_EQ(SetProfileString("[COM]\nportno=1\n[COM]\nportno=5\n", "COM", "portno", "3"),
              "[COM]\nportno=3\n[COM]\nportno=5\n");
}

TEST(SettingsWriter, AFileThatCannotBeWrittenIsLeftAsItWas) {
    const fs::path dir = fs::temp_directory_path() / ("kestrel-profile-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "real");

    // No library folder: nothing is created.
    EXPECT_NE(WriteProfileString((dir / "Lib/M850T.ini").string(), "COM", "portno", "1"), "");
    EXPECT_FALSE(fs::exists(dir / "Lib"));

    // Through a link, the file it leads to is changed and the link stays.
    std::ofstream(dir / "real/M850T.ini") << "[COM]\nportno=0\n";
    fs::create_symlink(dir / "real/M850T.ini", dir / "link.ini");
    EXPECT_EQ(WriteProfileString((dir / "link.ini").string(), "COM", "portno", "5"), "");
    EXPECT_TRUE(fs::is_symlink(dir / "link.ini"));
    EXPECT_EQ(Read(dir / "real/M850T.ini"), "[COM]\nportno=5\n");

    // A folder where the file belongs is said, not thrown over, and stays a folder.
    fs::create_directories(dir / "folder.ini");
    EXPECT_NE(WriteProfileString((dir / "folder.ini").string(), "COM", "portno", "1"), "");
    EXPECT_TRUE(fs::is_directory(dir / "folder.ini"));

    if (geteuid() != 0) {  // root may write anything
        chmod((dir / "real/M850T.ini").c_str(), 0444);
        EXPECT_NE(WriteProfileString((dir / "real/M850T.ini").string(), "COM", "portno", "1"), "");
        EXPECT_EQ(Read(dir / "real/M850T.ini"), "[COM]\nportno=5\n");
    }
    fs::remove_all(dir);
}

TEST(OperatorLog, TextsAreCutIntoPiecesOfFiftyFourCharacters) {
    using Pieces = std::vector<std::string>;
    EXPECT_EQ(LogPieces(""), Pieces{""});
    EXPECT_EQ(LogPieces(std::string(54, 'a')), (Pieces{std::string(54, 'a'), ""}));
    EXPECT_EQ(LogPieces(std::string(55, 'a')), (Pieces{std::string(54, 'a'), "a"}));
    EXPECT_EQ(LogPieces(std::string(108, 'a')).size(), 3u);
    // Characters, not bytes: 60 Chinese characters are 180 bytes and two pieces.
    std::string chinese;
    for (int i = 0; i < 60; ++i)
        chinese += "文";
    const Pieces cut = LogPieces(chinese);
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(cut[0].size(), 54u * 3);
    EXPECT_EQ(cut[1].size(), 6u * 3);
}

}  // namespace
