// Numbers at each edge: the memory layer's C form whatever the process's locale, the C library
// locales the command line reads, and the GUI's QLocale form in C, en_US and de_DE.
#include "app/MCCleanReport.h"
#include "app/MCLocalizedText.h"
#include "memory/MCUtil.h"
#include "platform/core/number_locale.h"

#include "support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {

constexpr const char* kGerman = "de_DE.UTF-8";

// Sizes on both sides of each unit's threshold, negative ones and the extremes.
const struct Case {
    std::int64_t bytes;
    std::string c;      // the C form, also under en_US
    std::string german; // de_DE
} kCases[] = {
    {0, "0 B", "0 B"},
    {1, "1 B", "1 B"},
    {-1, "-1 B", "-1 B"},
    {-5000000000, "-5000000000 B", "-5000000000 B"},
    {1024, "1024 B", "1024 B"},
    {1536, "1.50 KB", "1,50 KB"},
    {1048575, "1024.00 KB", "1024,00 KB"},
    {10485760, "10.00 MB", "10,00 MB"},
    {5905580032, "5.50 GB", "5,50 GB"},
    {123456789012, "114.98 GB", "114,98 GB"},
    {2199023255552, "2048.00 GB", "2048,00 GB"},
};

// The clean's result for a size: what was freed, or a kind word when nothing was.
std::string result(const Case& c, const std::string& size) {
    return c.bytes > 0 ? size + " memory is cleaned!" : "Enjoy your life!";
}

// The same figures from the memory layer (C, or a decimal comma given to it) and from the GUI
// (QLocale; en_US groups thousands by default, and "1,024.00 KB" would be wrong). No translator
// is loaded here: the words stay English.
TEST(NumberFormat, SizesAndCleanResultsAtEveryEdge) {
    const MCNumberFormat comma{","};
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QLocale german(QLocale::German, QLocale::Germany);
    for (const Case& k : kCases) {
        EXPECT_EQ(MCUtil::friendlySizeNumber(k.bytes, comma), k.german) << k.bytes;
        EXPECT_EQ(cleanResultText(k.bytes), result(k, k.c)) << k.bytes;
        EXPECT_EQ(cleanResultText(k.bytes, comma), result(k, k.german)) << k.bytes;
        for (const QLocale& locale : {QLocale::c(), english, german}) {
            const std::string& size = locale == german ? k.german : k.c;
            EXPECT_EQ(MCLocalizedText::friendlySize(k.bytes, locale).toStdString(), size)
                << k.bytes;
            EXPECT_EQ(MCLocalizedText::cleanResultText(k.bytes, locale).toStdString(),
                      result(k, size))
                << k.bytes;
        }
    }
    EXPECT_EQ(MCLocalizedText::percent(25, english).toStdString(), "25%");
    EXPECT_EQ(MCLocalizedText::percent(1000, german).toStdString(), "1000%");
}

TEST(NumberFormat, FixedRoundsAsPrintfInC) {
    const struct {
        double value;
        int decimals;
        const char* point;
        const char* text;
    } cases[] = {
        {12.5, 2, ".", "12.50"},
        {0.125, 2, ".", "0.12"}, // a tie in binary: to even
        {0.375, 2, ",", "0,38"},
        {-3.456, 1, ",", "-3,5"},
        {7.0, 0, ",", "7"},
        {1.005, 2, ".", "1.00"}, // just below the tie in binary
        {1e6, 2, "\xd9\xab",
         "1000000\xd9\xab"
         "00"}, // a two-byte decimal point
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MCUtil::fixed(c.value, c.decimals, MCNumberFormat{c.point}), c.text) << c.value;
    }
}

// The memory layer must not follow the process's locale by accident: the GUI's setlocale
// would otherwise turn JSON and logs German.
TEST(NumberFormat, CFormIgnoresTheProcessLocale) {
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    if (std::setlocale(LC_NUMERIC, kGerman) == nullptr) {
        GTEST_SKIP() << kGerman << " is not installed (scripts/install-deps.sh makes it as root)";
    }
    char printed[16];
    std::snprintf(printed, sizeof printed, "%.2f", 1.5);
    EXPECT_STREQ(printed, "1,50") << "the process locale did not take";
    for (const Case& c : kCases) {
        EXPECT_EQ(MCUtil::friendlySizeNumber(c.bytes), c.c) << c.bytes;
    }
    EXPECT_EQ(MCUtil::fixed(12.5, 2), "12.50");
    std::setlocale(LC_NUMERIC, saved.c_str());
}

// The C library's locales, chosen by the environment as the command line chooses them.
TEST(NumberFormat, CLibraryLocaleFromTheEnvironment) {
    EXPECT_EQ(platform::numberSymbols("C")->decimalPoint, ".");
    EXPECT_EQ(platform::numberSymbols("POSIX")->decimalPoint, ".");
    EXPECT_FALSE(platform::numberSymbols("xx_NOWHERE.UTF-8").has_value());
    if (!platform::numberSymbols(kGerman)) {
        GTEST_SKIP() << kGerman << " is not installed (scripts/install-deps.sh makes it as root)";
    }
    EXPECT_EQ(platform::numberSymbols(kGerman)->decimalPoint, ",");
    const struct {
        const char* lcAll;
        const char* lcNumeric;
        const char* lang;
        const char* point;
    } cases[] = {
        {nullptr, nullptr, kGerman, ","},
        {nullptr, "C", kGerman, "."}, // LC_NUMERIC before LANG
        {"C", kGerman, kGerman, "."}, // LC_ALL before both
        {kGerman, nullptr, "C", ","},
        {nullptr, nullptr, "xx_NOWHERE", "."}, // not installed: the C form
    };
    for (const auto& c : cases) {
        const ScopedEnv env({{"LC_ALL", c.lcAll}, {"LC_NUMERIC", c.lcNumeric}, {"LANG", c.lang}});
        EXPECT_EQ(platform::environmentNumberSymbols().decimalPoint, c.point)
            << (c.lcAll ? c.lcAll : "-") << " " << (c.lcNumeric ? c.lcNumeric : "-") << " "
            << c.lang;
    }
}

} // namespace
