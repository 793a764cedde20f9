// Hits against real HTTP servers on 127.0.0.1, the ways they can go wrong, and what is logged.

#include "GoogleAnalytics/FakeFetcher.h"
#include "GoogleAnalytics/GoogleTracking.h"
#include "GoogleAnalytics/LocalHttpServer.h"
#include "GoogleAnalytics/RequestFactory.h"

#include "logging/DDLog.h"

#include <gtest/gtest.h>

#include <future>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using Outcome = GoogleTracking::Outcome;
using namespace std::chrono_literals;

std::shared_ptr<CurlFetcher> curl(std::chrono::milliseconds timeout = 10s,
                                  std::size_t maxBody = TrackingTransport::kMaxReplyBytes) {
    return std::make_shared<CurlFetcher>(CurlFetcher::Options{timeout, 16, maxBody});
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

// Keeps each message behind its flag's number.
struct CapturingLogger : DDLogger {
    void logMessage(const DDLogMessagePtr& message) override {
        std::lock_guard lock(mutex);
        lines.push_back(std::to_string(message->logFlag()) + " " + *message->logMsg());
    }
    DDLogFormatterPtr logFormatter() override { return nullptr; }
    void setLogFormatter(DDLogFormatterPtr) override {}
    std::mutex mutex;
    std::vector<std::string> lines;
};

// Checks that `work` logs one line for each prefix, in order.
void expectLogged(const std::function<void()>& work, const std::vector<std::string>& prefixes) {
    auto logger = std::make_shared<CapturingLogger>();
    appLogLevel = LogLevelVerbose;
    DDLog::addLogger(logger);
    work();
    // Flushes from a helper thread: a flush on the main thread leaves per-thread queue state
    // there that the logging library's own flush at exit would use after it was destroyed.
    std::thread([] { DDLog::flushLog(); }).join();
    DDLog::removeLogger(logger);
    appLogLevel = LogLevelWarn;
    std::lock_guard lock(logger->mutex);
    ASSERT_EQ(logger->lines.size(), prefixes.size()) << testing::PrintToString(logger->lines);
    for (std::size_t i = 0; i < prefixes.size(); ++i) {
        EXPECT_EQ(logger->lines[i].rfind(prefixes[i], 0), 0u) << logger->lines[i];
    }
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
        res.status = is("*NoContent*") ? 204 : is("*Error*") ? 500 : 200;
        const bool empty = is("*Empty*") || is("*NoContent*");
        res.set_content(is("*Huge*") ? std::string(8 << 20, 'x')
                        : empty      ? ""
                                     : "GIF89a",
                        "image/gif");
    });
    // An exception is contained and the queue carries on.
    const std::pair<std::string, Outcome> cases[] = {
        {"Hang", Outcome::TriggerError},      {"Thrown", Outcome::ExceptionThrown},
        {"Gif", Outcome::Triggered},          {"Error", Outcome::Triggered},
        {"Huge", Outcome::Triggered},         {"Empty", Outcome::TriggerError},
        {"NoContent", Outcome::TriggerError}, {"Loop", Outcome::TriggerError},
        {"Refused", Outcome::TriggerError}};
    std::vector<std::shared_ptr<GoogleTracking>> ops;
    const std::string error = std::to_string(LogFlagError) + " ",
                      info = std::to_string(LogFlagInfo) + " ";
    std::vector<std::string> lines;
    for (const auto& [action, outcome] : cases) {
        const bool thrown = action == "Thrown"; // an unscripted fake fetcher throws
        ops.push_back(hit(thrown ? std::shared_ptr<HttpFetcher>(std::make_shared<FakeFetcher>())
                                 : curl(action == "Hang" ? 300ms : 10s),
                          action == "Refused" ? LocalHttpServer().hostAndPort() /* closed again */
                                              : server.hostAndPort(),
                          action, thrown ? std::nullopt : std::optional(0)));
        lines.push_back(std::to_string(LogFlagVerbose) +
                        " Google Analytics URL: http://127.0.0.1:");
        lines.push_back((outcome == Outcome::Triggered ? info : error) +
                        ("Analytics event (Linux 1.0, " + action) +
                        (thrown ? ", L, (null)): exception thrown no scripted"
                         : outcome == Outcome::Triggered ? ", L, 0): triggered successfully!, ["
                                                         : ", L, 0): trigger error, ["));
    }
    expectLogged([&] { run(ops); }, lines);
    for (std::size_t i = 0; i < ops.size(); ++i) {
        EXPECT_EQ(ops[i]->outcome(), cases[i].second) << cases[i].first;
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

} // namespace
