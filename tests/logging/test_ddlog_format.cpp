#include "logging/DDLogFormat.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {
struct Point {
    int x, y;
    std::string description() const { return std::to_string(x) + "," + std::to_string(y); }
};
} // namespace

TEST(DDFormat, ConversionsTextObjectsPrintfAndBrokenFormats) {
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
}
