#include "logging/DDLogLevel.h"
#include "logging/MCLogFormatter.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>

using namespace std::chrono;

namespace {

// 2014-03-05 14:07:09 UTC (the test runs with TZ=UTC)
constexpr auto kMarch5 = milliseconds(1394028429000LL);
constexpr auto kHour = hours(1);

std::string line(MCLogFormatter& formatter, std::int32_t flag, system_clock::duration since1970) {
    DDLogOrigin origin;
    origin.timestamp = system_clock::time_point(since1970);
    const DDLogMessage m(std::make_shared<const std::string>("m"), LogLevelVerbose, flag, 0,
                         "f.cpp", "fn", 1, {}, 0, origin);
    return *formatter.formatLogMessage(m);
}

} // namespace

TEST(MCLogFormatter, DateTagAndTextWithPaddedTruncatedMillisecondsOnA24HourClock) {
    MCLogFormatter formatter;
    const std::tuple<std::int32_t, system_clock::duration, const char*> cases[] = {
        {LogFlagError, kMarch5 + 123ms, "2014/03/05 14:07:09:123, [ERRO], m"},
        {LogFlagWarn, kMarch5 + 9ms, "2014/03/05 14:07:09:009, [WARN], m"},
        {LogFlagInfo, kMarch5 + 99ms + 10 * kHour, "2014/03/06 00:07:09:099, [INFO], m"},
        {LogFlagVerbose, kMarch5 + 999600us + 9 * kHour, "2014/03/05 23:07:09:999, [VERB], m"},
        {0, kMarch5 - 13 * kHour, "2014/03/05 01:07:09:000, [VERB], m"},
        {3, -500ms, "1969/12/31 23:59:59:500, [VERB], m"},
    };
    for (const auto& [flag, when, expected] : cases) {
        EXPECT_EQ(line(formatter, flag, when), expected);
    }
    ::setenv("TZ", "IST-5:30", 1); // local time: five and a half hours east, in POSIX form
    ::tzset();
    std::string shifted;
    // A fresh thread has no cached fields from the UTC runs.
    std::thread([&] { shifted = line(formatter, LogFlagError, kMarch5); }).join();
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ(shifted, "2014/03/05 19:37:09:000, [ERRO], m");
}

TEST(MCLogFormatter, SharedByTwoThreadsEachGetsItsOwnTimestamps) {
    MCLogFormatter formatter;
    std::atomic<int> failures{0};
    auto run = [&](int second) { // each thread its own second: a shared cache shows a wrong one
        for (int i = 0; i < 5000; ++i) {
            char expected[48];
            std::snprintf(expected, sizeof expected, "2014/03/05 14:07:%02d:%03d, [ERRO], m",
                          second, i % 1000);
            const auto when = kMarch5 + seconds(second - 9) + milliseconds(i % 1000);
            failures += line(formatter, LogFlagError, when) != expected;
        }
    };
    { std::jthread a(run, 10), b(run, 20); }
    EXPECT_EQ(failures.load(), 0);
}

TEST(MCLogFormatter, AMessageBuiltWhereAnEarlierOneWasWithTheSameTextGetsItsOwnLine) {
    MCLogFormatter formatter;
    const auto text = std::make_shared<const std::string>("same");
    std::optional<DDLogMessage> slot; // the same address each time
    const std::tuple<std::int32_t, system_clock::duration, const char*> cases[] = {
        {LogFlagError, kMarch5, "2014/03/05 14:07:09:000, [ERRO], same"},
        {LogFlagError, kMarch5 + 1ms, "2014/03/05 14:07:09:001, [ERRO], same"},
        {LogFlagWarn, kMarch5 + 1ms, "2014/03/05 14:07:09:001, [WARN], same"},
    };
    for (const auto& [flag, when, expected] : cases) {
        DDLogOrigin origin;
        origin.timestamp = system_clock::time_point(when);
        slot.emplace(text, LogLevelVerbose, flag, 0, "f.cpp", "fn", 1, DDLogTag(), 0, origin);
        EXPECT_EQ(*formatter.formatLogMessage(*slot), expected);
        // Asked again for the same message: the same line.
        EXPECT_EQ(*formatter.formatLogMessage(*slot), expected);
    }
}
