#include "AnalyticsConfig.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(AnalyticsConfig, DoNotTrackValues) {
    const std::pair<const char*, bool> cases[] = {
        {nullptr, false}, {"", false},    {"0", false},  {"false", false},   {"NO", false},
        {"1", true},      {"true", true}, {"YES", true}, {"anything", true},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(AnalyticsConfig::doNotTrackValue(value), expected) << (value ? value : "(unset)");
    }
}

// Only this test touches the environment, before any thread exists.
TEST(AnalyticsConfig, EnvironmentOverridesTheBuildSettings) {
    unsetenv("BRIMWELL_ANALYTICS_HOST");
    unsetenv("BRIMWELL_PUBLIC_IP_URL");
    unsetenv("DO_NOT_TRACK");
    const AnalyticsConfig built = AnalyticsConfig::fromEnvironment();
    EXPECT_EQ(built.collectionHost, BRIMWELL_TEST_BUILD_HOST);
    EXPECT_EQ(built.echoPageURL, BRIMWELL_TEST_BUILD_IP_URL);
    EXPECT_FALSE(built.doNotTrack);

    setenv("BRIMWELL_ANALYTICS_HOST", "127.0.0.1:9", 1);
    setenv("BRIMWELL_PUBLIC_IP_URL", "http://127.0.0.1:9/ip", 1);
    setenv("DO_NOT_TRACK", "1", 1);
    const AnalyticsConfig overridden = AnalyticsConfig::fromEnvironment();
    EXPECT_EQ(overridden.collectionHost, "127.0.0.1:9");
    EXPECT_EQ(overridden.echoPageURL, "http://127.0.0.1:9/ip");
    EXPECT_TRUE(overridden.doNotTrack);

    // Set but empty turns the build's host off.
    setenv("BRIMWELL_ANALYTICS_HOST", "", 1);
    EXPECT_EQ(AnalyticsConfig::fromEnvironment().collectionHost, "");
    unsetenv("BRIMWELL_ANALYTICS_HOST");
    unsetenv("BRIMWELL_PUBLIC_IP_URL");
    unsetenv("DO_NOT_TRACK");
}

} // namespace
