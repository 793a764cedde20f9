#pragma once
// Which of Qt's window-system platforms the tray application runs on.
//
// A popover has to be placed next to the tray icon, which Wayland does not let an application
// do. In a Wayland session that offers XWayland the application therefore runs as an X client
// (its popover closes when it loses the focus, as XWayland shows it no clicks in Wayland
// windows); without XWayland it runs on Wayland and opens its panel in a normal window. A
// platform the user chose (QT_QPA_PLATFORM, -platform) always stands.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

struct MCPlatformChoice {
    // The value for QT_QPA_PLATFORM; empty leaves Qt's own choice alone.
    std::string platform;

    // Reads the environment through `getenv` (null or empty: not set).
    static MCPlatformChoice choose(const std::function<const char*(const char*)>& getenv,
                                   bool platformOnCommandLine);

    // One of Qt's own command-line options, which Qt reads from the arguments it is given:
    // its name without dashes, and whether the next argument is its value. Qt takes each with
    // one dash or two, and -style and -stylesheet also as "-style=VALUE".
    struct QtOption {
        std::string_view name;
        bool valueFollows;
    };
    static std::optional<QtOption> qtOption(std::string_view arg);

    // Chooses from the process's environment and sets QT_QPA_PLATFORM; call before the
    // application object exists.
    static MCPlatformChoice apply(bool platformOnCommandLine);
    // Once the application object exists: takes back what apply set, so programs started
    // from here (the mail program) choose their own platform.
    static void releaseEnvironment();

    // Whether one of the platforms Qt will try (a QT_QPA_PLATFORM list such as "xcb;wayland";
    // empty: Qt's default, xcb) has a desktop: an X server that accepts a connection to
    // `xDisplay` (or $DISPLAY), a Wayland compositor's socket. Any other platform (offscreen,
    // minimal, vnc...) counts as chosen on purpose. Without this Qt aborts on a missing display.
    struct DesktopProbes {
        std::function<const char*(const char*)> getenv;
        std::function<bool(const std::string& display)> xAnswers;
        std::function<bool(const std::string& socketPath)> waylandAnswers;
    };
    static bool desktopFound(const std::string& platforms, const std::string& xDisplay,
                             const DesktopProbes& probes);
    // The same on the live system. An X server gets `timeout` to complete the connection.
    static bool desktopFound(const std::string& platforms, const std::string& xDisplay,
                             std::chrono::milliseconds timeout);
};
