// Hits against real HTTP servers on 127.0.0.1, including the ways they can go wrong.

#include "FakeFetcher.h"
#include "GoogleTracking.h"
#include "LocalHttpServer.h"
#include "OperationQueue.h"
#include "PublicIP.h"
#include "RequestFactory.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Outcome = GoogleTracking::Outcome;
using namespace std::chrono_literals;

struct OpenOnExit {
    Gate& gate;
    ~OpenOnExit() { gate.open(); }
};

std::shared_ptr<TrackingTransport> transportWith(std::shared_ptr<HttpFetcher> fetcher,
                                                 std::optional<std::string> ip = std::nullopt) {
    auto transport = std::make_shared<TrackingTransport>();
    transport->fetcher = std::move(fetcher);
    transport->publicIPAddress = [ip] { return ip; };
    transport->startDelay = 0ms;
    return transport;
}

std::shared_ptr<CurlFetcher> curl(std::chrono::milliseconds timeout = 10000ms,
                                  std::size_t maxBody = TrackingTransport::kMaxReplyBytes) {
    CurlFetcher::Options options;
    options.timeout = timeout;
    options.maxBodyBytes = maxBody;
    return std::make_shared<CurlFetcher>(options);
}

std::shared_ptr<GoogleTracking> hit(std::shared_ptr<const TrackingTransport> transport,
                                    const std::string& host, const std::string& action = "Ev") {
    RequestFactory factory(host, TrackingRequest::systemRandomSource(),
                           TrackingRequest::systemClock());
    auto op = std::make_shared<GoogleTracking>(std::move(transport));
    op->setRequest(factory.buildRequest(
        GoogleEvent::initWithParams("example.org", "Linux 1.0", action, "L", 0), "UA-1-1"));
    return op;
}

// A port on 127.0.0.1 that nothing listens on.
int closedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t length = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    close(fd);
    return ntohs(addr.sin_port);
}

Outcome runOne(const std::shared_ptr<GoogleTracking>& op) {
    OperationQueue queue;
    queue.addOperation(op);
    queue.waitUntilAllOperationsAreFinished();
    return op->outcome();
}

TEST(GoogleTrackingE2E, ReplyBodyDecidesTheOutcomeNotTheStatus) {
    struct Case {
        const char* name;
        int status;
        std::string body;
        Outcome expected;
    };
    const Case cases[] = {
        {"gif", 200, "GIF89a", Outcome::Triggered},
        {"serverErrorWithBody", 500, "oops", Outcome::Triggered},
        {"notFoundWithBody", 404, "missing", Outcome::Triggered},
        {"emptyOk", 200, "", Outcome::TriggerError},
        {"emptyNoContent", 204, "", Outcome::TriggerError},
    };
    for (const Case& c : cases) {
        LocalHttpServer server;
        server.reply("/__utm.gif", c.status, c.body, "image/gif");
        auto op = hit(transportWith(curl()), server.hostAndPort());
        EXPECT_EQ(runOne(op), c.expected) << c.name;
        EXPECT_EQ(server.received().size(), 1u) << c.name;
    }
}

TEST(GoogleTrackingE2E, HugeReplyCountsAsABodyAndIsNotKeptWhole) {
    LocalHttpServer server;
    server.reply("/__utm.gif", 200, std::string(8 << 20, 'x'), "image/gif");
    EXPECT_EQ(runOne(hit(transportWith(curl()), server.hostAndPort())), Outcome::Triggered);

    FetchResult raw = curl()->fetch(server.url("/__utm.gif"));
    EXPECT_TRUE(raw.truncated);
    EXPECT_FALSE(raw.ok);
    EXPECT_EQ(raw.body.size(), TrackingTransport::kMaxReplyBytes);
}

TEST(GoogleTrackingE2E, ServerThatNeverAnswersTimesOutAndTheNextHitStillGoesOut) {
    LocalHttpServer server;
    Gate gate;
    OpenOnExit release{gate};
    // The first hit hangs; the second is answered.
    server.route("/__utm.gif", [&gate](const httplib::Request& req, httplib::Response& res) {
        if (req.get_param_value("utme").find("*First*") != std::string::npos) {
            gate.wait();
        }
        res.set_content("GIF89a", "image/gif");
    });

    // Only the first hit has a short time-out, so a slow machine cannot fail the second.
    auto first = hit(transportWith(curl(300ms)), server.hostAndPort(), "First");
    auto second = hit(transportWith(curl(10000ms)), server.hostAndPort(), "Second");
    OperationQueue queue;
    queue.addOperation(first);
    queue.addOperation(second);
    queue.waitUntilAllOperationsAreFinished();
    gate.open();

    EXPECT_EQ(first->outcome(), Outcome::TriggerError);
    EXPECT_EQ(second->outcome(), Outcome::Triggered);
    auto received = server.received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1].params.find("utme")->second, "5(Linux 1.0*Second*L)(0)");
}

TEST(GoogleTrackingE2E, ConnectionRefusedIsATriggerError) {
    auto op = hit(transportWith(curl()), "127.0.0.1:" + std::to_string(closedPort()));
    EXPECT_EQ(runOne(op), Outcome::TriggerError);
}

TEST(GoogleTrackingE2E, RedirectLoopIsATriggerErrorAfterBoundedRequests) {
    LocalHttpServer server;
    server.route("/__utm.gif", [&server](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(server.url("/again"));
    });
    server.route("/again", [&server](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(server.url("/__utm.gif"));
    });
    auto fetcher = curl();
    EXPECT_EQ(runOne(hit(transportWith(fetcher), server.hostAndPort())), Outcome::TriggerError);
    EXPECT_LE(server.received().size(),
              static_cast<std::size_t>(fetcher->options().maxRedirects) + 1);
}

TEST(GoogleTrackingE2E, RedirectToAGoodReplyIsFollowed) {
    LocalHttpServer server;
    server.route("/__utm.gif", [&server](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(server.url("/pixel.gif"));
    });
    server.reply("/pixel.gif", 200, "GIF89a");
    EXPECT_EQ(runOne(hit(transportWith(curl()), server.hostAndPort())), Outcome::Triggered);
}

TEST(GoogleTracking, ExceptionIsContainedAndTheQueueCarriesOn) {
    auto throwing = std::make_shared<FakeFetcher>(); // unscripted: throws
    auto working = std::make_shared<FakeFetcher>();
    working->push(FakeFetcher::body("GIF89a"));
    auto first = hit(transportWith(throwing), "collect.test");
    auto second = hit(transportWith(working), "collect.test");
    OperationQueue queue;
    queue.addOperation(first);
    queue.addOperation(second);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(first->outcome(), Outcome::ExceptionThrown);
    EXPECT_EQ(second->outcome(), Outcome::Triggered);
    EXPECT_EQ(working->count(), 1u);
}

TEST(GoogleTracking, OnlyABareAddressBecomesUtmip) {
    struct Case {
        std::optional<std::string> ip;
        std::optional<std::string> utmip;
    };
    const Case cases[] = {
        {"203.0.113.7", "203.0.113.7"},
        {"2001:db8::7", "2001:db8::7"},
        {std::nullopt, std::nullopt},
        {"", std::nullopt},
        {"1.2.3.4&utmac=UA-666-1", std::nullopt},
        {"1.2.3.4</b>", std::nullopt},
        {"999.1.1.1", std::nullopt},
    };
    for (const Case& c : cases) {
        auto fetcher = std::make_shared<FakeFetcher>();
        fetcher->push(FakeFetcher::body("GIF89a"));
        auto op = hit(transportWith(fetcher, c.ip), "collect.test");
        ASSERT_EQ(runOne(op), Outcome::Triggered);
        const std::string url = fetcher->urls().at(0);
        const std::string expected = c.utmip ? "&utmip=" + *c.utmip + "&" : "";
        if (c.utmip) {
            EXPECT_NE(url.find(expected), std::string::npos) << url;
        } else {
            EXPECT_EQ(url.find("utmip="), std::string::npos) << url;
        }
        EXPECT_EQ(url.find("UA-666"), std::string::npos) << url;
        EXPECT_EQ(op->request()->requestedByIpAddress(), c.utmip);
    }
}

TEST(GoogleTracking, RunsAtLoweredPriority) {
    EXPECT_EQ(GoogleTracking::niceValueForPriority(0.5), 0);
    EXPECT_EQ(GoogleTracking::niceValueForPriority(0.1), 15);
    EXPECT_EQ(GoogleTracking::niceValueForPriority(0.0), 19);
    EXPECT_EQ(GoogleTracking::niceValueForPriority(-3.0), 19);

    const int before = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    auto fetcher = std::make_shared<FakeFetcher>();
    fetcher->push(FakeFetcher::body("GIF89a"));
    std::atomic<int> niceDuringFetch{-100};
    fetcher->onFetch([&](const std::string&) {
        niceDuringFetch = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    });
    runOne(hit(transportWith(fetcher), "collect.test"));
    EXPECT_GE(niceDuringFetch.load(), 15);
    // The caller's own thread is left alone.
    EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())), before);
}

TEST(PublicIPE2E, EchoPageOverRealHttp) {
    LocalHttpServer server;
    server.reply("/ip", 200,
                 "<html><head><title>Current IP Check</title></head><body>Current IP Address: "
                 "198.51.100.4</body></html>");
    server.reply("/missing", 404, "<html><body> IP Address: 198.51.100.5 </body></html>");
    server.route("/loop", [&server](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(server.url("/loop"));
    });
    server.reply("/huge", 200, "IP Address: 198.51.100.6 " + std::string(1 << 20, 'x'));

    auto fetcher = curl(10000ms, PublicIPLookup::kMaxPageBytes);
    struct Case {
        const char* path;
        std::optional<std::string> first;
        std::optional<std::string> again;
        std::size_t requests; // for both calls
    };
    const Case cases[] = {
        {"/ip", "198.51.100.4", "198.51.100.4", 1},
        {"/missing", "198.51.100.5", "198.51.100.5", 1},
        // A fetch that fails is tried again on the next call.
        {"/huge", std::nullopt, std::nullopt, 2},
    };
    for (const Case& c : cases) {
        const std::size_t before = server.received().size();
        PublicIPLookup lookup(server.url(c.path), fetcher);
        EXPECT_EQ(lookup.getIPAddress(), c.first) << c.path;
        EXPECT_EQ(lookup.getIPAddress(), c.again) << c.path;
        EXPECT_EQ(server.received().size() - before, c.requests) << c.path;
    }
    PublicIPLookup loop(server.url("/loop"), fetcher);
    EXPECT_EQ(loop.getIPAddress(), std::nullopt);
}

TEST(PublicIPE2E, NetworkFailureIsRetriedOnTheNextCall) {
    const int port = closedPort();
    PublicIPLookup lookup("http://127.0.0.1:" + std::to_string(port) + "/ip", curl());
    EXPECT_EQ(lookup.getIPAddress(), std::nullopt);
    LocalHttpServer server(port);
    server.reply("/ip", 200, "IP Address: 192.0.2.8");
    EXPECT_EQ(lookup.getIPAddress(), "192.0.2.8");
    EXPECT_EQ(lookup.getIPAddress(), "192.0.2.8");
    EXPECT_EQ(server.received().size(), 1u);
}

} // namespace
