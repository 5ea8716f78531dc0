// Where a wire trace may go: only somewhere that loses nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "trace/TracePath.h"
#include "trace/WireTrace.h"

namespace {

namespace fs = std::filesystem;

TEST(TracePath, OnlyANewFileAnEmptyFileOrAnEarlierTraceIsTakenAndNothingIsTouched) {
    const fs::path dir = fs::temp_directory_path() / ("kestrel-trace-path-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    auto at = [&](const char* name) { return (dir / name).string(); };
    std::ofstream(at("firmware.s")) << "S00600004844521B\n";
    std::ofstream(at("notes.txt")) << "0.5 NOTE trace began? no\n";
    std::ofstream(at("empty"));
    {
        std::string why;
        auto earlier = WireTrace::Create(at("earlier.trace"), why);
        ASSERT_TRUE(earlier) << why;
        earlier->Note("log: 5.Update finished!!!");
    }
    fs::create_symlink(at("firmware.s"), at("link-to-firmware"));
    ASSERT_EQ(mkfifo(at("fifo").c_str(), 0600), 0);
    fs::create_directories(at("folder"));
    const std::vector<std::string> inputs = {at("firmware.s"), "/dev/null"};

    const struct {
        std::string path;
        const char* refusal;  // nullptr: taken
    } cases[] = {
        {at("new.trace"), nullptr},
        {at("empty"), nullptr},
        {at("earlier.trace"), nullptr},
        {at("firmware.s"), "which this run reads"},
        {at("link-to-firmware"), "which this run reads"},
        {at("notes.txt"), "something other than a wire trace"},
        {at("fifo"), "no regular file"},
        {at("folder"), "a folder"},
        {"/dev/null", "which this run reads"},
        {"/dev/zero", "no regular file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const std::string problem = TracePathProblem(c.path, inputs);
        if (c.refusal)
            EXPECT_NE(problem.find(c.refusal), std::string::npos) << problem;
        else
            EXPECT_EQ(problem, "");
    }
    // Judging a path changes nothing.
    std::ifstream firmware(at("firmware.s"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(firmware), {}), "S00600004844521B\n");
    EXPECT_FALSE(fs::exists(at("new.trace")));
    fs::remove_all(dir);
}

}  // namespace
