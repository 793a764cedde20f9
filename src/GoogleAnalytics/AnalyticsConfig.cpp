#include "GoogleAnalytics/AnalyticsConfig.h"

#include "AnalyticsBuildConfig.h"

#include <cstdlib>
#include <string_view>

bool AnalyticsConfig::doNotTrackValue(const char* value) {
    if (value == nullptr) {
        return false;
    }
    std::string lower;
    for (const char* p = value; *p != '\0'; ++p) {
        lower += static_cast<char>((*p >= 'A' && *p <= 'Z') ? *p - 'A' + 'a' : *p);
    }
    return !(lower.empty() || lower == "0" || lower == "false" || lower == "no");
}

AnalyticsConfig AnalyticsConfig::fromEnvironment() {
    AnalyticsConfig config;
    config.collectionHost = BRIMWELL_ANALYTICS_HOST_DEFAULT;
    config.echoPageURL = BRIMWELL_PUBLIC_IP_URL_DEFAULT;
    if (const char* host = std::getenv("BRIMWELL_ANALYTICS_HOST")) {
        config.collectionHost = host;
    }
    if (const char* url = std::getenv("BRIMWELL_PUBLIC_IP_URL")) {
        config.echoPageURL = url;
    }
    config.doNotTrack = doNotTrackValue(std::getenv("DO_NOT_TRACK"));
    return config;
}

const AnalyticsConfig& AnalyticsConfig::current() {
    static const AnalyticsConfig config = fromEnvironment();
    return config;
}
