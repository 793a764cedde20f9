// What the hits run on and with: the serial queue (order, and the bound that drops the oldest
// waiting operation) and the public address lookup that every hit asks.

#include "GoogleAnalytics/CapturingLogger.h"
#include "GoogleAnalytics/FakeFetcher.h"
#include "GoogleAnalytics/OperationQueue.h"
#include "GoogleAnalytics/PublicIP.h"

#include <gtest/gtest.h>

#include <future>
#include <numeric>
#include <thread>

namespace {

// Keeps the worker busy from the moment it runs until it is let go.
class Holder : public Operation {
public:
    static std::shared_ptr<Holder> start(OperationQueue& queue) {
        auto holder = std::make_shared<Holder>();
        auto started = holder->started_.get_future();
        queue.addOperation(holder);
        started.wait();
        return holder;
    }
    void main() override {
        started_.set_value();
        release_.get_future().wait();
    }
    void letGo() { release_.set_value(); }

private:
    std::promise<void> started_, release_;
};

// Records its number when it runs.
class Numbered : public Operation {
public:
    Numbered(int number, std::vector<int>& ran) : number_(number), ran_(ran) {}
    void main() override { ran_.push_back(number_); }

private:
    int number_;
    std::vector<int>& ran_;
};

// While a holder keeps the worker busy, operations 1 to `added` - 1 are queued; twice, since a
// queue that drains and overflows again must say so again, once per overflow.
TEST(OperationQueue, ABoundedQueueDropsTheOldestWaitingOperations) {
    struct Case {
        std::size_t bound;
        int added;
        std::vector<int> ran; // in each round
        std::size_t logLines;
    };
    std::vector<int> all(19);
    std::iota(all.begin(), all.end(), 1);
    const Case cases[] = {
        {0, 20, all, 0},      // unbounded
        {3, 4, {1, 2, 3}, 0}, // the running one does not count
        {3, 10, {7, 8, 9}, 1},
        {1, 5, {4}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("bound " + std::to_string(c.bound) + ", " + std::to_string(c.added) +
                     " added");
        std::vector<int> ran;
        OperationQueue queue(c.bound);
        EXPECT_EQ(queue.maxWaitingOperations(), c.bound);
        const auto lines = loggedBy([&] {
            for (int round = 0; round < 2; ++round) {
                const auto holder = Holder::start(queue);
                for (int i = 1; i < c.added; ++i) {
                    queue.addOperation(std::make_shared<Numbered>(i, ran));
                }
                EXPECT_EQ(queue.operationCount(), c.ran.size() + 1);
                holder->letGo();
                queue.waitUntilAllOperationsAreFinished();
            }
        });
        std::vector<int> twice = c.ran;
        twice.insert(twice.end(), c.ran.begin(), c.ran.end());
        EXPECT_EQ(ran, twice);
        EXPECT_EQ(queue.droppedOperationCount(), 2 * (c.added - 1 - c.ran.size()));
        EXPECT_EQ(lines.size(), 2 * c.logLines) << testing::PrintToString(lines);
    }
}

using Status = PublicIP::ScrapeResult::Status;

TEST(ScrapeAddress, FindsThePieceAfterAddress) {
    const std::tuple<std::string, Status, std::optional<std::string>> cases[] = {
        {"<html><head><title>Current IP Check</title></head><body>Current IP Address: "
         "203.0.113.7</body></html>\r\n",
         Status::Found, "203.0.113.7"},
        // Only the html tag is gone in the first pass, so the piece is "<body>Address:".
        {"<html><body>Address: 203.0.113.7</body></html>", Status::NotFound, std::nullopt},
        {"<p>x</p> IP Address:", Status::NotFound, std::nullopt}, // last word
        {"IP Address:\n192.0.2.1", Status::NotFound, std::nullopt},
        {"Address: 192.0.2.1 Address: 192.0.2.2 <b", Status::Found, "192.0.2.1"},
        {"<i> IP Address: <b>192.0.2.6</b> </i>", Status::Found, ""}, // the tag became a space
        {"<b>IP</b> <b>Address:</b> <b>192.0.2.5</b>", Status::NotFound, std::nullopt},
        {" \t\r\n\xc2\xa0\xe3\x80\x80", Status::Blank, std::nullopt},
    };
    for (const auto& [page, status, address] : cases) {
        const PublicIP::ScrapeResult result = PublicIP::scrapeAddress(page);
        EXPECT_EQ(result.status, status) << page;
        EXPECT_EQ(result.address, address) << page;
        EXPECT_TRUE(status != Status::NotFound || !result.reason.empty()) << page;
    }
}

const std::string kEchoUrl = "http://echo.invalid/";
const std::string kPage = "<html><body> IP Address: 203.0.113.7 </body></html>";

TEST(PublicIPLookup, CachesAnswersButRetriesFailedFetches) {
    struct Case {
        std::string url;
        std::optional<FetchResult> first; // null: the fetch throws
        std::optional<std::string> one, two;
        std::size_t fetches;
    };
    const Case cases[] = {
        {kEchoUrl, FakeFetcher::body(kPage), "203.0.113.7", "203.0.113.7", 1},
        // An unparsable page or a throwing fetch gives the empty text for good.
        {kEchoUrl, FakeFetcher::body("<p>x</p> Address:"), "", "", 1},
        {kEchoUrl, std::nullopt, "", "", 1},
        // What is cached is what was checked: an address with a NUL in it is no address.
        {kEchoUrl, FakeFetcher::body(std::string("IP Address: 203.0.113.7\0&utmac=UA-6-1 ", 38)),
         "", "", 1},
        // No page at all is retried.
        {kEchoUrl, FetchResult{false, 0, "", "refused", false}, std::nullopt, "203.0.113.7", 2},
        {kEchoUrl, FakeFetcher::body("IP Address: 1.2.3.4 \xff"), std::nullopt, "203.0.113.7", 2},
        // Nothing but http and https is fetched.
        {"file:///etc/hostname", FakeFetcher::body(kPage), std::nullopt, std::nullopt, 0}};
    for (const Case& c : cases) {
        auto fetcher = std::make_shared<FakeFetcher>();
        if (c.first) {
            fetcher->push(*c.first);
            fetcher->push(FakeFetcher::body(kPage));
        }
        PublicIPLookup lookup(c.url, fetcher);
        EXPECT_EQ(lookup.getIPAddress(), c.one) << c.url;
        EXPECT_EQ(lookup.getIPAddress(), c.two) << c.url;
        EXPECT_EQ(fetcher->urls(), std::vector<std::string>(c.fetches, c.url));
    }
}

TEST(PublicIPLookup, ConcurrentCallersShareOneFetch) {
    auto fetcher = std::make_shared<FakeFetcher>();
    fetcher->push(FakeFetcher::body(kPage));
    // The first fetch stays busy while the others arrive.
    fetcher->onFetch = [] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); };
    PublicIPLookup lookup(kEchoUrl, fetcher);
    std::vector<std::future<std::optional<std::string>>> answers;
    for (int i = 0; i < 8; ++i) {
        answers.push_back(std::async(std::launch::async, [&] { return lookup.getIPAddress(); }));
    }
    for (auto& answer : answers) {
        EXPECT_EQ(answer.get(), "203.0.113.7");
    }
    EXPECT_EQ(fetcher->urls().size(), 1u);
}

} // namespace
