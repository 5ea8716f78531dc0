// What a wire trace costs an update: the time to format and write one 2048-byte TX
// line, and the size and recording time of the trace of a whole 0x80000-byte flash
// map update, against the pauses that update must wait anyway.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "trace/WireTrace.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main() {
    const std::string folder = std::filesystem::temp_directory_path() / ("kestrel-bench-trace-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::string why;

    // One block line, many times over.
    std::vector<uint8_t> block(2048);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint8_t>(i * 31 + 7);
    const int lines = 20000;
    {
        auto trace = WireTrace::Create(folder + "/blocks.trace", why);
        if (!trace) {
            std::fprintf(stderr, "%s\n", why.c_str());
            return 1;
        }
        const double cpu = CpuSeconds();
        const auto start = Clock::now();
        for (int i = 0; i < lines; ++i)
            trace->Tx(block.data(), block.size());
        const double wall = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        std::printf("a 2048-byte TX line: %.2f us to format and write (CPU %.2f us), over %d lines\n", wall / lines,
                    (CpuSeconds() - cpu) * 1e6 / lines, lines);
    }

    // The events of a 0x80000-byte flash map update at 27M, as the worker makes them.
    const uint32_t mapSize = 0x80000;
    const uint32_t loader2Size = 6005;  // Lib/Pgm_M850T.bin
    const std::vector<uint8_t> wakeUp(16, 0xFF), header(40, 0x00);
    const uint8_t start = 0x18;
    auto reply = [](WireTrace& t, uint8_t r) { t.Rx(&r, 1); };
    auto trace = WireTrace::Create(folder + "/update.trace", why);
    if (!trace)
        return 1;
    const auto begin = Clock::now();
    int writes = 0;
    trace->Open("/dev/ttyUSB0", "115200,N,8,1");
    trace->Tx(wakeUp.data(), wakeUp.size()), ++writes;
    trace->Close();
    trace->Open("/dev/ttyUSB0", "115200,N,8,1");
    reply(*trace, 'W');
    trace->Note("log: 1.Loading loader 1...");
    trace->Tx(&start, 1), ++writes;
    trace->Tx(block.data(), 2048), ++writes;
    trace->Close();
    trace->Open("/dev/ttyUSB0", "115200,N,8,1");
    reply(*trace, 'Z');
    trace->Note("log: 2.Loading loader 2....");
    trace->Tx(block.data(), 4), ++writes;
    for (uint32_t left = loader2Size - 5; left > 0;) {
        const uint32_t n = left > 2048 ? 2048 : left;
        trace->Tx(block.data(), n), ++writes;
        left -= n;
    }
    trace->Note("log: 3.Loading update data....");
    reply(*trace, 'S');
    trace->Tx(header.data(), header.size()), ++writes;
    reply(*trace, 'A');
    for (uint32_t i = 0; i < mapSize / 2048; ++i)
        trace->Tx(block.data(), 2048), ++writes;
    for (uint8_t p = 1; p <= 16; ++p)
        reply(*trace, p);
    reply(*trace, 'D');
    trace->Note("log: 5.Update finished!!!");
    trace->Close();
    const double recording = std::chrono::duration<double>(Clock::now() - begin).count();
    const auto size = std::filesystem::file_size(folder + "/update.trace");
    // Pauses the update waits anyway: 10 ms wake-up, 300 ms after loader 1 at 27M,
    // 30 ms after each header, 300 ms after each loader-2 and map write.
    const double mandated = (10 + 300 + 30 + 300.0 * ((loader2Size - 5 + 2047) / 2048) + 30 + 300.0 * (mapSize / 2048 + 1)) / 1000;
    std::printf("trace of a 0x%X-byte map update: %ju bytes (%.2f MB) in %d writes, recorded in %.4f s: "
                "%.6f of the %.1f s of pauses the update waits anyway\n",
                mapSize, static_cast<uintmax_t>(size), size / 1e6, writes, recording, recording / mandated, mandated);
    std::filesystem::remove_all(folder);
    return 0;
}
