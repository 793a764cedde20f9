#include "DDLogFormat.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace {

struct Point {
    int x, y;
    std::string description() const {
        return "(" + std::to_string(x) + "," + std::to_string(y) + ")";
    }
};

} // namespace

TEST(DDFormat, ObjectConversionTakesAnythingWithATextForm) {
    const std::string text = "str";
    const std::string_view view = "view";
    const char* cnull = nullptr;
    auto shared = std::make_shared<Point>(Point{1, 2});
    std::shared_ptr<Point> emptyShared;
    const std::optional<std::string> some = "opt";
    const std::optional<std::string> none;
    struct Case {
        std::string got, expected;
    };
    const Case cases[] = {
        {DDFormat("%@", text), "str"},
        {DDFormat("%@", view), "view"},
        {DDFormat("%@", "literal"), "literal"},
        {DDFormat("%@", cnull), "(null)"},
        {DDFormat("%@", Point{3, 4}), "(3,4)"},
        {DDFormat("%@", shared), "(1,2)"},
        {DDFormat("%@", emptyShared), "(null)"},
        {DDFormat("%@", some), "opt"},
        {DDFormat("%@", none), "(null)"},
        {DDFormat("%@ %@", 42, -7), "42 -7"},
        {DDFormat("%@", std::uint64_t{18446744073709551615ull}), "18446744073709551615"},
        {DDFormat("%@", 2.5), "2.5"},
        {DDFormat("[%10@]", text), "[       str]"},
        {DDFormat("[%-6@]", text), "[str   ]"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.got, c.expected);
    }
}

TEST(DDFormat, PrintfConversionsFollowTheirLengthModifiers) {
    const std::string s = "std";
    struct Case {
        std::string got, expected;
    };
    const Case cases[] = {
        {DDFormat("%s(%d)", "file.cpp", 12), "file.cpp(12)"},
        {DDFormat("%s", s), "std"},
        {DDFormat("%s", static_cast<const char*>(nullptr)), "(null)"},
        {DDFormat("%.2s|%5s|%-5s|", "abc", "ab", "ab"), "ab|   ab|ab   |"},
        {DDFormat("%d", 5000000000LL), std::to_string(static_cast<int>(5000000000LL))},
        {DDFormat("%lld %ld", 5000000000LL, -5000000000LL), "5000000000 -5000000000"},
        {DDFormat("%hhd %hd", 257, 65537), "1 1"},
        {DDFormat("%u %x %X %o", 4294967295u, 255, 255, 8), "4294967295 ff FF 10"},
        {DDFormat("%llx", 0x1234567890ULL), "1234567890"},
        {DDFormat("%05d|%-4d|%+d", 42, 7, 3), "00042|7   |+3"},
        {DDFormat("%.2f %e %g", 3.14159, 1500.0, 0.5), "3.14 1.500000e+03 0.5"},
        {DDFormat("%c%c", 'o', 'k'), "ok"},
        {DDFormat("%*d|%.*f", 4, 7, 1, 2.25), "   7|2.2"},
        {DDFormat("100%% sure"), "100% sure"},
        {DDFormat("%d%%", 50), "50%"},
        {DDFormat("==> %s", "-[AXStatusItemPopup popoverDidShow:]"),
         "==> -[AXStatusItemPopup popoverDidShow:]"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.got, c.expected);
    }
}

TEST(DDFormat, UnsafeOrBrokenFormatsNeverReadMissingArguments) {
    struct Case {
        std::string got, expected;
    };
    const Case cases[] = {
        // Missing arguments show the conversion instead of reading what was not passed.
        {DDFormat("%s and %d"), "%s and %d"},
        {DDFormat("%d %d", 1), "1 %d"},
        // "%n" writes nothing anywhere and takes no argument.
        {DDFormat("a%nb%d", 5), "ab5"},
        {DDFormat("odd %q"), "odd %q"},
        {DDFormat("trailing %"), "trailing %"},
        {DDFormat("%@", "extra", "ignored"), "extra"},
        // A text used as the format stays harmless.
        {DDFormat("%s %s %s %s"), "%s %s %s %s"},
        // Huge widths are capped instead of allocating gigabytes.
        {std::to_string(DDFormat("%999999999d", 1).size()), "4096"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.got, c.expected);
    }
    std::string out = "keep";
    ddlog::formatInto(out, nullptr, {});
    EXPECT_EQ(out, "keep");
}
