// The helper as the application builds it: configuration from the environment, the user's
// standard preferences, the process-wide queue and the real network, all on 127.0.0.1.

#include "GoogleAnalytics/AnalyticsHelper.h"
#include "GoogleAnalytics/LocalHttpServer.h"
#include "support/TempDir.h"

#include "platform/core/preferences.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(AnalyticsConfig, DoNotTrackValuesAndEnvironment) {
    const char* const values[] = {nullptr, "", "0", "NO", "false", "1", "anything"};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(AnalyticsConfig::doNotTrackValue(values[i]), i >= 5) << i;
    }
    setenv("DO_NOT_TRACK", "yes", 1);
    setenv("BRIMWELL_ANALYTICS_HOST", "", 1); // set but empty turns a built-in host off
    EXPECT_TRUE(AnalyticsConfig::fromEnvironment().doNotTrack);
    EXPECT_EQ(AnalyticsConfig::fromEnvironment().collectionHost, "");
}

TEST(AnalyticsDefaultE2E, PanelEventsReachTheConfiguredHost) {
    LocalHttpServer server;
    server.reply("/__utm.gif", 200, "GIF89a", "image/gif");
    server.reply("/echo", 200, "<html><body> IP Address: 192.0.2.44 </body></html>");
    TempDir config;
    // Read once per process, so set before the first helper exists.
    setenv("BRIMWELL_ANALYTICS_HOST", server.hostAndPort().c_str(), 1);
    setenv("BRIMWELL_PUBLIC_IP_URL", server.url("/echo").c_str(), 1);
    setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    unsetenv("DO_NOT_TRACK");

    EXPECT_EQ(AnalyticsHelper::sharedQueue(), nullptr);
    AnalyticsHelper helper;
    helper.setDomainName("brimwell.example");
    EXPECT_TRUE(helper.fireEvent("PopoverShown", 0));
    EXPECT_TRUE(helper.fireEvent("CleanButtonClicked", 0));
    AnalyticsHelper::sharedQueue()->waitUntilAllOperationsAreFinished(); // created by now
    // A silent host must not let events pile up without end.
    EXPECT_EQ(AnalyticsHelper::sharedQueue()->maxWaitingOperations(),
              AnalyticsHelper::kMaxQueuedHits);

    const auto uuid = platform::UserDefaults(config.path() / "Brimwell" / "preferences")
                          .stringForKey(AnalyticsHelper::kUserUUIDKey);
    ASSERT_TRUE(uuid);
    const auto hits = server.received("/__utm.gif");
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].param("utmip"), "192.0.2.44");
    EXPECT_TRUE(hits[1].param("utme").starts_with("5(Linux ")) << hits[1].param("utme");
    EXPECT_TRUE(hits[1].param("utme").ends_with("*CleanButtonClicked*" + *uuid + ")(0)"));
    EXPECT_NE(hits[0].param("utmn"), hits[1].param("utmn")); // the system's random source
}

} // namespace
