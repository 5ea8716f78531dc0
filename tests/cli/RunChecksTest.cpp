// What a board command makes sure of before it opens a line: the words for settings it
// cannot use, the operator's own terminal refused as a line, paths it may not write,
// and the board's console text made harmless for a terminal.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "cli/RunChecks.h"
#include "cli/VisibleText.h"

namespace fs = std::filesystem;

namespace {

OperatorSettings SettingsOf(const std::string& text) {
    const fs::path folder = fs::temp_directory_path() / ("kestrel-checks-" + std::to_string(getpid()));
    fs::create_directories(folder);
    std::ofstream(folder / OperatorSettings::kFileName, std::ios::trunc) << text;
    OperatorSettings s = OperatorSettings::Load(folder.string());
    fs::remove_all(folder);
    return s;
}

TEST(RunChecks, SettingsBeyondTheirListsAreNamedAndValuesReadAsZeroAreSaidOnlyWhereTheRunTakesThem) {
    const SettingsUse all;
    const SettingsUse lineGiven{false, true, true};
    const SettingsUse nothingFromFile{false, false, false};
    const struct {
        const char* file;
        SettingsUse use;
        std::vector<std::string> warnings;  // after "the settings file PATH holds "
        std::string error;                  // the same, "" for none
    } cases[] = {
        {"[COM]\nportno=2\nbaudrate=4\n[PLANT]\nXTLO=4\n", all, {}, ""},
        {"[PLANT]\nXTLO=9\n", all, {}, "[PLANT] XTLO=9, which is not in its list (0 = 4M, 1 = 8M, 2 = 13.5M, 3 = 16M, 4 = 27M)"},
        {"[COM]\nbaudrate=99\n", all, {},
         "[COM] baudrate=99, which is not in its list (0 = 115200, 1 = 19200, 2 = 57600, 3 = 38400, 4 = 9600)"},
        {"[COM]\ndatabits=1\nparity=3\n", all, {}, "[COM] parity=3, which is not in its list (0 = None, 1 = Even, 2 = Odd)"},
        {"[COM]\nbaudrate=fast\nparity=-1\nstopbits=\n", all,
         {"[COM] baudrate=fast, which is not a number; it is read as 0 (115200)",
          "[COM] parity=-1, which is negative; it is read as 0 (None)",
          "[COM] stopbits=, which is empty; it is read as 0 (1)"},
         ""},
        // What the command line gives instead is not the file's business.
        {"[COM]\nbaudrate=99\nportno=x\n[PLANT]\nXTLO=7\n", nothingFromFile, {}, ""},
        {"[COM]\nbaudrate=99\nportno=9\n", lineGiven, {}, "[COM] portno=9, which is not in its list (0 = com1, 1 = com2, 2 = com3, 3 = com4, 4 = com5, 5 = com6)"},
        // A leading number counts, as the platform's reader has it.
        {"[COM]\nbaudrate=4 (9600)\n", all, {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const OperatorSettings settings = SettingsOf(c.file);
        const SettingsWords words = CheckSettingsChoices(settings, c.use);
        const std::string holds = "the settings file " + settings.path + " holds ";
        ASSERT_EQ(words.warnings.size(), c.warnings.size());
        for (size_t i = 0; i < c.warnings.size(); ++i)
            EXPECT_EQ(words.warnings[i], "Warning: " + holds + c.warnings[i]);
        if (c.error.empty()) {
            EXPECT_EQ(words.error, "");
        } else {
            EXPECT_EQ(words.error.rfind("Error: " + holds + c.error + "\n", 0), 0u) << words.error;
            EXPECT_NE(words.error.find("the line was not opened"), std::string::npos);
        }
    }
    EXPECT_EQ(CrystalChoiceProblem(SettingsOf("[PLANT]\nXTLO=3\n")), "");
    EXPECT_NE(CrystalChoiceProblem(SettingsOf("[PLANT]\nXTLO=9\n")).find("[PLANT] XTLO=9, which is not in its list"),
              std::string::npos);
}

TEST(RunChecks, TheOperatorsOwnTerminalIsNoLine) {
    EXPECT_NE(OwnTerminalProblem("/dev/tty"), "");
    EXPECT_EQ(OwnTerminalProblem("/dev/kestrel-absent"), "");
    EXPECT_EQ(OwnTerminalProblem("/dev/null"), "");

    // A pty on standard input is the operator's terminal; another pty is a line.
    int master = -1, slave = -1, otherMaster = -1, otherSlave = -1;
    char name[256] = {}, otherName[256] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    ASSERT_EQ(openpty(&otherMaster, &otherSlave, otherName, nullptr, nullptr), 0);
    const int savedInput = dup(STDIN_FILENO);
    dup2(slave, STDIN_FILENO);
    const std::string own = OwnTerminalProblem(name);
    const std::string other = OwnTerminalProblem(otherName);
    dup2(savedInput, STDIN_FILENO);
    for (const int fd : {savedInput, master, slave, otherMaster, otherSlave})
        close(fd);
    EXPECT_EQ(own, std::string(name) + " is the terminal Kestrel runs in, not a line to a board");
    EXPECT_EQ(other, "");
}

TEST(RunChecks, ALogIsNeverWrittenOverWhatTheRunReadsNorOverADeviceOrFolder) {
    const fs::path work = fs::temp_directory_path() / ("kestrel-logpath-" + std::to_string(getpid()));
    fs::create_directories(work / "folder.log");
    std::ofstream(work / "code.s") << "S0\n";
    std::ofstream(work / "old.log") << "an earlier log\n";
    fs::create_symlink(work / "code.s", work / "link.log");
    const std::vector<std::string> inputs = {(work / "code.s").string()};
    EXPECT_EQ(LogPathProblem((work / "new.log").string(), inputs), "");
    EXPECT_EQ(LogPathProblem((work / "old.log").string(), inputs), "");
    EXPECT_NE(LogPathProblem((work / "link.log").string(), inputs).find("which this run reads"), std::string::npos);
    EXPECT_EQ(LogPathProblem((work / "folder.log").string(), inputs), "it is a folder");
    EXPECT_NE(LogPathProblem("/dev/null", inputs), "");
    fs::remove_all(work);
}

TEST(VisibleText, ControlBytesButTabCrAndLfAreShownAsText) {
    const struct {
        std::string board, shown;
    } cases[] = {
        {"Boot code ready\tv1.2\r", "Boot code ready\tv1.2\r"},
        {"\x1b]0;pwned\x07\x1b[2J\x1b[H", "\\x1b]0;pwned\\x07\\x1b[2J\\x1b[H"},
        {std::string("a\0b", 3) + "\x7f\x08", "a\\x00b\\x7f\\x08"},
        {"\xc2\x9b" "31m red", "\\xc2\\x9b31m red"},         // CSI in its UTF-8 form
        {"Gr\xc3\xbc\xc3\x9f" "e \xe4\xbd\xa0\xe5\xa5\xbd \xc2\xa9", "Gr\xc3\xbc\xc3\x9f" "e \xe4\xbd\xa0\xe5\xa5\xbd \xc2\xa9"},  // text stays
        {"\xff\xfe" "C:\\boot", "\xff\xfe" "C:\\boot"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VisibleControls(c.board), c.shown) << c.board;
}

}  // namespace
