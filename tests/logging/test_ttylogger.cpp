#include "DDLogLevel.h"
#include "DDTTYLogger.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

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

namespace {

struct Row {
    int number; // the terminal's colour number
    int r, g, b;
};

// Every row of a table that differs from the expected one, as "number: what differs".
std::vector<std::string> differences(const DDTTYColorTable& table, const std::vector<Row>& rows,
                                     const std::function<std::string(int)>& fgCode,
                                     const std::function<std::string(int)>& bgCode) {
    std::vector<std::string> found;
    if (table.colors.size() != rows.size() || table.fgCodes.size() != rows.size() ||
        table.bgCodes.size() != rows.size()) {
        found.push_back("table sizes " + std::to_string(table.colors.size()) + "/" +
                        std::to_string(table.fgCodes.size()) + "/" +
                        std::to_string(table.bgCodes.size()) + ", expected " +
                        std::to_string(rows.size()));
        return found;
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const DDColor& c = table.colors[i];
        const long got[] = {std::lround(c.red * 255), std::lround(c.green * 255),
                            std::lround(c.blue * 255)};
        const std::string where = std::to_string(row.number) + ": ";
        if (got[0] != row.r || got[1] != row.g || got[2] != row.b) {
            found.push_back(where + "colour " + std::to_string(got[0]) + "," +
                            std::to_string(got[1]) + "," + std::to_string(got[2]));
        }
        if (table.fgCodes[i] != fgCode(row.number)) {
            found.push_back(where + "foreground " + table.fgCodes[i]);
        }
        if (table.bgCodes[i] != bgCode(row.number)) {
            found.push_back(where + "background " + table.bgCodes[i]);
        }
    }
    return found;
}

} // namespace

TEST(DDTTYLogger, SixteenColourTableHoldsEveryRow) {
    const std::vector<Row> rows = {
        {0, 0, 0, 0},       {1, 194, 54, 33},   {2, 37, 188, 36},   {3, 173, 173, 39},
        {4, 73, 46, 225},   {5, 211, 56, 211},  {6, 51, 187, 200},  {7, 203, 204, 205},
        {8, 129, 131, 131}, {9, 252, 57, 31},   {10, 49, 231, 34},  {11, 234, 236, 35},
        {12, 88, 51, 255},  {13, 249, 53, 248}, {14, 20, 240, 240}, {15, 233, 235, 235}};
    // 30-37 and 40-47, the bright half with the bold attribute.
    const auto code = [](int base) {
        return [base](int n) { return (n < 8 ? "" : "1;") + std::to_string(base + n % 8) + "m"; };
    };
    EXPECT_EQ(differences(DDTTYLogger::initialize_colors_16(), rows, code(30), code(40)),
              std::vector<std::string>{});
}

TEST(DDTTYLogger, TwoHundredFiftySixColourTableHoldsEveryRow) {
    // The xterm palette from its definition: numbers 16-231 a 6x6x6 cube over six levels,
    // 232-255 a grey ramp from 8 in steps of 10 ...
    const int levels[6] = {0, 95, 135, 175, 215, 255};
    std::vector<Row> rows;
    for (int n = 16; n <= 231; ++n) {
        const int k = n - 16;
        rows.push_back({n, levels[k / 36], levels[k / 6 % 6], levels[k % 6]});
    }
    for (int i = 0; i < 24; ++i) {
        const int grey = 8 + 10 * i;
        rows.push_back({232 + i, grey, grey, grey});
    }
    // ... except the numbers whose shades terminals are known to show differently.
    const Row shown[] = {{16, 47, 49, 49},     {21, 88, 51, 255},    {22, 42, 128, 37},
                         {46, 27, 254, 30},    {124, 214, 57, 30},   {196, 255, 61, 30},
                         {226, 251, 252, 15},  {231, 254, 255, 255}, {232, 52, 53, 53},
                         {244, 151, 152, 153}, {255, 240, 242, 242}};
    for (const Row& row : shown) {
        rows[static_cast<std::size_t>(row.number - 16)] = row;
    }
    const auto code = [](const char* prefix) {
        return [prefix](int n) { return prefix + std::to_string(n) + "m"; };
    };
    EXPECT_EQ(differences(DDTTYLogger::initialize_colors_256(), rows, code("38;5;"), code("48;5;")),
              std::vector<std::string>{});
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
