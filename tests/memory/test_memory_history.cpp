// The ten-minute ring behind the sparkline.
#include "memory/MCMemoryHistory.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const Clock::time_point t0{std::chrono::hours(1)};

MCHistoryPoint point(std::chrono::seconds at, double used, std::optional<double> some = {}) {
    return {t0 + at, used, some ? std::optional(MCPressure{*some, 0}) : std::nullopt};
}

TEST(MemoryHistory, KeepsTheLast120PointsInOrder) {
    MCMemoryHistory history;
    EXPECT_TRUE(history.empty());
    EXPECT_EQ(history.usedRange(), std::nullopt);
    for (int i = 0; i < 300; ++i) {
        history.add(point(i * 5s, i / 1000.0));
    }
    ASSERT_EQ(history.size(), 120u);
    // The newest 120: samples 180..299, oldest first.
    for (std::size_t i = 0; i < history.size(); ++i) {
        EXPECT_EQ(history.at(i).time, t0 + (180 + static_cast<int>(i)) * 5s) << i;
    }
    const auto points = history.points();
    ASSERT_EQ(points.size(), 120u);
    EXPECT_EQ(points.front(), history.at(0));
    EXPECT_EQ(points.back(), history.at(119));
    EXPECT_EQ(history.usedRange(), (MCMemoryHistory::Range{0.180, 0.299}));
}

TEST(MemoryHistory, DropsWhatIsOlderThanTenMinutes) {
    const struct {
        const char* name;
        std::vector<int> seconds; // times of the points added, in order
        std::vector<int> kept;
    } cases[] = {
        {"a minute apart, eleven minutes",
         {0, 60, 120, 180, 240, 300, 360, 420, 480, 540, 600, 660},
         {120, 180, 240, 300, 360, 420, 480, 540, 600, 660}},
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

TEST(MemoryHistory, RangesForTheSparkline) {
    MCMemoryHistory history;
    history.add(point(0s, 0.40, 3.0));
    history.add(point(5s, 0.90)); // a sample without pressure
    history.add(point(10s, 0.10, 12.5));
    history.add(point(15s, 0.55, 0.0));
    EXPECT_EQ(history.usedRange(), (MCMemoryHistory::Range{0.10, 0.90}));
    EXPECT_EQ(history.pressureRange(), (MCMemoryHistory::Range{0.0, 12.5}));

    MCMemoryHistory noPsi;
    noPsi.add(point(0s, 0.3));
    EXPECT_EQ(noPsi.pressureRange(), std::nullopt);
    EXPECT_EQ(noPsi.usedRange(), (MCMemoryHistory::Range{0.3, 0.3}));
    noPsi.clear();
    EXPECT_TRUE(noPsi.empty());
    noPsi.add(point(1s, 0.7)); // usable again after clearing, even with an earlier time
    EXPECT_EQ(noPsi.size(), 1u);
}

} // namespace
