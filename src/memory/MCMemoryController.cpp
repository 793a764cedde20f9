#include "MCMemoryController.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace {

std::optional<std::int64_t> limitFromEnvironment() {
    const char* text = std::getenv(MCMemoryController::kMaxBytesEnv);
    if (text == nullptr || *text == '\0') {
        return std::nullopt;
    }
    // A limit the user meant but mistyped must not turn into "no limit".
    return MCMemoryController::parseByteLimit(text).value_or(0);
}

} // namespace

MCMemoryController::MCMemoryController()
    : MCMemoryController(mach_host_self(), std::make_shared<MappedBlockAllocator>(),
                         limitFromEnvironment()) {}

MCMemoryController::MCMemoryController(host_t host, std::shared_ptr<BlockAllocator> allocator,
                                       std::optional<std::int64_t> maxPassBytes)
    : host_(std::move(host)), allocator_(std::move(allocator)), maxPassBytes_(maxPassBytes) {}

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

std::int64_t MCMemoryController::passCap() const {
    std::uint64_t available = 0;
    std::uint64_t total = 0;
    if (host_available_memory(host_, &available, &total) != KERN_SUCCESS) {
        return 0;
    }
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    const auto reserve = std::max<std::uint64_t>(kMinReserveBytes, total / 20);
    std::int64_t cap =
        available > reserve ? static_cast<std::int64_t>(std::min(available - reserve, kMax)) : 0;
    if (maxPassBytes_) {
        cap = std::min(cap, *maxPassBytes_);
    }
    return cap;
}

void MCMemoryController::cleanMemory() const {
    for (int pass = 0; pass < kCleanPasses; ++pass) {
        const auto sample = currentMemoryUsage();
        std::int64_t size = sample ? sample->freeMemory + sample->inactiveMemory : 0;
        if (size <= 0) {
            continue;
        }
        // Inactive anonymous pages only leave through swap: writing past the kernel's
        // headroom would wake the OOM killer instead of freeing anything.
        size = std::min(size, passCap());
        if (size <= 0) {
            continue;
        }
        const auto bytes = static_cast<std::size_t>(size);
        void* block = allocator_->allocate(bytes);
        if (block == nullptr) {
            continue;
        }
        fill_block(block, bytes, 0x01);
        allocator_->release(block, bytes);
    }
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
