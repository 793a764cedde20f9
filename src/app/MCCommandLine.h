#pragma once
// The command-line front of the brimwell binary, for scripts and machines without a desktop.

#include <iosfwd>
#include <string>
#include <variant>
#include <vector>

class MCMemoryController;

struct MCCommandLine {
    enum class Mode { Panel, Sample, Clean, Help, Version };
    Mode mode = Mode::Panel;
    bool json = false;
    bool verbose = false;       // log everything, down to each refresh of the panel
    std::string screenshotPath; // Panel mode: save a picture of the panel here and quit

    struct Error {
        std::string message;
    };

    // The options after the program name. An Error for anything not understood.
    static std::variant<MCCommandLine, Error> parse(const std::vector<std::string>& args);
    static std::string usage(const std::string& program);
};

// Runs a non-panel mode. Returns the process's exit status. With `errIsTerminal`, a clean shows
// its progress on `err`.
int runCommandLine(const MCCommandLine& command, MCMemoryController& memory, std::ostream& out,
                   std::ostream& err, bool errIsTerminal = false);

// The command line's log: the system log only, since its own messages go to standard error.
void setupCommandLineLog();
