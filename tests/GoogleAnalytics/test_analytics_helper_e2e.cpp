// Hits and the helper from event to hit, against real collection servers and echo pages on
// 127.0.0.1: the ways a hit can go wrong, what is logged, and what survives a restart.

#include "GoogleAnalytics/AnalyticsHelper.h"
#include "GoogleAnalytics/CapturingLogger.h"
#include "GoogleAnalytics/FakeFetcher.h"
#include "GoogleAnalytics/GoogleTracking.h"
#include "GoogleAnalytics/LocalHttpServer.h"
#include "GoogleAnalytics/PublicIP.h"
#include "GoogleAnalytics/RequestFactory.h"
#include "support/TempDir.h"

#include "platform/core/bundle_info.h"
#include "platform/core/preferences.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Outcome = GoogleTracking::Outcome;

std::shared_ptr<CurlFetcher> curl(std::chrono::milliseconds timeout) {
    return std::make_shared<CurlFetcher>(
        CurlFetcher::Options{timeout, 16, TrackingTransport::kMaxReplyBytes});
}

std::shared_ptr<GoogleTracking> hit(std::shared_ptr<HttpFetcher> fetcher, const std::string& host,
                                    const std::string& action = "Ev",
                                    std::optional<std::int64_t> value = 0,
                                    std::optional<std::string> ip = std::nullopt) {
    auto transport = std::make_shared<TrackingTransport>();
    transport->fetcher = std::move(fetcher);
    transport->publicIPAddress = [ip] { return ip; };
    transport->startDelay = 0ms;
    auto op = std::make_shared<GoogleTracking>(transport);
    RequestFactory factory(
        host, [] { return 7u; }, [] { return 1400000000.0; });
    auto event = GoogleEvent::initWithParams("example.org", "Linux 1.0", action, "L", value);
    op->setRequest(factory.buildRequest(event, "UA-1-1"));
    return op;
}

void run(const std::vector<std::shared_ptr<GoogleTracking>>& ops) {
    OperationQueue queue;
    for (const auto& op : ops) {
        queue.addOperation(op);
    }
    queue.waitUntilAllOperationsAreFinished();
}

// The body decides the outcome, not the status; failures are logged as errors, and a hit that
// hangs until its time-out does not stop the next one.
TEST(GoogleTrackingE2E, OutcomesAndTheirLogLines) {
    LocalHttpServer server;
    std::promise<void> release; // after the server: a hanging hit is let go before it stops
    server.route("/__utm.gif", [&, hang = release.get_future().share()](auto& req, auto& res) {
        const std::string utme = req.get_param_value("utme");
        const auto is = [&](const char* action) { return utme.find(action) != std::string::npos; };
        if (is("*Hang*")) {
            hang.wait();
        }
        if (utme.empty() || is("*Loop*")) { // the query is dropped on the way round
            return res.set_redirect(server.url("/__utm.gif"));
        }
        res.status = is("*Error*") ? 500 : is("*Empty*") ? 204 : 200;
        res.set_content(is("*Huge*")    ? std::string(8 << 20, 'x')
                        : is("*Empty*") ? ""
                                        : "GIF89a",
                        "image/gif");
    });
    // An exception is contained and the queue carries on.
    const std::pair<std::string, Outcome> cases[] = {
        {"Hang", Outcome::TriggerError}, {"Thrown", Outcome::ExceptionThrown},
        {"Gif", Outcome::Triggered},     {"Error", Outcome::Triggered},
        {"Huge", Outcome::Triggered},    {"Empty", Outcome::TriggerError},
        {"Loop", Outcome::TriggerError}, {"Refused", Outcome::TriggerError}};
    std::vector<std::shared_ptr<GoogleTracking>> ops;
    for (const auto& [action, outcome] : cases) {
        const bool thrown = action == "Thrown"; // an unscripted fake fetcher throws
        ops.push_back(hit(thrown ? std::shared_ptr<HttpFetcher>(std::make_shared<FakeFetcher>())
                                 : curl(action == "Hang" ? 300ms : 10s),
                          action == "Refused" ? LocalHttpServer().hostAndPort() /* closed again */
                                              : server.hostAndPort(),
                          action, thrown ? std::nullopt : std::optional(0)));
    }
    const auto logged = loggedBy([&] { run(ops); }, LogLevelInfo);
    ASSERT_EQ(logged.size(), ops.size()) << testing::PrintToString(logged);
    for (std::size_t i = 0; i < ops.size(); ++i) {
        const auto& [action, outcome] = cases[i];
        EXPECT_EQ(ops[i]->outcome(), outcome) << action;
        const std::string line =
            std::to_string(outcome == Outcome::Triggered ? LogFlagInfo : LogFlagError) +
            " Analytics event (Linux 1.0, " + action +
            (outcome == Outcome::ExceptionThrown ? ", L, (null)): exception thrown no scripted"
             : outcome == Outcome::Triggered     ? ", L, 0): triggered successfully!, ["
                                                 : ", L, 0): trigger error, [");
        EXPECT_EQ(logged[i].rfind(line, 0), 0u) << logged[i];
    }
    EXPECT_LE(server.received().size(), 7u + 17u); // the redirect loop is bounded
}

// The hit runs at a lowered priority on the queue's thread and takes a bare address only.
TEST(GoogleTracking, OnlyABareAddressBecomesUtmipAndTheHitRunsAtLowPriority) {
    const auto nice = [] { return getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())); };
    const int before = nice();
    const std::pair<std::string, bool> cases[] = {
        {"203.0.113.7", true},
        {"2001:db8::7", true},
        {"1.2.3.4&utmac=UA-666-1", false},
        {"999.1.1.1", false},
        {std::string("1.2.3.4\0&utmac=UA-6-1", 21), false}};
    for (const auto& [ip, bare] : cases) {
        auto fetcher = std::make_shared<FakeFetcher>();
        fetcher->push(FakeFetcher::body("GIF89a"));
        std::atomic<int> niceDuringFetch{-100};
        fetcher->onFetch = [&] { niceDuringFetch = nice(); };
        run({hit(fetcher, "collect.test", "Ev", 0, ip)});
        const std::string url = fetcher->urls().at(0);
        const std::size_t at = url.find("&utmip=" + ip + "&");
        EXPECT_EQ(url.find("utmip"), bare ? at + 1 : std::string::npos) << url;
        EXPECT_GE(niceDuringFetch.load(), 15);
    }
    EXPECT_EQ(nice(), before); // the caller's thread is left alone
}

class AnalyticsHelperE2E : public testing::Test {
protected:
    void SetUp() override {
        server.reply("/__utm.gif", 200, "GIF89a", "image/gif");
        server.reply("/ip", 200, "<html><body>IP Address: 203.0.113.7</body></html>");
    }

    // A helper on a freshly loaded store, as after a restart, with the standard 1 s delay
    // unless `change` says otherwise.
    std::unique_ptr<AnalyticsHelper>
    helper(std::function<void(AnalyticsHelper::Dependencies&, TrackingTransport&)> change = {}) {
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
        if (change) {
            change(d, *transport);
        }
        d.transport = transport;
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
    // The fixed keys are checked where the request is built; these come from the helper.
    EXPECT_EQ(hits[0].param("utmac") + " " + hits[0].param("utmip"), "UA-12345-1 203.0.113.7");
}

// Opted out (in the environment or the preferences), no collection host, or an empty domain
// name: nothing is queued. Every way a file can hold the opt-out is checked with the settings.
TEST_F(AnalyticsHelperE2E, OptingOutOrAnEmptyDomainNameQueuesNothing) {
    using Deps = AnalyticsHelper::Dependencies;
    using Change = std::function<void(Deps&, TrackingTransport&)>;
    const std::pair<Change, bool /* stores the identifier */> cases[] = {
        {[](Deps& d, auto&) { d.config.doNotTrack = true; }, false},
        {[](Deps& d, auto&) { d.defaults->setBool(true, AnalyticsHelper::kOptOutKey); }, false},
        {[](Deps& d, auto&) { d.config.collectionHost.clear(); }, false},
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

// The helper as the application builds it: configuration from the environment, the user's
// standard preferences, the process-wide queue and the real network. The other tests here never
// touch the process-wide configuration.
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
    EXPECT_TRUE(hits[1].param("utme").ends_with("*CleanButtonClicked*" + *uuid + ")(0)"));
    EXPECT_NE(hits[0].param("utmn"), hits[1].param("utmn")); // the system's random source
}

} // namespace
