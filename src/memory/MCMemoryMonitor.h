#pragma once
// The one low-rate monitor that runs while the popover is closed: every 5 seconds the app calls
// tick(), which takes one detail sample and feeds the history (sparkline), the tray icon's
// level (latest()) and both threshold rules. Plain C++: the app owns the timer, tells the time
// and acts on the answer.
//
//   auto monitor = std::make_unique<MCMemoryMonitor>();
//   monitor->apply(MCSettings::read(*defaults));
//   timer every MCMemoryMonitor::kInterval:
//       const MCMonitorTick tick = monitor->tick(std::chrono::steady_clock::now(), cleanRunning);
//       if (tick.details) redraw the icon, the rows and the sparkline (monitor->history())
//       if (tick.notifyLowMemory) show the low-memory notification
//       if (tick.cleanNow) start a clean (as the Clean Memory button does)
//   when the user starts a clean: monitor->cleanStarted(now)
//
// Not thread-safe: call it from one thread (the main thread).

#include "memory/MCMemoryDetails.h"
#include "memory/MCMemoryHistory.h"
#include "memory/MCSettings.h"
#include "memory/MCThresholds.h"

#include <chrono>
#include <memory>
#include <optional>

struct MCMonitorTick {
    std::optional<MCMemoryDetails> details; // none: the sample could not be taken
    std::optional<MCLowMemoryReason> notifyLowMemory;
    bool cleanNow = false;
};

class MCMemoryMonitor {
public:
    static constexpr std::chrono::seconds kInterval = MCMemoryHistory::kInterval;

    // The live kernel, or another reader (tests).
    explicit MCMemoryMonitor(std::shared_ptr<const MCMemoryDetailsReader> reader =
                                 std::make_shared<MCMemoryDetailsReader>());

    // Takes the thresholds of `settings`; the history and the rules' timing are kept.
    void apply(const MCSettings& settings);

    MCMonitorTick tick(MCTime now, bool cleanRunning);
    // A clean the user started: auto-clean waits a full interval after it.
    void cleanStarted(MCTime now) { autoClean_.cleanStarted(now); }

    const MCMemoryHistory& history() const { return history_; }
    const std::optional<MCMemoryDetails>& latest() const { return latest_; }

private:
    std::shared_ptr<const MCMemoryDetailsReader> reader_;
    MCMemoryHistory history_;
    MCLowMemoryRule lowMemory_;
    MCAutoCleanRule autoClean_;
    std::optional<MCMemoryDetails> latest_;
};
