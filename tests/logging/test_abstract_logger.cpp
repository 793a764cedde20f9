#include "logging/DDAbstractLogger.h"
#include "logging/DDLog.h"

#include <gtest/gtest.h>

#include <mutex>

namespace {

using Texts = std::vector<std::string>;

// Records what its formatter makes of each message and which queue checks hold there.
class ProbeLogger : public DDAbstractLogger {
public:
    void logMessage(const DDLogMessagePtr& message) override {
        const DDText text = formatter ? formatter->formatLogMessage(*message) : message->logMsg();
        std::lock_guard lock(mutex);
        written.push_back(*text + where());
    }
    std::string where() const {
        return std::string(isOnInternalLoggerQueue() ? "@own" : "") +
               (isOnGlobalLoggingQueue() ? "@global" : "");
    }
    // A subclass setting under the base's rule: called on the own queue it must run at once.
    bool changeSettingOnOwnQueueRunsAtOnce() {
        bool changed = false, atOnce = false;
        dispatch::sync(loggerQueue(), [&] {
            changeSetting([&] { changed = isOnInternalLoggerQueue(); });
            atOnce = changed;
        });
        return atOnce;
    }
    std::mutex mutex;
    Texts written;
};

// Prefixes the text; when it announces itself, records being added to and removed from loggers.
struct PrefixFormatter : DDLogFormatter {
    explicit PrefixFormatter(std::string p, bool a = false) : prefix(std::move(p)), announces(a) {}
    DDText formatLogMessage(const DDLogMessage& m) override {
        return std::make_shared<const std::string>(prefix + *m.logMsg());
    }
    bool implements(DDFormatterOperation) const override { return announces; }
    void didAddToLogger(DDLogger&) override { calls.push_back(prefix + "added"); }
    void willRemoveFromLogger(DDLogger&) override { calls.push_back(prefix + "removed"); }
    std::string prefix;
    bool announces;
    Texts calls; // touched only on the logger's queue
};

} // namespace

TEST(AbstractLogger, RunsOnItsOwnQueueAndANewFormatterAppliesToTheNextMessage) {
    auto probe = std::make_shared<ProbeLogger>();
    DDLog::addLogger(probe);
    for (const char* text : {"plain", "a", "b"}) {
        DDLog::log(true, LogLevelVerbose, LogFlagError, 0, __FILE__, __func__, __LINE__, {}, text);
        probe->setLogFormatter(*text == 'p' ? std::make_shared<PrefixFormatter>("1:") : nullptr);
    }
    DDLog::removeAllLoggers();
    DDLog::flushLog();
    std::string onGlobal, onOther; // another logger's queue is not this logger's
    dispatch::sync(DDLog::loggingQueue(), [&] { onGlobal = probe->where(); });
    dispatch::sync(std::make_shared<ProbeLogger>()->loggerQueue(),
                   [&] { onOther = probe->where(); });
    EXPECT_EQ(onGlobal + "|" + onOther + "|" + probe->where(), "@global||");
    std::lock_guard lock(probe->mutex);
    EXPECT_EQ(probe->written, (Texts{"plain@own", "1:a@own", "b@own"}));
}

TEST(AbstractLogger, FormattersHearOfAddAndRemoveOnlyWhenTheyImplementItAndSettingsRunAtOnce) {
    auto probe = std::make_shared<ProbeLogger>();
    auto announcing = std::make_shared<PrefixFormatter>("A", true);
    auto silent = std::make_shared<PrefixFormatter>("S");
    for (const auto& f : {announcing, announcing, silent, announcing}) { // the same again: no calls
        probe->setLogFormatter(f);
    }
    probe->setLogFormatter(nullptr);
    EXPECT_EQ(probe->logFormatter(), nullptr); // waits for the changes above
    EXPECT_EQ(announcing->calls, (Texts{"Aadded", "Aremoved", "Aadded", "Aremoved"}));
    EXPECT_TRUE(silent->calls.empty());
    EXPECT_TRUE(probe->changeSettingOnOwnQueueRunsAtOnce());
}
