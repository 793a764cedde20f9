#pragma once
// The last ten minutes of memory use, for a sparkline: a fixed ring of (time, used fraction,
// pressure) points, fed by the monitor every 5 seconds (120 points). Nothing is allocated after
// construction.

#include "memory/MCMemoryDetails.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <optional>
#include <vector>

struct MCHistoryPoint {
    std::chrono::steady_clock::time_point time;
    double usedFraction = 0;            // 0..1, as MCMemoryDetails::usedFraction
    std::optional<MCPressure> pressure; // none without PSI

    bool operator==(const MCHistoryPoint&) const = default;
};

class MCMemoryHistory {
public:
    static constexpr std::chrono::seconds kSpan{600};
    static constexpr std::chrono::seconds kInterval{5};
    static constexpr std::size_t kCapacity = kSpan / kInterval; // 120

    // Adds the newest point. A point older than the newest one is ignored; points that fall out
    // of the last kSpan (counted back from the newest) are dropped, so a gap (a suspended
    // machine) does not leave stale points in the graph.
    void add(const MCHistoryPoint& point);
    void add(std::chrono::steady_clock::time_point time, const MCMemoryDetails& details);
    void clear();

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    // Oldest first: at(0) is the oldest, at(size() - 1) the newest.
    const MCHistoryPoint& at(std::size_t index) const;
    std::vector<MCHistoryPoint> points() const;

    struct Range {
        double min = 0;
        double max = 0;
        bool operator==(const Range&) const = default;
    };
    // The lowest and highest used fraction; none when empty.
    std::optional<Range> usedRange() const;
    // The lowest and highest "some avg10" among points with pressure; none when none has it.
    std::optional<Range> pressureRange() const;

private:
    std::array<MCHistoryPoint, kCapacity> ring_{};
    std::size_t first_ = 0; // index of the oldest point
    std::size_t count_ = 0;
};
