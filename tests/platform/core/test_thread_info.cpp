#include "thread_info.h"

#include <gtest/gtest.h>

#include <set>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

TEST(ThreadInfo, ThreadIDIsTheKernelTidAndDiffersPerThread) {
    EXPECT_EQ(thread_info::currentThreadID(), static_cast<std::uint32_t>(::syscall(SYS_gettid)));
    std::vector<std::uint32_t> ids(4);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        threads.emplace_back([&ids, i] {
            ids[i] = thread_info::currentThreadID();
            // Asked twice, the cached answer stays the kernel's.
            EXPECT_EQ(ids[i], thread_info::currentThreadID());
            EXPECT_EQ(ids[i], static_cast<std::uint32_t>(::syscall(SYS_gettid)));
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    std::set<std::uint32_t> distinct(ids.begin(), ids.end());
    distinct.insert(thread_info::currentThreadID());
    EXPECT_EQ(distinct.size(), 5u);
}

TEST(ThreadInfo, ThreadNameFollowsRenamesAndIsCutToFifteenBytes) {
    std::string before, after, cut;
    std::thread t([&] {
        before = thread_info::currentThreadName();
        thread_info::setCurrentThreadName("worker-7");
        after = thread_info::currentThreadName();
        thread_info::setCurrentThreadName("a-very-long-thread-name");
        cut = thread_info::currentThreadName();
    });
    t.join();
    EXPECT_EQ(after, "worker-7");
    EXPECT_EQ(cut, "a-very-long-thr");
    EXPECT_NE(before, "worker-7");
}

TEST(ThreadInfo, ProcessFacts) {
    EXPECT_GE(thread_info::processorCount(), 1);
    EXPECT_EQ(thread_info::processorCount(), static_cast<int>(::sysconf(_SC_NPROCESSORS_CONF)));
    EXPECT_EQ(thread_info::processName(), "test_thread_info");
    EXPECT_EQ(thread_info::processID(), static_cast<int>(::getpid()));
}
