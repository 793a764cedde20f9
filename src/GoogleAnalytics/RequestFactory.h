#pragma once
// Wraps an event in a tracking request for one account.

#include "GoogleAnalytics/GoogleEvent.h"
#include "GoogleAnalytics/TrackingRequest.h"

#include <memory>
#include <optional>
#include <string>

class RequestFactory {
public:
    // Requests from this factory go to no host and use the system's random source and clock.
    RequestFactory();
    RequestFactory(std::string collectionHost, TrackingRequest::RandomSource random,
                   TrackingRequest::Clock clock);

    // A request with its defaults, the event and the account code; nothing else is set.
    std::shared_ptr<TrackingRequest>
    buildRequest(std::shared_ptr<GoogleEvent> event,
                 std::optional<std::string> analyticsAccountCode) const;

private:
    std::string collectionHost_;
    TrackingRequest::RandomSource random_;
    TrackingRequest::Clock clock_;
};
