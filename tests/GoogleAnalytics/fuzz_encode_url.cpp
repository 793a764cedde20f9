// Fuzz target: the query encoder must keep its promises on any input.

#include "GoogleAnalytics/JFUrlUtil.h"

#include <cstdint>
#include <cstdlib>
#include <string>

#define check(condition) ((condition) ? void() : std::abort())

namespace {

// Turns valid escapes into their byte and leaves everything else.
std::string decode(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const bool escape = s[i] == '%' && JFUrlUtil::isPercentAtIndex(i, s.data(), s.size());
        out += escape ? static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)) : s[i];
        i += escape ? 2 : 0;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string in(reinterpret_cast<const char*>(data), size);
    const std::string out = JFUrlUtil::encodeUrl(in);
    check(out.size() <= in.size() * 3);
    const std::size_t query = out.find('?');
    for (std::size_t i = 0; i < out.size(); ++i) {
        check(std::string(" ;@^|~").find(out[i]) == std::string::npos);
        check(out[i] != '%' || JFUrlUtil::isPercentAtIndex(i, out.data(), out.size()));
        check(query == std::string::npos || i <= query ||
              std::string("-./:?{}").find(out[i]) == std::string::npos);
    }
    check(decode(out) == decode(in)); // nothing lost
    check(JFUrlUtil::encodeUrl(out) == out);
    // The UTF-16 form treats every unit above 127 alike, so it must agree unit for byte.
    const std::u16string wideOut = JFUrlUtil::encodeUrl(std::u16string(in.begin(), in.end()));
    check(wideOut == std::u16string(out.begin(), out.end()));
    return 0;
}
