// The limits a clean must stay under: cgroup v1, v2 and hybrid trees, MemAvailable, pressure.

#include "memory/FakeSystem.h"
#include "memory/MCMemoryController.h"
#include "platform/core/memory_pressure.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <vector>

namespace {

constexpr std::uint64_t kMiB = FakeSystem::kMiB;
constexpr std::uint64_t kGiB = FakeSystem::kGiB;
constexpr const char* kV1Unlimited = "9223372036854771712\n";

std::string bytes(std::uint64_t n) {
    return std::to_string(n) + "\n";
}

struct File {
    std::string path;
    std::string contents;
};
using Files = std::vector<File>;

// The limit and usage files of a v1 counter (`kind` "memory" or "memory.memsw") in `dir`.
Files v1(const std::string& dir, const std::string& limit, const std::string& usage,
         const std::string& kind = "memory") {
    return {{dir + "/" + kind + ".limit_in_bytes", limit},
            {dir + "/" + kind + ".usage_in_bytes", usage}};
}
// The files of a v2 cgroup in `dir`; an empty `high` leaves memory.high out.
Files v2(const std::string& dir, const std::string& max, const std::string& current,
         const std::string& high = "") {
    Files files = {{dir + "/memory.max", max}, {dir + "/memory.current", current}};
    if (!high.empty()) {
        files.push_back({dir + "/memory.high", high});
    }
    return files;
}
Files operator+(Files a, const Files& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Expected {
    std::string file; // seen from the fake root
    std::uint64_t limit;
    std::uint64_t usage;
    bool known = true;
};

struct TreeCase {
    const char* name;
    std::string procSelfCgroup;
    std::string mountinfo;
    std::vector<File> files;
    std::vector<Expected> limits; // innermost first; v2 before v1
};
TreeCase tree(const char* name, const std::string& procSelfCgroup, const std::string& mountinfo,
              const Files& files, const std::vector<Expected>& limits) {
    return {name, procSelfCgroup, mountinfo, files, limits};
}

const std::string kV1 = "/sys/fs/cgroup/memory";
const std::string kV2 = "/sys/fs/cgroup";
const std::string kUnified = "/sys/fs/cgroup/unified";

std::vector<TreeCase> treeCases() {
    const std::string scope = "/user.slice/user-1000.slice/session-2.scope";
    const std::string job = kV1 + "/process_api/job";
    return {
        tree("v2_nested_only_finite_limits_count", "0::" + scope + "\n", FakeSystem::kUnifiedMounts,
             v2(kV2 + "/user.slice", "max\n", bytes(3 * kGiB), "max\n") +
                 v2(kV2 + "/user.slice/user-1000.slice", bytes(2 * kGiB), bytes(1536 * kMiB),
                    "max\n") +
                 v2(kV2 + scope, "max\n", bytes(100 * kMiB), bytes(1 * kGiB)),
             {{kV2 + scope + "/memory.high", 1 * kGiB, 100 * kMiB},
              {kV2 + "/user.slice/user-1000.slice/memory.max", 2 * kGiB, 1536 * kMiB}}),
        tree("v1_nested_with_memsw", "9:name=systemd:/\n4:memory:/process_api/job\n3:cpuset:/\n",
             FakeSystem::kHybridMounts,
             v1(kV1, kV1Unlimited, bytes(5 * kGiB)) +
                 v1(kV1 + "/process_api", bytes(8 * kGiB), bytes(1 * kGiB)) +
                 v1(job, bytes(600 * kMiB), bytes(100 * kMiB)) +
                 v1(job, bytes(700 * kMiB), bytes(650 * kMiB), "memory.memsw"),
             {{job + "/memory.limit_in_bytes", 600 * kMiB, 100 * kMiB},
              {job + "/memory.memsw.limit_in_bytes", 700 * kMiB, 650 * kMiB},
              {kV1 + "/process_api/memory.limit_in_bytes", 8 * kGiB, 1 * kGiB}}),
        // Hybrid: the unified tree has no memory controller, so only v1 limits exist.
        tree("hybrid_both_hierarchies", "4:memory:/app\n0::/app.scope\n", FakeSystem::kHybridMounts,
             Files{{kUnified + "/app.scope/memory.pressure", "some avg10=0.00\n"}} +
                 v1(kV1 + "/app", bytes(1 * kGiB), bytes(10 * kMiB)),
             {{kV1 + "/app/memory.limit_in_bytes", 1 * kGiB, 10 * kMiB}}),
        // Inside a container the mount shows only the container's part of the hierarchy.
        tree("v1_mount_of_a_subtree", "5:cpu,memory:/docker/abc/inner\n",
             "40 31 0:37 /docker/abc /sys/fs/cgroup/memory ro - cgroup cgroup rw,cpu,memory\n",
             v1(kV1 + "/inner", bytes(256 * kMiB), bytes(6 * kMiB)) +
                 v1(kV1, bytes(512 * kMiB), bytes(16 * kMiB)),
             {{kV1 + "/inner/memory.limit_in_bytes", 256 * kMiB, 6 * kMiB},
              {kV1 + "/memory.limit_in_bytes", 512 * kMiB, 16 * kMiB}}),
        // Mount points with spaces are octal-escaped in mountinfo.
        tree("escaped_mount_point", "0::/a\n",
             "30 23 0:26 / /sys/fs/my\\040cgroup rw - cgroup2 cgroup2 rw\n",
             v2("/sys/fs/my cgroup/a", bytes(300 * kMiB), bytes(3 * kMiB)),
             {{"/sys/fs/my cgroup/a/memory.max", 300 * kMiB, 3 * kMiB}}),
        // A cgroup outside our namespace must not lead the reader out of the mount.
        tree("path_outside_the_namespace", "0::/../../etc\n", FakeSystem::kUnifiedMounts,
             v2("/sys/etc", bytes(1 * kMiB), bytes(0)), {}),
        tree("no_mount_for_the_hierarchy", "4:memory:/app\n",
             "41 31 0:38 / /sys/fs/cgroup/unified rw,relatime - cgroup2 cgroup2 rw\n",
             v1(kV1 + "/app", bytes(1 * kGiB), bytes(0)), {}),
        tree("v1_unlimited_everywhere", "4:memory:/a/b\n", FakeSystem::kHybridMounts,
             v1(kV1 + "/a/b", kV1Unlimited, bytes(1 * kGiB)) +
                 Files{{kV1 + "/a/memory.limit_in_bytes", "9223372036854710272\n"}, // 64 KiB pages
                       {kV1 + "/memory.limit_in_bytes", kV1Unlimited}},
             {}),
        // A limit whose usage cannot be read leaves no room that could be trusted.
        tree("limit_with_unreadable_usage", "0::/a\n", FakeSystem::kUnifiedMounts,
             v2(kV2 + "/a", bytes(300 * kMiB), "lots\n"),
             {{kV2 + "/a/memory.max", 300 * kMiB, 0, false}}),
        tree("garbage_limit", "0::/a\n", FakeSystem::kUnifiedMounts,
             v2(kV2 + "/a", "-1\n", bytes(0)), {{kV2 + "/a/memory.max", 0, 0, false}}),
    };
}

class CgroupTrees : public ::testing::TestWithParam<TreeCase> {};

TEST_P(CgroupTrees, FindsEveryFiniteLimitAboveTheProcess) {
    const TreeCase& c = GetParam();
    FakeSystem system;
    system.setCgroups(c.procSelfCgroup, c.mountinfo);
    for (const File& f : c.files) {
        system.write(f.path, f.contents);
    }
    const auto limits = host_memory_limits(system.host());
    ASSERT_EQ(limits.size(), c.limits.size());
    for (std::size_t i = 0; i < limits.size(); ++i) {
        EXPECT_EQ(limits[i].file, system.root() + c.limits[i].file) << i;
        EXPECT_EQ(limits[i].known, c.limits[i].known) << limits[i].file;
        if (c.limits[i].known) {
            EXPECT_EQ(limits[i].limit, c.limits[i].limit) << limits[i].file;
            EXPECT_EQ(limits[i].usage, c.limits[i].usage) << limits[i].file;
        } else {
            EXPECT_EQ(limits[i].room(), 0u) << limits[i].file;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Trees, CgroupTrees, ::testing::ValuesIn(treeCases()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(CgroupTrees, NothingToReadMeansNoLimits) {
    FakeSystem system;
    EXPECT_TRUE(host_memory_limits(system.host()).empty()); // no /proc/self/cgroup at all
    // A host without a root never looks at the live system's cgroups.
    EXPECT_TRUE(host_memory_limits(make_host_port(system.root() + "/proc/meminfo")).empty());
}

struct ValueCase {
    const char* text;
    std::optional<std::uint64_t> bytes;
    bool unreadable;
};

TEST(CgroupValues, Table) {
    const ValueCase cases[] = {
        {"max\n", std::nullopt, false},
        {"629145600\n", 629145600, false},
        {"0\n", 0, false},
        {"4611686018427387903", 4611686018427387903ULL, false}, // just below 2^62 still counts
        {"4611686018427387904\n", std::nullopt, false},
        {"99999999999999999999999\n", std::nullopt, false}, // past 2^64: no limit either
        {"", std::nullopt, true},
        {"12 kB\n", std::nullopt, true},
        {"-1\n", std::nullopt, true},
        {"Max\n", std::nullopt, true},
    };
    for (const auto& c : cases) {
        const cgroup_value value = parse_cgroup_value(c.text);
        EXPECT_EQ(value.bytes, c.bytes) << c.text;
        EXPECT_EQ(value.unreadable, c.unreadable) << c.text;
    }
}

// Headroom: MemAvailable less max(256 MiB, 5 %), and every cgroup's room less max(32 MiB, 5 %).
TEST(Headroom, SmallestRoomLessItsReserveWins) {
    const std::string job = kV1 + "/job";
    const std::string scope = kUnified + "/job.scope";
    const struct {
        const char* name;
        std::uint64_t available, total;
        Files files; // under a v1 cgroup /job and a v2 cgroup /job.scope
        std::int64_t bytes;
        std::string limitedBy; // seen from the fake root
    } cases[] = {
        {"memavailable_small_machine", 2 * kGiB, 4 * kGiB, {}, 1792 * kMiB, "MemAvailable"},
        {"memavailable_five_percent", 20 * kGiB, 40 * kGiB, {}, 18 * kGiB, "MemAvailable"},
        {"cgroup_below_memavailable", 20 * kGiB, 24 * kGiB,
         v1(job, bytes(600 * kMiB), bytes(40 * kMiB)), 528 * kMiB, job + "/memory.limit_in_bytes"},
        // 5 % of an 8 GiB limit is more than the 32 MiB floor.
        {"cgroup_five_percent_reserve", 20 * kGiB, 24 * kGiB,
         v1(job, bytes(8 * kGiB), bytes(6 * kGiB)),
         static_cast<std::int64_t>(2 * kGiB - 8 * kGiB / 20), job + "/memory.limit_in_bytes"},
        {"memsw_tighter_than_memory", 20 * kGiB, 24 * kGiB,
         v1(job, bytes(1 * kGiB), bytes(100 * kMiB)) +
             v1(job, bytes(1 * kGiB), bytes(900 * kMiB), "memory.memsw"),
         static_cast<std::int64_t>(124 * kMiB - 1 * kGiB / 20),
         job + "/memory.memsw.limit_in_bytes"},
        {"v2_high_in_hybrid", 20 * kGiB, 24 * kGiB,
         v2(scope, "max\n", bytes(300 * kMiB), bytes(400 * kMiB)), 68 * kMiB,
         scope + "/memory.high"},
        {"cgroup_bigger_than_memavailable", 1 * kGiB, 16 * kGiB,
         v1(job, bytes(12 * kGiB), bytes(1 * kGiB)),
         static_cast<std::int64_t>(1 * kGiB - 16 * kGiB / 20), "MemAvailable"},
        {"cgroup_over_its_limit", 20 * kGiB, 24 * kGiB,
         v1(job, bytes(100 * kMiB), bytes(120 * kMiB)), -static_cast<std::int64_t>(32 * kMiB),
         job + "/memory.limit_in_bytes"},
    };
    for (const auto& c : cases) {
        FakeSystem system;
        system.setMeminfo(c.available, c.total);
        system.setCgroups("4:memory:/job\n0::/job.scope\n", FakeSystem::kHybridMounts);
        system.mkdir(job);
        system.mkdir(scope);
        for (const File& f : c.files) {
            system.write(f.path, f.contents);
        }
        const MCHeadroom room =
            MCMemoryController(system.host(), std::make_shared<MappedBlockAllocator>(),
                               std::nullopt)
                .headroom();
        EXPECT_EQ(room.bytes, c.bytes) << c.name;
        EXPECT_EQ(room.limitedBy,
                  c.limitedBy == "MemAvailable" ? c.limitedBy : system.root() + c.limitedBy)
            << c.name;
    }
}

// The parsing rules themselves are shared with the reading of both figures (memory details).
TEST(Pressure, FullAvg10FromThePsiText) {
    EXPECT_EQ(parse_full_avg10("some avg10=3.10 avg60=1.00 avg300=0.20 total=5\n"
                               "full avg10=2.50 avg60=0.50 avg300=0.10 total=3\n"),
              2.5);
    EXPECT_EQ(parse_full_avg10("full avg10=101.00 avg60=0.00\n"), std::nullopt);
    EXPECT_EQ(parse_full_avg10("some avg10=3.10 avg60=1.00 avg300=0.20 total=5\n"), std::nullopt);
}

TEST(Pressure, HigherOfTheMachineAndTheOwnCgroup) {
    FakeSystem system;
    system.setCgroups("0::/job.scope\n", FakeSystem::kUnifiedMounts);
    EXPECT_EQ(host_memory_pressure(system.host()), std::nullopt); // a kernel without PSI
    system.setPressure("/proc/pressure/memory", 4.0);
    EXPECT_EQ(host_memory_pressure(system.host()), 4.0);
    system.setPressure(kV2 + "/job.scope/memory.pressure", 7.5);
    EXPECT_EQ(host_memory_pressure(system.host()), 7.5);
    system.setPressure("/proc/pressure/memory", 9.0);
    EXPECT_EQ(host_memory_pressure(system.host()), 9.0);
}

// FIFOs planted where kernel files should be: nothing waits for a writer that never comes.
TEST(NonRegularFiles, AFifoIsNoCounterFileAndNothingHangs) {
    FakeSystem system;
    system.setCgroups("0::/job.scope\n", FakeSystem::kUnifiedMounts);
    system.mkdir(kV2 + "/job.scope");
    system.mkdir("/proc/pressure");
    for (const std::string& path :
         {kV2 + "/job.scope/memory.max", std::string("/proc/pressure/memory")}) {
        ASSERT_EQ(::mkfifo((system.root() + path).c_str(), 0600), 0) << path;
    }
    // The limit file is there but unreadable: its room is unknown, so none can be assumed.
    const auto limits = host_memory_limits(system.host());
    ASSERT_EQ(limits.size(), 1u);
    EXPECT_FALSE(limits[0].known);
    EXPECT_EQ(host_memory_pressure(system.host()), std::nullopt);
}

} // namespace
