#pragma once
// The URL of one GIF-beacon hit ("/__utm.gif") for an analytics event.

#include "GoogleAnalytics/GoogleEvent.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class TrackingRequest {
public:
    // Uniform unsigned 32-bit values.
    using RandomSource = std::function<std::uint32_t()>;
    // Seconds since 1970-01-01 00:00 UTC.
    using Clock = std::function<double()>;

    static RandomSource systemRandomSource();
    static Clock systemClock();

    // Defaults for every field, the system's random source and clock, no collection host.
    TrackingRequest();
    TrackingRequest(std::string collectionHost, RandomSource random, Clock clock);

    // The complete hit URL; fresh random numbers and time stamp on every call.
    std::string trackingGifURL() const;
    // The query pairs of trackingGifURL, values already encoded, in the order they are sent.
    std::vector<std::pair<std::string, std::string>> queryPairs() const;
    // The "utmcc" value, already encoded.
    std::string utmcCookieString() const;
    std::int32_t domainHash() const;
    std::string timeStampCurrent() const;
    // The "utme" text before encoding; null without an event.
    std::optional<std::string> eventString() const;

    const std::optional<std::string>& pageTitle() const { return pageTitle_; }
    void setPageTitle(std::optional<std::string> v) { pageTitle_ = std::move(v); }
    const std::optional<std::string>& pageDomain() const { return pageDomain_; }
    void setPageDomain(std::optional<std::string> v) { pageDomain_ = std::move(v); }
    const std::optional<std::string>& pageUrl() const { return pageUrl_; }
    void setPageUrl(std::optional<std::string> v) { pageUrl_ = std::move(v); }
    const std::optional<std::string>& requestedByIpAddress() const { return requestedByIp_; }
    void setRequestedByIpAddress(std::optional<std::string> v) { requestedByIp_ = std::move(v); }
    const std::string& referralSource() const { return referralSource_; }
    void setReferralSource(std::string v) { referralSource_ = std::move(v); }
    const std::string& medium() const { return medium_; }
    void setMedium(std::string v) { medium_ = std::move(v); }
    const std::string& campaign() const { return campaign_; }
    void setCampaign(std::string v) { campaign_ = std::move(v); }
    const std::shared_ptr<GoogleEvent>& trackingEvent() const { return trackingEvent_; }
    void setTrackingEvent(std::shared_ptr<GoogleEvent> v) { trackingEvent_ = std::move(v); }
    const std::optional<std::string>& analyticsAccountCode() const { return accountCode_; }
    void setAnalyticsAccountCode(std::optional<std::string> v) { accountCode_ = std::move(v); }
    const std::string& visitCount() const { return visitCount_; }
    void setVisitCount(std::string v) { visitCount_ = std::move(v); }

    const std::string& collectionHost() const { return collectionHost_; }
    void setCollectionHost(std::string v) { collectionHost_ = std::move(v); }

private:
    std::string randomNumber() const;

    std::optional<std::string> pageTitle_ = std::string();
    std::optional<std::string> pageDomain_ = std::string();
    std::optional<std::string> pageUrl_ = std::string("/");
    std::optional<std::string> requestedByIp_;
    std::string referralSource_ = "(direct)";
    std::string medium_ = "(none)";
    std::string campaign_ = "(direct)";
    std::shared_ptr<GoogleEvent> trackingEvent_;
    std::optional<std::string> accountCode_;
    std::string visitCount_ = "2";

    std::string collectionHost_;
    RandomSource random_;
    Clock clock_;
};
