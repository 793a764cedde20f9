// Numbers at each edge: the memory layer's C form whatever the process's locale, the C library
// locales the command line reads, and the GUI's QLocale form in C, en_US and de_DE.
#include "app/MCCleanReport.h"
#include "app/MCLocalizedText.h"
#include "memory/MCUtil.h"
#include "platform/core/number_locale.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace {

struct Case {
    std::int64_t bytes;
    const char* c;      // the C form, also under en_US
    const char* german; // de_DE
};

// Sizes on both sides of each unit's threshold, negative ones and the extremes.
const Case kCases[] = {
    {0, "0 B", "0 B"},
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

// Sets the process's LC_NUMERIC for one scope, as QApplication's setlocale does for the GUI.
class ProcessNumericLocale {
public:
    explicit ProcessNumericLocale(const char* name) : saved_(std::setlocale(LC_NUMERIC, nullptr)) {
        ok_ = std::setlocale(LC_NUMERIC, name) != nullptr;
    }
    ~ProcessNumericLocale() { std::setlocale(LC_NUMERIC, saved_.c_str()); }
    bool ok() const { return ok_; }

private:
    std::string saved_;
    bool ok_ = false;
};

constexpr const char* kGerman = "de_DE.UTF-8";

TEST(NumberFormat, MemoryLayerTextsInCAndGerman) {
    const MCNumberFormat german{","};
    for (const Case& c : kCases) {
        EXPECT_EQ(MCUtil::friendlySizeNumber(c.bytes), c.c) << c.bytes;
        EXPECT_EQ(MCUtil::friendlySizeNumber(c.bytes, german), c.german) << c.bytes;
    }
    EXPECT_EQ(cleanResultText(1536, german), "1,50 KB memory is cleaned!");
    EXPECT_EQ(cleanResultText(1536), "1.50 KB memory is cleaned!");
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
    ProcessNumericLocale german(kGerman);
    if (!german.ok()) {
        GTEST_SKIP() << kGerman << " is not installed (scripts/install-deps.sh makes it as root)";
    }
    char printed[16];
    std::snprintf(printed, sizeof printed, "%.2f", 1.5);
    ASSERT_STREQ(printed, "1,50") << "the process locale did not take";
    for (const Case& c : kCases) {
        EXPECT_EQ(MCUtil::friendlySizeNumber(c.bytes), c.c) << c.bytes;
    }
    EXPECT_EQ(MCUtil::fixed(12.5, 2), "12.50");
}

TEST(NumberFormat, CLibraryLocaleSymbols) {
    EXPECT_EQ(platform::numberSymbols("C")->decimalPoint, ".");
    EXPECT_EQ(platform::numberSymbols("POSIX")->decimalPoint, ".");
    EXPECT_FALSE(platform::numberSymbols("xx_NOWHERE.UTF-8").has_value());
    if (!platform::numberSymbols(kGerman)) {
        GTEST_SKIP() << kGerman << " is not installed (scripts/install-deps.sh makes it as root)";
    }
    EXPECT_EQ(platform::numberSymbols(kGerman)->decimalPoint, ",");
}

TEST(NumberFormat, EnvironmentChoosesTheCLibraryLocale) {
    if (!platform::numberSymbols(kGerman)) {
        GTEST_SKIP() << kGerman << " is not installed (scripts/install-deps.sh makes it as root)";
    }
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
    const char* const names[] = {"LC_ALL", "LC_NUMERIC", "LANG"};
    std::map<std::string, std::optional<std::string>> saved;
    for (const char* name : names) {
        const char* value = std::getenv(name);
        saved[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    for (const auto& c : cases) {
        for (const auto& [name, value] :
             {std::pair{"LC_ALL", c.lcAll}, {"LC_NUMERIC", c.lcNumeric}, {"LANG", c.lang}}) {
            if (value != nullptr) {
                ::setenv(name, value, 1);
            } else {
                ::unsetenv(name);
            }
        }
        EXPECT_EQ(platform::environmentNumberSymbols().decimalPoint, c.point)
            << (c.lcAll ? c.lcAll : "-") << " " << (c.lcNumeric ? c.lcNumeric : "-") << " "
            << c.lang;
    }
    for (const auto& [name, value] : saved) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
}

TEST(NumberFormat, GuiFollowsQLocaleWithoutGrouping) {
    const QLocale c = QLocale::c();
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QLocale german(QLocale::German, QLocale::Germany);
    for (const Case& k : kCases) {
        EXPECT_EQ(MCLocalizedText::friendlySize(k.bytes, c).toStdString(), k.c) << k.bytes;
        // en_US groups thousands by default: "1,024.00 KB" would not be the specified text.
        EXPECT_EQ(MCLocalizedText::friendlySize(k.bytes, english).toStdString(), k.c) << k.bytes;
        EXPECT_EQ(MCLocalizedText::friendlySize(k.bytes, german).toStdString(), k.german)
            << k.bytes;
    }
    EXPECT_EQ(MCLocalizedText::percent(25, english).toStdString(), "25%");
    EXPECT_EQ(MCLocalizedText::percent(1000, german).toStdString(), "1000%");
    EXPECT_EQ(MCLocalizedText::cleanResultText(1536, german).toStdString(),
              "1,50 KB memory is cleaned!"); // no translator here: English words
    EXPECT_EQ(MCLocalizedText::cleanResultText(-4096, german).toStdString(), "Enjoy your life!");
}

} // namespace
