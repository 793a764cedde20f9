#pragma once
// The command-line front of the brimwell binary, for scripts and machines without a desktop.

#include "memory/MCUtil.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

class MCMemoryController;
class MCMemoryDetailsReader;
class MCProcessReader;

struct MCCommandLine {
    enum class Mode { Panel, Sample, Clean, Help, Version, Top };
    Mode mode = Mode::Panel;
    bool json = false;
    bool verbose = false;       // log everything, down to each refresh of the panel
    std::string screenshotPath; // Panel mode: save a picture of the panel here and quit
    std::size_t topCount = 0;   // Top mode: how many processes
    // Sample mode: one sample per this many seconds until SIGINT or SIGTERM.
    std::optional<double> watchSeconds;
    // How the plain text writes numbers with a fraction; main() sets the user's locale. JSON
    // always uses the C form.
    MCNumberFormat numbers;
    // Panel mode: Qt's own options (-platform, -style...) with their values, as given.
    std::vector<std::string> qtArguments;

    static constexpr std::size_t kMaxTopCount = 100000;
    static constexpr double kMinWatchSeconds = 0.1;
    static constexpr double kMaxWatchSeconds = 86400;

    struct Error {
        std::string message;
    };

    // The options after the program name. An Error for anything not understood.
    static std::variant<MCCommandLine, Error> parse(const std::vector<std::string>& args);
    static std::string usage(const std::string& program);

    // The value given to Qt's option `name` ("platform", "display"); none when not given.
    std::optional<std::string> qtOptionValue(std::string_view name) const;
};

// Where a non-panel mode reads from, and how --watch waits.
struct MCCommandLineSources {
    MCMemoryController& memory;
    const MCMemoryDetailsReader& details;
    const MCProcessReader& processes;
    // Waits until the time given; false when the wait was interrupted (the watch then ends with
    // status 0). Empty: waits for SIGINT or SIGTERM, which are caught only while watching.
    std::function<bool(std::chrono::steady_clock::time_point)> waitUntil;
};

// Runs a non-panel mode. Returns the process's exit status. With `errIsTerminal`, a clean shows
// its progress on `err`.
int runCommandLine(const MCCommandLine& command, const MCCommandLineSources& sources,
                   std::ostream& out, std::ostream& err, bool errIsTerminal = false);
// The same with the live kernel's details and /proc beside `memory`.
int runCommandLine(const MCCommandLine& command, MCMemoryController& memory, std::ostream& out,
                   std::ostream& err, bool errIsTerminal = false);

// The command line's log: the system log only, since its own messages go to standard error.
void setupCommandLineLog();
