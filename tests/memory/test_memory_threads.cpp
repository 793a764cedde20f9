#include "memory/MCMemoryController.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

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
