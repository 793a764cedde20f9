#pragma once
// A logger that records what the core does to it, for the core's tests.

#include "DDLog.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class RecordingLogger : public DDLogger {
public:
    explicit RecordingLogger(std::set<DDLoggerOperation> ops = {}) : ops_(std::move(ops)) {}

    void logMessage(const DDLogMessagePtr& message) override {
        if (onMessage) {
            onMessage(*message);
        }
        const char* label = dispatch::current_queue_label();
        std::lock_guard lock(mutex_);
        events_.push_back("msg:" + *message->logMsg());
        messages_.push_back(message);
        labels_.push_back(label ? label : "(none)");
    }
    DDLogFormatterPtr logFormatter() override { return nullptr; }
    void setLogFormatter(DDLogFormatterPtr) override {}

    bool implements(DDLoggerOperation op) const override { return ops_.count(op) != 0; }
    // Each optional operation records its call, so a call the core should not make shows up.
    void didAddLogger() override { record("didAdd"); }
    void willRemoveLogger() override { record("willRemove"); }
    void flush() override { record("flush"); }
    dispatch::queue_t loggerQueue() override {
        record("loggerQueue?");
        return ownQueue;
    }
    std::string loggerName() override {
        record("loggerName?");
        return name;
    }

    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<std::string> messageTexts() const {
        std::vector<std::string> texts;
        for (const auto& e : events()) {
            if (e.rfind("msg:", 0) == 0) {
                texts.push_back(e.substr(4));
            }
        }
        return texts;
    }
    std::vector<DDLogMessagePtr> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    std::vector<std::string> labels() const {
        std::lock_guard lock(mutex_);
        return labels_;
    }

    std::function<void(const DDLogMessage&)> onMessage;
    dispatch::queue_t ownQueue;
    std::string name = "recording";

private:
    void record(const std::string& event) {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
    }

    std::set<DDLoggerOperation> ops_;
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    std::vector<DDLogMessagePtr> messages_;
    std::vector<std::string> labels_;
};
