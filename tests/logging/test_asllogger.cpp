#include "logging/DDASLLogger.h"
#include "logging/DDLogLevel.h"

#include <gtest/gtest.h>

namespace {
struct RecordingSink : DDSystemLogSink {
    void log(int priority, const char* format, const char* text) override {
        entries.push_back(std::to_string(priority) + "|" + format + "|" + text);
    }
    std::vector<std::string> entries; // written only by the test's own thread
};
} // namespace

TEST(DDASLLogger, PriorityFollowsTheFlagAndTheTextTravelsAsTheArgumentOfPercentS) {
    auto sink = std::make_shared<RecordingSink>();
    DDASLLogger logger(sink);
    for (std::int32_t flag : {LogFlagError, LogFlagWarn, LogFlagInfo, LogFlagVerbose, 3, 0}) {
        logger.logMessage(std::make_shared<const DDLogMessage>(
            std::make_shared<const std::string>("100% %s %d %n"), 3, flag, 0, "f.cpp", "fn", 1,
            DDLogTag(), 0));
    }
    const std::string text = "|%s|100% %s %d %n";
    EXPECT_EQ(sink->entries, (std::vector<std::string>{"2" + text, "3" + text, "4" + text,
                                                       "5" + text, "5" + text, "5" + text}));
}
