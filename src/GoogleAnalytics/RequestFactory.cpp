#include "GoogleAnalytics/RequestFactory.h"

RequestFactory::RequestFactory()
    : RequestFactory({}, TrackingRequest::systemRandomSource(), TrackingRequest::systemClock()) {}

RequestFactory::RequestFactory(std::string collectionHost, TrackingRequest::RandomSource random,
                               TrackingRequest::Clock clock)
    : collectionHost_(std::move(collectionHost)), random_(std::move(random)),
      clock_(std::move(clock)) {}

std::shared_ptr<TrackingRequest>
RequestFactory::buildRequest(std::shared_ptr<GoogleEvent> event,
                             std::optional<std::string> analyticsAccountCode) const {
    auto request = std::make_shared<TrackingRequest>(collectionHost_, random_, clock_);
    request->setTrackingEvent(std::move(event));
    request->setAnalyticsAccountCode(std::move(analyticsAccountCode));
    return request;
}
