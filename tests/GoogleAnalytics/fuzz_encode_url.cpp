// Fuzz target: the query encoder must keep its promises on any input.

#include "JFUrlUtil.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Turns valid escapes into their byte and leaves everything else.
std::string decode(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && isHex(s[i + 1]) && isHex(s[i + 2])) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string in(reinterpret_cast<const char*>(data), size);
    const std::string out = JFUrlUtil::encodeUrl(in);

    check(out.size() >= in.size() && out.size() <= in.size() * 3);
    const std::size_t query = out.find('?');
    for (std::size_t i = 0; i < out.size(); ++i) {
        const char c = out[i];
        check(c != ' ' && c != ';' && c != '@' && c != '^' && c != '|' && c != '~');
        if (c == '%') {
            check(JFUrlUtil::isPercentAtIndex(i, out.data(), out.size()));
        }
        if (query != std::string::npos && i > query) {
            check(std::string("-./:?{}").find(c) == std::string::npos);
        }
    }
    // Nothing is lost: decoding gives what decoding the input gives.
    check(decode(out) == decode(in));
    // Already encoded text stays as it is.
    check(JFUrlUtil::encodeUrl(out) == out);
    // The UTF-16 form treats every unit above 127 alike, so it must agree byte for byte.
    std::u16string wide;
    for (unsigned char b : in) {
        wide += static_cast<char16_t>(b);
    }
    const std::u16string wideOut = JFUrlUtil::encodeUrl(wide);
    check(wideOut.size() == out.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
        check(wideOut[i] == static_cast<unsigned char>(out[i]));
    }
    return 0;
}
