#include "DDASLLogger.h"
#include "MCLogFormatter.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace {

class RecordingSink : public DDSystemLogSink {
public:
    struct Entry {
        int priority;
        std::string format;
        std::string text;
    };
    void log(int priority, const char* format, const char* text) override {
        std::lock_guard lock(mutex);
        entries.push_back({priority, format, text});
    }
    std::mutex mutex;
    std::vector<Entry> entries;
};

class NullFormatter : public DDLogFormatter {
public:
    DDText formatLogMessage(const DDLogMessage& m) override {
        return *m.logMsg() == "drop" ? nullptr
                                     : std::make_shared<const std::string>("<" + *m.logMsg() + ">");
    }
};

DDLogMessagePtr message(std::int32_t flag, const std::string& text) {
    return std::make_shared<const DDLogMessage>(std::make_shared<const std::string>(text), 3, flag,
                                                0, "f.cpp", "fn", 1, DDLogTag(), 0);
}

} // namespace

TEST(DDASLLogger, PriorityFollowsTheFlag) {
    const std::pair<std::int32_t, int> cases[] = {
        {LogFlagError, 2}, {LogFlagWarn, 3}, {LogFlagInfo, 4}, {LogFlagVerbose, 5}, {3, 5}, {0, 5},
        {16, 5},           {-1, 5}};
    auto sink = std::make_shared<RecordingSink>();
    DDASLLogger logger(sink);
    for (const auto& [flag, priority] : cases) {
        EXPECT_EQ(DDASLLogger::priorityForFlag(flag), priority) << flag;
        logger.logMessage(message(flag, "m"));
    }
    ASSERT_EQ(sink->entries.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(sink->entries[i].priority, cases[i].second) << cases[i].first;
    }
}

TEST(DDASLLogger, TextAlwaysTravelsAsTheArgumentOfPercentS) {
    auto sink = std::make_shared<RecordingSink>();
    DDASLLogger logger(sink);
    logger.logMessage(message(LogFlagError, "100% %s %d %n"));
    ASSERT_EQ(sink->entries.size(), 1u);
    EXPECT_EQ(sink->entries[0].format, "%s");
    EXPECT_EQ(sink->entries[0].text, "100% %s %d %n");
}

TEST(DDASLLogger, FormatterDecidesTheTextAndNullWritesNothing) {
    auto sink = std::make_shared<RecordingSink>();
    auto logger = std::make_shared<DDASLLogger>(sink);
    logger->setLogFormatter(std::make_shared<NullFormatter>());
    EXPECT_NE(logger->logFormatter(), nullptr); // waits until the formatter is in place
    logger->logMessage(message(LogFlagWarn, "keep"));
    logger->logMessage(message(LogFlagWarn, "drop"));
    ASSERT_EQ(sink->entries.size(), 1u);
    EXPECT_EQ(sink->entries[0].text, "<keep>");

    auto bare = DDASLLogger(sink);
    bare.logMessage(message(LogFlagInfo, "bare text"));
    EXPECT_EQ(sink->entries.back().text, "bare text"); // no date, no tag
}

TEST(DDASLLogger, SharedInstanceIsNamedForItsQueue) {
    auto shared = DDASLLogger::sharedInstance();
    EXPECT_EQ(shared, DDASLLogger::sharedInstance());
    EXPECT_STREQ(dispatch::queue_get_label(shared->loggerQueue()), "cocoa.lumberjack.aslLogger");
    EXPECT_FALSE(shared->implements(DDLoggerOperation::flush));
    EXPECT_FALSE(shared->implements(DDLoggerOperation::didAddLogger));
    EXPECT_FALSE(shared->implements(DDLoggerOperation::willRemoveLogger));
}
