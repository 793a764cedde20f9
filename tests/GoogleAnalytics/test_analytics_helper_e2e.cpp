// The helper from event to hit, against a real collection server and echo page on 127.0.0.1.

#include "../support/TempDir.h"
#include "AnalyticsHelper.h"
#include "LocalHttpServer.h"
#include "PublicIP.h"

#include <bundle_info.h>
#include <preferences.h>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

class AnalyticsHelperE2E : public testing::Test {
protected:
    void SetUp() override {
        server.reply("/__utm.gif", 200, "GIF89a", "image/gif");
        server.reply("/ip", 200, "<html><body>IP Address: 203.0.113.7</body></html>");
    }

    // A helper on a freshly loaded store, as after a restart, with the standard 1 s delay.
    std::unique_ptr<AnalyticsHelper>
    helper(std::function<void(AnalyticsHelper::Dependencies&)> change = nullptr) {
        AnalyticsHelper::Dependencies d;
        d.config.collectionHost = server.hostAndPort();
        d.defaults = std::make_shared<platform::UserDefaults>(prefsFile);
        d.queue = queue;
        d.random = [] { return 7u; };
        d.clock = [] { return 1400000000.0; };
        auto transport = std::make_shared<TrackingTransport>();
        transport->fetcher = std::make_shared<CurlFetcher>(CurlFetcher::Options{10s, 16, 1 << 20});
        auto lookup = std::make_shared<PublicIPLookup>(server.url("/ip"), transport->fetcher);
        transport->publicIPAddress = [lookup] { return lookup->getIPAddress(); };
        d.transport = transport;
        if (change) {
            change(d);
        }
        auto h = std::make_unique<AnalyticsHelper>(d);
        h->setDomainName("brimwell.example");
        h->setAnalyticsAccountCode("UA-12345-1");
        return h;
    }

    std::optional<std::string> storedUuid() const {
        return platform::UserDefaults(prefsFile).stringForKey(AnalyticsHelper::kUserUUIDKey);
    }

    TempDir dir;
    std::filesystem::path prefsFile = dir.path() / "Brimwell" / "preferences";
    LocalHttpServer server;
    std::shared_ptr<OperationQueue> queue = std::make_shared<OperationQueue>();
};

// Four quick events from one helper, then one from a new helper on the same store.
TEST_F(AnalyticsHelperE2E, HitsGoOutOneAtATimeWithTheIdentifierThatSurvivesARestart) {
    const std::string names[] = {"PopoverShown", "CleanButtonClicked", "QuitButtonClicked",
                                 "AboutShown", "PopoverShown"};
    const std::optional<std::int64_t> values[] = {0, 7, -1, std::nullopt, 0};
    auto first = helper();
    const auto fired = std::chrono::steady_clock::now();
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(first->fireEvent(names[i], values[i]));
    }
    // The caller never waits for the network nor for the delay.
    EXPECT_LT(std::chrono::steady_clock::now() - fired, 900ms);
    queue->waitUntilAllOperationsAreFinished();
    const auto uuid = storedUuid();
    ASSERT_TRUE(uuid);
    helper()->fireEvent(names[4], values[4]);
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(storedUuid(), uuid);

    const auto hits = server.received("/__utm.gif");
    ASSERT_EQ(hits.size(), 5u);
    const std::string category =
        "5(Linux " + *platform::objectForInfoDictionaryKey(platform::kCFBundleShortVersionString);
    auto previous = fired;
    for (std::size_t i = 0; i < hits.size(); ++i) {
        const auto value = values[i] ? std::to_string(*values[i]) : "";
        EXPECT_EQ(hits[i].param("utme"),
                  category + "*" + names[i] + "*" + *uuid + ")(" + value + ")");
        // Each operation starts after the previous hit was answered and waits a second.
        EXPECT_GE(hits[i].arrival - previous, 1000ms) << i;
        previous = hits[i].arrival;
    }
    const std::multimap<std::string, std::string> expected = {
        {"utmwv", "5.2.2d"},     {"utmn", "7"},           {"utmhn", ""},  {"utmcs", "UTF-8"},
        {"utmsr", "-"},          {"utmsc", "-"},          {"utmul", "-"}, {"utmje", "0"},
        {"utmfl", "-"},          {"utmni", "1"},          {"utmdt", ""},  {"utmhid", "7"},
        {"utmr", "-"},           {"utmp", "/"},           {"gaq", "1"},   {"utmt", "event"},
        {"utmac", "UA-12345-1"}, {"utmip", "203.0.113.7"}};
    auto params = hits[0].params;
    params.erase("utmcc"); // its "=" signs defeat the server's parser; unit-tested
    params.erase("utme");
    EXPECT_EQ(params, expected);
    EXPECT_EQ(server.received("/ip").size(), 2u); // one fetch per lookup (helper) serves its hits
}

TEST_F(AnalyticsHelperE2E, OptingOutOrAnEmptyDomainNameQueuesNothing) {
    using Deps = AnalyticsHelper::Dependencies;
    const std::pair<std::function<void(Deps&)>, bool /* stores the identifier */> cases[] = {
        {[](Deps& d) { d.config.doNotTrack = true; }, false},
        {[](Deps& d) { d.defaults->setBool(true, AnalyticsHelper::kOptOutKey); }, false},
        {[](Deps& d) { d.config.collectionHost.clear(); }, false},
        {nullptr, true}, // with an empty domain name below
    };
    for (const auto& [change, stores] : cases) {
        auto h = helper(change);
        if (!change) {
            h->setDomainName("");
        }
        EXPECT_TRUE(h->fireEvent("PopoverShown", 0));
        EXPECT_EQ(queue->operationCount(), 0u);
        EXPECT_EQ(storedUuid().has_value(), stores);
    }
    EXPECT_TRUE(server.received().empty());
}

} // namespace
