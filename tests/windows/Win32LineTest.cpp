// The Win32 line on COM ports that are ptys: a null-modem cable (two ports, what one
// sends the other receives), a line that hangs up, and a port whose device is absent.
// tools/windows-stage.sh makes them and names them in KESTREL_TEST_CABLE ("2 3"),
// KESTREL_TEST_HANGUP ("4 5") and KESTREL_TEST_ABSENT ("9"); without them these tests
// are skipped, so that they never reach a real port.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <vector>

#include "serial/LineFactory.h"
#include "serial/SerialMessages.h"
#include "serial/Win32SerialLine.h"
#include "tests/support/Waiting.h"
#include "trace/WireTrace.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSettings = "115200,N,8,1";

std::vector<uint32_t> Ports(const char* variable) {
    std::vector<uint32_t> ports;
    if (const char* text = std::getenv(variable)) {
        std::istringstream in(text);
        for (uint32_t n; in >> n;)
            ports.push_back(n);
    }
    return ports;
}

struct Notice {
    uint32_t id;
    uint32_t wParam;
    int64_t lParam;
};

class Notices : public INotifyTarget {
public:
    bool PostThreadMessage(uint32_t id, uint32_t wParam, int64_t lParam) override {
        std::lock_guard lock(mutex);
        all.push_back({id, wParam, lParam});
        return true;
    }
    size_t Count(uint32_t id) {
        std::lock_guard lock(mutex);
        size_t n = 0;
        for (const auto& m : all)
            n += m.id == id;
        return n;
    }
    std::vector<Notice> All() {
        std::lock_guard lock(mutex);
        return all;
    }

private:
    std::mutex mutex;
    std::vector<Notice> all;
};

// One line's end of a test: its notices, and how many of them were taken, so that
// every notice is answered by exactly one read, as the worker does.
struct End {
    CWin32SerialLine line;
    Notices notices;
    size_t handled = 0;

    End() { line.SetNotifyThread(&notices); }
    // Reads on every receive notice, at most `chunk` bytes each, until `count` bytes came.
    std::vector<uint8_t> ReceiveAll(size_t count, uint32_t chunk = 1000) {
        std::vector<uint8_t> got;
        WaitUntil(
            [&] {
                while (handled < notices.Count(WM_SERIAL_RECEIVE)) {
                    ++handled;
                    uint8_t buffer[4096];
                    const uint32_t n = line.ReadAvailable(buffer, chunk, 10);
                    EXPECT_LE(n, chunk);
                    got.insert(got.end(), buffer, buffer + n);
                }
                return got.size() >= count;
            },
            std::chrono::seconds(20));
        return got;
    }
};

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return bytes;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class Cable : public ::testing::Test {
protected:
    void SetUp() override {
        const auto ports = Ports("KESTREL_TEST_CABLE");
        if (ports.size() != 2)
            GTEST_SKIP() << "no null-modem COM ports named (KESTREL_TEST_CABLE)";
        portA = ports[0];
        portB = ports[1];
        ASSERT_TRUE(a.OpenPort(portA, kSettings)) << a.LastOpenError();
        ASSERT_TRUE(b.OpenPort(portB, kSettings)) << b.LastOpenError();
    }

    uint32_t portA = 0, portB = 0;
    End endA, endB;
    CWin32SerialLine& a = endA.line;
    CWin32SerialLine& b = endB.line;
    Notices& notesA = endA.notices;
    Notices& notesB = endB.notices;
};

}  // namespace

TEST(Win32Line, PortNumbersAndDeviceNamesAreTakenAsWindowsNamesThem) {
    CWin32SerialLine line;
    EXPECT_FALSE(line.OpenPort(0, kSettings));
    EXPECT_FALSE(line.OpenPort(1025, kSettings));
    EXPECT_FALSE(line.IsOpen());
    EXPECT_EQ(line.OpenCount(), 0u);  // not even tried
    EXPECT_EQ(DefaultDeviceForPort(3), "\\\\.\\COM3");
    EXPECT_EQ(DefaultDeviceForPort(1024), "\\\\.\\COM1024");
    // COM10 and above are reached only through the device namespace.
    EXPECT_EQ(CWin32SerialLine::SystemDeviceName("COM7"), "\\\\.\\COM7");
    EXPECT_EQ(CWin32SerialLine::SystemDeviceName("com12"), "\\\\.\\COM12");
    EXPECT_EQ(CWin32SerialLine::SystemDeviceName("\\\\.\\COM3"), "\\\\.\\COM3");
    EXPECT_EQ(CWin32SerialLine::SystemDeviceName("COMX"), "COMX");
    EXPECT_EQ(CWin32SerialLine::SystemDeviceName("C:\\lines\\COM4"), "C:\\lines\\COM4");
    EXPECT_FALSE(line.ApplySettings(kSettings));  // closed
    EXPECT_EQ(line.ReadAvailable(nullptr, 10, 10), 0u);
    const uint8_t byte = 0x55;
    EXPECT_EQ(line.WriteBytes(&byte, 1), 0u);
    line.ClosePort();  // harmless when closed
}

TEST_F(Cable, BytesCrossBothWaysWithANoticeForWhatAReadLeavesAndNoStormAfter) {
    // More than one read takes: the rest must get a notice of its own, with nothing
    // more arriving.
    const auto sent = Pattern(1500);
    ASSERT_EQ(a.WriteBytes(sent.data(), static_cast<uint32_t>(sent.size())), sent.size());
    EXPECT_EQ(endB.ReceiveAll(sent.size()), sent);
    for (const auto& n : notesB.All())
        EXPECT_EQ(n.wParam, portB);

    // One byte back is one notice; the line that has been read empty stays quiet
    // while the other carries on.
    const size_t quietB = notesB.Count(WM_SERIAL_RECEIVE);
    const uint8_t pong = 'W';
    ASSERT_EQ(b.WriteBytes(&pong, 1), 1u);
    EXPECT_EQ(endA.ReceiveAll(1), std::vector<uint8_t>{'W'});
    ASSERT_EQ(a.WriteBytes(&pong, 1), 1u);
    EXPECT_EQ(endB.ReceiveAll(1), std::vector<uint8_t>{'W'});
    EXPECT_EQ(notesA.Count(WM_SERIAL_RECEIVE), 1u);
    EXPECT_EQ(notesB.Count(WM_SERIAL_RECEIVE), quietB + 1);
    // What a monitor waits for on a line without modem lines: received bytes at least,
    // never the modem events the device cannot report.
    const uint32_t events = a.MonitoredEvents();
    EXPECT_TRUE(events == 0 || (events & 0x0001)) << std::hex << events;
    EXPECT_EQ(events & CWin32SerialLine::kModemEvents, 0u) << std::hex << events;
}

TEST_F(Cable, WrittenBytesAreTheLinesOwnAndDrainReportsThemGone) {
    std::vector<uint8_t> block = Pattern(2048);
    const auto copy = block;
    ASSERT_EQ(a.WriteBytes(block.data(), 2048), 2048u);
    std::fill(block.begin(), block.end(), 0);  // the caller reuses its buffer at once
    ASSERT_EQ(a.WriteBytes(block.data(), 16), 16u);  // and writes again without a pause
    EXPECT_TRUE(a.DrainOutput(5000));
    auto expected = copy;
    expected.insert(expected.end(), 16, 0);
    EXPECT_EQ(endB.ReceiveAll(expected.size()), expected);
    EXPECT_TRUE(WaitUntil([&] { return notesA.Count(WM_SERIAL_TXEMPTY) > 0; }));
}

TEST_F(Cable, SettingsTextsAreTheFourFieldsOnlyAndAReopenStartsClean) {
    EXPECT_FALSE(a.OpenPort(portA, "115200,X,8,1"));
    EXPECT_TRUE(a.IsOpen());  // opened, but its settings could not be set
    EXPECT_FALSE(a.OpenPort(portA, "115200,M,8,1"));  // mark parity: not one of the line's
    EXPECT_FALSE(a.OpenPort(portA, "baud=9600 parity=N data=8 stop=1"));
    EXPECT_FALSE(a.OpenPort(portA, "115200,N,9,1"));
    EXPECT_TRUE(a.OpenPort(portA, "9600,E,7,2")) << a.LastOpenError();
    const uint32_t opens = a.OpenCount();
    for (int i = 0; i < 20; ++i) {
        a.ClosePort();
        a.ClosePort();
        ASSERT_TRUE(a.OpenPort(portA, kSettings)) << "reopen " << i << ": " << a.LastOpenError();
    }
    EXPECT_EQ(a.OpenCount(), opens + 20);
    EXPECT_EQ(a.DeviceName(), "\\\\.\\COM" + std::to_string(portA));
    const auto sent = Pattern(300);
    ASSERT_EQ(b.WriteBytes(sent.data(), 300), 300u);
    EXPECT_EQ(endA.ReceiveAll(300), sent);
    for (const auto& n : notesA.All())
        EXPECT_EQ(n.wParam, portA);
}

TEST_F(Cable, TheWireTraceHasEveryOpenWriteReadAndClose) {
    const fs::path file = fs::temp_directory_path() / ("kestrel-win32-trace-" + std::to_string(portA) + ".trace");
    std::string why;
    auto trace = WireTrace::Create(file.string(), why);
    ASSERT_TRUE(trace) << why;
    a.ClosePort();
    a.SetTrace(trace);
    ASSERT_TRUE(a.OpenPort(portA, kSettings));
    const uint8_t ping[] = {'p', 'i', 'n', 'g'};
    ASSERT_EQ(a.WriteBytes(ping, 4), 4u);
    ASSERT_EQ(endB.ReceiveAll(4).size(), 4u);
    const uint8_t pong[] = {'o', 'k', '\n'};
    ASSERT_EQ(b.WriteBytes(pong, 3), 3u);
    ASSERT_EQ(endA.ReceiveAll(3).size(), 3u);
    a.ClosePort();
    a.SetTrace(nullptr);
    trace.reset();
    const std::string text = ReadFile(file);
    fs::remove(file);
    EXPECT_NE(text.find(" OPEN \\\\.\\COM" + std::to_string(portA) + " 115200,N,8,1\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" TX 70696e67\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" RX 6f6b0a\n"), std::string::npos) << text;  // one line, no CR added
    EXPECT_NE(text.find(" CLOSE\n"), std::string::npos) << text;
    EXPECT_EQ(text.find('\r'), std::string::npos);
}

TEST(Win32LineOpenErrors, AnAbsentDeviceAndOneThatIsNoSerialLineAreToldApart) {
    const auto absent = Ports("KESTREL_TEST_ABSENT");
    if (absent.empty())
        GTEST_SKIP() << "no absent COM port named (KESTREL_TEST_ABSENT)";
    CWin32SerialLine line;
    EXPECT_FALSE(line.OpenPort(absent[0], kSettings));
    EXPECT_FALSE(line.IsOpen());
    EXPECT_NE(line.LastOpenError().find("no such device"), std::string::npos) << line.LastOpenError();

    const fs::path file = fs::temp_directory_path() / "kestrel-not-a-line.txt";
    std::ofstream(file) << "text";
    line.SetDeviceResolver([&](uint32_t) { return file.string(); });
    EXPECT_FALSE(line.OpenPort(1, kSettings));
    EXPECT_FALSE(line.IsOpen());
    EXPECT_EQ(line.LastOpenError(), "not a serial device");
    EXPECT_EQ(line.DeviceName(), file.string());
    fs::remove(file);
}

TEST(Win32LineHangup, ALineThatHangsUpIsReportedOnceWithItsOpenCount) {
    const auto ports = Ports("KESTREL_TEST_HANGUP");
    if (ports.size() != 2)
        GTEST_SKIP() << "no hang-up COM ports named (KESTREL_TEST_HANGUP)";
    Notices notices;
    CWin32SerialLine line, trigger;
    line.SetNotifyThread(&notices);
    ASSERT_TRUE(line.OpenPort(ports[0], kSettings)) << line.LastOpenError();
    ASSERT_TRUE(trigger.OpenPort(ports[1], kSettings)) << trigger.LastOpenError();
    const uint8_t go = '!';
    ASSERT_EQ(trigger.WriteBytes(&go, 1), 1u);  // the far end of the first port goes away
    ASSERT_TRUE(WaitUntil([&] { return notices.Count(WM_SERIAL_LINE_LOST) > 0; }, std::chrono::seconds(20)));
    for (const auto& n : notices.All()) {
        if (n.id == WM_SERIAL_LINE_LOST) {
            EXPECT_EQ(n.wParam, ports[0]);
            EXPECT_EQ(n.lParam, line.OpenCount());
        }
    }
    line.ClosePort();
    EXPECT_EQ(notices.Count(WM_SERIAL_LINE_LOST), 1u);
}
