#include "cli/StationCommand.h"

#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "engine/BoardNames.h"
#include "cli/CliLibrary.h"
#include "cli/ExecutableFolder.h"
#include "cli/FlashSession.h"
#include "cli/Interrupts.h"
#include "cli/RunChecks.h"
#include "cli/RunResults.h"
#include "cli/StationDisplay.h"
#include "cli/TypedLines.h"
#include "digest/Sha256.h"
#include "engine/ResultsFile.h"
#include "engine/Station.h"
#include "engine/StationPlan.h"
#include "platform/AppendFile.h"
#include "platform/FileFacts.h"
#include "protocol/Crystals.h"
#include "settings/ProfileFile.h"
#include "settings/StationSettings.h"
#include "trace/TracePath.h"
#include "trace/WireTrace.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kUsage = 2;

const char* const kStationHelp =
    "usage: kestrel-cli station --device PATH [--device PATH ...] [--crystal 4M|8M|13.5M|16M|27M]\n"
    "                           [--lib DIR] [--count N] [--results FILE] [--log-dir DIR] [--trace DIR]\n"
    "                           [--expect REGEX] [--fail-on REGEX] [--expect-within S] [--wake-every S]\n"
    "                           [--rearm auto|key|replug] [--rearm-after S] [--timeout S] [--reserve] FILE...\n"
    "A factory station: the update files are checked once (a refused file touches no\n"
    "port), then every port loops: wait for a board, flash it, check it, record it,\n"
    "wait for the next.\n"
    "  --device PATH     a port (repeat for several); /dev/serial/by-id/... and\n"
    "                    /dev/serial/by-path/... names work and are what the records name.\n"
    "                    A device that is not there (an adapter pulled) is waited for.\n"
    "  --crystal X       the boards' crystal (default: XTLO in Lib/M850T.ini)\n"
    "  --wake-every S    a waiting port sends the wake-up again every S seconds until a\n"
    "                    board answers (default 1)\n"
    "  --rearm MODE      after a board: auto (default) wakes again --rearm-after seconds\n"
    "                    later (default 3); key waits for Enter (with several ports, the\n"
    "                    port's number and Enter); replug waits for the device to go away\n"
    "                    and come back (a USB adapter on the board). A board whose boot\n"
    "                    code runs again after its update is flashed again under auto:\n"
    "                    use key or replug for such boards.\n"
    "  --expect REGEX    after the update, listen to the board's new firmware at 115200:\n"
    "                    a line matching REGEX must come for the board to pass\n"
    "  --fail-on REGEX   a line matching REGEX fails the board (check-failed); the whole\n"
    "                    listening time is then listened to\n"
    "  --expect-within S how long the firmware is listened to (default 10)\n"
    "  --count N         end after N boards in total (default: until Ctrl-C)\n"
    "  --results FILE    append one JSON record per board, on the disk as each board ends\n"
    "  --log-dir DIR     append each board's time-stamped log to DIR/NAME.log\n"
    "  --trace DIR       record each board's wire trace in DIR/NAME.K.trace (K: the port's\n"
    "                    board number, from 1)\n"
    "  --timeout S       give a board up when it stays silent S seconds once it has\n"
    "                    answered (default 60; 0 never)\n"
    "  --reserve         set the reserve-program flag in the section header\n"
    "  --lib DIR         library folder (default: Lib/ beside the executable)\n"
    "Ctrl-C once: no new board is woken, the boards under way finish; twice: they are\n"
    "cancelled; three times: quit at once.\n"
    "Exit status: 0 every board passed, 1 any did not (or the station could not go on),\n"
    "2 usage error, 130 cancelled before a board ended.\n";

struct StationOptions {
    std::vector<std::string> devices;
    std::string libFolder;
    std::optional<int> crystal;
    unsigned count = 0;
    std::string results, logDir, traceDir;
    CheckRule check;
    std::chrono::milliseconds wakeEvery{1000}, rearmAfter{3000};
    RearmMode rearm = RearmMode::Auto;
    int timeoutSeconds = SessionOptions::kDefaultTimeoutSeconds;
    bool reserve = false;
    std::vector<std::string> files;
    bool help = false;
};

bool ParsePattern(const char* text, const char* option, std::optional<std::regex>& pattern, std::string& shown,
                  std::ostream& err) {
    try {
        pattern.emplace(text, std::regex::ECMAScript);
    } catch (const std::regex_error& e) {
        err << "kestrel-cli station: " << option << " '" << text << "' is no regular expression: " << e.what() << "\n";
        return false;
    }
    shown = text;
    return true;
}

bool Parse(int argc, char** argv, std::ostream& err, StationOptions& o) {
    enum {
        kDevice = 1, kCrystal, kLib, kCount, kResults, kLogDir, kTrace, kExpect, kFailOn, kExpectWithin,
        kWakeEvery, kRearm, kRearmAfter, kTimeout, kReserve, kHelp
    };
    const option all[] = {{"device", required_argument, nullptr, kDevice},
                          {"crystal", required_argument, nullptr, kCrystal},
                          {"lib", required_argument, nullptr, kLib},
                          {"count", required_argument, nullptr, kCount},
                          {"results", required_argument, nullptr, kResults},
                          {"log-dir", required_argument, nullptr, kLogDir},
                          {"trace", required_argument, nullptr, kTrace},
                          {"expect", required_argument, nullptr, kExpect},
                          {"fail-on", required_argument, nullptr, kFailOn},
                          {"expect-within", required_argument, nullptr, kExpectWithin},
                          {"wake-every", required_argument, nullptr, kWakeEvery},
                          {"rearm", required_argument, nullptr, kRearm},
                          {"rearm-after", required_argument, nullptr, kRearmAfter},
                          {"timeout", required_argument, nullptr, kTimeout},
                          {"reserve", no_argument, nullptr, kReserve},
                          {"help", no_argument, nullptr, kHelp},
                          {nullptr, 0, nullptr, 0}};
    optind = 0;
    opterr = 0;
    const char* me = "kestrel-cli station";
    int c;
    while ((c = getopt_long(argc, argv, "h", all, nullptr)) != -1) {
        std::chrono::milliseconds ms{};
        switch (c) {
        case kDevice: o.devices.push_back(optarg); break;
        case kCrystal: {
            const auto found = FindCrystalIndex(optarg);
            if (!found) {
                err << me << ": --crystal is one of 4M, 8M, 13.5M, 16M, 27M\n";
                return false;
            }
            o.crystal = static_cast<int>(*found);
            break;
        }
        case kLib: o.libFolder = optarg; break;
        case kCount: {
            const std::string_view s(optarg);
            unsigned n = 0;
            const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
            if (ec != std::errc() || end != s.data() + s.size() || n == 0 || n > 1000000) {
                err << me << ": --count takes a number of boards from 1 to 1000000\n";
                return false;
            }
            o.count = n;
            break;
        }
        case kResults: o.results = optarg; break;
        case kLogDir: o.logDir = optarg; break;
        case kTrace: o.traceDir = optarg; break;
        case kExpect:
            if (!ParsePattern(optarg, "--expect", o.check.expect, o.check.expectText, err))
                return false;
            break;
        case kFailOn:
            if (!ParsePattern(optarg, "--fail-on", o.check.failOn, o.check.failOnText, err))
                return false;
            break;
        case kExpectWithin:
            if (!ParseSeconds(optarg, 100, 3600 * 1000, ms)) {
                err << me << ": --expect-within takes seconds from 0.1 to 3600\n";
                return false;
            }
            o.check.within = ms;
            break;
        case kWakeEvery:
            if (!ParseSeconds(optarg, 100, 3600 * 1000, ms)) {
                err << me << ": --wake-every takes seconds from 0.1 to 3600\n";
                return false;
            }
            o.wakeEvery = ms;
            break;
        case kRearm: {
            const std::string mode = optarg;
            if (mode == "auto")
                o.rearm = RearmMode::Auto;
            else if (mode == "key")
                o.rearm = RearmMode::Key;
            else if (mode == "replug")
                o.rearm = RearmMode::Replug;
            else {
                err << me << ": --rearm is one of auto, key, replug\n";
                return false;
            }
            break;
        }
        case kRearmAfter:
            if (!ParseSeconds(optarg, 0, 3600 * 1000, ms)) {
                err << me << ": --rearm-after takes seconds from 0 to 3600\n";
                return false;
            }
            o.rearmAfter = ms;
            break;
        case kTimeout:
            if (!ParseSeconds(optarg, 0, 86400 * 1000, ms) || ms.count() % 1000 != 0) {
                err << me << ": --timeout takes a whole number of seconds from 0 (no limit) to 86400\n";
                return false;
            }
            o.timeoutSeconds = static_cast<int>(ms.count() / 1000);
            break;
        case kReserve: o.reserve = true; break;
        case 'h':
        case kHelp: o.help = true; return true;
        default:
            err << me << ": unknown or incomplete option '" << argv[optind - 1] << "'\n";
            return false;
        }
    }
    for (int i = optind; i < argc; ++i)
        o.files.push_back(argv[i]);
    if (o.devices.empty()) {
        err << me << ": name at least one --device\n";
        return false;
    }
    if (o.files.empty()) {
        err << me << ": name at least one update file\n";
        return false;
    }
    if (const auto twice = RepeatedDevice(o.devices)) {
        err << me << ": the device " << *twice << " is named twice; each port needs a line of its own\n";
        return false;
    }
    return true;
}

int Status(const StationOutcome& outcome, bool interrupted) {
    if (outcome.stoppedByProblem)
        return FlashSession::kFailed;
    // A station is ended by Ctrl-C on an ordinary day: its boards decide.
    if (outcome.boards == outcome.cancelled && interrupted)
        return FlashSession::kCancelled;
    return outcome.passed == outcome.boards && outcome.boards > 0 ? FlashSession::kOk : FlashSession::kFailed;
}

}  // namespace

int RunStationCommand(int argc, char** argv, const CommandContext& ctx) {
    StationOptions o;
    if (!Parse(argc, argv, ctx.err, o)) {
        ctx.err << kStationHelp;
        return kUsage;
    }
    if (o.help) {
        ctx.out << kStationHelp << LibraryHelpLine(o.libFolder);
        return 0;
    }
    const LibraryPaths library = CliLibraryPaths(o.libFolder);
    const OperatorSettings settings =
        OperatorSettings::Load(fs::path(library.SettingsFileToRead()).parent_path().string());
    if (!settings.problem.empty()) {
        ctx.err << "Error: the settings file cannot be used: " << settings.problem << "; no board was touched\n";
        return FlashSession::kFailed;
    }
    for (const std::string& device : o.devices) {
        if (const std::string problem = OwnTerminalProblem(device); !problem.empty()) {
            ctx.err << "kestrel-cli station: " << problem << "; name the boards' serial devices\n";
            return kUsage;
        }
    }
    SettingsUse use;
    use.port = false;  // every port is named by its device
    use.crystal = !o.crystal;
    if (!SayCheckedSettingsChoices(settings, use, ctx.err))
        return FlashSession::kFailed;
    const int crystal = o.crystal.value_or(settings.crystalIndex);
    SessionOptions where;  // only its library folder counts here
    where.libFolder = o.libFolder;
    const std::vector<std::string> inputs = RunInputs(where, o.devices, o.files);
    const std::vector<std::string> names = BoardNames(o.devices);

    // Every output is found usable before any port is opened.
    const StationOutputs outputs{o.results, o.logDir, o.traceDir};
    if (const std::string problem = StationOutputsProblem(outputs, inputs, names); !problem.empty()) {
        ctx.err << "Error: " << problem << "; no board was touched\n";
        return FlashSession::kFailed;
    }
    std::vector<std::string> outputsInputs = inputs;
    if (!o.results.empty())
        outputsInputs.push_back(o.results);

    // The files are loaded and checked once: a refused file touches no port.
    std::vector<FileDigest> digests;
    std::shared_ptr<const ImageSnapshot> image;
    {
        std::vector<Sha256::Digest> before;
        if (const std::string why = DigestFiles(o.files, before); !why.empty()) {
            ctx.err << "Error: " << why << "; no board was touched\n";
            return FlashSession::kFailed;
        }
        SessionOptions options;
        options.device = o.devices.front();
        options.libFolder = o.libFolder;
        options.reserve = o.reserve;
        StreamOutput output(ctx.out, ctx.err, ctx.errIsTerminal);
        FlashSession check(options, ctx.sleeper, output, ctx.interrupts);
        if (!check.LoadFiles(o.files)) {
            if (ctx.interrupts)
                return FlashSession::kCancelled;
            ctx.err << "Error: an update file was refused; no board was touched\n";
            return FlashSession::kFailed;
        }
        image = std::make_shared<const ImageSnapshot>(check.Image());
        if (const std::string why = DigestsAfterLoading(o.files, before, digests); !why.empty()) {
            ctx.err << "Error: " << why << "; no board was touched\n";
            return FlashSession::kFailed;
        }
    }

    // Opened (made, when new) only now that the files are known to be good.
    std::unique_ptr<ResultsFile> results;
    if (!o.results.empty()) {
        std::string why;
        if (!(results = ResultsFile::Open(o.results, why))) {
            ctx.err << "Error: the results file " << o.results << " cannot be used: " << why << "; no board was touched\n";
            return FlashSession::kFailed;
        }
    }

    StationSetup setup;
    setup.devices = o.devices;
    setup.crystalIndex = crystal;
    setup.lineSettings = settings.lineSettings;
    setup.image = image;
    setup.files = digests;
    setup.reserve = o.reserve;
    setup.wakeEvery = o.wakeEvery;
    setup.rearm = o.rearm;
    setup.rearmAfter = o.rearmAfter;
    setup.check = o.check;
    setup.count = o.count;
    setup.timeout = std::chrono::seconds(o.timeoutSeconds);
    setup.sleeper = &ctx.sleeper;
    const std::string appFolder = ExecutableFolder();
    setup.library = StationLibrary(library, appFolder);
    if (results) {
        ResultsFile* file = results.get();
        setup.keep = [file](const std::string& line, std::string& why) { return file->Append(line, why); };
    }
    setup.adapter = AdapterOf;
    StationDisplay display(ctx.out, ctx.err, ctx.errIsTerminal, names);
    if (!o.traceDir.empty())
        setup.trace = StationTraces(o.traceDir, names, outputsInputs);

    Station station(setup);
    {
        // Ctrl-C stays with this thread.
        const InterruptsHeldBack quiet;
        station.Start();
    }
    std::unique_ptr<TypedLines> typed;
    if (o.rearm == RearmMode::Key) {
        const InterruptsHeldBack quiet;
        typed = std::make_unique<TypedLines>(ctx.inputFd);
    }
    bool inputEndedTold = false;
    int interruptsSeen = 0;
    auto lastTick = std::chrono::steady_clock::now();
    for (bool over = false; !over;) {
        // Each Ctrl-C is a step of its own, however quickly they come.
        while (interruptsSeen < ctx.interrupts) {
            const int interrupts = ++interruptsSeen;
            if (interrupts == 1) {
                station.StopWaking();
                display.Remark("Stopping: no new board is woken; the boards under way finish (Ctrl-C again cancels them)");
            } else if (interrupts == 2) {
                station.CancelBoards();
                display.Remark("Cancelling the boards under way (Ctrl-C again quits at once)");
            } else {
                return FlashSession::kCancelled;
            }
        }
        while (typed) {
            const auto line = typed->Next();
            if (!line)
                break;
            const auto waiting = station.WaitingForKey();
            if (station.Ports() == 1) {
                if (!station.Rearm(0))
                    display.Remark("(the port is not waiting for the next board)");
                continue;
            }
            size_t port = 0;
            const auto [end, ec] = std::from_chars(line->data(), line->data() + line->size(), port);
            if (ec != std::errc() || end != line->data() + line->size() || port < 1 || port > station.Ports()) {
                display.Remark("Type the port's number (1 to " + std::to_string(station.Ports()) +
                               ") and Enter when its next board is in");
                continue;
            }
            if (!station.Rearm(port - 1))
                display.Remark("(port " + std::to_string(port) + " is not waiting for its next board)");
        }
        if (typed && !inputEndedTold && typed->Ended()) {
            inputEndedTold = true;
            display.Remark("The input has ended: no port can be told its next board is in (--rearm key)");
        }
        station.WaitForEvent(100ms);
        while (auto e = station.Next()) {
            switch (e->kind) {
            case StationEvent::Kind::Port: display.Port(e->port, e->view); break;
            case StationEvent::Kind::Problem: display.Problem(e->port, e->text); break;
            case StationEvent::Kind::BoardEnded:
                display.BoardEnded(*e);
                if (!o.logDir.empty()) {
                    const std::string warning = AppendBoardLog(o.logDir, names[e->port], o.devices[e->port], *e);
                    if (!warning.empty())
                        display.Problem(e->port, warning);
                }
                break;
            case StationEvent::Kind::Ended: over = true; break;
            }
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - lastTick >= 1s) {
            lastTick = now;
            display.Tick();
        }
    }
    const CounterFigures total = station.Total();
    ctx.out << "total: " << DescribeCounters(total) << "\n" << std::flush;
    return Status(station.Outcome(), interruptsSeen > 0);
}
