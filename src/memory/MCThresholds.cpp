#include "memory/MCThresholds.h"

namespace {

__extension__ using Wide = __int128;

// part * 100 < percent * whole (or >), without floating point or overflow for any memory size.
bool belowPercent(std::int64_t part, std::int64_t whole, int percent) {
    return static_cast<Wide>(part) * 100 < static_cast<Wide>(whole) * percent;
}

bool abovePercent(std::int64_t part, std::int64_t whole, int percent) {
    return static_cast<Wide>(part) * 100 > static_cast<Wide>(whole) * percent;
}

} // namespace

std::optional<MCLowMemoryReason> MCLowMemoryRule::feed(MCTime now, const MCMemoryDetails& details) {
    if (details.pressureState() == MCPressureState::High) {
        if (!highSince_) {
            highSince_ = now;
        }
    } else {
        highSince_.reset();
    }
    if (!config_.enabled || details.totalMemory <= 0) {
        return std::nullopt;
    }
    std::optional<MCLowMemoryReason> reason;
    if (belowPercent(details.availableMemory, details.totalMemory, config_.availablePercent)) {
        reason = MCLowMemoryReason::LowAvailable;
    } else if (highSince_ && now - *highSince_ >= kHighPressureFor) {
        reason = MCLowMemoryReason::HighPressure;
    }
    if (!reason || (lastNotified_ && now - *lastNotified_ < kMinInterval)) {
        return std::nullopt;
    }
    lastNotified_ = now;
    return reason;
}

bool MCAutoCleanRule::feed(MCTime now, const MCMemoryDetails& details, bool cleanRunning) {
    if (!config_.enabled || cleanRunning || details.totalMemory <= 0) {
        return false;
    }
    if (!abovePercent(details.usedMemory(), details.totalMemory, config_.usedPercent)) {
        return false;
    }
    if (lastClean_ && now - *lastClean_ < std::chrono::minutes(config_.intervalMinutes)) {
        return false;
    }
    lastClean_ = now;
    return true;
}
