// The real program's command-line conventions: a failed write to standard output is a failure,
// no desktop is one clear line instead of Qt's abort, and Qt's own options reach Qt.

#include "support/Shell.h"
#include "support/SilentXServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char* kNoDesktop = "brimwell: no desktop found; try --sample or --clean\n";

struct Outcome {
    int status = -1;
    std::string err; // standard error only
};

// Runs the real binary through the shell with `env` before it (an env(1) argument list) and
// standard output sent to `out`. A run still going after 60 s is killed (status 124).
Outcome runBrimwell(const std::string& env, const std::string& args, const std::string& out) {
    const std::string command =
        "timeout 60 env " + env + " '" + BRIMWELL_BINARY + "' " + args + " 2>&1 >" + out;
    ShellRun run = runShell(command);
    return {run.status, std::move(run.out)};
}

// No display, no bus, and a private run-time folder, whatever the test runs in.
std::string bareEnvironment(const TempDir& dir) {
    return "-u DISPLAY -u WAYLAND_DISPLAY -u WAYLAND_SOCKET -u QT_QPA_PLATFORM "
           "-u XDG_SESSION_TYPE -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR=" +
           dir.path().string() + " HOME=" + dir.path().string() +
           " XDG_CONFIG_HOME=" + dir.path().string() + "/config BRIMWELL_CLEAN_MAX_BYTES=16M";
}

TEST(CommandLineConventions, FailedWriteToStandardOutputFailsEveryMode) {
    const TempDir dir;
    const std::string env = bareEnvironment(dir);
    for (const char* args :
         {"--help", "--version", "--sample", "--sample --json", "--top 3", "--top 3 --json",
          "--sample --watch 0.1", "--sample --watch 0.1 --json", "--clean", "--clean --json"}) {
        const Outcome full = runBrimwell(env, args, "/dev/full");
        EXPECT_EQ(full.status, 1) << args;
        // One line, with the reason in the user's language.
        EXPECT_EQ(full.err.rfind("brimwell: cannot write to standard output: ", 0), 0U) << args;
        EXPECT_EQ(full.err.find('\n'), full.err.size() - 1) << args << "\n" << full.err;
        if (std::string(args).find("--watch") != std::string::npos) {
            continue; // runs until interrupted when its writes succeed
        }
        const Outcome ok = runBrimwell(env, args, "/dev/null");
        EXPECT_EQ(ok.status, 0) << args << "\n" << ok.err;
        EXPECT_EQ(ok.err.find("cannot write"), std::string::npos) << args;
    }
    // A closed standard output is no success either.
    const Outcome closed = runBrimwell(env, "--version", "&-");
    EXPECT_EQ(closed.status, 1);
    EXPECT_NE(closed.err.find("brimwell: cannot write to standard output"), std::string::npos)
        << closed.err;
}

TEST(CommandLineConventions, NoDesktopIsOneLineAndStatusOne) {
    const TempDir dir;
    const std::string env = bareEnvironment(dir);
    const SilentXServer silent;
    ASSERT_FALSE(silent.display().empty()) << "no free loopback port for a silent X server";
    std::filesystem::create_directory(dir.path() / "stale-socket-folder");
    const struct {
        const char* name;
        std::string env;
        std::string args;
    } cases[] = {
        {"nothing set", "", ""},
        {"a screenshot needs a desktop too", "", "--screenshot " + dir.path().string() + "/p.png"},
        {"no X server on the display", "DISPLAY=:97", ""},
        {"X server that never answers", "DISPLAY=" + silent.display(), ""},
        {"-display names a missing server", "", "-display :97"},
        {"xcb chosen without a display", "QT_QPA_PLATFORM=xcb", ""},
        {"-platform xcb without a display", "", "-platform xcb"},
        {"no compositor on the socket", "WAYLAND_DISPLAY=wayland-97", ""},
        {"Wayland session type, no compositor", "XDG_SESSION_TYPE=wayland", ""},
        {"Wayland socket path that is a folder",
         "QT_QPA_PLATFORM=wayland WAYLAND_DISPLAY=" + (dir.path() / "stale-socket-folder").string(),
         "--verbose"},
    };
    for (const auto& c : cases) {
        const Outcome run = runBrimwell(env + " " + c.env, c.args, "/dev/null");
        EXPECT_EQ(run.status, 1) << c.name;
        EXPECT_EQ(run.err, kNoDesktop) << c.name;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "p.png"));
}

// Platforms without a display, chosen by the user, stand; Qt's options reach Qt, which says so
// in its own words (an unknown style, the widget count at exit).
TEST(CommandLineConventions, ChosenPlatformsStandAndQtOptionsReachQt) {
    const TempDir dir;
    const std::string env = bareEnvironment(dir);
    const std::string picture = dir.path().string() + "/panel.png";
    const struct {
        const char* name;
        std::string env;
        std::string args;
        const char* qtSays;
    } cases[] = {
        {"offscreen from the environment", "QT_QPA_PLATFORM=offscreen", "", nullptr},
        {"offscreen from the command line", "", "-platform offscreen", nullptr},
        {"a style Qt does not know", "", "--platform offscreen -style nosuchstyle", "nosuchstyle"},
        {"the widget count", "QT_QPA_PLATFORM=minimal", "--widgetcount -reverse", "Widgets left"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(picture);
        const Outcome run =
            runBrimwell(env + " " + c.env, c.args + " --screenshot " + picture, "/dev/null");
        EXPECT_EQ(run.status, 0) << c.name << "\n" << run.err;
        EXPECT_TRUE(std::filesystem::exists(picture)) << c.name;
        EXPECT_EQ(run.err.find("no desktop found"), std::string::npos) << c.name;
        if (c.qtSays != nullptr) {
            EXPECT_NE(run.err.find(c.qtSays), std::string::npos) << c.name << "\n" << run.err;
        }
    }
    // Without the panel Qt never starts: its options are a usage error there.
    const Outcome sample = runBrimwell(env, "--sample -style fusion", "/dev/null");
    EXPECT_EQ(sample.status, 2);
    EXPECT_EQ(sample.err.rfind("brimwell: Qt's option -style goes with the panel only\n", 0), 0U)
        << sample.err;
}

} // namespace
