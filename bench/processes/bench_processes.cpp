// Cost of one reading of the five biggest processes. Target: < 5 ms per refresh with 500
// processes. Measured on the real /proc as it is, on the real /proc filled up to 500 processes
// (sleeping children of this benchmark), and on a fake tree of 500 processes; beside the naive
// reading of every smaps_rollup that the ranking by statm avoids.
#include "memory/MCProcesses.h"

#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kTarget = 500;

void report(benchmark::State& state, const MCProcessScan& scan) {
    state.counters["processes"] = static_cast<double>(scan.listed);
    state.counters["resident"] = static_cast<double>(scan.resident);
    state.counters["smaps_read"] = static_cast<double>(scan.smapsRead);
    state.SetLabel("target < 5 ms per refresh at 500 processes");
}

// A refresh of the open panel: the reader kept, PSS remembered while RSS holds.
void measureRefresh(benchmark::State& state) {
    const MCProcessReader reader;
    MCProcessScan scan;
    for (auto _ : state) {
        auto top = reader.biggest(MCProcessReader::kPanelCount, &scan);
        benchmark::DoNotOptimize(top);
    }
    report(state, scan);
}

// The first reading: every leading candidate's smaps_rollup read.
void measureFirstReading(benchmark::State& state) {
    MCProcessScan scan;
    for (auto _ : state) {
        const MCProcessReader reader;
        auto top = reader.biggest(MCProcessReader::kPanelCount, &scan);
        benchmark::DoNotOptimize(top);
    }
    report(state, scan);
    state.SetLabel("first reading");
}

void BM_top5_realProc(benchmark::State& state) {
    measureRefresh(state);
}
BENCHMARK(BM_top5_realProc)->Unit(benchmark::kMillisecond);

void BM_top5_realProc_cold(benchmark::State& state) {
    measureFirstReading(state);
}
BENCHMARK(BM_top5_realProc_cold)->Unit(benchmark::kMillisecond);

// Sleeping children until /proc lists 500 processes; all ended when it goes.
class Children {
public:
    explicit Children(std::size_t upTo) {
        const MCProcessReader reader;
        MCProcessScan scan;
        reader.biggest(1, &scan);
        for (std::size_t n = scan.listed; n < upTo; ++n) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                for (;;) {
                    ::pause();
                }
            }
            if (pid < 0) {
                break;
            }
            pids_.push_back(pid);
        }
    }
    ~Children() {
        for (const pid_t pid : pids_) {
            ::kill(pid, SIGKILL);
        }
        for (const pid_t pid : pids_) {
            ::waitpid(pid, nullptr, 0);
        }
    }
    Children(const Children&) = delete;
    Children& operator=(const Children&) = delete;

private:
    std::vector<pid_t> pids_;
};

void BM_top5_realProc500(benchmark::State& state) {
    const Children children(kTarget);
    measureRefresh(state);
}
BENCHMARK(BM_top5_realProc500)->Unit(benchmark::kMillisecond);

void BM_top5_realProc500_cold(benchmark::State& state) {
    const Children children(kTarget);
    measureFirstReading(state);
}
BENCHMARK(BM_top5_realProc500_cold)->Unit(benchmark::kMillisecond);

// What the ranking saves: every process's smaps_rollup, as a reader without it would do.
void BM_everySmaps_realProc500(benchmark::State& state) {
    const Children children(kTarget);
    MCProcessScan scan;
    for (auto _ : state) {
        const MCProcessReader reader; // nothing remembered
        auto all = reader.biggest(100000, &scan);
        benchmark::DoNotOptimize(all);
    }
    report(state, scan);
    state.SetLabel("baseline: no ranking by statm");
}
BENCHMARK(BM_everySmaps_realProc500)->Unit(benchmark::kMillisecond);

class FakeTree {
public:
    FakeTree() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "bench-proc-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        root_ = pattern;
        for (std::size_t i = 0; i < kTarget; ++i) {
            const auto folder = root_ / std::to_string(1000 + i);
            std::filesystem::create_directories(folder);
            const std::size_t pages = (i * 7919) % 100000; // every tenth or so holds nothing
            std::ofstream(folder / "statm") << pages * 3 << " " << pages << " 10 10 0 10 0\n";
            std::ofstream(folder / "smaps_rollup")
                << "00400000-7fff0000 ---p 00000000 00:00 0 [rollup]\nRss: " << pages * 4
                << " kB\nPss: " << pages * 3 << " kB\nPss_Anon: 1 kB\n";
            std::ofstream(folder / "comm") << "process" << i << "\n";
        }
    }
    ~FakeTree() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    FakeTree(const FakeTree&) = delete;
    FakeTree& operator=(const FakeTree&) = delete;
    std::string root() const { return root_.string(); }

private:
    std::filesystem::path root_;
};

void BM_top5_fakeTree500(benchmark::State& state) {
    const FakeTree tree;
    MCProcessScan scan;
    for (auto _ : state) {
        const MCProcessReader reader(tree.root(), 4096); // nothing remembered: the whole cost
        auto top = reader.biggest(MCProcessReader::kPanelCount, &scan);
        benchmark::DoNotOptimize(top);
    }
    report(state, scan);
}
BENCHMARK(BM_top5_fakeTree500)->Unit(benchmark::kMillisecond);

} // namespace
