#include "GoogleAnalytics/AnalyticsHelper.h"

#include "GoogleAnalytics/AnalyticsLog.h"
#include "GoogleAnalytics/GoogleEvent.h"
#include "GoogleAnalytics/RequestFactory.h"

#include "platform/core/analytics_opt_out.h"
#include "platform/core/bundle_info.h"
#include "platform/core/preferences.h"
#include "platform/core/uuid_string.h"

namespace {

std::mutex sharedQueueMutex;
std::shared_ptr<OperationQueue>* sharedQueueSlot = nullptr;

AnalyticsHelper::Dependencies standardDependencies() {
    AnalyticsHelper::Dependencies deps;
    deps.config = AnalyticsConfig::current();
    deps.defaults = platform::UserDefaults::standardUserDefaults();
    deps.transport = TrackingTransport::standard();
    return deps;
}

} // namespace

AnalyticsHelper::AnalyticsHelper() : AnalyticsHelper(standardDependencies()) {}

AnalyticsHelper::AnalyticsHelper(Dependencies dependencies) : deps_(std::move(dependencies)) {
    if (!deps_.transport) {
        deps_.transport = TrackingTransport::standard();
    }
    if (!deps_.random) {
        deps_.random = TrackingRequest::systemRandomSource();
    }
    if (!deps_.clock) {
        deps_.clock = TrackingRequest::systemClock();
    }
    if (deps_.shortVersion.empty()) {
        deps_.shortVersion =
            platform::objectForInfoDictionaryKey(platform::kCFBundleShortVersionString)
                .value_or("(null)");
    }
}

std::string AnalyticsHelper::domainName() const {
    std::lock_guard lock(mutex_);
    return domainName_;
}

void AnalyticsHelper::setDomainName(std::string domainName) {
    std::lock_guard lock(mutex_);
    domainName_ = std::move(domainName);
}

std::string AnalyticsHelper::analyticsAccountCode() const {
    std::lock_guard lock(mutex_);
    return analyticsAccountCode_;
}

void AnalyticsHelper::setAnalyticsAccountCode(std::string analyticsAccountCode) {
    std::lock_guard lock(mutex_);
    analyticsAccountCode_ = std::move(analyticsAccountCode);
}

std::string AnalyticsHelper::UUIDString() {
    return platform::createUUIDString();
}

std::shared_ptr<OperationQueue> AnalyticsHelper::sharedQueue() {
    std::lock_guard lock(sharedQueueMutex);
    return sharedQueueSlot != nullptr ? *sharedQueueSlot : nullptr;
}

std::shared_ptr<OperationQueue> AnalyticsHelper::queue() {
    if (deps_.queue) {
        return deps_.queue;
    }
    std::lock_guard lock(sharedQueueMutex);
    if (sharedQueueSlot == nullptr) {
        // Never destroyed: hits still waiting at exit are simply dropped with the process,
        // instead of holding up its exit.
        sharedQueueSlot =
            new std::shared_ptr<OperationQueue>(std::make_shared<OperationQueue>(kMaxQueuedHits));
    }
    return *sharedQueueSlot;
}

std::optional<std::string> AnalyticsHelper::optOutReason(const platform::UserDefaults& defaults) {
    return platform::analyticsOptOutReason(defaults);
}

bool AnalyticsHelper::optedOut() {
    if (deps_.config.doNotTrack || deps_.config.collectionHost.empty()) {
        return true;
    }
    if (!deps_.defaults) {
        return false;
    }
    const std::optional<std::string> reason = optOutReason(*deps_.defaults);
    if (reason && deps_.defaults->loadState() == platform::UserDefaults::LoadState::Unreadable) {
        if (!optOutWarned_.exchange(true)) {
            GA_LOG_WARN("Usage statistics stay off: %@", *reason);
        }
    }
    return reason.has_value();
}

std::string AnalyticsHelper::label() {
    if (!deps_.defaults) {
        return "empty";
    }
    std::optional<std::string> stored = deps_.defaults->stringForKey(kUserUUIDKey);
    if (stored && !stored->empty()) {
        return *stored;
    }
    std::string created = UUIDString();
    deps_.defaults->setString(created, kUserUUIDKey);
    if (!deps_.defaults->synchronize()) {
        GA_LOG_ERROR("Could not save the preferences to %@", deps_.defaults->path().string());
    }
    return created;
}

bool AnalyticsHelper::fireEvent(const std::string& eventName,
                                std::optional<std::int64_t> eventValue) {
    if (optedOut()) {
        return true;
    }
    const std::string category = "Linux " + deps_.shortVersion;
    const std::string userLabel = label();
    GA_LOG_INFO("%@, %@, %@, %@", category, eventName, userLabel,
                eventValue ? std::to_string(*eventValue) : std::string("(null)"));

    auto event =
        GoogleEvent::initWithParams(domainName(), category, eventName, userLabel, eventValue);
    if (!event) {
        return true;
    }
    const std::string accountCode = analyticsAccountCode();
    RequestFactory factory(deps_.config.collectionHost, deps_.random, deps_.clock);
    auto request = factory.buildRequest(
        event, accountCode.empty() ? std::nullopt : std::optional<std::string>(accountCode));

    auto operation = std::make_shared<GoogleTracking>(deps_.transport);
    operation->setRequest(std::move(request));
    queue()->addOperation(std::move(operation));
    return true;
}
