#include "FakeFetcher.h"
#include "PublicIP.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using Status = PublicIP::ScrapeResult::Status;

struct ScrapeCase {
    const char* name;
    std::string page;
    Status status;
    std::optional<std::string> address;
};

void PrintTo(const ScrapeCase& c, std::ostream* os) {
    *os << c.name;
}

class ScrapeAddressTest : public testing::TestWithParam<ScrapeCase> {};

TEST_P(ScrapeAddressTest, FindsThePieceAfterAddress) {
    const ScrapeCase& c = GetParam();
    PublicIP::ScrapeResult result = PublicIP::scrapeAddress(c.page);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.address, c.address);
    if (result.status == Status::NotFound) {
        EXPECT_FALSE(result.reason.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pages, ScrapeAddressTest,
    testing::Values(
        ScrapeCase{"fullPage",
                   "<html><head><title>Current IP Check</title></head><body>Current IP Address: "
                   "203.0.113.7</body></html>\r\n",
                   Status::Found, "203.0.113.7"},
        // Only the html tag is gone in the first pass, so the piece is "<body>Address:".
        ScrapeCase{"bodyGluedToAddress", "<html><body>Address: 203.0.113.7</body></html>",
                   Status::NotFound, std::nullopt},
        ScrapeCase{"noAddressWord", "<html><body>Your IP is 203.0.113.7</body></html>",
                   Status::NotFound, std::nullopt},
        ScrapeCase{"addressIsLastWord", "<p>x</p> IP Address:", Status::NotFound, std::nullopt},
        ScrapeCase{"addressBeforeClosingTag", "<html><p>IP Address:</p></html>", Status::NotFound,
                   std::nullopt},
        ScrapeCase{"noTags", "Current IP Address: 198.51.100.2", Status::Found, "198.51.100.2"},
        ScrapeCase{"attributesAndSelfClosing",
                   "<html><body class=\"x\">IP Address: 203.0.113.9<br/></body></html>",
                   Status::Found, "203.0.113.9"},
        ScrapeCase{"firstAddressWins", "Address: 192.0.2.1 Address: 192.0.2.2", Status::Found,
                   "192.0.2.1"},
        ScrapeCase{"twoSpacesGiveEmptyPiece", "IP Address:  192.0.2.1", Status::Found, ""},
        ScrapeCase{"lineBreakIsNoSpace", "IP Address:\n192.0.2.1", Status::NotFound, std::nullopt},
        ScrapeCase{"unclosedTagAtEnd", "IP Address: 192.0.2.3 <b", Status::Found, "192.0.2.3"},
        ScrapeCase{"wrongCase", "IP address: 192.0.2.4", Status::NotFound, std::nullopt},
        ScrapeCase{"empty", "", Status::Blank, std::nullopt},
        ScrapeCase{"whiteSpaceOnly", " \t\r\n ", Status::Blank, std::nullopt},
        ScrapeCase{"unicodeSpaceOnly", "\xc2\xa0\xe3\x80\x80\xe2\x80\xa8", Status::Blank,
                   std::nullopt},
        // The same tag text repeats; every copy goes in one pass.
        ScrapeCase{"repeatedTags", "<b>IP</b> <b>Address:</b> <b>192.0.2.5</b>", Status::NotFound,
                   std::nullopt},
        // The tag after "Address: " becomes a second space, so the piece is empty.
        ScrapeCase{"tagAfterAddressSpace", "<i> IP Address: <b>192.0.2.6</b> </i>", Status::Found,
                   ""}),
    [](const testing::TestParamInfo<ScrapeCase>& p) { return std::string(p.param.name); });

std::shared_ptr<FakeFetcher> fetcherWith(std::initializer_list<FetchResult> answers) {
    auto fetcher = std::make_shared<FakeFetcher>();
    for (const auto& a : answers) {
        fetcher->push(a);
    }
    return fetcher;
}

const std::string kEchoUrl = "http://echo.invalid/";
const std::string kPage = "<html><body> IP Address: 203.0.113.7 </body></html>";

TEST(PublicIPLookup, SecondCallAfterSuccessDoesNotFetch) {
    auto fetcher = fetcherWith({FakeFetcher::body(kPage)});
    PublicIPLookup lookup(kEchoUrl, fetcher);
    EXPECT_EQ(lookup.getIPAddress(), "203.0.113.7");
    EXPECT_EQ(lookup.getIPAddress(), "203.0.113.7");
    EXPECT_EQ(fetcher->count(), 1u);
    EXPECT_EQ(fetcher->urls().front(), kEchoUrl);
}

TEST(PublicIPLookup, FailuresThatAreRetried) {
    const std::pair<const char*, FetchResult> failures[] = {
        {"networkFailure", FakeFetcher::failure()},
        {"emptyPage", FakeFetcher::body("")},
        {"blankPage", FakeFetcher::body("  \n ")},
        {"badUtf8", FakeFetcher::body("IP Address: 1.2.3.4 \xff")},
    };
    for (const auto& [name, failure] : failures) {
        auto fetcher = fetcherWith({failure, FakeFetcher::body(kPage)});
        PublicIPLookup lookup(kEchoUrl, fetcher);
        EXPECT_EQ(lookup.getIPAddress(), std::nullopt) << name;
        EXPECT_EQ(lookup.getIPAddress(), "203.0.113.7") << name;
        EXPECT_EQ(fetcher->count(), 2u) << name;
    }
}

TEST(PublicIPLookup, UnparsablePageCachesEmptyTextForGood) {
    const char* pages[] = {"<html><body>no address here</body></html>", "<p>x</p> Address:"};
    for (const char* page : pages) {
        auto fetcher = fetcherWith({FakeFetcher::body(page), FakeFetcher::body(kPage)});
        PublicIPLookup lookup(kEchoUrl, fetcher);
        EXPECT_EQ(lookup.getIPAddress(), "") << page;
        EXPECT_EQ(lookup.getIPAddress(), "") << page;
        EXPECT_EQ(fetcher->count(), 1u) << page;
    }
}

TEST(PublicIPLookup, ThrowingFetchCachesEmptyText) {
    auto fetcher = std::make_shared<FakeFetcher>(); // no script: every fetch throws
    PublicIPLookup lookup(kEchoUrl, fetcher);
    EXPECT_EQ(lookup.getIPAddress(), "");
    EXPECT_EQ(lookup.getIPAddress(), "");
    EXPECT_EQ(fetcher->count(), 1u);
}

TEST(PublicIPLookup, UnusableUrlGivesNullWithoutFetching) {
    for (const char* url :
         {"", "not a url", "ftp://echo.invalid/", "file:///etc/hostname", "http://"}) {
        auto fetcher = fetcherWith({FakeFetcher::body(kPage)});
        PublicIPLookup lookup(url, fetcher);
        EXPECT_EQ(lookup.getIPAddress(), std::nullopt) << url;
        EXPECT_EQ(fetcher->count(), 0u) << url;
    }
}

TEST(PublicIPLookup, ConcurrentCallersShareOneFetch) {
    auto fetcher = fetcherWith({FakeFetcher::body(kPage)});
    // Keep the first fetch busy so the others arrive while it runs.
    fetcher->onFetch(
        [](const std::string&) { std::this_thread::sleep_for(std::chrono::milliseconds(50)); });
    PublicIPLookup lookup(kEchoUrl, fetcher);
    std::vector<std::optional<std::string>> answers(8);
    std::vector<std::thread> threads;
    for (auto& answer : answers) {
        threads.emplace_back([&lookup, &answer] { answer = lookup.getIPAddress(); });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (const auto& answer : answers) {
        EXPECT_EQ(answer, "203.0.113.7");
    }
    EXPECT_EQ(fetcher->count(), 1u);
}

} // namespace
