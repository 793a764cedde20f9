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

struct Step {
    std::chrono::seconds at;
    MCMemoryDetails details;
    std::optional<Reason> expected;
};

void run(MCLowMemoryRule& rule, const std::vector<Step>& steps, const char* name) {
    for (const auto& step : steps) {
        EXPECT_EQ(rule.feed(t0 + step.at, step.details), step.expected)
            << name << " at " << step.at.count() << " s";
    }
}

TEST(LowMemoryRule, Scenarios) {
    const struct {
        const char* name;
        MCLowMemoryConfig config;
        std::vector<Step> steps;
    } cases[] = {
        {"fires once when available drops below 10 %",
         {},
         {{0s, machine(50), {}},
          {5s, machine(9), Reason::LowAvailable},
          {10s, machine(8), {}},
          {15s, machine(5), {}}}},
        {"at most once per 10 minutes, again after them",
         {},
         {{0s, machine(5), Reason::LowAvailable},
          {595s, machine(5), {}},
          {600s, machine(5), Reason::LowAvailable},
          {900s, machine(50), {}},
          {1199s, machine(5), {}},
          {1200s, machine(5), Reason::LowAvailable}}},
        {"exactly the threshold is not below it",
         {true, 10},
         {{0s, machine(10), {}}, {5s, machine(9.99), Reason::LowAvailable}}},
        {"a configured share",
         {true, 25},
         {{0s, machine(30), {}}, {5s, machine(24), Reason::LowAvailable}}},
        {"switched off: never",
         {false, 10},
         {{0s, machine(1), {}}, {5s, machine(1, kHigh), {}}, {15s, machine(1, kHigh), {}}}},
        {"high pressure for 10 s without a break",
         {},
         {{0s, machine(50, kHigh), {}},
          {5s, machine(50, kHigh), {}},
          {10s, machine(50, kHigh), Reason::HighPressure},
          {15s, machine(50, kHigh), {}}}},
        {"a sample below high starts the 10 s again",
         {},
         {{0s, machine(50, kHigh), {}},
          {5s, machine(50, kHigh), {}},
          {8s, machine(50, kSome), {}},
          {10s, machine(50, kHigh), {}},
          {15s, machine(50, kHigh), {}},
          {19s, machine(50, kHigh), {}},
          {20s, machine(50, kHigh), Reason::HighPressure}}},
        {"a kernel without PSI never counts as high",
         {},
         {{0s, machine(50, std::nullopt), {}}, {30s, machine(50, std::nullopt), {}}}},
        {"low memory wins when both hold",
         {},
         {{0s, machine(5, kHigh), Reason::LowAvailable}, {10s, machine(5, kHigh), {}}}},
        {"no total: nothing to compare", {}, {{0s, MCMemoryDetails{0, 0, 0, 0, {}}, {}}}},
    };
    for (const auto& c : cases) {
        MCLowMemoryRule rule(c.config);
        run(rule, c.steps, c.name);
    }
}

TEST(LowMemoryRule, AMissedSampleBreaksTheHighWindow) {
    MCLowMemoryRule rule;
    EXPECT_EQ(rule.feed(t0, machine(50, kHigh)), std::nullopt);
    EXPECT_EQ(rule.feed(t0 + 5s, machine(50, kHigh)), std::nullopt);
    rule.interrupt();
    EXPECT_EQ(rule.feed(t0 + 10s, machine(50, kHigh)), std::nullopt);
    EXPECT_EQ(rule.feed(t0 + 20s, machine(50, kHigh)), Reason::HighPressure);
}

struct CleanStep {
    std::chrono::seconds at;
    double usedPercent;
    bool cleanRunning;
    bool expected;
};

TEST(AutoCleanRule, Scenarios) {
    const auto on = [](int percent, int minutes) {
        return MCAutoCleanConfig{true, percent, minutes};
    };
    const struct {
        const char* name;
        MCAutoCleanConfig config;
        std::vector<CleanStep> steps;
    } cases[] = {
        {"off by default", {}, {{0s, 99, false, false}, {3600s, 99, false, false}}},
        {"above the share, once per interval",
         on(80, 10),
         {{0s, 70, false, false},
          {5s, 81, false, true},
          {10s, 95, false, false},
          {604s, 95, false, false},
          {605s, 95, false, true}}},
        {"exactly the share is not above it",
         on(80, 10),
         {{0s, 80, false, false}, {5s, 80.5, false, true}}},
        {"never while a clean runs, and then at once",
         on(80, 10),
         {{0s, 90, true, false}, {5s, 90, true, false}, {10s, 90, false, true}}},
        {"a clean that runs does not use up the interval",
         on(50, 5),
         {{0s, 60, false, true}, {300s, 60, true, false}, {305s, 60, false, true}}},
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
