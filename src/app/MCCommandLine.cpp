#include "MCCommandLine.h"

#include "DDASLLogger.h"
#include "DDLog.h"
#include "MCCleanReport.h"
#include "MCLogFormatter.h"
#include "MCMemoryController.h"
#include "MCUtil.h"

#include <ostream>

#ifndef BRIMWELL_VERSION
#error "BRIMWELL_VERSION must come from the build"
#endif

namespace {

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
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
        } else {
            return Error{"unknown option: " + arg};
        }
        if (error) {
            return *error;
        }
    }
    if (command.json && command.mode != Mode::Sample && command.mode != Mode::Clean) {
        return Error{"--json goes with --sample or --clean"};
    }
    if (!command.screenshotPath.empty() && command.mode != Mode::Panel) {
        return Error{"--screenshot goes with the panel only"};
    }
    return command;
}

std::string MCCommandLine::usage(const std::string& program) {
    return "Usage: " + program +
           " [OPTION]\n"
           "Shows how memory is used and frees memory on request.\n"
           "\n"
           "With no option, opens the memory panel.\n"
           "  --sample            print wired, active, inactive and free memory in bytes\n"
           "  --clean             free memory now and print how much was freed\n"
           "  --json              with --sample or --clean: print one JSON object\n"
           "  --screenshot FILE   open the panel, save a PNG picture of it to FILE, quit\n"
           "  -v, --verbose       log everything, not only errors and warnings\n"
           "  -h, --help          show this help\n"
           "  -V, --version       show the version\n"
           "\n"
           "Environment:\n"
           "  BRIMWELL_CLEAN_MAX_BYTES   most bytes one clean pass may write (e.g. 512M)\n";
}

void setupCommandLineLog() {
    auto asl = DDASLLogger::sharedInstance();
    asl->setLogFormatter(std::make_shared<MCLogFormatter>());
    DDLog::addLogger(asl);
}

int runCommandLine(const MCCommandLine& command, MCMemoryController& memory, std::ostream& out,
                   std::ostream& err, bool errIsTerminal) {
    using Mode = MCCommandLine::Mode;
    switch (command.mode) {
    case Mode::Help:
        out << MCCommandLine::usage("brimwell");
        return 0;
    case Mode::Version:
        out << "brimwell " << BRIMWELL_VERSION << "\n";
        return 0;
    case Mode::Sample: {
        const auto sample = memory.currentMemoryUsage();
        if (!sample) {
            err << "brimwell: cannot read the kernel's memory counters\n";
            return 1;
        }
        const std::string freeText = MCUtil::friendlySizeNumber(sample->freeMemory);
        if (command.json) {
            out << "{\"wired\":" << sample->wiredMemory << ",\"active\":" << sample->activeMemory
                << ",\"inactive\":" << sample->inactiveMemory << ",\"free\":" << sample->freeMemory
                << ",\"freeText\":" << jsonString(freeText) << "}\n";
        } else {
            out << "wired:    " << sample->wiredMemory << " bytes\n"
                << "active:   " << sample->activeMemory << " bytes\n"
                << "inactive: " << sample->inactiveMemory << " bytes\n"
                << "free:     " << sample->freeMemory << " bytes\n"
                << "free memory: " << freeText << "\n";
        }
        return 0;
    }
    case Mode::Clean: {
        if (const auto& warning = memory.configurationWarning()) {
            err << "brimwell: " << *warning << "\n";
            DDLogWarn("%@", *warning);
        }
        const auto before = memory.currentMemoryUsage();
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
        const MCCleanOutcome outcome = memory.clean(progress);
        if (errIsTerminal) {
            // Wipe the progress line: what follows stands alone.
            err << "\r" << std::string(line.size() + 6, ' ') << "\r" << std::flush;
        }
        if (command.verbose) {
            err << cleanOutcomeText(outcome) << "\n";
        }
        const auto after = memory.currentMemoryUsage();
        if (!after) {
            err << "brimwell: cannot read the kernel's memory counters after the clean\n";
            return 1;
        }
        const std::int64_t freed = after->freeMemory - before->freeMemory;
        const std::string text = cleanResultText(freed);
        if (command.json) {
            out << "{\"freed\":" << freed << ",\"text\":" << jsonString(text) << "}\n";
        } else {
            out << text << "\n";
        }
        return 0;
    }
    case Mode::Panel:
        break;
    }
    err << "brimwell: the panel needs the desktop\n";
    return 2;
}
