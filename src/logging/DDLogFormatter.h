#pragma once
// What a formatter offers a logger: the text to write for a message.

#include "logging/DDLogMessage.h"

#include <memory>

class DDLogger;

// Optional operations of formatters; the callers test implements() before calling one.
enum class DDFormatterOperation { didAddToLogger, willRemoveFromLogger };

class DDLogFormatter {
public:
    virtual ~DDLogFormatter() = default;
    // The text to write, or null to write nothing. Returning message.logMsg() itself means
    // "unchanged".
    virtual DDText formatLogMessage(const DDLogMessage& message) = 0;

    virtual bool implements(DDFormatterOperation) const { return false; }
    virtual void didAddToLogger(DDLogger& /*logger*/) {}
    virtual void willRemoveFromLogger(DDLogger& /*logger*/) {}
};
using DDLogFormatterPtr = std::shared_ptr<DDLogFormatter>;
