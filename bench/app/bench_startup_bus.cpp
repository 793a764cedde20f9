// Start-up of the tray application whatever the session bus does: launch to popover shown with
// a live bus, a bus that accepts and never answers, an address that is no bus, and no bus; how
// long a second start takes to hand over to the running copy; and how long a start beside a
// stopped copy waits before it gives up. Runs itself on a private desktop with a tray.
//   bench_startup_bus [path/to/brimwell]   (default: the brimwell built beside it)

#include "support/SilentBus.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRuns = 5;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string run(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, p) != nullptr) {
            out += line;
        }
        ::pclose(p);
    }
    return out;
}

// A visible window of `pid` larger than a tray icon: the popover.
bool popoverShown(pid_t pid) {
    const std::string ids =
        run("xdotool search --onlyvisible --pid " + std::to_string(pid) + " 2>/dev/null");
    std::size_t at = 0;
    while (at < ids.size()) {
        const std::size_t end = ids.find('\n', at);
        const std::string id = ids.substr(at, end - at);
        at = end == std::string::npos ? ids.size() : end + 1;
        if (id.empty()) {
            continue;
        }
        const std::string shell = run("xdotool getwindowgeometry --shell " + id);
        const auto value = [&shell](const char* key) {
            const std::size_t k = shell.find(key);
            return k == std::string::npos ? 0 : std::atoi(shell.c_str() + k + std::strlen(key));
        };
        if (value("WIDTH=") > 100 && value("HEIGHT=") > 100) {
            return true;
        }
    }
    return false;
}

pid_t spawn(const std::string& binary, const std::string& busAddress, bool quiet = true) {
    std::fflush(nullptr); // or the child prints what is still buffered here
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (busAddress.empty()) {
            ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        } else {
            ::setenv("DBUS_SESSION_BUS_ADDRESS", busAddress.c_str(), 1);
        }
        if (quiet) {
            const int null = ::open("/dev/null", O_WRONLY);
            if (null >= 0) {
                ::dup2(null, STDOUT_FILENO);
                ::dup2(null, STDERR_FILENO);
            }
        }
        ::execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

int reap(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void stop(pid_t pid) {
    ::kill(pid, SIGCONT);
    ::kill(pid, SIGTERM);
    reap(pid);
}

// Launch to popover shown, in milliseconds; -1 when it did not show within 20 s.
double launchToPopover(const std::string& binary, const std::string& bus, pid_t& pid) {
    const auto start = Clock::now();
    pid = spawn(binary, bus);
    while (!popoverShown(pid)) {
        if (msSince(start) > 20000) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return msSince(start);
}

void report(const char* label, std::vector<double> ms, const char* target) {
    std::sort(ms.begin(), ms.end());
    std::printf("%-44s median %6.0f ms   max %6.0f ms   %s\n", label, ms[ms.size() / 2], ms.back(),
                target);
}

} // namespace

int main(int argc, char** argv) {
    std::string binary = argc > 1 ? argv[1] : std::string(BRIMWELL_BINARY);
    if (std::getenv("BRIMWELL_BENCH_INSIDE") == nullptr) {
        ::setenv("BRIMWELL_BENCH_INSIDE", "1", 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        char self[4096] = {};
        if (::readlink("/proc/self/exe", self, sizeof self - 1) < 0) {
            return 1;
        }
        ::execl(BRIMWELL_WITH_DESKTOP, BRIMWELL_WITH_DESKTOP, "--tray", "--no-notifications", self,
                binary.c_str(), static_cast<char*>(nullptr));
        std::perror(BRIMWELL_WITH_DESKTOP);
        return 1;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string live = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const SilentBus silent(std::string(runtime) + "/silent-bus");
    const std::string& silentAddress = silent.address();

    struct Case {
        const char* label;
        std::string bus;
    } cases[] = {
        {"launch to popover, live bus", live},
        {"launch to popover, silent bus", silentAddress},
        {"launch to popover, no bus", ""},
        {"launch to popover, broken address", "unix:path=/nonexistent/bus"},
    };
    for (const Case& c : cases) {
        std::vector<double> ms;
        for (int i = 0; i < kRuns; ++i) {
            pid_t pid = 0;
            const double shown = launchToPopover(binary, c.bus, pid);
            stop(pid);
            if (shown < 0) {
                std::printf("%s: the popover did not show\n", c.label);
                return 1;
            }
            ms.push_back(shown);
        }
        report(c.label, ms, "(target <= 2000 ms)");
    }

    for (const Case& c : {cases[0], cases[1], cases[2]}) {
        pid_t first = 0;
        if (launchToPopover(binary, c.bus, first) < 0) {
            return 1;
        }
        std::vector<double> handOver;
        for (int i = 0; i < kRuns; ++i) {
            const auto start = Clock::now();
            const int status = reap(spawn(binary, c.bus));
            handOver.push_back(msSince(start));
            if (status != 0) {
                std::printf("a second start ended with %d\n", status);
            }
        }
        const std::string label = std::string("second start") + (c.label + 17);
        report(label.c_str(), handOver, "(exits 0)");
        ::kill(first, SIGSTOP);
        const auto start = Clock::now();
        const int status = reap(spawn(binary, c.bus));
        const std::string stopped = std::string("start beside a stopped copy") + (c.label + 17);
        std::printf("%-44s %6.0f ms, exit status %d   (gives up, no second copy)\n",
                    stopped.c_str(), msSince(start), status);
        stop(first);
    }
    return 0;
}
