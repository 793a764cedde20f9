#include "MCLogFormatter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono;

namespace {

// Local time is fixed by the test's own zone, set before any formatting in this process.
class LocalZone : public ::testing::Environment {
public:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
};
const auto* const zone = ::testing::AddGlobalTestEnvironment(new LocalZone);

system_clock::time_point at(long long epochMillis) {
    return system_clock::time_point(milliseconds(epochMillis));
}

DDLogMessage message(std::int32_t flag, const std::string& text, system_clock::time_point when) {
    DDLogOrigin origin;
    origin.timestamp = when;
    return DDLogMessage(std::make_shared<const std::string>(text), LogLevelVerbose, flag, 0,
                        "f.cpp", "fn", 1, {}, 0, origin);
}

// 2014-03-05 14:07:09 UTC
constexpr long long kMarch5 = 1394028429000LL;

} // namespace

TEST(MCLogFormatter, LineIsDateTagAndTextSeparatedByCommaBlank) {
    MCLogFormatter formatter;
    const auto line = formatter.formatLogMessage(message(LogFlagError, "T", at(kMarch5 + 123)));
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(*line, "2014/03/05 14:07:09:123, [ERRO], T");
}

TEST(MCLogFormatter, TagFollowsTheFlagAndAnythingElseIsVerbose) {
    MCLogFormatter formatter;
    const std::pair<std::int32_t, const char*> cases[] = {{LogFlagError, "[ERRO]"},
                                                          {LogFlagWarn, "[WARN]"},
                                                          {LogFlagInfo, "[INFO]"},
                                                          {LogFlagVerbose, "[VERB]"},
                                                          {0, "[VERB]"},
                                                          {3, "[VERB]"},
                                                          {16, "[VERB]"},
                                                          {-1, "[VERB]"}};
    for (const auto& [flag, tag] : cases) {
        const auto line = formatter.formatLogMessage(message(flag, "x", at(kMarch5)));
        EXPECT_EQ(*line, std::string("2014/03/05 14:07:09:000, ") + tag + ", x") << flag;
    }
}

TEST(MCLogFormatter, DateFieldsArePaddedTruncatedAndOnA24HourClock) {
    MCLogFormatter formatter;
    const std::pair<long long, const char*> cases[] = {
        {kMarch5 + 9, "2014/03/05 14:07:09:009"},
        {kMarch5 + 99, "2014/03/05 14:07:09:099"},
        {kMarch5 + 999, "2014/03/05 14:07:09:999"},
        {kMarch5 + (23 - 14) * 3600000LL, "2014/03/05 23:07:09:000"},
        {kMarch5 + (24 - 14) * 3600000LL, "2014/03/06 00:07:09:000"},
        {kMarch5 - 2 * 3600000LL, "2014/03/05 12:07:09:000"},
        {kMarch5 - 13 * 3600000LL - 7 * 60000LL - 9000LL, "2014/03/05 01:00:00:000"},
        {-500, "1969/12/31 23:59:59:500"},
        {0, "1970/01/01 00:00:00:000"},
    };
    for (const auto& [when, expected] : cases) {
        const auto line = formatter.formatLogMessage(message(LogFlagInfo, "m", at(when)));
        EXPECT_EQ(*line, std::string(expected) + ", [INFO], m") << when;
    }
    // Truncated, not rounded: 0.9996 s stays in its second.
    const auto almost = system_clock::time_point(seconds(1394028429) + microseconds(999600));
    EXPECT_EQ(*formatter.formatLogMessage(message(LogFlagInfo, "m", almost)),
              "2014/03/05 14:07:09:999, [INFO], m");
}

TEST(MCLogFormatter, EmptyTextEndsWithTheTagCommaAndBlank) {
    MCLogFormatter formatter;
    EXPECT_EQ(*formatter.formatLogMessage(message(LogFlagWarn, "", at(kMarch5))),
              "2014/03/05 14:07:09:000, [WARN], ");
}

TEST(MCLogFormatter, LocalTimeFollowsTheZone) {
    MCLogFormatter formatter;
    const DDDateFormatter plain("yyyy/MM/dd HH:mm:ss:SSS");
    // A fixed zone five and a half hours east, in POSIX form (no zone database needed).
    ::setenv("TZ", "IST-5:30", 1);
    ::tzset();
    std::string shifted;
    // A fresh thread has no cached fields from the UTC runs.
    std::thread([&] {
        shifted = *formatter.formatLogMessage(
            message(LogFlagError, "z", at(kMarch5 + 1000 * 3600 * 24 * 10)));
    }).join();
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ(shifted, "2014/03/15 19:37:09:000, [ERRO], z");
}

TEST(MCLogFormatter, DateFormatterCanBeReplacedBeforeUse) {
    MCLogFormatter formatter;
    EXPECT_EQ(formatter.dateFormat()->dateFormat(), "yyyy/MM/dd HH:mm:ss:SSS");
    formatter.setDateFormat(std::make_shared<const DDDateFormatter>("HH:mm"));
    EXPECT_EQ(*formatter.formatLogMessage(message(LogFlagError, "t", at(kMarch5))),
              "14:07, [ERRO], t");
}

TEST(DDDateFormatter, PatternFieldsAndQuotedLiterals) {
    const std::pair<const char*, const char*> cases[] = {
        {"yy-M-d h:mm a", "14-3-5 2:07 PM"},
        {"'at' HH'h' ''ss''", "at 14h '09'"},
        {"SSSSSS|S", "123000|1"},
        {"yyyy.MM.dd", "2014.03.05"},
        {"Q!", "Q!"},
    };
    for (const auto& [pattern, expected] : cases) {
        EXPECT_EQ(DDDateFormatter(pattern).stringFromDate(at(kMarch5 + 123)), expected) << pattern;
    }
}

TEST(MCLogFormatter, SharedByTwoThreadsEachGetsItsOwnTimestamps) {
    MCLogFormatter formatter;
    std::vector<std::string> failures[2];
    auto run = [&](int which) {
        for (int i = 0; i < 5000; ++i) {
            // Each thread uses its own second so a shared cache would show up as a wrong second.
            const long long when = kMarch5 + (which * 7 + (i % 3)) * 1000LL + i % 1000;
            const auto line = formatter.formatLogMessage(message(LogFlagError, "x", at(when)));
            char expected[64];
            std::snprintf(expected, sizeof expected, "2014/03/05 14:07:%02d:%03d, [ERRO], x",
                          static_cast<int>(9 + which * 7 + i % 3), i % 1000);
            if (*line != expected) {
                failures[which].push_back(*line);
            }
        }
    };
    std::thread a(run, 0);
    std::thread b(run, 1);
    a.join();
    b.join();
    EXPECT_TRUE(failures[0].empty()) << failures[0].front();
    EXPECT_TRUE(failures[1].empty()) << failures[1].front();
}
