#include "memory/MCSettings.h"

#include "platform/core/analytics_opt_out.h"
#include "platform/core/preferences.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace {

int readPercentLike(const platform::UserDefaults& defaults, const char* key, int min, int max,
                    int fallback) {
    const auto text = defaults.stringForKey(key);
    if (!text) {
        return fallback;
    }
    std::string_view digits = *text;
    if (digits.starts_with('+')) {
        digits.remove_prefix(1);
    }
    long long value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (end != digits.data() + digits.size() || digits.empty()) {
        return fallback;
    }
    if (error == std::errc::result_out_of_range) {
        return digits.starts_with('-') ? min : max;
    }
    return static_cast<int>(std::clamp<long long>(value, min, max));
}

bool readSwitch(const platform::UserDefaults& defaults, const char* key, bool fallback) {
    const auto text = defaults.stringForKey(key);
    if (!text) {
        return fallback;
    }
    std::string lower;
    for (char c : *text) {
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    if (lower == "1" || lower == "true" || lower == "yes" || lower == "on") {
        return true;
    }
    if (lower == "0" || lower == "false" || lower == "no" || lower == "off") {
        return false;
    }
    return fallback;
}

} // namespace

MCSettings MCSettings::clamped() const {
    MCSettings out = *this;
    out.lowMemory.availablePercent = std::clamp(
        lowMemory.availablePercent, MCLowMemoryConfig::kMinPercent, MCLowMemoryConfig::kMaxPercent);
    out.autoClean.usedPercent =
        std::clamp(autoClean.usedPercent, MCAutoCleanConfig::kMinUsedPercent,
                   MCAutoCleanConfig::kMaxUsedPercent);
    out.autoClean.intervalMinutes =
        std::clamp(autoClean.intervalMinutes, MCAutoCleanConfig::kMinIntervalMinutes,
                   MCAutoCleanConfig::kMaxIntervalMinutes);
    return out;
}

MCSettings MCSettings::read(const platform::UserDefaults& defaults) {
    MCSettings settings;
    const auto style = defaults.stringForKey(kTrayIconStyleKey);
    settings.trayIconStyle =
        style && *style == "plain" ? MCTrayIconStyle::Plain : MCTrayIconStyle::LevelBar;
    settings.lowMemory.enabled = readSwitch(defaults, kLowMemoryKey, true);
    settings.lowMemory.availablePercent =
        readPercentLike(defaults, kLowMemoryPercentKey, MCLowMemoryConfig::kMinPercent,
                        MCLowMemoryConfig::kMaxPercent, MCLowMemoryConfig::kDefaultPercent);
    settings.autoClean.enabled = readSwitch(defaults, kAutoCleanKey, false);
    settings.autoClean.usedPercent =
        readPercentLike(defaults, kAutoCleanPercentKey, MCAutoCleanConfig::kMinUsedPercent,
                        MCAutoCleanConfig::kMaxUsedPercent, MCAutoCleanConfig::kDefaultUsedPercent);
    settings.autoClean.intervalMinutes = readPercentLike(
        defaults, kAutoCleanIntervalKey, MCAutoCleanConfig::kMinIntervalMinutes,
        MCAutoCleanConfig::kMaxIntervalMinutes, MCAutoCleanConfig::kDefaultIntervalMinutes);
    settings.usageStatistics = !platform::analyticsOptOutReason(defaults).has_value();
    return settings;
}

std::optional<std::string> MCSettings::write(platform::UserDefaults& defaults) const {
    if (defaults.loadState() == platform::UserDefaults::LoadState::Unreadable) {
        return "the preferences file " + defaults.path().string() +
               " could not be read, so it is left as it is: " + defaults.loadProblem();
    }
    const MCSettings settings = clamped();
    defaults.setString(settings.trayIconStyle == MCTrayIconStyle::Plain ? "plain" : "bar",
                       kTrayIconStyleKey);
    defaults.setBool(settings.lowMemory.enabled, kLowMemoryKey);
    defaults.setString(std::to_string(settings.lowMemory.availablePercent), kLowMemoryPercentKey);
    defaults.setBool(settings.autoClean.enabled, kAutoCleanKey);
    defaults.setString(std::to_string(settings.autoClean.usedPercent), kAutoCleanPercentKey);
    defaults.setString(std::to_string(settings.autoClean.intervalMinutes), kAutoCleanIntervalKey);
    std::optional<std::string> problem;
    // Untouched when unchanged: a hand-written opt-out keeps its spelling.
    const bool optedOut = platform::analyticsOptOutReason(defaults).has_value();
    if (optedOut == settings.usageStatistics &&
        !platform::setAnalyticsOptOut(defaults, !settings.usageStatistics)) {
        problem = "usage statistics stay off: a line of " + defaults.path().string() +
                  " that could not be read mentions " + platform::kAnalyticsOptOutKey;
    }
    if (!defaults.synchronize()) {
        return "cannot save " + defaults.path().string();
    }
    return problem;
}
