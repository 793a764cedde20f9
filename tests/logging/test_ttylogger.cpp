#include "DDTTYLogger.h"
#include "MCLogFormatter.h"
#include "thread_info.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

using namespace std::chrono;

namespace {

// Points file descriptor 2 at a pipe while alive; text() gives what was written.
class StderrCapture {
public:
    StderrCapture() {
        EXPECT_EQ(::pipe(fds_), 0);
        saved_ = ::dup(STDERR_FILENO);
        ::dup2(fds_[1], STDERR_FILENO);
    }
    ~StderrCapture() { restore(); }
    std::string text() {
        restore();
        std::string out;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fds_[0], buffer, sizeof buffer)) > 0) {
            out.append(buffer, static_cast<std::size_t>(n));
        }
        return out;
    }

private:
    void restore() {
        if (saved_ >= 0) {
            ::dup2(saved_, STDERR_FILENO);
            ::close(saved_);
            ::close(fds_[1]);
            saved_ = -1;
        }
    }
    int fds_[2] = {-1, -1};
    int saved_ = -1;
};

// 2014-03-05 14:07:09.045 UTC
const auto kWhen = system_clock::time_point(milliseconds(1394028429045LL));

DDLogMessagePtr message(std::int32_t flag, const std::string& text, std::int32_t context = 0,
                        DDLogTag tag = {}) {
    DDLogOrigin origin;
    origin.timestamp = kWhen;
    origin.machThreadID = 0x1a2b;
    return std::make_shared<const DDLogMessage>(std::make_shared<const std::string>(text),
                                                LogLevelVerbose, flag, context, "f.cpp", "fn", 1,
                                                std::move(tag), 0, origin);
}

// Returns what it is told to: a new text, the message's own text, or nothing.
class FixedFormatter : public DDLogFormatter {
public:
    enum class Result { prefixed, own, none };
    explicit FixedFormatter(Result result) : result_(result) {}
    DDText formatLogMessage(const DDLogMessage& m) override {
        switch (result_) {
        case Result::prefixed:
            return std::make_shared<const std::string>("F:" + *m.logMsg());
        case Result::own:
            return m.logMsg();
        default:
            return nullptr;
        }
    }

private:
    Result result_;
};

std::string written(DDTTYLogger& logger, const DDLogMessagePtr& m) {
    StderrCapture capture;
    logger.logMessage(m);
    return capture.text();
}

// Waits until earlier setting changes took effect.
void settle(DDTTYLogger& logger) {
    (void)logger.colorsEnabled();
}

const std::string kHeader = "2014-03-05 14:07:09:045 " + thread_info::processName() + "[" +
                            std::to_string(::getpid()) + ":1a2b] ";

} // namespace

TEST(DDTTYLogger, ColourModeComesFromTermThenXcodeColors) {
    struct Case {
        const char* term;
        const char* xcode;
        DDTTYColorMode expected;
    };
    const Case cases[] = {
        {"xterm-256color", nullptr, DDTTYColorMode::ansi256},
        {"XTERM-256COLOR", nullptr, DDTTYColorMode::ansi256},
        {"xterm-color", nullptr, DDTTYColorMode::ansi16},
        {"screen.Color", "YES", DDTTYColorMode::ansi16},
        {"xterm", nullptr, DDTTYColorMode::none},
        {"xterm", "YES", DDTTYColorMode::none},
        {"", "YES", DDTTYColorMode::none},
        {nullptr, "YES", DDTTYColorMode::xcodeColors},
        {nullptr, "yes", DDTTYColorMode::none},
        {nullptr, nullptr, DDTTYColorMode::none},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DDTTYLogger::colorModeForEnvironment(c.term, c.xcode), c.expected)
            << (c.term ? c.term : "(unset)") << " / " << (c.xcode ? c.xcode : "(unset)");
    }
}

TEST(DDTTYLogger, ColourTablesHoldTheTellingRows) {
    const auto& t16 = DDTTYLogger::initialize_colors_16();
    ASSERT_EQ(t16.colors.size(), 16u);
    EXPECT_EQ(t16.fgCodes[1], "31m");
    EXPECT_EQ(t16.bgCodes[15], "1;47m");
    EXPECT_EQ(t16.fgCodes[8], "1;30m");
    EXPECT_FLOAT_EQ(t16.colors[1].red * 255, 194);

    const auto& t256 = DDTTYLogger::initialize_colors_256();
    ASSERT_EQ(t256.colors.size(), 240u);
    ASSERT_EQ(t256.fgCodes.size(), 240u);
    EXPECT_EQ(t256.fgCodes[0], "38;5;16m");
    EXPECT_EQ(t256.bgCodes[239], "48;5;255m");
    struct Row {
        int n, r, g, b;
    };
    const Row rows[] = {{16, 47, 49, 49},
                        {21, 88, 51, 255},
                        {22, 42, 128, 37},
                        {46, 27, 254, 30},
                        {124, 214, 57, 30},
                        {196, 255, 61, 30},
                        {226, 251, 252, 15},
                        {231, 254, 255, 255},
                        {232, 52, 53, 53},
                        {244, 151, 152, 153},
                        {255, 240, 242, 242},
                        // nominal palette elsewhere
                        {17, 0, 0, 95},
                        {59, 95, 95, 95},
                        {233, 18, 18, 18}};
    for (const auto& row : rows) {
        const DDColor& c = t256.colors[static_cast<std::size_t>(row.n - 16)];
        EXPECT_NEAR(c.red * 255, row.r, 1e-3) << row.n;
        EXPECT_NEAR(c.green * 255, row.g, 1e-3) << row.n;
        EXPECT_NEAR(c.blue * 255, row.b, 1e-3) << row.n;
    }
    // Built once: the same table every time.
    EXPECT_EQ(&DDTTYLogger::initialize_colors_256(), &t256);
}

TEST(DDTTYLogger, NearestColourKeepsTheLowerIndexOnTiesAndZeroForAnEmptyTable) {
    const auto red = DDColor::fromBytes(214, 57, 30);
    EXPECT_EQ(DDTTYLogger::codeIndexForColor(red, DDTTYLogger::initialize_colors_256()), 108u);
    EXPECT_EQ(DDTTYLogger::codeIndexForColor(red, DDTTYLogger::initialize_colors_16()), 1u);
    DDTTYColorTable twins;
    twins.colors = {DDColor::fromBytes(0, 0, 0), DDColor::fromBytes(10, 10, 10),
                    DDColor::fromBytes(10, 10, 10)};
    EXPECT_EQ(DDTTYLogger::codeIndexForColor(DDColor::fromBytes(10, 10, 10), twins), 1u);
    EXPECT_EQ(DDTTYLogger::codeIndexForColor(DDColor::fromBytes(5, 5, 5), twins), 0u);
    EXPECT_EQ(DDTTYLogger::codeIndexForColor(red, DDTTYColorTable{}), 0u);
}

TEST(DDTTYLoggerColorProfile, SequencesPerMode) {
    const auto red = DDColor::fromBytes(214, 57, 30);
    const auto blue = DDColor::fromBytes(88, 51, 255);
    struct Case {
        DDTTYColorMode mode;
        std::optional<DDColor> fg, bg;
        std::string fgCode, bgCode, reset;
    };
    const Case cases[] = {
        {DDTTYColorMode::ansi256, red, std::nullopt, "\033[38;5;124m", "", "\033[0m"},
        {DDTTYColorMode::ansi256, std::nullopt, blue, "", "\033[48;5;21m", "\033[0m"},
        {DDTTYColorMode::ansi16, red, blue, "\033[31m", "\033[1;44m", "\033[0m"},
        {DDTTYColorMode::xcodeColors, red, blue, "\033[fg214,57,30;", "\033[bg88,51,255;",
         "\033[;"},
        {DDTTYColorMode::none, red, blue, "", "", ""},
    };
    for (const auto& c : cases) {
        DDTTYLoggerColorProfile p(c.fg, c.bg, LogFlagError, 0, c.mode);
        EXPECT_EQ(std::string(p.fgCode, p.fgCodeLen), c.fgCode);
        EXPECT_EQ(std::string(p.bgCode, p.bgCodeLen), c.bgCode);
        EXPECT_EQ(std::string(p.resetCode, p.resetCodeLen), c.reset);
        EXPECT_EQ(p.fgCode[p.fgCodeLen], '\0');
    }
    DDTTYLoggerColorProfile p(red, std::nullopt, 3, 7, DDTTYColorMode::ansi256);
    EXPECT_EQ(p.fg_r, 214);
    EXPECT_EQ(p.fg_g, 57);
    EXPECT_EQ(p.fg_b, 30);
    EXPECT_EQ(p.fgCodeIndex, 108u);
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "<DDTTYLoggerColorProfile: %p ",
                  static_cast<const void*>(&p));
    EXPECT_EQ(p.description(), std::string(prefix) +
                                   "mask:3 ctxt:7 fg:214,57,30 bg:0,0,0 fgCode:38;5;124m "
                                   "bgCode:(null)>");
}

TEST(DDTTYLogger, FormattedLineIsTheFormattersTextPlusOneNewline) {
    auto logger = std::make_shared<DDTTYLogger>(DDTTYColorMode::none);
    logger->setLogFormatter(std::make_shared<FixedFormatter>(FixedFormatter::Result::prefixed));
    settle(*logger);
    EXPECT_EQ(written(*logger, message(LogFlagError, "text")), "F:text\n");
    EXPECT_EQ(written(*logger, message(LogFlagError, "ends\n")), "F:ends\n");
    EXPECT_EQ(written(*logger, message(LogFlagError, "")), "F:\n");

    auto app = std::make_shared<DDTTYLogger>(DDTTYColorMode::none);
    auto formatter = std::make_shared<MCLogFormatter>();
    app->setLogFormatter(formatter);
    settle(*app);
    const auto m = message(LogFlagError, "boom");
    EXPECT_EQ(written(*app, m), *formatter->formatLogMessage(*m) + "\n");
}

TEST(DDTTYLogger, UnformattedLineCarriesTheHeader) {
    auto bare = std::make_shared<DDTTYLogger>(DDTTYColorMode::none);
    EXPECT_EQ(written(*bare, message(LogFlagInfo, "hello")), kHeader + "hello\n");
    EXPECT_EQ(written(*bare, message(LogFlagInfo, "nl\n")), kHeader + "nl\n");

    // A formatter that hands back the message's own text counts as no formatting.
    auto own = std::make_shared<DDTTYLogger>(DDTTYColorMode::none);
    own->setLogFormatter(std::make_shared<FixedFormatter>(FixedFormatter::Result::own));
    settle(*own);
    EXPECT_EQ(written(*own, message(LogFlagInfo, "same")), kHeader + "same\n");

    auto none = std::make_shared<DDTTYLogger>(DDTTYColorMode::none);
    none->setLogFormatter(std::make_shared<FixedFormatter>(FixedFormatter::Result::none));
    settle(*none);
    EXPECT_EQ(written(*none, message(LogFlagError, "dropped")), "");
}

TEST(DDTTYLogger, LongTextsArriveWholeAcrossTheStackBufferBoundary) {
    auto logger = std::make_shared<DDTTYLogger>(DDTTYColorMode::none);
    logger->setLogFormatter(std::make_shared<FixedFormatter>(FixedFormatter::Result::own));
    settle(*logger);
    for (std::size_t length : {4094u, 4095u, 4096u, 4097u, 30000u}) {
        std::string text(length, 'x');
        text[0] = '<';
        text[length - 1] = '>';
        EXPECT_EQ(written(*logger, message(LogFlagInfo, text)), kHeader + text + "\n") << length;
    }
}

TEST(DDTTYLogger, ColoursWrapTheLineWithTheNewlineBeforeTheReset) {
    auto logger = std::make_shared<DDTTYLogger>(DDTTYColorMode::ansi256);
    logger->setLogFormatter(std::make_shared<FixedFormatter>(FixedFormatter::Result::prefixed));
    // Colours off: profiles are not used yet.
    logger->setForegroundColor(DDColor::fromBytes(88, 51, 255), std::nullopt, LogFlagInfo);
    settle(*logger);
    EXPECT_EQ(written(*logger, message(LogFlagInfo, "i")), "F:i\n");

    logger->setColorsEnabled(true);
    EXPECT_TRUE(logger->colorsEnabled());
    // The info profile existed, so no defaults were loaded: errors stay plain.
    EXPECT_EQ(written(*logger, message(LogFlagError, "e")), "F:e\n");
    EXPECT_EQ(written(*logger, message(LogFlagInfo, "i")), "\033[38;5;21mF:i\n\033[0m");
    EXPECT_EQ(written(*logger, message(LogFlagInfo, "ctx", 5)), "F:ctx\n");

    auto fresh = std::make_shared<DDTTYLogger>(DDTTYColorMode::ansi256);
    fresh->setColorsEnabled(true); // empty list: the defaults for errors and warnings come in
    settle(*fresh);
    EXPECT_EQ(written(*fresh, message(LogFlagError, "e")),
              "\033[38;5;124m" + kHeader + "e\n\033[0m");
    EXPECT_EQ(written(*fresh, message(LogFlagVerbose, "v")), kHeader + "v\n");
}

TEST(DDTTYLogger, DefaultProfilesInXcodeColorsMode) {
    auto logger = std::make_shared<DDTTYLogger>(DDTTYColorMode::xcodeColors);
    logger->setLogFormatter(std::make_shared<FixedFormatter>(FixedFormatter::Result::prefixed));
    logger->setColorsEnabled(false); // loads the defaults even when switching off
    logger->setColorsEnabled(true);
    settle(*logger);
    EXPECT_EQ(written(*logger, message(LogFlagError, "e")), "\033[fg214,57,30;F:e\n\033[;");
    EXPECT_EQ(written(*logger, message(LogFlagWarn, "w")), "\033[fg204,121,32;F:w\n\033[;");
}

TEST(DDTTYLogger, ProfileChoiceTagFirstThenFirstMatchingFlagAndContext) {
    auto logger = std::make_shared<DDTTYLogger>(DDTTYColorMode::ansi16);
    logger->setLogFormatter(std::make_shared<FixedFormatter>(FixedFormatter::Result::prefixed));
    const auto red = DDColor::fromBytes(194, 54, 33);     // 16-colour index 1
    const auto green = DDColor::fromBytes(37, 188, 36);   // index 2
    const auto yellow = DDColor::fromBytes(173, 173, 39); // index 3
    const auto tag = std::make_shared<const std::string>("net");
    logger->setForegroundColor(red, std::nullopt, LogFlagError | LogFlagWarn);
    logger->setForegroundColor(green, std::nullopt, LogFlagWarn, 0);
    logger->setForegroundColor(yellow, std::nullopt, LogFlagWarn, 9);
    logger->setForegroundColor(std::nullopt, green, tag);
    logger->setColorsEnabled(true);
    settle(*logger);

    struct Case {
        DDLogMessagePtr m;
        std::string expected;
    };
    const auto untagged = std::make_shared<const std::string>("other");
    const auto sameText = std::make_shared<const std::string>("net"); // equal, not identical
    const Case cases[] = {
        {message(LogFlagWarn, "w"), "\033[31mF:w\n\033[0m"}, // first match in list order
        {message(LogFlagWarn, "w9", 9), "\033[33mF:w9\n\033[0m"},
        {message(LogFlagInfo, "i"), "F:i\n"},
        {message(LogFlagError, "t", 0, sameText), "\033[42mF:t\n\033[0m"},
        {message(LogFlagError, "u", 0, untagged), "\033[31mF:u\n\033[0m"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(written(*logger, c.m), c.expected) << *c.m->logMsg();
    }

    // Replacing keeps the place in the list; clearing removes only the exact mask and context.
    logger->setForegroundColor(yellow, std::nullopt, LogFlagError | LogFlagWarn);
    settle(*logger);
    EXPECT_EQ(written(*logger, message(LogFlagWarn, "w")), "\033[33mF:w\n\033[0m");
    logger->clearColorsForFlag(LogFlagWarn); // mask 2 only, context 0
    logger->clearColorsForFlag(LogFlagError | LogFlagWarn);
    settle(*logger);
    EXPECT_EQ(written(*logger, message(LogFlagWarn, "w")), "F:w\n");
    EXPECT_EQ(written(*logger, message(LogFlagWarn, "w9", 9)), "\033[33mF:w9\n\033[0m");
    logger->clearColorsForTag(tag);
    settle(*logger);
    EXPECT_EQ(written(*logger, message(LogFlagError, "t", 0, sameText)), "F:t\n");
    logger->setForegroundColor(red, std::nullopt, tag);
    logger->clearAllColors();
    settle(*logger);
    EXPECT_EQ(written(*logger, message(LogFlagWarn, "w9", 9)), "F:w9\n");
    EXPECT_EQ(written(*logger, message(LogFlagError, "t", 0, sameText)), "F:t\n");
}

TEST(DDTTYLogger, ColoursInModeNoneLookLikePlainOutput) {
    auto logger = std::make_shared<DDTTYLogger>(DDTTYColorMode::none);
    logger->setLogFormatter(std::make_shared<FixedFormatter>(FixedFormatter::Result::prefixed));
    logger->setColorsEnabled(true);
    settle(*logger);
    EXPECT_EQ(written(*logger, message(LogFlagError, "e")), "F:e\n");
}

TEST(DDTTYLogger, SharedInstanceWritesToStandardErrorThroughTheCore) {
    auto shared = DDTTYLogger::sharedInstance();
    EXPECT_EQ(shared, DDTTYLogger::sharedInstance());
    EXPECT_EQ(shared->loggerName(), "cocoa.lumberjack.ttyLogger");
    EXPECT_STREQ(dispatch::queue_get_label(shared->loggerQueue()), "cocoa.lumberjack.ttyLogger");
    EXPECT_EQ(shared->colorMode(), DDTTYColorMode::ansi16); // TERM from the test's environment
    shared->setLogFormatter(std::make_shared<MCLogFormatter>());
    DDLog::addLogger(shared);
    std::string out;
    {
        StderrCapture capture;
        DDLogError("through %@", std::string("core"));
        DDLog::flushLog();
        out = capture.text();
    }
    DDLog::removeLogger(shared);
    DDLog::flushLog();
    EXPECT_NE(out.find(", [ERRO], through core, [test_ttylogger.cpp("), std::string::npos) << out;
    EXPECT_EQ(out.back(), '\n');
}
