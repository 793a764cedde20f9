#include "JFUrlUtil.h"
#include "URLEncoding.h"

#include <gtest/gtest.h>

namespace {

struct EncodeCase {
    const char* name;
    std::u16string input;
    std::u16string expected;
};

void PrintTo(const EncodeCase& c, std::ostream* os) {
    *os << c.name;
}

class EncodeUrlTest : public testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeUrlTest, EncodesAsTheTableSays) {
    const EncodeCase& c = GetParam();
    EXPECT_EQ(JFUrlUtil::encodeUrl(c.input), c.expected);
}

// UTF-16 to UTF-8; a lone surrogate becomes its three-byte form.
std::string toUtf8(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The UTF-8 form must give the UTF-8 of what the UTF-16 form gives.
TEST_P(EncodeUrlTest, Utf8FormAgreesWithUtf16Form) {
    const EncodeCase& c = GetParam();
    EXPECT_EQ(JFUrlUtil::encodeUrl(toUtf8(c.input)), toUtf8(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EncodeUrlTest,
    testing::Values(
        EncodeCase{"empty", u"", u""}, EncodeCase{"space", u"a b", u"a%20b"},
        EncodeCase{"semicolonBar", u"a;b|c", u"a%3Bb%7Cc"},
        EncodeCase{"alwaysSet", u"@^~", u"%40%5E%7E"}, EncodeCase{"escapeUpper", u"%41", u"%41"},
        EncodeCase{"escapeLower", u"%af", u"%af"}, EncodeCase{"escapeMixed", u"%aF%Fa", u"%aF%Fa"},
        EncodeCase{"percentShortAtEnd", u"%4", u"%254"},
        EncodeCase{"percentAloneAtEnd", u"100%", u"100%25"},
        EncodeCase{"percentNonHex", u"%G1", u"%25G1"},
        EncodeCase{"percentSecondNonHex", u"%1G", u"%251G"},
        EncodeCase{"percentBeforePercentEscape", u"%%41", u"%25%41"},
        EncodeCase{"noQuestionMark", u"/a.b-c", u"/a.b-c"},
        EncodeCase{"queryPart", u"/a.b?c/d.e-f", u"/a.b?c%2Fd%2Ee%2Df"},
        EncodeCase{"laterQuestionMarks", u"x?y?z", u"x?y%3Fz"},
        EncodeCase{"queryOnlyChars", u"?-./:?{}", u"?%2D%2E%2F%3A%3F%7B%7D"},
        EncodeCase{"braceBeforeQuery", u"{a}:b?{", u"{a}:b?%7B"},
        EncodeCase{"alwaysEscapedInQuery", u"? ;@", u"?%20%3B%40"},
        EncodeCase{"escapeInQueryKept", u"?%2d", u"?%2d"},
        EncodeCase{"passThrough", u"=&+()*,!'#[]<>\"\\", u"=&+()*,!'#[]<>\"\\"},
        EncodeCase{"controlChars", std::u16string(u"\t\n\r\x01", 4),
                   std::u16string(u"\t\n\r\x01", 4)},
        EncodeCase{"accented", u"caf\u00e9 ?\u00e9", u"caf\u00e9%20?\u00e9"},
        EncodeCase{"surrogatePair", u"\U0001F600?\U0001F600.", u"\U0001F600?\U0001F600%2E"},
        EncodeCase{"loneSurrogate", std::u16string(1, char16_t(0xD800)) + u" ",
                   std::u16string(1, char16_t(0xD800)) + u"%20"}),
    [](const testing::TestParamInfo<EncodeCase>& p) { return std::string(p.param.name); });

TEST(EncodeUrl, NullEncodesToEmpty) {
    EXPECT_EQ(JFUrlUtil::encodeUrl(static_cast<const char16_t*>(nullptr)), u"");
    EXPECT_EQ(JFUrlUtil::encodeUrl(std::optional<std::u16string>()), u"");
    EXPECT_EQ(JFUrlUtil::encodeUrl(static_cast<const char*>(nullptr)), "");
    EXPECT_EQ(JFUrlUtil::encodeUrl(std::optional<std::string>()), "");
}

// A unit whose low byte looks like an escaped ASCII character must not be touched.
TEST(EncodeUrl, UnitsAboveAsciiAreNeverMistakenForAscii) {
    std::u16string in = {char16_t(0x0120), char16_t(0x013B), char16_t(0x0125), u'4', u'1'};
    EXPECT_EQ(JFUrlUtil::encodeUrl(in), in);
}

struct PercentCase {
    std::u16string text;
    std::size_t index;
    bool expected;
};

TEST(IsPercentAtIndex, NeedsTwoHexDigitsThatExist) {
    const PercentCase cases[] = {
        {u"%41", 0, true},  {u"%af", 0, true},  {u"%Af", 0, true},  {u"%4", 0, false},
        {u"%", 0, false},   {u"%G1", 0, false}, {u"%1g", 0, false}, {u"a%41", 1, true},
        {u"a%4", 1, false}, {u"x09", 0, true},  {u"%:0", 0, false}, {u"%/0", 0, false},
        {u"%@0", 0, false}, {u"%`0", 0, false}, {u"%0", 5, false},
    };
    for (const PercentCase& c : cases) {
        EXPECT_EQ(JFUrlUtil::isPercentAtIndex(c.index, c.text.data(), c.text.size()), c.expected)
            << std::string(c.text.begin(), c.text.end()) << " at " << c.index;
    }
}

TEST(IsPercentAtIndex, HugeIndexDoesNotWrapAround) {
    const std::u16string text = u"%41";
    EXPECT_FALSE(JFUrlUtil::isPercentAtIndex(std::size_t(-1), text.data(), text.size()));
    EXPECT_FALSE(JFUrlUtil::isPercentAtIndex(std::size_t(-2), text.data(), text.size()));
}

struct UrlEncodeCase {
    std::string input;
    NSStringEncoding encoding;
    std::optional<std::string> expected;
};

TEST(UrlEncodeUsingEncoding, EscapesForbiddenAndListedCharacters) {
    const UrlEncodeCase cases[] = {
        {"", NSUTF8StringEncoding, ""},
        {"AZaz09-._~()*", NSUTF8StringEncoding, "AZaz09-._~()*"},
        {"!'\";:@&=+$,/?%#[] ", NSUTF8StringEncoding,
         "%21%27%22%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D%20"},
        {"<>\\^`{|}\x7f\x01", NSUTF8StringEncoding, "%3C%3E%5C%5E%60%7B%7C%7D%7F%01"},
        {"caf\xc3\xa9", NSUTF8StringEncoding, "caf%C3%A9"},
        {"\xf0\x9f\x98\x80", NSUTF8StringEncoding, "%F0%9F%98%80"},
        {"a b", NSASCIIStringEncoding, "a%20b"},
        // Not representable: no result rather than a wrong one.
        {"caf\xc3\xa9", NSASCIIStringEncoding, std::nullopt},
        {"\xc3", NSUTF8StringEncoding, std::nullopt},
        {"\xc0\xaf", NSUTF8StringEncoding, std::nullopt},
        {"\xed\xa0\x80", NSUTF8StringEncoding, std::nullopt},
        {"\xf4\x90\x80\x80", NSUTF8StringEncoding, std::nullopt},
        {"abc", 99, std::nullopt},
    };
    for (const UrlEncodeCase& c : cases) {
        EXPECT_EQ(URLEncoding::urlEncodeUsingEncoding(c.input, c.encoding), c.expected)
            << "input " << c.input << " encoding " << c.encoding;
    }
}

} // namespace
