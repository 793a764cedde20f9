// The analytics library below the helper: the hit URL (its escaping, the keys of a tracking
// request and the cookie they carry), the serial queue the hits run on (order, and the bound
// that drops the oldest waiting operation) and the public address lookup every hit asks.

#include "GoogleAnalytics/CapturingLogger.h"
#include "GoogleAnalytics/FakeFetcher.h"
#include "GoogleAnalytics/GoogleEvent.h"
#include "GoogleAnalytics/JFUrlUtil.h"
#include "GoogleAnalytics/OperationQueue.h"
#include "GoogleAnalytics/PublicIP.h"
#include "GoogleAnalytics/TrackingRequest.h"
#include "GoogleAnalytics/URLEncoding.h"

#include <gtest/gtest.h>

#include <future>
#include <map>
#include <numeric>
#include <sstream>
#include <thread>

namespace {

// A request whose random source hands out `draws` in turn (and fails the test beyond them).
TrackingRequest makeRequest(std::vector<std::uint32_t> draws, double now = 1400000000.0) {
    auto random = [draws, next = std::size_t(0)]() mutable {
        EXPECT_LT(next, draws.size()) << "more random draws than scripted";
        return next < draws.size() ? draws[next++] : 0u;
    };
    return TrackingRequest("collect.test", random, [now] { return now; });
}

// The query of a hit URL as a map; checks the form on the way.
std::map<std::string, std::string> mapOf(const std::string& url) {
    const std::string prefix = "http://collect.test/__utm.gif?";
    EXPECT_EQ(url.rfind(prefix, 0), 0u) << url;
    EXPECT_EQ(url.back(), '&') << url;
    std::map<std::string, std::string> m;
    std::istringstream query(url.substr(prefix.size()));
    for (std::string key, value;
         std::getline(query, key, '=') && std::getline(query, value, '&');) {
        EXPECT_TRUE(m.emplace(key, value).second) << "twice: " << key;
    }
    return m;
}

const std::string kDefaultCookie =
    "__utma=0.33.1400000000.1400000000.1400000000.2%3B+__utmz=0.1400000000.1.1."
    "utmcsr=(direct)%7Cutmccn=(direct)%7Cutmcmd=(none)%3B";

TEST(TrackingRequest, DefaultHitHasEveryFixedKeyAndThreeIndependentDraws) {
    TrackingRequest request = makeRequest({11, 22, 1000000033u, 4294967295u, 55, 66});
    const std::map<std::string, std::string> expected = {
        {"utmwv", "5.2.2d"}, {"utmn", "11"}, {"utmhn", ""},
        {"utmcs", "UTF-8"},  {"utmsr", "-"}, {"utmsc", "-"},
        {"utmul", "-"},      {"utmje", "0"}, {"utmfl", "-"},
        {"utmni", "1"},      {"utmdt", ""},  {"utmhid", "22"},
        {"utmr", "-"},       {"utmp", "/"},  {"utmcc", kDefaultCookie}};
    EXPECT_EQ(mapOf(request.trackingGifURL()), expected);
    // Fresh draws on every call, reduced below one billion.
    const auto again = mapOf(request.trackingGifURL());
    EXPECT_EQ(again.at("utmn"), "294967295");
    EXPECT_EQ(again.at("utmhid"), "55");
    EXPECT_EQ(again.at("utmcc").substr(0, 12), "__utma=0.66.");
}

TEST(TrackingRequest, CookieCarriesHashVisitCountCampaignAndRoundedTime) {
    TrackingRequest request = makeRequest({4000000000u}, 1400000000.6);
    request.setPageDomain("abc");
    request.setVisitCount("7");
    request.setReferralSource("news letter");
    request.setCampaign("spring");
    request.setMedium("mail");
    EXPECT_EQ(request.utmcCookieString(),
              "__utma=37651568.0.1400000001.1400000001.1400000001.7%3B+__utmz=37651568."
              "1400000001.1.1.utmcsr=news%20letter%7Cutmccn=spring%7Cutmcmd=mail%3B");
}

TEST(TrackingRequest, EventStringWithAndWithoutValue) {
    const std::pair<std::optional<std::int64_t>, const char*> cases[] = {
        {0, "5(Mac%201.2*PopoverShown*L)(0)"},
        {std::nullopt, "5(Mac%201.2*PopoverShown*L)()"},
        {2147483648LL, "5(Mac%201.2*PopoverShown*L)(-2147483648)"}, // a signed 32-bit number
    };
    for (const auto& [value, utme] : cases) {
        TrackingRequest request = makeRequest({1, 2, 3});
        request.setTrackingEvent(
            GoogleEvent::initWithParams("example.org", "Mac 1.2", "PopoverShown", "L", value));
        auto query = mapOf(request.trackingGifURL());
        EXPECT_EQ(query["utme"] + query["gaq"] + query["utmt"], std::string(utme) + "1event");
    }
}

TEST(TrackingRequest, PresenceAndEncodingOfOptionalKeys) {
    TrackingRequest request = makeRequest({1, 2, 3, 4, 5, 6});
    request.setRequestedByIpAddress("");
    request.setPageDomain(std::nullopt);
    request.setPageUrl(std::nullopt);
    request.setPageTitle(std::nullopt);
    auto query = mapOf(request.trackingGifURL());
    EXPECT_EQ(query.count("utmip") + query.count("utmhn") + query.count("utmp"), 0u);
    EXPECT_EQ(query["utmdt"], "");
    request.setRequestedByIpAddress("2001:db8::1");
    request.setAnalyticsAccountCode("UA-1;2");
    request.setPageTitle("My page; v1.0");
    request.setPageUrl("/a b");
    query = mapOf(request.trackingGifURL());
    EXPECT_EQ(query["utmip"], "2001:db8::1");
    EXPECT_EQ(query["utmac"], "UA-1;2");
    EXPECT_EQ(query["utmdt"], "My%20page%3B%20v1.0");
    EXPECT_EQ(query["utmp"], "/a b");
}

// UTF-8 rows; the UTF-16 form must give the same with every byte taken as one code unit,
// since both treat every unit above 127 alike.
TEST(EncodeUrl, EncodesAsTheTableSays) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"a b;c|d@^~", "a%20b%3Bc%7Cd%40%5E%7E"},
        {"%41%af%aF", "%41%af%aF"},         // existing escapes in their own case
        {"100%%4", "100%25%254"},           // alone, or too short at the end
        {"%G1%1G%%41", "%25G1%251G%25%41"}, // not hexadecimal
        // From the first "?" on the query characters too.
        {"{a}:/a.b-c?c/d.e-f?{x}: ;%2d", "{a}:/a.b-c?c%2Fd%2Ee%2Df%3F%7Bx%7D%3A%20%3B%2d"},
        {"=&+()*,!'#[]<>\"\\\t\n", "=&+()*,!'#[]<>\"\\\t\n"}, // passed through
        {"caf\xc3\xa9 ?\xf0\x9f\x98\x80.", "caf\xc3\xa9%20?\xf0\x9f\x98\x80%2E"},
    };
    for (const auto& [in, expected] : cases) {
        EXPECT_EQ(JFUrlUtil::encodeUrl(in), expected) << in;
        EXPECT_EQ(JFUrlUtil::encodeUrl(std::u16string(in.begin(), in.end())),
                  std::u16string(expected.begin(), expected.end()))
            << in;
    }
}

TEST(EncodeUrl, Utf16UnitsAboveAsciiPassUnchangedAndNullIsEmpty) {
    // A surrogate pair, a lone surrogate, and units whose low byte reads as "%" or " ".
    const std::u16string in = u"\U0001F600?\xD800 \u0125\u0120";
    EXPECT_EQ(JFUrlUtil::encodeUrl(in), u"\U0001F600?\xD800%20\u0125\u0120");
    EXPECT_EQ(JFUrlUtil::encodeUrl(static_cast<const char16_t*>(nullptr)), u"");
    EXPECT_EQ(JFUrlUtil::encodeUrl(std::optional<std::string>()), "");
}

TEST(IsPercentAtIndex, NeedsTwoHexDigitsThatExist) {
    const std::tuple<std::u16string, std::size_t, bool> cases[] = {
        {u"a%Af", 1, true}, {u"x09", 0, true}, {u"%4", 0, false},
        {u"%:@", 0, false}, {u"%0", 5, false}, {u"%41", std::size_t(-1), false}};
    for (const auto& [text, index, expected] : cases) {
        EXPECT_EQ(JFUrlUtil::isPercentAtIndex(index, text.data(), text.size()), expected)
            << std::string(text.begin(), text.end()) << " at " << index;
    }
}

TEST(UrlEncodeUsingEncoding, EscapesForbiddenAndListedCharacters) {
    const std::tuple<std::string, NSStringEncoding, std::optional<std::string>> cases[] = {
        {"az09-._~()*!'\";:@&=+$,/?%#[] <\x7f\xc3\xa9", NSUTF8StringEncoding,
         "az09-._~()*%21%27%22%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D%20%3C%7F%C3%A9"},
        {"a b", NSASCIIStringEncoding, "a%20b"},
        // Not representable or not supported: no result rather than a wrong one.
        {"caf\xc3\xa9", NSASCIIStringEncoding, std::nullopt},
        {"\xed\xa0\x80", NSUTF8StringEncoding, std::nullopt},
        {"abc", 99, std::nullopt}};
    for (const auto& [in, encoding, expected] : cases) {
        EXPECT_EQ(URLEncoding::urlEncodeUsingEncoding(in, encoding), expected) << in;
    }
}

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
