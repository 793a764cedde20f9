#include "platform/core/mach_host.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <sys/stat.h>

namespace {

struct Statistics {
    kern_return_t result;
    vm_statistics_data_t stats;
};

// The statistics, from a record filled with `fill` first so words left untouched show.
Statistics statisticsOf(host_t host, unsigned char fill = 0) {
    Statistics s{};
    std::memset(&s.stats, fill, sizeof s.stats);
    mach_msg_type_number_t count = HOST_VM_INFO_COUNT;
    s.result = host_statistics(host, HOST_VM_INFO, reinterpret_cast<host_info_t>(&s.stats), &count);
    if (s.result == KERN_SUCCESS) {
        EXPECT_EQ(count, HOST_VM_INFO_COUNT);
    }
    return s;
}

// What a kernel prints: the fields read, their look-alikes (Active(anon)) and lines without a
// unit.
constexpr const char* kMeminfo = R"(MemTotal:       24683784 kB
MemFree:        24386036 kB
MemAvailable:   24364008 kB
Cached:           147160 kB
Active:            54592 kB
Inactive:          93488 kB
Active(anon):         36 kB
Inactive(file):    87540 kB
Unevictable:       15656 kB
Mlocked:           12868 kB
SReclaimable:      57860 kB
SUnreclaim:        23000 kB
KernelStack:        1876 kB
PageTables:         1348 kB
SecPageTables:         0 kB
VmallocTotal:   34359738367 kB
HugePages_Total:       0
)";

// Replaces the whole line of `key` (deletes it when `line` is empty).
std::string withLine(std::string text, const std::string& key, const std::string& line) {
    const auto at = text.find("\n" + key + ":") + 1;
    const auto end = text.find('\n', at) + 1;
    text.replace(at, end - at, line.empty() ? "" : line + "\n");
    return text;
}

TEST(MachHost, ReadsTheFourCountersInPagesAndTheHeadroomInBytes) {
    // Page size, MemFree and Unevictable in kB, whether MemAvailable is there: 64 KiB pages as
    // on some arm64 machines; kernels before 3.14 print no MemAvailable, and then no headroom
    // figure is guessed; 2^32 pages and more saturate.
    const std::tuple<vm_size_t, std::uint64_t, std::uint64_t, bool> layouts[] = {
        {4096, 24386036, 15656, true},
        {65536, 24386036, 15656, true},
        {4096, 24386036, 15656, false},
        {16384, 70368744177664, 18014398509481983, true},
    };
    for (const auto& [pageSize, freeKb, unevictableKb, withAvailable] : layouts) {
        SCOPED_TRACE(pageSize);
        TempDir dir;
        std::string text =
            withLine(kMeminfo, "MemFree", "MemFree: " + std::to_string(freeKb) + " kB");
        text =
            withLine(text, "Unevictable", "Unevictable: " + std::to_string(unevictableKb) + " kB");
        text = withAvailable ? text : withLine(text, "MemAvailable", "");
        host_t host = make_host_port(dir.write("meminfo", text), {}, pageSize);
        const auto [result, stats] = statisticsOf(host, 0xAB);
        ASSERT_EQ(result, KERN_SUCCESS);
        const natural_t* words = reinterpret_cast<const natural_t*>(&stats);
        for (std::size_t i = 4; i < HOST_VM_INFO_COUNT; ++i) {
            EXPECT_EQ(words[i], 0u) << "word " << i; // never left as stack garbage
        }
        // kB to pages; wired is Unevictable + SUnreclaim + KernelStack + PageTables.
        const auto pages = [kb = pageSize / 1024](std::uint64_t kB) {
            return static_cast<natural_t>(std::min<std::uint64_t>(kB / kb, 4294967295u));
        };
        EXPECT_EQ((std::vector{stats.free_count, stats.active_count, stats.inactive_count,
                               stats.wire_count}),
                  (std::vector{pages(freeKb), pages(54592), pages(93488),
                               pages(unevictableKb + 23000 + 1876 + 1348)}));
        vm_size_t page = 0;
        ASSERT_EQ(host_page_size(host, &page), KERN_SUCCESS);
        EXPECT_EQ(page, pageSize);
        std::uint64_t available = 0, total = 0;
        EXPECT_EQ(host_available_memory(host, &available, &total) == KERN_SUCCESS, withAvailable);
        EXPECT_EQ(available, withAvailable ? 24364008ull * 1024 : 0);
        EXPECT_EQ(total, withAvailable ? 24683784ull * 1024 : 0);
    }
}

TEST(MachHost, BrokenFilesAreRefused) {
    const std::string good = kMeminfo;
    const std::string files[] = {
        "",
        withLine(good, "PageTables", ""),
        withLine(good, "MemFree", ""),
        withLine(good, "Active", "Active: 54x92 kB"),
        withLine(good, "Active", "Active:  kB"),
        withLine(good, "Active", "Active: -54592 kB"),
        withLine(good, "Active", "Active: 54592 MB"),
        withLine(good, "Active", "Active: 99999999999999999999999 kB"),
        good + "Active:  1 kB\n", // repeated
        // Cut in the middle of the line that a needed field stands on.
        good.substr(0, good.find("PageTables:") + 17),
    };
    for (const std::string& file : files) {
        TempDir dir;
        host_t host = make_host_port(dir.write("meminfo", file), {}, 4096);
        EXPECT_NE(statisticsOf(host).result, KERN_SUCCESS) << file;
    }
}

TEST(MachHost, MissingUnreadableOrFifoFileIsRefusedAtOnce) {
    TempDir dir;
    // A FIFO in place of the counters file would block an ordinary open until a writer came.
    ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
    for (const auto& path : {dir.path() / "absent", dir.path(), dir.path() / "fifo"}) {
        auto results = std::async(std::launch::async, [path] {
            host_t host = make_host_port(path.string(), {}, 4096);
            std::uint64_t available = 0, total = 0;
            return std::pair(statisticsOf(host).result,
                             host_available_memory(host, &available, &total));
        });
        if (results.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "reading " << path << " blocked";
            std::abort(); // the thread cannot be abandoned
        }
        EXPECT_EQ(results.get(), std::pair(KERN_FAILURE, KERN_FAILURE)) << path;
    }
}

TEST(MachHost, RejectsBadArguments) {
    host_t host = mach_host_self();
    vm_statistics_data_t stats{};
    mach_msg_type_number_t shortCount = HOST_VM_INFO_COUNT - 1;
    EXPECT_EQ(
        host_statistics(host, HOST_VM_INFO, reinterpret_cast<host_info_t>(&stats), &shortCount),
        KERN_INVALID_ARGUMENT);
    mach_msg_type_number_t count = HOST_VM_INFO_COUNT;
    EXPECT_EQ(host_statistics(host, 3, reinterpret_cast<host_info_t>(&stats), &count),
              KERN_INVALID_ARGUMENT);
}

} // namespace
