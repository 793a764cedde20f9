#pragma once

#include <cstdint>

// One memory sample, in bytes.
struct MCMemory {
    std::int64_t freeMemory = 0;
    std::int64_t activeMemory = 0;
    std::int64_t inactiveMemory = 0;
    std::int64_t wiredMemory = 0;

    bool operator==(const MCMemory&) const = default;
};
