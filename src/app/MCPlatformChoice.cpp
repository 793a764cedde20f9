#include "app/MCPlatformChoice.h"

#include <cstdlib>
#include <cstring>

namespace {

bool set(const char* value) {
    return value != nullptr && value[0] != '\0';
}

bool environmentSet = false;

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

bool MCPlatformChoice::takePlatformOption(std::vector<std::string>& args) {
    for (auto it = args.begin(); it != args.end(); ++it) {
        if ((*it == "-platform" || *it == "--platform") && it + 1 != args.end()) {
            args.erase(it, it + 2);
            return true;
        }
    }
    return false;
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
