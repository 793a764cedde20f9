// Eight producers log through the terminal and system log loggers at once; after flushLog every
// message must have reached both, each producer's messages in the order it logged them.
#include "DDASLLogger.h"
#include "DDTTYLogger.h"
#include "MCLogFormatter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

#if defined(__SANITIZE_THREAD__)
constexpr int kPerThread =
    10000; // the race detector is slow; the interleavings matter, not the count
#else
constexpr int kPerThread = 100000;
#endif
constexpr int kThreads = 8;

// Parses "... t<thread>#<n>, [..." out of a line; returns false when absent.
bool parse(const std::string& line, int& thread, int& n) {
    const auto at = line.find(", [ERRO], t");
    return at != std::string::npos &&
           std::sscanf(line.c_str() + at + 11, "%d#%d", &thread, &n) == 2;
}

// Checks per-thread order as lines arrive.
struct OrderCheck {
    std::vector<int> next = std::vector<int>(kThreads, 0);
    long bad = 0;
    void see(const std::string& line) {
        int t = -1, n = -1;
        if (!parse(line, t, n) || t < 0 || t >= kThreads ||
            n != next[static_cast<std::size_t>(t)]) {
            ++bad;
            return;
        }
        ++next[static_cast<std::size_t>(t)];
    }
};

class CheckingSink : public DDSystemLogSink {
public:
    void log(int priority, const char*, const char* text) override {
        // Only the logger's queue calls this; the lock is for the reader at the end.
        std::lock_guard lock(mutex);
        check.see(text);
        wrongPriority += priority != 2;
    }
    std::mutex mutex;
    OrderCheck check;
    long wrongPriority = 0;
};

} // namespace

TEST(LoggingLoad, EightProducersAllDeliveredInPerThreadOrder) {
    char path[] = "/tmp/brimwell-load-XXXXXX";
    const int file = ::mkstemp(path);
    ASSERT_GE(file, 0);
    const int savedStderr = ::dup(STDERR_FILENO);
    ::dup2(file, STDERR_FILENO);

    auto formatter = std::make_shared<MCLogFormatter>();
    auto sink = std::make_shared<CheckingSink>();
    auto asl = std::make_shared<DDASLLogger>(sink);
    auto tty = std::make_shared<DDTTYLogger>(DDTTYColorMode::none);
    asl->setLogFormatter(formatter);
    tty->setLogFormatter(formatter);
    DDLog::addLogger(asl);
    DDLog::addLogger(tty);

    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
        producers.emplace_back([t] {
            for (int i = 0; i < kPerThread; ++i) {
                DDLogError("t%d#%d", t, i);
            }
        });
    }
    for (auto& p : producers) {
        p.join();
    }
    DDLog::flushLog();
    DDLog::removeAllLoggers();
    DDLog::flushLog();
    ::dup2(savedStderr, STDERR_FILENO);
    ::close(savedStderr);
    ::close(file);

    {
        std::lock_guard lock(sink->mutex);
        EXPECT_EQ(sink->check.bad, 0);
        EXPECT_EQ(sink->wrongPriority, 0);
        for (int t = 0; t < kThreads; ++t) {
            EXPECT_EQ(sink->check.next[static_cast<std::size_t>(t)], kPerThread) << t;
        }
    }
    OrderCheck terminal;
    std::ifstream in(path);
    std::string line;
    long lines = 0;
    while (std::getline(in, line)) {
        terminal.see(line);
        ++lines;
    }
    ::unlink(path);
    EXPECT_EQ(lines, static_cast<long>(kThreads) * kPerThread);
    EXPECT_EQ(terminal.bad, 0);
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(terminal.next[static_cast<std::size_t>(t)], kPerThread) << t;
    }
}
