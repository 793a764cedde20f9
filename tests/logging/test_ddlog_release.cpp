// The core hands every message to every logger and then lets go of it: once flushLog returns
// it holds no delivered message, and while logging goes on it keeps only a bounded number.
#include "logging/DDLog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// Counts what it is given and keeps no reference to any message.
class CountingLogger : public DDLogger {
public:
    void logMessage(const DDLogMessagePtr& message) override {
        if (message) {
            seen.fetch_add(1);
        }
    }
    DDLogFormatterPtr logFormatter() override { return nullptr; }
    void setLogFormatter(DDLogFormatterPtr) override {}

    std::atomic<long> seen{0};
};

DDLogMessagePtr makeMessage(int producer, int i) {
    return std::make_shared<const DDLogMessage>(
        std::make_shared<const std::string>(std::to_string(producer) + ":" + std::to_string(i)),
        LogLevelWarn, LogFlagError, 0, "release.cpp", "fn", i, DDLogTag(), 0);
}

// Queues producers x perProducer messages from that many threads and returns watches on them.
std::vector<std::weak_ptr<const DDLogMessage>> logFrom(int producers, int perProducer,
                                                       bool asynchronously) {
    std::vector<std::weak_ptr<const DDLogMessage>> watched(
        static_cast<std::size_t>(producers * perProducer));
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p) {
        threads.emplace_back([&, p] {
            for (int i = 0; i < perProducer; ++i) {
                auto message = makeMessage(p, i);
                watched[static_cast<std::size_t>(p * perProducer + i)] = message;
                DDLog::queueLogMessage(std::move(message), asynchronously);
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    return watched;
}

long countAlive(const std::vector<std::weak_ptr<const DDLogMessage>>& watched) {
    long alive = 0;
    for (const auto& w : watched) {
        alive += w.expired() ? 0 : 1;
    }
    return alive;
}

} // namespace

TEST(DDLogRelease, FlushLeavesNoDeliveredMessageAlive) {
    struct Case {
        const char* name;
        int producers;
        int perProducer;
        bool asynchronously;
    };
    const Case cases[] = {
        {"one asynchronous message", 1, 1, true},
        {"a handful", 1, 10, true},
        {"thousands from one thread", 1, 3000, true},
        {"thousands from four threads", 4, 1500, true},
        {"synchronous", 2, 300, false},
    };
    auto first = std::make_shared<CountingLogger>();
    auto second = std::make_shared<CountingLogger>();
    DDLog::addLogger(first);
    DDLog::addLogger(second);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        first->seen = 0;
        second->seen = 0;
        const auto watched = logFrom(c.producers, c.perProducer, c.asynchronously);
        DDLog::flushLog();
        const long total = static_cast<long>(watched.size());
        EXPECT_EQ(first->seen.load(), total);
        EXPECT_EQ(second->seen.load(), total);
        EXPECT_EQ(countAlive(watched), 0);
    }
    DDLog::removeAllLoggers();
    DDLog::flushLog();
}

TEST(DDLogRelease, WithoutFlushOnlyABoundedNumberStaysAlive) {
    auto logger = std::make_shared<CountingLogger>();
    DDLog::addLogger(logger);
    const auto watched = logFrom(2, 5000, true);
    // A synchronous message returns after everything queued before it was delivered.
    DDLog::queueLogMessage(makeMessage(9, 0), false);
    EXPECT_EQ(logger->seen.load(), 10001);
    // Well below the pending-message limit, let alone the ten thousand delivered.
    EXPECT_LT(countAlive(watched), 500);
    DDLog::removeLogger(logger);
    DDLog::flushLog();
    EXPECT_EQ(countAlive(watched), 0);
}
