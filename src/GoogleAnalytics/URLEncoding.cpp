#include "GoogleAnalytics/URLEncoding.h"

#include "GoogleAnalytics/Utf8.h"

#include <cstdint>

namespace URLEncoding {

namespace {

bool staysUnescaped(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
        return true;
    }
    switch (c) {
    case '-':
    case '.':
    case '_':
    case '~':
    case '(':
    case ')':
    case '*':
        return true;
    default:
        return false;
    }
}

} // namespace

std::optional<std::string> urlEncodeUsingEncoding(std::string_view text,
                                                  NSStringEncoding encoding) {
    if (encoding == NSUTF8StringEncoding) {
        if (!analytics_detail::isValidUtf8(text)) {
            return std::nullopt;
        }
    } else if (encoding == NSASCIIStringEncoding) {
        for (char c : text) {
            if (static_cast<unsigned char>(c) > 0x7F) {
                return std::nullopt;
            }
        }
    } else {
        return std::nullopt;
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (staysUnescaped(byte)) {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

} // namespace URLEncoding
