#pragma once
// The usage-statistics opt-out as the preferences file holds it ("AnalyticsOptOut"). The
// analytics client and the preferences window both go through here, so they never disagree.

#include <optional>
#include <string>

namespace platform {

class UserDefaults;

inline constexpr const char* kAnalyticsOptOutKey = "AnalyticsOptOut";

// Why the preferences keep usage statistics off, or none when they do not. Read generously: the
// key in any case with any value but empty, "0", "false", "no" or "off"; a line mentioning the
// key that could not be read; and a file that could not be read whole (it may hold an opt-out).
std::optional<std::string> analyticsOptOutReason(const UserDefaults& defaults);

// Writes the opt-out (`optedOut`) or its absence into `defaults` without saving: turning
// statistics on sets "AnalyticsOptOut=0" and removes every other spelling of the key. False
// when the change cannot take effect: the file could not be read, or a line that could not be
// read still mentions the key (the user has to mend it by hand).
bool setAnalyticsOptOut(UserDefaults& defaults, bool optedOut);

} // namespace platform
