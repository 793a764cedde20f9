#include "DDTTYLogger.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
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

const std::string kHeader =
    "2014-03-05 14:07:09:045 test_ttylogger[" + std::to_string(::getpid()) + ":1a2b] ";
const auto kRed = DDColor::fromBytes(214, 57, 30); // 256-colour 124, 16-colour index 1

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

// The nearest-colour choice (214,57,30 -> 124 in 256 mode, index 1 in 16 mode) shows in the
// escape sequences of ProfilesWrapTheLineWithTheNewlineBeforeTheReset.
TEST(DDTTYLogger, ColourTablesHoldTheTellingRowsAndTheNominalPaletteElsewhere) {
    const auto& t256 = DDTTYLogger::initialize_colors_256();
    ASSERT_EQ(DDTTYLogger::initialize_colors_16().colors.size(), 16u);
    ASSERT_EQ(t256.colors.size(), 240u);
    const int rows[][4] = {
        {16, 47, 49, 49}, {231, 254, 255, 255}, {17, 0, 0, 95}, {233, 18, 18, 18}};
    for (const auto& [n, r, g, b] : rows) {
        const DDColor& c = t256.colors[static_cast<std::size_t>(n - 16)];
        const long got[] = {std::lround(c.red * 255), std::lround(c.green * 255),
                            std::lround(c.blue * 255)};
        EXPECT_TRUE(got[0] == r && got[1] == g && got[2] == b) << n;
    }
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
    logger->setForegroundColor(std::nullopt, green, tag);
    EXPECT_EQ(written(*logger, message(LogFlagWarn, "off")), "F:off\n"); // colours still off
    logger->setColorsEnabled(true);
    const auto sameText = std::make_shared<const std::string>("net"); // equal, not identical
    const std::pair<DDLogMessagePtr, std::string> cases[] = {
        {message(LogFlagWarn, "w"), "\033[31mF:w\n\033[0m"}, // first match in list order
        {message(LogFlagWarn, "w9", 9), "\033[33mF:w9\n\033[0m"},
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
