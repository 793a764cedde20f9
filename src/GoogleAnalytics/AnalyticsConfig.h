#pragma once
// Where analytics goes: the collection host of the hits and the public-IP echo page. Both
// are set at build time and may be overridden by the environment; with no collection host
// analytics is off.

#include <optional>
#include <string>

struct AnalyticsConfig {
    std::string collectionHost; // host[:port] of "/__utm.gif"; empty: analytics off
    std::string echoPageURL;    // full URL of the public-IP echo page; empty: no "utmip"
    bool doNotTrack = false;    // the user opted out through the environment

    // The build-time values with BRIMWELL_ANALYTICS_HOST, BRIMWELL_PUBLIC_IP_URL and
    // DO_NOT_TRACK of the environment applied.
    static AnalyticsConfig fromEnvironment();
    // Read once per process.
    static const AnalyticsConfig& current();

    // DO_NOT_TRACK opts out when set to anything but "", "0", "false" or "no".
    static bool doNotTrackValue(const char* value);
};
