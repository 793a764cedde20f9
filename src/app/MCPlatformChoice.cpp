#include "app/MCPlatformChoice.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

bool set(const char* value) {
    return value != nullptr && value[0] != '\0';
}

bool environmentSet = false;

// Qt's options as QGuiApplication and QApplication document them (the X11 ones are read by the
// xcb platform).
struct QtOptionName {
    std::string_view name;
    bool valueFollows;
};
constexpr std::array kQtOptions = {
    QtOptionName{"platform", true},        QtOptionName{"platformpluginpath", true},
    QtOptionName{"platformtheme", true},   QtOptionName{"plugin", true},
    QtOptionName{"qwindowgeometry", true}, QtOptionName{"qwindowicon", true},
    QtOptionName{"qwindowtitle", true},    QtOptionName{"session", true},
    QtOptionName{"display", true},         QtOptionName{"geometry", true},
    QtOptionName{"style", true},           QtOptionName{"stylesheet", true},
    QtOptionName{"reverse", false},        QtOptionName{"widgetcount", false},
};

// Where a Wayland client connects: $WAYLAND_DISPLAY (default wayland-0) in $XDG_RUNTIME_DIR,
// unless it is a path of its own.
std::string waylandSocket(const std::function<const char*(const char*)>& getenv) {
    const char* display = getenv("WAYLAND_DISPLAY");
    const std::string name = set(display) ? display : "wayland-0";
    if (name.front() == '/') {
        return name;
    }
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    return set(runtime) ? std::string(runtime) + "/" + name : std::string();
}

bool unixSocketAnswers(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// A server that accepts and then stays silent would hold xcb_connect forever, so a child process
// asks it and reports through a pipe; when the time is up the child is killed. (A thread left
// behind would share libxcb's and libXau's state with the exit that follows.)
bool xServerAnswers(const std::string& display, std::chrono::milliseconds timeout) {
    std::array<int, 2> pipe{};
    if (::pipe2(pipe.data(), O_CLOEXEC) != 0) {
        return false;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe[0]);
        xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
        const char answered = xcb_connection_has_error(connection) == 0 ? '1' : '0';
        xcb_disconnect(connection);
        const ssize_t written = ::write(pipe[1], &answered, 1);
        ::_exit(written == 1 ? 0 : 1);
    }
    ::close(pipe[1]);
    char answer = '0';
    if (child > 0) {
        pollfd ready{pipe[0], POLLIN, 0};
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            const int n = ::poll(&ready, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
            if (n > 0 && ::read(pipe[0], &answer, 1) != 1) {
                answer = '0';
            }
            if (n >= 0 || errno != EINTR) {
                break;
            }
        }
        ::kill(child, SIGKILL);
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    ::close(pipe[0]);
    return answer == '1';
}

} // namespace

MCPlatformChoice MCPlatformChoice::choose(const std::function<const char*(const char*)>& getenv,
                                          bool platformOnCommandLine) {
    if (platformOnCommandLine || set(getenv("QT_QPA_PLATFORM"))) {
        return {};
    }
    const char* sessionType = getenv("XDG_SESSION_TYPE");
    const bool wayland = set(getenv("WAYLAND_DISPLAY")) ||
                         (sessionType != nullptr && std::strcmp(sessionType, "wayland") == 0);
    const bool x11 = set(getenv("DISPLAY"));
    if (wayland && x11) {
        // XWayland first; should its display not answer, Wayland itself.
        return {"xcb;wayland"};
    }
    if (wayland) {
        return {"wayland"};
    }
    return {};
}

std::optional<MCPlatformChoice::QtOption> MCPlatformChoice::qtOption(std::string_view arg) {
    if (arg.starts_with("--")) {
        arg.remove_prefix(2);
    } else if (arg.starts_with("-")) {
        arg.remove_prefix(1);
    } else {
        return std::nullopt;
    }
    for (const QtOptionName& option : kQtOptions) {
        if (arg == option.name) {
            return QtOption{option.name, option.valueFollows};
        }
    }
    for (std::string_view inlineValue : {"style", "stylesheet"}) {
        if (arg.starts_with(inlineValue) && arg.size() > inlineValue.size() &&
            arg[inlineValue.size()] == '=') {
            return QtOption{inlineValue, false};
        }
    }
    return std::nullopt;
}

MCPlatformChoice MCPlatformChoice::apply(bool platformOnCommandLine) {
    const MCPlatformChoice choice =
        choose([](const char* name) { return std::getenv(name); }, platformOnCommandLine);
    if (!choice.platform.empty()) {
        ::setenv("QT_QPA_PLATFORM", choice.platform.c_str(), 1);
        environmentSet = true;
    }
    return choice;
}

void MCPlatformChoice::releaseEnvironment() {
    if (environmentSet) {
        ::unsetenv("QT_QPA_PLATFORM");
        environmentSet = false;
    }
}

bool MCPlatformChoice::desktopFound(const std::string& platforms, const std::string& xDisplay,
                                    const DesktopProbes& probes) {
    std::string_view rest = platforms.empty() ? std::string_view("xcb") : platforms;
    while (!rest.empty()) {
        const std::size_t end = rest.find(';');
        const std::string_view entry = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        // "xcb:option=value": the platform's own options follow its name.
        const std::string_view name = entry.substr(0, entry.find(':'));
        if (name.empty()) {
            continue;
        }
        if (name == "xcb") {
            const char* environment = probes.getenv("DISPLAY");
            const std::string display =
                !xDisplay.empty() ? xDisplay : (set(environment) ? environment : "");
            if (!display.empty() && probes.xAnswers(display)) {
                return true;
            }
        } else if (name.starts_with("wayland")) {
            // A connection handed down by the compositor that started us.
            if (set(probes.getenv("WAYLAND_SOCKET"))) {
                return true;
            }
            const std::string socket = waylandSocket(probes.getenv);
            if (!socket.empty() && probes.waylandAnswers(socket)) {
                return true;
            }
        } else {
            return true;
        }
    }
    return false;
}

bool MCPlatformChoice::desktopFound(const std::string& platforms, const std::string& xDisplay,
                                    std::chrono::milliseconds timeout) {
    return desktopFound(
        platforms, xDisplay,
        {[](const char* name) { return std::getenv(name); },
         [timeout](const std::string& display) { return xServerAnswers(display, timeout); },
         unixSocketAnswers});
}
