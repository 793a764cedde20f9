// Cost of one memory sample from the live kernel counters, beside the floor: one pread of
// /proc/meminfo on a kept descriptor and a bare four-field parse. Target: sample <= 1.5 x floor.
#include "memory/MCMemoryController.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

void BM_currentMemoryUsage(benchmark::State& state) {
    MCMemoryController controller;
    for (auto _ : state) {
        auto sample = controller.currentMemoryUsage();
        benchmark::DoNotOptimize(sample);
    }
    state.SetLabel("target <= 1.5 x BM_meminfoFloor");
}
BENCHMARK(BM_currentMemoryUsage)->Unit(benchmark::kMicrosecond);

// What no sampler can beat: the kernel writing the file, and four numbers picked out of it.
void BM_meminfoFloor(benchmark::State& state) {
    const int fd = ::open("/proc/meminfo", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        state.SkipWithError("no /proc/meminfo");
        return;
    }
    static const char* const kNames[] = {
        "\nMemFree:", "\nActive:", "\nInactive:", "\nUnevictable:"};
    char buf[8192];
    for (auto _ : state) {
        const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
        if (n <= 0) {
            state.SkipWithError("pread failed");
            break;
        }
        buf[n] = '\0';
        unsigned long long sum = 0;
        for (const char* name : kNames) {
            if (const char* at = std::strstr(buf, name)) {
                sum += std::strtoull(at + std::strlen(name), nullptr, 10);
            }
        }
        benchmark::DoNotOptimize(sum);
    }
    ::close(fd);
}
BENCHMARK(BM_meminfoFloor)->Unit(benchmark::kMicrosecond);

} // namespace
