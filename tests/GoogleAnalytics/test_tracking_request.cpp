#include "GoogleEvent.h"
#include "RequestFactory.h"
#include "TrackingRequest.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <set>

namespace {

// Hands out the given numbers in turn, and counts how many were asked for.
struct ScriptedRandom {
    std::shared_ptr<std::deque<std::uint32_t>> values =
        std::make_shared<std::deque<std::uint32_t>>();
    std::shared_ptr<int> draws = std::make_shared<int>(0);

    TrackingRequest::RandomSource source() const {
        return [values = values, draws = draws] {
            ++*draws;
            if (values->empty()) {
                ADD_FAILURE() << "more random draws than scripted";
                return std::uint32_t(0);
            }
            std::uint32_t v = values->front();
            values->pop_front();
            return v;
        };
    }
};

TrackingRequest::Clock fixedClock(double seconds) {
    return [seconds] { return seconds; };
}

// Query pairs of a hit URL in the order sent; checks the form on the way.
std::vector<std::pair<std::string, std::string>> pairsOf(const std::string& url) {
    const std::string prefix = "http://collect.test/__utm.gif?";
    EXPECT_EQ(url.rfind(prefix, 0), 0u) << url;
    EXPECT_EQ(url.back(), '&') << url;
    std::vector<std::pair<std::string, std::string>> pairs;
    std::size_t pos = prefix.size();
    while (pos < url.size()) {
        std::size_t amp = url.find('&', pos);
        std::string pair = url.substr(pos, amp - pos);
        std::size_t eq = pair.find('=');
        EXPECT_NE(eq, std::string::npos) << pair;
        pairs.emplace_back(pair.substr(0, eq), pair.substr(eq + 1));
        pos = amp + 1;
    }
    return pairs;
}

std::map<std::string, std::string> mapOf(const std::string& url) {
    std::map<std::string, std::string> m;
    for (auto& [k, v] : pairsOf(url)) {
        EXPECT_TRUE(m.emplace(k, v).second) << "duplicate key " << k;
    }
    return m;
}

TrackingRequest makeRequest(ScriptedRandom& random, std::initializer_list<std::uint32_t> draws,
                            double now = 1400000000.0) {
    random.values->assign(draws);
    return TrackingRequest("collect.test", random.source(), fixedClock(now));
}

TEST(TrackingRequest, CookieStringWithDefaults) {
    ScriptedRandom random;
    TrackingRequest request = makeRequest(random, {123456789});
    EXPECT_EQ(request.utmcCookieString(),
              "__utma=0.123456789.1400000000.1400000000.1400000000.2%3B+__utmz=0.1400000000.1.1."
              "utmcsr=(direct)%7Cutmccn=(direct)%7Cutmcmd=(none)%3B");
}

TEST(TrackingRequest, CookieStringCarriesHashVisitCountAndCampaignFields) {
    ScriptedRandom random;
    TrackingRequest request = makeRequest(random, {4000000000u}, 1400000000.6);
    request.setPageDomain("abc");
    request.setVisitCount("7");
    request.setReferralSource("news letter");
    request.setCampaign("spring");
    request.setMedium("mail");
    // 4000000000 mod 10^9 is 0; 1400000000.6 rounds up.
    EXPECT_EQ(request.utmcCookieString(),
              "__utma=37651568.0.1400000001.1400000001.1400000001.7%3B+__utmz=37651568."
              "1400000001.1.1.utmcsr=news%20letter%7Cutmccn=spring%7Cutmcmd=mail%3B");
}

TEST(TrackingRequest, DomainHash) {
    const std::pair<std::optional<std::string>, std::int32_t> cases[] = {
        {std::nullopt, 0},
        {"", 0},
        {"a", 1589345},
        {"abc", 37651568},
    };
    for (const auto& [domain, hash] : cases) {
        TrackingRequest request;
        request.setPageDomain(domain);
        EXPECT_EQ(request.domainHash(), hash) << domain.value_or("(null)");
    }
}

TEST(TrackingRequest, TimeStampRoundsToWholeSeconds) {
    const std::pair<double, const char*> cases[] = {{1400000000.0, "1400000000"},
                                                    {1400000000.4, "1400000000"},
                                                    {1400000000.6, "1400000001"},
                                                    {0.0, "0"}};
    for (const auto& [now, text] : cases) {
        TrackingRequest request(
            "h", [] { return 0u; }, fixedClock(now));
        EXPECT_EQ(request.timeStampCurrent(), text);
    }
}

struct EventCase {
    std::optional<std::int64_t> value;
    const char* utme;
};

TEST(TrackingRequest, EventStringWithAndWithoutValue) {
    const EventCase cases[] = {
        {0, "5(Mac%201.2*PopoverShown*L)(0)"},
        {std::nullopt, "5(Mac%201.2*PopoverShown*L)()"},
        {-12, "5(Mac%201.2*PopoverShown*L)(-12)"},
        // Read as a signed 32-bit number.
        {std::int64_t(1) << 32 | 5, "5(Mac%201.2*PopoverShown*L)(5)"},
        {2147483648LL, "5(Mac%201.2*PopoverShown*L)(-2147483648)"},
    };
    for (const EventCase& c : cases) {
        ScriptedRandom random;
        TrackingRequest request = makeRequest(random, {1, 2, 3});
        request.setTrackingEvent(
            GoogleEvent::initWithParams("example.org", "Mac 1.2", "PopoverShown", "L", c.value));
        auto query = mapOf(request.trackingGifURL());
        EXPECT_EQ(query["utme"], c.utme);
        EXPECT_EQ(query["gaq"], "1");
        EXPECT_EQ(query["utmt"], "event");
    }
}

TEST(TrackingRequest, DefaultRequestHasEveryFixedKeyAndEndsWithAmpersand) {
    ScriptedRandom random;
    TrackingRequest request = makeRequest(random, {11, 22, 33});
    const std::string url = request.trackingGifURL();
    EXPECT_NE(url.find("utmdt=&"), std::string::npos);
    EXPECT_NE(url.find("utmhn=&"), std::string::npos);
    const std::map<std::string, std::string> expected = {
        {"utmwv", "5.2.2d"},
        {"utmn", "11"},
        {"utmhn", ""},
        {"utmcs", "UTF-8"},
        {"utmsr", "-"},
        {"utmsc", "-"},
        {"utmul", "-"},
        {"utmje", "0"},
        {"utmfl", "-"},
        {"utmni", "1"},
        {"utmdt", ""},
        {"utmhid", "22"},
        {"utmr", "-"},
        {"utmp", "/"},
        {"utmcc", "__utma=0.33.1400000000.1400000000.1400000000.2%3B+__utmz=0.1400000000.1.1."
                  "utmcsr=(direct)%7Cutmccn=(direct)%7Cutmcmd=(none)%3B"}};
    EXPECT_EQ(mapOf(url), expected);
}

TEST(TrackingRequest, PresenceOfOptionalKeys) {
    struct Case {
        const char* name;
        std::function<void(TrackingRequest&)> setUp;
        std::set<std::string> present;
        std::set<std::string> absent;
    };
    auto event = GoogleEvent::initWithParams("d", "c", "a", "l", 0);
    const Case cases[] = {
        {"noEvent", [](TrackingRequest&) {}, {}, {"utme", "gaq", "utmt", "utmip", "utmac"}},
        {"event",
         [&](TrackingRequest& r) { r.setTrackingEvent(event); },
         {"utme", "gaq", "utmt"},
         {"utmip"}},
        {"nullIp",
         [](TrackingRequest& r) { r.setRequestedByIpAddress(std::nullopt); },
         {},
         {"utmip"}},
        {"emptyIp", [](TrackingRequest& r) { r.setRequestedByIpAddress(""); }, {}, {"utmip"}},
        {"ip", [](TrackingRequest& r) { r.setRequestedByIpAddress("203.0.113.7"); }, {"utmip"}, {}},
        {"account", [](TrackingRequest& r) { r.setAnalyticsAccountCode("UA-1-2"); }, {"utmac"}, {}},
        {"nullDomain", [](TrackingRequest& r) { r.setPageDomain(std::nullopt); }, {}, {"utmhn"}},
        {"nullPage", [](TrackingRequest& r) { r.setPageUrl(std::nullopt); }, {}, {"utmp"}},
        {"nullTitle", [](TrackingRequest& r) { r.setPageTitle(std::nullopt); }, {"utmdt"}, {}},
    };
    for (const Case& c : cases) {
        ScriptedRandom random;
        TrackingRequest request = makeRequest(random, {1, 2, 3});
        c.setUp(request);
        auto query = mapOf(request.trackingGifURL());
        for (const auto& key : c.present) {
            EXPECT_TRUE(query.count(key)) << c.name << " lacks " << key;
        }
        for (const auto& key : c.absent) {
            EXPECT_FALSE(query.count(key)) << c.name << " has " << key;
        }
    }
}

TEST(TrackingRequest, ValuesAreEncodedOnlyWhereDue) {
    ScriptedRandom random;
    TrackingRequest request = makeRequest(random, {1, 2, 3});
    request.setPageTitle("My page; v1.0");
    request.setPageUrl("/a b");
    request.setAnalyticsAccountCode("UA-1;2");
    request.setRequestedByIpAddress("2001:db8::1");
    auto query = mapOf(request.trackingGifURL());
    EXPECT_EQ(query["utmdt"], "My%20page%3B%20v1.0");
    EXPECT_EQ(query["utmp"], "/a b");
    EXPECT_EQ(query["utmac"], "UA-1;2");
    EXPECT_EQ(query["utmip"], "2001:db8::1");
}

TEST(TrackingRequest, ThreeIndependentDrawsPerUrlAndFreshOnesEachCall) {
    ScriptedRandom random;
    TrackingRequest request = makeRequest(random, {101, 202, 1000000303u, 404, 505, 606});
    auto first = mapOf(request.trackingGifURL());
    EXPECT_EQ(*random.draws, 3);
    EXPECT_EQ(first["utmn"], "101");
    EXPECT_EQ(first["utmhid"], "202");
    EXPECT_EQ(first["utmcc"].substr(0, 13), "__utma=0.303.");
    auto second = mapOf(request.trackingGifURL());
    EXPECT_EQ(*random.draws, 6);
    EXPECT_EQ(second["utmn"], "404");
    EXPECT_EQ(second["utmhid"], "505");
    EXPECT_EQ(second["utmcc"].substr(0, 13), "__utma=0.606.");
}

TEST(TrackingRequest, DrawsAreReducedBelowOneBillion) {
    ScriptedRandom random;
    TrackingRequest request = makeRequest(random, {4294967295u, 999999999u, 1000000000u});
    auto query = mapOf(request.trackingGifURL());
    EXPECT_EQ(query["utmn"], "294967295");
    EXPECT_EQ(query["utmhid"], "999999999");
    EXPECT_EQ(query["utmcc"].substr(0, 11), "__utma=0.0.");
}

TEST(TrackingRequest, SystemRandomSourceVaries) {
    TrackingRequest request("collect.test", TrackingRequest::systemRandomSource(),
                            TrackingRequest::systemClock());
    std::set<std::string> seen;
    for (int i = 0; i < 20; ++i) {
        seen.insert(mapOf(request.trackingGifURL())["utmn"]);
    }
    EXPECT_GT(seen.size(), 15u);
}

TEST(GoogleEvent, RequiresEveryTextButNotTheValue) {
    EXPECT_NE(GoogleEvent::initWithParams("d", "c", "a", "l", std::nullopt), nullptr);
    EXPECT_EQ(GoogleEvent::initWithParams("", "c", "a", "l", 0), nullptr);
    EXPECT_EQ(GoogleEvent::initWithParams("d", "", "a", "l", 0), nullptr);
    EXPECT_EQ(GoogleEvent::initWithParams("d", "c", "", "l", 0), nullptr);
    EXPECT_EQ(GoogleEvent::initWithParams("d", "c", "a", "", 0), nullptr);
    auto event = GoogleEvent::initWithParams("d", "c", "a", "l", 9);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->domainName(), "d");
    EXPECT_EQ(event->category(), "c");
    EXPECT_EQ(event->action(), "a");
    EXPECT_EQ(event->label(), "l");
    EXPECT_EQ(event->val(), 9);
}

TEST(RequestFactory, SetsOnlyEventAndAccountCode) {
    ScriptedRandom random;
    random.values->assign({1, 2, 3});
    RequestFactory factory("collect.test", random.source(), fixedClock(5));
    auto event = GoogleEvent::initWithParams("d", "c", "a", "l", 1);
    auto request = factory.buildRequest(event, "UA-9-1");
    EXPECT_EQ(request->trackingEvent(), event);
    EXPECT_EQ(request->analyticsAccountCode(), "UA-9-1");
    EXPECT_EQ(request->requestedByIpAddress(), std::nullopt);
    EXPECT_EQ(mapOf(request->trackingGifURL())["utmac"], "UA-9-1");
}

} // namespace
