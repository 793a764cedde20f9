#pragma once
// Writes each message to the host's system log at a priority chosen by its flag.

#include "logging/DDAbstractLogger.h"

#include <memory>

// Where the system log logger writes. The text always goes as the argument of format "%s".
class DDSystemLogSink {
public:
    virtual ~DDSystemLogSink() = default;
    virtual void log(int priority, const char* format, const char* text) = 0;
};

class DDASLLogger : public DDAbstractLogger {
public:
    // The process's system log logger, connected to /dev/log under the process name.
    static std::shared_ptr<DDASLLogger> sharedInstance();

    // A logger writing to another sink (a private daemon, or a test's recorder).
    explicit DDASLLogger(std::shared_ptr<DDSystemLogSink> sink);

    std::string loggerName() override { return "cocoa.lumberjack.aslLogger"; }
    void logMessage(const DDLogMessagePtr& message) override;

    // Error 2 (critical), warning 3 (error), info 4 (warning), anything else 5 (notice).
    static int priorityForFlag(std::int32_t flag);

    // A sink on a syslog socket; facility is the shifted code (LOG_USER is 8).
    static std::shared_ptr<DDSystemLogSink>
    socketSink(const std::string& socketPath, const std::string& ident = {}, int facility = 8);

private:
    std::shared_ptr<DDSystemLogSink> client_;
};
