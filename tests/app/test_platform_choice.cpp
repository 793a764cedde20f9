// The window-system platform the tray application asks Qt for, from the session's environment
// and the command line.

#include "app/MCPlatformChoice.h"

#include "support/SilentXServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>

namespace {

// "NAME=value ..." read as the session's environment.
std::function<const char*(const char*)> environment(const std::string& text) {
    auto values = std::make_shared<std::map<std::string, std::string>>();
    std::istringstream in(text);
    for (std::string word; in >> word;) {
        (*values)[word.substr(0, word.find('='))] = word.substr(word.find('=') + 1);
    }
    return [values](const char* name) -> const char* {
        const auto it = values->find(name);
        return it == values->end() ? nullptr : it->second.c_str();
    };
}

TEST(PlatformChoice, FollowsTheSession) {
    const struct {
        const char* name;
        const char* environment;
        bool platformOnCommandLine;
        const char* platform;
    } cases[] = {
        {"plain X11", "DISPLAY=:0 XDG_SESSION_TYPE=x11", false, ""},
        {"Wayland with XWayland", "DISPLAY=:1 WAYLAND_DISPLAY=wayland-0", false, "xcb;wayland"},
        {"Wayland session type with XWayland", "DISPLAY=:1 XDG_SESSION_TYPE=wayland", false,
         "xcb;wayland"},
        {"Wayland only", "WAYLAND_DISPLAY=wayland-0", false, "wayland"},
        {"Wayland, empty DISPLAY", "WAYLAND_DISPLAY=wayland-0 DISPLAY=", false, "wayland"},
        {"Wayland session type only", "XDG_SESSION_TYPE=wayland", false, "wayland"},
        {"user's platform variable", "DISPLAY=:1 WAYLAND_DISPLAY=wayland-0 QT_QPA_PLATFORM=wayland",
         false, ""},
        {"user's platform option", "DISPLAY=:1 WAYLAND_DISPLAY=wayland-0", true, ""},
        {"empty platform variable is no choice",
         "DISPLAY=:1 WAYLAND_DISPLAY=wayland-0 QT_QPA_PLATFORM=", false, "xcb;wayland"},
        {"tty session", "XDG_SESSION_TYPE=tty", false, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(
            MCPlatformChoice::choose(environment(c.environment), c.platformOnCommandLine).platform,
            c.platform)
            << c.name;
    }
}

// Which desktops are asked before Qt starts (in order), and what their answers decide.
TEST(PlatformChoice, DesktopFound) {
    const std::string run = "XDG_RUNTIME_DIR=/run/user/7 ";
    const struct {
        const char* name;
        const char* platforms;
        const char* xDisplayOption;
        std::string environment;
        std::string answering; // X displays and Wayland sockets that answer
        bool found;
        std::string asked;
    } rows[] = {
        {"nothing set", "", "", "", "", false, ""},
        {"X silent", "", "", "DISPLAY=:0", "", false, ":0"},
        {"-display wins over DISPLAY", "", ":5", "DISPLAY=:0", ":5", true, ":5"},
        {"Qt's default is X only", "", "", run + "WAYLAND_DISPLAY=wayland-1",
         "/run/user/7/wayland-1", false, ""},
        {"Wayland answers", "wayland", "", run + "WAYLAND_DISPLAY=wayland-1",
         "/run/user/7/wayland-1", true, "/run/user/7/wayland-1"},
        {"Wayland's default socket", "wayland", "", run, "", false, "/run/user/7/wayland-0"},
        {"Wayland socket by path", "wayland-egl", "", "WAYLAND_DISPLAY=/tmp/w", "/tmp/w", true,
         "/tmp/w"},
        {"Wayland without a run-time folder", "wayland", "", "WAYLAND_DISPLAY=w", "", false, ""},
        {"Wayland socket handed down", "wayland", "", "WAYLAND_SOCKET=5", "", true, ""},
        {"XWayland silent, Wayland answers", "xcb;wayland", "",
         run + "DISPLAY=:1 WAYLAND_DISPLAY=wayland-0", "/run/user/7/wayland-0", true,
         ":1 /run/user/7/wayland-0"},
        {"XWayland answers first", "xcb;wayland", "", run + "DISPLAY=:1 WAYLAND_DISPLAY=wayland-0",
         ":1 /run/user/7/wayland-0", true, ":1"},
        {"platform arguments", "xcb:nograb", "", "DISPLAY=:2", ":2", true, ":2"},
        {"minimal after a silent X", "xcb;minimal", "", "DISPLAY=:2", "", true, ":2"},
        {"empty entries skipped", ";;xcb;", "", "DISPLAY=:2", "", false, ":2"},
    };
    for (const auto& row : rows) {
        std::string asked;
        auto answers = [&row, &asked](const std::string& where) {
            asked += (asked.empty() ? "" : " ") + where;
            return (" " + row.answering + " ").find(" " + where + " ") != std::string::npos;
        };
        const MCPlatformChoice::DesktopProbes probes{environment(row.environment), answers,
                                                     answers};
        EXPECT_EQ(MCPlatformChoice::desktopFound(row.platforms, row.xDisplayOption, probes),
                  row.found)
            << row.name;
        EXPECT_EQ(asked, row.asked) << row.name;
    }
}

// The live probes: an X server that hangs costs the timeout and then counts as none, one that
// refuses the connection is none; a Wayland socket path that is no socket is no compositor.
TEST(PlatformChoice, LiveProbesGiveUp) {
    const SilentXServer silent;
    const SilentXServer refusing(SilentXServer::Kind::Refusing);
    ASSERT_FALSE(silent.display().empty()) << "no free loopback port for a silent X server";
    ASSERT_FALSE(refusing.display().empty()) << "no free loopback port for a refusing X server";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(
        MCPlatformChoice::desktopFound("xcb", silent.display(), std::chrono::milliseconds(200)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_FALSE(
        MCPlatformChoice::desktopFound("xcb", refusing.display(), std::chrono::milliseconds(5000)));
    ::unsetenv("WAYLAND_SOCKET");
    ::setenv("WAYLAND_DISPLAY", "/", 1);
    EXPECT_FALSE(MCPlatformChoice::desktopFound("wayland", "", std::chrono::milliseconds(200)));
    ::unsetenv("WAYLAND_DISPLAY");
}

} // namespace
