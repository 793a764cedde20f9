// The helper as the application builds it: configuration from the environment, the user's
// standard preferences, the process-wide queue and the real network, all on 127.0.0.1.

#include "../support/TempDir.h"
#include "AnalyticsHelper.h"
#include "LocalHttpServer.h"

#include <preferences.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace std::chrono_literals;

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
    helper.setAnalyticsAccountCode("UA-12345-1");
    const std::vector<std::string> events = {"PopoverShown", "CleanButtonClicked", "AboutShown",
                                             "QuitButtonClicked"};
    for (const auto& name : events) {
        EXPECT_TRUE(helper.fireEvent(name, 0));
    }
    auto queue = AnalyticsHelper::sharedQueue();
    ASSERT_NE(queue, nullptr);
    queue->waitUntilAllOperationsAreFinished();

    const auto stored = platform::UserDefaults(config.path() / "Brimwell" / "preferences")
                            .stringForKey(AnalyticsHelper::kUserUUIDKey);
    ASSERT_TRUE(stored);
    std::vector<ReceivedRequest> hits;
    for (const auto& r : server.received()) {
        if (r.path == "/__utm.gif") {
            hits.push_back(r);
        }
    }
    ASSERT_EQ(hits.size(), events.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        const auto& params = hits[i].params;
        EXPECT_EQ(params.find("utmac")->second, "UA-12345-1");
        EXPECT_EQ(params.find("utmip")->second, "192.0.2.44");
        const std::string utme = params.find("utme")->second;
        EXPECT_EQ(utme.rfind("5(Linux ", 0), 0u) << utme;
        EXPECT_NE(utme.find("*" + events[i] + "*" + *stored + ")(0)"), std::string::npos) << utme;
    }
    EXPECT_EQ(AnalyticsHelper::sharedQueue(), queue);
}

} // namespace
