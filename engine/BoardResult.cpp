#include "engine/BoardResult.h"

#include <time.h>

#include <algorithm>
#include <cstdio>

#include "digest/Sha256.h"
#include "engine/JsonText.h"

const char* BoardOutcomeName(BoardOutcome outcome) {
    switch (outcome) {
    case BoardOutcome::Passed: return "passed";
    case BoardOutcome::Failed: return "failed";
    case BoardOutcome::FinishedEarly: return "finished-early";
    case BoardOutcome::TimedOut: return "timed-out";
    case BoardOutcome::Cancelled: return "cancelled";
    case BoardOutcome::CheckFailed: return "check-failed";
    }
    return "failed";
}

BoardOutcome OutcomeOf(RunResult result) {
    switch (result) {
    case RunResult::Passed: return BoardOutcome::Passed;
    case RunResult::Failed: return BoardOutcome::Failed;
    case RunResult::FinishedEarly: return BoardOutcome::FinishedEarly;
    case RunResult::TimedOut: return BoardOutcome::TimedOut;
    case RunResult::Cancelled: return BoardOutcome::Cancelled;
    }
    return BoardOutcome::Failed;
}

BoardResult ResultOfRun(const RunVerdict& v) {
    BoardResult r;
    r.outcome = OutcomeOf(v.result);
    r.message = v.message;
    r.kind = v.kind;
    r.started = v.started;
    r.ended = v.ended;
    r.wireSha256 = Sha256::Hex(v.wireSha256);
    r.bytesSent = v.bytesSent;
    r.stages = v.seconds;
    return r;
}

std::string IsoTimeUtc(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count();
    time_t seconds = static_cast<time_t>(ms / 1000);
    long millis = static_cast<long>(ms % 1000);
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    tm utc{};
    gmtime_r(&seconds, &utc);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, millis);
    return text;
}

std::string ResultJsonLine(const BoardResult& r) {
    std::string j = "{";
    const auto field = [&](const char* name, const std::string& value) {
        if (j.size() > 1)
            j += ',';
        j += JsonString(name);
        j += ':';
        j += value;
    };
    field("board", std::to_string(r.board));
    field("kind", JsonString(r.kind == ExchangeProgress::Kind::Erase ? "erase" : "update"));
    field("started", JsonString(IsoTimeUtc(r.started)));
    field("ended", JsonString(IsoTimeUtc(r.ended)));
    field("port", std::to_string(r.port));
    field("device", JsonString(r.device));
    std::string adapter = "{";
    const auto part = [&](const char* name, const std::string& value) {
        if (value.empty())
            return;
        if (adapter.size() > 1)
            adapter += ',';
        adapter += JsonString(name) + ":" + JsonString(value);
    };
    part("vendor", r.adapter.vendor);
    part("model", r.adapter.model);
    part("serial", r.adapter.serial);
    part("usb_id", r.adapter.usbId);
    field("adapter", adapter + "}");
    field("crystal", JsonString(r.crystal));
    std::string files = "[";
    for (const FileDigest& f : r.files) {
        if (files.size() > 1)
            files += ',';
        files += "{" + JsonString("path") + ":" + JsonString(f.path) + "," + JsonString("sha256") + ":" +
                 JsonString(f.sha256) + "}";
    }
    field("files", files + "]");
    field("wire_sha256", JsonString(r.wireSha256));
    field("bytes_sent", std::to_string(r.bytesSent));
    std::string stages = "{";
    for (int s = 0; s < kStageTimes; ++s) {
        if (s > 0)
            stages += ',';
        stages += JsonString(StageTimeName(static_cast<StageTime>(s))) + ":" + JsonSeconds(r.stages[static_cast<size_t>(s)]);
    }
    if (r.checkSeconds)
        stages += "," + JsonString("check") + ":" + JsonSeconds(*r.checkSeconds);
    field("stages", stages + "}");
    field("seconds", JsonSeconds(r.Seconds()));
    field("console", JsonString(r.console.substr(0, std::min(r.console.size(), BoardResult::kConsoleBytes))));
    if (!r.trace.empty())
        field("trace", JsonString(r.trace));
    field("result", JsonString(BoardOutcomeName(r.outcome)));
    field("message", JsonString(r.message));
    return j + "}\n";
}
