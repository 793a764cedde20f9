#include "mach_host.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <string_view>
#include <unistd.h>

namespace {

constexpr std::uint64_t kNatMax = std::numeric_limits<natural_t>::max();

// /proc/meminfo is about 1.5 KiB and /proc/vmstat about 5 KiB; a little slack for future kernels.
constexpr std::size_t kReadLimit = 32 * 1024;

int open_read_only(const std::string& path) {
    return path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

// Reads a whole small file from its start into `buf`. The size read, or -1.
ssize_t read_whole(int fd, char* buf, std::size_t capacity) {
    std::size_t used = 0;
    while (used < capacity) {
        ssize_t n = ::pread(fd, buf + used, capacity - used, static_cast<off_t>(used));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (n == 0) {
            return static_cast<ssize_t>(used);
        }
        used += static_cast<std::size_t>(n);
    }
    return -1; // larger than any counters file: not one
}

// Reads the host's file at `path` into `buf`; the text, or none.
std::optional<std::string_view> read_file(const host_port& host, const std::string& path, char* buf,
                                          std::size_t capacity) {
    int fd = host.descriptor(path);
    if (fd < 0) {
        return std::nullopt;
    }
    ssize_t n = read_whole(fd, buf, capacity);
    if (n < 0) {
        return std::nullopt;
    }
    return std::string_view(buf, static_cast<std::size_t>(n));
}

// "   1234 kB" (with `kilobytes`, in bytes) or "1234": the number, or none for anything else.
std::optional<std::uint64_t> parse_number(std::string_view text, bool kilobytes) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        unsigned d = static_cast<unsigned>(text[i] - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - d) / 10) {
            return std::nullopt;
        }
        value = value * 10 + d;
    }
    if (digits == 0) {
        return std::nullopt;
    }
    std::string_view unit = text.substr(i);
    while (!unit.empty() && unit.front() == ' ') {
        unit.remove_prefix(1);
    }
    if (!kilobytes) {
        return unit.empty() ? std::optional(value) : std::nullopt;
    }
    if ((unit != "kB" && !unit.empty()) ||
        value > std::numeric_limits<std::uint64_t>::max() / 1024) {
        return std::nullopt;
    }
    return value * 1024;
}

struct Field {
    std::string_view name;
    std::uint64_t value = 0;
    bool seen = false;
};

// Parses "Name:   1234 kB\n" meminfo lines into the wanted fields.
// A wanted field that is missing, repeated, unterminated or not a plain number fails the parse;
// other lines are skipped unread.
template <std::size_t N>
bool parse_fields(std::string_view text, std::array<Field, N>& fields) {
    while (!text.empty()) {
        std::size_t eol = text.find('\n');
        bool terminated = eol != std::string_view::npos;
        std::string_view line = terminated ? text.substr(0, eol) : text;
        text = terminated ? text.substr(eol + 1) : std::string_view{};

        std::size_t sep = line.find(':');
        if (sep == std::string_view::npos) {
            continue;
        }
        std::string_view name = line.substr(0, sep);
        Field* field = nullptr;
        for (auto& f : fields) {
            if (f.name == name) {
                field = &f;
                break;
            }
        }
        if (field == nullptr) {
            continue;
        }
        if (field->seen || !terminated) {
            return false;
        }
        auto value = parse_number(line.substr(sep + 1), true);
        if (!value) {
            return false;
        }
        field->value = *value;
        field->seen = true;
    }
    for (const auto& f : fields) {
        if (!f.seen) {
            return false;
        }
    }
    return true;
}

natural_t to_pages(std::uint64_t bytes, vm_size_t page_size) {
    std::uint64_t pages = bytes / page_size;
    return pages > kNatMax ? static_cast<natural_t>(kNatMax) : static_cast<natural_t>(pages);
}

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    return a > std::numeric_limits<std::uint64_t>::max() - b
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

vm_size_t system_page_size() {
    static const vm_size_t size = [] {
        long s = ::sysconf(_SC_PAGESIZE);
        return s > 0 ? static_cast<vm_size_t>(s) : vm_size_t{4096};
    }();
    return size;
}

vm_size_t effective_page_size(const host_port& host) {
    return host.page_size != 0 ? host.page_size : system_page_size();
}

// Counters with a natural counterpart in /proc/vmstat. A missing file or line leaves them 0.
void fill_from_vmstat(const host_port& host, vm_statistics& stats) {
    char buf[kReadLimit];
    auto text = read_file(host, host.vmstat_path, buf, sizeof buf);
    if (!text) {
        return;
    }
    const std::pair<std::string_view, natural_t*> wanted[] = {
        {"pgactivate ", &stats.reactivations},
        {"pswpin ", &stats.pageins},
        {"pswpout ", &stats.pageouts},
        {"pgfault ", &stats.faults},
    };
    std::string_view rest = *text;
    while (!rest.empty()) {
        std::size_t eol = rest.find('\n');
        std::string_view line = rest.substr(0, eol);
        rest = eol == std::string_view::npos ? std::string_view{} : rest.substr(eol + 1);
        for (const auto& [prefix, slot] : wanted) {
            if (line.starts_with(prefix)) {
                if (auto value = parse_number(line.substr(prefix.size()), false)) {
                    *slot = *value > kNatMax ? static_cast<natural_t>(kNatMax)
                                             : static_cast<natural_t>(*value);
                }
                break;
            }
        }
    }
}

} // namespace

host_port::~host_port() {
    for (auto* fd : {&meminfo_fd_, &vmstat_fd_}) {
        if (int f = fd->load(); f >= 0) {
            ::close(f);
        }
    }
}

int host_port::descriptor(const std::string& path) const {
    std::atomic<int>& slot = &path == &meminfo_path ? meminfo_fd_ : vmstat_fd_;
    int fd = slot.load(std::memory_order_acquire);
    if (fd >= 0) {
        return fd;
    }
    // Not cached on failure: a file that appears later is picked up then.
    int opened = open_read_only(path);
    if (opened < 0) {
        return -1;
    }
    int expected = -1;
    if (slot.compare_exchange_strong(expected, opened, std::memory_order_acq_rel)) {
        return opened;
    }
    ::close(opened); // another thread won the race
    return expected;
}

host_t mach_host_self() {
    static const host_t self = make_host_port("/proc/meminfo", "/proc/vmstat");
    return self;
}

host_t make_host_port(std::string meminfo_path, std::string vmstat_path, vm_size_t page_size) {
    return std::make_shared<const host_port>(std::move(meminfo_path), std::move(vmstat_path),
                                             page_size);
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
    auto text = read_file(*host, host->meminfo_path, buf, sizeof buf);
    if (!text) {
        return KERN_FAILURE;
    }
    std::array<Field, 7> fields{Field{"MemFree"},     Field{"Active"},     Field{"Inactive"},
                                Field{"Unevictable"}, Field{"SUnreclaim"}, Field{"KernelStack"},
                                Field{"PageTables"}};
    if (!parse_fields(*text, fields)) {
        return KERN_FAILURE;
    }
    const vm_size_t page = effective_page_size(*host);
    vm_statistics stats{};
    stats.free_count = to_pages(fields[0].value, page);
    stats.active_count = to_pages(fields[1].value, page);
    stats.inactive_count = to_pages(fields[2].value, page);
    std::uint64_t wired = 0;
    for (std::size_t i = 3; i < fields.size(); ++i) {
        wired = saturating_add(wired, fields[i].value);
    }
    stats.wire_count = to_pages(wired, page);
    fill_from_vmstat(*host, stats);

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
    auto text = read_file(*host, host->meminfo_path, buf, sizeof buf);
    if (!text) {
        return KERN_FAILURE;
    }
    std::array<Field, 2> fields{Field{"MemAvailable"}, Field{"MemTotal"}};
    if (!parse_fields(*text, fields)) {
        return KERN_FAILURE;
    }
    *available_bytes = fields[0].value;
    *total_bytes = fields[1].value;
    return KERN_SUCCESS;
}
