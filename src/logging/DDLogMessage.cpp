#include "logging/DDLogMessage.h"

#include "platform/core/dispatch_queue.h"
#include "platform/core/thread_info.h"

#include <cstdio>
#include <cstring>

namespace {

std::unique_ptr<char[]> copyString(const char* text) {
    if (text == nullptr) {
        return nullptr;
    }
    const std::size_t length = std::strlen(text);
    auto copy = std::make_unique<char[]>(length + 1);
    std::memcpy(copy.get(), text, length + 1);
    return copy;
}

} // namespace

DDLogOrigin DDLogOrigin::current() {
    DDLogOrigin origin;
    origin.timestamp = std::chrono::system_clock::now();
    origin.machThreadID = thread_info::currentThreadID();
    origin.queueLabel = dispatch::current_queue_label();
    origin.threadName = thread_info::currentThreadName();
    return origin;
}

DDLogMessage::DDLogMessage(DDText logMsg, std::int32_t level, std::int32_t flag,
                           std::int32_t context, const char* file, const char* function,
                           std::int32_t line, DDLogTag tag, std::int32_t options)
    : DDLogMessage(std::move(logMsg), level, flag, context, file, function, line, std::move(tag),
                   options, DDLogOrigin::current()) {}

DDLogMessage::DDLogMessage(DDText logMsg, std::int32_t level, std::int32_t flag,
                           std::int32_t context, const char* file, const char* function,
                           std::int32_t line, DDLogTag tag, std::int32_t options,
                           const DDLogOrigin& origin)
    : logLevel_(level), logFlag_(flag), logContext_(context), logMsg_(std::move(logMsg)),
      timestamp_(origin.timestamp), file_(file), function_(function), lineNumber_(line),
      machThreadID_(origin.machThreadID), queueLabel_(origin.queueLabel),
      threadName_(origin.threadName), tag_(std::move(tag)), options_(options) {
    // The main thread's label lives as long as the program; any other is the queue's and may go.
    if (queueLabel_ != nullptr && queueLabel_ != dispatch::MAIN_QUEUE_LABEL) {
        ownedQueueLabel_ = copyString(queueLabel_);
        queueLabel_ = ownedQueueLabel_.get();
    }
    if ((options & LogMessageOptionCopyFile) != 0 && file != nullptr) {
        ownedFile_ = copyString(file);
        file_ = ownedFile_.get();
    }
    if ((options & LogMessageOptionCopyFunction) != 0 && function != nullptr) {
        ownedFunction_ = copyString(function);
        function_ = ownedFunction_.get();
    }
}

std::string DDLogMessage::threadID() const {
    char buffer[16];
    const int n = std::snprintf(buffer, sizeof buffer, "%x", machThreadID_);
    return std::string(buffer, static_cast<std::size_t>(n));
}

std::optional<DDFileName> DDLogMessage::fileName() const {
    return DDBaseFileName(file_, false);
}

std::optional<std::string> DDLogMessage::methodName() const {
    if (function_ == nullptr) {
        return std::nullopt;
    }
    return std::string(function_);
}
