#include "cli/FlashCommands.h"

#include <getopt.h>

#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include <filesystem>

#include "atomicfile/AtomicFile.h"
#include "cli/BoardRun.h"
#include "cli/CliLibrary.h"
#include "cli/FlashSession.h"
#include "cli/RunChecks.h"
#include "cli/RunResults.h"
#include "protocol/Crystals.h"
#include "serial/LineSettings.h"
#include "trace/TracePath.h"
#include "trace/WireTrace.h"

namespace {

constexpr int kUsage = 2;


const char* const kUpdateHelp =
    "usage: kestrel-cli update (--device PATH | --port N) [--crystal 4M|8M|13.5M|16M|27M]\n"
    "                          [--lib DIR] [--reserve] [--timeout SECONDS] [--trace FILE] FILE...\n"
    "Loads the update files into a new flash image (section files ending in their letter,\n"
    "S-record code ending in .s, complete flash maps) and writes it into the board.\n"
    "  --device PATH   the serial device (e.g. /dev/ttyUSB0)\n"
    "  --port N        COM port number, mapped to a device by [PORTS] in Lib/M850T.ini\n"
    "  --crystal X     the board's crystal (default: XTLO in Lib/M850T.ini)\n"
    "  --lib DIR       library folder (default: Lib/ beside the executable)\n"
    "  --reserve       set the reserve-program flag in the section header\n"
    "  --timeout S     give up when the board stays silent for S seconds while Kestrel\n"
    "                  waits for it (default 60; 0 waits as long as it takes)\n"
    "  --device PATH   may be repeated for several boards, all worked at once, each\n"
    "                  on its own line; every log line starts with the board's name, a\n"
    "                  table of results ends the run, and the status is 0 only when\n"
    "                  every board finished\n"
    "  --log-dir DIR   write each board's log, time-stamped, to DIR/NAME.log as the run goes\n"
    "  --trace FILE    record every byte on the line in FILE ('kestrel-cli trace FILE' reads it):\n"
    "                  a new or empty file or an earlier trace, never one the run reads;\n"
    "                  with several --device, FILE is a folder: FILE/NAME.trace per board\n"
    "  --results FILE  append one JSON record per board to FILE (as 'kestrel-cli station' does)\n"
    "Options may also follow the files. Ctrl-C cancels (a download stops after its\n"
    "current block); a second Ctrl-C quits at once.\n"
    "Exit status: 0 flashed (the board asked for everything and reported it finished),\n"
    "1 failed, 2 usage error, 130 cancelled.\n";

const char* const kEraseHelp =
    "usage: kestrel-cli erase (--device PATH | --port N) [--crystal ...] [--lib DIR] [--timeout SECONDS]\n"
    "                         [--trace FILE]\n"
    "Erases the board's whole flash (the \"initflash\" console command).\n"
    "  --timeout S     give up when the board stays silent for S seconds (default 60; 0 never)\n"
    "  --device PATH   may be repeated for several boards, all worked at once, each\n"
    "                  on its own line; every log line starts with the board's name, a\n"
    "                  table of results ends the run, and the status is 0 only when\n"
    "                  every board finished\n"
    "  --log-dir DIR   write each board's log, time-stamped, to DIR/NAME.log as the run goes\n"
    "  --trace FILE    record every byte on the line in FILE (a folder with several --device)\n"
    "  --results FILE  append one JSON record per board to FILE (as 'kestrel-cli station' does)\n"
    "Exit status: 0 erased, 1 failed, 2 usage error, 130 cancelled.\n";

const char* const kConsoleHelp =
    "usage: kestrel-cli console (--device PATH | --port N) [--settings 115200,N,8,1] [--save FILE]\n"
    "                           [--crystal ...] [--lib DIR] [--timeout SECONDS] [--trace FILE]\n"
    "Shows the board's console output line by line; each line typed on standard input\n"
    "(\"reset\", \"pcdemo\", \"initflash\") is sent as a console command. An \"initflash\"\n"
    "is followed to its end (as the erase command does) before the next line is sent.\n"
    "Each command goes out at least 20 ms after the one before was carried out.\n"
    "Ends at the end of input, on Ctrl-C, when the line is lost or an erase fails;\n"
    "--save then writes the lines to FILE, CR LF ended; --trace FILE records every byte\n"
    "on the line in FILE.\n"
    "Exit status: 0 ended with the input, 1 the line was lost or an erase failed,\n"
    "2 usage error, 130 cancelled.\n";

struct Parsed {
    SessionOptions session;
    std::vector<std::string> devices;  // every --device, for a run on several boards
    std::string logDir;
    std::string saveFile;
    std::string traceFile;
    std::string resultsFile;
    std::vector<std::string> files;
    bool help = false;
};

bool ParseCrystal(const std::string& text, int& index) {
    const auto found = FindCrystalIndex(text);
    if (found)
        index = static_cast<int>(*found);
    return found.has_value();
}

bool ParseNumber(const char* text, long min, long max, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && value >= min && value <= max;
}

// Returns false (after saying why on err) for a usage error.
bool Parse(int argc, char** argv, bool update, bool console, std::ostream& err, Parsed& p) {
    enum { kDevice = 1, kPort, kCrystal, kLib, kReserve, kTimeout, kSettings, kSave, kTrace, kHelp, kLogDir, kResults };
    const option all[] = {{"device", required_argument, nullptr, kDevice},
                          {"port", required_argument, nullptr, kPort},
                          {"crystal", required_argument, nullptr, kCrystal},
                          {"lib", required_argument, nullptr, kLib},
                          {"reserve", no_argument, nullptr, kReserve},
                          {"timeout", required_argument, nullptr, kTimeout},
                          {"settings", required_argument, nullptr, kSettings},
                          {"save", required_argument, nullptr, kSave},
                          {"trace", required_argument, nullptr, kTrace},
                          {"help", no_argument, nullptr, kHelp},
                          {"log-dir", required_argument, nullptr, kLogDir},
                          {"results", required_argument, nullptr, kResults},
                          {nullptr, 0, nullptr, 0}};
    optind = 0;  // fresh parse, also when called more than once in a process
    opterr = 0;
    int c;
    // Options may stand anywhere among the files: getopt_long moves them to the front.
    while ((c = getopt_long(argc, argv, "h", all, nullptr)) != -1) {
        long n = 0;
        int crystal = 0;
        switch (c) {
        case kDevice:
            p.session.device = optarg;
            p.devices.push_back(optarg);
            break;
        case kLogDir:
            if (console)
                goto unknown;
            p.logDir = optarg;
            break;
        case kPort:
            if (!ParseNumber(optarg, 1, 1024, n)) {
                err << argv[0] << ": --port takes a number from 1 to 1024\n";
                return false;
            }
            p.session.port = static_cast<unsigned>(n);
            break;
        case kCrystal:
            if (!ParseCrystal(optarg, crystal)) {
                err << argv[0] << ": --crystal is one of 4M, 8M, 13.5M, 16M, 27M\n";
                return false;
            }
            p.session.crystal = crystal;
            break;
        case kLib: p.session.libFolder = optarg; break;
        case kReserve:
            if (!update)
                goto unknown;
            p.session.reserve = true;
            break;
        case kTimeout:
            if (!ParseNumber(optarg, 0, 86400, n)) {
                err << argv[0] << ": --timeout takes a number of seconds from 0 (no limit) to 86400\n";
                return false;
            }
            p.session.timeoutSeconds = static_cast<int>(n);
            break;
        case kSettings:
            if (!console)
                goto unknown;
            if (!ParseLineSettings(optarg)) {
                err << argv[0] << ": --settings takes the line's settings as BAUD,PARITY,DATABITS,STOPBITS"
                                  " (e.g. 115200,N,8,1)\n";
                return false;
            }
            p.session.lineSettings = optarg;
            break;
        case kSave:
            if (!console)
                goto unknown;
            p.saveFile = optarg;
            break;
        case kTrace:
            if (optarg[0] == '-') {
                // "--trace --device X": the trace's name was forgotten.
                err << argv[0] << ": cannot record the wire trace in '" << optarg
                    << "': that is an option; name the trace file after --trace\n";
                return false;
            }
            p.traceFile = optarg;
            break;
        case kResults:
            if (console)
                goto unknown;
            p.resultsFile = optarg;
            break;
        case 'h':
        case kHelp: p.help = true; return true;
        default:
        unknown:
            err << argv[0] << ": unknown or incomplete option '" << argv[optind - 1] << "'\n";
            return false;
        }
    }
    for (int i = optind; i < argc; ++i)
        p.files.push_back(argv[i]);
    if (p.session.device.empty() == (p.session.port == 0)) {
        err << argv[0] << ": name the line with exactly one of --device PATH and --port N\n";
        return false;
    }
    if (console && p.devices.size() > 1) {
        err << argv[0] << ": shows one board's console: name one --device\n";
        return false;
    }
    if (!p.logDir.empty() && p.devices.empty()) {
        err << argv[0] << ": --log-dir names the boards' logs by their --device\n";
        return false;
    }
    if (update && p.files.empty()) {
        err << argv[0] << ": name at least one update file\n";
        return false;
    }
    if (!update && !p.files.empty()) {
        err << argv[0] << ": takes no files\n";
        return false;
    }
    return true;
}

int Usage(std::ostream& err, const char* help) {
    err << help;
    return kUsage;
}

}  // namespace

namespace {

// What is made sure of before any line is opened: the line is no terminal of the
// operator's, what the run writes (a trace, the console's saved text) destroys nothing
// it reads, and the settings taken from the file can be used. The exit status when not
// (2 for a path or a line named wrongly), or -1 to go on.
int CheckBeforeLines(const Parsed& p, bool console, const CommandContext& ctx, const char* name) {
    const LibraryPaths library = CliLibraryPaths(p.session.libFolder);
    const OperatorSettings settings =
        OperatorSettings::Load(std::filesystem::path(library.SettingsFileToRead()).parent_path().string());
    const std::vector<std::string> devices =
        p.devices.empty() ? std::vector<std::string>{LineDevice(p.session, settings)} : p.devices;
    for (const std::string& device : devices) {
        if (const std::string problem = OwnTerminalProblem(device); !problem.empty()) {
            ctx.err << name << ": " << problem << "; name the board's serial device\n";
            return kUsage;
        }
    }
    const bool oneBoard = p.devices.size() <= 1 && p.logDir.empty();
    const std::vector<std::string> inputs = RunInputs(p.session, devices, p.files);
    if (oneBoard && !p.traceFile.empty()) {
        if (const std::string problem = TracePathProblem(p.traceFile, inputs); !problem.empty()) {
            ctx.err << name << ": cannot record the wire trace in " << p.traceFile << ": " << problem
                    << "; nothing was touched\n";
            return kUsage;
        }
    }
    if (!p.saveFile.empty()) {
        std::string problem = LogPathProblem(p.saveFile, inputs);
        if (problem.empty())
            problem = ReplacingProblem(p.saveFile);
        if (!problem.empty()) {
            ctx.err << "Error: cannot save the console to " << p.saveFile << ": " << problem
                    << "; the console was not started\n";
            return FlashSession::kFailed;
        }
    }
    SettingsUse use;
    use.line = !(console && !p.session.lineSettings.empty());
    use.port = p.session.device.empty() && p.session.port == 0;
    use.crystal = !console && !p.session.crystal;  // the console needs one only for "initflash"
    if (!SayCheckedSettingsChoices(settings, use, ctx.err))
        return FlashSession::kFailed;
    return -1;
}

// Parses the command's options, answers --help and usage errors, and opens the line;
// then hands the open session to `body`.
template <typename Body>
int RunWithSession(int argc, char** argv, const CommandContext& ctx, bool update, bool console, const char* help,
                   Body body) {
    Parsed p;
    if (!Parse(argc, argv, update, console, ctx.err, p))
        return Usage(ctx.err, help);
    if (p.help) {
        ctx.out << help << LibraryHelpLine(p.session.libFolder);
        return 0;
    }
    if (const int status = CheckBeforeLines(p, console, ctx, argv[0]); status >= 0)
        return status;
    if (!p.resultsFile.empty()) {
        std::vector<std::string> inputs = RunInputs(p.session, p.devices, p.files);
        if (!p.traceFile.empty())
            inputs.push_back(p.traceFile);
        if (const std::string why = RunResults::PathProblem(p.resultsFile, inputs); !why.empty()) {
            ctx.err << "Error: the results file " << p.resultsFile << " cannot be used: " << why
                    << "; no board was touched\n";
            return FlashSession::kFailed;
        }
    }
    p.session.terminalOutput = ctx.outIsTerminal;
    if (p.devices.size() > 1 || !p.logDir.empty())
        return RunOnBoards({p.devices, p.session, p.files, !update, p.logDir, p.traceFile, p.resultsFile}, ctx);
    std::string why;
    if (!p.traceFile.empty() && !(p.session.trace = WireTrace::Create(p.traceFile, why))) {
        ctx.err << argv[0] << ": cannot record the wire trace: " << why << "\n";
        return FlashSession::kFailed;
    }
    std::unique_ptr<RunResults> results;
    if (!p.resultsFile.empty()) {
        results = std::make_unique<RunResults>(p.resultsFile);
        if (update && !results->NameFiles(p.files, ctx.err))
            return FlashSession::kFailed;
    }
    int status;
    {
        StreamOutput output(ctx.out, ctx.err, ctx.errIsTerminal);
        FlashSession session(p.session, ctx.sleeper, output, ctx.interrupts);
        // One record of the board, however its run went (a line that would not open
        // too); none when a file was refused and the board was left alone.
        const auto record = [&](int s) {
            const auto kind = update ? ExchangeProgress::Kind::Update : ExchangeProgress::Kind::Erase;
            const std::string device = p.session.device.empty() ? "COM" + std::to_string(p.session.port) : p.session.device;
            if (results && !results->Record(session.Outcome(s), kind, 1, device, session.CrystalInUse(), ctx.err))
                return FlashSession::kFailed;
            return s;
        };
        if (!session.OpenLine())
            return record(ctx.interrupts ? FlashSession::kCancelled : FlashSession::kFailed);
        bool ran = true;
        status = body(session, p, results.get(), ran);
        if (ran)
            status = record(status);
    }
    if (p.session.trace && !p.session.trace->Healthy())
        ctx.err << "Warning: the wire trace " << p.traceFile << " is incomplete: a line could not be written (disk full?)\n";
    return status;
}

}  // namespace

int RunUpdateCommand(int argc, char** argv, const CommandContext& ctx) {
    return RunWithSession(argc, argv, ctx, true, false, kUpdateHelp,
                          [&](FlashSession& session, const Parsed& p, RunResults* results, bool& ran) {
        ran = false;
        if (!session.LoadFiles(p.files)) {
            if (ctx.interrupts)
                return FlashSession::kCancelled;
            ctx.err << "Error: an update file was refused; the board was not touched\n";
            return FlashSession::kFailed;
        }
        if (results && !results->FilesUnchanged(ctx.err))
            return FlashSession::kFailed;
        ran = true;
        return session.Update();
    });
}

int RunEraseCommand(int argc, char** argv, const CommandContext& ctx) {
    return RunWithSession(argc, argv, ctx, false, false, kEraseHelp,
                          [](FlashSession& session, const Parsed&, RunResults*, bool&) { return session.Erase(); });
}

int RunConsoleCommand(int argc, char** argv, const CommandContext& ctx) {
    return RunWithSession(argc, argv, ctx, false, true, kConsoleHelp,
                          [&](FlashSession& session, const Parsed& p, RunResults*, bool& ran) {
                              ran = false;  // a console is no board's run
                              return session.Console(ctx.inputFd, p.saveFile);
                          });
}
