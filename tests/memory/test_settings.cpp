// The preferences beside the panel: read, clamped, written back into the one preferences file,
// and the usage-statistics switch read exactly as the analytics client reads it.
#include "support/TempDir.h"

#include "memory/MCSettings.h"
#include "platform/core/analytics_opt_out.h"
#include "platform/core/preferences.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using Style = MCTrayIconStyle;

TEST(Settings, DefaultsWithoutAFile) {
    TempDir dir;
    platform::UserDefaults defaults(dir.path() / "preferences");
    EXPECT_EQ(MCSettings::read(defaults),
              (MCSettings{Style::LevelBar, {true, 10}, {false, 90, 30}, true}));
}

TEST(Settings, RoundTripThroughTheFileKeepsEverythingElse) {
    TempDir dir;
    const auto file = dir.write("preferences", "# mine\nUserUUID=KEEP-ME\nweird line\n");
    const MCSettings settings{Style::Plain, {false, 20}, {true, 75, 45}, false};
    platform::UserDefaults defaults(file);
    EXPECT_EQ(settings.write(defaults), std::nullopt); // saved at once
    platform::UserDefaults again(file);
    EXPECT_EQ(MCSettings::read(again), settings);
    EXPECT_EQ(again.stringForKey("UserUUID"), "KEEP-ME");
    const std::string text = readFile(file);
    for (const char* line : {"# mine", "weird line", "AnalyticsOptOut=1", "TrayIconStyle=plain"}) {
        EXPECT_NE(text.find(line), std::string::npos) << text;
    }
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(Settings, ValuesOutOfRangeOrNotUnderstood) {
    const struct {
        const char* text;
        MCSettings expected;
    } cases[] = {
        {"LowMemoryAvailablePercent=0\nAutoCleanUsedPercent=100\nAutoCleanIntervalMinutes=1\n",
         {Style::LevelBar, {true, 1}, {false, 99, 5}, true}},
        {"LowMemoryAvailablePercent=99999999999999999999\nAutoCleanUsedPercent=-4\n"
         "AutoCleanIntervalMinutes=100000\n",
         {Style::LevelBar, {true, 50}, {false, 50, 1440}, true}},
        {"LowMemoryAvailablePercent=ten\nAutoCleanUsedPercent=85%\nAutoCleanIntervalMinutes=\n"
         "TrayIconStyle=sparkles\nLowMemoryNotification=maybe\nAutoClean=please\n",
         MCSettings{}},
        {"LowMemoryAvailablePercent=+15\nTrayIconStyle=plain\nLowMemoryNotification=off\n"
         "AutoClean=YES\n",
         {Style::Plain, {false, 15}, {true, 90, 30}, true}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        platform::UserDefaults defaults(dir.write("preferences", c.text));
        EXPECT_EQ(MCSettings::read(defaults), c.expected) << c.text;
    }
    const MCSettings wild{Style::Plain, {false, -3}, {true, 1000, 1 << 30}, false};
    EXPECT_EQ(wild.clamped(), (MCSettings{Style::Plain, {false, 1}, {true, 99, 1440}, false}));
    // What is written is clamped too.
    TempDir dir;
    platform::UserDefaults defaults(dir.path() / "preferences");
    ASSERT_EQ(wild.write(defaults), std::nullopt);
    EXPECT_EQ(defaults.stringForKey("AutoCleanIntervalMinutes"), "1440");
}

// The switch shows what the analytics client will do, for every way a file can say it.
TEST(Settings, UsageStatisticsFollowTheOptOutAsTheAnalyticsClientReadsIt) {
    const struct {
        const char* text;
        bool statistics;
    } cases[] = {
        {"", true},
        {"AnalyticsOptOut=1\n", false},
        {"analyticsoptout = yes\n", false},
        {"ANALYTICSOPTOUT=anything\n", false},
        {"AnalyticsOptOut=0\n", true},
        {"AnalyticsOptOut=off\n", true},
        {"AnalyticsOptOut=\n", true},
        {"bad\\qAnalyticsOptOut=1\n", false}, // a line that could not be read mentions it
    };
    for (const auto& c : cases) {
        TempDir dir;
        platform::UserDefaults defaults(dir.write("preferences", c.text));
        EXPECT_EQ(MCSettings::read(defaults).usageStatistics, c.statistics) << c.text;
        EXPECT_EQ(platform::analyticsOptOutReason(defaults).has_value(), !c.statistics) << c.text;
    }
}

TEST(Settings, TurningStatisticsOnRemovesEveryOptOutSpelling) {
    TempDir dir;
    const auto file = dir.write("preferences", "analyticsOPTout=yes\nAnalyticsOptOut=1\n");
    platform::UserDefaults defaults(file);
    MCSettings settings = MCSettings::read(defaults);
    ASSERT_FALSE(settings.usageStatistics);
    settings.usageStatistics = true;
    EXPECT_EQ(settings.write(defaults), std::nullopt);
    platform::UserDefaults reread(file);
    EXPECT_TRUE(MCSettings::read(reread).usageStatistics) << readFile(file);
    EXPECT_EQ(reread.stringForKey("analyticsOPTout"), std::nullopt);
}

TEST(Settings, ProblemsAreToldAndNothingIsLost) {
    {
        // A line that cannot be read still opts out: the switch cannot turn statistics on.
        TempDir dir;
        const auto file = dir.write("preferences", "bad\\qAnalyticsOptOut=1\n");
        platform::UserDefaults defaults(file);
        MCSettings settings;
        settings.usageStatistics = true;
        const auto problem = settings.write(defaults);
        ASSERT_TRUE(problem.has_value());
        EXPECT_NE(problem->find("usage statistics stay off"), std::string::npos) << *problem;
        platform::UserDefaults reread(file);
        EXPECT_FALSE(MCSettings::read(reread).usageStatistics);
        EXPECT_NE(readFile(file).find("bad\\qAnalyticsOptOut=1"), std::string::npos);
    }
    {
        // A file that could not be read whole is never replaced.
        TempDir dir;
        const std::string utf16("\xff\xfe"
                                "A\0=\0"
                                "1\0",
                                8);
        const auto file = dir.write("preferences", utf16);
        platform::UserDefaults defaults(file);
        const auto problem = MCSettings{}.write(defaults);
        ASSERT_TRUE(problem.has_value());
        EXPECT_NE(problem->find("could not be read"), std::string::npos) << *problem;
        EXPECT_EQ(readFile(file), utf16);
    }
    {
        // A folder that cannot be made: a file took its name after the preferences were read.
        TempDir dir;
        platform::UserDefaults defaults(dir.path() / "blocker" / "preferences");
        dir.write("blocker", "a file where the folder should be");
        const auto problem = MCSettings{}.write(defaults);
        ASSERT_TRUE(problem.has_value());
        EXPECT_NE(problem->find("cannot save"), std::string::npos) << *problem;
    }
}

} // namespace
