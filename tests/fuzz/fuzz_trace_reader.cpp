// Wire traces of any shape: cut off, damaged, or not a trace at all. The reader must
// come back with a verdict, never read past the input, and keep its own promises.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzSupport.h"
#include "trace/TraceReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const TraceExplanation e = ExplainTrace(text);
    Require(!e.verdict.empty(), "every trace gets a verdict");
    Require(e.damagedLines <= 20, "reading stops after twenty damaged lines");
    if (e.readToTheEnd)
        Require(e.cutOff == (size > 0 && data[size - 1] != '\n'), "a trace read to its end is cut off exactly when its last line has no end");
    else
        Require(e.verdict.find("does not read as a wire trace") != std::string::npos, "a trace given up on says so");
    if (e.lastRunFinished)
        Require(e.updatesFinished >= 1 && !e.lastUpdateStopped && e.traceLines > 0,
                "a trace read as finished holds an update that reached its end");
    Require(e.traceLines + e.damagedLines == e.lines.size(), "every line shown was read as a trace line or as damaged");
    for (size_t i = 1; i < e.lines.size(); ++i)
        Require(e.lines[i].lineNumber > e.lines[i - 1].lineNumber, "explained lines follow the trace's order");
    Require(!FormatExplanation(e).empty(), "the explanation prints");
    return 0;
}
