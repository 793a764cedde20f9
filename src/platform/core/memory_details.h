#pragma once
// The figures beside the four-class sample: how much memory can still be had, swap, and memory
// pressure, all from one read of meminfo and one of the machine's PSI file.

#include "platform/core/mach_host.h"
#include "platform/core/memory_pressure.h"

#include <cstdint>
#include <optional>

struct memory_details {
    std::uint64_t total = 0;      // MemTotal
    std::uint64_t available = 0;  // MemAvailable: what can be had without swapping
    std::uint64_t swap_total = 0; // SwapTotal, 0 without swap
    std::uint64_t swap_free = 0;  // SwapFree
    // /proc/pressure/memory under the host's root; none without a root, on kernels built
    // without PSI, or booted with psi=0 (the file is then missing or refuses reads).
    std::optional<pressure_averages> pressure;
};

// KERN_SUCCESS with `out` filled, KERN_FAILURE when meminfo cannot be read or lacks a field
// (kernels before 3.14 have no MemAvailable). A pressure file that cannot be read is no failure.
kern_return_t host_memory_details(const host_t& host, memory_details* out);
