#include "memory/MCMemoryController.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <vector>

namespace {

constexpr auto kInt64Max = std::numeric_limits<std::int64_t>::max();

std::int64_t toSigned(std::uint64_t value) {
    return value > static_cast<std::uint64_t>(kInt64Max) ? kInt64Max
                                                         : static_cast<std::int64_t>(value);
}

// The text of the variable as it may be shown: printable, and not too long.
std::string shown(std::string_view text) {
    std::string out;
    for (char c : text.substr(0, 64)) {
        out += c >= 0x20 && c < 0x7f ? c : '?';
    }
    return text.size() > 64 ? out + "..." : out;
}

std::pair<std::optional<std::int64_t>, std::optional<std::string>> limitFromEnvironment() {
    const char* text = std::getenv(MCMemoryController::kMaxBytesEnv);
    if (text == nullptr || *text == '\0') {
        return {};
    }
    if (auto bytes = MCMemoryController::parseByteLimit(text)) {
        return {bytes, std::nullopt};
    }
    // A limit the user meant but mistyped must not turn into "no limit".
    return {0, std::string(MCMemoryController::kMaxBytesEnv) + "=\"" + shown(text) +
                   "\" is not a byte count such as 512M or 2G: cleans write nothing"};
}

} // namespace

std::int64_t MCCleanOutcome::written() const {
    std::int64_t total = 0;
    for (const auto& pass : passes) {
        total += pass.written;
    }
    return total;
}

const char* describe(MCCleanPass::End end) {
    switch (end) {
    case MCCleanPass::End::Written:
        return "written";
    case MCCleanPass::End::NothingToClean:
        return "nothing to clean";
    case MCCleanPass::End::NoHeadroom:
        return "no room";
    case MCCleanPass::End::RoomTaken:
        return "stopped early, the room shrank";
    case MCCleanPass::End::Pressure:
        return "memory pressure";
    case MCCleanPass::End::AllocationFailed:
        return "allocation refused";
    }
    return "?";
}

MCMemoryController::MCMemoryController()
    : MCMemoryController(mach_host_self(), std::make_shared<MappedBlockAllocator>(),
                         limitFromEnvironment()) {}

MCMemoryController::MCMemoryController(
    host_t host, std::shared_ptr<BlockAllocator> allocator,
    std::pair<std::optional<std::int64_t>, std::optional<std::string>> limit)
    : MCMemoryController(std::move(host), std::move(allocator), limit.first) {
    warning_ = std::move(limit.second);
}

MCMemoryController::MCMemoryController(host_t host, std::shared_ptr<BlockAllocator> allocator,
                                       std::optional<std::int64_t> maxPassBytes,
                                       std::int64_t chunkBytes)
    : host_(std::move(host)), allocator_(std::move(allocator)), maxPassBytes_(maxPassBytes),
      chunkBytes_(std::max<std::int64_t>(chunkBytes, kMinChunkBytes)) {}

std::optional<MCMemory> MCMemoryController::currentMemoryUsage() const {
    mach_msg_type_number_t count = HOST_VM_INFO_COUNT;
    vm_size_t pageSize = 0;
    vm_statistics_data_t stats{};
    if (host_page_size(host_, &pageSize) != KERN_SUCCESS) {
        return std::nullopt;
    }
    if (host_statistics(host_, HOST_VM_INFO, reinterpret_cast<host_info_t>(&stats), &count) !=
        KERN_SUCCESS) {
        return std::nullopt;
    }
    auto bytes = [pageSize](natural_t pages) {
        return static_cast<std::int64_t>(static_cast<std::uint64_t>(pages) * pageSize);
    };
    MCMemory sample;
    sample.freeMemory = bytes(stats.free_count);
    sample.activeMemory = bytes(stats.active_count);
    sample.inactiveMemory = bytes(stats.inactive_count);
    sample.wiredMemory = bytes(stats.wire_count);
    return sample;
}

MCHeadroom MCMemoryController::headroom() const {
    std::uint64_t available = 0;
    std::uint64_t total = 0;
    if (host_available_memory(host_, &available, &total) != KERN_SUCCESS) {
        return {0, "MemAvailable unreadable"};
    }
    const std::int64_t reserve = std::max(kMinReserveBytes, toSigned(total / 20));
    MCHeadroom room{toSigned(available) - reserve, "MemAvailable"};
    for (const cgroup_memory_limit& limit : host_memory_limits(host_)) {
        const std::int64_t cgroupReserve =
            std::max(kMinCgroupReserveBytes, toSigned(limit.limit / 20));
        const std::int64_t left = toSigned(limit.room()) - cgroupReserve;
        if (left < room.bytes) {
            room = {left, limit.known ? limit.file : limit.file + " unreadable"};
        }
    }
    return room;
}

std::int64_t MCMemoryController::passCap() const {
    const std::int64_t cap = headroom().bytes;
    return maxPassBytes_ ? std::min(cap, *maxPassBytes_) : cap;
}

bool MCMemoryController::underPressure() const {
    const auto pressure = host_memory_pressure(host_);
    return pressure && *pressure > kPressureStopPercent;
}

void MCMemoryController::writePass(MCCleanPass& pass,
                                   const std::function<void(std::int64_t)>& written) const {
    if (maxPassBytes_ && *maxPassBytes_ < pass.size) {
        pass.size = std::max<std::int64_t>(*maxPassBytes_, 0);
        pass.limitedBy = kMaxBytesEnv;
    }
    // Inactive anonymous pages only leave through swap: writing past the headroom would wake
    // the OOM killer instead of freeing anything.
    MCHeadroom room = headroom();
    if (room.bytes < pass.size) {
        pass.size = std::max<std::int64_t>(room.bytes, 0);
        pass.limitedBy = room.limitedBy;
    }
    if (pass.size <= 0) {
        pass.end = MCCleanPass::End::NoHeadroom;
        return;
    }
    // The whole pass stays resident until it ends: memory is freed by the kernel making room
    // for all of it at once. Separate chunk blocks rather than one mapping, so a pass that
    // stops early has committed only what it wrote.
    struct Held {
        BlockAllocator& allocator;
        std::vector<std::pair<void*, std::size_t>> blocks;
        ~Held() {
            for (auto it = blocks.rbegin(); it != blocks.rend(); ++it) {
                allocator.release(it->first, it->second);
            }
        }
    } held{*allocator_, {}};
    pass.end = MCCleanPass::End::Written;
    bool last = false;
    while (!last && pass.written < pass.size) {
        std::int64_t chunk = std::min(chunkBytes_, pass.size - pass.written);
        if (underPressure()) {
            pass.end = MCCleanPass::End::Pressure;
            break;
        }
        if (pass.written > 0) {
            room = headroom();
            if (room.bytes < chunk) {
                // The room shrank: someone else took memory (or the kernel's bookkeeping for
                // ours did). Write only what still fits above the reserve, then stop.
                pass.end = MCCleanPass::End::RoomTaken;
                pass.limitedBy = room.limitedBy;
                if (room.bytes <= 0) {
                    break;
                }
                chunk = room.bytes;
                last = true;
            }
        }
        const auto bytes = static_cast<std::size_t>(chunk);
        void* block = allocator_->allocate(bytes);
        if (block == nullptr) {
            pass.end = MCCleanPass::End::AllocationFailed;
            break;
        }
        fill_block(block, bytes, 0x01);
        held.blocks.emplace_back(block, bytes);
        pass.written += chunk;
        written(pass.written);
    }
}

MCCleanOutcome MCMemoryController::clean(const Progress& progress) const {
    MCCleanOutcome outcome;
    int reported = -1;
    auto report = [&](int pass, std::int64_t done, std::int64_t of) {
        const double share = of > 0 ? static_cast<double>(done) / static_cast<double>(of) : 0.0;
        const int percent =
            std::clamp(static_cast<int>((pass + share) * 100 / kCleanPasses), 0, 100);
        if (progress && percent > reported) {
            reported = percent;
            progress(percent);
        }
    };
    for (int i = 0; i < kCleanPasses; ++i) {
        MCCleanPass& pass = outcome.passes[static_cast<std::size_t>(i)];
        const auto sample = currentMemoryUsage();
        pass.size = sample ? sample->freeMemory + sample->inactiveMemory : 0;
        if (pass.size > 0) {
            writePass(pass, [&](std::int64_t written) { report(i, written, pass.size); });
        } else {
            pass.size = 0;
        }
        report(i + 1, 0, 0);
    }
    return outcome;
}

std::optional<std::int64_t> MCMemoryController::parseByteLimit(std::string_view text) {
    std::size_t i = 0;
    std::uint64_t value = 0;
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        if (value > (kMax - digit) / 10) {
            return std::nullopt; // checked before multiplying, so it cannot wrap
        }
        value = value * 10 + digit;
    }
    if (i == 0) {
        return std::nullopt;
    }
    std::string_view unit = text.substr(i);
    struct Unit {
        std::string_view name;
        std::uint64_t scale;
    };
    static constexpr Unit kUnits[] = {
        {"", 1},
        {"B", 1},
        {"K", 1ULL << 10},
        {"KB", 1ULL << 10},
        {"KiB", 1ULL << 10},
        {"M", 1ULL << 20},
        {"MB", 1ULL << 20},
        {"MiB", 1ULL << 20},
        {"G", 1ULL << 30},
        {"GB", 1ULL << 30},
        {"GiB", 1ULL << 30},
    };
    std::uint64_t scale = 0;
    for (const auto& u : kUnits) {
        if (u.name == unit) {
            scale = u.scale;
            break;
        }
    }
    if (scale == 0) {
        return std::nullopt;
    }
    if (value > kMax / scale) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(value * scale);
}
