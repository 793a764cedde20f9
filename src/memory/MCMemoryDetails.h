#pragma once
// What the panel's detail rows, the tray icon and the thresholds show beside the four-class
// sample: available memory, swap and memory pressure.

#include "platform/core/mach_host.h"

#include <cstdint>
#include <optional>

// Memory pressure from the kernel's pressure stall information (PSI), in percent of the last
// ten seconds: "some" while at least one task waited for memory, "full" while every runnable
// task did.
struct MCPressure {
    double some10 = 0;
    double full10 = 0;
    bool operator==(const MCPressure&) const = default;
};

// The one-word state shown for pressure.
//
// The kernel's PSI documentation reads "some" as tasks losing time to memory (latency) and
// "full" as the whole machine making no progress, the state it calls thrashing. So:
//   high: full >= 10 %   a tenth of the time nothing ran: the machine is thrashing (the same
//                        mark at which a clean stops writing);
//   some: some >= 10 %   tasks wait for memory a tenth of the time: noticeable slowdowns;
//         or full >= 1 % any sustained full stall is already felt;
//   none: below both.
// A desktop with plenty of memory shows some = full = 0.00; short stalls while caches refill
// stay well under 10 % some.
enum class MCPressureState { None, Some, High };

inline constexpr double kPressureSomeFromSome = 10.0; // some avg10 from which the state is Some
inline constexpr double kPressureSomeFromFull = 1.0;  // full avg10 from which it is Some
inline constexpr double kPressureHighFromFull = 10.0; // full avg10 from which it is High

MCPressureState pressureState(const MCPressure& pressure);
// "none", "some" or "high".
const char* pressureStateName(MCPressureState state);

// One sample of the figures, in bytes.
struct MCMemoryDetails {
    std::int64_t totalMemory = 0;     // MemTotal
    std::int64_t availableMemory = 0; // MemAvailable: what programs can still get without swap
    std::int64_t swapTotal = 0;       // 0: no swap (the panel hides its swap row)
    std::int64_t swapFree = 0;
    std::optional<MCPressure> pressure; // none: the kernel has no PSI (the row is hidden)

    // Used memory is what is not available: total - available, never below 0.
    std::int64_t usedMemory() const;
    // usedMemory / totalMemory in 0..1; 0 when the total is unknown.
    double usedFraction() const;
    std::int64_t swapUsed() const;
    bool hasSwap() const { return swapTotal > 0; }
    std::optional<MCPressureState> pressureState() const;

    bool operator==(const MCMemoryDetails&) const = default;
};

// Takes detail samples: one read of meminfo and one of /proc/pressure/memory each. Holds no
// mutable state of its own; callable from any thread.
class MCMemoryDetailsReader {
public:
    // The live kernel.
    MCMemoryDetailsReader();
    // Another host: tests give one over fixture files (make_host_port(meminfo, root, page)).
    explicit MCMemoryDetailsReader(host_t host);
    virtual ~MCMemoryDetailsReader() = default;

    // None when meminfo cannot be read or lacks a field (no MemAvailable before Linux 3.14).
    virtual std::optional<MCMemoryDetails> currentDetails() const;

private:
    host_t host_;
};
