// Available memory, swap and pressure from fixture files: kernels with and without swap, with
// and without PSI, and pressure files that must not be trusted.
#include "memory/FakeSystem.h"

#include "memory/MCMemoryDetails.h"
#include "platform/core/memory_pressure.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>

namespace {

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
        {"empty", "", std::nullopt},
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
        {"without swap", meminfo(8000000, 6000000, 0, 0), kPsi,
         MCMemoryDetails{8000000 * kKiB, 6000000 * kKiB, 0, 0, MCPressure{12.5, 0.75}}},
        {"without PSI", meminfo(8000000, 6000000, 0, 0), std::nullopt,
         MCMemoryDetails{8000000 * kKiB, 6000000 * kKiB, 0, 0, std::nullopt}},
        {"PSI file that makes no sense", meminfo(8000000, 6000000, 0, 0), "garbage\n",
         MCMemoryDetails{8000000 * kKiB, 6000000 * kKiB, 0, 0, std::nullopt}},
        {"PSI file too large to be one", meminfo(8000000, 6000000, 0, 0),
         std::string(kPsi) + std::string(4096, 'x'),
         MCMemoryDetails{8000000 * kKiB, 6000000 * kKiB, 0, 0, std::nullopt}},
        {"kernel before 3.14: no MemAvailable",
         "MemTotal: 100 kB\nMemFree: 50 kB\nSwapTotal: 0 kB\nSwapFree: 0 kB\n", kPsi, std::nullopt},
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

// A FIFO nobody writes to, where a blocking read would hang the sample for ever, and a host
// without a root: neither gives a pressure, both give the memory.
TEST(MemoryDetails, PressureThatCannotBeTrustedIsLeftOut) {
    FakeSystem system;
    system.write("/proc/meminfo", meminfo(1000, 500, 0, 0));
    system.mkdir("/proc/pressure");
    ASSERT_EQ(::mkfifo((system.root() + "/proc/pressure/memory").c_str(), 0600), 0);
    const MCMemoryDetails expected{1000 * kKiB, 500 * kKiB, 0, 0, std::nullopt};
    EXPECT_EQ(MCMemoryDetailsReader(system.host()).currentDetails(), expected);
    std::filesystem::remove(system.root() + "/proc/pressure/memory");
    system.write("/proc/pressure/memory", kPsi);
    EXPECT_EQ(
        MCMemoryDetailsReader(make_host_port(system.root() + "/proc/meminfo")).currentDetails(),
        expected);
}

// Each sample reads the files afresh: a kept descriptor must not serve stale text.
TEST(MemoryDetails, FollowsChangingFiles) {
    FakeSystem system;
    system.write("/proc/meminfo", meminfo(1000, 900, 0, 0));
    system.write("/proc/pressure/memory", kPsi);
    const MCMemoryDetailsReader reader(system.host());
    ASSERT_EQ(reader.currentDetails()->availableMemory, 900 * kKiB);
    system.write("/proc/meminfo", meminfo(1000, 100, 0, 0));
    system.write("/proc/pressure/memory", "some avg10=50.00 x\nfull avg10=20.00 x\n");
    EXPECT_EQ(reader.currentDetails(),
              (MCMemoryDetails{1000 * kKiB, 100 * kKiB, 0, 0, MCPressure{50, 20}}));
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
    EXPECT_STREQ(pressureStateName(S::None), "none");
    EXPECT_STREQ(pressureStateName(S::Some), "some");
    EXPECT_STREQ(pressureStateName(S::High), "high");
    EXPECT_EQ(MCMemoryDetails{}.pressureState(), std::nullopt); // no PSI: no state at all
}

TEST(MemoryDetails, DerivedFigures) {
    const struct {
        MCMemoryDetails details;
        std::int64_t used;
        double fraction;
        std::int64_t swapUsed;
    } cases[] = {
        {{1000, 250, 400, 100, {}}, 750, 0.75, 300},
        {{1000, 1000, 0, 0, {}}, 0, 0.0, 0},
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
    EXPECT_FALSE((MCMemoryDetails{1000, 10, 0, 0, {}}).hasSwap());
    EXPECT_TRUE((MCMemoryDetails{1000, 10, 1, 0, {}}).hasSwap());
}

} // namespace
