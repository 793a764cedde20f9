// Eight producers log through the terminal and system log loggers at once; after flushLog every
// message must have reached both, each producer's messages in the order it logged them.
#include "logging/DDASLLogger.h"
#include "logging/DDLog.h"
#include "logging/DDTTYLogger.h"
#include "logging/MCLogFormatter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <thread>
#include <unistd.h>

#if defined(__SANITIZE_THREAD__)
constexpr int kPerThread = 10000; // the race detector is slow; the interleavings matter
#else
constexpr int kPerThread = 100000;
#endif

// Counts each producer's lines as they arrive ("... [ERRO], t<producer>#<n>, ..."); a line out
// of order, unreadable or at the wrong priority counts as bad. Used on one queue at a time.
struct OrderCheck : DDSystemLogSink {
    std::vector<int> next = std::vector<int>(8, 0);
    long bad = 0;
    void log(int priority, const char*, const char* line) override {
        const char* at = std::strstr(line, "[ERRO], t");
        unsigned t = 8;
        int n = -1;
        const bool ok = priority == 2 && at != nullptr &&
                        std::sscanf(at + 9, "%u#%d", &t, &n) == 2 && t < 8 && n == next[t];
        ok ? ++next[t] : ++bad;
    }
};

TEST(LoggingLoad, EightProducersAllDeliveredInPerThreadOrder) {
    char path[] = "/tmp/brimwell-load-XXXXXX";
    const int file = ::mkstemp(path), savedStderr = ::dup(STDERR_FILENO);
    ASSERT_GE(file, 0);
    ::dup2(file, STDERR_FILENO);
    auto formatter = std::make_shared<MCLogFormatter>();
    auto sink = std::make_shared<OrderCheck>();
    auto asl = std::make_shared<DDASLLogger>(sink);
    auto tty = std::make_shared<DDTTYLogger>(DDTTYColorMode::none);
    asl->setLogFormatter(formatter);
    tty->setLogFormatter(formatter);
    DDLog::addLogger(asl);
    DDLog::addLogger(tty);
    {
        std::vector<std::jthread> producers;
        for (int t = 0; t < 8; ++t) {
            producers.emplace_back([t] {
                for (int i = 0; i < kPerThread; ++i) {
                    DDLogError("t%d#%d", t, i);
                }
            });
        }
    }
    DDLog::flushLog();
    DDLog::removeAllLoggers();
    ::dup2(savedStderr, STDERR_FILENO);
    ::close(savedStderr);
    ::close(file);

    OrderCheck terminal; // the terminal logger's lines, read back from the file
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        terminal.log(2, "%s", line.c_str());
    }
    ::unlink(path);
    for (const auto* check : {sink.get(), &terminal}) {
        EXPECT_EQ(check->bad, 0);
        EXPECT_EQ(check->next, std::vector<int>(8, kPerThread));
    }
}
