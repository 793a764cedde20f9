// What the analytics sources write to the log, at the application's level and above it.

#include "AnalyticsHelper.h"
#include "FakeFetcher.h"
#include "GoogleTracking.h"
#include "LocalHttpServer.h"
#include "PublicIP.h"
#include "RequestFactory.h"

#include <DDLog.h>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

// Flushes from a helper thread: a flush made on the main thread leaves per-thread queue state
// there that the logging library's own flush at exit then uses after it was destroyed.
void flushLog() {
    std::thread([] { DDLog::flushLog(); }).join();
}

class CapturingLogger : public DDLogger {
public:
    void logMessage(const DDLogMessagePtr& message) override {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(message->logFlag(), *message->logMsg());
    }
    DDLogFormatterPtr logFormatter() override { return nullptr; }
    void setLogFormatter(DDLogFormatterPtr) override {}

    std::vector<std::pair<std::int32_t, std::string>> lines() {
        flushLog();
        std::lock_guard lock(mutex_);
        return lines_;
    }
    void clear() {
        flushLog();
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

private:
    std::mutex mutex_;
    std::vector<std::pair<std::int32_t, std::string>> lines_;
};

class AnalyticsLogging : public testing::Test {
protected:
    void SetUp() override {
        savedLevel = appLogLevel.load();
        DDLog::addLogger(logger);
    }
    void TearDown() override {
        DDLog::removeLogger(logger);
        flushLog();
        appLogLevel = savedLevel;
    }

    static std::shared_ptr<TrackingTransport> transport(std::shared_ptr<HttpFetcher> fetcher) {
        auto t = std::make_shared<TrackingTransport>();
        t->fetcher = std::move(fetcher);
        t->startDelay = 0ms;
        return t;
    }

    static std::shared_ptr<GoogleTracking> hit(std::shared_ptr<const TrackingTransport> t,
                                               const std::string& host,
                                               std::optional<std::int64_t> value = 0) {
        RequestFactory factory(
            host, [] { return 7u; }, [] { return 1400000000.0; });
        auto op = std::make_shared<GoogleTracking>(std::move(t));
        op->setRequest(factory.buildRequest(
            GoogleEvent::initWithParams("example.org", "Linux 1.0", "Ev", "L", value), "UA-1-1"));
        return op;
    }

    static void run(std::initializer_list<std::shared_ptr<GoogleTracking>> ops) {
        OperationQueue queue;
        for (const auto& op : ops) {
            queue.addOperation(op);
        }
        queue.waitUntilAllOperationsAreFinished();
    }

    std::int32_t savedLevel = 0;
    std::shared_ptr<CapturingLogger> logger = std::make_shared<CapturingLogger>();
};

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

TEST_F(AnalyticsLogging, AtTheApplicationLevelOnlyFailuresAreWritten) {
    appLogLevel = LogLevelWarn;
    auto ok = std::make_shared<FakeFetcher>();
    ok->push(FakeFetcher::body("GIF89a"));
    auto empty = std::make_shared<FakeFetcher>();
    empty->push(FakeFetcher::body(""));
    auto throwing = std::make_shared<FakeFetcher>();
    run({hit(transport(ok), "collect.test"), hit(transport(empty), "collect.test", std::nullopt),
         hit(transport(throwing), "collect.test")});

    auto lines = logger->lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].first, LogFlagError);
    EXPECT_TRUE(startsWith(lines[0].second,
                           "Analytics event (Linux 1.0, Ev, L, (null)): trigger error, "
                           "[GoogleTracking"))
        << lines[0].second;
    EXPECT_EQ(lines[1].first, LogFlagError);
    EXPECT_TRUE(startsWith(lines[1].second,
                           "Analytics event (Linux 1.0, Ev, L, 0): exception thrown no scripted "
                           "answer, [GoogleTracking"))
        << lines[1].second;
}

TEST_F(AnalyticsLogging, TimeOutGivesOneErrorLineAndTheNextHitStillGoesOut) {
    appLogLevel = LogLevelWarn;
    LocalHttpServer server;
    Gate gate;
    struct OpenOnExit {
        Gate& gate;
        ~OpenOnExit() { gate.open(); }
    } release{gate};
    // The first hit hangs; the second is answered.
    std::atomic<int> calls{0};
    server.route("/__utm.gif", [&](const httplib::Request&, httplib::Response& res) {
        if (calls++ == 0) {
            gate.wait();
        }
        res.set_content("GIF89a", "image/gif");
    });
    // Only the first hit has a short time-out, so a slow machine cannot fail the second.
    CurlFetcher::Options impatient;
    impatient.timeout = 200ms;
    CurlFetcher::Options patient;
    patient.timeout = 10s;
    run({hit(transport(std::make_shared<CurlFetcher>(impatient)), server.hostAndPort()),
         hit(transport(std::make_shared<CurlFetcher>(patient)), server.hostAndPort())});
    gate.open();

    auto lines = logger->lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(startsWith(lines[0].second, "Analytics event (Linux 1.0, Ev, L, 0): trigger error"))
        << lines[0].second;
    EXPECT_EQ(server.received().size(), 2u);
}

TEST_F(AnalyticsLogging, VerboseLevelShowsSuccessTheUrlTheEventAndScrapeErrors) {
    appLogLevel = LogLevelVerbose;
    auto ok = std::make_shared<FakeFetcher>();
    ok->push(FakeFetcher::body("GIF89a"));
    run({hit(transport(ok), "collect.test")});
    auto lines = logger->lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].first, LogFlagVerbose);
    EXPECT_TRUE(startsWith(lines[0].second,
                           "Google Analytics URL: http://collect.test/__utm.gif?utmwv=5.2.2d&"))
        << lines[0].second;
    EXPECT_NE(lines[0].second.find("&, [TrackingRequest"), std::string::npos);
    EXPECT_EQ(lines[1].first, LogFlagInfo);
    EXPECT_TRUE(startsWith(lines[1].second,
                           "Analytics event (Linux 1.0, Ev, L, 0): triggered successfully!, "
                           "[GoogleTracking"));

    logger->clear();
    auto page = std::make_shared<FakeFetcher>();
    page->push(FakeFetcher::body("<p>no address</p>"));
    PublicIPLookup lookup("http://echo.test/", page);
    EXPECT_EQ(lookup.getIPAddress(), "");
    EXPECT_EQ(lookup.getIPAddress(), "");
    lines = logger->lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].first, LogFlagVerbose);
    EXPECT_TRUE(startsWith(lines[0].second, "Error getting public IP: ParseError "))
        << lines[0].second;
    EXPECT_NE(lines[0].second.find("[PublicIP"), std::string::npos);

    logger->clear();
    AnalyticsHelper::Dependencies d;
    d.config.collectionHost = "collect.test";
    d.queue = std::make_shared<OperationQueue>();
    d.shortVersion = "1.2";
    AnalyticsHelper helper(d);           // no preferences: the label is "empty"
    helper.fireEvent("PopoverShown", 0); // no domain name: logged, not queued
    helper.fireEvent("AboutShown", std::nullopt);
    lines = logger->lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(startsWith(lines[0].second, "Linux 1.2, PopoverShown, empty, 0, [AnalyticsHelper"))
        << lines[0].second;
    EXPECT_TRUE(startsWith(lines[1].second, "Linux 1.2, AboutShown, empty, (null), "))
        << lines[1].second;
    EXPECT_EQ(d.queue->operationCount(), 0u);
}

} // namespace
