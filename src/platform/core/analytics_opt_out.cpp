#include "platform/core/analytics_opt_out.h"

#include "platform/core/preferences.h"

namespace platform {

namespace {

std::string lowerCase(std::string text) {
    for (char& c : text) {
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return text;
}

bool isFalseText(const std::string& text) {
    const std::string lower = lowerCase(text);
    return lower.empty() || lower == "0" || lower == "false" || lower == "no" || lower == "off";
}

} // namespace

std::optional<std::string> analyticsOptOutReason(const UserDefaults& defaults) {
    using State = UserDefaults::LoadState;
    if (defaults.loadState() == State::Unreadable) {
        return "the preferences file " + defaults.path().string() +
               " could not be read: " + defaults.loadProblem();
    }
    // Read generously: a user who wrote the key in another case or with an unusual value meant
    // to opt out, and a line that could not be read may hold the opt-out too.
    const std::string wanted = lowerCase(kAnalyticsOptOutKey);
    for (const auto& [key, value] : defaults.dictionaryRepresentation()) {
        if (lowerCase(key) == wanted && !isFalseText(value)) {
            return key + "=" + value;
        }
    }
    for (const std::string& line : defaults.linesNotUnderstood()) {
        if (lowerCase(line).find(wanted) != std::string::npos) {
            return "a line of the preferences file that could not be read: " + line;
        }
    }
    return std::nullopt;
}

bool setAnalyticsOptOut(UserDefaults& defaults, bool optedOut) {
    if (defaults.loadState() == UserDefaults::LoadState::Unreadable) {
        return false;
    }
    const std::string wanted = lowerCase(kAnalyticsOptOutKey);
    for (const auto& entry : defaults.dictionaryRepresentation()) {
        if (lowerCase(entry.first) == wanted && entry.first != kAnalyticsOptOutKey) {
            defaults.removeObjectForKey(entry.first);
        }
    }
    defaults.setBool(optedOut, kAnalyticsOptOutKey);
    return analyticsOptOutReason(defaults).has_value() == optedOut;
}

} // namespace platform
