#include "DDAbstractLogger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

// Outside any namespace so its class name is plain.
class PlainLogger : public DDAbstractLogger {};

namespace {

// Records where it runs and what its formatter makes of each message.
class ProbeLogger : public DDAbstractLogger {
public:
    void logMessage(const DDLogMessagePtr& message) override {
        std::lock_guard lock(mutex);
        onOwnQueue.push_back(isOnInternalLoggerQueue());
        onGlobalQueue.push_back(isOnGlobalLoggingQueue());
        const DDText text = formatter ? formatter->formatLogMessage(*message) : message->logMsg();
        written.push_back(text ? *text : "(nothing)");
    }
    // A subclass setting under the base's rule.
    int threshold() {
        int value = 0;
        readSetting([&] { value = threshold_; });
        return value;
    }
    void setThreshold(int value) {
        changeSetting([this, value] {
            threshold_ = value;
            changedOnOwnQueue = isOnInternalLoggerQueue();
        });
    }
    void setThresholdFromOwnQueue(int value, std::atomic<bool>& ranAtOnce) {
        dispatch::sync(loggerQueue(), [&] {
            setThreshold(value);
            ranAtOnce = threshold_ == value; // the change must already have run
        });
    }

    std::mutex mutex;
    std::vector<bool> onOwnQueue, onGlobalQueue;
    std::vector<std::string> written;
    bool changedOnOwnQueue = false;

private:
    int threshold_ = 0;
};

class PrefixFormatter : public DDLogFormatter {
public:
    PrefixFormatter(std::string prefix, bool announces)
        : prefix_(std::move(prefix)), announces_(announces) {}
    DDText formatLogMessage(const DDLogMessage& m) override {
        return std::make_shared<const std::string>(prefix_ + *m.logMsg());
    }
    bool implements(DDFormatterOperation) const override { return announces_; }
    void didAddToLogger(DDLogger&) override { calls.push_back(prefix_ + "added"); }
    void willRemoveFromLogger(DDLogger&) override { calls.push_back(prefix_ + "removed"); }

    std::vector<std::string> calls; // touched only on the logger's queue

private:
    std::string prefix_;
    bool announces_;
};

void logText(const std::string& text) {
    DDLog::log(true, LogLevelVerbose, LogFlagError, 0, __FILE__, __func__, __LINE__, {}, "%@",
               text);
}

class AbstractLoggerTest : public ::testing::Test {
protected:
    void TearDown() override {
        DDLog::removeAllLoggers();
        DDLog::flushLog();
    }
};

} // namespace

TEST_F(AbstractLoggerTest, QueueIsLabelledWithTheClassNameUnlessTheSubclassNamesItself) {
    auto plain = std::make_shared<PlainLogger>();
    auto base = std::make_shared<DDAbstractLogger>();
    EXPECT_EQ(plain->loggerName(), "PlainLogger");
    EXPECT_STREQ(dispatch::queue_get_label(plain->loggerQueue()), "PlainLogger");
    EXPECT_STREQ(dispatch::queue_get_label(base->loggerQueue()), "DDAbstractLogger");
    EXPECT_EQ(plain->loggerQueue(), plain->loggerQueue()); // one queue for the logger's life
    EXPECT_TRUE(plain->implements(DDLoggerOperation::loggerQueue));
    EXPECT_FALSE(plain->implements(DDLoggerOperation::flush));
    EXPECT_FALSE(plain->implements(DDLoggerOperation::didAddLogger));
    EXPECT_EQ(plain->logFormatter(), nullptr);
}

TEST_F(AbstractLoggerTest, QueueChecksTellTheLoggersQueueFromTheGlobalOne) {
    auto probe = std::make_shared<ProbeLogger>();
    DDLog::addLogger(probe);
    logText("a");
    DDLog::flushLog();
    bool globalInGlobal = false, ownInGlobal = true;
    dispatch::sync(DDLog::loggingQueue(), [&] {
        globalInGlobal = probe->isOnGlobalLoggingQueue();
        ownInGlobal = probe->isOnInternalLoggerQueue();
    });
    EXPECT_TRUE(globalInGlobal);
    EXPECT_FALSE(ownInGlobal);
    EXPECT_FALSE(probe->isOnGlobalLoggingQueue());
    EXPECT_FALSE(probe->isOnInternalLoggerQueue());
    // Another logger's queue is not this logger's.
    auto other = std::make_shared<ProbeLogger>();
    bool onOther = true;
    dispatch::sync(other->loggerQueue(), [&] { onOther = probe->isOnInternalLoggerQueue(); });
    EXPECT_FALSE(onOther);
    std::lock_guard lock(probe->mutex);
    EXPECT_EQ(probe->onOwnQueue, std::vector<bool>{true});
    EXPECT_EQ(probe->onGlobalQueue, std::vector<bool>{false});
}

TEST_F(AbstractLoggerTest, NewFormatterAppliesToTheNextMessageFromTheSameThread) {
    auto probe = std::make_shared<ProbeLogger>();
    DDLog::addLogger(probe);
    auto first = std::make_shared<PrefixFormatter>("1:", false);
    auto second = std::make_shared<PrefixFormatter>("2:", false);
    logText("plain");
    probe->setLogFormatter(first);
    logText("a");
    probe->setLogFormatter(second);
    EXPECT_EQ(probe->logFormatter(), second);
    logText("b");
    probe->setLogFormatter(nullptr);
    logText("c");
    DDLog::flushLog();
    std::lock_guard lock(probe->mutex);
    EXPECT_EQ(probe->written, (std::vector<std::string>{"plain", "1:a", "2:b", "c"}));
}

TEST_F(AbstractLoggerTest, FormattersHearOfAddAndRemoveOnlyWhenTheyImplementIt) {
    auto probe = std::make_shared<ProbeLogger>();
    auto announcing = std::make_shared<PrefixFormatter>("A", true);
    auto silent = std::make_shared<PrefixFormatter>("S", false);
    probe->setLogFormatter(announcing);
    probe->setLogFormatter(announcing); // the same one again: nobody is told
    probe->setLogFormatter(silent);
    probe->setLogFormatter(announcing);
    probe->setLogFormatter(nullptr);
    EXPECT_EQ(probe->logFormatter(), nullptr); // waits for the changes above
    EXPECT_EQ(announcing->calls,
              (std::vector<std::string>{"Aadded", "Aremoved", "Aadded", "Aremoved"}));
    EXPECT_TRUE(silent->calls.empty());
}

TEST_F(AbstractLoggerTest, SettingsChangeAtOnceOnTheOwnQueueAndThroughBothQueuesOtherwise) {
    auto probe = std::make_shared<ProbeLogger>();
    probe->setThreshold(5);
    EXPECT_EQ(probe->threshold(), 5);
    EXPECT_TRUE(probe->changedOnOwnQueue);
    std::atomic<bool> ranAtOnce{false};
    probe->setThresholdFromOwnQueue(9, ranAtOnce);
    EXPECT_TRUE(ranAtOnce);
    EXPECT_EQ(probe->threshold(), 9);
}

TEST(AbstractLoggerDeathTest, ReadingASettingOnTheLoggersOwnQueueFailsLoudly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto probe = std::make_shared<ProbeLogger>();
            dispatch::sync(probe->loggerQueue(), [&] { probe->logFormatter(); });
        },
        "synchronous call");
}
