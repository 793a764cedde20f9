#include "logging/DDAbstractDatabaseLogger.h"
#include "logging/DDLog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

namespace {

using Events = std::vector<std::string>;

// What the hooks did, shared with the test so it outlives the logger.
class HookRecord {
public:
    void add(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
        changed_.notify_all();
    }
    Events events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::size_t count(const std::string& event) const {
        const Events e = events();
        return static_cast<std::size_t>(std::count(e.begin(), e.end(), event));
    }
    // Waits until the event happened at least that often (20 s at most; ends on the condition).
    bool waitForCount(const std::string& event, std::size_t atLeast) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [&] {
            return static_cast<std::size_t>(std::count(events_.begin(), events_.end(), event)) >=
                   atLeast;
        });
    }
    std::atomic<int> logged{0};

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Events events_;
};

// Keeps its pending entries as a count; each save records how many it stored.
class CountingDatabaseLogger : public DDAbstractDatabaseLogger {
public:
    explicit CountingDatabaseLogger(bool takesEntries = true) : takesEntries_(takesEntries) {}
    std::shared_ptr<HookRecord> record = std::make_shared<HookRecord>();

protected:
    bool db_log(const DDLogMessage&) override {
        EXPECT_TRUE(isOnInternalLoggerQueue());
        ++record->logged;
        pending_ += takesEntries_ ? 1 : 0;
        return takesEntries_;
    }
    void db_save() override { store("save:"); }
    void db_saveAndDelete() override { store("saveAndDelete:"); }
    void db_delete() override {
        EXPECT_TRUE(isOnInternalLoggerQueue());
        record->add("delete");
    }

private:
    void store(const char* what) {
        EXPECT_TRUE(isOnInternalLoggerQueue());
        record->add(what + std::to_string(pending_));
        pending_ = 0;
    }
    bool takesEntries_;
    int pending_ = 0; // only on the logger's queue
};
using LoggerPtr = std::shared_ptr<CountingDatabaseLogger>;

class DatabaseLogger : public ::testing::Test {
protected:
    LoggerPtr add(LoggerPtr logger) {
        DDLog::addLogger(logger);
        added_.push_back(logger);
        return logger;
    }
    void TearDown() override {
        for (const auto& weak : added_) {
            if (auto logger = weak.lock()) {
                DDLog::removeLogger(logger);
            }
        }
        DDLog::flushLog();
    }
    // Queues n messages; they reach every registered logger before the next barrier returns.
    static void log(int n) {
        for (int i = 0; i < n; ++i) {
            DDLog::log(true, LogLevelVerbose, LogFlagError, 0, __FILE__, __func__, __LINE__, {},
                       "entry");
        }
    }
    // Returns once everything queued so far, through the core or straight to the logger's
    // queue, has run there.
    static void settle(const LoggerPtr& logger) { (void)logger->saveThreshold(); }

private:
    std::vector<std::weak_ptr<CountingDatabaseLogger>> added_;
};

} // namespace

TEST_F(DatabaseLogger, SavesAtOnceWhenThePendingCountReachesTheThresholdOrTheThresholdDropsToIt) {
    // messages logged, new threshold (unset: unchanged), all events so far
    const std::tuple<int, std::optional<std::uint64_t>, Events> steps[] = {
        {499, {}, {}},                               // 500 by default
        {1, {}, {"save:500"}},                       // reached
        {10, 11, {"save:500"}},                      // counting again from 0, still below
        {0, 0, {"save:500"}},                        // off
        {0, 10, {"save:500", "save:10"}},            // equal to the count
        {5, 10, {"save:500", "save:10"}},            // unchanged value: nothing
        {0, 4, {"save:500", "save:10", "save:5"}},   // below the count
        {3, 500, {"save:500", "save:10", "save:5"}}, // raised
    };
    auto logger = add(std::make_shared<CountingDatabaseLogger>());
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE("step " + std::to_string(i));
        const auto& [n, threshold, expected] = steps[i];
        log(n);
        if (threshold) {
            logger->setSaveThreshold(*threshold);
        }
        settle(logger);
        EXPECT_EQ(logger->record->events(), expected);
    }
}

TEST_F(DatabaseLogger, AnEntryIsSavedOneIntervalAfterItArrivedAgainAndAgain) {
    auto logger = std::make_shared<CountingDatabaseLogger>();
    logger->setSaveInterval(0.05);
    add(logger);
    log(1);
    EXPECT_TRUE(logger->record->waitForCount("save:1", 1));
    log(1); // the timer was suspended by the save; a new first entry starts it again
    EXPECT_TRUE(logger->record->waitForCount("save:1", 2));
    EXPECT_EQ(logger->record->events(), (Events{"save:1", "save:1"}));
}

TEST_F(DatabaseLogger, WithThresholdZeroOnlyTimerFlushRemovalOrRequestSave) {
    const std::pair<const char*, std::function<void(const LoggerPtr&)>> triggers[] = {
        {"timer started while entries are pending",
         [](const LoggerPtr& logger) { logger->setSaveInterval(0.02); }},
        {"request", [](const LoggerPtr& logger) { logger->savePendingLogEntries(); }},
        {"request on the logger's queue",
         [](const LoggerPtr& logger) {
             Events seen;
             dispatch::sync(logger->loggerQueue(), [&] {
                 logger->savePendingLogEntries();
                 seen = logger->record->events(); // done at once, not queued behind us
             });
             EXPECT_EQ(seen, Events{"save:600"});
         }},
        {"removal", [](const LoggerPtr& logger) { DDLog::removeLogger(logger); }},
    };
    for (const auto& [name, trigger] : triggers) {
        SCOPED_TRACE(name);
        auto logger = std::make_shared<CountingDatabaseLogger>();
        logger->setSaveThreshold(0);
        logger->setSaveInterval(0);
        add(logger);
        log(600);
        settle(logger);
        EXPECT_TRUE(logger->record->events().empty());
        trigger(logger);
        EXPECT_TRUE(logger->record->waitForCount("save:600", 1));
        settle(logger);
        EXPECT_EQ(logger->record->events(), Events{"save:600"});
        DDLog::removeLogger(logger);
    }
}

TEST_F(DatabaseLogger, WithIntervalZeroEntriesWaitForTheThreshold) {
    const auto entry = std::make_shared<const DDLogMessage>(
        std::make_shared<const std::string>("entry"), LogLevelVerbose, LogFlagError, 0, __FILE__,
        __func__, __LINE__, DDLogTag(), 0);
    for (const bool droppedWhilePending : {false, true}) {
        SCOPED_TRACE(droppedWhilePending ? "dropped to 0 while the timer runs"
                                         : "0 from the start");
        auto logger = std::make_shared<CountingDatabaseLogger>();
        logger->setSaveInterval(droppedWhilePending ? 0.02 : 0);
        add(logger);
        // Saves by its timer well after the subject's timer would have.
        auto witness = std::make_shared<CountingDatabaseLogger>();
        witness->setSaveInterval(0.15);
        add(witness);
        settle(logger); // the settings above reach the queues before the direct calls below
        settle(witness);
        // One turn of the logger's queue: its timer cannot fire between the entry and the change.
        dispatch::sync(logger->loggerQueue(), [&] {
            logger->logMessage(entry);
            logger->setSaveInterval(0);
        });
        dispatch::sync(witness->loggerQueue(), [&] { witness->logMessage(entry); });
        EXPECT_TRUE(witness->record->waitForCount("save:1", 1));
        settle(logger);
        EXPECT_TRUE(logger->record->events().empty());
        logger->setSaveThreshold(2);
        log(1);
        settle(logger);
        EXPECT_EQ(logger->record->events(), Events{"save:2"});
        DDLog::removeLogger(logger);
        DDLog::removeLogger(witness);
    }
}

TEST_F(DatabaseLogger, LoweringMaxAgeDeletesAtOnceRaisingItDoesNot) {
    const std::pair<double, std::size_t> steps[] = {
        // maxAge, all deletes so far
        {3600, 1}, // lowered from a week
        {7200, 1}, // raised
        {-1, 1},   // off
        {60, 2},   // on again
        {30, 3},   // lowered
    };
    auto logger = add(std::make_shared<CountingDatabaseLogger>());
    for (const auto& [maxAge, deletes] : steps) {
        SCOPED_TRACE("maxAge " + std::to_string(maxAge));
        logger->setMaxAge(maxAge);
        settle(logger);
        EXPECT_EQ(logger->record->count("delete"), deletes);
    }
    logger->deleteOldLogEntries();
    settle(logger);
    EXPECT_EQ(logger->record->count("delete"), 4u);
    logger->setMaxAge(0);
    settle(logger); // a request goes straight to the logger's queue, ahead of a queued setting
    logger->deleteOldLogEntries(); // nothing is old when nothing expires
    settle(logger);
    EXPECT_EQ(logger->record->events(), Events(4, "delete"));
}

TEST_F(DatabaseLogger, FlushLogSavesWhatIsPendingInEveryRegisteredLoggerBeforeReturning) {
    auto plain = add(std::make_shared<CountingDatabaseLogger>());
    auto deleting = std::make_shared<CountingDatabaseLogger>();
    deleting->setDeleteOnEverySave(true);
    add(deleting);
    log(3);
    DDLog::flushLog();
    EXPECT_EQ(plain->record->events(), Events{"save:3"});
    EXPECT_EQ(deleting->record->events(), Events{"saveAndDelete:3"});
}

// A witness with the same delete timer shows that time passed; a logger that takes no entries
// runs alongside with a save timer and threshold of its own.
TEST_F(DatabaseLogger, DeletesRepeatWhileMaxAgeIsOnAndRemovalSavesStopsTheTimersAndLetsGo) {
    auto logger = std::make_shared<CountingDatabaseLogger>();
    auto witness = std::make_shared<CountingDatabaseLogger>();
    auto refusing = std::make_shared<CountingDatabaseLogger>(false);
    logger->setDeleteInterval(0.01);
    witness->setDeleteInterval(0.01);
    refusing->setSaveThreshold(1);
    refusing->setSaveInterval(0.01);
    for (const auto& l : {logger, witness, refusing}) {
        add(l);
    }
    const auto witnessed = [&](std::size_t more) {
        return witness->record->waitForCount("delete", witness->record->count("delete") + more);
    };
    log(2);
    ASSERT_TRUE(logger->record->waitForCount("delete", 3));
    logger->setMaxAge(0);
    settle(logger);
    std::size_t deletes = logger->record->count("delete");
    EXPECT_TRUE(witnessed(3));
    EXPECT_EQ(logger->record->count("delete"), deletes);
    logger->setMaxAge(10);
    EXPECT_TRUE(logger->record->waitForCount("delete", deletes + 3));

    DDLog::removeLogger(logger);
    settle(logger);
    EXPECT_EQ(logger->record->count("save:2"), 1u);
    deletes = logger->record->count("delete");
    EXPECT_TRUE(witnessed(3));
    EXPECT_EQ(logger->record->count("delete"), deletes);
    const std::weak_ptr<CountingDatabaseLogger> weak = logger;
    logger.reset(); // the core let go when the removal ran
    EXPECT_TRUE(weak.expired()) << "the timers keep the removed logger alive";

    DDLog::flushLog();
    refusing->savePendingLogEntries();
    DDLog::removeLogger(refusing);
    settle(refusing);
    EXPECT_TRUE(refusing->record->events().empty());
    EXPECT_EQ(refusing->record->logged.load(), 2);
}
