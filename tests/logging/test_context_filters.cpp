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

void logContext(std::int32_t context) {
    DDLog::log(true, LogLevelVerbose, LogFlagInfo, context, __FILE__, __func__, __LINE__, {},
               "ctx:%d", context);
}

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

TEST(ContextFilters, RealLogCallsReachOnlyTheLoggersTheirContextPasses) {
    auto white = std::make_shared<ContextWhitelistFilterLogFormatter>();
    auto black = std::make_shared<ContextBlacklistFilterLogFormatter>();
    white->addToWhitelist(1);
    black->addToBlacklist(1);
    auto whiteLogger = std::make_shared<FilteredLogger>();
    auto blackLogger = std::make_shared<FilteredLogger>();
    whiteLogger->setLogFormatter(white);
    blackLogger->setLogFormatter(black);
    DDLog::addLogger(whiteLogger);
    DDLog::addLogger(blackLogger);
    for (const std::int32_t context : {0, 1, 2, -1, 1}) {
        logContext(context);
    }
    DDLog::flushLog();
    DDLog::removeLogger(whiteLogger);
    DDLog::removeLogger(blackLogger);

    EXPECT_EQ(whiteLogger->lines(), (std::vector<std::string>{"ctx:1", "ctx:1"}));
    EXPECT_EQ(blackLogger->lines(), (std::vector<std::string>{"ctx:0", "ctx:2", "ctx:-1"}));
}

TEST(ContextFilters, ContextsChangeFromSeveralThreadsWhileLoggersFilter) {
    // 7 is listed throughout and 9 never; 100..399 come and go from three threads at once.
    auto white = std::make_shared<ContextWhitelistFilterLogFormatter>();
    auto black = std::make_shared<ContextBlacklistFilterLogFormatter>();
    white->addToWhitelist(7);
    black->addToBlacklist(7);
    auto whiteLogger = std::make_shared<FilteredLogger>();
    auto blackLogger = std::make_shared<FilteredLogger>();
    whiteLogger->setLogFormatter(white);
    blackLogger->setLogFormatter(black);
    DDLog::addLogger(whiteLogger);
    DDLog::addLogger(blackLogger);

    constexpr int kMessages = 3000;
    std::atomic<int> readerFailures{0};
    {
        std::vector<std::jthread> threads;
        threads.emplace_back([] {
            for (int i = 0; i < kMessages; ++i) {
                logContext(i % 3 == 0 ? 7 : i % 3 == 1 ? 9 : 100 + i % 300);
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
    DDLog::removeLogger(whiteLogger);
    DDLog::removeLogger(blackLogger);

    EXPECT_EQ(readerFailures.load(), 0);
    const auto count = [](const std::vector<std::string>& lines, const std::string& text) {
        return std::count(lines.begin(), lines.end(), text);
    };
    const auto whiteLines = whiteLogger->lines();
    const auto blackLines = blackLogger->lines();
    EXPECT_EQ(count(whiteLines, "ctx:7"), kMessages / 3);
    EXPECT_EQ(count(whiteLines, "ctx:9"), 0);
    EXPECT_EQ(count(blackLines, "ctx:7"), 0);
    EXPECT_EQ(count(blackLines, "ctx:9"), kMessages / 3);

    Contexts expected{7};
    for (int c = 100; c < 400; c += 2) {
        expected.push_back(c);
    }
    EXPECT_EQ(sorted(white->whitelist()), expected);
    EXPECT_EQ(sorted(black->blacklist()), expected);
}
