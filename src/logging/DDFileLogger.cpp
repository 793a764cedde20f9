#include "logging/DDFileLogger.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <typeinfo>
#include <unistd.h>

namespace {

// Asks for the link count and size only. Asking for the times as well would make the kernel
// stamp the next write with a fine-grained time, which costs a journal update per line.
bool linkCountAndSize(int fd, struct statx& st) {
    return ::statx(fd, "", AT_EMPTY_PATH, STATX_NLINK | STATX_SIZE, &st) == 0;
}

void syncToDisk(int fd) {
    ::fsync(fd);
}

} // namespace

// ---- DDLogFileFormatterDefault

DDLogFileFormatterDefault::DDLogFileFormatterDefault(
    std::shared_ptr<const DDDateFormatter> dateFormatter)
    : dateFormatter_(dateFormatter
                         ? std::move(dateFormatter)
                         : std::make_shared<const DDDateFormatter>("yyyy/MM/dd HH:mm:ss:SSS")) {}

void DDLogFileFormatterDefault::appendLine(std::string& out, const DDLogMessage& logMessage) const {
    dateFormatter_->appendStringFromDate(out, logMessage.timestamp());
    out += "  ";
    if (logMessage.logMsg()) {
        out += *logMessage.logMsg();
    }
}

DDText DDLogFileFormatterDefault::formatLogMessage(const DDLogMessage& logMessage) {
    auto line = std::make_shared<std::string>();
    appendLine(*line, logMessage);
    return line;
}

// ---- DDFileLogger

DDFileLogger::DDFileLogger() : DDFileLogger(std::make_shared<DDLogFileManagerDefault>()) {}

DDFileLogger::DDFileLogger(DDLogFileManagerPtr logFileManager)
    : DDFileLogger(std::move(logFileManager), nullptr) {}

DDFileLogger::DDFileLogger(DDLogFileManagerPtr logFileManager, FileSync fileSync)
    : logFileManager_(std::move(logFileManager)),
      fileSync_(fileSync ? std::move(fileSync) : FileSync(syncToDisk)) {
    // Set directly: a default formatter is not told it was added.
    formatter = std::make_shared<DDLogFileFormatterDefault>();
}

DDFileLogger::~DDFileLogger() {
    if (currentLogFileHandle_ >= 0) {
        fileSync_(currentLogFileHandle_);
        ::close(currentLogFileHandle_);
    }
    cancelRollingTimer();
}

std::string DDFileLogger::loggerName() {
    return "cocoa.lumberjack.fileLogger";
}

bool DDFileLogger::implements(DDLoggerOperation op) const {
    return op == DDLoggerOperation::willRemoveLogger || DDAbstractLogger::implements(op);
}

std::uint64_t DDFileLogger::maximumFileSize() {
    std::uint64_t result = 0;
    readSetting([&] { result = maximumFileSize_; });
    return result;
}

double DDFileLogger::rollingFrequency() {
    double result = 0;
    readSetting([&] { result = rollingFrequency_; });
    return result;
}

void DDFileLogger::setMaximumFileSize(std::uint64_t maximumFileSize) {
    changeSettingThroughBothQueues([this, maximumFileSize] {
        maximumFileSize_ = maximumFileSize;
        maybeRollLogFileDueToSize();
    });
}

void DDFileLogger::setRollingFrequency(double rollingFrequency) {
    // NaN would compare false everywhere and still arm timers; it means "no age limit".
    const double value = std::isnan(rollingFrequency) ? 0.0 : rollingFrequency;
    changeSettingThroughBothQueues([this, value] {
        rollingFrequency_ = value;
        maybeRollLogFileDueToAge();
    });
}

void DDFileLogger::rollLogFile() {
    if (isOnInternalLoggerQueue()) {
        rollLogFileNow();
        return;
    }
    changeSettingThroughBothQueues([this] { rollLogFileNow(); });
}

void DDFileLogger::willRemoveLogger() {
    rollLogFileNow();
}

void DDFileLogger::logMessage(const DDLogMessagePtr& logMessage) {
    line_.clear();
    const DDLogFormatter* const current = formatter.get();
    if (current != nullptr && typeid(*current) == typeid(DDLogFileFormatterDefault)) {
        // The default line is built straight into the reused buffer.
        static_cast<const DDLogFileFormatterDefault&>(*current).appendLine(line_, *logMessage);
    } else {
        const DDText text =
            formatter ? formatter->formatLogMessage(*logMessage) : logMessage->logMsg();
        if (!text) {
            return;
        }
        line_ = *text;
    }
    if (line_.empty() || line_.back() != '\n') {
        line_ += '\n';
    }
    writeLine(line_);
    maybeRollLogFileDueToSize();
}

void DDFileLogger::writeLine(const std::string& line) {
    int fd = currentLogFileHandle();
    if (fd < 0) {
        return;
    }
    struct statx st {};
    if (linkCountAndSize(fd, st) && st.stx_nlink == 0) {
        // Deleted underneath: whatever went there now would be lost. Start a new file.
        closeAfterFailure();
        fd = currentLogFileHandle();
        if (fd < 0 || !linkCountAndSize(fd, st)) {
            return;
        }
    }
    const off_t before = static_cast<off_t>(st.stx_size);
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            // Disk full or I/O error: take back the part of the line that got in, so the file
            // holds whole lines only, and try afresh with the next message.
            // A failed truncate leaves a partial line; the next write starts a new one anyway.
            if (done > 0 && ::ftruncate(fd, before) != 0) {
                errno = 0;
            }
            closeAfterFailure();
            return;
        }
    }
    fileOffset_ = static_cast<std::uint64_t>(before) + line.size();
}

void DDFileLogger::closeAfterFailure() {
    if (currentLogFileHandle_ >= 0) {
        ::close(currentLogFileHandle_);
        currentLogFileHandle_ = -1;
    }
    // Chosen afresh with the next message: the same file when it is still there and fit.
    currentLogFileInfo_.reset();
    cancelRollingTimer();
}

const DDLogFileInfoPtr& DDFileLogger::currentLogFileInfo() {
    if (currentLogFileInfo_) {
        return currentLogFileInfo_;
    }
    const auto infos = logFileManager_->sortedLogFileInfos();
    // A link or someone else's file is never taken up, nor marked: a new file is made.
    if (!infos.empty() && infos.front()->isOwnRegularFile() && !infos.front()->isArchived()) {
        const DDLogFileInfoPtr& newest = infos.front();
        const bool smallEnough = maximumFileSize_ == 0 || newest->fileSize() < maximumFileSize_;
        const bool youngEnough = rollingFrequency_ <= 0 || newest->age() < rollingFrequency_;
        if (smallEnough && youngEnough) {
            currentLogFileInfo_ = newest;
        } else {
            newest->setIsArchived(true);
            if (logFileManager_->implements(DDLogFileManagerOperation::didArchiveLogFile)) {
                logFileManager_->didArchiveLogFile(newest->filePath());
            }
        }
    }
    if (!currentLogFileInfo_) {
        currentLogFileInfo_ = DDLogFileInfo::logFileWithPath(logFileManager_->createNewLogFile());
    }
    return currentLogFileInfo_;
}

int DDFileLogger::currentLogFileHandle() {
    if (currentLogFileHandle_ >= 0) {
        return currentLogFileHandle_;
    }
    const std::string path = currentLogFileInfo()->filePath();
    // The manager made the file: no O_CREAT, so a file removed meanwhile is not brought back.
    // Never through a link, and never into anything but a file of ours (non-blocking, so a
    // FIFO put in its place cannot hang the queue).
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    // ELOOP: a symbolic link; ENXIO: a FIFO nobody reads.
    bool foreign = fd < 0 && (errno == ELOOP || errno == ENXIO);
    struct stat owner {};
    if (fd >= 0 && (::fstat(fd, &owner) != 0 || !S_ISREG(owner.st_mode) ||
                    owner.st_uid != ::geteuid() || owner.st_nlink != 1)) {
        ::close(fd);
        fd = -1;
        foreign = true;
    }
    if (foreign) {
        if (!reportedForeignFile_) {
            reportedForeignFile_ = true;
            std::fprintf(stderr, "DDFileLogger: %s is not a regular file of this user; skipped\n",
                         path.c_str());
        }
    }
    if (fd < 0) {
        // Chosen afresh with the next message rather than failing on this path for ever.
        currentLogFileInfo_.reset();
        return -1;
    }
    struct statx st {};
    fileOffset_ = linkCountAndSize(fd, st) ? st.stx_size : 0;
    currentLogFileHandle_ = fd;
    scheduleTimerToRollLogFileDueToAge();
    return fd;
}

void DDFileLogger::maybeRollLogFileDueToSize() {
    if (maximumFileSize_ != 0 && currentLogFileHandle_ >= 0 && fileOffset_ >= maximumFileSize_) {
        rollLogFileNow();
    }
}

void DDFileLogger::maybeRollLogFileDueToAge() {
    if (rollingFrequency_ > 0 && currentLogFileInfo_ &&
        currentLogFileInfo_->age() >= rollingFrequency_) {
        rollLogFileNow();
    } else {
        scheduleTimerToRollLogFileDueToAge();
    }
}

void DDFileLogger::scheduleTimerToRollLogFileDueToAge() {
    cancelRollingTimer();
    if (!currentLogFileInfo_ || rollingFrequency_ <= 0) {
        return;
    }
    const auto now = std::chrono::system_clock::now();
    const auto created = currentLogFileInfo_->creationDate().value_or(now);
    const auto rollTime = created + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                        std::chrono::duration<double>(rollingFrequency_));
    // Rounded up to the millisecond, so the age is reached when the timer fires even if the two
    // clocks drift apart by a little.
    const auto delay = std::max(std::chrono::ceil<std::chrono::milliseconds>(rollTime - now),
                                std::chrono::milliseconds(0));
    rollingTimer_ = dispatch::timer_create(loggerQueue());
    const std::weak_ptr<DDAbstractLogger> weak = weak_from_this();
    dispatch::timer_set_event_handler(rollingTimer_, [this, weak] {
        if (const auto self = weak.lock()) {
            maybeRollLogFileDueToAge();
        }
    });
    dispatch::timer_set(rollingTimer_, dispatch::clock::now() + delay, dispatch::TIME_FOREVER,
                        std::chrono::nanoseconds(1));
    dispatch::timer_resume(rollingTimer_);
}

void DDFileLogger::cancelRollingTimer() {
    if (rollingTimer_) {
        dispatch::timer_cancel(rollingTimer_);
        rollingTimer_.reset();
    }
}

void DDFileLogger::rollLogFileNow() {
    if (currentLogFileHandle_ < 0) {
        return;
    }
    // Syncing a megabyte takes milliseconds: done on a shared queue, off the logging path.
    dispatch::async(dispatch::get_global_queue(dispatch::QUEUE_PRIORITY_LOW, 0),
                    [fd = currentLogFileHandle_, sync = fileSync_] {
                        sync(fd);
                        ::close(fd);
                    });
    currentLogFileHandle_ = -1;
    if (currentLogFileInfo_) {
        currentLogFileInfo_->setIsArchived(true);
        if (logFileManager_->implements(DDLogFileManagerOperation::didRollAndArchiveLogFile)) {
            logFileManager_->didRollAndArchiveLogFile(currentLogFileInfo_->filePath());
        }
        currentLogFileInfo_.reset();
    }
    cancelRollingTimer();
}
