#include "cli/UpdateWatch.h"

#include <cstring>

#include "engine/LogTexts.h"
#include "engine/Messages.h"

namespace {

constexpr int64_t kLoader1Progress = 1;
constexpr int64_t kFirstDataProgress = 3;
constexpr int64_t kLastDataProgress = 60;
constexpr int64_t kFullProgress = 100;

bool Is(const char* text, const char* constant) { return text && std::strcmp(text, constant) == 0; }

}  // namespace

void UpdateWatch::Begin(Clock::time_point now) {
    stage = Stage::WakeUp;
    lastWord = now;
}

void UpdateWatch::Take(const ThreadMessage& m, Clock::time_point now) {
    lastWord = now;
    if (m.id != WM_WORKER_STATUS)
        return;
    if (m.wParam == STATUS_LOG_TEXT) {
        const char* text = ParamText(m.lParam);
        if (Is(text, kLogLoader1))
            stage = Stage::SendingLoader1;
        else if (Is(text, kLogLoader2))
            stage = Stage::SendingLoader2;
        else if (Is(text, kLogUpdateData))
            stage = Stage::DataRequest;
        else if (Is(text, kLogProgramming))
            stage = Stage::Programming;
        else if (Is(text, kLogFinished))
            stage = Stage::Finish;
        return;
    }
    if (m.wParam != STATUS_PROGRESS)
        return;
    if (m.lParam == kLoader1Progress && stage == Stage::SendingLoader1)
        stage = Stage::Loader2Request;
    else if (m.lParam >= kFirstDataProgress && m.lParam <= kLastDataProgress &&
             (stage == Stage::DataRequest || stage == Stage::MoreData))
        stage = Stage::MoreData;
    else if (m.lParam == kFullProgress && stage == Stage::Programming)
        stage = Stage::Finish;
}

bool UpdateWatch::SilentFor(std::chrono::seconds limit, Clock::time_point now) const {
    if (stage == Stage::SendingLoader1 || stage == Stage::SendingLoader2)
        return false;
    return now - lastWord >= limit;
}

const char* UpdateWatch::Awaited() const {
    switch (stage) {
    case Stage::WakeUp: return "the board's first request ('W') after the wake-up";
    case Stage::SendingLoader1: return "loader 1 to go out";
    case Stage::Loader2Request: return "loader 2's request ('Z') after loader 1";
    case Stage::SendingLoader2: return "loader 2 to go out";
    case Stage::DataRequest: return "the board's request for the update data ('S', then 'A' or 'C', 'F', 'B', 'E')";
    case Stage::MoreData: return "the board's next data request or its programming progress";
    case Stage::Programming: return "the board's next programming progress report";
    case Stage::Finish: return "the board's report that the update is finished ('D')";
    }
    return "the board";
}
