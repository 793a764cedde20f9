#include "DDLog.h"
#include "recording_logger.h"
#include "thread_info.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using Op = DDLoggerOperation;

namespace {

void logText(bool async, const std::string& text, std::int32_t flag = LogFlagError) {
    DDLog::log(async, LogLevelVerbose, flag, 0, __FILE__, __func__, __LINE__, {}, "%@", text);
}

std::vector<std::string> numbered(int from, int to) {
    std::vector<std::string> texts;
    for (int i = from; i < to; ++i) {
        texts.push_back(std::to_string(i));
    }
    return texts;
}

// Each test starts and ends with an empty registry and nothing pending.
class DDLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        DDLog::removeAllLoggers();
        DDLog::flushLog();
    }
    void TearDown() override {
        DDLog::overrideProcessorCount(thread_info::processorCount());
        DDLog::removeAllLoggers();
        DDLog::flushLog();
        appLogLevel = LogLevelWarn;
    }
};

// Counts how often its text form is asked for.
struct CountingArgument {
    std::atomic<int>* count;
    std::string description() const {
        count->fetch_add(1);
        return "counted";
    }
};

} // namespace

TEST_F(DDLogTest, EveryLoggerFinishesMessageNBeforeAnyLoggerGetsNPlusOne) {
    constexpr int kLoggers = 3;
    constexpr int kMessages = 300;
    std::vector<std::atomic<int>> finished(kMessages);
    std::atomic<bool> violated{false};
    std::vector<std::shared_ptr<RecordingLogger>> loggers;
    for (int l = 0; l < kLoggers; ++l) {
        auto logger = std::make_shared<RecordingLogger>(std::set<Op>{Op::loggerQueue});
        logger->ownQueue = dispatch::queue_create(("ordered." + std::to_string(l)).c_str());
        logger->onMessage = [&, l](const DDLogMessage& m) {
            const int n = std::stoi(*m.logMsg());
            if (n > 0 && finished[static_cast<std::size_t>(n - 1)].load() != kLoggers) {
                violated = true;
            }
            // Give the other loggers a chance to run ahead if the core let them.
            for (int spin = 0; spin < (l + 1) * 200; ++spin) {
                std::atomic_signal_fence(std::memory_order_seq_cst);
            }
            finished[static_cast<std::size_t>(n)].fetch_add(1);
        };
        loggers.push_back(logger);
        DDLog::addLogger(logger);
    }
    // A busy logger queue makes the core wait for that queue's worker for a while.
    std::atomic<bool> hold{true};
    dispatch::async(loggers[1]->ownQueue, [&] {
        while (hold.load()) {
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < kMessages; ++i) {
        logText(true, std::to_string(i));
    }
    hold = false;
    DDLog::flushLog();
    EXPECT_FALSE(violated);
    for (const auto& logger : loggers) {
        EXPECT_EQ(logger->messageTexts(), numbered(0, kMessages));
    }
}

TEST_F(DDLogTest, WithOneProcessorLoggersAreCalledInRegistryOrder) {
    DDLog::overrideProcessorCount(1);
    EXPECT_EQ(DDLog::processorCount(), 1);
    std::mutex mutex;
    std::vector<std::string> calls;
    std::vector<std::shared_ptr<RecordingLogger>> loggers;
    for (const char* name : {"a", "b", "c"}) {
        auto logger = std::make_shared<RecordingLogger>();
        logger->onMessage = [&, name](const DDLogMessage& m) {
            std::lock_guard lock(mutex);
            calls.push_back(std::string(name) + *m.logMsg());
        };
        loggers.push_back(logger);
        DDLog::addLogger(logger);
    }
    for (int i = 0; i < 3; ++i) {
        logText(true, std::to_string(i));
    }
    DDLog::flushLog();
    EXPECT_EQ(calls,
              (std::vector<std::string>{"a0", "b0", "c0", "a1", "b1", "c1", "a2", "b2", "c2"}));
}

TEST_F(DDLogTest, TheThousandAndFirstUndeliveredMessageBlocksItsCaller) {
    auto logger = std::make_shared<RecordingLogger>();
    std::promise<void> firstEntered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> first{true};
    logger->onMessage = [&](const DDLogMessage&) {
        if (first.exchange(false)) {
            firstEntered.set_value();
            released.wait();
        }
    };
    DDLog::addLogger(logger);
    logText(true, "0");
    firstEntered.get_future().wait();
    // Message 0 is being delivered and still counts; 999 more fit without blocking.
    auto producer = std::async(std::launch::async, [] {
        for (int i = 1; i < 1000; ++i) {
            logText(true, std::to_string(i));
        }
    });
    ASSERT_EQ(producer.wait_for(10s), std::future_status::ready);
    auto blocked = std::async(std::launch::async, [] { logText(true, "1000"); });
    EXPECT_EQ(blocked.wait_for(50ms), std::future_status::timeout);
    release.set_value();
    EXPECT_EQ(blocked.wait_for(10s), std::future_status::ready);
    DDLog::flushLog();
    EXPECT_EQ(logger->messageTexts(), numbered(0, 1001));
}

TEST_F(DDLogTest, SynchronousCallReturnsAfterEveryLoggerAndAsynchronousAtOnce) {
    auto slow = std::make_shared<RecordingLogger>();
    slow->onMessage = [](const DDLogMessage&) { std::this_thread::sleep_for(5ms); };
    auto fast = std::make_shared<RecordingLogger>();
    DDLog::addLogger(slow);
    DDLog::addLogger(fast);
    logText(false, "sync");
    EXPECT_EQ(slow->messageTexts(), std::vector<std::string>{"sync"});
    EXPECT_EQ(fast->messageTexts(), std::vector<std::string>{"sync"});

    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    slow->onMessage = nullptr;
    fast->onMessage = [&](const DDLogMessage&) { released.wait(); };
    DDLog::flushLog(); // the new callbacks take effect after earlier deliveries
    auto asyncCall = std::async(std::launch::async, [] { logText(true, "async"); });
    EXPECT_EQ(asyncCall.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(fast->messageTexts().size(), 1u);
    release.set_value();
    DDLog::flushLog();
    EXPECT_EQ(fast->messageTexts(), (std::vector<std::string>{"sync", "async"}));
}

TEST_F(DDLogTest, FlushWaitsForDeliveryAndForTheLoggersThatFlush) {
    auto flushing = std::make_shared<RecordingLogger>(std::set<Op>{Op::flush});
    flushing->onMessage = [](const DDLogMessage&) { std::this_thread::sleep_for(1ms); };
    auto plain = std::make_shared<RecordingLogger>();
    DDLog::addLogger(flushing);
    DDLog::addLogger(plain);
    for (int i = 0; i < 20; ++i) {
        logText(true, std::to_string(i));
    }
    DDLog::flushLog();
    std::vector<std::string> expectedPlain;
    for (const auto& t : numbered(0, 20)) {
        expectedPlain.push_back("msg:" + t);
    }
    EXPECT_EQ(plain->events(), expectedPlain); // flush not implemented: never called
    std::vector<std::string> expectedFlushing = expectedPlain;
    expectedFlushing.push_back("flush");
    EXPECT_EQ(flushing->events(), expectedFlushing);
}

TEST_F(DDLogTest, LoggerAddedTwiceGetsEachMessageTwiceAndOneRemovalDropsOneEntry) {
    auto logger = std::make_shared<RecordingLogger>();
    auto other = std::make_shared<RecordingLogger>();
    DDLog::addLogger(logger);
    DDLog::addLogger(other);
    DDLog::addLogger(logger);
    logText(true, "x");
    DDLog::flushLog();
    EXPECT_EQ(logger->messageTexts(), (std::vector<std::string>{"x", "x"}));
    DDLog::removeLogger(logger);
    logText(true, "y");
    DDLog::removeLogger(other);
    DDLog::removeLogger(other); // not registered any more: nothing happens
    logText(true, "z");
    DDLog::flushLog();
    EXPECT_EQ(logger->messageTexts(), (std::vector<std::string>{"x", "x", "y", "z"}));
    EXPECT_EQ(other->messageTexts(), (std::vector<std::string>{"x", "y"}));
}

TEST_F(DDLogTest, DidAddRunsBeforeTheFirstMessageAndWillRemoveAfterTheLast) {
    auto logger =
        std::make_shared<RecordingLogger>(std::set<Op>{Op::didAddLogger, Op::willRemoveLogger});
    logger->onMessage = [](const DDLogMessage&) { std::this_thread::sleep_for(1ms); };
    DDLog::addLogger(logger);
    logText(true, "1");
    logText(true, "2");
    DDLog::removeLogger(logger);
    logText(true, "3"); // after the removal: not delivered
    DDLog::flushLog();
    dispatch::sync(DDLog::loggingQueue(), [] {});
    // willRemove went to the logger's own queue; wait for it there.
    std::vector<std::string> events;
    for (int i = 0; i < 1000 && (events = logger->events()).size() < 4; ++i) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(events, (std::vector<std::string>{"didAdd", "msg:1", "msg:2", "willRemove"}));
}

TEST_F(DDLogTest, RemoveAllLoggersTellsEachImplementerOnce) {
    auto a = std::make_shared<RecordingLogger>(std::set<Op>{Op::willRemoveLogger});
    auto b = std::make_shared<RecordingLogger>();
    DDLog::addLogger(a);
    DDLog::addLogger(b);
    logText(true, "before");
    DDLog::removeAllLoggers();
    logText(true, "after");
    DDLog::flushLog();
    std::vector<std::string> events;
    for (int i = 0; i < 1000 && (events = a->events()).size() < 2; ++i) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(events, (std::vector<std::string>{"msg:before", "willRemove"}));
    EXPECT_EQ(b->events(), std::vector<std::string>{"msg:before"});
}

TEST_F(DDLogTest, OptionalQueueAndNameAreAskedOnlyWhenImplemented) {
    struct Case {
        std::set<Op> ops;
        bool ownQueue;
        std::vector<std::string> expectedQuestions;
        std::string expectedLabel;
    };
    const Case cases[] = {
        {{}, false, {}, "(none)"},
        {{Op::loggerName}, false, {"loggerName?"}, "recording"},
        {{Op::loggerQueue}, true, {"loggerQueue?"}, "own.queue"},
        {{Op::loggerQueue, Op::loggerName}, false, {"loggerQueue?", "loggerName?"}, "recording"},
        {{Op::loggerQueue, Op::loggerName}, true, {"loggerQueue?"}, "own.queue"},
    };
    for (const auto& c : cases) {
        auto logger = std::make_shared<RecordingLogger>(c.ops);
        if (c.ownQueue) {
            logger->ownQueue = dispatch::queue_create("own.queue");
        }
        DDLog::addLogger(logger);
        logText(true, "m");
        DDLog::removeLogger(logger);
        DDLog::flushLog();
        std::vector<std::string> expectedEvents = c.expectedQuestions;
        expectedEvents.push_back("msg:m");
        EXPECT_EQ(logger->events(), expectedEvents);
        EXPECT_EQ(logger->labels(), std::vector<std::string>{c.expectedLabel});
    }
}

TEST_F(DDLogTest, NullArgumentsAndNoLoggersAreHarmless) {
    DDLog::addLogger(nullptr);
    DDLog::removeLogger(nullptr);
    // With no logger each message is dropped and its pending slot given back.
    for (int i = 0; i < 2500; ++i) {
        logText(true, "dropped");
    }
    DDLog::flushLog();
    auto logger = std::make_shared<RecordingLogger>();
    DDLog::addLogger(logger);
    DDLog::log(true, LogLevelVerbose, LogFlagError, 0, __FILE__, __func__, __LINE__, {}, nullptr);
    logText(false, "kept");
    EXPECT_EQ(logger->messageTexts(), std::vector<std::string>{"kept"});
}

TEST_F(DDLogTest, ApplicationCallSitesFilterByAppLogLevelBeforeBuildingAnything) {
    auto logger = std::make_shared<RecordingLogger>();
    DDLog::addLogger(logger);
    std::atomic<int> built{0};
    CountingArgument arg{&built};
    ASSERT_EQ(appLogLevel.load(), 3);
    DDLogVerbose("v %@", arg);
    DDLogInfo("i %@", arg);
    EXPECT_EQ(built.load(), 0);
    const int warnLine = __LINE__ + 1;
    DDLogWarn("w %@", arg);
    const int errorLine = __LINE__ + 1;
    DDLogError("e %@ %d", arg, 7);
    EXPECT_EQ(built.load(), 2);
    appLogLevel = LogLevelVerbose;
    DDLogVerbose("v2");
    appLogLevel = LogLevelOff;
    DDLogError("off");
    DDLog::flushLog();

    const auto messages = logger->messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(*messages[0]->logMsg(),
              "w counted, [test_ddlog.cpp(" + std::to_string(warnLine) + ")]");
    const auto& error = *messages[1];
    EXPECT_EQ(*error.logMsg(), "e counted 7, [test_ddlog.cpp(" + std::to_string(errorLine) + ")]");
    EXPECT_EQ(error.logFlag(), LogFlagError);
    EXPECT_EQ(error.logLevel(), 3);
    EXPECT_EQ(error.logContext(), 0);
    EXPECT_EQ(error.lineNumber(), errorLine);
    EXPECT_STREQ(error.file(), __FILE__);
    EXPECT_EQ(error.file(), static_cast<const char*>(__FILE__)); // borrowed, not copied
    EXPECT_STREQ(error.function(), "TestBody");
    EXPECT_EQ(error.tag(), nullptr);
    EXPECT_EQ(error.options(), 0);
    EXPECT_EQ(messages[2]->logLevel(), LogLevelVerbose);
    EXPECT_EQ(messages[2]->logFlag(), LogFlagVerbose);
}

TEST_F(DDLogTest, MessageRecordsTheCallingThreadAndQueue) {
    auto logger = std::make_shared<RecordingLogger>();
    DDLog::addLogger(logger);
    std::uint32_t tid = 0;
    std::thread t([&] {
        thread_info::setCurrentThreadName("producer-1");
        tid = thread_info::currentThreadID();
        logText(true, "from thread");
    });
    t.join();
    auto q = dispatch::queue_create("caller.queue");
    dispatch::sync(q, [] { logText(true, "from queue"); });
    const auto before = std::chrono::system_clock::now();
    logText(true, "timed");
    const auto after = std::chrono::system_clock::now();
    DDLog::flushLog();

    const auto messages = logger->messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0]->machThreadID(), tid);
    EXPECT_EQ(messages[0]->threadName(), "producer-1");
    EXPECT_EQ(messages[0]->queueLabel(), nullptr);
    EXPECT_STREQ(messages[1]->queueLabel(), "caller.queue");
    EXPECT_NE(messages[1]->queueLabel(), dispatch::queue_get_label(q)); // a private copy
    EXPECT_EQ(messages[2]->machThreadID(), thread_info::currentThreadID());
    EXPECT_GE(messages[2]->timestamp(), before);
    EXPECT_LE(messages[2]->timestamp(), after);
}

namespace {
// Writes each message's text to standard error on its own queue, slowly.
class SlowStderrLogger : public RecordingLogger {
public:
    void logMessage(const DDLogMessagePtr& message) override {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        const std::string line = *message->logMsg() + "\n";
        if (::write(STDERR_FILENO, line.data(), line.size()) < 0) {
            std::abort();
        }
    }
};
} // namespace

TEST(DDLogExitDeathTest, NormalProcessExitFlushesWhatIsStillQueued) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            DDLog::addLogger(std::make_shared<SlowStderrLogger>());
            for (int i = 0; i < 200; ++i) {
                logText(true, "queued " + std::to_string(i));
            }
            std::exit(0); // no flushLog: the core's exit hook must deliver the rest
        },
        ::testing::ExitedWithCode(0), "queued 198\nqueued 199\n$");
}

TEST(DDLogMessage, CopyOptionsMakePrivateCopiesThatOutliveTheCaller) {
    std::string file = "/src/dir/Widget.cpp";
    std::string function = "render";
    DDLogMessage copied(std::make_shared<const std::string>("t"), 3, 1, 0, file.c_str(),
                        function.c_str(), 10, {},
                        LogMessageOptionCopyFile | LogMessageOptionCopyFunction);
    DDLogMessage borrowed(std::make_shared<const std::string>("t"), 3, 1, 0, file.c_str(),
                          function.c_str(), 10, {}, 0);
    EXPECT_EQ(borrowed.file(), file.c_str());
    EXPECT_EQ(borrowed.function(), function.c_str());
    EXPECT_NE(copied.file(), file.c_str());
    file.assign("overwritten-overwritten-overwritten");
    function.assign("gone-gone-gone-gone-gone-gone");
    EXPECT_STREQ(copied.file(), "/src/dir/Widget.cpp");
    EXPECT_STREQ(copied.function(), "render");
    EXPECT_EQ(copied.fileName()->view(), "Widget");
    EXPECT_EQ(copied.methodName(), "render");

    DDLogMessage noFunction(std::make_shared<const std::string>("t"), 3, 1, 0, nullptr, nullptr, 1,
                            {}, LogMessageOptionCopyFile | LogMessageOptionCopyFunction);
    EXPECT_EQ(noFunction.methodName(), std::nullopt);
    EXPECT_EQ(noFunction.fileName(), std::nullopt);
}

TEST(DDLogMessage, ThreadIDIsLowerCaseHexWithoutLeadingZeros) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {255, "ff"}, {4096, "1000"}, {0, "0"}, {0xABCDEF01u, "abcdef01"}, {10, "a"}};
    for (const auto& [port, expected] : cases) {
        DDLogOrigin origin;
        origin.machThreadID = port;
        DDLogMessage m(std::make_shared<const std::string>(""), 0, 0, 0, nullptr, nullptr, 0, {}, 0,
                       origin);
        EXPECT_EQ(m.threadID(), expected) << port;
    }
}

TEST(DDBaseFileName, NameBetweenLastSlashAndLastDotAfterIt) {
    const std::pair<const char*, const char*> cases[] = {
        {"/a/b/file.ext", "file"},
        {"name", "name"},
        {"/dir.old/report", "report"},
        {"x.y.z", "x.y"},
        {"/x/", ""},
        {".hidden", ""},
        {"dir/.profile.bak", ".profile"},
        {"", ""},
        {"/a/b.c/d.e.f", "d.e"},
    };
    for (const auto& [path, expected] : cases) {
        for (bool copy : {false, true}) {
            const auto name = DDBaseFileName(path, copy);
            ASSERT_TRUE(name.has_value()) << path;
            EXPECT_EQ(name->view(), expected) << path;
            EXPECT_EQ(name->ownsBytes(), copy) << path;
            if (!copy) {
                // Without copying the name lies inside the path's own bytes.
                EXPECT_GE(name->view().data(), path);
                EXPECT_LE(name->view().data() + name->view().size(), path + std::strlen(path));
            }
        }
    }
    EXPECT_EQ(DDBaseFileName(nullptr, false), std::nullopt);
    EXPECT_EQ(DDBaseFileName(nullptr, true), std::nullopt);
}

namespace {
std::int32_t widgetLevel = LogLevelWarn;
std::int32_t widgetLogLevel() {
    return widgetLevel;
}
void widgetSetLogLevel(std::int32_t level) {
    widgetLevel = level;
}
std::int32_t halfLevel() {
    return 99;
}
} // namespace

TEST(DDLogClasses, OnlyClassesWithBothLevelOperationsAreRegistered) {
    const DDLogClass widget{"Widget", widgetLogLevel, widgetSetLogLevel};
    const DDLogClass half{"Half", halfLevel, nullptr};
    const DDLogClass plain{"Plain", nullptr, nullptr};
    EXPECT_TRUE(DDLog::registeredClassNames().empty());
    EXPECT_EQ(DDLog::logLevelForClass(widget), LogLevelWarn); // usable even before listing
    DDLog::registerClass(plain);
    DDLog::registerClass(widget);
    DDLog::registerClass(half);

    EXPECT_EQ(DDLog::registeredClassNames(), std::vector<std::string>{"Widget"});
    EXPECT_TRUE(DDLog::isRegisteredClass(widget));
    EXPECT_FALSE(DDLog::isRegisteredClass(half));
    EXPECT_EQ(DDLog::logLevelForClass(half), -1);
    EXPECT_EQ(DDLog::logLevelForClass(plain), -1);
    EXPECT_EQ(DDLog::logLevelForClassWithName("Half"), -1);
    EXPECT_EQ(DDLog::logLevelForClassWithName("NoSuchClass"), -1);

    DDLog::setLogLevel(LogLevelVerbose, "Widget");
    EXPECT_EQ(widgetLevel, LogLevelVerbose);
    EXPECT_EQ(DDLog::logLevelForClassWithName("Widget"), LogLevelVerbose);
    DDLog::setLogLevel(LogLevelError, widget);
    EXPECT_EQ(DDLog::logLevelForClass(widget), LogLevelError);
    DDLog::setLogLevel(LogLevelInfo, "Half"); // does nothing, and must not crash
    DDLog::setLogLevel(LogLevelInfo, "NoSuchClass");
    EXPECT_EQ(widgetLevel, LogLevelError);
}
