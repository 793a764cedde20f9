#include "platform/core/memory_details.h"

#include "platform/core/kernel_file.h"
#include "platform/core/meminfo.h"

#include <array>
#include <unistd.h>

namespace {

// /proc/meminfo is about 1.5 KiB; a PSI file about 110 bytes.
constexpr std::size_t kMeminfoLimit = 8 * 1024;
constexpr std::size_t kPressureLimit = 512;

std::optional<pressure_averages> read_pressure(const std::string& root) {
    if (root.empty()) {
        return std::nullopt;
    }
    const int fd = open_kernel_file(path_under_root(root, "/proc/pressure/memory"));
    if (fd < 0) {
        return std::nullopt;
    }
    char buf[kPressureLimit];
    const ssize_t n = pread_kernel_file(fd, buf, sizeof buf);
    ::close(fd);
    if (n < 0) {
        return std::nullopt; // psi=0 kernels keep the file but refuse to read it
    }
    return parse_pressure_avg10(std::string_view(buf, static_cast<std::size_t>(n)));
}

} // namespace

kern_return_t host_memory_details(const host_t& host, memory_details* out) {
    if (!host || out == nullptr) {
        return KERN_INVALID_ARGUMENT;
    }
    const int fd = host->meminfo_descriptor();
    if (fd < 0) {
        return KERN_FAILURE;
    }
    char buf[kMeminfoLimit];
    const ssize_t n = pread_kernel_file(fd, buf, sizeof buf);
    if (n < 0) {
        return KERN_FAILURE;
    }
    std::array<meminfo_field, 4> fields{meminfo_field{"MemTotal"}, meminfo_field{"MemAvailable"},
                                        meminfo_field{"SwapTotal"}, meminfo_field{"SwapFree"}};
    if (!parse_meminfo(std::string_view(buf, static_cast<std::size_t>(n)), fields)) {
        return KERN_FAILURE;
    }
    memory_details details;
    details.total = fields[0].bytes;
    details.available = fields[1].bytes;
    details.swap_total = fields[2].bytes;
    details.swap_free = fields[3].bytes;
    details.pressure = read_pressure(host->root);
    *out = details;
    return KERN_SUCCESS;
}
