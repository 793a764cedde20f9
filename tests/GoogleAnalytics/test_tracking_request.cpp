#include "GoogleAnalytics/GoogleEvent.h"
#include "GoogleAnalytics/TrackingRequest.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

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

TEST(TrackingRequest, DomainHash) {
    const std::pair<std::optional<std::string>, std::int32_t> cases[] = {
        {std::nullopt, 0}, {"", 0}, {"a", 1589345}, {"abc", 37651568}};
    for (const auto& [domain, hash] : cases) {
        TrackingRequest request;
        request.setPageDomain(domain);
        EXPECT_EQ(request.domainHash(), hash) << domain.value_or("(null)");
    }
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

} // namespace
