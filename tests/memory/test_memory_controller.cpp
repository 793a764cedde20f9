#include "memory/CleanDoubles.h"
#include "memory/MCMemoryController.h"

#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <vector>

namespace {

std::string meminfo(std::uint64_t freeKb, std::uint64_t availableKb = 8 * 1024 * 1024,
                    std::uint64_t totalKb = 16 * 1024 * 1024) {
    return "MemTotal: " + std::to_string(totalKb) + " kB\nMemFree: " + std::to_string(freeKb) +
           " kB\nMemAvailable: " + std::to_string(availableKb) +
           " kB\nActive: 2000 kB\nInactive: 3000 kB\nUnevictable: 4 kB\nSUnreclaim: 8 kB\n"
           "KernelStack: 12 kB\nPageTables: 16 kB\n";
}

// Bytes are pages times the page size, in 64 bits; a refused read is no sample at all.
TEST(MemorySample, PagesTimesPageSize) {
    TempDir dir;
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
    for (const auto& c : cases) {
        MCMemoryController controller(make_host_port(dir.write("m", c.meminfo), {}, c.page),
                                      std::make_shared<MappedBlockAllocator>(), std::nullopt);
        EXPECT_EQ(controller.currentMemoryUsage(), c.expected) << c.meminfo;
    }
}

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kReserveKb = 256 * 1024; // the 256 MiB floor, in kB

struct CleanCase {
    const char* name;
    std::deque<std::optional<MCMemory>> script;
    std::uint64_t availableKb;
    std::uint64_t totalKb;
    std::optional<std::int64_t> limit;
    std::vector<std::size_t> expectedBlocks;
};

class Clean : public ::testing::TestWithParam<CleanCase> {};

TEST_P(Clean, ThreeSamplesAndCappedPasses) {
    const CleanCase& c = GetParam();
    TempDir dir;
    auto allocator = std::make_shared<CheckingAllocator>();
    ScriptedController controller(
        make_host_port(dir.write("m", meminfo(1, c.availableKb, c.totalKb)), {}, 4096), allocator,
        c.limit, c.script);
    controller.cleanMemory();
    EXPECT_EQ(controller.samples, 3);
    EXPECT_EQ(allocator->sizes, c.expectedBlocks);
    EXPECT_EQ(allocator->released, c.expectedBlocks);
    EXPECT_EQ(allocator->unwritten, 0u);
}

const std::uint64_t kRoomyKb = 64ULL * 1024 * 1024; // 64 GiB available
const std::uint64_t kRoomyTotalKb = 128ULL * 1024 * 1024;

INSTANTIATE_TEST_SUITE_P(
    Cases, Clean,
    ::testing::Values(
        CleanCase{"free_plus_inactive",
                  {freeAndInactive(3000, 1000), freeAndInactive(2000, 0), freeAndInactive(0, 4096)},
                  kRoomyKb,
                  kRoomyTotalKb,
                  std::nullopt,
                  {4000, 2000, 4096}},
        CleanCase{"no_sample_or_nothing_free",
                  {std::nullopt, freeAndInactive(0, 0), freeAndInactive(-100, 50)},
                  kRoomyKb,
                  kRoomyTotalKb,
                  std::nullopt,
                  {}},
        CleanCase{"samples_run_out",
                  {freeAndInactive(5000, 0)},
                  kRoomyKb,
                  kRoomyTotalKb,
                  std::nullopt,
                  {5000}},
        CleanCase{"configured_limit",
                  {freeAndInactive(8192, 8192), freeAndInactive(100, 0), freeAndInactive(2048, 0)},
                  kRoomyKb,
                  kRoomyTotalKb,
                  1024,
                  {1024, 100, 1024}},
        CleanCase{"zero_limit_writes_nothing",
                  {freeAndInactive(8192, 0), freeAndInactive(8192, 0), freeAndInactive(8192, 0)},
                  kRoomyKb,
                  kRoomyTotalKb,
                  0,
                  {}},
        // 4 GiB machine: the reserve is the 256 MiB floor; 8 KiB of headroom above it.
        CleanCase{"headroom_above_floor",
                  {freeAndInactive(1 << 20, 1 << 20), freeAndInactive(1 << 20, 1 << 20),
                   freeAndInactive(1, 0)},
                  kReserveKb + 8,
                  4ULL * 1024 * 1024,
                  std::nullopt,
                  {8192, 8192, 1}},
        // 100 GiB machine: 5 % (5 GiB) beats the floor.
        CleanCase{
            "headroom_above_five_percent",
            {freeAndInactive(1 << 20, 0), freeAndInactive(1 << 20, 0), freeAndInactive(1 << 20, 0)},
            5ULL * 1024 * 1024 + 4,
            100ULL * 1024 * 1024,
            std::nullopt,
            {4096, 4096, 4096}},
        CleanCase{
            "no_headroom",
            {freeAndInactive(1 << 20, 0), freeAndInactive(1 << 20, 0), freeAndInactive(1 << 20, 0)},
            kReserveKb - 1,
            16ULL * 1024 * 1024,
            std::nullopt,
            {}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(CleanPass, AFailedAllocationSkipsOnlyThatPass) {
    TempDir dir;
    auto allocator = std::make_shared<CheckingAllocator>();
    allocator->failAt = 0;
    ScriptedController controller(
        make_host_port(dir.write("m", meminfo(1, kRoomyKb, kRoomyTotalKb)), {}, 4096), allocator,
        std::nullopt,
        {freeAndInactive(4096, 0), freeAndInactive(4096, 0), freeAndInactive(4096, 0)});
    controller.cleanMemory();
    EXPECT_EQ(controller.samples, 3);
    EXPECT_EQ(allocator->sizes.size(), 3u);
    EXPECT_EQ(allocator->released, (std::vector<std::size_t>{4096, 4096}));
}

TEST(CleanPass, RealSamplesAndRealBlocksAreFullyWritten) {
    TempDir dir;
    // 3 MiB free + 3000 kB inactive from the file, limited to 6 MiB + 1 byte: odd sizes included.
    auto allocator = std::make_shared<CheckingAllocator>();
    MCMemoryController controller(
        make_host_port(dir.write("m", meminfo(3 * 1024, kRoomyKb, kRoomyTotalKb)), {}, 4096),
        allocator, static_cast<std::int64_t>(6 * kMiB + 1));
    controller.cleanMemory();
    const std::size_t expected = 3 * kMiB + 3000 * 1024;
    EXPECT_EQ(allocator->sizes, std::vector<std::size_t>(3, expected));
    EXPECT_EQ(allocator->unwritten, 0u);
}

TEST(CleanPass, UnreadableHeadroomMeansNoPass) {
    TempDir dir;
    auto allocator = std::make_shared<CheckingAllocator>();
    // No MemAvailable line: samples work, the cap cannot be known.
    ScriptedController controller(
        make_host_port(dir.write("m", "MemTotal: 100 kB\n"), {}, 4096), allocator, std::nullopt,
        {freeAndInactive(4096, 0), freeAndInactive(4096, 0), freeAndInactive(4096, 0)});
    controller.cleanMemory();
    EXPECT_EQ(controller.samples, 3);
    EXPECT_TRUE(allocator->sizes.empty());
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

// A limit that is not understood writes nothing and says so; one that is understood is quiet.
TEST(CleanLimit, EnvironmentLowersTheCapAndGarbageMeansNothingButSaysSo) {
    const struct {
        const char* value; // null: unset
        std::optional<std::int64_t> capAtMost;
        bool warns;
    } cases[] = {
        {nullptr, std::nullopt, false},
        {"", std::nullopt, false},
        {"1M", static_cast<std::int64_t>(kMiB), false},
        {"0", 0, false},
        {"lots", 0, true},
        {"512 M", 0, true},
        {"-1G", 0, true},
        {"\x1b[2Jbad", 0, true},
    };
    for (const auto& c : cases) {
        const ScopedEnv env({{MCMemoryController::kMaxBytesEnv, c.value}});
        const MCMemoryController controller;
        const std::string label = c.value != nullptr ? c.value : "(unset)";
        if (c.capAtMost) {
            EXPECT_LE(controller.passCap(), *c.capAtMost) << label;
        }
        const auto& warning = controller.configurationWarning();
        ASSERT_EQ(warning.has_value(), c.warns) << label;
        if (c.warns) {
            EXPECT_NE(warning->find(MCMemoryController::kMaxBytesEnv), std::string::npos);
            EXPECT_NE(warning->find("write nothing"), std::string::npos) << *warning;
            // The value is shown, but never a control character that could upset a terminal.
            for (char ch : *warning) {
                EXPECT_TRUE(ch >= 0x20 && ch < 0x7f) << label;
            }
        }
    }
}

} // namespace
