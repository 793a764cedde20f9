// The terminal and system log loggers: output, colours, priorities, and both under load.
#include "logging/DDASLLogger.h"
#include "logging/DDLog.h"
#include "logging/DDTTYLogger.h"
#include "logging/MCLogFormatter.h"
#include "platform/core/thread_info.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

DDLogMessagePtr message(std::int32_t flag, const std::string& text, std::int32_t context = 0,
                        DDLogTag tag = {}) {
    DDLogOrigin origin;
    origin.timestamp = std::chrono::system_clock::time_point(1394028429045ms);
    origin.machThreadID = 0x1a2b;
    return std::make_shared<const DDLogMessage>(std::make_shared<const std::string>(text),
                                                LogLevelVerbose, flag, context, "f.cpp", "fn", 1,
                                                std::move(tag), 0, origin);
}

// Prefixes the text with "F:", hands back the message's own text when it starts with "own" and
// nothing for "none".
struct PrefixFormatter : DDLogFormatter {
    DDText formatLogMessage(const DDLogMessage& m) override {
        const std::string& text = *m.logMsg();
        return text == "none"            ? nullptr
               : text.starts_with("own") ? m.logMsg()
                                         : std::make_shared<const std::string>("F:" + text);
    }
};

std::shared_ptr<DDTTYLogger> ttyLogger(DDTTYColorMode mode) {
    auto logger = std::make_shared<DDTTYLogger>(mode);
    logger->setLogFormatter(std::make_shared<PrefixFormatter>());
    return logger;
}

// Hands one message straight to the logger, once earlier setting changes took effect, with file
// descriptor 2 pointed at a pipe; returns what reached the pipe.
std::string written(DDTTYLogger& logger, const DDLogMessagePtr& m) {
    (void)logger.colorsEnabled();
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(fds[1], STDERR_FILENO);
    logger.logMessage(m);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(fds[1]);
    std::string out(16384, '\0'); // all of it is in the pipe already: one read takes it
    out.resize(
        static_cast<std::size_t>(std::max<ssize_t>(::read(fds[0], out.data(), out.size()), 0)));
    ::close(fds[0]);
    return out;
}

const std::string kHeader = "2014-03-05 14:07:09:045 " + thread_info::processName() + "[" +
                            std::to_string(::getpid()) + ":1a2b] ";
const auto kRed = DDColor::fromBytes(214, 57, 30); // 256-colour 124, 16-colour index 1

struct RecordingSink : DDSystemLogSink {
    void log(int priority, const char* format, const char* text) override {
        entries.push_back(std::to_string(priority) + "|" + format + "|" + text);
    }
    std::vector<std::string> entries; // written only by the test's own thread
};
} // namespace

TEST(DDTTYLogger, ColourModeComesFromTermThenXcodeColors) {
    using Mode = DDTTYColorMode;
    const std::tuple<const char*, const char*, Mode> cases[] = {
        {"XTERM-256COLOR", nullptr, Mode::ansi256},
        {"screen.Color", "YES", Mode::ansi16},
        {"xterm", "YES", Mode::none},
        {nullptr, "YES", Mode::xcodeColors},
        {nullptr, "yes", Mode::none},
    };
    for (const auto& [term, xcode, expected] : cases) {
        EXPECT_EQ(DDTTYLogger::colorModeForEnvironment(term, xcode), expected)
            << (term ? term : "(unset)") << " / " << (xcode ? xcode : "(unset)");
    }
    // The shared logger takes its mode from the environment (the test runs with TERM=xterm-color).
    EXPECT_EQ(DDTTYLogger::sharedInstance()->colorMode(), Mode::ansi16);
}

namespace {

// A table row as "<foreground code> <background code> <r>,<g>,<b>".
std::string row(const std::string& fg, const std::string& bg, long r, long g, long b) {
    return fg + " " + bg + " " + std::to_string(r) + "," + std::to_string(g) + "," +
           std::to_string(b);
}

// Checks every row of the table, naming each one that differs by its colour number.
void expectRows(const DDTTYColorTable& table, int firstNumber,
                const std::vector<std::string>& expected) {
    ASSERT_EQ(table.colors.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const DDColor& c = table.colors[i];
        EXPECT_EQ(row(table.fgCodes.at(i), table.bgCodes.at(i), std::lround(c.red * 255),
                      std::lround(c.green * 255), std::lround(c.blue * 255)),
                  expected[i])
            << "colour number " << firstNumber + static_cast<int>(i);
    }
}

} // namespace

TEST(DDTTYLogger, BothColourTablesHoldEveryRow) {
    const int rgb16[16][3] = {{0, 0, 0},       {194, 54, 33},  {37, 188, 36},  {173, 173, 39},
                              {73, 46, 225},   {211, 56, 211}, {51, 187, 200}, {203, 204, 205},
                              {129, 131, 131}, {252, 57, 31},  {49, 231, 34},  {234, 236, 35},
                              {88, 51, 255},   {249, 53, 248}, {20, 240, 240}, {233, 235, 235}};
    std::vector<std::string> expected16;
    for (int i = 0; i < 16; ++i) {
        // 30-37 and 40-47, the bright half with the bold attribute.
        const std::string bold = i < 8 ? "" : "1;";
        expected16.push_back(row(bold + std::to_string(30 + i % 8) + "m",
                                 bold + std::to_string(40 + i % 8) + "m", rgb16[i][0], rgb16[i][1],
                                 rgb16[i][2]));
    }
    expectRows(DDTTYLogger::initialize_colors_16(), 0, expected16);

    // The numbers whose shades terminals are known to show differently from the xterm palette.
    const std::map<int, std::array<int, 3>> shown = {
        {16, {47, 49, 49}},   {21, {88, 51, 255}},    {22, {42, 128, 37}},   {46, {27, 254, 30}},
        {124, {214, 57, 30}}, {196, {255, 61, 30}},   {226, {251, 252, 15}}, {231, {254, 255, 255}},
        {232, {52, 53, 53}},  {244, {151, 152, 153}}, {255, {240, 242, 242}}};
    // Otherwise the palette's definition: 16-231 a 6x6x6 cube over six levels, 232-255 a grey
    // ramp from 8 in steps of 10.
    const int levels[6] = {0, 95, 135, 175, 215, 255};
    std::vector<std::string> expected;
    for (int n = 16; n <= 255; ++n) {
        const int k = n - 16, grey = 8 + 10 * (n - 232);
        std::array<int, 3> rgb = n < 232
                                     ? std::array{levels[k / 36], levels[k / 6 % 6], levels[k % 6]}
                                     : std::array{grey, grey, grey};
        if (const auto it = shown.find(n); it != shown.end()) {
            rgb = it->second;
        }
        expected.push_back(row("38;5;" + std::to_string(n) + "m", "48;5;" + std::to_string(n) + "m",
                               rgb[0], rgb[1], rgb[2]));
    }
    expectRows(DDTTYLogger::initialize_colors_256(), 16, expected);
}

TEST(DDTTYLogger, LineLayoutNewlineRuleAndLongLinesWrittenWhole) {
    auto logger = ttyLogger(DDTTYColorMode::none);
    const std::string atBoundary = "own" + std::string(4092, 'x'), overBoundary = atBoundary + "y";
    const std::pair<std::string, std::string> cases[] = {
        {"text", "F:text\n"},
        {"ends\n", "F:ends\n"},
        {"none", ""},
        {"own\n", kHeader + "own\n"}, // the message's own text counts as unformatted
        {atBoundary, kHeader + atBoundary + "\n"},
        {overBoundary, kHeader + overBoundary + "\n"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(written(*logger, message(LogFlagInfo, text)), expected) << text.size();
    }
}

TEST(DDTTYLogger, ProfilesWrapTheLineWithTheNewlineBeforeTheReset) {
    // Colours enabled with no profiles: the defaults for errors and warnings come in.
    const std::tuple<DDTTYColorMode, std::int32_t, std::string, std::string> defaults[] = {
        {DDTTYColorMode::xcodeColors, LogFlagError, "m", "\033[fg214,57,30;F:m\n\033[;"},
        {DDTTYColorMode::xcodeColors, LogFlagWarn, "m", "\033[fg204,121,32;F:m\n\033[;"},
        {DDTTYColorMode::ansi256, LogFlagError, "own", "\033[38;5;124m" + kHeader + "own\n\033[0m"},
        {DDTTYColorMode::none, LogFlagError, "m", "F:m\n"},
    };
    for (const auto& [mode, flag, text, expected] : defaults) {
        auto logger = ttyLogger(mode);
        logger->setColorsEnabled(true);
        EXPECT_EQ(written(*logger, message(flag, text)), expected);
    }

    auto logger = ttyLogger(DDTTYColorMode::ansi16);
    const auto green = DDColor::fromBytes(37, 188, 36);   // index 2
    const auto yellow = DDColor::fromBytes(173, 173, 39); // index 3
    const auto tag = std::make_shared<const std::string>("net");
    logger->setForegroundColor(kRed, std::nullopt, LogFlagError | LogFlagWarn);
    logger->setForegroundColor(green, std::nullopt, LogFlagWarn, 0);
    logger->setForegroundColor(yellow, std::nullopt, LogFlagWarn, 9);
    // The bright half of the sixteen takes the bold attribute.
    logger->setForegroundColor(DDColor::fromBytes(252, 57, 31), std::nullopt, LogFlagWarn, 7);
    logger->setForegroundColor(std::nullopt, green, tag);
    EXPECT_EQ(written(*logger, message(LogFlagWarn, "off")), "F:off\n"); // colours still off
    logger->setColorsEnabled(true);
    const auto sameText = std::make_shared<const std::string>("net"); // equal, not identical
    const std::pair<DDLogMessagePtr, std::string> cases[] = {
        {message(LogFlagWarn, "w"), "\033[31mF:w\n\033[0m"}, // first match in list order
        {message(LogFlagWarn, "w9", 9), "\033[33mF:w9\n\033[0m"},
        {message(LogFlagWarn, "w7", 7), "\033[1;31mF:w7\n\033[0m"},
        {message(LogFlagInfo, "i"), "F:i\n"}, // a profile existed: no defaults loaded
        {message(LogFlagError, "t", 0, sameText), "\033[42mF:t\n\033[0m"}, // tag first
    };
    for (const auto& [m, expected] : cases) {
        EXPECT_EQ(written(*logger, m), expected) << *m->logMsg();
    }
    logger->clearColorsForFlag(LogFlagError | LogFlagWarn); // only this exact mask and context
    EXPECT_EQ(written(*logger, message(LogFlagWarn, "w")), "\033[32mF:w\n\033[0m");
    logger->clearAllColors();
    EXPECT_EQ(written(*logger, message(LogFlagWarn, "w9", 9)), "F:w9\n");
}

TEST(DDASLLogger, PriorityFollowsTheFlagAndTheTextTravelsAsTheArgumentOfPercentS) {
    auto sink = std::make_shared<RecordingSink>();
    DDASLLogger logger(sink);
    for (std::int32_t flag : {LogFlagError, LogFlagWarn, LogFlagInfo, LogFlagVerbose, 3, 0}) {
        logger.logMessage(std::make_shared<const DDLogMessage>(
            std::make_shared<const std::string>("100% %s %d %n"), 3, flag, 0, "f.cpp", "fn", 1,
            DDLogTag(), 0));
    }
    const std::string text = "|%s|100% %s %d %n";
    EXPECT_EQ(sink->entries, (std::vector<std::string>{"2" + text, "3" + text, "4" + text,
                                                       "5" + text, "5" + text, "5" + text}));
}

// Eight producers log through the terminal and system log loggers at once; after flushLog every
// message must have reached both, each producer's messages in the order it logged them.
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
