#pragma once

#include "MCMemory.h"
#include "block_allocator.h"
#include "mach_host.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

// Samples the kernel's page counters and frees memory by writing through large blocks.
// Holds no mutable state: sampling and cleaning may run on different threads at once.
class MCMemoryController {
public:
    static constexpr int kCleanPasses = 3;
    static constexpr std::int64_t kMinReserveBytes = 256LL * 1024 * 1024;
    static constexpr const char* kMaxBytesEnv = "BRIMWELL_CLEAN_MAX_BYTES";

    // The live kernel counters, mapped huge-page blocks, and the limit from the environment.
    MCMemoryController();
    // `maxPassBytes` lowers the per-pass cap; none means only the kernel's headroom limits it.
    MCMemoryController(host_t host, std::shared_ptr<BlockAllocator> allocator,
                       std::optional<std::int64_t> maxPassBytes);
    virtual ~MCMemoryController() = default;

    MCMemoryController(const MCMemoryController&) = delete;
    MCMemoryController& operator=(const MCMemoryController&) = delete;

    // A new sample, or none when the kernel refuses either call.
    virtual std::optional<MCMemory> currentMemoryUsage() const;

    // Three passes, each writing through free + inactive bytes (capped); blocks the caller.
    void cleanMemory() const;

    // How many bytes one pass may write right now: what the kernel can give without swapping,
    // less a reserve, and never more than the configured limit. 0 or less means none.
    std::int64_t passCap() const;

    // Parses a byte limit such as "1048576", "512M", "2GiB". None for text that is not one.
    static std::optional<std::int64_t> parseByteLimit(std::string_view text);

private:
    host_t host_;
    std::shared_ptr<BlockAllocator> allocator_;
    std::optional<std::int64_t> maxPassBytes_;
};
