// The clean: three samples, passes capped by the configured limit and the headroom, written in
// chunks with the room looked at again before each one, pressure that stops a pass, and the
// progress it reports.

#include "memory/CleanDoubles.h"
#include "memory/FakeSystem.h"
#include "memory/MCUtil.h"

#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using End = MCCleanPass::End;
using Script = std::deque<std::optional<MCMemory>>;
using Sizes = std::vector<std::size_t>;

constexpr std::int64_t kMiB = static_cast<std::int64_t>(FakeSystem::kMiB);
constexpr std::int64_t kGiB = static_cast<std::int64_t>(FakeSystem::kGiB);
const std::string kLimitFile = "/sys/fs/cgroup/memory/job/memory.limit_in_bytes";
const std::string kUsageFile = "/sys/fs/cgroup/memory/job/memory.usage_in_bytes";

Script threeTimes(std::int64_t freeBytes) {
    return {freeAndInactive(freeBytes, 0), freeAndInactive(freeBytes, 0),
            freeAndInactive(freeBytes, 0)};
}

// A machine with 20 of 24 GiB available unless the test says otherwise.
struct Machine {
    Machine() { system.setMeminfo(20 * FakeSystem::kGiB, 24 * FakeSystem::kGiB); }
    ScriptedController controller(Script script, std::optional<std::int64_t> limit = std::nullopt,
                                  std::int64_t chunk = kMiB) {
        return ScriptedController(system.host(), allocator, limit, std::move(script), chunk);
    }
    FakeSystem system;
    std::shared_ptr<CheckingAllocator> allocator = std::make_shared<CheckingAllocator>();
};

// Roomy meminfo with `freeKb` free: 64 of 128 GiB available.
std::string meminfo(std::uint64_t freeKb) {
    return "MemTotal: 134217728 kB\nMemAvailable: 67108864 kB\nActive: 2000 kB\n"
           "Inactive: 3000 kB\nUnevictable: 4 kB\nSUnreclaim: 8 kB\nKernelStack: 12 kB\n"
           "PageTables: 16 kB\nMemFree: " +
           std::to_string(freeKb) + " kB\n";
}

// Bytes are pages times the page size, in 64 bits; a refused read is no sample at all.
TEST(MemorySample, PagesTimesPageSize) {
    const struct {
        std::string meminfo;
        vm_size_t page;
        std::optional<MCMemory> expected;
    } cases[] = {
        {meminfo(4000), 4096, MCMemory{4096000, 2000 * 1024, 3000 * 1024, 40 * 1024}},
        // Far more than 2^32 pages: the count saturates at 4294967295 pages of 16 KiB; partial
        // pages do not count.
        {meminfo(1ULL << 50), 16384, MCMemory{70368744161280, 125 * 16384, 187 * 16384, 2 * 16384}},
        {"MemFree: 12 kB\n", 4096, std::nullopt},
    };
    TempDir dir;
    for (const auto& c : cases) {
        MCMemoryController controller(make_host_port(dir.write("m", c.meminfo), {}, c.page),
                                      std::make_shared<MappedBlockAllocator>(), std::nullopt);
        EXPECT_EQ(controller.currentMemoryUsage(), c.expected) << c.meminfo;
    }
}

// Each pass is free plus inactive memory, capped by the limit and the headroom; the chunk is
// bigger than any pass here, so each pass is one block.
TEST(Clean, ThreeSamplesAndCappedPasses) {
    const struct {
        const char* name;
        Script script;
        std::optional<std::int64_t> limit;
        Sizes blocks;
        std::uint64_t available = 20 * FakeSystem::kGiB;
        std::uint64_t total = 24 * FakeSystem::kGiB;
    } cases[] = {
        {"no_sample_or_nothing_free",
         Script{std::nullopt, freeAndInactive(0, 0), freeAndInactive(-100, 50)}, std::nullopt,
         Sizes{}},
        {"samples_run_out", Script{freeAndInactive(5000, 0)}, std::nullopt, Sizes{5000}},
        {"configured_limit",
         Script{freeAndInactive(8192, 8192), freeAndInactive(100, 0), freeAndInactive(2048, 0)},
         1024, Sizes{1024, 100, 1024}},
        {"zero_limit_writes_nothing", threeTimes(8192), 0, Sizes{}},
        // 4 GiB machine: the reserve is the 256 MiB floor; 8 KiB of headroom above it.
        {"headroom_above_floor",
         Script{freeAndInactive(1 << 20, 1 << 20), freeAndInactive(1 << 20, 1 << 20),
                freeAndInactive(1, 0)},
         std::nullopt, Sizes{8192, 8192, 1}, 256 * FakeSystem::kMiB + 8192, 4 * FakeSystem::kGiB},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Machine m;
        m.system.setMeminfo(c.available, c.total);
        auto controller = m.controller(c.script, c.limit, MCMemoryController::kChunkBytes);
        controller.cleanMemory();
        EXPECT_EQ(controller.samples, 3);
        EXPECT_EQ(m.allocator->sizes, c.blocks);
        EXPECT_EQ(m.allocator->released, c.blocks);
        EXPECT_EQ(m.allocator->unwritten, 0u);
    }
}

TEST(Clean, UnreadableHeadroomMeansNoPass) {
    Machine m;
    m.system.write("/proc/meminfo", "MemTotal: 100 kB\n"); // samples work, the cap is unknown
    auto controller = m.controller(threeTimes(4096));
    controller.cleanMemory();
    EXPECT_EQ(controller.samples, 3);
    EXPECT_TRUE(m.allocator->sizes.empty());
}

// 8 MiB passes in 1 MiB chunks; the room at the start is 32 MiB either way.
TEST(CleanChunks, ThePassStopsWhenOthersTakeTheRoom) {
    using Passes = std::vector<std::pair<End, std::int64_t>>; // how each ended, what it wrote
    const struct {
        const char* name;
        bool cgroup;                  // else MemAvailable
        std::size_t othersAfterChunk; // the chunk (from 0) after which others take memory
        std::int64_t othersTake;
        Passes passes;
    } cases[] = {
        // After the third chunk another process takes 30 MiB: the cgroup is 1 MiB short of
        // its reserve, so pass 1 stops at 3 MiB; later passes fit in the 2 MiB left.
        {"cgroup_taken_mid_pass", true, 2, 30 * kMiB,
         Passes{{End::RoomTaken, 3 * kMiB}, {End::Written, 2 * kMiB}, {End::Written, 2 * kMiB}}},
        // Later passes start without headroom and write nothing.
        {"memavailable_taken_mid_pass", false, 4, 40 * kMiB,
         Passes{{End::RoomTaken, 5 * kMiB}, {End::NoHeadroom, 0}, {End::NoHeadroom, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Machine m;
        m.system.setCgroups("4:memory:/job\n", FakeSystem::kHybridMounts);
        m.system.write(kLimitFile, c.cgroup ? std::to_string(64 * kMiB) + "\n" // reserve: 32 MiB
                                            : "9223372036854771712\n");
        // Plays the kernel: what the clean holds is charged at once, and others take memory
        // after a given chunk. MemAvailable starts 32 MiB above its reserve, 5 % of 24 GiB.
        std::int64_t held = 0;
        std::int64_t others = 0;
        const auto publish = [&] {
            if (c.cgroup) {
                m.system.write(kUsageFile, std::to_string(held + others) + "\n");
            } else {
                m.system.setMeminfo(
                    static_cast<std::uint64_t>(32 * kMiB + 24 * kGiB / 20 - held - others),
                    24 * FakeSystem::kGiB);
            }
        };
        publish();
        m.allocator->afterAllocate = [&](std::size_t index, std::size_t size) {
            held += static_cast<std::int64_t>(size);
            others = index >= c.othersAfterChunk ? c.othersTake : 0;
            publish();
        };
        m.allocator->afterRelease = [&](std::size_t size) {
            held -= static_cast<std::int64_t>(size);
            publish();
        };
        const MCCleanOutcome outcome = m.controller(threeTimes(8 * kMiB)).clean({});
        EXPECT_EQ(held, 0); // everything went back
        Passes passes;
        for (const auto& pass : outcome.passes) {
            passes.emplace_back(pass.end, pass.written);
        }
        EXPECT_EQ(passes, c.passes);
        EXPECT_EQ(outcome.passes[0].limitedBy,
                  c.cgroup ? m.system.root() + kLimitFile : "MemAvailable");
    }
}

// Pressure rises with the second chunk of the first pass; above the mark the pass stops.
TEST(CleanChunks, AbovePressureMarkThePassStops) {
    for (const double fullAvg10 : {0.0, 9.99, 10.0, 10.01, 100.0}) {
        SCOPED_TRACE(fullAvg10);
        Machine m;
        m.system.setPressure("/proc/pressure/memory", 0.0);
        m.allocator->afterAllocate = [&](std::size_t index, std::size_t) {
            if (index == 1) {
                m.system.setPressure("/proc/pressure/memory", fullAvg10);
            }
        };
        const MCCleanOutcome outcome = m.controller(threeTimes(4 * kMiB)).clean({});
        if (fullAvg10 > 10.0) {
            EXPECT_EQ(outcome.passes[0].written, 2 * kMiB);
            for (const auto& pass : outcome.passes) { // still under pressure: nothing more
                EXPECT_EQ(pass.end, End::Pressure);
            }
            EXPECT_EQ(outcome.written(), 2 * kMiB);
        } else {
            EXPECT_EQ(outcome.written(), 12 * kMiB);
        }
        EXPECT_EQ(m.allocator->released.size(), static_cast<std::size_t>(outcome.written() / kMiB));
        EXPECT_EQ(m.allocator->unwritten, 0u);
    }
}

// All chunks of a pass are held until the pass ends: releasing each chunk after writing it
// would never make the kernel give up its caches.
TEST(CleanChunks, ChunksOfAPassAreHeldTogetherAndEveryByteWritten) {
    Machine m;
    // 3.5 MiB in 1 MiB chunks, then 1 MiB, then 2 MiB + 1 byte.
    auto controller = m.controller({freeAndInactive(3 * kMiB, kMiB / 2), freeAndInactive(kMiB, 0),
                                    freeAndInactive(2 * kMiB, 1)});
    controller.cleanMemory();
    const long long mib = kMiB;
    EXPECT_EQ(m.allocator->events,
              (std::vector<long long>{mib, mib, mib, mib / 2, -mib / 2, -mib, -mib, -mib, mib, -mib,
                                      mib, mib, 1, -1, -mib, -mib}));
    EXPECT_EQ(m.allocator->unwritten, 0u);
    EXPECT_EQ(controller.samples, 3);
}

TEST(CleanChunks, ARefusedChunkEndsOnlyItsPassAndFreesWhatItHeld) {
    Machine m;
    m.allocator->failAt = 2;
    const MCCleanOutcome outcome =
        m.controller(
             {freeAndInactive(4 * kMiB, 0), freeAndInactive(kMiB, 0), freeAndInactive(kMiB, 0)})
            .clean({});
    EXPECT_EQ(outcome.passes[0].end, End::AllocationFailed);
    EXPECT_EQ(outcome.passes[0].written, 2 * kMiB);
    // Two held chunks, then one per later pass, each written in full.
    EXPECT_EQ(m.allocator->released, (Sizes{kMiB, kMiB, kMiB, kMiB}));
    EXPECT_EQ(outcome.written(), 4 * kMiB);
}

TEST(CleanProgress, ClimbsToOneHundred) {
    using Percents = std::vector<int>;
    const struct {
        const char* name;
        Script script;
        std::optional<std::int64_t> limit;
        Percents expected;
    } cases[] = {
        // Four chunks a pass: each chunk is a twelfth of the clean.
        {"whole_passes",
         Script{freeAndInactive(4 * kMiB, 0), freeAndInactive(3 * kMiB, kMiB),
                freeAndInactive(0, 4 * kMiB)},
         std::nullopt, Percents{8, 16, 25, 33, 41, 50, 58, 66, 75, 83, 91, 100}},
        {"no_samples", Script{}, std::nullopt, Percents{33, 66, 100}},
        // A pass cut to 2 MiB by the limit counts whole once its two chunks are written.
        {"limited_pass",
         Script{freeAndInactive(4 * kMiB, 0), std::nullopt, freeAndInactive(kMiB, 0)}, 2 * kMiB,
         Percents{16, 33, 66, 100}},
    };
    for (const auto& c : cases) {
        Machine m;
        std::vector<int> seen;
        m.controller(c.script, c.limit).clean([&seen](int percent) { seen.push_back(percent); });
        EXPECT_EQ(seen, c.expected) << c.name;
    }
}

struct LimitCase {
    const char* text;
    std::optional<std::int64_t> bytes;
};

class ByteLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(ByteLimit, Parses) {
    EXPECT_EQ(MCMemoryController::parseByteLimit(GetParam().text), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ByteLimit,
    ::testing::Values(LimitCase{"0", 0}, LimitCase{"1048576", 1048576}, LimitCase{"4KiB", 4096},
                      LimitCase{"512M", 512 * kMiB}, LimitCase{"2GB", 2048 * kMiB},
                      LimitCase{"", std::nullopt}, LimitCase{"M", std::nullopt},
                      LimitCase{"-5", std::nullopt}, LimitCase{"1.5G", std::nullopt},
                      LimitCase{"4T", std::nullopt}, LimitCase{"9999999999G", std::nullopt},
                      LimitCase{"9223372036854775807", INT64_MAX},
                      LimitCase{"9223372036854775808", std::nullopt},
                      LimitCase{"18446744073709551616", std::nullopt},
                      LimitCase{"18446744073709551617", std::nullopt}));

// A limit that is not understood writes nothing and says so, showing the value without the
// control characters that could upset a terminal; one that is understood is quiet. The exact
// warning is checked where the command line prints it.
TEST(CleanLimit, EnvironmentLowersTheCapAndGarbageMeansNothingButSaysSo) {
    const std::tuple<const char*, std::optional<std::int64_t>, bool> cases[] = {
        {nullptr, std::nullopt, false},
        {"", std::nullopt, false},
        {"1M", kMiB, false},
        {"\x1b[2Jbad", 0, true}};
    for (const auto& [value, capAtMost, warns] : cases) {
        const ScopedEnv env({{MCMemoryController::kMaxBytesEnv, value}});
        const MCMemoryController controller;
        SCOPED_TRACE(value != nullptr ? value : "(unset)");
        if (capAtMost) {
            EXPECT_LE(controller.passCap(), *capAtMost);
        }
        const auto& warning = controller.configurationWarning();
        ASSERT_EQ(warning.has_value(), warns);
        if (warns) {
            EXPECT_NE(warning->find(MCMemoryController::kMaxBytesEnv), std::string::npos);
            for (char ch : *warning) {
                EXPECT_TRUE(ch >= 0x20 && ch < 0x7f);
            }
        }
    }
}

struct SizeCase {
    std::int64_t bytes;
    const char* text;
};

class FriendlySize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(FriendlySize, FormatsLikePeopleRead) {
    EXPECT_EQ(MCUtil::friendlySizeNumber(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FriendlySize,
    ::testing::Values(SizeCase{0, "0 B"}, SizeCase{-1, "-1 B"},
                      SizeCase{-5000000000, "-5000000000 B"}, SizeCase{1024, "1024 B"},
                      SizeCase{1025, "1.00 KB"}, SizeCase{1030, "1.01 KB"},
                      SizeCase{1536, "1.50 KB"}, SizeCase{1048575, "1024.00 KB"},
                      SizeCase{1048576, "1024.00 KB"}, SizeCase{1048577, "1.00 MB"},
                      SizeCase{10485760, "10.00 MB"}, SizeCase{1073741824, "1024.00 MB"},
                      // The float of 2^30 + 64 is 2^30 exactly; + 65 rounds above it.
                      SizeCase{1073741888, "1024.00 MB"}, SizeCase{1073741889, "1.00 GB"},
                      SizeCase{5905580032, "5.50 GB"}, SizeCase{8589934592, "8.00 GB"},
                      SizeCase{123456789012, "114.98 GB"}, SizeCase{2199023255552, "2048.00 GB"},
                      SizeCase{INT64_MAX, "8589934592.00 GB"},
                      SizeCase{INT64_MIN, "-9223372036854775808 B"}));

// The panel samples on the main thread while a clean runs on another; both share one host.
TEST(MemoryThreads, SamplingWhileCleaningOnTheLiveHost) {
    auto controller = std::make_shared<MCMemoryController>(
        mach_host_self(), std::make_shared<MappedBlockAllocator>(), 1 << 20);
    std::atomic<bool> cleaning{true};
    std::thread clean([&] {
        for (int i = 0; i < 5; ++i) {
            controller->cleanMemory();
        }
        cleaning = false;
    });
    int samples = 0;
    int missing = 0;
    while (cleaning || samples < 50) {
        auto sample = controller->currentMemoryUsage();
        missing += !sample;
        ++samples;
    }
    clean.join();
    EXPECT_EQ(missing, 0) << "of " << samples;
}

} // namespace
