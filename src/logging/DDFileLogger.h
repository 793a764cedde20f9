#pragma once
// A logger that appends each message as one line to a log file and rolls to a fresh file when
// the current one reaches maximumFileSize bytes or rollingFrequency seconds of age. Which files
// exist and how many are kept is the file manager's business (DDLogFileManager.h).
//
//     auto fileLogger = std::make_shared<DDFileLogger>();   // ~/.local/state/Logs/<process>
//     fileLogger->setRollingFrequency(60 * 60 * 24);
//     DDLog::addLogger(fileLogger);
//
// A write that fails (disk full, I/O error) takes back any part of the line it wrote and closes
// the file; the next message opens it again. A file deleted underneath is left alone: the line
// goes to a new file. Only a regular file of the running user with a single link is written:
// a link, a FIFO or someone else's file in the log folder is skipped for a new file.

#include "logging/DDAbstractLogger.h"
#include "logging/DDDateFormatter.h"
#include "logging/DDLogFileManager.h"
#include "platform/core/dispatch_timer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// "yyyy/MM/dd HH:mm:ss:SSS  <message>" in local time.
class DDLogFileFormatterDefault : public DDLogFormatter {
public:
    // Null: the pattern above.
    explicit DDLogFileFormatterDefault(std::shared_ptr<const DDDateFormatter> dateFormatter = {});

    DDText formatLogMessage(const DDLogMessage& logMessage) override;
    // The same line appended to out, without an allocation of its own.
    void appendLine(std::string& out, const DDLogMessage& logMessage) const;

private:
    std::shared_ptr<const DDDateFormatter> dateFormatter_;
};

class DDFileLogger : public DDAbstractLogger {
public:
    // Brings a file's data to disk before it is closed, at a roll and at teardown; fsync(2)
    // unless the logger was given another (tests count the calls). Null means fsync(2).
    using FileSync = std::function<void(int fd)>;

    // A DDLogFileManagerDefault in the default logs directory.
    DDFileLogger();
    explicit DDFileLogger(DDLogFileManagerPtr logFileManager);
    DDFileLogger(DDLogFileManagerPtr logFileManager, FileSync fileSync);
    ~DDFileLogger() override;

    const DDLogFileManagerPtr& logFileManager() const { return logFileManager_; }

    // Readers wait on the global logging queue and then on the logger's: never call them there.
    std::uint64_t maximumFileSize();
    double rollingFrequency();
    // Asynchronous; a lowered limit can roll the current file at once.
    void setMaximumFileSize(std::uint64_t maximumFileSize);
    void setRollingFrequency(double rollingFrequency);

    void rollLogFile();

    void logMessage(const DDLogMessagePtr& logMessage) override;
    bool implements(DDLoggerOperation op) const override;
    void willRemoveLogger() override;
    std::string loggerName() override;

    // For tests and tools, on the logger's queue only: the file being written, or null.
    const DDLogFileInfoPtr& currentLogFileInfoIfOpen() const { return currentLogFileInfo_; }
    bool hasRollingTimer() const { return rollingTimer_ != nullptr; }

private:
    // All of these run on the logger's queue only.
    const DDLogFileInfoPtr& currentLogFileInfo();
    int currentLogFileHandle();
    void writeLine(const std::string& line);
    void closeAfterFailure();
    void rollLogFileNow();
    void maybeRollLogFileDueToSize();
    void maybeRollLogFileDueToAge();
    void scheduleTimerToRollLogFileDueToAge();
    void cancelRollingTimer();

    const DDLogFileManagerPtr logFileManager_;
    const FileSync fileSync_;
    DDLogFileInfoPtr currentLogFileInfo_;
    int currentLogFileHandle_ = -1;
    // The file's length after the last write; read instead of asking the file system.
    std::uint64_t fileOffset_ = 0;
    dispatch::timer_t rollingTimer_;
    std::uint64_t maximumFileSize_ = 1024 * 1024;
    double rollingFrequency_ = 60 * 60 * 24;
    std::string line_; // reused for every message
    bool reportedForeignFile_ = false;
};
