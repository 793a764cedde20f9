#pragma once
// Base of every logger: owns the logger's serial queue and its formatter, and gives subclasses one
// rule for settings. Reading waits on the global logging queue, then on the logger's queue;
// changing goes through both queues asynchronously (or runs at once when already on the
// logger's queue). Waiting always in that order means no two queues ever wait for each other.

#include "logging/DDLogger.h"
#include "platform/core/dispatch_queue.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

class DDAbstractLogger : public DDLogger, public std::enable_shared_from_this<DDAbstractLogger> {
public:
    DDAbstractLogger() = default;
    ~DDAbstractLogger() override = default;
    DDAbstractLogger(const DDAbstractLogger&) = delete;
    DDAbstractLogger& operator=(const DDAbstractLogger&) = delete;

    void logMessage(const DDLogMessagePtr& message) override;
    DDLogFormatterPtr logFormatter() override;
    void setLogFormatter(DDLogFormatterPtr formatter) override;

    bool implements(DDLoggerOperation op) const override;
    // The queue is made on first use, labelled with loggerName(), so a subclass's name applies.
    dispatch::queue_t loggerQueue() override;
    // The object's class name unless a subclass names itself.
    std::string loggerName() override;

    bool isOnGlobalLoggingQueue() const;
    bool isOnInternalLoggerQueue() const;

protected:
    // The settings rule for subclasses.
    void readSetting(const std::function<void()>& read);
    void changeSetting(std::function<void()> change);
    void changeSettingThroughBothQueues(std::function<void()> change);

    // Read and written only on the logger's queue.
    DDLogFormatterPtr formatter;

private:
    std::once_flag queueOnce_;
    dispatch::queue_t loggerQueue_;
};
