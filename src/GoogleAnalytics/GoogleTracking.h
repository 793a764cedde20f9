#pragma once
// The queued operation that sends one analytics hit and logs how it went.

#include "GoogleAnalytics/HttpFetcher.h"
#include "GoogleAnalytics/OperationQueue.h"
#include "GoogleAnalytics/TrackingRequest.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

// What a hit needs besides its request.
struct TrackingTransport {
    // Hits are small; a huge reply is cut off after this many bytes.
    static constexpr std::size_t kMaxReplyBytes = 64 * 1024;

    std::shared_ptr<HttpFetcher> fetcher;
    std::function<std::optional<std::string>()> publicIPAddress;
    // Waited before each hit, so hits never compete with the event that caused them.
    std::chrono::milliseconds startDelay{1000};
    // On a scale from 0.0 (lowest) to 1.0 (highest); 0.5 is the normal priority.
    double threadPriority = 0.1;

    // libcurl with its 60-second time-out and the process-wide public-IP lookup.
    static std::shared_ptr<const TrackingTransport> standard();
};

class GoogleTracking : public Operation {
public:
    enum class Outcome {
        Pending,         // not run yet
        Triggered,       // the reply had a body
        TriggerError,    // no reply or an empty one
        ExceptionThrown, // the fetch raised an exception
    };

    GoogleTracking();
    explicit GoogleTracking(std::shared_ptr<const TrackingTransport> transport);

    std::shared_ptr<TrackingRequest> request() const;
    void setRequest(std::shared_ptr<TrackingRequest> request);

    void main() override;

    Outcome outcome() const;

    // Lowers (or, with the rights to, raises) the calling thread's nice value.
    static void setThreadPriority(double priority);
    // The nice value for a priority on the 0.0 to 1.0 scale.
    static int niceValueForPriority(double priority);
    // Whether the text is a bare IPv4 or IPv6 address.
    static bool isIPAddressLiteral(const std::string& text);

private:
    std::shared_ptr<const TrackingTransport> transport_;
    mutable std::mutex mutex_;
    std::shared_ptr<TrackingRequest> request_;
    Outcome outcome_ = Outcome::Pending;
};
