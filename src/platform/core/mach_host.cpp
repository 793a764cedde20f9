#include "platform/core/mach_host.h"

#include "platform/core/kernel_file.h"
#include "platform/core/meminfo.h"
#include "platform/core/memory_pressure.h"

#include <array>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <unistd.h>

namespace {

constexpr std::uint64_t kNatMax = std::numeric_limits<natural_t>::max();

// /proc/meminfo is about 1.5 KiB; a little slack for future kernels.
constexpr std::size_t kReadLimit = 8 * 1024;

// Reads the host's meminfo into `buf`; the text, or none.
std::optional<std::string_view> read_meminfo(const host_port& host, char* buf,
                                             std::size_t capacity) {
    const int fd = host.meminfo_descriptor();
    if (fd < 0) {
        return std::nullopt;
    }
    const ssize_t n = pread_kernel_file(fd, buf, capacity);
    if (n < 0) {
        return std::nullopt;
    }
    return std::string_view(buf, static_cast<std::size_t>(n));
}

natural_t to_pages(std::uint64_t bytes, vm_size_t page_size) {
    const std::uint64_t pages = bytes / page_size;
    return pages > kNatMax ? static_cast<natural_t>(kNatMax) : static_cast<natural_t>(pages);
}

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    return a > std::numeric_limits<std::uint64_t>::max() - b
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

vm_size_t system_page_size() {
    static const vm_size_t size = [] {
        const long s = ::sysconf(_SC_PAGESIZE);
        return s > 0 ? static_cast<vm_size_t>(s) : vm_size_t{4096};
    }();
    return size;
}

vm_size_t effective_page_size(const host_port& host) {
    return host.page_size != 0 ? host.page_size : system_page_size();
}

} // namespace

host_port::~host_port() {
    if (const int fd = meminfo_fd_.load(); fd >= 0) {
        ::close(fd);
    }
}

int host_port::meminfo_descriptor() const {
    const int fd = meminfo_fd_.load(std::memory_order_acquire);
    if (fd >= 0) {
        return fd;
    }
    // Not cached on failure: a file that appears later is picked up then.
    const int opened = open_kernel_file(meminfo_path);
    if (opened < 0) {
        return -1;
    }
    int expected = -1;
    if (meminfo_fd_.compare_exchange_strong(expected, opened, std::memory_order_acq_rel)) {
        return opened;
    }
    ::close(opened); // another thread won the race
    return expected;
}

host_t mach_host_self() {
    static const host_t self = make_host_port("/proc/meminfo", "/");
    return self;
}

host_t make_host_port(std::string meminfo_path, std::string root, vm_size_t page_size) {
    return std::make_shared<const host_port>(std::move(meminfo_path), std::move(root), page_size);
}

kern_return_t host_page_size(const host_t& host, vm_size_t* out_page_size) {
    if (!host || out_page_size == nullptr) {
        return KERN_INVALID_ARGUMENT;
    }
    *out_page_size = effective_page_size(*host);
    return KERN_SUCCESS;
}

kern_return_t host_statistics(const host_t& host, host_flavor_t flavor, host_info_t info,
                              mach_msg_type_number_t* count) {
    if (!host || info == nullptr || count == nullptr || flavor != HOST_VM_INFO ||
        *count < HOST_VM_INFO_COUNT) {
        return KERN_INVALID_ARGUMENT;
    }
    char buf[kReadLimit];
    const auto text = read_meminfo(*host, buf, sizeof buf);
    if (!text) {
        return KERN_FAILURE;
    }
    // Only the four counters the sample shows; the record's other words stay 0.
    std::array<meminfo_field, 7> fields{meminfo_field{"MemFree"},    meminfo_field{"Active"},
                                        meminfo_field{"Inactive"},   meminfo_field{"Unevictable"},
                                        meminfo_field{"SUnreclaim"}, meminfo_field{"KernelStack"},
                                        meminfo_field{"PageTables"}};
    if (!parse_meminfo(*text, fields)) {
        return KERN_FAILURE;
    }
    const vm_size_t page = effective_page_size(*host);
    vm_statistics stats{};
    stats.free_count = to_pages(fields[0].bytes, page);
    stats.active_count = to_pages(fields[1].bytes, page);
    stats.inactive_count = to_pages(fields[2].bytes, page);
    std::uint64_t wired = 0;
    for (std::size_t i = 3; i < fields.size(); ++i) {
        wired = saturating_add(wired, fields[i].bytes);
    }
    stats.wire_count = to_pages(wired, page);

    std::memcpy(info, &stats, sizeof stats);
    *count = HOST_VM_INFO_COUNT;
    return KERN_SUCCESS;
}

kern_return_t host_available_memory(const host_t& host, std::uint64_t* available_bytes,
                                    std::uint64_t* total_bytes) {
    if (!host || available_bytes == nullptr || total_bytes == nullptr) {
        return KERN_INVALID_ARGUMENT;
    }
    char buf[kReadLimit];
    const auto text = read_meminfo(*host, buf, sizeof buf);
    if (!text) {
        return KERN_FAILURE;
    }
    std::array<meminfo_field, 2> fields{meminfo_field{"MemAvailable"}, meminfo_field{"MemTotal"}};
    if (!parse_meminfo(*text, fields)) {
        return KERN_FAILURE;
    }
    *available_bytes = fields[0].bytes;
    *total_bytes = fields[1].bytes;
    return KERN_SUCCESS;
}

std::vector<cgroup_memory_limit> host_memory_limits(const host_t& host) {
    if (!host || host->root.empty()) {
        return {};
    }
    return read_memory_limits(find_memory_cgroups(host->root));
}

std::optional<double> host_memory_pressure(const host_t& host) {
    if (!host || host->root.empty()) {
        return std::nullopt;
    }
    std::optional<double> highest =
        read_full_avg10(path_under_root(host->root, "/proc/pressure/memory"));
    const memory_cgroups cgroups = find_memory_cgroups(host->root);
    if (!cgroups.v2.empty()) {
        const auto own = read_full_avg10(cgroups.v2.front() + "/memory.pressure");
        if (own && (!highest || *own > *highest)) {
            highest = own;
        }
    }
    return highest;
}
