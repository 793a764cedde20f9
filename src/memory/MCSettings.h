#pragma once
// The user's choices beyond the panel itself, kept in the preferences file
// (~/.config/Brimwell/preferences) beside the rest:
//
//   key                          values                     default
//   TrayIconStyle                bar | plain                bar
//   LowMemoryNotification        1 | 0                      1
//   LowMemoryAvailablePercent    1..50                      10
//   AutoClean                    1 | 0                      0
//   AutoCleanUsedPercent         50..99                     90
//   AutoCleanIntervalMinutes     5..1440                    30
//   AnalyticsOptOut              as the analytics client reads it (analytics_opt_out.h)
//
// Numbers out of range are taken as the nearest end of it, text that is not understood as the
// default. Start at login is not kept here: the autostart entry itself says it (autostart.h).

#include "memory/MCThresholds.h"

#include <optional>
#include <string>

namespace platform {
class UserDefaults;
}

enum class MCTrayIconStyle {
    LevelBar, // the used fraction as a small bar in the icon
    Plain,    // the icon alone
};

struct MCSettings {
    static constexpr const char* kTrayIconStyleKey = "TrayIconStyle";
    static constexpr const char* kLowMemoryKey = "LowMemoryNotification";
    static constexpr const char* kLowMemoryPercentKey = "LowMemoryAvailablePercent";
    static constexpr const char* kAutoCleanKey = "AutoClean";
    static constexpr const char* kAutoCleanPercentKey = "AutoCleanUsedPercent";
    static constexpr const char* kAutoCleanIntervalKey = "AutoCleanIntervalMinutes";

    MCTrayIconStyle trayIconStyle = MCTrayIconStyle::LevelBar;
    MCLowMemoryConfig lowMemory;
    MCAutoCleanConfig autoClean;
    // Usage statistics (the four events) may be sent. Only one way to keep them off: a build
    // without a collection host and DO_NOT_TRACK keep them off whatever this says.
    bool usageStatistics = true;

    // The same settings with every number inside its range.
    MCSettings clamped() const;

    // Reads the settings; missing keys give the defaults.
    static MCSettings read(const platform::UserDefaults& defaults);
    // Writes the settings (clamped) and saves the file at once. None when saved, else what went
    // wrong for the user: the file could not be read (it is never overwritten then), could not
    // be written, or holds a line about the opt-out that could not be read (statistics stay
    // off until it is mended).
    std::optional<std::string> write(platform::UserDefaults& defaults) const;

    bool operator==(const MCSettings&) const = default;
};
