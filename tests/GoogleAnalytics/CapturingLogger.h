#pragma once
// Collects what a piece of work logs, each line behind its flag's number.

#include "logging/DDLog.h"

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct CapturingLogger : DDLogger {
    void logMessage(const DDLogMessagePtr& message) override {
        std::lock_guard lock(mutex);
        lines.push_back(std::to_string(message->logFlag()) + " " + *message->logMsg());
    }
    DDLogFormatterPtr logFormatter() override { return nullptr; }
    void setLogFormatter(DDLogFormatterPtr) override {}
    std::mutex mutex;
    std::vector<std::string> lines;
};

// The lines `work` logs at `level`; the application's usual level is restored afterwards.
inline std::vector<std::string> loggedBy(const std::function<void()>& work,
                                         std::int32_t level = LogLevelWarn) {
    auto logger = std::make_shared<CapturingLogger>();
    appLogLevel = level;
    DDLog::addLogger(logger);
    work();
    // Flushes from a helper thread: a flush on the main thread leaves per-thread queue state
    // there that the logging library's own flush at exit would use after it was destroyed.
    std::thread([] { DDLog::flushLog(); }).join();
    DDLog::removeLogger(logger);
    appLogLevel = LogLevelWarn;
    std::lock_guard lock(logger->mutex);
    return logger->lines;
}
