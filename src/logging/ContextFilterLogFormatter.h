#pragma once
// Formatters that filter by a message's logging context: a whitelist lets only listed contexts
// through, a blacklist drops listed ones. A message that passes keeps its own text object, so
// a logger sees it as unchanged. Contexts may be added and removed from any thread while loggers
// filter on their queues.

#include "logging/DDLogFormatter.h"
#include "logging/DDLogMessage.h"
#include "platform/core/spin_lock.h"

#include <cstdint>
#include <unordered_set>
#include <vector>

// A set of context numbers; every operation holds the spin lock for its whole (short) work.
class LoggingContextSet {
public:
    LoggingContextSet() = default;
    LoggingContextSet(const LoggingContextSet&) = delete;
    LoggingContextSet& operator=(const LoggingContextSet&) = delete;

    void addToSet(std::int32_t loggingContext);
    void removeFromSet(std::int32_t loggingContext);
    // A snapshot of the members, in no particular order.
    std::vector<std::int32_t> currentSet() const;
    bool isInSet(std::int32_t loggingContext) const;

private:
    mutable platform::SpinLock lock;
    std::unordered_set<std::int32_t> set;
};

class ContextWhitelistFilterLogFormatter : public DDLogFormatter {
public:
    void addToWhitelist(std::int32_t loggingContext) { contextSet.addToSet(loggingContext); }
    void removeFromWhitelist(std::int32_t loggingContext) {
        contextSet.removeFromSet(loggingContext);
    }
    std::vector<std::int32_t> whitelist() const { return contextSet.currentSet(); }
    bool isOnWhitelist(std::int32_t loggingContext) const {
        return contextSet.isInSet(loggingContext);
    }

    // The message's own text when its context is listed, else null.
    DDText formatLogMessage(const DDLogMessage& message) override;

private:
    LoggingContextSet contextSet;
};

class ContextBlacklistFilterLogFormatter : public DDLogFormatter {
public:
    void addToBlacklist(std::int32_t loggingContext) { contextSet.addToSet(loggingContext); }
    void removeFromBlacklist(std::int32_t loggingContext) {
        contextSet.removeFromSet(loggingContext);
    }
    std::vector<std::int32_t> blacklist() const { return contextSet.currentSet(); }
    bool isOnBlacklist(std::int32_t loggingContext) const {
        return contextSet.isInSet(loggingContext);
    }

    // Null when the message's context is listed, else the message's own text.
    DDText formatLogMessage(const DDLogMessage& message) override;

private:
    LoggingContextSet contextSet;
};
