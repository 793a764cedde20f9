#pragma once
// "<date> [<queue or thread>] <message>": names who logged by its dispatch queue's label, or by
// its thread's name or id where the queue says nothing (no queue, or a shared global one). The
// name is padded or cut to a configurable width so columns line up.
//
// One object may be shared by several loggers, whose queues then format at the same time.
// While more than one logger uses it, every thread formats dates with its own date formatter;
// while only one does, all calls come from that logger's queue and one formatter is enough.

#include "logging/DDDateFormatter.h"
#include "logging/DDLogFormatter.h"
#include "logging/DDLogMessage.h"
#include "platform/core/spin_lock.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

class DispatchQueueLogFormatter : public DDLogFormatter {
public:
    DispatchQueueLogFormatter();
    DispatchQueueLogFormatter(const DispatchQueueLogFormatter&) = delete;
    DispatchQueueLogFormatter& operator=(const DispatchQueueLogFormatter&) = delete;

    // The display name stored for a queue label or thread name, if any.
    std::optional<std::string> replacementStringForQueueLabel(std::string_view queueLabel);
    // Stores the pair; no replacement removes the label's entry.
    void setReplacementString(std::optional<std::string> replacement, std::string_view queueLabel);

    // Widths in UTF-16 units, as people count characters; 0 turns padding or cutting off.
    virtual std::uint64_t minQueueLength() const;
    virtual void setMinQueueLength(std::uint64_t length);
    virtual std::uint64_t maxQueueLength() const;
    virtual void setMaxQueueLength(std::uint64_t length);

    // The building blocks of formatLogMessage; a subclass may replace them.
    virtual std::string stringFromDate(std::chrono::system_clock::time_point date);
    virtual std::string queueThreadLabelForLogMessage(const DDLogMessage& message);

    // Never null.
    DDText formatLogMessage(const DDLogMessage& message) override;

    bool implements(DDFormatterOperation op) const override;
    void didAddToLogger(DDLogger& logger) override;
    void willRemoveFromLogger(DDLogger& logger) override;

protected:
    // Loggers that use this object right now.
    std::int32_t loggerCount() const { return atomicLoggerCount.load(); }
    // The date formatter stringFromDate uses on the calling thread now. Null only while the
    // thread is ending and its own formatter is already gone.
    const DDDateFormatter* currentDateFormatter();

private:
    const std::string dateFormatString;
    std::atomic<std::int32_t> atomicLoggerCount{0};
    std::unique_ptr<const DDDateFormatter> threadUnsafeDateFormatter;
    std::once_flag threadUnsafeDateFormatterOnce_;
    platform::SpinLock lock;
    // Plain values in the design; atomic (relaxed) so a change while loggers format is defined.
    std::atomic<std::uint64_t> _minQueueLength{0};
    std::atomic<std::uint64_t> _maxQueueLength{0};
    std::map<std::string, std::string, std::less<>> _replacements;
};
