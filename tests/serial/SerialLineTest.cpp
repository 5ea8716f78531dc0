#include <gtest/gtest.h>
#include <sys/resource.h>

#include <mutex>
#include <vector>

#include "serial/LineSettings.h"
#include "serial/SerialLine.h"
#include "tests/support/Pty.h"
#include "tests/support/Waiting.h"

namespace {

struct Notification {
    uint32_t id;
    uint32_t wParam;
    int64_t lParam;
};

class RecordingTarget : public INotifyTarget {
public:
    bool PostThreadMessage(uint32_t id, uint32_t wParam, int64_t lParam) override {
        std::lock_guard lock(mutex);
        received.push_back({id, wParam, lParam});
        return true;
    }
    size_t Count(uint32_t id) {
        std::lock_guard lock(mutex);
        size_t n = 0;
        for (const auto& r : received)
            n += r.id == id;
        return n;
    }
    std::vector<Notification> All() {
        std::lock_guard lock(mutex);
        return received;
    }

private:
    std::mutex mutex;
    std::vector<Notification> received;
};

class SerialLineTest : public ::testing::Test {
protected:
    void SetUp() override { Map(line); }
    void Map(CSerialLine& l) {
        l.SetDeviceResolver([this](uint32_t) { return pty.SlavePath(); });
    }

    TestPty pty;
    CSerialLine line;
};

double ProcessCpuSeconds() {
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return use.ru_utime.tv_sec + use.ru_stime.tv_sec + (use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

TEST_F(SerialLineTest, OpenAppliesSettingsThatTheFarEndSeesAndReopenReplacesThem) {
    // A pty keeps the speed, stop bits and odd/even choice it is given, but always
    // reports 8 data bits and no parity enable; those are checked on the termios block.
    ASSERT_TRUE(line.OpenPort(3, "57600,E,7,2"));
    EXPECT_TRUE(line.IsOpen());
    termios tio = pty.Settings();
    EXPECT_EQ(cfgetospeed(&tio), B57600);
    EXPECT_FALSE(tio.c_cflag & PARODD);
    EXPECT_TRUE(tio.c_cflag & CSTOPB);

    ASSERT_TRUE(line.OpenPort(3, "9600,O,8,1"));  // an open line is closed and opened again
    tio = pty.Settings();
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    EXPECT_TRUE(tio.c_cflag & PARODD);
    EXPECT_FALSE(tio.c_cflag & CSTOPB);

    line.ClosePort();
    EXPECT_FALSE(line.IsOpen());
    line.ClosePort();  // closing twice is harmless
    EXPECT_FALSE(line.StopMonitor(100));
    ASSERT_TRUE(line.OpenPort(3, "115200,N,8,1"));
    EXPECT_EQ(cfgetospeed(&(tio = pty.Settings())), B115200);
}

TEST_F(SerialLineTest, LineIsRawWhateverTheDeviceHeldBefore) {
    {
        // Leave the device cooked, as a login shell would.
        const int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
        termios cooked{};
        tcgetattr(fd, &cooked);
        cooked.c_lflag |= ECHO | ICANON | ISIG;
        cooked.c_iflag |= ICRNL | IXON;
        cooked.c_oflag |= OPOST | ONLCR;
        cooked.c_cflag |= CRTSCTS;
        tcsetattr(fd, TCSANOW, &cooked);
        ::close(fd);
    }
    ASSERT_TRUE(line.OpenPort(1, "115200,N,8,1"));
    const termios tio = pty.Settings();
    EXPECT_FALSE(tio.c_lflag & (ECHO | ICANON | ISIG));
    EXPECT_FALSE(tio.c_iflag & (ICRNL | IXON | IXOFF));
    EXPECT_FALSE(tio.c_oflag & OPOST);
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);

    // Bytes pass untouched both ways.
    pty.Send(std::string("a\r\n\x03\x11", 5));
    uint8_t buf[16] = {};
    uint32_t n = 0;
    ASSERT_TRUE(WaitUntil([&] { return (n += line.ReadAvailable(buf + n, 16 - n, 10)) >= 5; }));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), n), std::string("a\r\n\x03\x11", 5));
    const uint8_t out[] = {'x', '\n', 0x13};
    EXPECT_EQ(line.WriteBytes(out, 3), 3u);
    EXPECT_EQ(pty.Receive(3), std::vector<uint8_t>({'x', '\n', 0x13}));
}

TEST_F(SerialLineTest, PortNumbersOutsideTheRangeAreRefusedWithoutTouchingAnOpenLine) {
    ASSERT_TRUE(line.OpenPort(5, "115200,N,8,1"));
    EXPECT_FALSE(line.OpenPort(0, "115200,N,8,1"));
    EXPECT_FALSE(line.OpenPort(1025, "115200,N,8,1"));
    EXPECT_TRUE(line.IsOpen());
    EXPECT_EQ(line.PortNumber(), 5u);

    CSerialLine unmapped;  // the default mapping: COM n is /dev/ttyS<n-1>
    unmapped.SetPortNumber(1024);
    EXPECT_EQ(unmapped.DeviceName(), "/dev/ttyS1023");
}

TEST_F(SerialLineTest, SettingsTheLineCannotTakeFailTheOpenButLeaveTheDeviceOpen) {
    EXPECT_FALSE(line.OpenPort(1, "115200,X,8,1"));
    EXPECT_TRUE(line.IsOpen());
    EXPECT_FALSE(line.ApplySettings("abc"));
    EXPECT_TRUE(line.OpenPort(1, "19200,e,8,1"));  // the next open releases and succeeds
    line.ClosePort();
    EXPECT_FALSE(line.ApplySettings("115200,N,8,1"));  // closed: nothing to apply to
}

TEST(LineSettingsText, ParserTakesFourPlainFieldsOnly) {
    for (const char* bad : {"", "115200,N,8", "115200,N,8,1,", " 115200,N,8,1", "115200, N,8,1", "12345,N,8,1",
                            "115200,N,9,1", "115200,N,8,3", ",N,8,1", "115200,,8,1", "115200,N,,1", "115200,NN,8,1",
                            "-9600,N,8,1", "115200,M,8,1"}) {
        EXPECT_FALSE(ParseLineSettings(bad).has_value()) << bad;
    }
    const auto s = ParseLineSettings("38400,O,7,2");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->baud, 38400u);
    EXPECT_EQ(s->speed, static_cast<speed_t>(B38400));
    EXPECT_EQ(s->parity, 'O');
    EXPECT_EQ(s->dataBits, 7);
    EXPECT_EQ(s->stopBits, 2);

    termios tio{};
    tio.c_cflag = CRTSCTS | CS5;
    tio.c_iflag = IXON | IXOFF;
    ApplyLineSettings(*s, tio);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B38400));
    EXPECT_EQ(tio.c_cflag & (PARENB | PARODD | CSTOPB | CSIZE), static_cast<tcflag_t>(PARENB | PARODD | CSTOPB | CS7));
    EXPECT_EQ(tio.c_cflag & (CRTSCTS | CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF));
}

TEST_F(SerialLineTest, ReadTakesNeverMoreThanIsWaitingNorMoreThanAsked) {
    ASSERT_TRUE(line.OpenPort(1, "115200,N,8,1"));
    uint8_t buf[2000];
    EXPECT_EQ(line.ReadAvailable(buf, 1000, 10), 0u);  // nothing waiting: 0 at once

    std::vector<uint8_t> sent(1500);
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<uint8_t>(i * 7);
    pty.Send(sent);
    // A second look at the slave (no lock needed to count) tells when all 1500 are queued.
    const int peek = ::open(pty.SlavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_TRUE(WaitUntil([&] {
        int waiting = 0;
        return ioctl(peek, FIONREAD, &waiting) == 0 && waiting == 1500;
    }));
    ::close(peek);
    uint32_t first = 0;
    first = line.ReadAvailable(buf, 1000, 10);
    EXPECT_EQ(first, 1000u);
    const uint32_t second = line.ReadAvailable(buf + first, 1000, 10);
    EXPECT_EQ(second, 500u);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 1500), sent);
    EXPECT_EQ(line.ReadAvailable(buf, 1000, 10), 0u);

    line.ClosePort();
    EXPECT_EQ(line.ReadAvailable(buf, 1000, 10), 0u);  // closed: 0, no effect
    EXPECT_EQ(line.WriteBytes(buf, 10), 0u);
}

TEST_F(SerialLineTest, ASecondOpenerOfTheSameDeviceIsRefusedUntilTheFirstLetsGo) {
    ASSERT_TRUE(line.OpenPort(1, "115200,N,8,1"));
    CSerialLine other;
    Map(other);
    EXPECT_FALSE(other.OpenPort(1, "115200,N,8,1"));
    EXPECT_FALSE(other.IsOpen());
    EXPECT_NE(other.LastOpenError().find("held by another program"), std::string::npos);

    line.ClosePort();
    EXPECT_TRUE(other.OpenPort(1, "115200,N,8,1"));
    EXPECT_TRUE(other.LastOpenError().empty());
}

TEST_F(SerialLineTest, AMissingDeviceIsReportedInPlainWords) {
    line.SetDeviceResolver([](uint32_t) { return std::string("/dev/kestrel-no-such-port"); });
    EXPECT_FALSE(line.OpenPort(2, "115200,N,8,1"));
    EXPECT_FALSE(line.IsOpen());
    EXPECT_EQ(line.DeviceName(), "/dev/kestrel-no-such-port");
    EXPECT_NE(line.LastOpenError().find("no such device"), std::string::npos);
}

TEST_F(SerialLineTest, ArrivingBytesAreNotifiedWithThePortNumberOncePerArrivalNotPerByte) {
    RecordingTarget target;
    line.SetNotifyThread(&target);
    ASSERT_TRUE(line.OpenPort(7, "115200,N,8,1"));

    pty.Send(std::vector<uint8_t>(200, 'x'));
    const int peek = ::open(pty.SlavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_TRUE(WaitUntil([&] {
        int waiting = 0;
        return ioctl(peek, FIONREAD, &waiting) == 0 && waiting == 200;
    }));
    ::close(peek);
    ASSERT_TRUE(WaitUntil([&] { return target.Count(WM_SERIAL_RECEIVE) >= 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // Until the bytes are read nothing new arrives, so the monitor stays quiet; the
    // pty may hand the 200 bytes over in a few pieces, but never byte by byte.
    const size_t before = target.Count(WM_SERIAL_RECEIVE);
    EXPECT_LT(before, 20u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(target.Count(WM_SERIAL_RECEIVE), before);

    uint8_t buf[1000];
    while (line.ReadAvailable(buf, sizeof buf, 10) > 0) {
    }
    pty.Send("y");
    ASSERT_TRUE(WaitUntil([&] { return target.Count(WM_SERIAL_RECEIVE) > before; }));
    const uint8_t out[] = {'o', 'k'};
    line.WriteBytes(out, 2);  // the line reports when its output has gone
    ASSERT_TRUE(WaitUntil([&] { return target.Count(WM_SERIAL_TXEMPTY) >= 1; }));
    for (const auto& n : target.All()) {
        EXPECT_EQ(n.wParam, 7u);
        if (n.id == WM_SERIAL_RECEIVE) {
            EXPECT_EQ(n.lParam, 0);
        }
    }
}

TEST_F(SerialLineTest, WithoutANotifyTargetTheMonitorPostsNothingAndStillStops) {
    ASSERT_TRUE(line.OpenPort(1, "115200,N,8,1"));
    pty.Send("hello");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    line.ClosePort();
    EXPECT_FALSE(line.IsOpen());
}

TEST_F(SerialLineTest, BytesWrittenBeforeACloseStillReachTheFarEnd) {
    ASSERT_TRUE(line.OpenPort(1, "115200,N,8,1"));
    const std::vector<uint8_t> wake(16, 0xFF);
    EXPECT_EQ(line.WriteBytes(wake.data(), 16), 16u);
    EXPECT_TRUE(line.DrainOutput(1000));
    line.ClosePort();
    ASSERT_TRUE(line.OpenPort(1, "9600,N,8,1"));  // the speed change the update makes
    EXPECT_EQ(pty.Receive(16), wake);
}

TEST_F(SerialLineTest, AHungUpLineIsReportedOnceAndTheMonitorDoesNotSpin) {
    RecordingTarget target;
    line.SetNotifyThread(&target);
    ASSERT_TRUE(line.OpenPort(4, "115200,N,8,1"));
    const uint32_t opens = line.OpenCount();
    pty.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return target.Count(WM_SERIAL_LINE_LOST) == 1; }));

    const double before = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double used = ProcessCpuSeconds() - before;
    EXPECT_LT(used, 0.2) << "the monitor keeps running on a hung-up line";
    EXPECT_EQ(target.Count(WM_SERIAL_LINE_LOST), 1u);
    for (const auto& n : target.All()) {
        if (n.id == WM_SERIAL_LINE_LOST) {
            EXPECT_EQ(n.wParam, 4u);
            EXPECT_EQ(n.lParam, static_cast<int64_t>(opens));
        }
    }
    line.ClosePort();  // the device is released
    EXPECT_FALSE(line.IsOpen());
}

}  // namespace
