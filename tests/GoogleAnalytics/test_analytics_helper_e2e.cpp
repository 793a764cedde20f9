// The helper from event to hit, against a real collection server and echo page on 127.0.0.1.

#include "../support/TempDir.h"
#include "AnalyticsHelper.h"
#include "LocalHttpServer.h"
#include "PublicIP.h"

#include <bundle_info.h>
#include <preferences.h>

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::regex kUuid("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");

class AnalyticsHelperE2E : public testing::Test {
protected:
    void SetUp() override {
        server.route("/__utm.gif", [this](const httplib::Request&, httplib::Response& res) {
            if (holdHits) {
                gate.wait();
            }
            res.set_content("GIF89a", "image/gif");
        });
        server.reply("/ip", 200,
                     "<html><head><title>IP</title></head><body>IP Address: 203.0.113.7"
                     "</body></html>");
    }

    // A hit held in the server must be let go before the server can stop.
    void TearDown() override { gate.open(); }

    std::filesystem::path prefsFile() const { return dir.path() / "Brimwell" / "preferences"; }

    AnalyticsHelper::Dependencies deps(std::chrono::milliseconds delay = 0ms) {
        AnalyticsHelper::Dependencies d;
        d.config.collectionHost = server.hostAndPort();
        d.config.echoPageURL = server.url("/ip");
        d.defaults = std::make_shared<platform::UserDefaults>(prefsFile());
        d.queue = queue;
        auto transport = std::make_shared<TrackingTransport>();
        CurlFetcher::Options options;
        options.timeout = 10s;
        transport->fetcher = std::make_shared<CurlFetcher>(options);
        auto lookup = std::make_shared<PublicIPLookup>(d.config.echoPageURL, transport->fetcher);
        transport->publicIPAddress = [lookup] { return lookup->getIPAddress(); };
        transport->startDelay = delay;
        d.transport = transport;
        return d;
    }

    std::unique_ptr<AnalyticsHelper> helper(AnalyticsHelper::Dependencies d) {
        auto h = std::make_unique<AnalyticsHelper>(std::move(d));
        h->setDomainName("brimwell.example");
        h->setAnalyticsAccountCode("UA-12345-1");
        return h;
    }

    std::vector<ReceivedRequest> hits() const {
        std::vector<ReceivedRequest> out;
        for (auto& r : server.received()) {
            if (r.path == "/__utm.gif") {
                out.push_back(r);
            }
        }
        return out;
    }

    static std::string param(const ReceivedRequest& r, const std::string& key) {
        auto it = r.params.find(key);
        return it == r.params.end() ? "<absent>" : it->second;
    }

    std::optional<std::string> storedUuid() const {
        return platform::UserDefaults(prefsFile()).stringForKey(AnalyticsHelper::kUserUUIDKey);
    }

    TempDir dir;
    Gate gate;
    // When set, hits wait in the server until the gate opens.
    std::atomic<bool> holdHits{false};
    LocalHttpServer server;
    std::shared_ptr<OperationQueue> queue = std::make_shared<OperationQueue>();
};

TEST_F(AnalyticsHelperE2E, HitCarriesTheEventTheIdentifierAndTheAddress) {
    auto h = helper(deps());
    EXPECT_TRUE(h->fireEvent("PopoverShown", 0));
    queue->waitUntilAllOperationsAreFinished();

    auto received = hits();
    ASSERT_EQ(received.size(), 1u);
    const ReceivedRequest& hit = received[0];
    const auto uuid = storedUuid();
    ASSERT_TRUE(uuid);
    EXPECT_TRUE(std::regex_match(*uuid, kUuid)) << *uuid;

    const std::string version =
        platform::objectForInfoDictionaryKey(platform::kCFBundleShortVersionString).value();
    const std::map<std::string, std::string> expected = {
        {"utmwv", "5.2.2d"},
        {"utmhn", ""},
        {"utmcs", "UTF-8"},
        {"utmsr", "-"},
        {"utmsc", "-"},
        {"utmul", "-"},
        {"utmje", "0"},
        {"utmfl", "-"},
        {"utmni", "1"},
        {"utmdt", ""},
        {"utmr", "-"},
        {"utmp", "/"},
        {"utmac", "UA-12345-1"},
        {"gaq", "1"},
        {"utmt", "event"},
        {"utmip", "203.0.113.7"},
        {"utme", "5(Linux " + version + "*PopoverShown*" + *uuid + ")(0)"}};
    for (const auto& [key, value] : expected) {
        EXPECT_EQ(param(hit, key), value) << key;
    }
    EXPECT_TRUE(std::regex_match(param(hit, "utmn"), std::regex("[0-9]{1,9}")));
    EXPECT_TRUE(std::regex_match(param(hit, "utmhid"), std::regex("[0-9]{1,9}")));
    // The cookie as sent, before any decoding.
    EXPECT_TRUE(std::regex_search(
        hit.target, std::regex("&utmcc=__utma=0\\.[0-9]{1,9}\\.([0-9]+)\\.\\1\\.\\1\\.2%3B\\+"
                               "__utmz=0\\.\\1\\.1\\.1\\.utmcsr=\\(direct\\)%7Cutmccn=\\(direct\\)"
                               "%7Cutmcmd=\\(none\\)%3B&")))
        << hit.target;
    EXPECT_EQ(hit.target.back(), '&');
    // One echo page fetch serves every later hit.
    h->fireEvent("AboutShown", std::nullopt);
    queue->waitUntilAllOperationsAreFinished();
    ASSERT_EQ(hits().size(), 2u);
    EXPECT_EQ(param(hits()[1], "utme"), "5(Linux " + version + "*AboutShown*" + *uuid + ")()");
    EXPECT_EQ(server.received().size(), 3u);
}

TEST_F(AnalyticsHelperE2E, QuickEventsGoOutOneAtATimeEachAfterItsDelay) {
    auto h = helper(deps(1000ms));
    const std::vector<std::string> names = {"PopoverShown", "CleanButtonClicked",
                                            "QuitButtonClicked", "AboutShown"};
    const auto fired = Clock::now();
    for (const auto& name : names) {
        EXPECT_TRUE(h->fireEvent(name, 0));
    }
    ASSERT_TRUE(server.waitForRequests(names.size() + 1, 20s));
    queue->waitUntilAllOperationsAreFinished();

    auto received = hits();
    ASSERT_EQ(received.size(), names.size());
    auto previous = fired;
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_NE(param(received[i], "utme").find("*" + names[i] + "*"), std::string::npos);
        // Each operation starts after the previous hit was answered and waits a second.
        EXPECT_GE(received[i].arrival - previous, 1000ms) << names[i];
        previous = received[i].arrival;
    }
    EXPECT_EQ(server.maxConcurrentRequests(), 1);
}

TEST_F(AnalyticsHelperE2E, FireEventNeverWaitsForTheNetwork) {
    holdHits = true;
    auto h = helper(deps());
    // Both calls return while the first hit hangs in the server.
    EXPECT_TRUE(h->fireEvent("PopoverShown", 0));
    EXPECT_TRUE(h->fireEvent("CleanButtonClicked", 0));
    ASSERT_TRUE(server.waitForRequests(2, 10s)); // the echo page and the first hit
    EXPECT_EQ(queue->operationCount(), 2u);
    gate.open();
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(hits().size(), 2u);
}

TEST_F(AnalyticsHelperE2E, IdentifierIsCreatedOnceAndSurvivesARestart) {
    {
        auto first = helper(deps());
        first->fireEvent("PopoverShown", 0);
        first->fireEvent("CleanButtonClicked", 0);
        queue->waitUntilAllOperationsAreFinished();
    }
    const auto uuid = storedUuid();
    ASSERT_TRUE(uuid);
    // A new helper on a freshly loaded store, as after a restart.
    auto second = helper(deps());
    second->fireEvent("QuitButtonClicked", 0);
    queue->waitUntilAllOperationsAreFinished();

    auto received = hits();
    ASSERT_EQ(received.size(), 3u);
    for (const auto& r : received) {
        EXPECT_NE(param(r, "utme").find("*" + *uuid + ")"), std::string::npos) << param(r, "utme");
    }
    EXPECT_EQ(storedUuid(), uuid);
    std::ifstream in(prefsFile());
    std::stringstream text;
    text << in.rdbuf();
    const std::string all = text.str();
    EXPECT_EQ(all.find("UserUUID="), all.rfind("UserUUID="));
}

TEST_F(AnalyticsHelperE2E, EmptyDomainNameQueuesNothingButStoresTheIdentifier) {
    auto h = helper(deps());
    h->setDomainName("");
    EXPECT_TRUE(h->fireEvent("PopoverShown", 0));
    EXPECT_EQ(queue->operationCount(), 0u);
    EXPECT_TRUE(h->fireEvent("", 0) && h->fireEvent("AboutShown", 0));
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(server.received().empty());
    ASSERT_TRUE(storedUuid());
    EXPECT_TRUE(std::regex_match(*storedUuid(), kUuid));
}

TEST_F(AnalyticsHelperE2E, EmptyEventNameQueuesNothing) {
    auto h = helper(deps());
    EXPECT_TRUE(h->fireEvent("", 0));
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(server.received().empty());
}

TEST_F(AnalyticsHelperE2E, OptingOutSendsAndStoresNothing) {
    struct Case {
        const char* name;
        std::function<void(AnalyticsHelper::Dependencies&)> setUp;
    };
    const Case cases[] = {
        {"doNotTrack", [](AnalyticsHelper::Dependencies& d) { d.config.doNotTrack = true; }},
        {"preference",
         [](AnalyticsHelper::Dependencies& d) {
             d.defaults->setBool(true, AnalyticsHelper::kOptOutKey);
         }},
        {"noCollectionHost",
         [](AnalyticsHelper::Dependencies& d) { d.config.collectionHost.clear(); }},
    };
    for (const Case& c : cases) {
        auto d = deps();
        c.setUp(d);
        auto h = helper(d);
        EXPECT_TRUE(h->fireEvent("PopoverShown", 0)) << c.name;
        EXPECT_EQ(queue->operationCount(), 0u) << c.name;
        queue->waitUntilAllOperationsAreFinished();
        EXPECT_TRUE(server.received().empty()) << c.name;
        EXPECT_FALSE(storedUuid()) << c.name;
    }
}

TEST_F(AnalyticsHelperE2E, WithoutPreferencesTheLabelIsEmptyAndTheHitStillGoesOut) {
    auto d = deps();
    d.defaults = nullptr;
    auto h = helper(d);
    h->fireEvent("PopoverShown", 0);
    queue->waitUntilAllOperationsAreFinished();
    auto received = hits();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_NE(param(received[0], "utme").find("*PopoverShown*empty)(0)"), std::string::npos);
}

TEST_F(AnalyticsHelperE2E, CorruptPreferencesAreReplacedByAWellFormedFile) {
    std::filesystem::create_directories(prefsFile().parent_path());
    std::ofstream(prefsFile()) << "garbage\x01\nUserUUID";
    auto h = helper(deps());
    h->fireEvent("PopoverShown", 0);
    queue->waitUntilAllOperationsAreFinished();
    ASSERT_TRUE(storedUuid());
    EXPECT_TRUE(std::regex_match(*storedUuid(), kUuid));
    ASSERT_EQ(hits().size(), 1u);
}

TEST(AnalyticsHelper, UuidStringsAreFreshAndWellFormed) {
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        std::string uuid = AnalyticsHelper::UUIDString();
        EXPECT_TRUE(std::regex_match(uuid, kUuid)) << uuid;
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 100u);
}

} // namespace
