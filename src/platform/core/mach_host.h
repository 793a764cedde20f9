#pragma once
// The kernel host interface the memory sampler calls, answered from /proc on Linux.
// Call shapes and result codes follow the host interface it stands in for.

#include "platform/core/cgroup_memory.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using kern_return_t = int;
using vm_size_t = std::uint64_t;
using natural_t = std::uint32_t;
using mach_msg_type_number_t = natural_t;
using host_flavor_t = int;
using host_info_t = int*;

inline constexpr kern_return_t KERN_SUCCESS = 0;
inline constexpr kern_return_t KERN_INVALID_ARGUMENT = 4;
inline constexpr kern_return_t KERN_FAILURE = 5;
inline constexpr host_flavor_t HOST_VM_INFO = 2;

// The 32-bit virtual-memory statistics record, 15 words.
struct vm_statistics {
    natural_t free_count;
    natural_t active_count;
    natural_t inactive_count;
    natural_t wire_count;
    natural_t zero_fill_count;
    natural_t reactivations;
    natural_t pageins;
    natural_t pageouts;
    natural_t faults;
    natural_t cow_faults;
    natural_t lookups;
    natural_t hits;
    natural_t purgeable_count;
    natural_t purges;
    natural_t speculative_count;
};
using vm_statistics_data_t = vm_statistics;

inline constexpr mach_msg_type_number_t HOST_VM_INFO_COUNT =
    sizeof(vm_statistics_data_t) / sizeof(natural_t);
static_assert(HOST_VM_INFO_COUNT == 15);

// Where a host reads its counters. Tests point these at fixture files and fake trees.
// The meminfo file stays open between samples: reopening costs more than the kernel takes to
// fill it.
struct host_port {
    host_port(std::string meminfo, std::string root_folder, vm_size_t page)
        : meminfo_path(std::move(meminfo)), root(std::move(root_folder)), page_size(page) {}
    ~host_port();
    host_port(const host_port&) = delete;
    host_port& operator=(const host_port&) = delete;

    const std::string meminfo_path;
    // Where /proc/self/cgroup, /proc/self/mountinfo, /proc/pressure/memory and the cgroup mounts
    // are found: "/" for the live system, a folder for a fake tree, empty for none of them.
    const std::string root;
    const vm_size_t page_size; // 0: the system's page size

    // An open descriptor for the meminfo file, or -1 when it is missing or not a regular file.
    int meminfo_descriptor() const;

private:
    mutable std::atomic<int> meminfo_fd_{-1};
};
using host_t = std::shared_ptr<const host_port>;

// The process's own host, reading the live kernel counters.
host_t mach_host_self();
// A host reading other files, with an optional fixed page size. Without a root it knows of no
// cgroup limits and no pressure.
host_t make_host_port(std::string meminfo_path, std::string root = {}, vm_size_t page_size = 0);

kern_return_t host_page_size(const host_t& host, vm_size_t* out_page_size);
kern_return_t host_statistics(const host_t& host, host_flavor_t flavor, host_info_t info,
                              mach_msg_type_number_t* count);

// Memory the kernel says can be had without swapping, and the machine's total, in bytes.
// Not part of the original host interface: the cleaner needs it to stay clear of the OOM killer.
kern_return_t host_available_memory(const host_t& host, std::uint64_t* available_bytes,
                                    std::uint64_t* total_bytes);

// The finite memory limits of every cgroup above the process (see cgroup_memory.h); none for a
// host without a root.
std::vector<cgroup_memory_limit> host_memory_limits(const host_t& host);

// Memory pressure, "full avg10" in percent: the higher of the machine's and that of the
// process's own cgroup v2 folder. None when neither can be read.
std::optional<double> host_memory_pressure(const host_t& host);
