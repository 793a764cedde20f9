// The ten-minute history behind the sparkline, the low-memory notification and auto-clean rules
// against a clock the test moves, and the monitor that feeds them; the settings that drive them:
// read, clamped, written back into the one preferences file, and the usage-statistics switch
// read exactly as the analytics client reads it.
#include "support/TempDir.h"

#include "memory/MCMemoryHistory.h"
#include "memory/MCMemoryMonitor.h"
#include "memory/MCSettings.h"
#include "platform/core/analytics_opt_out.h"
#include "platform/core/preferences.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <sys/stat.h>

namespace {

using namespace std::chrono_literals;
using Reason = MCLowMemoryReason;

const MCTime t0{std::chrono::hours(5)};

constexpr std::int64_t kTotal = 16000000000; // every share used here is a whole number of bytes

MCHistoryPoint point(std::chrono::seconds at, double used) {
    return {t0 + at, used, MCPressure{}};
}

TEST(MemoryHistory, KeepsTheLast120PointsInOrder) {
    MCMemoryHistory history;
    EXPECT_TRUE(history.empty());
    for (int i = 0; i < 300; ++i) {
        history.add(point(i * 5s, i / 1000.0));
    }
    // The newest 120: samples 180..299, oldest first.
    const auto points = history.points();
    ASSERT_EQ(points.size(), 120u);
    for (int i = 0; i < 120; ++i) {
        EXPECT_EQ(points[static_cast<std::size_t>(i)], point((180 + i) * 5s, (180 + i) / 1000.0));
    }
}

TEST(MemoryHistory, DropsWhatIsOlderThanTenMinutes) {
    const struct {
        const char* name;
        std::vector<int> seconds; // times of the points added, in order
        std::vector<int> kept;
    } cases[] = {
        {"exactly ten minutes back is out", {0, 600}, {600}},
        {"just inside", {1, 600}, {1, 600}},
        {"a suspended machine wakes up", {0, 5, 10, 2000}, {2000}},
        {"a point from the past is ignored", {100, 50, 105}, {100, 105}},
        {"equal times are kept", {7, 7}, {7, 7}},
    };
    for (const auto& c : cases) {
        MCMemoryHistory history;
        for (int s : c.seconds) {
            history.add(point(std::chrono::seconds(s), 0.5));
        }
        std::vector<int> kept;
        for (const auto& p : history.points()) {
            kept.push_back(static_cast<int>((p.time - t0) / 1s));
        }
        EXPECT_EQ(kept, c.kept) << c.name;
    }
}

// A machine with `availablePercent` of its memory available and the given pressure.
MCMemoryDetails machine(double availablePercent,
                        std::optional<MCPressure> pressure = MCPressure{}) {
    return {kTotal, std::llround(static_cast<double>(kTotal) * availablePercent / 100), 0, 0,
            pressure};
}

const MCPressure kHigh{60, 15};
const MCPressure kSome{20, 2};

// A sample at `at` and what the rule says to it; no details: a sample that was missed.
struct Step {
    std::chrono::seconds at;
    std::optional<MCMemoryDetails> details;
    std::optional<Reason> expected;
};
using Steps = std::vector<Step>;
using Config = MCLowMemoryConfig;
constexpr auto Low = Reason::LowAvailable;
constexpr auto High = Reason::HighPressure;

TEST(LowMemoryRule, Scenarios) {
    const struct {
        const char* name;
        MCLowMemoryConfig config;
        Steps steps;
    } cases[] = {
        {"at most once per 10 minutes, again after them", Config{},
         Steps{Step{0s, machine(5), Low}, Step{595s, machine(5), {}}, Step{600s, machine(5), Low},
               Step{900s, machine(50), {}}, Step{1199s, machine(5), {}},
               Step{1200s, machine(5), Low}}},
        {"exactly the threshold is not below it", Config{true, 10},
         Steps{Step{0s, machine(10), {}}, Step{5s, machine(9.99), Low}}},
        {"a configured share", Config{true, 25},
         Steps{Step{0s, machine(30), {}}, Step{5s, machine(24), Low}}},
        {"switched off: never", Config{false, 10},
         Steps{Step{0s, machine(1), {}}, Step{5s, machine(1, kHigh), {}},
               Step{15s, machine(1, kHigh), {}}}},
        {"high pressure for 10 s without a break", Config{},
         Steps{Step{0s, machine(50, kHigh), {}}, Step{5s, machine(50, kHigh), {}},
               Step{10s, machine(50, kHigh), High}, Step{15s, machine(50, kHigh), {}}}},
        {"a sample below high starts the 10 s again", Config{},
         Steps{Step{0s, machine(50, kHigh), {}}, Step{5s, machine(50, kHigh), {}},
               Step{8s, machine(50, kSome), {}}, Step{10s, machine(50, kHigh), {}},
               Step{15s, machine(50, kHigh), {}}, Step{19s, machine(50, kHigh), {}},
               Step{20s, machine(50, kHigh), High}}},
        {"a missed sample breaks the high window", Config{},
         Steps{Step{0s, machine(50, kHigh), {}}, Step{5s, machine(50, kHigh), {}},
               Step{7s, std::nullopt, {}}, Step{10s, machine(50, kHigh), {}},
               Step{20s, machine(50, kHigh), High}}},
        {"a kernel without PSI never counts as high", Config{},
         Steps{Step{0s, machine(50, std::nullopt), {}}, Step{30s, machine(50, std::nullopt), {}}}},
        {"low memory wins when both hold", Config{},
         Steps{Step{0s, machine(5, kHigh), Low}, Step{10s, machine(5, kHigh), {}}}},
        {"no total: nothing to compare", Config{},
         Steps{Step{0s, MCMemoryDetails{0, 0, 0, 0, {}}, {}}}},
    };
    for (const auto& c : cases) {
        MCLowMemoryRule rule(c.config);
        for (const auto& step : c.steps) {
            if (!step.details) {
                rule.interrupt();
                continue;
            }
            EXPECT_EQ(rule.feed(t0 + step.at, *step.details), step.expected)
                << c.name << " at " << step.at.count() << " s";
        }
    }
}

struct CleanStep {
    std::chrono::seconds at;
    double usedPercent;
    bool cleanRunning;
    bool expected;
};
using CleanSteps = std::vector<CleanStep>;

TEST(AutoCleanRule, Scenarios) {
    const auto on = [](int percent, int minutes) {
        return MCAutoCleanConfig{true, percent, minutes};
    };
    const struct {
        const char* name;
        MCAutoCleanConfig config;
        CleanSteps steps;
    } cases[] = {
        {"off by default", {}, CleanSteps{{0s, 99, false, false}, {3600s, 99, false, false}}},
        {"above the share, once per interval", on(80, 10),
         CleanSteps{CleanStep{0s, 70, false, false}, CleanStep{5s, 81, false, true},
                    CleanStep{10s, 95, false, false}, CleanStep{604s, 95, false, false},
                    CleanStep{605s, 95, false, true}}},
        {"exactly the share is not above it", on(80, 10),
         CleanSteps{{0s, 80, false, false}, {5s, 80.5, false, true}}},
        {"never while a clean runs, and then at once", on(80, 10),
         CleanSteps{{0s, 90, true, false}, {5s, 90, true, false}, {10s, 90, false, true}}},
        {"a clean that runs does not use up the interval", on(50, 5),
         CleanSteps{{0s, 60, false, true}, {300s, 60, true, false}, {305s, 60, false, true}}},
    };
    for (const auto& c : cases) {
        MCAutoCleanRule rule(c.config);
        for (const auto& s : c.steps) {
            EXPECT_EQ(rule.feed(t0 + s.at, machine(100 - s.usedPercent), s.cleanRunning),
                      s.expected)
                << c.name << " at " << s.at.count() << " s";
        }
    }
}

// Scripted samples; none stands for a sample that could not be taken.
class ScriptedReader : public MCMemoryDetailsReader {
public:
    explicit ScriptedReader(std::deque<std::optional<MCMemoryDetails>> samples)
        : MCMemoryDetailsReader(make_host_port("/nonexistent")), samples_(std::move(samples)) {}
    std::optional<MCMemoryDetails> currentDetails() const override {
        if (samples_.empty()) {
            return std::nullopt;
        }
        auto next = samples_.front();
        samples_.pop_front();
        return next;
    }

private:
    mutable std::deque<std::optional<MCMemoryDetails>> samples_;
};

TEST(MemoryMonitor, FeedsHistoryAndRulesFromOneSample) {
    MCSettings settings;
    settings.autoClean = {true, 80, 5};
    settings.lowMemory = {true, 10};
    auto reader = std::make_shared<ScriptedReader>(std::deque<std::optional<MCMemoryDetails>>{
        machine(50), machine(15), std::nullopt, machine(5, kSome), machine(5)});
    MCMemoryMonitor monitor(reader);
    monitor.apply(settings);

    EXPECT_FALSE(monitor.tick(t0, false).cleanNow);
    auto tick = monitor.tick(t0 + 5s, false); // 85 % used
    EXPECT_TRUE(tick.cleanNow);
    EXPECT_EQ(tick.notifyLowMemory, std::nullopt);

    tick = monitor.tick(t0 + 10s, true); // unreadable
    EXPECT_FALSE(tick.details.has_value());
    EXPECT_FALSE(monitor.latest().has_value());

    tick = monitor.tick(t0 + 15s, true); // 95 % used, clean still running
    EXPECT_EQ(tick.notifyLowMemory, Reason::LowAvailable);
    EXPECT_FALSE(tick.cleanNow);

    const auto points = monitor.history().points();
    ASSERT_EQ(points.size(), 3u); // the missed sample leaves no point
    EXPECT_EQ(points.back(), (MCHistoryPoint{t0 + 15s, 0.95, kSome}));
    EXPECT_EQ(monitor.latest(), machine(5, kSome));
}

using Style = MCTrayIconStyle;

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

// Values out of range are clamped; values not understood, like a missing file, give defaults.
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
         {Style::LevelBar, {true, 10}, {false, 90, 30}, true}}, // the defaults
        {"LowMemoryAvailablePercent=+15\nTrayIconStyle=plain\nLowMemoryNotification=off\n"
         "AutoClean=YES\n",
         {Style::Plain, {false, 15}, {true, 90, 30}, true}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        platform::UserDefaults defaults(dir.write("preferences", c.text));
        EXPECT_EQ(MCSettings::read(defaults), c.expected) << c.text;
    }
    TempDir dir;
    platform::UserDefaults defaults(dir.path() / "preferences");
    EXPECT_EQ(MCSettings::read(defaults), cases[2].expected);
    const MCSettings wild{Style::Plain, {false, -3}, {true, 1000, 1 << 30}, false};
    EXPECT_EQ(wild.clamped(), (MCSettings{Style::Plain, {false, 1}, {true, 99, 1440}, false}));
    // What is written is clamped too.
    ASSERT_EQ(wild.write(defaults), std::nullopt);
    EXPECT_EQ(defaults.stringForKey("AutoCleanIntervalMinutes"), "1440");
}

// The switch shows what the analytics client will do, for every way a file can say it.
TEST(Settings, UsageStatisticsFollowTheOptOutAsTheAnalyticsClientReadsIt) {
    const struct {
        std::string text;
        bool statistics;
    } cases[] = {
        {"", true},
        {"AnalyticsOptOut=1\n", false},
        {"analyticsoptout = yes\n", false},
        {"AnalyticsOptOut=0\n", true},
        {"AnalyticsOptOut=\n", true},
        {"AnalyticsOptOut=0\nbad\\qline=1\n", true}, // a damaged line elsewhere is no opt-out
        {"bad\\qAnalyticsOptOut=1\n", false},        // a line that could not be read mentions it
        // A file that cannot be read may hold an opt-out: it counts as one.
        {"AnalyticsOptOut=0\n" + std::string(platform::UserDefaults::kMaxFileBytes, 'x'), false},
    };
    for (const auto& c : cases) {
        TempDir dir;
        platform::UserDefaults defaults(dir.write("preferences", c.text));
        EXPECT_EQ(MCSettings::read(defaults).usageStatistics, c.statistics) << c.text.substr(0, 40);
        EXPECT_EQ(platform::analyticsOptOutReason(defaults).has_value(), !c.statistics)
            << c.text.substr(0, 40);
    }
}

// Turning statistics on removes every spelling of the opt-out; one in a line that cannot be read
// cannot be removed, so statistics stay off, the user is told, and the line is kept.
TEST(Settings, TurningStatisticsOnAndProblemsThatAreTold) {
    for (const std::string text :
         {"analyticsOPTout=yes\nAnalyticsOptOut=1\n", "bad\\qAnalyticsOptOut=1\n"}) {
        const bool damaged = text.starts_with("bad");
        TempDir dir;
        const auto file = dir.write("preferences", text);
        platform::UserDefaults defaults(file);
        MCSettings settings = MCSettings::read(defaults);
        ASSERT_FALSE(settings.usageStatistics);
        settings.usageStatistics = true;
        const auto problem = settings.write(defaults);
        ASSERT_EQ(problem.has_value(), damaged);
        EXPECT_TRUE(!damaged || problem->find("usage statistics stay off") != std::string::npos);
        platform::UserDefaults reread(file);
        EXPECT_EQ(MCSettings::read(reread).usageStatistics, !damaged) << readFile(file);
        EXPECT_EQ(reread.stringForKey("analyticsOPTout"), std::nullopt);
        EXPECT_EQ(readFile(file).find("bad\\qAnalyticsOptOut=1") != std::string::npos, damaged);
    }
    // A folder that cannot be made: a file took its name after the preferences were read.
    TempDir dir;
    platform::UserDefaults defaults(dir.path() / "blocker" / "preferences");
    dir.write("blocker", "a file where the folder should be");
    const auto problem = MCSettings{}.write(defaults);
    ASSERT_TRUE(problem.has_value());
    EXPECT_NE(problem->find("cannot save"), std::string::npos) << *problem;
}

} // namespace
