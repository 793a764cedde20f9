// Cost of one memory sample from the live kernel counters (target: <= 20 us).
#include "MCMemoryController.h"

#include <benchmark/benchmark.h>

static void BM_currentMemoryUsage(benchmark::State& state) {
    MCMemoryController controller;
    for (auto _ : state) {
        auto sample = controller.currentMemoryUsage();
        benchmark::DoNotOptimize(sample);
    }
    state.SetLabel("target <= 20 us per sample");
}
BENCHMARK(BM_currentMemoryUsage)->Unit(benchmark::kMicrosecond);
