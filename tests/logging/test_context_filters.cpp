#include "logging/ContextFilterLogFormatter.h"
#include "logging/DDAbstractLogger.h"
#include "logging/DDLog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <thread>

namespace {

using Contexts = std::vector<std::int32_t>;

std::unique_ptr<DDLogMessage> message(std::int32_t context) {
    return std::make_unique<DDLogMessage>(std::make_shared<const std::string>("text"),
                                          LogLevelVerbose, LogFlagInfo, context, "f.cpp", "fn", 1,
                                          DDLogTag(), 0, DDLogOrigin{});
}

Contexts sorted(Contexts contexts) {
    std::sort(contexts.begin(), contexts.end());
    return contexts;
}

// Writes what passes its formatter, marking a passed text that is not the message's own.
class FilteredLogger : public DDAbstractLogger {
public:
    void logMessage(const DDLogMessagePtr& message) override {
        if (const DDText text = formatter->formatLogMessage(*message)) {
            std::lock_guard guard(mutex_);
            lines_.push_back(*text + (text == message->logMsg() ? "" : " (copy)"));
        }
    }
    std::vector<std::string> lines() {
        std::lock_guard guard(mutex_);
        return lines_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// A whitelist or blacklist filter of the listed contexts.
std::shared_ptr<DDLogFormatter> filter(bool isWhitelist, const Contexts& listed) {
    if (isWhitelist) {
        auto f = std::make_shared<ContextWhitelistFilterLogFormatter>();
        std::for_each(listed.begin(), listed.end(), [&](auto c) { f->addToWhitelist(c); });
        return f;
    }
    auto f = std::make_shared<ContextBlacklistFilterLogFormatter>();
    std::for_each(listed.begin(), listed.end(), [&](auto c) { f->addToBlacklist(c); });
    return f;
}

} // namespace

TEST(ContextFilters, WhitelistPassesOnlyListedBlacklistDropsOnlyListed) {
    constexpr std::int32_t kMin = INT32_MIN, kMax = INT32_MAX;
    const struct {
        bool isWhitelist;
        Contexts listed;
        std::int32_t context;
        bool passes;
    } cases[] = {
        {true, {}, 0, false},         {true, {}, 5, false},       {false, {}, 0, true},
        {false, {}, kMin, true},      {false, {5}, 5, false},     {false, {5}, 0, true},
        {true, {5, -3}, 5, true},     {true, {5, -3}, -3, true},  {true, {5, -3}, 0, false},
        {true, {5, -3}, 3, false},    {true, {kMin}, kMin, true}, {true, {kMax}, kMin, false},
        {false, {kMax}, kMax, false}, {false, {kMax}, -1, true},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto m = message(cases[i].context);
        const DDText result = filter(cases[i].isWhitelist, cases[i].listed)->formatLogMessage(*m);
        // Passing means the message's own text object, unchanged; dropping means null.
        EXPECT_EQ(result, cases[i].passes ? m->logMsg() : nullptr) << "case " << i;
    }
}

// Real log calls reach only the loggers their context passes, while contexts change.
TEST(ContextFilters, ContextsChangeFromSeveralThreadsWhileLoggersFilter) {
    // 7 is listed throughout and 9 never; 100..399 come and go from three threads at once.
    auto white = std::make_shared<ContextWhitelistFilterLogFormatter>();
    auto black = std::make_shared<ContextBlacklistFilterLogFormatter>();
    white->addToWhitelist(7);
    black->addToBlacklist(7);
    const std::shared_ptr<FilteredLogger> loggers[] = {std::make_shared<FilteredLogger>(),
                                                       std::make_shared<FilteredLogger>()};
    loggers[0]->setLogFormatter(white);
    loggers[1]->setLogFormatter(black);
    for (const auto& logger : loggers) {
        DDLog::addLogger(logger);
    }
    constexpr int kMessages = 3000;
    std::atomic<int> readerFailures{0};
    {
        std::vector<std::jthread> threads;
        threads.emplace_back([] {
            for (int i = 0; i < kMessages; ++i) {
                const int context = i % 3 == 0 ? 7 : i % 3 == 1 ? 9 : 100 + i % 300;
                DDLog::log(true, LogLevelVerbose, LogFlagInfo, context, __FILE__, __func__,
                           __LINE__, {}, "ctx:%d", context);
            }
        });
        for (int t = 0; t < 3; ++t) {
            threads.emplace_back([&, t] {
                for (int round = 0; round < 20; ++round) {
                    for (int c = 100 + t; c < 400; c += 3) {
                        white->addToWhitelist(c);
                        black->addToBlacklist(c);
                    }
                    for (int c = 100 + t; c < 400; c += 3) {
                        if (round < 19 || c % 2 != 0) {
                            white->removeFromWhitelist(c);
                            black->removeFromBlacklist(c);
                        }
                    }
                }
            });
        }
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                const Contexts listed = white->whitelist();
                readerFailures += std::find(listed.begin(), listed.end(), 7) == listed.end();
                readerFailures += !black->isOnBlacklist(7) || black->isOnBlacklist(9);
            }
        });
    }
    DDLog::flushLog();
    EXPECT_EQ(readerFailures.load(), 0);
    for (const auto& logger : loggers) {
        DDLog::removeLogger(logger);
        const auto lines = logger->lines();
        const bool whitelist = logger == loggers[0];
        // Only the message's own text passes: a copy would be marked.
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "ctx:7"), whitelist ? kMessages / 3 : 0);
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "ctx:9"), whitelist ? 0 : kMessages / 3);
    }
    Contexts expected{7};
    for (int c = 100; c < 400; c += 2) {
        expected.push_back(c);
    }
    EXPECT_EQ(sorted(white->whitelist()), expected);
    EXPECT_EQ(sorted(black->blacklist()), expected);
}
