#include "tests/sim/board_fixture.h"

#include <fstream>
#include <iterator>
#include <stdlib.h>

#include "sim/crystal.h"
#include "tests/support/Waiting.h"

namespace kestrel::sim::test {

namespace {
void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
}  // namespace

BoardFolder::BoardFolder() {
    std::string name = (std::filesystem::temp_directory_path() / "kestrel-sim-XXXXXX").string();
    dir_ = ::mkdtemp(name.data());
    for (const Crystal& c : AllCrystals()) WriteFile(dir_ / ("Pgm_" + std::string(c.name) + ".bin"), loader1_);
    WriteFile(dir_ / "Pgm_M850T.bin", loader2_);
}

BoardFolder::~BoardFolder() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

BoardOptions BoardFolder::Options(const std::string& crystal) const {
    BoardOptions o;
    o.crystal = crystal;
    o.libDir = dir_;
    o.flashFile = Flash();
    o.once = true;
    o.replyGap = Ms{30};
    o.progressGap = Ms{5};
    o.idleTimeout = Ms{10000};
    return o;
}

Bytes BoardFolder::ReadFlash() const {
    std::ifstream in(Flash(), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void EventLog::Add(const std::string& event) {
    const std::lock_guard lock(mutex_);
    events_.push_back(event);
}

int EventLog::WaitFor(const std::string& event, std::size_t from) const {
    int found = -1;
    WaitUntil(
        [&] {
            const std::lock_guard lock(mutex_);
            for (std::size_t i = from; i < events_.size(); ++i) {
                if (events_[i] == event) {
                    found = static_cast<int>(i);
                    return true;
                }
            }
            return false;
        },
        std::chrono::seconds(60));
    return found;
}

std::vector<std::string> EventLog::All() const {
    const std::lock_guard lock(mutex_);
    return events_;
}

std::string EventLog::LastLine() const {
    const std::lock_guard lock(mutex_);
    for (auto it = events_.rbegin(); it != events_.rend(); ++it) {
        if (it->rfind("line ", 0) == 0) return it->substr(5);
    }
    return {};
}

RunningBoard::RunningBoard(BoardOptions options, const ScheduleClock* clock) : board_(std::move(options)) {
    board_.SetEvents([this](const std::string& event) { events_.Add(event); });
    if (clock != nullptr) board_.SetScheduleClock(*clock);
    std::string error;
    started_ = board_.Start(error);
    EXPECT_TRUE(started_) << error;
    if (started_) {
        thread_ = std::thread([this] {
            board_.Run(stop_source_);
            ended_.store(true);
        });
    }
}

bool RunningBoard::WaitForCheck(const std::string& name) const {
    return WaitUntil([&] { return board_.Log().Made(name); }, std::chrono::seconds(60));
}

void RunningBoard::Join() {
    if (thread_.joinable()) thread_.join();
}

void RunningBoard::Stop() {
    stop_.store(true);
    Join();
}

HostPlan PlanFor(const BoardFolder& folder, speed_t boot) {
    HostPlan plan;
    plan.bootSpeed = boot;
    plan.loader1File = folder.Loader1();
    plan.loader2File = folder.Loader2();
    return plan;
}

std::string Progress() {
    std::string s;
    for (char i = 1; i <= 16; ++i) s.push_back(i);
    return s;
}

::testing::AssertionResult CheckHeld(const CheckLog& log, const std::string& name) {
    const CheckResult* c = log.Find(name);
    if (c == nullptr) return ::testing::AssertionFailure() << "no check named '" << name << "'";
    if (!c->held) return ::testing::AssertionFailure() << "'" << name << "' failed: " << c->detail;
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult CheckFailed(const CheckLog& log, const std::string& name, const std::string& detail_part) {
    const CheckResult* c = log.Find(name);
    if (c == nullptr) return ::testing::AssertionFailure() << "no check named '" << name << "'";
    if (c->held) return ::testing::AssertionFailure() << "'" << name << "' held: " << c->detail;
    if (c->detail.find(detail_part) == std::string::npos) {
        return ::testing::AssertionFailure() << "'" << name << "' failed for another reason: " << c->detail;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace kestrel::sim::test
