#include "memory/MCMemoryDetails.h"

#include "platform/core/memory_details.h"

#include <algorithm>
#include <limits>

namespace {

std::int64_t toSigned(std::uint64_t value) {
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    return static_cast<std::int64_t>(std::min(value, kMax));
}

} // namespace

MCPressureState pressureState(const MCPressure& pressure) {
    if (pressure.full10 >= kPressureHighFromFull) {
        return MCPressureState::High;
    }
    if (pressure.some10 >= kPressureSomeFromSome || pressure.full10 >= kPressureSomeFromFull) {
        return MCPressureState::Some;
    }
    return MCPressureState::None;
}

const char* pressureStateName(MCPressureState state) {
    switch (state) {
    case MCPressureState::None:
        return "none";
    case MCPressureState::Some:
        return "some";
    case MCPressureState::High:
        return "high";
    }
    return "?";
}

std::int64_t MCMemoryDetails::usedMemory() const {
    return std::max<std::int64_t>(totalMemory - std::max<std::int64_t>(availableMemory, 0), 0);
}

double MCMemoryDetails::usedFraction() const {
    if (totalMemory <= 0) {
        return 0.0;
    }
    return std::clamp(static_cast<double>(usedMemory()) / static_cast<double>(totalMemory), 0.0,
                      1.0);
}

std::int64_t MCMemoryDetails::swapUsed() const {
    return std::max<std::int64_t>(swapTotal - swapFree, 0);
}

std::optional<MCPressureState> MCMemoryDetails::pressureState() const {
    if (!pressure) {
        return std::nullopt;
    }
    return ::pressureState(*pressure);
}

MCMemoryDetailsReader::MCMemoryDetailsReader() : host_(mach_host_self()) {}

MCMemoryDetailsReader::MCMemoryDetailsReader(host_t host) : host_(std::move(host)) {}

std::optional<MCMemoryDetails> MCMemoryDetailsReader::currentDetails() const {
    memory_details raw;
    if (host_memory_details(host_, &raw) != KERN_SUCCESS) {
        return std::nullopt;
    }
    MCMemoryDetails details;
    details.totalMemory = toSigned(raw.total);
    details.availableMemory = toSigned(raw.available);
    details.swapTotal = toSigned(raw.swap_total);
    details.swapFree = toSigned(raw.swap_free);
    if (raw.pressure) {
        details.pressure = MCPressure{raw.pressure->some10, raw.pressure->full10};
    }
    return details;
}
