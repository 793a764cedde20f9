#include "app/MCCommandLine.h"

#include "app/MCCleanReport.h"
#include "app/MCPlatformChoice.h"
#include "logging/DDASLLogger.h"
#include "logging/DDLog.h"
#include "logging/MCLogFormatter.h"
#include "memory/MCMemoryController.h"
#include "memory/MCMemoryDetails.h"
#include "memory/MCProcesses.h"
#include "memory/MCUtil.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <ostream>
#include <poll.h>
#include <unistd.h>

#ifndef BRIMWELL_VERSION
#error "BRIMWELL_VERSION must come from the build"
#endif

namespace {

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// "12.50": two decimals as the kernel prints PSI; the C form unless `numbers` says otherwise.
std::string twoDecimals(double value, const MCNumberFormat& numbers = {}) {
    return MCUtil::fixed(value, 2, numbers);
}

// The value of an option given as "--name VALUE" or "--name=VALUE"; none (with `error` set) when
// it is missing.
std::optional<std::string> optionValue(const std::vector<std::string>& args, std::size_t& i,
                                       const std::string& name, std::optional<std::string>& error) {
    const std::string& arg = args[i];
    if (arg == name) {
        if (i + 1 >= args.size()) {
            error = name + " needs a value";
            return std::nullopt;
        }
        return args[++i];
    }
    return arg.substr(name.size() + 1);
}

bool isOption(const std::string& arg, const std::string& name) {
    return arg == name || arg.starts_with(name + "=");
}

std::optional<std::size_t> parseCount(const std::string& text) {
    std::size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value == 0 ||
        value > MCCommandLine::kMaxTopCount) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parseSeconds(const std::string& text) {
    double value = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !(value >= MCCommandLine::kMinWatchSeconds && value <= MCCommandLine::kMaxWatchSeconds)) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::variant<MCCommandLine, MCCommandLine::Error>
MCCommandLine::parse(const std::vector<std::string>& args) {
    MCCommandLine command;
    auto setMode = [&command](Mode mode, const std::string& option) -> std::optional<Error> {
        if (command.mode != Mode::Panel && command.mode != mode) {
            return Error{option + " cannot be combined with another action"};
        }
        command.mode = mode;
        return std::nullopt;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::optional<Error> error;
        if (arg == "--sample") {
            error = setMode(Mode::Sample, arg);
        } else if (arg == "--clean") {
            error = setMode(Mode::Clean, arg);
        } else if (arg == "--help" || arg == "-h") {
            error = setMode(Mode::Help, arg);
        } else if (arg == "--version" || arg == "-V") {
            error = setMode(Mode::Version, arg);
        } else if (isOption(arg, "--top")) {
            std::optional<std::string> missing;
            const auto value = optionValue(args, i, "--top", missing);
            if (!value) {
                return Error{*missing};
            }
            const auto count = parseCount(*value);
            if (!count) {
                return Error{"--top needs a number of processes from 1 to " +
                             std::to_string(kMaxTopCount) + ", not \"" + *value + "\""};
            }
            command.topCount = *count;
            error = setMode(Mode::Top, "--top");
        } else if (isOption(arg, "--watch")) {
            std::optional<std::string> missing;
            const auto value = optionValue(args, i, "--watch", missing);
            if (!value) {
                return Error{*missing};
            }
            command.watchSeconds = parseSeconds(*value);
            if (!command.watchSeconds) {
                return Error{"--watch needs a number of seconds from 0.1 to 86400, not \"" +
                             *value + "\""};
            }
        } else if (arg == "--json") {
            command.json = true;
        } else if (arg == "--verbose" || arg == "-v") {
            command.verbose = true;
        } else if (arg == "--screenshot" || arg.starts_with("--screenshot=")) {
            if (arg == "--screenshot") {
                if (i + 1 >= args.size()) {
                    return Error{"--screenshot needs a file name"};
                }
                command.screenshotPath = args[++i];
            } else {
                command.screenshotPath = arg.substr(std::string("--screenshot=").size());
            }
            if (command.screenshotPath.empty()) {
                return Error{"--screenshot needs a file name"};
            }
        } else if (const auto qt = MCPlatformChoice::qtOption(arg)) {
            command.qtArguments.push_back(arg);
            if (qt->valueFollows) {
                if (i + 1 >= args.size()) {
                    return Error{arg + " needs a value"};
                }
                command.qtArguments.push_back(args[++i]);
            }
        } else {
            return Error{"unknown option: " + arg};
        }
        if (error) {
            return *error;
        }
    }
    if (command.json && command.mode != Mode::Sample && command.mode != Mode::Clean &&
        command.mode != Mode::Top) {
        return Error{"--json goes with --sample, --clean or --top"};
    }
    if (command.watchSeconds && command.mode != Mode::Sample) {
        return Error{"--watch goes with --sample"};
    }
    if (!command.screenshotPath.empty() && command.mode != Mode::Panel) {
        return Error{"--screenshot goes with the panel only"};
    }
    if (!command.qtArguments.empty() && command.mode != Mode::Panel) {
        return Error{"Qt's option " + command.qtArguments.front() + " goes with the panel only"};
    }
    return command;
}

std::optional<std::string> MCCommandLine::qtOptionValue(std::string_view name) const {
    for (std::size_t i = 0; i < qtArguments.size(); ++i) {
        const auto option = MCPlatformChoice::qtOption(qtArguments[i]);
        if (option && option->valueFollows && i + 1 < qtArguments.size()) {
            if (option->name == name) {
                return qtArguments[i + 1];
            }
            ++i;
        }
    }
    return std::nullopt;
}

std::string MCCommandLine::usage(const std::string& program) {
    return "Usage: " + program +
           " [OPTION]...\n"
           "Shows how memory is used and frees memory on request.\n"
           "\n"
           "With no option, opens the memory panel from the system tray.\n"
           "  --sample            print wired, active, inactive and free memory in bytes\n"
           "  --clean             free memory now and print how much was freed\n"
           "  --json              with --sample or --clean: print one JSON object\n"
           "                      (with --top: one JSON array)\n"
           "  --top N             print the N processes using the most memory, biggest first\n"
           "  --watch SECONDS     with --sample: a sample every SECONDS until interrupted\n"
           "  --screenshot FILE   open the panel, save a PNG picture of it to FILE, quit\n"
           "  -v, --verbose       log everything, not only errors and warnings\n"
           "  -h, --help          show this help\n"
           "  -V, --version       show the version\n"
           "\n"
           "The panel also takes Qt's options, with one dash or two:\n"
           "  -platform NAME, -platformpluginpath PATH, -platformtheme NAME, -plugin NAME,\n"
           "  -style STYLE, -stylesheet FILE, -display DISPLAY, -geometry GEOMETRY,\n"
           "  -qwindowgeometry GEOMETRY, -qwindowicon ICON, -qwindowtitle TITLE,\n"
           "  -session ID, -reverse, -widgetcount\n"
           "\n"
           "Environment:\n"
           "  BRIMWELL_CLEAN_MAX_BYTES   most bytes one clean pass may write (e.g. 512M)\n"
           "  BRIMWELL_ANALYTICS_HOST    host[:port] that collects usage events; empty: none\n"
           "  BRIMWELL_PUBLIC_IP_URL     page that shows the public address sent with them\n"
           "  DO_NOT_TRACK               1: send no usage events and store no identifier\n"
           "\n"
           "Files:\n"
           "  ~/.config/Brimwell/preferences        preferences; AnalyticsOptOut=1 opts out\n"
           "  ~/.config/autostart/brimwell.desktop  start at login\n"
           "  $XDG_RUNTIME_DIR/brimwell/            lock and socket of the running copy\n"
           "\n"
           "Exit status: 0 done, 1 failed, 2 bad usage. More in brimwell(1).\n";
}

void setupCommandLineLog() {
    auto asl = DDASLLogger::sharedInstance();
    asl->setLogFormatter(std::make_shared<MCLogFormatter>());
    DDLog::addLogger(asl);
}

namespace {

// SIGINT and SIGTERM end a watch: while it runs they only write a byte to a pipe that the wait
// between samples listens to, so the last line is always whole and the exit status 0.
class WatchInterruption {
public:
    WatchInterruption() {
        if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
            pipe_[0] = pipe_[1] = -1;
            return;
        }
        writeEnd = pipe_[1];
        struct sigaction action {};
        action.sa_handler = [](int) {
            const int saved = errno;
            const char byte = 1;
            [[maybe_unused]] const ssize_t ignored = ::write(writeEnd, &byte, 1);
            errno = saved;
        };
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &oldInt_);
        ::sigaction(SIGTERM, &action, &oldTerm_);
    }
    ~WatchInterruption() {
        if (pipe_[0] < 0) {
            return;
        }
        ::sigaction(SIGINT, &oldInt_, nullptr);
        ::sigaction(SIGTERM, &oldTerm_, nullptr);
        writeEnd = -1;
        ::close(pipe_[0]);
        ::close(pipe_[1]);
    }
    WatchInterruption(const WatchInterruption&) = delete;
    WatchInterruption& operator=(const WatchInterruption&) = delete;

    bool waitUntil(std::chrono::steady_clock::time_point deadline) const {
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return true;
            }
            pollfd fd{pipe_[0], POLLIN, 0};
            const int ready = ::poll(&fd, 1, static_cast<int>(left.count()));
            if (ready > 0) {
                return false;
            }
            if (ready < 0 && errno != EINTR) {
                return false; // cannot wait: stop rather than spin
            }
        }
    }

private:
    static inline volatile sig_atomic_t writeEnd = -1;
    int pipe_[2] = {-1, -1};
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

void printDetailsJson(const std::optional<MCMemoryDetails>& details, std::ostream& out) {
    if (!details) {
        out << ",\"available\":null,\"swapTotal\":null,\"swapFree\":null,\"pressure\":null";
        return;
    }
    out << ",\"available\":" << details->availableMemory << ",\"swapTotal\":" << details->swapTotal
        << ",\"swapFree\":" << details->swapFree << ",\"pressure\":";
    if (details->pressure) {
        out << "{\"some10\":" << twoDecimals(details->pressure->some10)
            << ",\"full10\":" << twoDecimals(details->pressure->full10) << "}";
    } else {
        out << "null";
    }
}

void printDetailsText(const std::optional<MCMemoryDetails>& details, const MCNumberFormat& numbers,
                      std::ostream& out) {
    if (!details) {
        out << "available:  unknown\n"
            << "swap total: unknown\n"
            << "swap free:  unknown\n"
            << "pressure:   unknown\n";
        return;
    }
    out << "available:  " << details->availableMemory << " bytes\n"
        << "swap total: " << details->swapTotal << " bytes\n"
        << "swap free:  " << details->swapFree << " bytes\n";
    if (const auto& pressure = details->pressure) {
        out << "pressure:   some " << twoDecimals(pressure->some10, numbers) << " %, full "
            << twoDecimals(pressure->full10, numbers) << " % ("
            << pressureStateName(::pressureState(*pressure)) << ")\n";
    } else {
        out << "pressure:   not reported by this kernel\n";
    }
}

int printSample(const MCCommandLine& command, const MCCommandLineSources& sources,
                std::ostream& out, std::ostream& err) {
    const auto sample = sources.memory.currentMemoryUsage();
    if (!sample) {
        err << "brimwell: cannot read the kernel's memory counters\n";
        return 1;
    }
    const auto details = sources.details.currentDetails();
    if (command.json) {
        out << "{\"wired\":" << sample->wiredMemory << ",\"active\":" << sample->activeMemory
            << ",\"inactive\":" << sample->inactiveMemory << ",\"free\":" << sample->freeMemory
            << ",\"freeText\":" << jsonString(MCUtil::friendlySizeNumber(sample->freeMemory));
        printDetailsJson(details, out);
        out << "}\n";
    } else {
        out << "wired:    " << sample->wiredMemory << " bytes\n"
            << "active:   " << sample->activeMemory << " bytes\n"
            << "inactive: " << sample->inactiveMemory << " bytes\n"
            << "free:     " << sample->freeMemory << " bytes\n"
            << "free memory: " << MCUtil::friendlySizeNumber(sample->freeMemory, command.numbers)
            << "\n";
        printDetailsText(details, command.numbers, out);
    }
    out << std::flush;
    return out ? 0 : 1;
}

int watchSamples(const MCCommandLine& command, const MCCommandLineSources& sources,
                 std::ostream& out, std::ostream& err) {
    std::optional<WatchInterruption> signals;
    std::function<bool(std::chrono::steady_clock::time_point)> waitUntil = sources.waitUntil;
    if (!waitUntil) {
        signals.emplace();
        waitUntil = [&signals](auto deadline) { return signals->waitUntil(deadline); };
    }
    const auto interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(*command.watchSeconds));
    auto next = std::chrono::steady_clock::now();
    for (bool first = true;; first = false) {
        if (!first && !command.json) {
            out << "\n"; // a blank line between the samples of the text form
        }
        if (const int status = printSample(command, sources, out, err); status != 0) {
            return status;
        }
        // Every interval from the start, not after each sample: no drift; a late sample skips
        // the slots it missed.
        const auto now = std::chrono::steady_clock::now();
        do {
            next += interval;
        } while (next <= now);
        if (!waitUntil(next)) {
            return 0;
        }
    }
}

int printTop(const MCCommandLine& command, const MCCommandLineSources& sources, std::ostream& out,
             std::ostream& err) {
    if (!sources.processes.isReadable()) {
        err << "brimwell: cannot read the list of processes\n";
        return 1;
    }
    const std::vector<MCProcess> top = sources.processes.biggest(command.topCount);
    if (command.json) {
        out << "[";
        for (std::size_t i = 0; i < top.size(); ++i) {
            out << (i == 0 ? "" : ",") << "{\"pid\":" << top[i].pid
                << ",\"name\":" << jsonString(top[i].name) << ",\"bytes\":" << top[i].bytes << "}";
        }
        out << "]\n";
    } else {
        char line[128];
        std::snprintf(line, sizeof line, "%7s  %14s  %-10s  %s\n", "PID", "BYTES", "SIZE", "NAME");
        out << line;
        for (const MCProcess& process : top) {
            std::snprintf(line, sizeof line, "%7d  %14lld  %-10s  ", process.pid,
                          static_cast<long long>(process.bytes),
                          MCUtil::friendlySizeNumber(process.bytes, command.numbers).c_str());
            out << line << process.name << "\n";
        }
    }
    out << std::flush;
    return out ? 0 : 1;
}

} // namespace

int runCommandLine(const MCCommandLine& command, MCMemoryController& memory, std::ostream& out,
                   std::ostream& err, bool errIsTerminal) {
    const MCMemoryDetailsReader details;
    const MCProcessReader processes;
    return runCommandLine(command, MCCommandLineSources{memory, details, processes, {}}, out, err,
                          errIsTerminal);
}

int runCommandLine(const MCCommandLine& command, const MCCommandLineSources& sources,
                   std::ostream& out, std::ostream& err, bool errIsTerminal) {
    using Mode = MCCommandLine::Mode;
    switch (command.mode) {
    case Mode::Help:
        out << MCCommandLine::usage("brimwell");
        return 0;
    case Mode::Version:
        out << "brimwell " << BRIMWELL_VERSION << "\n";
        return 0;
    case Mode::Sample:
        return command.watchSeconds ? watchSamples(command, sources, out, err)
                                    : printSample(command, sources, out, err);
    case Mode::Top:
        return printTop(command, sources, out, err);
    case Mode::Clean: {
        if (const auto& warning = sources.memory.configurationWarning()) {
            err << "brimwell: " << *warning << "\n";
            DDLogWarn("%@", *warning);
        }
        const auto before = sources.memory.currentMemoryUsage();
        if (!before) {
            err << "brimwell: cannot read the kernel's memory counters; nothing was cleaned\n";
            return 1;
        }
        const std::string line = "Cleaning...";
        MCMemoryController::Progress progress;
        if (errIsTerminal) {
            err << line << std::flush;
            progress = [&err, &line](int percent) {
                err << "\r" << line << " " << percent << " %" << std::flush;
            };
        }
        const MCCleanOutcome outcome = sources.memory.clean(progress);
        if (errIsTerminal) {
            // Wipe the progress line: what follows stands alone.
            err << "\r" << std::string(line.size() + 6, ' ') << "\r" << std::flush;
        }
        if (command.verbose) {
            err << cleanOutcomeText(outcome, command.numbers) << "\n";
        }
        const auto after = sources.memory.currentMemoryUsage();
        if (!after) {
            err << "brimwell: cannot read the kernel's memory counters after the clean\n";
            return 1;
        }
        const std::int64_t freed = after->freeMemory - before->freeMemory;
        if (command.json) {
            out << "{\"freed\":" << freed << ",\"text\":" << jsonString(cleanResultText(freed))
                << "}\n";
        } else {
            out << cleanResultText(freed, command.numbers) << "\n";
        }
        return 0;
    }
    case Mode::Panel:
        break;
    }
    err << "brimwell: the panel needs the desktop\n";
    return 2;
}
