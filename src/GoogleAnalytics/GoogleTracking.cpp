#include "GoogleAnalytics/GoogleTracking.h"

#include "GoogleAnalytics/AnalyticsLog.h"
#include "GoogleAnalytics/PublicIP.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cmath>
#include <exception>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

struct EventTexts {
    std::string category = "(null)";
    std::string action = "(null)";
    std::string label = "(null)";
    std::string value = "(null)";
};

EventTexts textsOf(const std::shared_ptr<GoogleEvent>& event) {
    EventTexts texts;
    if (event) {
        texts.category = event->category();
        texts.action = event->action();
        texts.label = event->label();
        if (event->val()) {
            texts.value = std::to_string(*event->val());
        }
    }
    return texts;
}

} // namespace

std::shared_ptr<const TrackingTransport> TrackingTransport::standard() {
    static const std::shared_ptr<const TrackingTransport> shared = [] {
        auto transport = std::make_shared<TrackingTransport>();
        CurlFetcher::Options options;
        options.maxBodyBytes = kMaxReplyBytes;
        transport->fetcher = std::make_shared<CurlFetcher>(options);
        // Held by the transport, so a hit still running at exit keeps its lookup alive.
        transport->publicIPAddress = [lookup = PublicIP::sharedLookup()] {
            return lookup->getIPAddress();
        };
        return transport;
    }();
    return shared;
}

GoogleTracking::GoogleTracking() : GoogleTracking(TrackingTransport::standard()) {}

GoogleTracking::GoogleTracking(std::shared_ptr<const TrackingTransport> transport)
    : transport_(transport ? std::move(transport) : TrackingTransport::standard()) {}

std::shared_ptr<TrackingRequest> GoogleTracking::request() const {
    std::lock_guard lock(mutex_);
    return request_;
}

void GoogleTracking::setRequest(std::shared_ptr<TrackingRequest> request) {
    std::lock_guard lock(mutex_);
    request_ = std::move(request);
}

GoogleTracking::Outcome GoogleTracking::outcome() const {
    std::lock_guard lock(mutex_);
    return outcome_;
}

int GoogleTracking::niceValueForPriority(double priority) {
    const double p = std::clamp(std::isnan(priority) ? 0.5 : priority, 0.0, 1.0);
    return static_cast<int>(std::lround((0.5 - p) * 2.0 * 19.0));
}

void GoogleTracking::setThreadPriority(double priority) {
    // On Linux the nice value of a thread id applies to that thread alone.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), niceValueForPriority(priority));
}

bool GoogleTracking::isIPAddressLiteral(const std::string& text) {
    // inet_pton stops at a NUL; what it checks must be the whole text that is sent.
    if (text.find('\0') != std::string::npos) {
        return false;
    }
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, text.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

void GoogleTracking::main() {
    const std::shared_ptr<TrackingRequest> req = request();
    const TrackingTransport& transport = *transport_;
    setThreadPriority(transport.threadPriority);
    std::this_thread::sleep_for(transport.startDelay);

    Outcome result = Outcome::TriggerError;
    const EventTexts texts = textsOf(req ? req->trackingEvent() : nullptr);
    try {
        if (req) {
            std::optional<std::string> ip;
            if (transport.publicIPAddress) {
                ip = transport.publicIPAddress();
            }
            // The address comes from a foreign page and goes into the query unencoded:
            // anything but a bare address could add or break query keys.
            if (ip && !isIPAddressLiteral(*ip)) {
                ip.reset();
            }
            req->setRequestedByIpAddress(ip);
            const std::string url = req->trackingGifURL();
            if (transport.fetcher) {
                FetchResult reply = transport.fetcher->fetch(url);
                // A reply cut off at the size limit still had a body.
                if (!reply.body.empty() && (reply.ok || reply.truncated)) {
                    result = Outcome::Triggered;
                }
            }
        }
        if (result == Outcome::Triggered) {
            GA_LOG_INFO("Analytics event (%@, %@, %@, %@): triggered successfully!", texts.category,
                        texts.action, texts.label, texts.value);
        } else {
            GA_LOG_ERROR("Analytics event (%@, %@, %@, %@): trigger error", texts.category,
                         texts.action, texts.label, texts.value);
        }
    } catch (const std::exception& e) {
        result = Outcome::ExceptionThrown;
        GA_LOG_ERROR("Analytics event (%@, %@, %@, %@): exception thrown %@", texts.category,
                     texts.action, texts.label, texts.value, std::string(e.what()));
    } catch (...) {
        result = Outcome::ExceptionThrown;
        GA_LOG_ERROR("Analytics event (%@, %@, %@, %@): exception thrown %@", texts.category,
                     texts.action, texts.label, texts.value, std::string("unknown exception"));
    }
    std::lock_guard lock(mutex_);
    outcome_ = result;
}
