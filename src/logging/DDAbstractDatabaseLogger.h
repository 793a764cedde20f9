#pragma once
// Base of loggers that store messages in a database. Messages are handed to the subclass one by
// one as pending entries and saved together: when saveThreshold of them are pending, saveInterval
// after the first of them arrived, on flush, on removal or on request. A repeating timer deletes
// entries older than maxAge every deleteInterval.
//
// All counting, saving, deleting and timer work runs on the logger's queue, so the hooks are never
// called concurrently. Subclasses read the settings there directly (the protected fields below);
// the public readers wait for the logger's queue and must not be called on it.

#include "logging/DDAbstractLogger.h"
#include "platform/core/dispatch_timer.h"

#include <cstdint>

class DDAbstractDatabaseLogger : public DDAbstractLogger {
public:
    DDAbstractDatabaseLogger() = default;
    ~DDAbstractDatabaseLogger() override;

    // 0 switches saving by count off.
    std::uint64_t saveThreshold();
    void setSaveThreshold(std::uint64_t threshold);
    // Seconds; 0 or less switches the save timer off.
    double saveInterval();
    void setSaveInterval(double interval);
    // Seconds; 0 or less switches deleting off.
    double maxAge();
    void setMaxAge(double interval);
    // Seconds; 0 or less switches the delete timer off.
    double deleteInterval();
    void setDeleteInterval(double interval);
    bool deleteOnEverySave();
    void setDeleteOnEverySave(bool flag);

    // Save now / delete old entries now; asynchronous unless called on the logger's queue.
    void savePendingLogEntries();
    void deleteOldLogEntries();

    void logMessage(const DDLogMessagePtr& message) override;
    bool implements(DDLoggerOperation op) const override;
    void didAddLogger() override;
    void willRemoveLogger() override;
    void flush() override;

protected:
    // Hooks, called on the logger's queue. db_log returns whether the entry was taken as pending.
    virtual bool db_log(const DDLogMessage& logMessage);
    virtual void db_save();
    virtual void db_delete();
    // Called instead of db_save when deleteOnEverySave is set.
    virtual void db_saveAndDelete();

    // Settings as they stand on the logger's queue.
    std::uint64_t saveThreshold_ = 500;
    double saveInterval_ = 60.0;
    double maxAge_ = 60.0 * 60 * 24 * 7;
    double deleteInterval_ = 60.0 * 5;
    bool deleteOnEverySave_ = false;

private:
    void performSaveAndSuspendSaveTimer();
    void performDelete();
    void createSuspendedSaveTimer();
    void updateAndResumeSaveTimer();
    void destroySaveTimer();
    void createAndStartDeleteTimer();
    void updateDeleteTimer();
    void destroyDeleteTimer();
    // Runs work on the logger's queue: at once when already there, else asynchronously.
    void runOnLoggerQueue(void (DDAbstractDatabaseLogger::*work)());

    // Touched only on the logger's queue (and in the destructor).
    bool saveTimerSuspended_ = false;
    std::uint64_t unsavedCount_ = 0;
    dispatch::clock::time_point unsavedTime_{}; // epoch: nothing pending
    dispatch::timer_t saveTimer_;
    dispatch::clock::time_point lastDeleteTime_{}; // epoch: never deleted
    dispatch::timer_t deleteTimer_;
};
