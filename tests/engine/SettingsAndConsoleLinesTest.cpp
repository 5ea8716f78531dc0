// The settings file as the front ends read it, and the console list's line rules.
#include <gtest/gtest.h>

#include "engine/ConsoleLines.h"
#include "settings/ProfileFile.h"
#include "tests/engine/EngineFakes.h"

namespace {

TEST(SettingsFile, NamesIgnoreCaseAndBlanksAndBadValuesReadAsZero) {
    const auto p = ProfileFile::Parse(
        "[com]\r\n PortNo = 2 \r\nbaudrate=4x\r\nparity=-1\r\ndatabits=\r\n"
        "[PLANT]\nXTLO=3\n[plant]\nXTLO=1\n[PORTS]\ncom1 = /dev/ttyUSB3\n");
    EXPECT_EQ(p.GetInt("COM", "portno"), 2);
    EXPECT_EQ(p.GetInt("COM", "baudrate"), 4);  // the leading number counts
    EXPECT_EQ(p.GetInt("COM", "parity"), 0);    // negative
    EXPECT_EQ(p.GetInt("COM", "databits"), 0);  // empty
    EXPECT_EQ(p.GetInt("COM", "stopbits"), 0);  // missing
    EXPECT_EQ(p.GetInt("PLANT", "xtlo"), 3);    // the first occurrence counts
    EXPECT_EQ(p.GetString("Ports", "COM1").value_or(""), "/dev/ttyUSB3");
    EXPECT_FALSE(p.GetString("PORTS", "com2").has_value());
}

TEST(SettingsFile, LineSettingsComeFromListIndexesWithEmptyFieldsBeyondTheLists) {
    TempLibrary lib;
    EXPECT_EQ(OperatorSettings::Load(lib.Path("Lib")).lineSettings, "115200,N,8,1");  // no file: defaults
    EXPECT_EQ(OperatorSettings::Load(lib.Path("Lib")).portNumber, 1u);

    lib.WriteText("Lib/M850T.ini", "[COM]\nportno=2\nbaudrate=4\nparity=2\n[PLANT]\nXTLO=4\n");
    auto s = OperatorSettings::Load(lib.Path("Lib"));
    EXPECT_EQ(s.lineSettings, "9600,O,8,1");
    EXPECT_EQ(s.portNumber, 3u);
    EXPECT_EQ(s.crystalIndex, 4);
    EXPECT_EQ(s.DeviceForPort(3), "/dev/ttyS2");  // no [PORTS] entry: the Linux convention

    lib.WriteText("Lib/M850T.ini", "[COM]\nbaudrate=7\ndatabits=1\nportno=6\n[PLANT]\nXTLO=5\n[PORTS]\ncom1=/dev/ttyUSB0\n");
    s = OperatorSettings::Load(lib.Path("Lib"));
    EXPECT_EQ(s.lineSettings, ",N,,1");  // the open then fails and is reported
    EXPECT_EQ(s.portNumber, 0u);
    EXPECT_EQ(s.crystalIndex, -1);
    EXPECT_EQ(s.DeviceForPort(1), "/dev/ttyUSB0");
}

TEST(SettingsFile, ASettingsFileThatCannotBeReadIsNamedNotTakenForDefaults) {
    namespace fs = std::filesystem;
    TempLibrary lib;
    const std::string ini = lib.Path("Lib/M850T.ini");
    EXPECT_EQ(OperatorSettings::Load(lib.Path("Lib")).problem, "");  // absent: the defaults, no complaint
    const struct {
        std::function<void()> make;
        const char* told;
    } cases[] = {
        {[&] { fs::create_directory(ini); }, "is a folder, not a file"},
        {[&] { fs::create_symlink("/dev/zero", ini); }, "is not a regular file"},
        {[&] { lib.WriteText("Lib/M850T.ini", "[COM]\nportno=2\n" + std::string(0x10000, ';')); }, "is 65551 bytes long"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.told);
        fs::remove_all(ini);
        c.make();
        const auto s = OperatorSettings::Load(lib.Path("Lib"));
        EXPECT_EQ(s.problem.rfind(ini + ": " + c.told, 0), 0u) << s.problem;
        EXPECT_EQ(s.portNumber, 1u);
    }
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TEST(ConsoleList, LinesEndAtLineFeedsOrAfterEightyOddBytes) {
    ConsoleLines c;
    auto b = Bytes("AB\nDE");
    c.Take(b.data(), b.size());
    EXPECT_EQ(c.Lines(), (std::vector<std::string>{"AB", "DE"}));
    b = Bytes("F\n");
    c.Take(b.data(), b.size());
    EXPECT_EQ(c.Lines(), (std::vector<std::string>{"AB", "DEF", ""}));
    EXPECT_EQ(c.SavedText(), "AB\r\nDEF\r\n\r\n");

    ConsoleLines fresh;
    const std::string hundred(100, 'x');
    b = Bytes(hundred);
    fresh.Take(b.data(), b.size());
    ASSERT_EQ(fresh.Lines().size(), 2u);
    EXPECT_EQ(fresh.Lines()[0].size(), 81u);
    EXPECT_EQ(fresh.Lines()[1].size(), 19u);

    fresh.Clear();  // the unfinished line comes back with the next bytes
    b = Bytes("yz");
    fresh.Take(b.data(), b.size());
    EXPECT_EQ(fresh.Lines(), std::vector<std::string>{std::string(19, 'x') + "yz"});
}

}  // namespace
