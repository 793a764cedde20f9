#pragma once
// The two rules that act on their own: the low-memory notification and auto-clean. Each is fed
// one detail sample at a time with the time it was taken (from the caller's clock, so tests
// choose it) and answers whether to act now; the app does the acting.

#include "memory/MCMemoryDetails.h"

#include <chrono>
#include <optional>

using MCTime = std::chrono::steady_clock::time_point;

struct MCLowMemoryConfig {
    static constexpr int kMinPercent = 1;
    static constexpr int kMaxPercent = 50;
    static constexpr int kDefaultPercent = 10;

    bool enabled = true;
    int availablePercent = kDefaultPercent; // notify when available is below this share of total

    bool operator==(const MCLowMemoryConfig&) const = default;
};

enum class MCLowMemoryReason {
    LowAvailable, // available memory below the configured share of the total
    HighPressure, // pressure "high" in every sample of the last 10 seconds
};

// Notify when available memory is below X % of the total, or pressure has been "high" for
// 10 seconds without a break; at most once per 10 minutes.
class MCLowMemoryRule {
public:
    static constexpr std::chrono::seconds kHighPressureFor{10};
    static constexpr std::chrono::minutes kMinInterval{10};

    explicit MCLowMemoryRule(MCLowMemoryConfig config = {}) : config_(config) {}

    void setConfig(const MCLowMemoryConfig& config) { config_ = config; }
    const MCLowMemoryConfig& config() const { return config_; }

    // Why to notify now, or none. Samples are expected in time order, a few seconds apart.
    std::optional<MCLowMemoryReason> feed(MCTime now, const MCMemoryDetails& details);
    // A sample could not be taken: "high for 10 seconds" starts again with the next one.
    void interrupt() { highSince_.reset(); }

private:
    MCLowMemoryConfig config_;
    std::optional<MCTime> highSince_;
    std::optional<MCTime> lastNotified_;
};

struct MCAutoCleanConfig {
    static constexpr int kMinUsedPercent = 50;
    static constexpr int kMaxUsedPercent = 99;
    static constexpr int kDefaultUsedPercent = 90;
    static constexpr int kMinIntervalMinutes = 5;
    static constexpr int kMaxIntervalMinutes = 24 * 60;
    static constexpr int kDefaultIntervalMinutes = 30;

    bool enabled = false;                          // off unless the user turns it on
    int usedPercent = kDefaultUsedPercent;         // clean when used memory is above this share
    int intervalMinutes = kDefaultIntervalMinutes; // at most one clean per this many minutes

    bool operator==(const MCAutoCleanConfig&) const = default;
};

// Clean when used memory (total - available) is above X % of the total; at most once per N
// minutes, counted from the last clean of any kind (see cleanStarted); never while a clean runs.
class MCAutoCleanRule {
public:
    explicit MCAutoCleanRule(MCAutoCleanConfig config = {}) : config_(config) {}

    void setConfig(const MCAutoCleanConfig& config) { config_ = config; }
    const MCAutoCleanConfig& config() const { return config_; }

    // True: start a clean now (the rule counts it as started).
    bool feed(MCTime now, const MCMemoryDetails& details, bool cleanRunning);
    // A clean started by the user: the next automatic one waits a full interval after it.
    void cleanStarted(MCTime now) { lastClean_ = now; }

private:
    MCAutoCleanConfig config_;
    std::optional<MCTime> lastClean_;
};
