#include "GoogleAnalytics/JFUrlUtil.h"

#include <type_traits>

namespace {

template <typename Unit>
bool isHexDigit(Unit c) {
    return (c >= Unit('0') && c <= Unit('9')) || (c >= Unit('A') && c <= Unit('F')) ||
           (c >= Unit('a') && c <= Unit('f'));
}

template <typename Unit>
bool percentStartsEscape(std::size_t index, const Unit* units, std::size_t length) {
    if (length < 3 || index > length - 3) {
        return false;
    }
    return isHexDigit(units[index + 1]) && isHexDigit(units[index + 2]);
}

// The escape for a unit that is always escaped, or null.
constexpr const char* alwaysEscaped(char32_t c) {
    switch (c) {
    case U' ':
        return "%20";
    case U';':
        return "%3B";
    case U'@':
        return "%40";
    case U'^':
        return "%5E";
    case U'|':
        return "%7C";
    case U'~':
        return "%7E";
    default:
        return nullptr;
    }
}

// The escape for a unit that is escaped only after the first question mark, or null.
constexpr const char* queryEscaped(char32_t c) {
    switch (c) {
    case U'-':
        return "%2D";
    case U'.':
        return "%2E";
    case U'/':
        return "%2F";
    case U':':
        return "%3A";
    case U'?':
        return "%3F";
    case U'{':
        return "%7B";
    case U'}':
        return "%7D";
    default:
        return nullptr;
    }
}

template <typename Unit>
void appendAscii(std::basic_string<Unit>& out, const char* text) {
    for (; *text != '\0'; ++text) {
        out.push_back(static_cast<Unit>(*text));
    }
}

template <typename Unit>
std::basic_string<Unit> encode(std::basic_string_view<Unit> in) {
    using Code = std::make_unsigned_t<Unit>;
    std::basic_string<Unit> out;
    out.reserve(in.size() * 3);
    const std::size_t n = in.size();
    bool inQuery = false;
    std::size_t i = 0;
    while (i < n) {
        const Unit c = in[i];
        const char32_t code = static_cast<Code>(c);
        if (code == U'?' && !inQuery) {
            out.push_back(c);
            inQuery = true;
            ++i;
        } else if (const char* escape = alwaysEscaped(code)) {
            appendAscii(out, escape);
            ++i;
        } else if (code == U'%') {
            if (percentStartsEscape(i, in.data(), n)) {
                out.append(in.substr(i, 3));
                i += 3;
            } else {
                appendAscii(out, "%25");
                ++i;
            }
        } else if (const char* query = inQuery ? queryEscaped(code) : nullptr) {
            appendAscii(out, query);
            ++i;
        } else {
            out.push_back(c);
            ++i;
        }
    }
    return out;
}

} // namespace

std::u16string JFUrlUtil::encodeUrl(std::u16string_view url) {
    return encode(url);
}

std::u16string JFUrlUtil::encodeUrl(const std::u16string& url) {
    return encode(std::u16string_view(url));
}

std::u16string JFUrlUtil::encodeUrl(const char16_t* url) {
    return url ? encode(std::u16string_view(url)) : std::u16string();
}

std::u16string JFUrlUtil::encodeUrl(const std::optional<std::u16string>& url) {
    return url ? encode(std::u16string_view(*url)) : std::u16string();
}

std::string JFUrlUtil::encodeUrl(std::string_view url) {
    return encode(url);
}

std::string JFUrlUtil::encodeUrl(const std::string& url) {
    return encode(std::string_view(url));
}

std::string JFUrlUtil::encodeUrl(const char* url) {
    return url ? encode(std::string_view(url)) : std::string();
}

std::string JFUrlUtil::encodeUrl(const std::optional<std::string>& url) {
    return url ? encode(std::string_view(*url)) : std::string();
}

bool JFUrlUtil::isPercentAtIndex(std::size_t index,
                                 const char16_t* followedByTwoDigitHexCodeInCharacterArray,
                                 std::size_t ofLength) {
    return percentStartsEscape(index, followedByTwoDigitHexCodeInCharacterArray, ofLength);
}

bool JFUrlUtil::isPercentAtIndex(std::size_t index,
                                 const char* followedByTwoDigitHexCodeInCharacterArray,
                                 std::size_t ofLength) {
    return percentStartsEscape(index, followedByTwoDigitHexCodeInCharacterArray, ofLength);
}
