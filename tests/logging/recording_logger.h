#pragma once
// A logger that records what the core does to it, for the core's tests.

#include "logging/DDLog.h"

#include <functional>
#include <mutex>
#include <set>

class RecordingLogger : public DDLogger {
public:
    explicit RecordingLogger(std::set<DDLoggerOperation> ops = {}) : ops_(std::move(ops)) {}

    void logMessage(const DDLogMessagePtr& message) override {
        if (onMessage) {
            onMessage(*message);
        }
        const char* label = dispatch::current_queue_label();
        record("msg:" + *message->logMsg() + (label ? std::string("@") + label : ""), message);
    }
    DDLogFormatterPtr logFormatter() override { return nullptr; }
    void setLogFormatter(DDLogFormatterPtr) override {}

    bool implements(DDLoggerOperation op) const override { return ops_.count(op) != 0; }
    // Each optional operation records its call, so a call the core should not make shows up.
    void didAddLogger() override { record("didAdd"); }
    void willRemoveLogger() override { record("willRemove"); }
    void flush() override { record("flush"); }
    dispatch::queue_t loggerQueue() override { return record("loggerQueue?"), ownQueue; }
    std::string loggerName() override { return record("loggerName?"), "recording"; }

    // What happened; a message shows as "msg:<text>", plus "@<label>" on a labelled queue.
    std::vector<std::string> events() const { return locked(events_); }
    std::vector<DDLogMessagePtr> messages() const { return locked(messages_); }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const auto& m : messages()) {
            out.push_back(*m->logMsg());
        }
        return out;
    }

    std::function<void(const DDLogMessage&)> onMessage;
    dispatch::queue_t ownQueue;

private:
    template <class T>
    T locked(const T& value) const {
        std::lock_guard lock(mutex_);
        return value;
    }
    void record(const std::string& event, const DDLogMessagePtr& message = nullptr) {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
        if (message) {
            messages_.push_back(message);
        }
    }

    std::set<DDLoggerOperation> ops_;
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    std::vector<DDLogMessagePtr> messages_;
};
