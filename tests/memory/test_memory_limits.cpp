// The limits a clean must stay under (cgroup v1, v2 and hybrid trees, MemAvailable, pressure),
// and available memory, swap and pressure for the details: kernels with and without swap and
// PSI, and kernel files that must not be trusted. All from fixture files.

#include "memory/FakeSystem.h"
#include "memory/MCMemoryController.h"
#include "memory/MCMemoryDetails.h"
#include "platform/core/memory_pressure.h"

#include <gtest/gtest.h>

#include <cstdio>
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
        // A limit whose usage cannot be read leaves no room that could be trusted.
        tree("limit_with_unreadable_usage", "0::/a\n", FakeSystem::kUnifiedMounts,
             v2(kV2 + "/a", bytes(300 * kMiB), "lots\n"),
             {{kV2 + "/a/memory.max", 300 * kMiB, 0, false}}),
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

struct ValueCase {
    const char* text;
    std::optional<std::uint64_t> bytes;
    bool unreadable;
};

TEST(CgroupValues, Table) {
    const ValueCase cases[] = {
        {"max\n", std::nullopt, false},
        {"0\n", 0, false},
        {"4611686018427387903", 4611686018427387903ULL, false}, // just below 2^62 still counts
        {"4611686018427387904\n", std::nullopt, false},
        {"99999999999999999999999\n", std::nullopt, false}, // past 2^64: no limit either
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

// FIFOs planted where kernel files should be: nothing waits for a writer that never comes, and
// a limit file that is there but unreadable leaves no room that could be assumed. Pressure is
// the higher of the machine's and the own cgroup's.
TEST(Pressure, FifosThenTheHigherOfTheMachineAndTheOwnCgroup) {
    FakeSystem system;
    system.setCgroups("0::/job.scope\n", FakeSystem::kUnifiedMounts);
    EXPECT_EQ(host_memory_pressure(system.host()), std::nullopt); // a kernel without PSI
    system.mkdir(kV2 + "/job.scope");
    system.mkdir("/proc/pressure");
    for (const std::string& path :
         {kV2 + "/job.scope/memory.max", std::string("/proc/pressure/memory")}) {
        ASSERT_EQ(::mkfifo((system.root() + path).c_str(), 0600), 0) << path;
    }
    const auto limits = host_memory_limits(system.host());
    ASSERT_EQ(limits.size(), 1u);
    EXPECT_FALSE(limits[0].known);
    EXPECT_EQ(host_memory_pressure(system.host()), std::nullopt);
    std::filesystem::remove(system.root() + "/proc/pressure/memory");
    system.setPressure("/proc/pressure/memory", 4.0);
    EXPECT_EQ(host_memory_pressure(system.host()), 4.0);
    system.setPressure(kV2 + "/job.scope/memory.pressure", 7.5);
    EXPECT_EQ(host_memory_pressure(system.host()), 7.5);
    system.setPressure("/proc/pressure/memory", 9.0);
    EXPECT_EQ(host_memory_pressure(system.host()), 9.0);
}

constexpr std::int64_t kKiB = 1024;

std::string meminfo(long long totalKb, long long availableKb, long long swapTotalKb,
                    long long swapFreeKb) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "MemTotal: %lld kB\nMemFree: 1000 kB\nMemAvailable: %lld kB\nActive: 10 kB\n"
                  "SwapCached: 0 kB\nSwapTotal: %lld kB\nSwapFree: %lld kB\n",
                  totalKb, availableKb, swapTotalKb, swapFreeKb);
    return text;
}

constexpr const char* kPsi = "some avg10=12.50 avg60=3.10 avg300=0.80 total=123456\n"
                             "full avg10=0.75 avg60=0.20 avg300=0.05 total=4567\n";

TEST(PressureText, ParsesBothFiguresOrNothing) {
    const struct {
        const char* name;
        std::string text;
        std::optional<pressure_averages> expected;
    } cases[] = {
        {"kernel text", kPsi, pressure_averages{12.5, 0.75}},
        {"full first", "full avg10=1.00 avg60=0 avg300=0 total=1\nsome avg10=2.00 avg60=0\n",
         pressure_averages{2.0, 1.0}},
        {"no trailing newline", "some avg10=0.00 avg60=0.00\nfull avg10=100.00",
         pressure_averages{0, 100}},
        {"cpu file before 5.13: no full line", "some avg10=4.00 avg60=0.00 avg300=0.00 total=9\n",
         std::nullopt},
        {"above 100 %", "some avg10=100.01 avg60=0\nfull avg10=0.00 avg60=0\n", std::nullopt},
        {"negative", "some avg10=-1.00 avg60=0\nfull avg10=0.00 avg60=0\n", std::nullopt},
        {"not a number", "some avg10=abc avg60=0\nfull avg10=0.00 avg60=0\n", std::nullopt},
        {"glued to the next field", "some avg10=1.00avg60=0\nfull avg10=0.00 avg60=0\n",
         std::nullopt},
        {"look-alike key", "somewhat avg10=1.00\nsome avg10=3.00 x\nfull avg10=0.50 x\n",
         pressure_averages{3.0, 0.5}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_pressure_avg10(c.text), c.expected) << c.name;
    }
}

TEST(MemoryDetails, FromFixtures) {
    const struct {
        const char* name;
        std::string meminfo;
        std::optional<std::string> psi; // none: no /proc/pressure/memory at all
        std::optional<MCMemoryDetails> expected;
    } cases[] = {
        {"with swap and PSI", meminfo(16000000, 12000000, 2097152, 1048576), kPsi,
         MCMemoryDetails{16000000 * kKiB, 12000000 * kKiB, 2097152 * kKiB, 1048576 * kKiB,
                         MCPressure{12.5, 0.75}}},
        {"PSI file that makes no sense", meminfo(8000000, 6000000, 0, 0), "garbage\n",
         MCMemoryDetails{8000000 * kKiB, 6000000 * kKiB, 0, 0, std::nullopt}},
        {"PSI file too large to be one", meminfo(8000000, 6000000, 0, 0),
         std::string(kPsi) + std::string(4096, 'x'),
         MCMemoryDetails{8000000 * kKiB, 6000000 * kKiB, 0, 0, std::nullopt}},
        {"no swap lines", "MemTotal: 100 kB\nMemAvailable: 50 kB\n", kPsi, std::nullopt},
        {"repeated field", meminfo(100, 50, 0, 0) + "MemAvailable: 60 kB\n", kPsi, std::nullopt},
    };
    for (const auto& c : cases) {
        FakeSystem system;
        system.write("/proc/meminfo", c.meminfo);
        if (c.psi) {
            system.write("/proc/pressure/memory", *c.psi);
        }
        EXPECT_EQ(MCMemoryDetailsReader(system.host()).currentDetails(), c.expected) << c.name;
    }
}

// Each sample reads the files afresh: a kept descriptor must not serve stale text. A FIFO nobody
// writes to, where a blocking read would hang the sample for ever, and a host without a root
// give no pressure, but still the memory.
TEST(MemoryDetails, FollowsChangingFilesAndLeavesOutPressureThatCannotBeTrusted) {
    FakeSystem system;
    system.write("/proc/meminfo", meminfo(1000, 900, 0, 0));
    system.mkdir("/proc/pressure");
    ASSERT_EQ(::mkfifo((system.root() + "/proc/pressure/memory").c_str(), 0600), 0);
    const MCMemoryDetailsReader reader(system.host());
    EXPECT_EQ(reader.currentDetails(), (MCMemoryDetails{1000 * kKiB, 900 * kKiB, 0, 0, {}}));
    std::filesystem::remove(system.root() + "/proc/pressure/memory");
    system.write("/proc/meminfo", meminfo(1000, 100, 0, 0));
    system.write("/proc/pressure/memory", "some avg10=50.00 x\nfull avg10=20.00 x\n");
    EXPECT_EQ(reader.currentDetails(),
              (MCMemoryDetails{1000 * kKiB, 100 * kKiB, 0, 0, MCPressure{50, 20}}));
    EXPECT_EQ(
        MCMemoryDetailsReader(make_host_port(system.root() + "/proc/meminfo")).currentDetails(),
        (MCMemoryDetails{1000 * kKiB, 100 * kKiB, 0, 0, {}}));
}

TEST(PressureState, ThresholdsAtTheirBoundaries) {
    using S = MCPressureState;
    const struct {
        double some10, full10;
        S expected;
    } cases[] = {
        {0.00, 0.00, S::None},   {9.99, 0.00, S::None},  {9.99, 0.99, S::None},
        {10.00, 0.00, S::Some},  {0.00, 1.00, S::Some},  {99.0, 9.99, S::Some},
        {10.00, 10.00, S::High}, {0.00, 10.00, S::High}, {100.0, 100.0, S::High},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pressureState(MCPressure{c.some10, c.full10}), c.expected)
            << "some " << c.some10 << " full " << c.full10;
    }
}

TEST(MemoryDetails, DerivedFigures) {
    const struct {
        MCMemoryDetails details;
        std::int64_t used;
        double fraction;
        std::int64_t swapUsed;
    } cases[] = {
        {{1000, 250, 400, 100, {}}, 750, 0.75, 300},
        // Counters read while they change can disagree: never below 0 or above everything.
        {{1000, 1200, 100, 150, {}}, 0, 0.0, 0},
        {{1000, -5, 0, 0, {}}, 1000, 1.0, 0},
        {{0, 0, 0, 0, {}}, 0, 0.0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.details.usedMemory(), c.used);
        EXPECT_DOUBLE_EQ(c.details.usedFraction(), c.fraction);
        EXPECT_EQ(c.details.swapUsed(), c.swapUsed);
    }
}

} // namespace
