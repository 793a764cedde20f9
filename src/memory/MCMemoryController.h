#pragma once

#include "memory/MCMemory.h"
#include "platform/core/block_allocator.h"
#include "platform/core/mach_host.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// How much a clean may write at one moment, and which limit decides it.
struct MCHeadroom {
    std::int64_t bytes = 0; // 0 or less: nothing
    std::string limitedBy;  // "MemAvailable", a cgroup limit file, or why nothing is known
};

// What one clean pass did.
struct MCCleanPass {
    enum class End {
        Written,          // the whole pass was written
        NothingToClean,   // no sample, or nothing free or inactive
        NoHeadroom,       // no room at the start, or the configured limit is 0
        RoomTaken,        // stopped early: the room shrank, mostly as another process took it
        Pressure,         // stopped (or never started): memory pressure too high
        AllocationFailed, // the system would not give the next chunk
    };
    std::int64_t size = 0;    // bytes the pass set out to write
    std::int64_t written = 0; // bytes written and held until the pass ended
    End end = End::NothingToClean;
    std::string limitedBy; // the limit that shrank or stopped the pass, if one did
};

struct MCCleanOutcome {
    std::array<MCCleanPass, 3> passes;
    std::int64_t written() const;
};

// Samples the kernel's page counters and frees memory by writing through large blocks.
// Holds no mutable state: sampling and cleaning may run on different threads at once.
class MCMemoryController {
public:
    static constexpr int kCleanPasses = 3;
    // MemAvailable keeps this much, or 5 % of the machine's memory when that is more.
    static constexpr std::int64_t kMinReserveBytes = 256LL * 1024 * 1024;
    // A cgroup keeps this much below each of its limits, or 5 % of the limit when that is more.
    static constexpr std::int64_t kMinCgroupReserveBytes = 32LL * 1024 * 1024;
    // A pass is written in chunks this large; the room is checked again before each one.
    static constexpr std::int64_t kChunkBytes = 128LL * 1024 * 1024;
    static constexpr std::int64_t kMinChunkBytes = 4096;
    // A pass stops when "full avg10" memory pressure is above this many percent: for a tenth
    // of the last ten seconds every runnable task was waiting for memory.
    static constexpr double kPressureStopPercent = 10.0;
    static constexpr const char* kMaxBytesEnv = "BRIMWELL_CLEAN_MAX_BYTES";

    // Called on the cleaning thread with 0..100, rising, ending at 100.
    using Progress = std::function<void(int percent)>;

    // The live kernel counters, mapped huge-page blocks, and the limit from the environment.
    MCMemoryController();
    // `maxPassBytes` lowers the per-pass cap; none means only the kernel's headroom limits it.
    // Chunks smaller than kMinChunkBytes are taken as that.
    MCMemoryController(host_t host, std::shared_ptr<BlockAllocator> allocator,
                       std::optional<std::int64_t> maxPassBytes,
                       std::int64_t chunkBytes = kChunkBytes);
    virtual ~MCMemoryController() = default;

    MCMemoryController(const MCMemoryController&) = delete;
    MCMemoryController& operator=(const MCMemoryController&) = delete;

    // A new sample, or none when the kernel refuses either call.
    virtual std::optional<MCMemory> currentMemoryUsage() const;

    // Three passes, each writing through free + inactive bytes (capped); blocks the caller.
    void cleanMemory() const { clean({}); }
    // The same, reporting progress and what each pass did.
    MCCleanOutcome clean(const Progress& progress) const;

    // What may be written now without the OOM killer coming near: the least of MemAvailable
    // and the room under every cgroup limit of the process, each less its reserve.
    MCHeadroom headroom() const;
    // The headroom, never more than the configured limit. 0 or less means none.
    std::int64_t passCap() const;

    // Why the configured limit was not understood, once, for the caller to show and log.
    const std::optional<std::string>& configurationWarning() const { return warning_; }

    // Parses a byte limit such as "1048576", "512M", "2GiB". None for text that is not one.
    static std::optional<std::int64_t> parseByteLimit(std::string_view text);

private:
    MCMemoryController(host_t host, std::shared_ptr<BlockAllocator> allocator,
                       std::pair<std::optional<std::int64_t>, std::optional<std::string>> limit);

    // Writes one pass of `size` bytes in chunks; fills in how it went.
    void writePass(MCCleanPass& pass, const std::function<void(std::int64_t)>& written) const;
    // True when pressure is known and above the stop mark.
    bool underPressure() const;

    host_t host_;
    std::shared_ptr<BlockAllocator> allocator_;
    std::optional<std::int64_t> maxPassBytes_;
    std::int64_t chunkBytes_ = kChunkBytes;
    std::optional<std::string> warning_;
};

// A word or two for a pass's end, for logs and the terminal.
const char* describe(MCCleanPass::End end);
