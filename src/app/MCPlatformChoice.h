#pragma once
// Which of Qt's window-system platforms the tray application runs on.
//
// A popover has to be placed next to the tray icon, which Wayland does not let an application
// do. In a Wayland session that offers XWayland the application therefore runs as an X client
// (its popover closes when it loses the focus, as XWayland shows it no clicks in Wayland
// windows); without XWayland it runs on Wayland and opens its panel in a normal window. A
// platform the user chose (QT_QPA_PLATFORM, -platform) always stands.

#include <functional>
#include <string>
#include <vector>

struct MCPlatformChoice {
    // The value for QT_QPA_PLATFORM; empty leaves Qt's own choice alone.
    std::string platform;

    // Reads the environment through `getenv` (null or empty: not set).
    static MCPlatformChoice choose(const std::function<const char*(const char*)>& getenv,
                                   bool platformOnCommandLine);

    // Takes Qt's "-platform NAME" (or "--platform NAME") out of `args`, so the application's own
    // options can be read; Qt still reads it from argv. True when one was there.
    static bool takePlatformOption(std::vector<std::string>& args);

    // Chooses from the process's environment and sets QT_QPA_PLATFORM; call before the
    // application object exists.
    static MCPlatformChoice apply(bool platformOnCommandLine);
    // Once the application object exists: takes back what apply set, so programs started
    // from here (the mail program) choose their own platform.
    static void releaseEnvironment();
};
