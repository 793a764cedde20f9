#include "memory/MCMemoryMonitor.h"

MCMemoryMonitor::MCMemoryMonitor(std::shared_ptr<const MCMemoryDetailsReader> reader)
    : reader_(std::move(reader)) {}

void MCMemoryMonitor::apply(const MCSettings& settings) {
    const MCSettings valid = settings.clamped();
    lowMemory_.setConfig(valid.lowMemory);
    autoClean_.setConfig(valid.autoClean);
}

MCMonitorTick MCMemoryMonitor::tick(MCTime now, bool cleanRunning) {
    MCMonitorTick tick;
    tick.details = reader_ ? reader_->currentDetails() : std::nullopt;
    latest_ = tick.details;
    if (!tick.details) {
        lowMemory_.interrupt();
        return tick;
    }
    history_.add(now, *tick.details);
    tick.notifyLowMemory = lowMemory_.feed(now, *tick.details);
    tick.cleanNow = autoClean_.feed(now, *tick.details, cleanRunning);
    return tick;
}
