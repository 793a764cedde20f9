#pragma once
// What the core asks of a logger: take each message, on a serial queue of its own.

#include "logging/DDLogFormatter.h"
#include "logging/DDLogMessage.h"
#include "platform/core/dispatch_queue.h"

#include <memory>
#include <string>

// Optional operations of loggers; the core calls one only when implements() says so.
enum class DDLoggerOperation { didAddLogger, willRemoveLogger, flush, loggerQueue, loggerName };

class DDLogger {
public:
    virtual ~DDLogger() = default;
    virtual void logMessage(const DDLogMessagePtr& message) = 0;
    virtual DDLogFormatterPtr logFormatter() = 0;
    virtual void setLogFormatter(DDLogFormatterPtr formatter) = 0;

    virtual bool implements(DDLoggerOperation) const { return false; }
    virtual void didAddLogger() {}
    virtual void willRemoveLogger() {}
    virtual void flush() {}
    virtual dispatch::queue_t loggerQueue() { return nullptr; }
    virtual std::string loggerName() { return {}; }
};
using DDLoggerPtr = std::shared_ptr<DDLogger>;
