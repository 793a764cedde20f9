#pragma once
// The log dispatch core: one immutable message per call, queued on one serial queue and handed
// to every registered logger on the logger's own serial queue. Filtering by level happens at
// the call site (DDLogMacros.h); the core delivers whatever reaches it.

#include "logging/DDLogFormat.h"
#include "logging/DDLogMessage.h"
#include "logging/DDLogger.h"
#include "platform/core/dispatch_queue.h"

#include <cstdint>
#include <string>
#include <vector>

// A class that may take part in per-class log levels: it is registered when it offers both
// level operations.
struct DDLogClass {
    std::string name;
    std::int32_t (*ddLogLevel)() = nullptr;
    void (*ddSetLogLevel)(std::int32_t) = nullptr;
};

class DDLog {
public:
    DDLog() = delete;

    static dispatch::queue_t loggingQueue();

    static void addLogger(const DDLoggerPtr& logger);
    static void removeLogger(const DDLoggerPtr& logger);
    static void removeAllLoggers();

    template <class... Args>
    static void log(bool asynchronous, std::int32_t level, std::int32_t flag, std::int32_t context,
                    const char* file, const char* function, std::int32_t line, const DDLogTag& tag,
                    const char* format, const Args&... args) {
        if (format == nullptr) {
            return;
        }
        if constexpr (sizeof...(Args) == 0) {
            log(asynchronous, level, flag, context, file, function, line, tag, format,
                ddlog::FormatArgList{});
        } else {
            const ddlog::FormatArg list[] = {ddlog::FormatArg(args)...};
            log(asynchronous, level, flag, context, file, function, line, tag, format,
                ddlog::FormatArgList(list));
        }
    }
    static void log(bool asynchronous, std::int32_t level, std::int32_t flag, std::int32_t context,
                    const char* file, const char* function, std::int32_t line, const DDLogTag& tag,
                    const char* format, ddlog::FormatArgList args);

    // The same with the message text already built.
    static void logText(bool asynchronous, std::int32_t level, std::int32_t flag,
                        std::int32_t context, const char* file, const char* function,
                        std::int32_t line, const DDLogTag& tag, std::string text);

    static void queueLogMessage(DDLogMessagePtr message, bool asynchronously);
    static void flushLog();
    // Posted by the application layer when it is about to end; flushes the log.
    static void applicationWillTerminate(const void* notification = nullptr);

    // Per-class levels over a registration list of classes.
    static void registerClass(const DDLogClass& cls);
    static bool isRegisteredClass(const DDLogClass& cls);
    static std::vector<DDLogClass> registeredClasses();
    static std::vector<std::string> registeredClassNames();
    static std::int32_t logLevelForClass(const DDLogClass& cls);
    static std::int32_t logLevelForClassWithName(const std::string& name);
    static void setLogLevel(std::int32_t level, const DDLogClass& cls);
    static void setLogLevel(std::int32_t level, const std::string& className);

    // The key whose data marks the global logging queue (for loggers' queue checks).
    static const void* globalLoggingQueueKey();
    // Processor count read at start-up, 0 taken as 1.
    static int processorCount();
    // Delivery as on a host with this many processors (below 1 means 1); applies to messages
    // queued after the call. For tests of the one-processor road.
    static void overrideProcessorCount(int count);
};
