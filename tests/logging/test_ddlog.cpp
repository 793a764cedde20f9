#include "logging/DDLog.h"
#include "logging/DDLogFormat.h"
#include "logging/recording_logger.h"
#include "platform/core/thread_info.h"

#include <gtest/gtest.h>

#include <future>
#include <pthread.h>
#include <semaphore>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using Op = DDLoggerOperation;
using Texts = std::vector<std::string>;

namespace {

void logText(bool async, const std::string& text) {
    DDLog::log(async, LogLevelVerbose, LogFlagError, 0, __FILE__, __func__, __LINE__, {}, "%@",
               text);
}

Texts numbered(int count) {
    Texts texts;
    for (int i = 0; i < count; ++i) {
        texts.push_back(std::to_string(i));
    }
    return texts;
}

// Counts what it is given and keeps no reference to any message.
struct CountingLogger : DDLogger {
    void logMessage(const DDLogMessagePtr&) override { seen.fetch_add(1); }
    DDLogFormatterPtr logFormatter() override { return nullptr; }
    void setLogFormatter(DDLogFormatterPtr) override {}
    std::atomic<long> seen{0};
};

using Watches = std::vector<std::weak_ptr<const DDLogMessage>>;

// Queues count messages and returns watches on them.
Watches logged(int count, bool asynchronously) {
    Watches watched;
    for (int i = 0; i < count; ++i) {
        auto message = std::make_shared<const DDLogMessage>(
            std::make_shared<const std::string>("m"), LogLevelWarn, LogFlagError, 0, "f.cpp", "fn",
            i, DDLogTag(), 0);
        watched.push_back(message);
        DDLog::queueLogMessage(std::move(message), asynchronously);
    }
    return watched;
}

long countAlive(const Watches& watched) {
    return std::count_if(watched.begin(), watched.end(),
                         [](const auto& w) { return !w.expired(); });
}

std::shared_ptr<RecordingLogger> added(std::set<Op> ops = {}, const std::string& ownQueue = "") {
    auto logger = std::make_shared<RecordingLogger>(std::move(ops));
    if (!ownQueue.empty()) {
        logger->ownQueue = dispatch::queue_create(ownQueue.c_str());
    }
    DDLog::addLogger(logger);
    return logger;
}

// Each test starts and ends with an empty registry and nothing pending.
class DDLogTest : public ::testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override {
        DDLog::overrideProcessorCount(thread_info::processorCount());
        DDLog::removeAllLoggers();
        DDLog::flushLog();
        appLogLevel = LogLevelWarn;
    }
};

} // namespace

TEST_F(DDLogTest, EveryLoggerFinishesMessageNBeforeAnyLoggerGetsNPlusOne) {
    constexpr int kLoggers = 3, kMessages = 300;
    // With one processor the loggers are also called one after the other in registry order.
    for (int processors : {thread_info::processorCount(), 1}) {
        DDLog::overrideProcessorCount(processors);
        std::vector<std::atomic<int>> finished(kMessages);
        std::atomic<bool> violated{false}, outOfRegistryOrder{false};
        std::atomic<unsigned long> calls{0};
        std::vector<std::shared_ptr<RecordingLogger>> loggers;
        for (int l = 0; l < kLoggers; ++l) {
            loggers.push_back(added({Op::loggerQueue}, "ordered." + std::to_string(l)));
            loggers[l]->onMessage = [&, l](const DDLogMessage& m) {
                const auto n = std::stoul(*m.logMsg());
                violated = violated || (n > 0 && finished[n - 1].load() != kLoggers);
                outOfRegistryOrder = outOfRegistryOrder ||
                                     calls.fetch_add(1) != n * kLoggers + static_cast<unsigned>(l);
                finished[n].fetch_add(1);
            };
        }
        // A busy logger queue: a core that did not wait would let the others run ahead.
        std::binary_semaphore hold(0);
        dispatch::async(loggers[1]->ownQueue, [&] { hold.acquire(); });
        for (int i = 0; i < kMessages; ++i) {
            logText(true, std::to_string(i));
        }
        hold.release();
        DDLog::flushLog();
        EXPECT_FALSE(violated);
        for (const auto& logger : loggers) {
            EXPECT_EQ(logger->texts(), numbered(kMessages));
        }
        EXPECT_TRUE(processors > 1 || !outOfRegistryOrder);
        DDLog::removeAllLoggers();
    }
}

TEST_F(DDLogTest, TheThousandAndFirstUndeliveredMessageBlocksItsCaller) {
    auto logger = added();
    std::binary_semaphore entered(0), release(0);
    std::atomic<bool> first{true};
    logger->onMessage = [&](const DDLogMessage&) {
        if (first.exchange(false)) {
            entered.release();
            release.acquire();
        }
    };
    logText(true, "0");
    entered.acquire();
    // Message 0 is being delivered and still counts; 999 more fit without blocking.
    auto producer = std::async(std::launch::async, [] {
        for (int i = 1; i < 1000; ++i) {
            logText(true, std::to_string(i));
        }
    });
    ASSERT_EQ(producer.wait_for(10s), std::future_status::ready);
    auto blocked = std::async(std::launch::async, [] { logText(true, "1000"); });
    EXPECT_EQ(blocked.wait_for(50ms), std::future_status::timeout);
    release.release();
    EXPECT_EQ(blocked.wait_for(10s), std::future_status::ready);
    DDLog::flushLog();
    EXPECT_EQ(logger->texts(), numbered(1001));
}

TEST_F(DDLogTest, LoggerAddedTwiceGetsEachMessageTwiceAndASyncCallWaitsForEveryLogger) {
    DDLog::addLogger(nullptr); // null arguments and messages without loggers are harmless
    DDLog::removeLogger(nullptr);
    for (int i = 0; i < 2500; ++i) { // each dropped message must give its pending slot back
        logText(true, "dropped");
    }
    auto logger = added(), other = added();
    DDLog::addLogger(logger);
    other->onMessage = [](const DDLogMessage&) { std::this_thread::sleep_for(2ms); };
    DDLog::log(true, LogLevelVerbose, LogFlagError, 0, __FILE__, __func__, __LINE__, {}, nullptr);
    logText(false, "x");
    EXPECT_EQ(logger->texts(), (Texts{"x", "x"}));
    EXPECT_EQ(other->texts(), Texts{"x"});
    DDLog::removeLogger(logger);
    logText(true, "y");
    DDLog::removeLogger(other);
    logText(true, "z");
    DDLog::flushLog();
    EXPECT_EQ(logger->texts(), (Texts{"x", "x", "y", "z"}));
    EXPECT_EQ(other->texts(), (Texts{"x", "y"}));
}

// The optional operations are called only when implemented: the queue and name asked once, at
// adding; didAdd before the first message and willRemove after the last.
TEST_F(DDLogTest, OptionalOperationsAreCalledOnlyWhenImplementedAndInOrder) {
    const Op queue = Op::loggerQueue, name = Op::loggerName, add = Op::didAddLogger,
             remove = Op::willRemoveLogger;
    const std::tuple<std::set<Op>, const char*, bool, Texts> cases[] = {
        // implemented, own queue, removed by removeAllLoggers, what the logger saw
        {{}, "", false, {"msg:m"}},
        {{queue, name}, "", false, {"loggerQueue?", "loggerName?", "msg:m@recording"}},
        {{queue}, "own.queue", false, {"loggerQueue?", "msg:m@own.queue"}},
        {{add, remove}, "", false, {"didAdd", "msg:m", "willRemove"}},
        {{add, remove}, "", true, {"didAdd", "msg:m", "willRemove"}},
    };
    for (const auto& [ops, ownQueue, removeAll, expected] : cases) {
        auto logger = added(ops, ownQueue);
        logger->onMessage = [](const DDLogMessage&) { std::this_thread::sleep_for(1ms); };
        logText(true, "m");
        removeAll ? DDLog::removeAllLoggers() : DDLog::removeLogger(logger);
        logText(true, "late"); // after the removal: not delivered
        DDLog::flushLog();
        // willRemove went to the logger's own queue; wait for it there.
        Texts events;
        for (int i = 0; i < 1000 && (events = logger->events()).size() < expected.size(); ++i) {
            std::this_thread::sleep_for(1ms);
        }
        EXPECT_EQ(events, expected) << expected.front() << " " << removeAll;
    }
}

TEST_F(DDLogTest, CallSitesFilterBeforeBuildingAnythingAndMessagesRecordTheirOrigin) {
    struct Counted { // counts how often its text form is built
        std::atomic<int>* count;
        std::string description() const { return count->fetch_add(1), "counted"; }
    };
    auto logger = added();
    std::atomic<int> built{0};
    const Counted arg{&built};
    ASSERT_EQ(appLogLevel.load(), 3);
    DDLogVerbose("v %@", arg);
    DDLogInfo("i %@", arg);
    EXPECT_EQ(built.load(), 0);
    std::uint32_t kernelId = 0;
    std::thread([&] {
        ::pthread_setname_np(::pthread_self(), "producer-1");
        kernelId = static_cast<std::uint32_t>(::syscall(SYS_gettid));
        DDLogWarn("w %@", arg);
    }).join();
    const auto before = std::chrono::system_clock::now();
    const int errorLine = __LINE__ + 1;
    DDLogError("e %@ %d", arg, 7);
    const auto after = std::chrono::system_clock::now();
    EXPECT_EQ(built.load(), 2);
    appLogLevel = LogLevelVerbose;
    dispatch::sync(dispatch::queue_create("caller.queue"), [] { DDLogVerbose("v2"); });
    DDLog::flushLog();

    const auto m = logger->messages();
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0]->machThreadID(), kernelId);
    EXPECT_EQ(m[0]->threadName(), "producer-1");
    EXPECT_EQ(m[0]->queueLabel(), nullptr);
    EXPECT_EQ(*m[1]->logMsg(), "e counted 7, [test_ddlog.cpp(" + std::to_string(errorLine) + ")]");
    EXPECT_EQ(m[1]->lineNumber(), errorLine);
    EXPECT_STREQ(m[1]->function(), "TestBody");
    EXPECT_TRUE(m[1]->timestamp() >= before && m[1]->timestamp() <= after);
    EXPECT_EQ(m[1]->queueLabel(), dispatch::MAIN_QUEUE_LABEL); // the test body's thread
    EXPECT_EQ(m[2]->logFlag(), LogFlagVerbose);
    // A copy of its own: the queue is gone by now.
    EXPECT_STREQ(m[2]->queueLabel(), "caller.queue");
}

TEST(DDLogExitDeathTest, NormalProcessExitFlushesWhatIsStillQueued) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            added()->onMessage = [](const DDLogMessage& m) { // to standard error, slowly
                std::this_thread::sleep_for(200us);
                std::fprintf(stderr, "%s\n", m.logMsg()->c_str());
            };
            for (int i = 0; i < 200; ++i) {
                logText(true, "queued " + std::to_string(i));
            }
            std::exit(0); // no flushLog: the core's exit hook must deliver the rest
        },
        ::testing::ExitedWithCode(0), "queued 198\nqueued 199\n$");
}

TEST(DDLogClassLevels, OnlyClassesWithBothOperationsTakePart) {
    static std::int32_t levelA = 1, levelC = 2, levelB = 3;
    EXPECT_TRUE(DDLog::registeredClassNames().empty()); // the program's own classes register none

    const DDLogClass a{"A", [] { return levelA; }, [](std::int32_t l) { levelA = l; }};
    const DDLogClass getterOnly{"B", [] { return levelB; }, nullptr};
    const DDLogClass c{"C", [] { return levelC; }, [](std::int32_t l) { levelC = l; }};
    for (const DDLogClass& cls : {a, getterOnly, c, a}) { // A twice: still one entry
        DDLog::registerClass(cls);
    }
    EXPECT_EQ(DDLog::registeredClassNames(), (std::vector<std::string>{"A", "C"}));

    DDLog::setLogLevel(7, "A");
    DDLog::setLogLevel(9, c);
    DDLog::setLogLevel(4, getterOnly); // not registered: nothing
    EXPECT_EQ(std::tuple(levelA, levelC, levelB), std::tuple(7, 9, 3));
    EXPECT_EQ(DDLog::logLevelForClassWithName("A"), 7);
    EXPECT_EQ(DDLog::logLevelForClass(c), 9);
    EXPECT_EQ(DDLog::logLevelForClassWithName("B"), -1);
}

// The core hands every message to every logger and then lets go of it: while logging goes on it
// keeps only a bounded number, and once flushLog returns it holds no delivered message.
TEST_F(DDLogTest, DeliveredMessagesAreLetGo) {
    auto first = std::make_shared<CountingLogger>(), second = std::make_shared<CountingLogger>();
    DDLog::addLogger(first);
    DDLog::addLogger(second);
    auto watched = logged(10000, true);
    logText(false, "sync"); // returns after everything queued before it was delivered
    EXPECT_EQ(first->seen.load(), 10001);
    // Well below the pending-message limit, let alone the ten thousand delivered.
    EXPECT_LT(countAlive(watched), 500);
    // Once flushed, neither the last message nor synchronous ones are held.
    const auto synchronous = logged(600, false), last = logged(1, true);
    DDLog::flushLog();
    EXPECT_EQ(second->seen.load(), 10001 + 601);
    EXPECT_EQ(countAlive(watched) + countAlive(synchronous) + countAlive(last), 0);
}

namespace {
struct Point {
    int x, y;
    std::string description() const { return std::to_string(x) + "," + std::to_string(y); }
};
} // namespace

TEST(DDFormat, ConversionsTextObjectsPrintfAndBrokenFormatsThreadIDAndBaseFileName) {
    const std::pair<std::string, std::string> cases[] = {
        // %@ takes anything with a text form.
        {DDFormat("%@|%@|%@", std::string("str"), "literal", static_cast<const char*>(nullptr)),
         "str|literal|(null)"},
        {DDFormat("%@ %@ %@", Point{3, 4}, std::make_shared<Point>(Point{1, 2}),
                  std::shared_ptr<Point>()),
         "3,4 1,2 (null)"},
        {DDFormat("%@ [%5@]", -7, std::string("ab")), "-7 [   ab]"},
        // The rest as printf, with length modifiers.
        {DDFormat("%lld %hhd %x %05d|%.2f|%*d|%%", 5000000000LL, 257, 255, 42, 3.14159, 3, 5),
         "5000000000 1 ff 00042|3.14|  5|%"},
        // Missing arguments show the conversion; %n writes nothing and takes no argument.
        {DDFormat("%s and %d"), "%s and %d"},
        {DDFormat("%d %d", 1), "1 %d"},
        {DDFormat("a%nb%d", 5), "ab5"},
        {DDFormat("odd %q, trailing %"), "odd %q, trailing %"},
        // Huge widths are capped instead of allocating gigabytes.
        {std::to_string(DDFormat("%999999999d", 1).size()), "4096"},
    };
    for (const auto& [got, expected] : cases) {
        EXPECT_EQ(got, expected);
    }
    DDLogOrigin origin;
    origin.machThreadID = 0xABC;
    EXPECT_EQ(DDLogMessage(nullptr, 0, 0, 0, nullptr, nullptr, 0, {}, 0, origin).threadID(),
              "abc"); // lower case, no leading zeros
    const std::pair<const char*, const char*> baseNames[] = {
        {"/a/b/file.ext", "file"}, {"/dir.old/report", "report"}, {"x.y.z", "x.y"}, {".h", ""}};
    for (const auto& [path, expected] : baseNames) {
        EXPECT_EQ(DDBaseFileName(path, false)->view(), expected) << path;
        EXPECT_EQ(DDBaseFileName(path, true)->str(), expected) << path;
    }
    EXPECT_EQ(DDBaseFileName(nullptr, false), std::nullopt);
}
