#include "logging/ContextFilterLogFormatter.h"
#include "logging/DDAbstractLogger.h"
#include "logging/DDLog.h"
#include "logging/DispatchQueueLogFormatter.h"
#include "logging/MCLogFormatter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <optional>
#include <thread>

using namespace std::chrono_literals;
using std::chrono::system_clock;
using Texts = std::vector<std::string>;

namespace {

// 2014-03-05 07:08:09.012 UTC (the test runs with TZ=UTC)
constexpr auto kMarch5 = std::chrono::system_clock::time_point(1394003289012ms);

// A message logged at kMarch5 + later; no text when text is null.
std::unique_ptr<DDLogMessage> message(const char* queueLabel, std::string threadName,
                                      std::uint32_t threadID, const char* text = "text",
                                      std::chrono::milliseconds later = 0ms) {
    DDLogOrigin origin;
    origin.timestamp = kMarch5 + later;
    origin.machThreadID = threadID;
    origin.queueLabel = queueLabel;
    origin.threadName = std::move(threadName);
    return std::make_unique<DDLogMessage>(
        text ? std::make_shared<const std::string>(text) : nullptr, LogLevelVerbose, LogFlagInfo, 0,
        "f.cpp", "fn", 1, DDLogTag(), 0, origin);
}

std::string label(DispatchQueueLogFormatter& formatter, const char* queueLabel,
                  const std::string& threadName = "", std::uint32_t threadID = 0x1a03) {
    return formatter.queueThreadLabelForLogMessage(*message(queueLabel, threadName, threadID));
}

// Writes what its formatter makes of each message and which queue checks hold there.
struct LineLogger : DDAbstractLogger {
    void logMessage(const DDLogMessagePtr& message) override {
        const DDText line = formatter ? formatter->formatLogMessage(*message) : message->logMsg();
        std::lock_guard guard(mutex);
        lines.push_back(*line + where());
    }
    std::string where() const {
        return std::string(isOnInternalLoggerQueue() ? "@own" : "") +
               (isOnGlobalLoggingQueue() ? "@global" : "");
    }
    // A subclass setting under the base's rule: called on the own queue it must run at once.
    bool changeSettingOnOwnQueueRunsAtOnce() {
        bool changed = false;
        dispatch::sync(loggerQueue(), [&] { changeSetting([&] { changed = true; }); });
        return changed;
    }
    std::mutex mutex;
    Texts lines; // read once the logger is done
};

using Contexts = std::vector<std::int32_t>;

Contexts sorted(Contexts contexts) {
    std::sort(contexts.begin(), contexts.end());
    return contexts;
}

// 2014-03-05 14:07:09 UTC, as time since 1970
constexpr auto kAfternoon = std::chrono::milliseconds(1394028429000LL);

// Formats a message "m". Each call on a thread builds it at the same address with the same text
// object, as a formatter that keyed a cache on either would show.
std::string mcLine(MCLogFormatter& formatter, std::int32_t flag, system_clock::duration since1970) {
    static const auto text = std::make_shared<const std::string>("m");
    thread_local std::optional<DDLogMessage> slot;
    DDLogOrigin origin;
    origin.timestamp = system_clock::time_point(since1970);
    slot.emplace(text, LogLevelVerbose, flag, 0, "f.cpp", "fn", 1, DDLogTag(), 0, origin);
    return *formatter.formatLogMessage(*slot);
}

// Prefixes the text; when it announces itself, records being added to and removed from loggers.
struct PrefixFormatter : DDLogFormatter {
    explicit PrefixFormatter(std::string p, bool a = false) : prefix(std::move(p)), announces(a) {}
    DDText formatLogMessage(const DDLogMessage& m) override {
        return std::make_shared<const std::string>(prefix + *m.logMsg());
    }
    bool implements(DDFormatterOperation) const override { return announces; }
    void didAddToLogger(DDLogger&) override { calls.push_back(prefix + "added"); }
    void willRemoveFromLogger(DDLogger&) override { calls.push_back(prefix + "removed"); }
    std::string prefix;
    bool announces;
    Texts calls; // touched only on the logger's queue
};

} // namespace

TEST(DispatchQueueLogFormatter, LabelIsTheQueueThenTheThreadNameThenTheIDAndNamesAreReplaced) {
    DispatchQueueLogFormatter formatter; // the main queue shows as "main" from the start
    formatter.setReplacementString("first", "brimwell.sampler"); // replaced by the next one
    formatter.setReplacementString("sampler", "brimwell.sampler");
    formatter.setReplacementString("W", "worker");
    formatter.setReplacementString("hex", "1a03"); // never applies to a thread id
    // Equal text in another buffer: the main label is recognised by its bytes, not its address.
    const std::string mainCopy = dispatch::MAIN_QUEUE_LABEL;
    // queue label, thread name, thread id -> label
    std::vector<std::tuple<const char*, std::string, std::uint32_t, std::string>> cases = {
        {dispatch::MAIN_QUEUE_LABEL, "", 1, "main"},
        {dispatch::MAIN_QUEUE_LABEL, "worker", 1, "main"},
        {mainCopy.c_str(), "", 1, "main"},
        {"brimwell.sampler", "worker", 1, "sampler"},
        {"dispatch.root.default-priority2", "worker", 1, "dispatch.root.default-priority2"},
        {"dispatch.root", "worker", 1, "dispatch.root"},
        {nullptr, "worker", 0x1a03, "W"},
        {nullptr, "", 0x1a03, "1a03"},
    };
    for (const char* global : dispatch::GLOBAL_QUEUE_LABELS) {
        cases.push_back({global, "worker", 0x1a03, "W"});
        cases.push_back({global, "", 0x1a03, "1a03"});
    }
    for (const auto& [queueLabel, threadName, threadID, expected] : cases) {
        EXPECT_EQ(label(formatter, queueLabel, threadName, threadID), expected)
            << (queueLabel ? queueLabel : "(no queue)") << " / '" << threadName << "'";
    }
    // No display name removes that one entry: the main queue shows its own label again.
    formatter.setReplacementString(std::nullopt, dispatch::MAIN_QUEUE_LABEL);
    EXPECT_EQ(label(formatter, dispatch::MAIN_QUEUE_LABEL), "dispatch.main-thread");
    EXPECT_EQ(label(formatter, "brimwell.sampler"), "sampler");
}

TEST(DispatchQueueLogFormatter, LabelIsPaddedOrCutToTheWidthInUtf16Units) {
    // Characters, not bytes: ü is two bytes, 日 three, each one unit; U+1F600 four bytes, two
    // units.
    const std::string u = "\xC3\xBC", sun = "\xE6\x97\xA5", smile = "\xF0\x9F\x98\x80";
    const std::tuple<std::uint64_t, std::uint64_t, std::string, std::string> cases[] = {
        // min, max, label -> fitted label
        {0, 0, "worker", "worker"},
        {6, 0, "main", "main  "},
        {0, 3, "worker", "wor"},
        {8, 3, "worker", "wor"}, // a cut label is not padded again
        {6, 3, "ab", "ab    "},
        {6, 0, u + "ber", u + "ber  "},
        {0, 2, sun + sun + sun, sun + sun},
        // A pair of units is one character and is never split.
        {0, 2, "a" + smile + "b", "a"},
        {0, 3, "a" + smile + "b", "a" + smile},
        {5, 0, "a" + smile + "b", "a" + smile + "b "},
        // A name the kernel cut mid-character: the stray byte counts as one character.
        {0, 2, "ab\xC3", "ab"},
        {4, 0, "ab\xC3", "ab\xC3 "},
    };
    for (const auto& [minLength, maxLength, raw, expected] : cases) {
        DispatchQueueLogFormatter formatter;
        formatter.setMinQueueLength(minLength);
        formatter.setMaxQueueLength(maxLength);
        EXPECT_EQ(label(formatter, raw.c_str()), expected)
            << "'" << raw << "' min " << minLength << " max " << maxLength;
    }
    // The line is date, label and text; replacement happens before fitting, and applies to the
    // main queue too. A message without text still makes a line.
    DispatchQueueLogFormatter formatter;
    formatter.setMinQueueLength(6);
    EXPECT_EQ(*formatter.formatLogMessage(*message(dispatch::MAIN_QUEUE_LABEL, "", 1)),
              "2014-03-05 07:08:09:012 [main  ] text");
    EXPECT_EQ(*formatter.formatLogMessage(*message("q", "", 1, nullptr, 987ms)),
              "2014-03-05 07:08:09:999 [q     ] (null)");
}

TEST(DispatchQueueLogFormatter, ReplacementsAndWidthsChangeWhileLoggersFormat) {
    auto formatter = std::make_shared<DispatchQueueLogFormatter>();
    // Held by two loggers, as the application's is: each thread then renders dates on its own.
    const std::shared_ptr<LineLogger> loggers[] = {std::make_shared<LineLogger>(),
                                                   std::make_shared<LineLogger>()};
    for (const auto& logger : loggers) {
        logger->setLogFormatter(formatter);
        (void)logger->logFormatter(); // once the change took effect
    }
    const auto m = message("brimwell.busy", "", 1);
    std::atomic<bool> stop{false};
    std::atomic<int> unexpected{0};
    auto format = [&] {
        while (!stop.load()) {
            const std::string line = *formatter->formatLogMessage(*m);
            const std::string label = line.substr(24, line.size() - 24 - 5);
            // Whatever the interleaving, the label is one of the states a change can leave.
            unexpected += !line.starts_with("2014-03-05 07:08:09:012 ") ||
                          (label != "[brimwell.busy]" && label != "[B]" && label != "[brim]" &&
                           label != "[B   ]");
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

TEST(ContextFilters, WhitelistPassesOnlyListedBlacklistDropsOnlyListed) {
    constexpr std::int32_t kMin = INT32_MIN, kMax = INT32_MAX;
    // listed contexts, the message's context, whether that one is listed
    const std::tuple<Contexts, std::int32_t, bool> cases[] = {
        {{}, 0, false},      {{5}, 5, true},       {{5}, 0, false},       {{5, -3}, -3, true},
        {{5, -3}, 0, false}, {{kMin}, kMin, true}, {{kMax}, kMin, false}, {{kMax}, kMax, true},
    };
    for (const auto& [listed, context, isListed] : cases) {
        ContextWhitelistFilterLogFormatter white;
        ContextBlacklistFilterLogFormatter black;
        for (const std::int32_t c : listed) {
            white.addToWhitelist(c);
            black.addToBlacklist(c);
        }
        DDLogMessage m(std::make_shared<const std::string>("text"), LogLevelVerbose, LogFlagInfo,
                       context, "f.cpp", "fn", 1, DDLogTag(), 0);
        // Passing means the message's own text object, unchanged; dropping means null.
        EXPECT_EQ(white.formatLogMessage(m), isListed ? m.logMsg() : nullptr) << context;
        EXPECT_EQ(black.formatLogMessage(m), isListed ? nullptr : m.logMsg()) << context;
    }
}

// Contexts 100..399 come and go while another thread filters: 7, listed throughout, always
// passes the whitelist and never the blacklist; 9, never listed, the reverse. The even ones stay.
TEST(ContextFilters, ContextsChangeWhileAnotherThreadFilters) {
    auto white = std::make_shared<ContextWhitelistFilterLogFormatter>();
    auto black = std::make_shared<ContextBlacklistFilterLogFormatter>();
    white->addToWhitelist(7);
    black->addToBlacklist(7);
    std::atomic<int> wrong{0};
    std::jthread filtering([&] {
        for (int i = 0; i < 3000; ++i) {
            const DDLogMessage m(std::make_shared<const std::string>("text"), LogLevelVerbose,
                                 LogFlagInfo, i % 2 ? 7 : 9, "f.cpp", "fn", 1, DDLogTag(), 0);
            wrong += (white->formatLogMessage(m) != nullptr) != (i % 2 == 1);
            wrong += (black->formatLogMessage(m) != nullptr) != (i % 2 == 0);
        }
    });
    Contexts expected{7};
    for (int round = 0; round < 20; ++round) {
        for (int c = 100; c < 400; ++c) {
            white->addToWhitelist(c);
            black->addToBlacklist(c);
            if (c % 2 != 0) {
                white->removeFromWhitelist(c);
                black->removeFromBlacklist(c);
            } else if (round == 0) {
                expected.push_back(c);
            }
        }
    }
    filtering.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(sorted(white->whitelist()), expected);
    EXPECT_EQ(sorted(black->blacklist()), expected);
}

TEST(MCLogFormatter, DateTagAndTextWithPaddedTruncatedMillisecondsOnA24HourClock) {
    MCLogFormatter formatter;
    const std::tuple<std::int32_t, system_clock::duration, const char*> cases[] = {
        {LogFlagError, kAfternoon + 123ms, "2014/03/05 14:07:09:123, [ERRO], m"},
        {LogFlagError, kAfternoon + 124ms, "2014/03/05 14:07:09:124, [ERRO], m"},
        {LogFlagWarn, kAfternoon + 124ms, "2014/03/05 14:07:09:124, [WARN], m"},
        {LogFlagWarn, kAfternoon + 124ms, "2014/03/05 14:07:09:124, [WARN], m"}, // asked again
        {LogFlagWarn, kAfternoon + 9ms, "2014/03/05 14:07:09:009, [WARN], m"},
        {LogFlagInfo, kAfternoon + 99ms + 10h, "2014/03/06 00:07:09:099, [INFO], m"},
        {LogFlagVerbose, kAfternoon + 999600us + 9h, "2014/03/05 23:07:09:999, [VERB], m"},
        {0, kAfternoon - 13h, "2014/03/05 01:07:09:000, [VERB], m"},
        {3, -500ms, "1969/12/31 23:59:59:500, [VERB], m"},
    };
    for (const auto& [flag, when, expected] : cases) {
        EXPECT_EQ(mcLine(formatter, flag, when), expected);
    }
    ::setenv("TZ", "IST-5:30", 1); // local time: five and a half hours east, in POSIX form
    ::tzset();
    std::string shifted;
    // A fresh thread has no cached fields from the UTC runs.
    std::thread([&] { shifted = mcLine(formatter, LogFlagError, kAfternoon); }).join();
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ(shifted, "2014/03/05 19:37:09:000, [ERRO], m");
}

TEST(AbstractLogger, RunsOnItsOwnQueueFormattersApplyToTheNextMessageAndHearOfTheirChange) {
    auto probe = std::make_shared<LineLogger>();
    DDLog::addLogger(probe);
    for (const char* text : {"plain", "a", "b"}) {
        DDLog::log(true, LogLevelVerbose, LogFlagError, 0, __FILE__, __func__, __LINE__, {}, text);
        probe->setLogFormatter(*text == 'p' ? std::make_shared<PrefixFormatter>("1:") : nullptr);
    }
    DDLog::removeAllLoggers();
    DDLog::flushLog();
    std::string onGlobal, onOther; // another logger's queue is not this logger's
    dispatch::sync(DDLog::loggingQueue(), [&] { onGlobal = probe->where(); });
    dispatch::sync(std::make_shared<LineLogger>()->loggerQueue(),
                   [&] { onOther = probe->where(); });
    EXPECT_EQ(onGlobal + "|" + onOther + "|" + probe->where(), "@global||");
    EXPECT_EQ(probe->lines, (Texts{"plain@own", "1:a@own", "b@own"}));
    // Formatters hear of being added and removed only when they implement it.
    auto announcing = std::make_shared<PrefixFormatter>("A", true);
    auto silent = std::make_shared<PrefixFormatter>("S");
    for (const auto& f : {announcing, announcing, silent, announcing}) { // the same again: no calls
        probe->setLogFormatter(f);
    }
    probe->setLogFormatter(nullptr);
    EXPECT_EQ(probe->logFormatter(), nullptr); // waits for the changes above
    EXPECT_EQ(announcing->calls, (Texts{"Aadded", "Aremoved", "Aadded", "Aremoved"}));
    EXPECT_TRUE(silent->calls.empty());
    EXPECT_TRUE(probe->changeSettingOnOwnQueueRunsAtOnce());
}
