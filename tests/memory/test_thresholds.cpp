// The low-memory notification and auto-clean rules against a clock the test moves, and the
// monitor that feeds them.
#include "memory/MCMemoryMonitor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>

namespace {

using namespace std::chrono_literals;
using Reason = MCLowMemoryReason;

const MCTime t0{std::chrono::hours(5)};

constexpr std::int64_t kTotal = 16000000000; // every share used here is a whole number of bytes

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
        {"fires once when available drops below 10 %", Config{},
         Steps{Step{0s, machine(50), {}}, Step{5s, machine(9), Low}, Step{10s, machine(8), {}},
               Step{15s, machine(5), {}}}},
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

    auto tick = monitor.tick(t0, false);
    EXPECT_TRUE(tick.details.has_value());
    EXPECT_FALSE(tick.cleanNow);
    EXPECT_EQ(tick.notifyLowMemory, std::nullopt);

    tick = monitor.tick(t0 + 5s, false); // 85 % used
    EXPECT_TRUE(tick.cleanNow);
    EXPECT_EQ(tick.notifyLowMemory, std::nullopt);

    tick = monitor.tick(t0 + 10s, true); // unreadable
    EXPECT_FALSE(tick.details.has_value());
    EXPECT_FALSE(monitor.latest().has_value());

    tick = monitor.tick(t0 + 15s, true); // 95 % used, clean still running
    EXPECT_EQ(tick.notifyLowMemory, Reason::LowAvailable);
    EXPECT_FALSE(tick.cleanNow);

    ASSERT_EQ(monitor.history().size(), 3u); // the missed sample leaves no point
    EXPECT_EQ(monitor.history().at(2), (MCHistoryPoint{t0 + 15s, 0.95, kSome}));
    EXPECT_EQ(monitor.latest(), machine(5, kSome));
}

TEST(MemoryMonitor, SettingsOutOfRangeAreClampedAndTheUsersCleanCounts) {
    MCSettings settings;
    settings.autoClean = {true, 10, 0}; // 50 % and 5 minutes at least
    auto reader = std::make_shared<ScriptedReader>(std::deque<std::optional<MCMemoryDetails>>{
        machine(55), machine(45), machine(45), machine(45)});
    MCMemoryMonitor monitor(reader);
    monitor.apply(settings);
    EXPECT_FALSE(monitor.tick(t0, false).cleanNow); // 45 % used: below the clamped 50 %
    monitor.cleanStarted(t0 + 1s);
    EXPECT_FALSE(monitor.tick(t0 + 60s, false).cleanNow);  // within 5 minutes of the user's clean
    EXPECT_FALSE(monitor.tick(t0 + 300s, false).cleanNow); // 299 s after it
    EXPECT_TRUE(monitor.tick(t0 + 301s, false).cleanNow);
}

} // namespace
