#include "logging/ContextFilterLogFormatter.h"

#include <mutex>

void LoggingContextSet::addToSet(std::int32_t loggingContext) {
    std::lock_guard guard(lock);
    set.insert(loggingContext);
}

void LoggingContextSet::removeFromSet(std::int32_t loggingContext) {
    std::lock_guard guard(lock);
    set.erase(loggingContext);
}

std::vector<std::int32_t> LoggingContextSet::currentSet() const {
    std::lock_guard guard(lock);
    return {set.begin(), set.end()};
}

bool LoggingContextSet::isInSet(std::int32_t loggingContext) const {
    std::lock_guard guard(lock);
    return set.count(loggingContext) != 0;
}

DDText ContextWhitelistFilterLogFormatter::formatLogMessage(const DDLogMessage& message) {
    return isOnWhitelist(message.logContext()) ? message.logMsg() : nullptr;
}

DDText ContextBlacklistFilterLogFormatter::formatLogMessage(const DDLogMessage& message) {
    return isOnBlacklist(message.logContext()) ? nullptr : message.logMsg();
}
