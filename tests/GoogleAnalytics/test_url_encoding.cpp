#include "GoogleAnalytics/JFUrlUtil.h"
#include "GoogleAnalytics/URLEncoding.h"

#include <gtest/gtest.h>

namespace {

// UTF-8 rows; the UTF-16 form must give the same with every byte taken as one code unit,
// since both treat every unit above 127 alike.
TEST(EncodeUrl, EncodesAsTheTableSays) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"a b;c|d@^~", "a%20b%3Bc%7Cd%40%5E%7E"},
        {"%41%af%aF", "%41%af%aF"},         // existing escapes in their own case
        {"100%%4", "100%25%254"},           // alone, or too short at the end
        {"%G1%1G%%41", "%25G1%251G%25%41"}, // not hexadecimal
        // From the first "?" on the query characters too.
        {"{a}:/a.b-c?c/d.e-f?{x}: ;%2d", "{a}:/a.b-c?c%2Fd%2Ee%2Df%3F%7Bx%7D%3A%20%3B%2d"},
        {"=&+()*,!'#[]<>\"\\\t\n", "=&+()*,!'#[]<>\"\\\t\n"}, // passed through
        {"caf\xc3\xa9 ?\xf0\x9f\x98\x80.", "caf\xc3\xa9%20?\xf0\x9f\x98\x80%2E"},
    };
    for (const auto& [in, expected] : cases) {
        EXPECT_EQ(JFUrlUtil::encodeUrl(in), expected) << in;
        EXPECT_EQ(JFUrlUtil::encodeUrl(std::u16string(in.begin(), in.end())),
                  std::u16string(expected.begin(), expected.end()))
            << in;
    }
}

TEST(EncodeUrl, Utf16UnitsAboveAsciiPassUnchangedAndNullIsEmpty) {
    // A surrogate pair, a lone surrogate, and units whose low byte reads as "%" or " ".
    const std::u16string in = u"\U0001F600?\xD800 \u0125\u0120";
    EXPECT_EQ(JFUrlUtil::encodeUrl(in), u"\U0001F600?\xD800%20\u0125\u0120");
    EXPECT_EQ(JFUrlUtil::encodeUrl(static_cast<const char16_t*>(nullptr)), u"");
    EXPECT_EQ(JFUrlUtil::encodeUrl(std::optional<std::string>()), "");
}

TEST(IsPercentAtIndex, NeedsTwoHexDigitsThatExist) {
    const std::tuple<std::u16string, std::size_t, bool> cases[] = {
        {u"a%Af", 1, true}, {u"x09", 0, true},
        {u"%4", 0, false},  {u"%G1", 0, false},
        {u"%1g", 0, false}, {u"%:@", 0, false},
        {u"%0", 5, false},  {u"%41", std::size_t(-1), false}};
    for (const auto& [text, index, expected] : cases) {
        EXPECT_EQ(JFUrlUtil::isPercentAtIndex(index, text.data(), text.size()), expected)
            << std::string(text.begin(), text.end()) << " at " << index;
    }
}

TEST(UrlEncodeUsingEncoding, EscapesForbiddenAndListedCharacters) {
    const std::tuple<std::string, NSStringEncoding, std::optional<std::string>> cases[] = {
        {"az09-._~()*!'\";:@&=+$,/?%#[] <\x7f\xc3\xa9", NSUTF8StringEncoding,
         "az09-._~()*%21%27%22%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D%20%3C%7F%C3%A9"},
        {"a b", NSASCIIStringEncoding, "a%20b"},
        // Not representable or not supported: no result rather than a wrong one.
        {"caf\xc3\xa9", NSASCIIStringEncoding, std::nullopt},
        {"\xed\xa0\x80", NSUTF8StringEncoding, std::nullopt},
        {"abc", 99, std::nullopt}};
    for (const auto& [in, encoding, expected] : cases) {
        EXPECT_EQ(URLEncoding::urlEncodeUsingEncoding(in, encoding), expected) << in;
    }
}

} // namespace
