// The biggest processes from a fake /proc tree (vanishing processes, unreadable smaps_rollup,
// kernel threads, hostile names, ties) and once from the real one.
#include "support/TempDir.h"

#include "memory/MCProcesses.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr std::int64_t kPage = 4096;

// A /proc laid out in a scratch folder; sizes in pages of 4 KiB.
struct FakeProc {
    struct Process {
        std::optional<long long> rssPages; // none: no statm file
        std::optional<long long> pssPages; // none: no smaps_rollup file
        std::optional<std::string> comm;   // none: no comm file
    };

    void add(int pid, const Process& process) {
        const std::string folder = std::to_string(pid);
        std::filesystem::create_directories(dir_.path() / folder);
        if (process.rssPages) {
            dir_.write(folder + "/statm", std::to_string(*process.rssPages * 3) + " " +
                                              std::to_string(*process.rssPages) +
                                              " 100 20 0 500 0\n");
        }
        if (process.pssPages) {
            dir_.write(folder + "/smaps_rollup",
                       "55d0c0000000-7ffd6a5fe000 ---p 00000000 00:00 0    [rollup]\nPss: " +
                           std::to_string(*process.pssPages * 4) + " kB\nPss_Anon: 12 kB\n");
        }
        if (process.comm) {
            dir_.write(folder + "/comm", *process.comm);
        }
    }
    std::string path(const std::string& relative) const {
        return (dir_.path() / relative).string();
    }
    std::string root() const { return dir_.path().string(); }
    MCProcessReader reader() const { return MCProcessReader(root(), kPage); }
    TempDir dir_;
};

TEST(Processes, WhatIsLeftOutAndWhatFallsBack) {
    FakeProc proc;
    proc.add(2, {0, 0, "kthreadd\n"});                       // kernel thread: statm all zeros
    proc.add(3, {std::nullopt, std::nullopt, std::nullopt}); // vanished: an empty folder
    proc.add(4, {500, 400, std::nullopt}); // vanished after statm: no comm any more
    proc.add(5, {90, std::nullopt, "garbled rollup\n"});
    std::ofstream(proc.path("5/smaps_rollup")) << "Pss: lots\n";
    proc.add(6, {80, std::nullopt, "fifo rollup\n"});
    ASSERT_EQ(::mkfifo(proc.path("6/smaps_rollup").c_str(), 0600), 0);
    proc.add(7, {60, std::nullopt, std::nullopt});
    ASSERT_EQ(::mkfifo(proc.path("7/comm").c_str(), 0600), 0); // name unreadable, size known
    proc.add(8, {1000, 1000, "linked\n"});
    std::filesystem::remove(proc.path("8/statm"));
    std::filesystem::create_symlink(proc.path("4/statm"), proc.path("8/statm"));
    // Entries that are not processes.
    std::filesystem::create_directories(proc.path("self"));
    std::filesystem::create_directories(proc.path("0"));
    std::filesystem::create_directories(proc.path("12a"));
    // 2 is a kernel thread, 3 and 4 vanished, 8's statm is a link: refused.
    EXPECT_EQ(proc.reader().biggest(10),
              (std::vector<MCProcess>{{5, "garbled rollup", 90 * kPage, false},
                                      {6, "fifo rollup", 80 * kPage, false},
                                      {7, "?", 60 * kPage, false}}));
    const MCProcessReader missing(proc.path("absent"), kPage);
    EXPECT_FALSE(missing.isReadable());
    EXPECT_TRUE(missing.biggest(5).empty());
}

// PSS ranks where it can be read, else RSS, ties to the lower pid; the ranking by RSS must never
// change the answer, only its cost: random trees, full of ties, against a plain reading of every
// process.
TEST(Processes, PruningGivesTheSameAnswerAsReadingEverything) {
    for (unsigned seed = 1; seed <= 10; ++seed) {
        std::mt19937 random(seed);
        FakeProc proc;
        std::vector<MCProcess> everything;
        const int processes = 30 + static_cast<int>(random() % 40);
        for (int i = 0; i < processes; ++i) {
            const int pid = 100 + i * 37 % 1000; // not in the order of creation
            const long long rss = random() % 4 == 0 ? 0 : 1 + random() % 30; // some kernel threads
            const bool readable = random() % 3 != 0;
            const long long pss = rss == 0 ? 0 : 1 + random() % rss; // PSS <= RSS
            proc.add(pid, {rss, readable ? std::optional(pss) : std::nullopt,
                           "p" + std::to_string(pid) + "\n"});
            if (rss > 0) {
                everything.push_back(
                    {pid, "p" + std::to_string(pid), (readable ? pss : rss) * kPage, readable});
            }
        }
        std::sort(everything.begin(), everything.end(), [](const auto& a, const auto& b) {
            return a.bytes != b.bytes ? a.bytes > b.bytes : a.pid < b.pid;
        });
        for (std::size_t count : {0u, 1u, 5u, 12u, 1000u}) {
            const std::vector<MCProcess> expected(
                everything.begin(),
                everything.begin() + static_cast<long>(std::min(count, everything.size())));
            EXPECT_EQ(proc.reader().biggest(count), expected) << "seed " << seed << " " << count;
        }
    }
}

// PSS is read again only when it may have changed: RSS moved by more than a tenth, or the
// figure is 30 s old. In between, the remembered share is applied to today's RSS.
TEST(Processes, RemembersPssWhileRssHolds) {
    FakeProc proc;
    proc.add(1, {1000, 500, "a\n"});
    proc.add(2, {800, 800, "b\n"});
    auto now = std::chrono::steady_clock::time_point{};
    const MCProcessReader reader(proc.root(), kPage, [&now] { return now; });
    const auto first = reader.biggest(2);
    EXPECT_EQ(first[0], (MCProcess{2, "b", 800 * kPage, true}));
    EXPECT_EQ(first[1], (MCProcess{1, "a", 500 * kPage, true}));

    proc.add(1, {1000, 999, "a\n"}); // PSS changes, RSS does not
    now += 29s;
    EXPECT_EQ(reader.biggest(2), first);

    now += 1s; // 30 s old: read again
    auto later = reader.biggest(2);
    EXPECT_EQ(later[0], (MCProcess{1, "a", 999 * kPage, true}));

    proc.add(1, {1080, 1080, "a\n"}); // RSS within a tenth: the share scaled, not read
    later = reader.biggest(2);
    EXPECT_EQ(later[0], (MCProcess{1, "a", 1078920 * kPage / 1000, true})); // 99.9 % of 1080

    proc.add(2, {2000, 1200, "b\n"}); // RSS doubled: read at once
    later = reader.biggest(2);
    EXPECT_EQ(later[0], (MCProcess{2, "b", 1200 * kPage, true}));
}

TEST(ProcessNames, HostileNamesAreMadeSafe) {
    const std::string r = "\xef\xbf\xbd"; // U+FFFD
    const struct {
        std::string comm;
        std::string shown;
    } cases[] = {
        {"firefox\n", "firefox"},
        {"evil\nname\n", "evil" + r + "name"},
        {"\x1b[31mred\n", r + "[31mred"},
        {"del\x7f", "del" + r},
        {"\xff\xfe", r + r},              // not UTF-8 at all
        {"caf\xc3\xa9\n", "caf\xc3\xa9"}, // é stays
        {"cut\xe2\x82\n", "cut" + r + r}, // a sequence cut short by the 15-byte limit
        {"\xc0\xaf", r + r},              // overlong '/'
        {"\xed\xa0\x80", r + r + r},      // a surrogate
        {"\xc2\x85next", r + "next"},     // C1 NEL
        {"abc\xe2\x80\xaegnp.exe", "abc" + r + "gnp.exe"}, // right-to-left override
        {"\n", "?"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MCProcessReader::displayName(c.comm), c.shown) << c.comm;
    }
}

TEST(Processes, ThisProcessAppearsInTheRealProcWithAPlausibleSize) {
    const MCProcessReader reader;
    ASSERT_TRUE(reader.isReadable());
    const auto find = [&reader]() -> std::optional<MCProcess> {
        const auto all = reader.biggest(100000);
        const auto it = std::find_if(all.begin(), all.end(),
                                     [](const MCProcess& p) { return p.pid == ::getpid(); });
        return it == all.end() ? std::nullopt : std::optional(*it);
    };
    const auto before = find();
    ASSERT_TRUE(before.has_value());
    EXPECT_EQ(before->name, "test_processes");
    // 64 MiB more, written so that it is resident: the figure follows.
    constexpr std::size_t kGrowth = 64 << 20;
    void* block =
        ::mmap(nullptr, kGrowth, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(block, MAP_FAILED);
    std::memset(block, 1, kGrowth);
    const auto after = find();
    ::munmap(block, kGrowth);
    ASSERT_TRUE(after.has_value());
    EXPECT_GE(after->bytes - before->bytes, static_cast<std::int64_t>(kGrowth) * 9 / 10);
    EXPECT_LT(after->bytes - before->bytes, static_cast<std::int64_t>(kGrowth) * 2);
}

} // namespace
