#include "cli/BoardRun.h"

#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <memory>
#include <ostream>
#include <sstream>
#include <thread>

#include "engine/BoardNames.h"
#include "cli/RunOutput.h"
#include "cli/Interrupts.h"
#include "cli/MultiBoardDisplay.h"
#include "cli/RunChecks.h"
#include "cli/RunResults.h"
#include "platform/WriteOnlyFile.h"
#include "trace/TracePath.h"
#include "trace/WireTrace.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string TimeStamp() {
    const auto now = std::chrono::system_clock::now();
    const time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::ostringstream s;
    s << text << "." << std::setw(3) << std::setfill('0') << millis;
    return s.str();
}

// One board's log, written as its lines happen, one write per line: what a crash, a
// second Ctrl-C or a hang-up leaves is what went before, and a full disk shows at once.
// Only the board's own thread writes it.
class BoardLog {
public:
    static std::unique_ptr<BoardLog> Create(const std::string& path, std::string& why) {
        const int fd = OpenWriteOnlyFile(path);
        if (fd < 0) {
            why = std::strerror(errno);
            return nullptr;
        }
        return std::unique_ptr<BoardLog>(new BoardLog(fd));
    }
    ~BoardLog() { ::close(fd); }
    BoardLog(const BoardLog&) = delete;
    BoardLog& operator=(const BoardLog&) = delete;

    void Write(const std::string& text) {
        const char* data = text.data();
        size_t left = text.size();
        while (healthy && left > 0) {
            const ssize_t n = ::write(fd, data, left);
            if (n < 0 && errno == EINTR)
                continue;
            healthy = n > 0;
            if (n > 0)
                data += n, left -= static_cast<size_t>(n);
        }
    }
    void Line(const std::string& line) { Write(TimeStamp() + "  " + line + "\n"); }
    bool Healthy() const { return healthy; }

private:
    explicit BoardLog(int fd) : fd(fd) {}
    const int fd;
    bool healthy = true;
};

// One board of the run: its session reports from the board's own thread, and what it
// reports goes to the display and into the board's log.
struct Board : IRunOutput {
    Board(size_t index, std::string device, std::string name, MultiBoardDisplay& display)
        : index(index), device(std::move(device)), name(std::move(name)), display(display) {}

    void Log(const std::string& line) override {
        Record(line);
        display.Log(index, line);
    }
    void Problem(const std::string& text) override { Remark(text); }
    void Remark(const std::string& text) override {
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            Record(line);
            display.Problem(index, line);
        }
    }
    void Progress(int percent) override { display.Progress(index, percent); }
    void Record(const std::string& line) {
        if (log)
            log->Line(line);
    }

    // The verdict in the table's words.
    std::string Result() const {
        switch (verdict.result) {
        case RunResult::Passed: return verdict.kind == ExchangeProgress::Kind::Erase ? "erased" : "flashed";
        case RunResult::Cancelled: return "cancelled";
        case RunResult::TimedOut: return "timed out: " + verdict.message;
        case RunResult::FinishedEarly: return "failed: finished early: " + verdict.message;
        case RunResult::Failed: break;
        }
        std::string reason = verdict.message;
        for (char& c : reason)
            if (c == '\n')
                c = ' ';
        return "failed: " + (reason.empty() ? std::string("the board never reported the update finished") : reason);
    }

    const size_t index;
    const std::string device, name;
    MultiBoardDisplay& display;
    std::unique_ptr<BoardLog> log;     // --log-dir: this board's log
    std::string logPath;
    std::shared_ptr<WireTrace> trace;  // this board's wire trace, if one is recorded
    int status = FlashSession::kFailed;
    bool recorded = true;  // its record is in the results file, when one is kept
    RunVerdict verdict;
    double seconds = 0;
};

int RunSession(FlashSession& session, const BoardRunRequest& request, const CommandContext& ctx) {
    if (!session.OpenLine())
        return ctx.interrupts ? FlashSession::kCancelled : FlashSession::kFailed;
    return request.erase ? session.Erase() : session.Update();
}

void RunBoard(Board& board, const BoardRunRequest& request, const std::shared_ptr<const ImageSnapshot>& image,
              const CommandContext& ctx, RunResults* results) {
    const auto start = Clock::now();
    SessionOptions options = request.session;
    options.device = board.device;
    options.trace = board.trace;
    options.preparedImage = image;
    {
        FlashSession session(options, ctx.sleeper, board, ctx.interrupts);
        board.status = RunSession(session, request, ctx);
        board.verdict = session.Outcome(board.status);
        std::ostringstream why;
        if (results && !results->Record(board.verdict, request.erase ? ExchangeProgress::Kind::Erase : ExchangeProgress::Kind::Update,
                                        static_cast<unsigned>(board.index + 1), board.device, session.CrystalInUse(), why)) {
            board.Problem(why.str());
            board.recorded = false;
        }
    }  // the worker has quit and its last words are in
    board.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    board.Record("result: " + board.Result());
    board.display.Ended(board.index, board.Result());
}

void PrintSummary(const std::vector<std::unique_ptr<Board>>& boards, std::ostream& out) {
    size_t nameWidth = std::string("board").size();
    size_t resultWidth = std::string("result").size();
    for (const auto& b : boards) {
        nameWidth = std::max(nameWidth, b->name.size());
        resultWidth = std::max(resultWidth, b->Result().size());
    }
    out << "\n" << std::left << std::setw(static_cast<int>(nameWidth)) << "board" << "  "
        << std::setw(static_cast<int>(resultWidth)) << "result" << "  time\n";
    for (const auto& b : boards)
        out << std::setw(static_cast<int>(nameWidth)) << b->name << "  " << std::setw(static_cast<int>(resultWidth))
            << b->Result() << "  " << std::right << std::fixed << std::setprecision(1) << std::setw(6) << b->seconds
            << " s\n"
            << std::left;
    out << std::flush;
}

std::string LogPath(const BoardRunRequest& request, const Board& board) {
    return (std::filesystem::path(request.logDir) / BoardFileName(board.name, ".log")).string();
}

std::string TracePath(const BoardRunRequest& request, const Board& board, bool folder) {
    return folder ? (std::filesystem::path(request.trace) / BoardFileName(board.name, ".trace")).string()
                  : request.trace;
}

// Why a trace or a log of the run would destroy what it is written over: a file the run
// reads, a device, a folder, or (for a trace) a file that is no earlier trace. Checked
// for every board before anything is made.
std::string PathsProblem(const std::vector<std::unique_ptr<Board>>& boards, const BoardRunRequest& request) {
    const std::vector<std::string> inputs = RunInputs(request.session, request.devices, request.files);
    const bool folder = boards.size() > 1;
    std::error_code error;
    if (!request.trace.empty() && folder && std::filesystem::exists(request.trace, error) &&
        !std::filesystem::is_directory(request.trace, error))
        return "the trace folder " + request.trace + " is not a folder (several boards record one trace each in it)";
    std::vector<std::string> written = inputs;
    for (const auto& b : boards) {
        if (request.trace.empty())
            break;
        const std::string path = TracePath(request, *b, folder);
        if (const std::string problem = TracePathProblem(path, inputs); !problem.empty())
            return "cannot record the wire trace in " + path + ": " + problem;
        written.push_back(path);
    }
    for (const auto& b : boards) {
        if (request.logDir.empty())
            break;
        if (const std::string problem = LogPathProblem(LogPath(request, *b), written); !problem.empty())
            return "cannot write the log " + LogPath(request, *b) + ": " + problem;
    }
    return "";
}

// Each board's log is made, its first line written, before any board is touched.
bool StartLogs(std::vector<std::unique_ptr<Board>>& boards, const BoardRunRequest& request, std::ostream& err) {
    for (auto& b : boards) {
        std::string why;
        b->logPath = LogPath(request, *b);
        b->log = BoardLog::Create(b->logPath, why);
        if (b->log)
            b->log->Write("Kestrel " + std::string(request.erase ? "erase" : "update") + " of " + b->device + "\n");
        if (!b->log || !b->log->Healthy()) {
            err << "Error: cannot write the log " << b->logPath << ": " << (why.empty() ? "the disk is full" : why)
                << "; no board was touched\n";
            return false;
        }
    }
    return true;
}

// One wire trace per board: the file named, for a single board; else FOLDER/NAME.trace.
// Every trace is made before any board is touched.
bool StartTraces(std::vector<std::unique_ptr<Board>>& boards, const std::string& trace, std::ostream& err) {
    const bool folder = boards.size() > 1;
    if (folder) {
        std::error_code error;
        std::filesystem::create_directories(trace, error);
    }
    for (auto& b : boards) {
        const std::string path = folder ? (std::filesystem::path(trace) / BoardFileName(b->name, ".trace")).string() : trace;
        std::string why;
        if (!(b->trace = WireTrace::Create(path, why))) {
            err << "Error: cannot record the wire trace " << path << ": " << why << "; no board was touched\n";
            return false;
        }
    }
    return true;
}

}  // namespace

int RunOnBoards(const BoardRunRequest& request, const CommandContext& ctx) {
    if (const auto twice = RepeatedDevice(request.devices)) {
        ctx.err << "kestrel-cli: the device " << *twice << " is named twice; each board needs a line of its own\n";
        return 2;
    }
    const std::vector<std::string> names = BoardNames(request.devices);
    MultiBoardDisplay display(ctx.out, ctx.err, ctx.errIsTerminal, names);
    std::vector<std::unique_ptr<Board>> boards;
    for (size_t i = 0; i < request.devices.size(); ++i)
        boards.push_back(std::make_unique<Board>(i, request.devices[i], names[i], display));
    if (const std::string problem = PathsProblem(boards, request); !problem.empty()) {
        ctx.err << "kestrel-cli: " << problem << "; no board was touched\n";
        return 2;
    }
    if (!request.logDir.empty()) {
        std::error_code error;
        std::filesystem::create_directories(request.logDir, error);
        // Found out now, not after the boards are flashed and their logs are due.
        const char* problem = error                                          ? nullptr
                              : !std::filesystem::is_directory(request.logDir) ? "it is not a folder"
                              : access(request.logDir.c_str(), W_OK | X_OK) != 0 ? "you may not write in it"
                                                                                   : "";
        if (problem == nullptr || *problem != '\0') {
            ctx.err << "Error: the log folder " << request.logDir << " cannot be used: "
                    << (problem ? problem : error.message()) << "; no board was touched\n";
            return FlashSession::kFailed;
        }
    }
    std::unique_ptr<RunResults> results;
    if (!request.results.empty()) {
        results = std::make_unique<RunResults>(request.results);
        if (!request.erase && !results->NameFiles(request.files, ctx.err))
            return FlashSession::kFailed;
    }
    std::shared_ptr<const ImageSnapshot> image;
    if (!request.erase) {
        // The files are loaded and checked once, before any line is opened: a refused
        // file stops the whole run with every board untouched, and every board is
        // given the image they make.
        SessionOptions options = request.session;
        options.device = request.devices.front();
        StreamOutput output(ctx.out, ctx.err, ctx.errIsTerminal);
        FlashSession check(options, ctx.sleeper, output, ctx.interrupts);
        if (!check.LoadFiles(request.files)) {
            if (ctx.interrupts)
                return FlashSession::kCancelled;
            ctx.err << "Error: an update file was refused; no board was touched\n";
            return FlashSession::kFailed;
        }
        if (results && !results->FilesUnchanged(ctx.err))
            return FlashSession::kFailed;
        image = std::make_shared<const ImageSnapshot>(check.Image());
    }

    if (!request.logDir.empty() && !StartLogs(boards, request, ctx.err))
        return FlashSession::kFailed;
    if (!request.trace.empty() && !StartTraces(boards, request.trace, ctx.err))
        return FlashSession::kFailed;
    std::vector<std::thread> threads;
    {
        // Ctrl-C stays with this thread; every board sees it through `interrupts`.
        const InterruptsHeldBack quiet;
        for (auto& b : boards)
            threads.emplace_back([&board = *b, &request, &image, &ctx, r = results.get()] {
                RunBoard(board, request, image, ctx, r);
            });
    }
    for (auto& t : threads)
        t.join();

    PrintSummary(boards, ctx.out);
    bool logged = true;
    for (const auto& b : boards) {
        if (b->log && !b->log->Healthy()) {
            ctx.err << "Error: the log " << b->logPath << " is incomplete: a line could not be written (disk full?)\n";
            logged = false;
        }
    }
    if (ctx.interrupts)
        return FlashSession::kCancelled;
    for (const auto& b : boards) {
        if (!b->verdict.Passed() || !b->recorded)
            return FlashSession::kFailed;
    }
    return logged ? FlashSession::kOk : FlashSession::kFailed;
}
