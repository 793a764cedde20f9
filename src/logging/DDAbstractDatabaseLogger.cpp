#include "logging/DDAbstractDatabaseLogger.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr dispatch::clock::duration kLeeway = std::chrono::nanoseconds(1);

// Seconds to a timer interval. Huge values are capped so a start time cannot overflow, and tiny
// positive ones become 1 ns: a zero interval would make a one-shot timer out of a repeating one.
dispatch::clock::duration intervalFromSeconds(double seconds) {
    constexpr double kMaxSeconds = 60.0 * 60 * 24 * 365 * 50;
    const auto nanos = static_cast<std::int64_t>(std::min(seconds, kMaxSeconds) * 1e9);
    return std::max<dispatch::clock::duration>(
        std::chrono::duration_cast<dispatch::clock::duration>(std::chrono::nanoseconds(nanos)),
        kLeeway);
}

constexpr dispatch::clock::time_point kNever{};

} // namespace

DDAbstractDatabaseLogger::~DDAbstractDatabaseLogger() {
    // Nobody else holds the logger now, so the timers may be touched off its queue.
    destroySaveTimer();
    destroyDeleteTimer();
}

// ---- hooks ----

bool DDAbstractDatabaseLogger::db_log(const DDLogMessage& /*logMessage*/) {
    return false;
}
void DDAbstractDatabaseLogger::db_save() {}
void DDAbstractDatabaseLogger::db_delete() {}
void DDAbstractDatabaseLogger::db_saveAndDelete() {}

// ---- settings ----

std::uint64_t DDAbstractDatabaseLogger::saveThreshold() {
    std::uint64_t result = 0;
    readSetting([&] { result = saveThreshold_; });
    return result;
}

void DDAbstractDatabaseLogger::setSaveThreshold(std::uint64_t threshold) {
    changeSetting([this, threshold] {
        if (saveThreshold_ == threshold) {
            return;
        }
        saveThreshold_ = threshold;
        if (saveThreshold_ != 0 && unsavedCount_ >= saveThreshold_) {
            performSaveAndSuspendSaveTimer();
        }
    });
}

double DDAbstractDatabaseLogger::saveInterval() {
    double result = 0;
    readSetting([&] { result = saveInterval_; });
    return result;
}

void DDAbstractDatabaseLogger::setSaveInterval(double interval) {
    changeSetting([this, interval] {
        if (saveInterval_ == interval) {
            return;
        }
        saveInterval_ = interval;
        if (saveInterval_ > 0) {
            createSuspendedSaveTimer();
            updateAndResumeSaveTimer();
        } else {
            destroySaveTimer();
        }
    });
}

double DDAbstractDatabaseLogger::maxAge() {
    double result = 0;
    readSetting([&] { result = maxAge_; });
    return result;
}

void DDAbstractDatabaseLogger::setMaxAge(double interval) {
    changeSetting([this, interval] {
        if (maxAge_ == interval) {
            return;
        }
        const double oldAge = maxAge_;
        maxAge_ = interval;
        if (oldAge > 0 && !(interval > 0)) {
            destroyDeleteTimer();
            return;
        }
        // Only a stricter (or newly enabled) age can leave entries that are now too old.
        const bool deleteNow = interval > 0 && (!(oldAge > 0) || interval < oldAge);
        if (!deleteNow) {
            return;
        }
        performDelete();
        if (deleteTimer_) {
            updateDeleteTimer();
        } else {
            createAndStartDeleteTimer();
        }
    });
}

double DDAbstractDatabaseLogger::deleteInterval() {
    double result = 0;
    readSetting([&] { result = deleteInterval_; });
    return result;
}

void DDAbstractDatabaseLogger::setDeleteInterval(double interval) {
    changeSetting([this, interval] {
        if (deleteInterval_ == interval) {
            return;
        }
        deleteInterval_ = interval;
        if (!(deleteInterval_ > 0)) {
            destroyDeleteTimer();
        } else if (deleteTimer_) {
            updateDeleteTimer();
        } else {
            createAndStartDeleteTimer();
        }
    });
}

bool DDAbstractDatabaseLogger::deleteOnEverySave() {
    bool result = false;
    readSetting([&] { result = deleteOnEverySave_; });
    return result;
}

void DDAbstractDatabaseLogger::setDeleteOnEverySave(bool flag) {
    changeSetting([this, flag] { deleteOnEverySave_ = flag; });
}

// ---- requests ----

void DDAbstractDatabaseLogger::savePendingLogEntries() {
    runOnLoggerQueue(&DDAbstractDatabaseLogger::performSaveAndSuspendSaveTimer);
}

void DDAbstractDatabaseLogger::deleteOldLogEntries() {
    runOnLoggerQueue(&DDAbstractDatabaseLogger::performDelete);
}

void DDAbstractDatabaseLogger::runOnLoggerQueue(void (DDAbstractDatabaseLogger::*work)()) {
    if (isOnInternalLoggerQueue()) {
        (this->*work)();
        return;
    }
    // Straight to the logger's queue: a request need not wait for queued messages.
    dispatch::async(loggerQueue(),
                    [this, keep = weak_from_this().lock(), work] { (this->*work)(); });
}

// ---- logger protocol ----

bool DDAbstractDatabaseLogger::implements(DDLoggerOperation op) const {
    return op == DDLoggerOperation::didAddLogger || op == DDLoggerOperation::willRemoveLogger ||
           op == DDLoggerOperation::flush || DDAbstractLogger::implements(op);
}

void DDAbstractDatabaseLogger::logMessage(const DDLogMessagePtr& message) {
    if (!message || !db_log(*message)) {
        return;
    }
    ++unsavedCount_;
    if (saveThreshold_ != 0 && unsavedCount_ >= saveThreshold_) {
        performSaveAndSuspendSaveTimer();
    } else if (unsavedCount_ == 1) {
        unsavedTime_ = dispatch::clock::now();
        updateAndResumeSaveTimer();
    }
}

void DDAbstractDatabaseLogger::didAddLogger() {
    createSuspendedSaveTimer();
    createAndStartDeleteTimer();
}

void DDAbstractDatabaseLogger::willRemoveLogger() {
    performSaveAndSuspendSaveTimer();
    destroySaveTimer();
    destroyDeleteTimer();
}

void DDAbstractDatabaseLogger::flush() {
    performSaveAndSuspendSaveTimer();
}

// ---- work on the logger's queue ----

void DDAbstractDatabaseLogger::performSaveAndSuspendSaveTimer() {
    if (unsavedCount_ > 0) {
        if (deleteOnEverySave_) {
            db_saveAndDelete();
        } else {
            db_save();
        }
    }
    unsavedCount_ = 0;
    unsavedTime_ = kNever;
    if (saveTimer_ && !saveTimerSuspended_) {
        dispatch::timer_suspend(saveTimer_);
        saveTimerSuspended_ = true;
    }
}

void DDAbstractDatabaseLogger::performDelete() {
    if (maxAge_ > 0) {
        db_delete();
        lastDeleteTime_ = dispatch::clock::now();
    }
}

namespace {
// A timer's handler holds the logger weakly: the logger owns its timers, and a strong reference
// would keep it alive forever. A fire that finds the logger gone does nothing.
template <class Logger>
dispatch::block_t weakHandler(const std::weak_ptr<DDAbstractLogger>& weak, void (Logger::*work)()) {
    return [weak, work] {
        if (const auto self = std::static_pointer_cast<Logger>(weak.lock())) {
            ((*self).*work)();
        }
    };
}
} // namespace

void DDAbstractDatabaseLogger::createSuspendedSaveTimer() {
    if (saveTimer_ || !(saveInterval_ > 0)) {
        return;
    }
    saveTimer_ = dispatch::timer_create(loggerQueue());
    dispatch::timer_set_event_handler(
        saveTimer_,
        weakHandler(weak_from_this(), &DDAbstractDatabaseLogger::performSaveAndSuspendSaveTimer));
    saveTimerSuspended_ = true; // timers start suspended
}

void DDAbstractDatabaseLogger::updateAndResumeSaveTimer() {
    if (!saveTimer_ || !(saveInterval_ > 0) || unsavedTime_ == kNever) {
        return;
    }
    const auto interval = intervalFromSeconds(saveInterval_);
    dispatch::timer_set(saveTimer_, unsavedTime_ + interval, interval, kLeeway);
    if (saveTimerSuspended_) {
        dispatch::timer_resume(saveTimer_);
        saveTimerSuspended_ = false;
    }
}

void DDAbstractDatabaseLogger::destroySaveTimer() {
    if (!saveTimer_) {
        return;
    }
    // Our timers end on cancel whether suspended or not, so no resume is needed first.
    dispatch::timer_cancel(saveTimer_);
    saveTimer_.reset();
    saveTimerSuspended_ = false;
}

void DDAbstractDatabaseLogger::createAndStartDeleteTimer() {
    if (deleteTimer_ || !(deleteInterval_ > 0) || !(maxAge_ > 0)) {
        return;
    }
    deleteTimer_ = dispatch::timer_create(loggerQueue());
    dispatch::timer_set_event_handler(
        deleteTimer_, weakHandler(weak_from_this(), &DDAbstractDatabaseLogger::performDelete));
    updateDeleteTimer();
    dispatch::timer_resume(deleteTimer_);
}

void DDAbstractDatabaseLogger::updateDeleteTimer() {
    if (!deleteTimer_ || !(deleteInterval_ > 0) || !(maxAge_ > 0)) {
        return;
    }
    const auto interval = intervalFromSeconds(deleteInterval_);
    // Never deleted yet: a full interval from now, not an instant fire.
    const auto base = lastDeleteTime_ == kNever ? dispatch::clock::now() : lastDeleteTime_;
    dispatch::timer_set(deleteTimer_, base + interval, interval, kLeeway);
}

void DDAbstractDatabaseLogger::destroyDeleteTimer() {
    if (!deleteTimer_) {
        return;
    }
    dispatch::timer_cancel(deleteTimer_);
    deleteTimer_.reset();
}
