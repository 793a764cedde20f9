// Passes written in chunks: the room is looked at again before every chunk, pressure stops a
// pass, the chunks of a pass stay held until it ends, and progress climbs to 100 %.

#include "memory/CleanDoubles.h"
#include "memory/FakeSystem.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr std::int64_t kMiB = static_cast<std::int64_t>(FakeSystem::kMiB);
constexpr std::int64_t kGiB = static_cast<std::int64_t>(FakeSystem::kGiB);
const std::string kLimitFile = "/sys/fs/cgroup/memory/job/memory.limit_in_bytes";
const std::string kUsageFile = "/sys/fs/cgroup/memory/job/memory.usage_in_bytes";

using End = MCCleanPass::End;

// Plays the kernel for one constraint: what the clean holds is charged at once, and another
// process may take memory before a given chunk.
struct Kernel {
    enum class Constraint { Cgroup, MemAvailable };
    FakeSystem& system;
    Constraint constraint;
    std::int64_t base; // cgroup usage, or MemAvailable, before the clean
    std::int64_t held = 0;
    std::int64_t others = 0;

    void publish() const {
        if (constraint == Constraint::Cgroup) {
            system.write(kUsageFile, std::to_string(base + held + others) + "\n");
        } else {
            system.setMeminfo(static_cast<std::uint64_t>(base - held - others),
                              24 * FakeSystem::kGiB);
        }
    }
};

struct ShrinkCase {
    const char* name;
    Kernel::Constraint constraint;
    std::size_t othersAfterChunk; // the chunk (from 0) after which others take memory
    std::int64_t othersTake;
    std::vector<std::size_t> chunks; // every chunk granted, in order, over all three passes
    std::array<End, 3> ends;
    std::array<std::int64_t, 3> written;
};

class RoomShrinks : public ::testing::TestWithParam<ShrinkCase> {};

// 8 MiB passes in 1 MiB chunks; the room at the start is 32 MiB either way.
TEST_P(RoomShrinks, ThePassStopsWhenOthersTakeTheRoom) {
    const ShrinkCase& c = GetParam();
    FakeSystem system;
    system.setCgroups("4:memory:/job\n", FakeSystem::kHybridMounts);
    Kernel kernel{system, c.constraint, 0};
    if (c.constraint == Kernel::Constraint::Cgroup) {
        system.write(kLimitFile, std::to_string(64 * kMiB) + "\n"); // reserve: 32 MiB
        system.setMeminfo(20 * FakeSystem::kGiB, 24 * FakeSystem::kGiB);
        kernel.base = 0;
    } else {
        system.write(kLimitFile, "9223372036854771712\n");
        kernel.base = 32 * kMiB + 24 * kGiB / 20; // the reserve is 5 % of 24 GiB
    }
    kernel.publish();

    auto allocator = std::make_shared<CheckingAllocator>();
    allocator->afterAllocate = [&](std::size_t index, std::size_t size) {
        kernel.held += static_cast<std::int64_t>(size);
        if (index == c.othersAfterChunk) {
            kernel.others = c.othersTake;
        }
        kernel.publish();
    };
    allocator->afterRelease = [&](std::size_t size) {
        kernel.held -= static_cast<std::int64_t>(size);
        kernel.publish();
    };
    ScriptedController controller(system.host(), allocator, std::nullopt,
                                  {freeAndInactive(6 * kMiB, 2 * kMiB),
                                   freeAndInactive(6 * kMiB, 2 * kMiB),
                                   freeAndInactive(6 * kMiB, 2 * kMiB)},
                                  kMiB);
    const MCCleanOutcome outcome = controller.clean({});

    std::vector<std::size_t> granted;
    for (long long e : allocator->events) {
        if (e > 0) {
            granted.push_back(static_cast<std::size_t>(e));
        }
    }
    EXPECT_EQ(granted, c.chunks);
    EXPECT_EQ(allocator->unwritten, 0u);
    EXPECT_EQ(kernel.held, 0); // everything went back
    const std::string limitedBy =
        c.constraint == Kernel::Constraint::Cgroup ? system.root() + kLimitFile : "MemAvailable";
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(outcome.passes[i].end, c.ends[i]) << "pass " << i;
        EXPECT_EQ(outcome.passes[i].written, c.written[i]) << "pass " << i;
        if (c.ends[i] == End::RoomTaken) {
            EXPECT_EQ(outcome.passes[i].limitedBy, limitedBy) << "pass " << i;
        }
    }
}

const std::size_t M = static_cast<std::size_t>(kMiB);

INSTANTIATE_TEST_SUITE_P(
    Constraints, RoomShrinks,
    ::testing::Values(
        // Nobody else: three whole passes of eight chunks.
        ShrinkCase{"cgroup_untouched",
                   Kernel::Constraint::Cgroup,
                   1000,
                   0,
                   std::vector<std::size_t>(24, M),
                   {End::Written, End::Written, End::Written},
                   {8 * kMiB, 8 * kMiB, 8 * kMiB}},
        // After the third chunk another process takes 30 MiB: the cgroup is 1 MiB short of
        // its reserve, so pass 1 stops at 3 MiB; later passes fit in the 2 MiB left.
        ShrinkCase{"cgroup_taken_mid_pass",
                   Kernel::Constraint::Cgroup,
                   2,
                   30 * kMiB,
                   {M, M, M, M, M, M, M},
                   {End::RoomTaken, End::Written, End::Written},
                   {3 * kMiB, 2 * kMiB, 2 * kMiB}},
        // Half a chunk of room is left: the pass writes just that much and stops; later passes
        // are sized to the 2.5 MiB left.
        ShrinkCase{"cgroup_partly_taken",
                   Kernel::Constraint::Cgroup,
                   1,
                   29 * kMiB + kMiB / 2,
                   {M, M, M / 2, M, M, M / 2, M, M, M / 2},
                   {End::RoomTaken, End::Written, End::Written},
                   {2 * kMiB + kMiB / 2, 2 * kMiB + kMiB / 2, 2 * kMiB + kMiB / 2}},
        ShrinkCase{"memavailable_taken_mid_pass",
                   Kernel::Constraint::MemAvailable,
                   4,
                   40 * kMiB,
                   std::vector<std::size_t>(5, M),
                   {End::RoomTaken, End::NoHeadroom, End::NoHeadroom},
                   {5 * kMiB, 0, 0}}),
    [](const auto& p) { return std::string(p.param.name); });

struct PressureCase {
    double fullAvg10;
    bool stops;
};

class PressureStop : public ::testing::TestWithParam<PressureCase> {};

// Pressure rises before the third chunk of the first pass.
TEST_P(PressureStop, AbovePressureMarkThePassStops) {
    const PressureCase& c = GetParam();
    FakeSystem system;
    system.setMeminfo(20 * FakeSystem::kGiB, 24 * FakeSystem::kGiB);
    system.setPressure("/proc/pressure/memory", 0.0);
    auto allocator = std::make_shared<CheckingAllocator>();
    allocator->beforeAllocate = [&](std::size_t index, std::size_t) {
        if (index == 1) {
            system.setPressure("/proc/pressure/memory", c.fullAvg10);
        }
    };
    ScriptedController controller(
        system.host(), allocator, std::nullopt,
        {freeAndInactive(4 * kMiB, 0), freeAndInactive(4 * kMiB, 0), freeAndInactive(4 * kMiB, 0)},
        kMiB);
    const MCCleanOutcome outcome = controller.clean({});
    if (c.stops) {
        EXPECT_EQ(outcome.passes[0].end, End::Pressure);
        EXPECT_EQ(outcome.passes[0].written, 2 * kMiB);
        for (std::size_t i = 1; i < 3; ++i) { // still under pressure: nothing written
            EXPECT_EQ(outcome.passes[i].end, End::Pressure);
            EXPECT_EQ(outcome.passes[i].written, 0);
        }
        EXPECT_EQ(allocator->released.size(), 2u);
    } else {
        EXPECT_EQ(outcome.written(), 12 * kMiB);
        EXPECT_EQ(allocator->released.size(), 12u);
    }
    EXPECT_EQ(allocator->unwritten, 0u);
}

INSTANTIATE_TEST_SUITE_P(Marks, PressureStop,
                         ::testing::Values(PressureCase{0.0, false}, PressureCase{9.99, false},
                                           PressureCase{10.0, false}, PressureCase{10.01, true},
                                           PressureCase{100.0, true}));

// All chunks of a pass are held until the pass ends: releasing each chunk after writing it
// would never make the kernel give up its caches.
TEST(CleanChunks, ChunksOfAPassAreHeldTogetherAndEveryByteWritten) {
    FakeSystem system;
    system.setMeminfo(20 * FakeSystem::kGiB, 24 * FakeSystem::kGiB);
    auto allocator = std::make_shared<CheckingAllocator>();
    // 3.5 MiB in 1 MiB chunks, then 1 MiB, then 2 MiB + 1 byte.
    ScriptedController controller(system.host(), allocator, std::nullopt,
                                  {freeAndInactive(3 * kMiB, kMiB / 2), freeAndInactive(kMiB, 0),
                                   freeAndInactive(2 * kMiB, 1)},
                                  kMiB);
    controller.cleanMemory();
    const long long m = kMiB;
    EXPECT_EQ(allocator->events, (std::vector<long long>{m, m, m, m / 2, -m / 2, -m, -m, -m, m, -m,
                                                         m, m, 1, -1, -m, -m}));
    EXPECT_EQ(allocator->unwritten, 0u);
    EXPECT_EQ(controller.samples, 3);
}

TEST(CleanChunks, ARefusedChunkEndsOnlyItsPassAndFreesWhatItHeld) {
    FakeSystem system;
    system.setMeminfo(20 * FakeSystem::kGiB, 24 * FakeSystem::kGiB);
    auto allocator = std::make_shared<CheckingAllocator>();
    allocator->failAt = 2;
    ScriptedController controller(
        system.host(), allocator, std::nullopt,
        {freeAndInactive(4 * kMiB, 0), freeAndInactive(kMiB, 0), freeAndInactive(kMiB, 0)}, kMiB);
    const MCCleanOutcome outcome = controller.clean({});
    EXPECT_EQ(outcome.passes[0].end, End::AllocationFailed);
    EXPECT_EQ(outcome.passes[0].written, 2 * kMiB);
    EXPECT_EQ(outcome.passes[1].end, End::Written);
    EXPECT_EQ(outcome.passes[2].end, End::Written);
    EXPECT_EQ(allocator->released.size(), 4u); // two held chunks, then one per later pass
}

struct ProgressCase {
    const char* name;
    std::deque<std::optional<MCMemory>> script;
    std::optional<std::int64_t> limit;
    std::vector<int> expected;
};

class CleanProgress : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(CleanProgress, ClimbsToOneHundred) {
    const ProgressCase& c = GetParam();
    FakeSystem system;
    system.setMeminfo(20 * FakeSystem::kGiB, 24 * FakeSystem::kGiB);
    ScriptedController controller(system.host(), std::make_shared<CheckingAllocator>(), c.limit,
                                  c.script, kMiB);
    std::vector<int> seen;
    controller.clean([&seen](int percent) { seen.push_back(percent); });
    EXPECT_EQ(seen, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CleanProgress,
    ::testing::Values(
        // Four chunks a pass: each chunk is a twelfth of the clean.
        ProgressCase{"whole_passes",
                     {freeAndInactive(4 * kMiB, 0), freeAndInactive(3 * kMiB, kMiB),
                      freeAndInactive(0, 4 * kMiB)},
                     std::nullopt,
                     {8, 16, 25, 33, 41, 50, 58, 66, 75, 83, 91, 100}},
        ProgressCase{"no_samples", {}, std::nullopt, {33, 66, 100}},
        ProgressCase{"nothing_allowed",
                     {freeAndInactive(4 * kMiB, 0), freeAndInactive(4 * kMiB, 0),
                      freeAndInactive(4 * kMiB, 0)},
                     0,
                     {33, 66, 100}},
        // A pass cut to 2 MiB by the limit counts whole once its two chunks are written.
        ProgressCase{"limited_pass",
                     {freeAndInactive(4 * kMiB, 0), std::nullopt, freeAndInactive(kMiB, 0)},
                     2 * kMiB,
                     {16, 33, 66, 100}}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace
