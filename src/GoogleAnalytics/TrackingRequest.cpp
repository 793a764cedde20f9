#include "GoogleAnalytics/TrackingRequest.h"

#include "GoogleAnalytics/AnalyticsLog.h"
#include "GoogleAnalytics/JFUrlUtil.h"

#include <chrono>
#include <cstdio>
#include <random>

namespace {

void setPair(std::vector<std::pair<std::string, std::string>>& pairs, const std::string& key,
             std::string value) {
    for (auto& pair : pairs) {
        if (pair.first == key) {
            pair.second = std::move(value);
            return;
        }
    }
    pairs.emplace_back(key, std::move(value));
}

} // namespace

TrackingRequest::RandomSource TrackingRequest::systemRandomSource() {
    return [] {
        thread_local std::mt19937 engine{std::random_device{}()};
        return static_cast<std::uint32_t>(engine());
    };
}

TrackingRequest::Clock TrackingRequest::systemClock() {
    return [] {
        using namespace std::chrono;
        return duration<double>(system_clock::now().time_since_epoch()).count();
    };
}

TrackingRequest::TrackingRequest() : TrackingRequest({}, systemRandomSource(), systemClock()) {}

TrackingRequest::TrackingRequest(std::string collectionHost, RandomSource random, Clock clock)
    : collectionHost_(std::move(collectionHost)), random_(std::move(random)),
      clock_(std::move(clock)) {}

std::string TrackingRequest::timeStampCurrent() const {
    char text[64];
    std::snprintf(text, sizeof text, "%0.0f", clock_());
    return text;
}

std::string TrackingRequest::randomNumber() const {
    return std::to_string(random_() % 1000000000u);
}

std::int32_t TrackingRequest::domainHash() const {
    if (!pageDomain_ || pageDomain_->empty()) {
        return 0;
    }
    // Unsigned arithmetic: the sums wrap like the 32-bit original instead of overflowing.
    std::uint32_t h = 0;
    for (auto it = pageDomain_->rbegin(); it != pageDomain_->rend(); ++it) {
        const auto c = static_cast<std::uint32_t>(
            static_cast<std::int32_t>(static_cast<std::int8_t>(static_cast<unsigned char>(*it))));
        h = ((h << 6) & 0x0FFFFFC0u) + c + (c << 14);
        const std::uint32_t g = h & 0x0FE00000u;
        if (g != 0) {
            h ^= g >> 21;
        }
    }
    return static_cast<std::int32_t>(h);
}

std::string TrackingRequest::utmcCookieString() const {
    const std::string t = timeStampCurrent();
    const std::string h = std::to_string(domainHash());
    const std::string r = randomNumber();
    const std::string utma = h + "." + r + "." + t + "." + t + "." + t + "." + visitCount_;
    const std::string utmz = h + "." + t + ".1.1.utmcsr=" + referralSource_ +
                             "|utmccn=" + campaign_ + "|utmcmd=" + medium_;
    return JFUrlUtil::encodeUrl("__utma=" + utma + ";+__utmz=" + utmz + ";");
}

std::optional<std::string> TrackingRequest::eventString() const {
    if (!trackingEvent_) {
        return std::nullopt;
    }
    const GoogleEvent& e = *trackingEvent_;
    std::string text = "5(" + e.category() + "*" + e.action() + "*" + e.label() + ")(";
    if (e.val()) {
        // Read as a signed 32-bit integer, like the protocol's value field.
        text += std::to_string(static_cast<std::int32_t>(*e.val()));
    }
    return text + ")";
}

std::vector<std::pair<std::string, std::string>> TrackingRequest::queryPairs() const {
    std::vector<std::pair<std::string, std::string>> pairs;
    setPair(pairs, "utmwv", "5.2.2d");
    setPair(pairs, "utmn", randomNumber());
    if (pageDomain_) {
        setPair(pairs, "utmhn", *pageDomain_);
    }
    setPair(pairs, "utmcs", "UTF-8");
    setPair(pairs, "utmsr", "-");
    setPair(pairs, "utmsc", "-");
    setPair(pairs, "utmul", "-");
    setPair(pairs, "utmje", "0");
    setPair(pairs, "utmfl", "-");
    setPair(pairs, "utmni", "1");
    setPair(pairs, "utmdt", JFUrlUtil::encodeUrl(pageTitle_));
    setPair(pairs, "utmhid", randomNumber());
    setPair(pairs, "utmr", "-");
    if (pageUrl_) {
        setPair(pairs, "utmp", *pageUrl_);
    }
    if (accountCode_) {
        setPair(pairs, "utmac", *accountCode_);
    }
    setPair(pairs, "utmcc", utmcCookieString());
    if (auto event = eventString()) {
        setPair(pairs, "utme", JFUrlUtil::encodeUrl(*event));
        setPair(pairs, "gaq", "1");
        setPair(pairs, "utmt", "event");
    }
    if (requestedByIp_ && !requestedByIp_->empty()) {
        setPair(pairs, "utmip", *requestedByIp_);
    }
    return pairs;
}

std::string TrackingRequest::trackingGifURL() const {
    std::string url = "http://" + collectionHost_ + "/__utm.gif?";
    for (const auto& [key, value] : queryPairs()) {
        url += key;
        url += '=';
        url += value;
        url += '&';
    }
    GA_LOG_VERBOSE("Google Analytics URL: %@", url);
    return url;
}
