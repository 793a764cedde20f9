#pragma once
// One log call, made immutable in the calling thread and shared by every logger.

#include "logging/DDFileName.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

inline constexpr std::int32_t LogMessageOptionCopyFile = 1 << 0;
inline constexpr std::int32_t LogMessageOptionCopyFunction = 1 << 1;

// Text objects are shared: all loggers see the one instance, and a formatter's result can be
// told apart from the message's own text by identity.
using DDText = std::shared_ptr<const std::string>;
// A caller's tag; loggers compare tags by their text.
using DDLogTag = std::shared_ptr<const std::string>;

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
