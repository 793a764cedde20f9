#pragma once
// The log dispatch core: one immutable message per call, queued on one serial queue and handed
// to every registered logger on the logger's own serial queue.
//
// Application code logs with DDLogError / DDLogWarn / DDLogInfo / DDLogVerbose (bottom of this
// file): the flag is tested against appLogLevel before any text is built.
//
// Start-up registers the loggers once, sharing one formatter:
//     auto formatter = std::make_shared<MCLogFormatter>();          // MCLogFormatter.h
//     DDASLLogger::sharedInstance()->setLogFormatter(formatter);      // DDASLLogger.h
//     DDLog::addLogger(DDASLLogger::sharedInstance());
//     DDTTYLogger::sharedInstance()->setLogFormatter(formatter);      // DDTTYLogger.h
//     DDLog::addLogger(DDTTYLogger::sharedInstance());
// and termination calls DDLog::applicationWillTerminate() (a plain exit also flushes).

#include "DDLogFormat.h"
#include "dispatch.h"

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::int32_t LogFlagError = 1 << 0;
inline constexpr std::int32_t LogFlagWarn = 1 << 1;
inline constexpr std::int32_t LogFlagInfo = 1 << 2;
inline constexpr std::int32_t LogFlagVerbose = 1 << 3;

inline constexpr std::int32_t LogLevelOff = 0;
inline constexpr std::int32_t LogLevelError = LogFlagError;
inline constexpr std::int32_t LogLevelWarn = LogLevelError | LogFlagWarn;
inline constexpr std::int32_t LogLevelInfo = LogLevelWarn | LogFlagInfo;
inline constexpr std::int32_t LogLevelVerbose = LogLevelInfo | LogFlagVerbose;

inline constexpr std::int32_t LogMessageOptionCopyFile = 1 << 0;
inline constexpr std::int32_t LogMessageOptionCopyFunction = 1 << 1;

// The application's log level, read by every application call site: errors and warnings.
// Atomic so a change made while other threads log is well defined; a relaxed load is a plain read.
inline std::atomic<std::int32_t> appLogLevel{LogLevelWarn};

// Text objects are shared: all loggers see the one instance, and a formatter's result can be
// told apart from the message's own text by identity.
using DDText = std::shared_ptr<const std::string>;
// A caller's tag; loggers compare tags by their text.
using DDLogTag = std::shared_ptr<const std::string>;

// A file name that either refers to the path's own bytes or owns a copy of them.
class DDFileName {
public:
    DDFileName(std::string_view bytes, bool copy);
    DDFileName(const DDFileName& other);
    DDFileName& operator=(const DDFileName& other);
    std::string_view view() const { return view_; }
    bool ownsBytes() const { return owned_ != nullptr; }
    std::string str() const { return std::string(view_); }

private:
    std::shared_ptr<const std::string> owned_;
    std::string_view view_;
};

// The file name of a path without directory and extension; null for a null path.
std::optional<DDFileName> DDBaseFileName(const char* path, bool copy);

// Where and when a message was made. Normally taken from the calling thread; loggers' tests and
// replaying tools pass their own.
struct DDLogOrigin {
    std::chrono::system_clock::time_point timestamp;
    std::uint32_t machThreadID = 0;
    const char* queueLabel = nullptr; // copied, unless it is dispatch::MAIN_QUEUE_LABEL
    std::string threadName;

    static DDLogOrigin current();
};

class DDLogMessage {
public:
    DDLogMessage(DDText logMsg, std::int32_t level, std::int32_t flag, std::int32_t context,
                 const char* file, const char* function, std::int32_t line, DDLogTag tag,
                 std::int32_t options);
    DDLogMessage(DDText logMsg, std::int32_t level, std::int32_t flag, std::int32_t context,
                 const char* file, const char* function, std::int32_t line, DDLogTag tag,
                 std::int32_t options, const DDLogOrigin& origin);
    DDLogMessage(const DDLogMessage&) = delete;
    DDLogMessage& operator=(const DDLogMessage&) = delete;

    std::int32_t logLevel() const { return logLevel_; }
    std::int32_t logFlag() const { return logFlag_; }
    std::int32_t logContext() const { return logContext_; }
    const DDText& logMsg() const { return logMsg_; }
    std::chrono::system_clock::time_point timestamp() const { return timestamp_; }
    const char* file() const { return file_; }
    const char* function() const { return function_; }
    std::int32_t lineNumber() const { return lineNumber_; }
    std::uint32_t machThreadID() const { return machThreadID_; }
    const char* queueLabel() const { return queueLabel_; }
    const std::string& threadName() const { return threadName_; }
    const DDLogTag& tag() const { return tag_; }
    std::int32_t options() const { return options_; }

    // The thread id in lower-case hexadecimal without leading zeros.
    std::string threadID() const;
    // The source file's name without directory and extension, referring to file's bytes.
    std::optional<DDFileName> fileName() const;
    std::optional<std::string> methodName() const;

private:
    std::int32_t logLevel_;
    std::int32_t logFlag_;
    std::int32_t logContext_;
    DDText logMsg_;
    std::chrono::system_clock::time_point timestamp_;
    const char* file_;
    const char* function_;
    std::int32_t lineNumber_;
    std::uint32_t machThreadID_;
    const char* queueLabel_;
    std::unique_ptr<char[]> ownedQueueLabel_;
    std::string threadName_;
    DDLogTag tag_;
    std::int32_t options_;
    std::unique_ptr<char[]> ownedFile_;
    std::unique_ptr<char[]> ownedFunction_;
};
using DDLogMessagePtr = std::shared_ptr<const DDLogMessage>;

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

class DDLoggerNode {
public:
    DDLoggerNode(DDLoggerPtr aLogger, dispatch::queue_t aQueue)
        : logger(std::move(aLogger)), loggerQueue(std::move(aQueue)) {}
    static std::shared_ptr<DDLoggerNode> nodeWithLogger(DDLoggerPtr aLogger,
                                                        dispatch::queue_t aQueue) {
        return std::make_shared<DDLoggerNode>(std::move(aLogger), std::move(aQueue));
    }

    DDLoggerPtr logger;
    dispatch::queue_t loggerQueue;
};

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

namespace ddlog {
// The last component of a path literal, at compile time.
constexpr const char* lastPathComponent(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/') {
            name = p + 1;
        }
    }
    return name;
}

// The application's message: "%@, [%s(%d)]" of event text, file name and line, built directly.
template <class... Args>
std::string appMessage(const char* fileName, int line, const char* format, const Args&... args) {
    std::string text = DDFormat(format, args...);
    text += ", [";
    text += fileName;
    text += '(';
    char digits[16];
    const auto r = std::to_chars(digits, digits + sizeof digits, line);
    text.append(digits, r.ptr);
    text += ")]";
    return text;
}
} // namespace ddlog

// Generic call site: tests the flag against the level first, so a filtered call builds nothing.
#define DD_LOG_MAYBE(async, lvl, flg, ctx, tg, fnct, frmt, ...)                                    \
    do {                                                                                           \
        const std::int32_t ddLevel_ = (lvl);                                                       \
        if ((ddLevel_ & (flg)) != 0) {                                                             \
            DDLog::log((async), ddLevel_, (flg), (ctx), __FILE__, (fnct), __LINE__, (tg),          \
                       (frmt)__VA_OPT__(, ) __VA_ARGS__);                                          \
        }                                                                                          \
    } while (0)

// Application call site: asynchronous, level appLogLevel, context 0, no tag, and the message
// "<event text>, [<file name>(<line>)]".
#define MC_LOG_MAYBE(flg, frmt, ...)                                                               \
    do {                                                                                           \
        const std::int32_t ddLevel_ = appLogLevel.load(std::memory_order_relaxed);                 \
        if ((ddLevel_ & (flg)) != 0) {                                                             \
            DDLog::logText(true, ddLevel_, (flg), 0, __FILE__, __func__, __LINE__, DDLogTag(),     \
                           ddlog::appMessage(ddlog::lastPathComponent(__FILE__), __LINE__,         \
                                             (frmt)__VA_OPT__(, ) __VA_ARGS__));                   \
        }                                                                                          \
    } while (0)

#define DDLogError(frmt, ...) MC_LOG_MAYBE(LogFlagError, frmt __VA_OPT__(, ) __VA_ARGS__)
#define DDLogWarn(frmt, ...) MC_LOG_MAYBE(LogFlagWarn, frmt __VA_OPT__(, ) __VA_ARGS__)
#define DDLogInfo(frmt, ...) MC_LOG_MAYBE(LogFlagInfo, frmt __VA_OPT__(, ) __VA_ARGS__)
#define DDLogVerbose(frmt, ...) MC_LOG_MAYBE(LogFlagVerbose, frmt __VA_OPT__(, ) __VA_ARGS__)
