#include "GoogleAnalytics/GoogleEvent.h"

std::shared_ptr<GoogleEvent> GoogleEvent::initWithParams(const std::string& domainName,
                                                         const std::string& category,
                                                         const std::string& action,
                                                         const std::string& label,
                                                         std::optional<std::int64_t> value) {
    if (domainName.empty() || category.empty() || action.empty() || label.empty()) {
        return nullptr;
    }
    std::shared_ptr<GoogleEvent> event(new GoogleEvent());
    event->domainName_ = domainName;
    event->category_ = category;
    event->action_ = action;
    event->label_ = label;
    event->val_ = value;
    return event;
}
