#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <vector>

#include "serial/LineTermios.h"
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
    RecordingTarget target;  // outlives every line of a test, so no monitor posts into a dead one
    CSerialLine line;
};

// A line that tells the test how far its monitor got, and whose driver counters the
// test sets (ptys keep none).
class ObservedLine : public CSerialLine {
public:
    std::atomic<int> receiveNotices{0};
    std::atomic<bool> monitorReturned{false};
    bool withCounters = false;
    bool configureAfterFirstNotice = false;  // lets the monitor see what the open will purge

    void AddCounts(int breaks, int framingErrors) {
        std::lock_guard lock(countsMutex);
        counts.brk += breaks;
        counts.frame += framingErrors;
    }

    bool ConfigureDevice() override {
        if (configureAfterFirstNotice && !WaitUntil([this] { return receiveNotices > 0; }))
            return false;
        return CSerialLine::ConfigureDevice();
    }

protected:
    void NotifyReceive() override {
        ++receiveNotices;
        CSerialLine::NotifyReceive();
    }
    uint32_t MonitorLoop() override {
        const uint32_t code = CSerialLine::MonitorLoop();
        monitorReturned = true;
        return code;
    }
    bool ReadLineCounts(int, LineCounts& out) const override {
        std::lock_guard lock(countsMutex);
        out = counts;
        return withCounters;
    }

private:
    mutable std::mutex countsMutex;
    LineCounts counts;
};

// A notify target that holds the monitor inside its post until released, as a target
// that never returns would.
class BlockingTarget : public INotifyTarget {
public:
    bool PostThreadMessage(uint32_t, uint32_t, int64_t) override {
        std::unique_lock lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [this] { return released; });
        return true;
    }
    bool Entered() {
        std::lock_guard lock(mutex);
        return entered;
    }
    void Release() {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false, released = false;
};

// A second look at the pty's slave that counts the bytes queued for the line. It is
// opened before the line sets exclusive mode, which refuses later openers unless root.
class QueueCounter {
public:
    explicit QueueCounter(const std::string& slavePath)
        : fd(::open(slavePath.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK)) {}
    ~QueueCounter() { ::close(fd); }
    int Queued() const {
        int waiting = 0;
        return ioctl(fd, FIONREAD, &waiting) == 0 ? waiting : -1;
    }

private:
    int fd;
};

// Runs body in a child process as an ordinary user: as root the child first becomes
// nobody (no capabilities, so no way past a tty's exclusive mode), otherwise it stays
// the current user. body returns what went wrong, or nothing.
constexpr uid_t kNobody = 65534;
std::string RunAsOrdinaryUser(const std::function<std::string()>& body) {
    int report[2];
    if (pipe(report) != 0)
        return "no pipe";
    const pid_t child = fork();
    if (child == 0) {
        ::close(report[0]);
        std::string failure;
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
            failure = "cannot become an ordinary user";
        else
            failure = body();
        [[maybe_unused]] const ssize_t n = ::write(report[1], failure.data(), failure.size());
        _exit(0);
    }
    ::close(report[1]);
    std::string failure;
    char buf[256];
    for (ssize_t n; (n = ::read(report[0], buf, sizeof buf)) > 0;)
        failure.append(buf, static_cast<size_t>(n));
    ::close(report[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        failure += " (the child ended abnormally, status " + std::to_string(status) + ")";
    return failure;
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
    EXPECT_EQ(TermiosSpeed(s->baud), static_cast<speed_t>(B38400));
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
    const QueueCounter queue(pty.SlavePath());
    ASSERT_TRUE(line.OpenPort(1, "115200,N,8,1"));
    uint8_t buf[2000];
    EXPECT_EQ(line.ReadAvailable(buf, 1000, 10), 0u);  // nothing waiting: 0 at once

    std::vector<uint8_t> sent(1500);
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<uint8_t>(i * 7);
    pty.Send(sent);
    ASSERT_TRUE(WaitUntil([&] { return queue.Queued() == 1500; }));
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

TEST_F(SerialLineTest, AnOrdinaryUserReopensTheLineWhileItsFarEndStaysOpen) {
    // The update closes and reopens the line for every speed change while the board
    // keeps its end open; exclusive mode left set by a close would refuse the reopen
    // to anyone but root.
    if (geteuid() == 0) {
        ASSERT_EQ(chown(pty.SlavePath().c_str(), kNobody, kNobody), 0);
    }
    const std::string failure = RunAsOrdinaryUser([this]() -> std::string {
        auto tryOpen = [](CSerialLine& l, const char* step) -> std::string {
            if (l.OpenPort(1, "115200,N,8,1"))
                return "";
            return std::string(step) + ": " + l.LastOpenError();
        };
        // Every way the line closes: a reopen over it, ClosePort, the destructor.
        CSerialLine first;
        Map(first);
        std::string failure = tryOpen(first, "first open");
        if (failure.empty())
            failure = tryOpen(first, "open over the open line");
        first.ClosePort();
        if (failure.empty())
            failure = tryOpen(first, "open after ClosePort");
        first.ClosePort();
        if (failure.empty()) {
            CSerialLine second;
            Map(second);
            failure = tryOpen(second, "open by a second line object");
        }
        if (failure.empty())
            failure = tryOpen(first, "open after that object was destroyed");
        return failure;
    });
    EXPECT_EQ(failure, "");
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
    line.SetNotifyThread(&target);
    const QueueCounter queue(pty.SlavePath());
    ASSERT_TRUE(line.OpenPort(7, "115200,N,8,1"));
    const uint8_t out[] = {'o', 'k'};
    // A write makes the monitor take one more full look at the line and then report
    // the output gone: after that notice it has seen everything that was queued.
    auto monitorPassed = [&] {
        const size_t before = target.Count(WM_SERIAL_TXEMPTY);
        line.WriteBytes(out, 2);
        return WaitUntil([&] { return target.Count(WM_SERIAL_TXEMPTY) > before; });
    };

    pty.Send(std::vector<uint8_t>(200, 'x'));
    ASSERT_TRUE(WaitUntil([&] { return queue.Queued() == 200; }));
    ASSERT_TRUE(monitorPassed());
    // The pty may hand the 200 bytes over in a few pieces, but never byte by byte; and
    // until the bytes are read, nothing new arrives, so the monitor stays quiet.
    const size_t notices = target.Count(WM_SERIAL_RECEIVE);
    EXPECT_GE(notices, 1u);
    EXPECT_LT(notices, 20u);
    ASSERT_TRUE(monitorPassed());
    EXPECT_EQ(target.Count(WM_SERIAL_RECEIVE), notices);

    uint8_t buf[1000];
    while (line.ReadAvailable(buf, sizeof buf, 10) > 0) {
    }
    ASSERT_TRUE(monitorPassed());
    EXPECT_EQ(target.Count(WM_SERIAL_RECEIVE), notices);  // a read that emptied the queue is no news
    pty.Send("y");
    ASSERT_TRUE(WaitUntil([&] { return target.Count(WM_SERIAL_RECEIVE) > notices; }));
    for (const auto& n : target.All()) {
        EXPECT_EQ(n.wParam, 7u);
        if (n.id == WM_SERIAL_RECEIVE) {
            EXPECT_EQ(n.lParam, 0);
        }
    }
}

TEST_F(SerialLineTest, BytesLeftQueuedByAReadGetANoticeOfTheirOwn) {
    // The worker takes at most 1000 bytes a notice; the rest of a longer burst must not
    // wait for the board to send again.
    line.SetNotifyThread(&target);
    const QueueCounter queue(pty.SlavePath());
    ASSERT_TRUE(line.OpenPort(1, "115200,N,8,1"));
    pty.Send(std::vector<uint8_t>(2500, 'b'));
    ASSERT_TRUE(WaitUntil([&] { return queue.Queued() == 2500; }));
    uint8_t buf[1000];
    uint32_t read = 0;
    for (size_t reads = 0; reads < 3; ++reads) {
        ASSERT_TRUE(WaitUntil([&] { return target.Count(WM_SERIAL_RECEIVE) > reads; })) << "after " << read;
        read += line.ReadAvailable(buf, sizeof buf, 10);
    }
    EXPECT_EQ(read, 2500u);
}

TEST_F(SerialLineTest, BytesThrownAwayByTheOpenLeaveTheMonitorWaitingForNewOnes) {
    const QueueCounter queue(pty.SlavePath());  // holds the slave open, so bytes queue before the open
    pty.Send("stale\n");  // a whole line: the pty is still cooked and counts only those
    ASSERT_TRUE(WaitUntil([&] { return queue.Queued() == 6; }));
    ObservedLine observed;
    Map(observed);
    observed.configureAfterFirstNotice = true;
    observed.SetNotifyThread(&target);
    ASSERT_TRUE(observed.OpenPort(1, "115200,N,8,1"));
    EXPECT_EQ(queue.Queued(), 0);
    const size_t before = target.Count(WM_SERIAL_RECEIVE);
    pty.Send("new");
    ASSERT_TRUE(WaitUntil([&] { return target.Count(WM_SERIAL_RECEIVE) > before; }));
    uint8_t buf[16];
    EXPECT_EQ(observed.ReadAvailable(buf, sizeof buf, 10), 3u);
}

TEST_F(SerialLineTest, WithoutANotifyTargetTheMonitorPostsNothingAndStillStops) {
    ObservedLine observed;
    Map(observed);
    ASSERT_TRUE(observed.OpenPort(1, "115200,N,8,1"));
    pty.Send("hello");
    ASSERT_TRUE(WaitUntil([&] { return observed.receiveNotices > 0; }));  // the post found no target
    observed.ClosePort();
    EXPECT_FALSE(observed.IsOpen());
    EXPECT_TRUE(observed.monitorReturned);
}

TEST_F(SerialLineTest, StopGivesUpAfterItsLimitWhenTheMonitorIsHeldAndCollectsItLater) {
    BlockingTarget held;
    line.SetNotifyThread(&held);
    ASSERT_TRUE(line.OpenPort(1, "115200,N,8,1"));
    pty.Send("x");
    ASSERT_TRUE(WaitUntil([&] { return held.Entered(); }));

    auto stop = std::async(std::launch::async, [&] { return line.StopMonitor(100); });
    const bool returned = stop.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!returned)
        held.Release();
    ASSERT_TRUE(returned) << "StopMonitor waited past its limit";
    EXPECT_FALSE(stop.get());
    line.ClosePort();  // safe while the monitor is still held
    EXPECT_FALSE(line.IsOpen());
    EXPECT_FALSE(line.OpenPort(1, "115200,N,8,1"));
    EXPECT_NE(line.LastOpenError().find("monitor has not ended"), std::string::npos) << line.LastOpenError();

    held.Release();
    line.SetNotifyThread(&target);
    ASSERT_TRUE(WaitUntil([&] { return line.OpenPort(1, "115200,N,8,1"); }));
    pty.Send("y");
    EXPECT_TRUE(WaitUntil([&] { return target.Count(WM_SERIAL_RECEIVE) >= 1; }));
}

TEST_F(SerialLineTest, NoticesCarryThePortTheMonitorWatchesWhileTheNumberChanges) {
    line.SetNotifyThread(&target);
    ASSERT_TRUE(line.OpenPort(2, "115200,N,8,1"));
    line.SetPortNumber(9);  // stored for the next open; the open line is still port 2
    pty.Send("a");
    ASSERT_TRUE(WaitUntil([&] { return target.Count(WM_SERIAL_RECEIVE) >= 1; }));
    EXPECT_EQ(target.All().back().wParam, 2u);

    // Reopens under a different number while the far end keeps sending: each monitor
    // reports the number it was opened with, never one stored while it ran.
    std::atomic<bool> sending{true};
    std::thread board([&] {
        while (sending)
            pty.Send("z");
    });
    uint8_t buf[1000];
    for (uint32_t i = 0; i < 200; ++i) {
        ASSERT_TRUE(line.OpenPort(3 + i % 2, "115200,N,8,1"));
        line.ReadAvailable(buf, sizeof buf, 10);
    }
    sending = false;
    board.join();
    line.ClosePort();
    for (const auto& n : target.All())
        EXPECT_TRUE(n.wParam >= 2 && n.wParam <= 4) << n.wParam;
}

TEST_F(SerialLineTest, EveryRiseOfTheBreakCounterIsPostedAsABreakEvenWhenAReadTookItFirst) {
    ObservedLine counted;
    counted.withCounters = true;
    Map(counted);
    counted.SetNotifyThread(&target);
    ASSERT_TRUE(counted.OpenPort(6, "115200,N,8,1"));

    counted.AddCounts(1, 0);
    ASSERT_TRUE(WaitUntil([&] { return target.Count(WM_SERIAL_BREAK) == 1; }));
    counted.AddCounts(1, 0);
    uint8_t buf[16];
    EXPECT_EQ(counted.ReadAvailable(buf, sizeof buf, 10), 0u);  // the read purges around the break
    ASSERT_TRUE(WaitUntil([&] { return target.Count(WM_SERIAL_BREAK) == 2; }));
    EXPECT_EQ(target.Count(WM_SERIAL_ERROR), 0u);  // a break alone is no line error

    counted.AddCounts(0, 1);
    ASSERT_TRUE(WaitUntil([&] { return target.Count(WM_SERIAL_ERROR) == 1; }));
    counted.ClosePort();
    EXPECT_EQ(target.Count(WM_SERIAL_BREAK), 2u);
    for (const auto& n : target.All()) {
        EXPECT_EQ(n.wParam, 6u);
        if (n.id == WM_SERIAL_BREAK) {
            EXPECT_EQ(n.lParam, 0);
        }
        if (n.id == WM_SERIAL_ERROR) {
            EXPECT_EQ(n.lParam, static_cast<int64_t>(CE_FRAME));
        }
    }
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
    ObservedLine observed;
    Map(observed);
    observed.SetNotifyThread(&target);
    ASSERT_TRUE(observed.OpenPort(4, "115200,N,8,1"));
    const uint32_t opens = observed.OpenCount();
    pty.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return target.Count(WM_SERIAL_LINE_LOST) == 1; }));
    // Having reported it, the monitor stops watching the line instead of being woken
    // by the hang-up again and again.
    ASSERT_TRUE(WaitUntil([&] { return observed.monitorReturned.load(); }));
    EXPECT_EQ(target.Count(WM_SERIAL_LINE_LOST), 1u);
    for (const auto& n : target.All()) {
        if (n.id == WM_SERIAL_LINE_LOST) {
            EXPECT_EQ(n.wParam, 4u);
            EXPECT_EQ(n.lParam, static_cast<int64_t>(opens));
        }
    }
    observed.ClosePort();  // the device is released
    EXPECT_FALSE(observed.IsOpen());
}

}  // namespace
