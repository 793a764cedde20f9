#include "logging/DDAbstractLogger.h"
#include "logging/DDLog.h"
#include "logging/DispatchQueueLogFormatter.h"
#include "platform/core/thread_info.h"

#include <gtest/gtest.h>

#include <future>
#include <map>
#include <mutex>
#include <set>
#include <thread>

using namespace std::chrono_literals;

namespace {

// 2014-03-05 07:08:09.012 UTC (the test runs with TZ=UTC)
constexpr auto kMarch5 = std::chrono::system_clock::time_point(1394003289012ms);

std::unique_ptr<DDLogMessage> message(const char* queueLabel, std::string threadName,
                                      std::uint32_t threadID, std::string text = "text") {
    DDLogOrigin origin;
    origin.timestamp = kMarch5;
    origin.machThreadID = threadID;
    origin.queueLabel = queueLabel;
    origin.threadName = std::move(threadName);
    return std::make_unique<DDLogMessage>(std::make_shared<const std::string>(std::move(text)),
                                          LogLevelVerbose, LogFlagInfo, 0, "f.cpp", "fn", 1,
                                          DDLogTag(), 0, origin);
}

std::string label(DispatchQueueLogFormatter& formatter, const char* queueLabel,
                  const std::string& threadName = "", std::uint32_t threadID = 0x1a03) {
    return formatter.queueThreadLabelForLogMessage(*message(queueLabel, threadName, threadID));
}

// Writes what its formatter makes of each message; formatting on its own queue, as loggers do.
class LineLogger : public DDAbstractLogger {
public:
    void logMessage(const DDLogMessagePtr& message) override {
        DDText line = formatter ? formatter->formatLogMessage(*message) : message->logMsg();
        std::lock_guard guard(mutex_);
        lines_.push_back(line ? *line : "(dropped)");
    }
    std::vector<std::string> lines() {
        std::lock_guard guard(mutex_);
        return lines_;
    }
    // Returns once an earlier setLogFormatter has taken effect on the logger's queue.
    void settle() { (void)logFormatter(); }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

void logInfo(const char* text) {
    DDLog::log(true, LogLevelVerbose, LogFlagInfo, 0, __FILE__, __func__, __LINE__, {}, "%s", text);
}

// Exposes which date formatter each thread was given.
class ProbeFormatter : public DispatchQueueLogFormatter {
public:
    std::string stringFromDate(std::chrono::system_clock::time_point date) override {
        const DDDateFormatter* used = currentDateFormatter();
        {
            std::lock_guard guard(mutex_);
            used_[std::this_thread::get_id()].insert(used);
        }
        return DispatchQueueLogFormatter::stringFromDate(date);
    }
    std::map<std::thread::id, std::set<const DDDateFormatter*>> takeUsed() {
        std::lock_guard guard(mutex_);
        return std::exchange(used_, {});
    }
    using DispatchQueueLogFormatter::currentDateFormatter;
    using DispatchQueueLogFormatter::loggerCount;

private:
    std::mutex mutex_;
    std::map<std::thread::id, std::set<const DDDateFormatter*>> used_;
};

} // namespace

TEST(DispatchQueueLogFormatter, LineIsDateLabelAndTextAndNeverNull) {
    DispatchQueueLogFormatter formatter;
    const auto m = message(dispatch::MAIN_QUEUE_LABEL, "", 1);
    EXPECT_EQ(*formatter.formatLogMessage(*m), "2014-03-05 07:08:09:012 [main] text");

    DDLogOrigin origin;
    origin.timestamp = kMarch5 + 987ms;
    origin.queueLabel = "q";
    const DDLogMessage noText(nullptr, LogLevelVerbose, LogFlagInfo, 0, "f.cpp", "fn", 1, {}, 0,
                              origin);
    const DDText line = formatter.formatLogMessage(noText);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(*line, "2014-03-05 07:08:09:999 [q] (null)");
}

TEST(DispatchQueueLogFormatter, LabelComesFromQueueThenThreadNameThenThreadID) {
    DispatchQueueLogFormatter formatter;
    // Equal text in another buffer: the main label is recognised by its bytes, not its address.
    const std::string mainCopy = dispatch::MAIN_QUEUE_LABEL;
    struct Case {
        const char* queueLabel;
        std::string threadName;
        std::uint32_t threadID;
        std::string expected;
    };
    std::vector<Case> cases = {
        {dispatch::MAIN_QUEUE_LABEL, "", 1, "main"},
        {dispatch::MAIN_QUEUE_LABEL, "worker", 1, "main"},
        {mainCopy.c_str(), "", 1, "main"},
        {"brimwell.sampler", "worker", 1, "brimwell.sampler"},
        {"dispatch.root.default-priority2", "worker", 1, "dispatch.root.default-priority2"},
        {"dispatch.root", "worker", 1, "dispatch.root"},
        {nullptr, "worker", 0x1a03, "worker"},
        {nullptr, "", 0x1a03, "1a03"},
        {nullptr, "", 0xABCDEF, "abcdef"},
        {nullptr, "", 0, "0"},
    };
    for (const char* global : dispatch::GLOBAL_QUEUE_LABELS) {
        cases.push_back({global, "worker", 0x1a03, "worker"});
        cases.push_back({global, "", 0x1a03, "1a03"});
    }
    for (const auto& c : cases) {
        EXPECT_EQ(label(formatter, c.queueLabel, c.threadName, c.threadID), c.expected)
            << (c.queueLabel ? c.queueLabel : "(no queue)") << " / '" << c.threadName << "'";
    }
}

TEST(DispatchQueueLogFormatter, ReplacementsApplyToQueueLabelsAndThreadNamesButNotToThreadIDs) {
    DispatchQueueLogFormatter formatter;
    EXPECT_EQ(formatter.replacementStringForQueueLabel(dispatch::MAIN_QUEUE_LABEL), "main");
    EXPECT_EQ(formatter.replacementStringForQueueLabel("brimwell.sampler"), std::nullopt);

    formatter.setReplacementString("sampler", "brimwell.sampler");
    formatter.setReplacementString("W", "worker");
    formatter.setReplacementString("hex", "1a03");
    EXPECT_EQ(label(formatter, "brimwell.sampler"), "sampler");
    EXPECT_EQ(label(formatter, dispatch::GLOBAL_QUEUE_LABELS[2], "worker"), "W");
    EXPECT_EQ(label(formatter, nullptr, "worker"), "W");
    EXPECT_EQ(label(formatter, nullptr, "", 0x1a03), "1a03");
    // The queue's own label wins over the thread's name, and only the label is looked up.
    EXPECT_EQ(label(formatter, "brimwell.other", "worker"), "brimwell.other");

    formatter.setReplacementString("S", "brimwell.sampler"); // replaces the earlier name
    EXPECT_EQ(label(formatter, "brimwell.sampler"), "S");

    // No display name removes the entry; removing an absent one changes nothing.
    formatter.setReplacementString(std::nullopt, dispatch::MAIN_QUEUE_LABEL);
    formatter.setReplacementString(std::nullopt, "never.added");
    EXPECT_EQ(formatter.replacementStringForQueueLabel(dispatch::MAIN_QUEUE_LABEL), std::nullopt);
    EXPECT_EQ(label(formatter, dispatch::MAIN_QUEUE_LABEL), "dispatch.main-thread");
    EXPECT_EQ(label(formatter, "brimwell.sampler"), "S");
}

TEST(DispatchQueueLogFormatter, LabelIsPaddedOrCutToTheWidthInUtf16Units) {
    struct Case {
        std::uint64_t minLength, maxLength;
        std::string raw, expected;
    };
    // Characters, not bytes: ü is two bytes, 日 three, each one unit; U+1F600 four bytes, two
    // units.
    const std::string u = "\xC3\xBC", sun = "\xE6\x97\xA5", smile = "\xF0\x9F\x98\x80";
    const Case cases[] = {
        {0, 0, "worker", "worker"},
        {6, 0, "main", "main  "},
        {4, 0, "main", "main"},
        {0, 3, "worker", "wor"},
        {0, 6, "worker", "worker"},
        {3, 3, "worker", "wor"},
        {8, 3, "worker", "wor"}, // a cut label is not padded again
        {6, 3, "ab", "ab    "},
        {1, 0, "", " "},
        {6, 0, u + "ber", u + "ber  "},
        {0, 2, u + "ber", u + "b"},
        {0, 2, sun + sun + sun, sun + sun},
        // A pair of units is one character and is never split.
        {0, 2, "a" + smile + "b", "a"},
        {0, 3, "a" + smile + "b", "a" + smile},
        {5, 0, "a" + smile + "b", "a" + smile + "b "},
        {4, 0, "a" + smile + "b", "a" + smile + "b"},
        // A name the kernel cut mid-character: the stray byte counts as one character.
        {0, 2, "ab\xC3", "ab"},
        {4, 0, "ab\xC3", "ab\xC3 "},
    };
    for (const auto& c : cases) {
        DispatchQueueLogFormatter formatter;
        formatter.setMinQueueLength(c.minLength);
        formatter.setMaxQueueLength(c.maxLength);
        EXPECT_EQ(formatter.minQueueLength(), c.minLength);
        EXPECT_EQ(formatter.maxQueueLength(), c.maxLength);
        EXPECT_EQ(label(formatter, c.raw.c_str()), c.expected)
            << "'" << c.raw << "' min " << c.minLength << " max " << c.maxLength;
    }
    // Replacement happens before fitting, and applies to the main queue too.
    DispatchQueueLogFormatter formatter;
    formatter.setMinQueueLength(6);
    const auto m = message(dispatch::MAIN_QUEUE_LABEL, "", 1);
    EXPECT_EQ(*formatter.formatLogMessage(*m), "2014-03-05 07:08:09:012 [main  ] text");
}

TEST(DispatchQueueLogFormatter, RealCallsShowMainQueueGlobalQueueWorkerAndThreads) {
    auto formatter = std::make_shared<DispatchQueueLogFormatter>();
    auto logger = std::make_shared<LineLogger>();
    logger->setLogFormatter(formatter);
    DDLog::addLogger(logger);

    logInfo("from main"); // the test body runs on the process's main thread
    const auto labelled = dispatch::queue_create("brimwell.test.labelled");
    dispatch::sync(labelled, [] { logInfo("from labelled"); });

    // A global queue's work runs on its worker thread; name that thread for the call only.
    std::promise<void> globalDone;
    dispatch::async(dispatch::get_global_queue(dispatch::QUEUE_PRIORITY_DEFAULT, 0), [&] {
        const std::string previous = thread_info::currentThreadName();
        thread_info::setCurrentThreadName("worker");
        logInfo("from global");
        thread_info::setCurrentThreadName(previous);
        globalDone.set_value();
    });
    globalDone.get_future().wait();

    // A std::thread runs no queue. Linux gives a new thread its creator's name (here the
    // executable's, cut to 15 bytes); one without any name shows its thread id.
    std::string inherited;
    std::thread([&] {
        inherited = thread_info::currentThreadName();
        logInfo("from thread");
    }).join();
    char unnamedID[16] = {};
    std::thread([&] {
        thread_info::setCurrentThreadName("");
        std::snprintf(unnamedID, sizeof unnamedID, "%x", thread_info::currentThreadID());
        logInfo("from unnamed");
    }).join();

    DDLog::flushLog();
    DDLog::removeLogger(logger);
    DDLog::flushLog();

    EXPECT_EQ(inherited, thread_info::processName().substr(0, 15));
    const std::string expected[] = {
        "[main] from main",
        "[brimwell.test.labelled] from labelled",
        "[worker] from global",
        "[" + inherited + "] from thread",
        "[" + std::string(unnamedID) + "] from unnamed",
    };
    const auto lines = logger->lines();
    ASSERT_EQ(lines.size(), std::size(expected));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].substr(23), " " + expected[i]) << lines[i]; // after the date
    }
}

TEST(DispatchQueueLogFormatter, SharedByTwoLoggersEachThreadUsesItsOwnDateFormatter) {
    auto formatter = std::make_shared<ProbeFormatter>();
    auto a = std::make_shared<LineLogger>();
    auto b = std::make_shared<LineLogger>();

    // Unused, and then with one logger: the one shared formatter, made once.
    const DDDateFormatter* shared = formatter->currentDateFormatter();
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(formatter->loggerCount(), 0);
    a->setLogFormatter(formatter);
    a->settle();
    EXPECT_EQ(formatter->loggerCount(), 1);
    DDLog::addLogger(a);
    for (int i = 0; i < 20; ++i) {
        logInfo("one logger");
    }
    DDLog::flushLog();
    for (const auto& [thread, used] : formatter->takeUsed()) {
        EXPECT_EQ(used, std::set<const DDDateFormatter*>{shared});
    }

    b->setLogFormatter(formatter);
    b->settle();
    EXPECT_EQ(formatter->loggerCount(), 2);
    DDLog::addLogger(b);
    constexpr int kPerLogger = 2000;
    for (int i = 0; i < 50; ++i) {
        logInfo("two loggers");
    }
    // Both loggers' queues format at the same time, each in a loop of its own.
    const DDLogMessagePtr fed = message("brimwell.feed", "", 1, "fed");
    for (const auto& logger : {a, b}) {
        dispatch::async(logger->loggerQueue(), [logger, fed] {
            for (int i = 0; i < kPerLogger; ++i) {
                logger->logMessage(fed);
            }
        });
    }
    DDLog::flushLog();
    for (const auto& logger : {a, b}) {
        dispatch::sync(logger->loggerQueue(), [] {});
    }
    // Each thread had one formatter of its own, kept across calls, none of them the shared one.
    std::set<const DDDateFormatter*> perThread;
    const auto used = formatter->takeUsed();
    ASSERT_FALSE(used.empty());
    for (const auto& [thread, formatters] : used) {
        ASSERT_EQ(formatters.size(), 1u);
        EXPECT_NE(*formatters.begin(), shared);
        perThread.insert(*formatters.begin());
    }
    EXPECT_EQ(perThread.size(), used.size());

    for (const auto& logger : {a, b}) {
        const auto lines = logger->lines();
        const std::size_t expected = (logger == a ? 20 : 0) + 50 + kPerLogger;
        ASSERT_EQ(lines.size(), expected);
        for (const std::string& line : lines) {
            EXPECT_TRUE(line.ends_with("] one logger") || line.ends_with("] two loggers") ||
                        line == "2014-03-05 07:08:09:012 [brimwell.feed] fed")
                << line;
        }
    }

    // Back to one logger: back to the shared formatter.
    DDLog::removeLogger(b);
    b->setLogFormatter(nullptr);
    b->settle();
    EXPECT_EQ(formatter->loggerCount(), 1);
    logInfo("one again");
    DDLog::flushLog();
    for (const auto& [thread, formatters] : formatter->takeUsed()) {
        EXPECT_EQ(formatters, std::set<const DDDateFormatter*>{shared});
    }
    DDLog::removeLogger(a);
    a->setLogFormatter(nullptr);
    a->settle();
    EXPECT_EQ(formatter->loggerCount(), 0);
}

TEST(DispatchQueueLogFormatter, ReplacementsAndWidthsChangeWhileLoggersFormat) {
    auto formatter = std::make_shared<DispatchQueueLogFormatter>();
    const auto m = message("brimwell.busy", "", 1);
    std::atomic<bool> stop{false};
    std::atomic<int> unexpected{0};
    auto format = [&] {
        while (!stop.load()) {
            const std::string line = *formatter->formatLogMessage(*m);
            const std::string label = line.substr(24, line.size() - 24 - 5);
            // Whatever the interleaving, the label is one of the states a change can leave.
            unexpected += label != "[brimwell.busy]" && label != "[B]" && label != "[brim]" &&
                          label != "[B   ]";
        }
    };
    std::thread readers[] = {std::thread(format), std::thread(format)};
    for (int i = 0; i < 2000; ++i) {
        formatter->setReplacementString(i % 2 ? std::optional<std::string>("B") : std::nullopt,
                                        "brimwell.busy");
        formatter->setMaxQueueLength(i % 3 == 0 ? 4 : 0);
        formatter->setMinQueueLength(i % 3 == 0 ? 4 : 0);
    }
    stop = true;
    for (auto& t : readers) {
        t.join();
    }
    EXPECT_EQ(unexpected.load(), 0);
}
