#include "memory/MCMemoryHistory.h"

#include <algorithm>

void MCMemoryHistory::add(const MCHistoryPoint& point) {
    if (count_ > 0 && point.time < at(count_ - 1).time) {
        return;
    }
    if (count_ == kCapacity) {
        first_ = (first_ + 1) % kCapacity;
        --count_;
    }
    ring_[(first_ + count_) % kCapacity] = point;
    ++count_;
    while (count_ > 1 && at(0).time <= point.time - kSpan) {
        first_ = (first_ + 1) % kCapacity;
        --count_;
    }
}

void MCMemoryHistory::add(std::chrono::steady_clock::time_point time,
                          const MCMemoryDetails& details) {
    add(MCHistoryPoint{time, details.usedFraction(), details.pressure});
}

void MCMemoryHistory::clear() {
    first_ = 0;
    count_ = 0;
}

const MCHistoryPoint& MCMemoryHistory::at(std::size_t index) const {
    return ring_[(first_ + index) % kCapacity];
}

std::vector<MCHistoryPoint> MCMemoryHistory::points() const {
    std::vector<MCHistoryPoint> out;
    out.reserve(count_);
    for (std::size_t i = 0; i < count_; ++i) {
        out.push_back(at(i));
    }
    return out;
}

std::optional<MCMemoryHistory::Range> MCMemoryHistory::usedRange() const {
    if (count_ == 0) {
        return std::nullopt;
    }
    Range range{at(0).usedFraction, at(0).usedFraction};
    for (std::size_t i = 1; i < count_; ++i) {
        range.min = std::min(range.min, at(i).usedFraction);
        range.max = std::max(range.max, at(i).usedFraction);
    }
    return range;
}

std::optional<MCMemoryHistory::Range> MCMemoryHistory::pressureRange() const {
    std::optional<Range> range;
    for (std::size_t i = 0; i < count_; ++i) {
        if (const auto& pressure = at(i).pressure) {
            if (!range) {
                range = Range{pressure->some10, pressure->some10};
            }
            range->min = std::min(range->min, pressure->some10);
            range->max = std::max(range->max, pressure->some10);
        }
    }
    return range;
}
