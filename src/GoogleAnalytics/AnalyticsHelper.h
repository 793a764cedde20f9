#pragma once
// The front door of analytics: the user interface reports named events here; each one
// becomes a hit that a background queue sends one at a time.

#include "GoogleAnalytics/AnalyticsConfig.h"
#include "GoogleAnalytics/GoogleTracking.h"
#include "GoogleAnalytics/OperationQueue.h"
#include "GoogleAnalytics/TrackingRequest.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace platform {
class UserDefaults;
}

class AnalyticsHelper {
public:
    // Preference keys.
    static constexpr const char* kUserUUIDKey = "UserUUID";
    static constexpr const char* kOptOutKey = "AnalyticsOptOut";
    // Hits waiting on the process-wide queue; beyond it the oldest is dropped. Hits come from
    // clicks, each waits a second before it is sent and up to a minute for a silent server, so
    // a hundred already takes the better part of an hour to drain: older ones tell nothing
    // more, and a hundred hold well under a megabyte.
    static constexpr std::size_t kMaxQueuedHits = 100;

    struct Dependencies {
        AnalyticsConfig config;
        // Null: no preferences, the label is "empty".
        std::shared_ptr<platform::UserDefaults> defaults;
        // Null: the process-wide analytics queue, created by the first queued event.
        std::shared_ptr<OperationQueue> queue;
        std::shared_ptr<const TrackingTransport> transport;
        TrackingRequest::RandomSource random;
        TrackingRequest::Clock clock;
        // The category's version; the application's short version by default.
        std::string shortVersion;
    };

    // The build's configuration and environment, the user's standard preferences, the
    // process-wide queue and the real network.
    AnalyticsHelper();
    explicit AnalyticsHelper(Dependencies dependencies);

    std::string domainName() const;
    void setDomainName(std::string domainName);
    std::string analyticsAccountCode() const;
    void setAnalyticsAccountCode(std::string analyticsAccountCode);

    // Queues one hit for the event and returns at once; always true. Nothing is queued when
    // the user opted out (DO_NOT_TRACK or the preference), no collection host is configured,
    // or the domain name or event name is empty.
    bool fireEvent(const std::string& eventName, std::optional<std::int64_t> eventValue);

    static std::string UUIDString();
    // Why the preferences keep analytics off, or null when they do not. An unreadable file
    // counts as an opt-out, since it may hold one.
    static std::optional<std::string> optOutReason(const platform::UserDefaults& defaults);
    // The queue that helpers without a queue of their own use; null before the first hit.
    static std::shared_ptr<OperationQueue> sharedQueue();

private:
    bool optedOut();
    std::string label();
    std::shared_ptr<OperationQueue> queue();

    Dependencies deps_;
    mutable std::mutex mutex_;
    std::string domainName_;
    std::string analyticsAccountCode_;
    std::atomic<bool> optOutWarned_{false};
};
