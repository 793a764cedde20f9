// The window-system platform the tray application asks Qt for, from the session's environment
// and the command line.

#include "app/MCPlatformChoice.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

struct Case {
    const char* name;
    std::map<std::string, std::string> environment;
    bool platformOnCommandLine;
    const char* platform;
};

const Case kCases[] = {
    {"plain X11", {{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "x11"}}, false, ""},
    {"X11 without a session type", {{"DISPLAY", ":0"}}, false, ""},
    {"Wayland with XWayland",
     {{"DISPLAY", ":1"}, {"WAYLAND_DISPLAY", "wayland-0"}},
     false,
     "xcb;wayland"},
    {"Wayland session type with XWayland",
     {{"DISPLAY", ":1"}, {"XDG_SESSION_TYPE", "wayland"}},
     false,
     "xcb;wayland"},
    {"Wayland only", {{"WAYLAND_DISPLAY", "wayland-0"}}, false, "wayland"},
    {"Wayland, empty DISPLAY",
     {{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ""}},
     false,
     "wayland"},
    {"Wayland session type only", {{"XDG_SESSION_TYPE", "wayland"}}, false, "wayland"},
    {"user's platform variable",
     {{"DISPLAY", ":1"}, {"WAYLAND_DISPLAY", "wayland-0"}, {"QT_QPA_PLATFORM", "wayland"}},
     false,
     ""},
    {"user's platform option", {{"DISPLAY", ":1"}, {"WAYLAND_DISPLAY", "wayland-0"}}, true, ""},
    {"empty platform variable is no choice",
     {{"DISPLAY", ":1"}, {"WAYLAND_DISPLAY", "wayland-0"}, {"QT_QPA_PLATFORM", ""}},
     false,
     "xcb;wayland"},
    {"tty session", {{"XDG_SESSION_TYPE", "tty"}}, false, ""},
    {"nothing at all", {}, false, ""},
};

TEST(PlatformChoice, FollowsTheSession) {
    for (const Case& c : kCases) {
        const auto getenv = [&c](const char* name) -> const char* {
            const auto it = c.environment.find(name);
            return it == c.environment.end() ? nullptr : it->second.c_str();
        };
        EXPECT_EQ(MCPlatformChoice::choose(getenv, c.platformOnCommandLine).platform, c.platform)
            << c.name;
    }
}

TEST(PlatformChoice, TakesQtsPlatformOptionOnly) {
    struct Row {
        std::vector<std::string> args;
        bool taken;
        std::vector<std::string> left;
    };
    const Row rows[] = {
        {{"-platform", "wayland"}, true, {}},
        {{"--verbose", "--platform", "xcb", "--screenshot", "a.png"},
         true,
         {"--verbose", "--screenshot", "a.png"}},
        {{"--verbose"}, false, {"--verbose"}},
        // No value: not Qt's option; the application reports it as unknown.
        {{"--verbose", "-platform"}, false, {"--verbose", "-platform"}},
        {{"--screenshot", "-platform"}, false, {"--screenshot", "-platform"}},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args = row.args;
        EXPECT_EQ(MCPlatformChoice::takePlatformOption(args), row.taken);
        EXPECT_EQ(args, row.left);
    }
}

} // namespace
