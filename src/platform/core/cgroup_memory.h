#pragma once
// The memory limits of the cgroups the process lives in: cgroup v1 (the memory controller's
// hierarchy), v2 (the unified hierarchy) and hybrid set-ups with both. Everything is read under
// a root folder, so tests can hand in a fake /proc and /sys.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One limit on the process's memory, as read at one moment.
struct cgroup_memory_limit {
    std::string file;        // where the limit was read, e.g. ".../memory.max"
    std::uint64_t limit = 0; // bytes
    std::uint64_t usage = 0; // bytes charged against it now
    // False when a limit is set but it or its usage could not be read: no room can be assumed.
    bool known = true;

    // Bytes that may still be charged before the limit is reached.
    std::uint64_t room() const { return known && limit > usage ? limit - usage : 0; }
};

// The cgroup folders whose limits bind the process, innermost first, up to the root of what
// is mounted. Either list is empty when that hierarchy is not there or not visible.
struct memory_cgroups {
    std::vector<std::string> v1; // memory controller of cgroup v1
    std::vector<std::string> v2; // unified hierarchy
};

// Reads `<root>/proc/self/cgroup` and `<root>/proc/self/mountinfo`; mount points are taken
// under `root` too. An empty root means the live system.
memory_cgroups find_memory_cgroups(std::string_view root);

// Every finite limit of those folders (v2: memory.max and memory.high against memory.current;
// v1: memory.limit_in_bytes against memory.usage_in_bytes and, where swap is accounted,
// memory.memsw.limit_in_bytes against memory.memsw.usage_in_bytes). "max" and values of
// 2^62 bytes and more mean no limit; a missing limit file is no limit.
std::vector<cgroup_memory_limit> read_memory_limits(const memory_cgroups& cgroups);

// A limit file's value: bytes, or none for "max" and the huge numbers that mean unlimited.
// Text that is neither yields `unreadable`.
struct cgroup_value {
    std::optional<std::uint64_t> bytes;
    bool unreadable = false;
};
cgroup_value parse_cgroup_value(std::string_view text);
