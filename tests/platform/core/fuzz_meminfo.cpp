// Fuzz target: the /proc/meminfo parser on any text, checked against a plain line-by-line
// reading of the same text.

#include "platform/core/meminfo.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#define check(condition) ((condition) ? void() : std::abort())

namespace {

// "  123 kB", "123", "123kB": the bytes, or none.
std::optional<std::uint64_t> referenceValue(const std::string& text) {
    static const std::regex form(" *0*([0-9]+) *(kB)?");
    std::smatch match;
    if (!std::regex_match(text, match, form)) {
        return std::nullopt;
    }
    // Compare as decimal text: above UINT64_MAX / 1024 does not fit once scaled.
    const std::string digits = match[1];
    const std::string limit = std::to_string(std::numeric_limits<std::uint64_t>::max() / 1024);
    if (digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit)) {
        return std::nullopt;
    }
    return std::stoull(digits) * 1024;
}

template <std::size_t N>
void compare(const std::string& text, std::array<meminfo_field, N> fields) {
    std::array<int, N> count{};
    std::array<std::optional<std::uint64_t>, N> value{};
    bool ok = true;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t eol = text.find('\n', at);
        const bool terminated = eol != std::string::npos;
        const std::string line = text.substr(at, terminated ? eol - at : std::string::npos);
        at = terminated ? eol + 1 : text.size();
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        for (std::size_t k = 0; k < N; ++k) {
            if (line.compare(0, colon, fields[k].name) == 0 && colon == fields[k].name.size()) {
                // The parser stops at the first bad wanted line; so does this reading.
                ok = ok && ++count[k] == 1 && terminated;
                value[k] = referenceValue(line.substr(colon + 1));
                ok = ok && value[k].has_value();
            }
        }
        if (!ok) {
            break;
        }
    }
    for (std::size_t k = 0; k < N; ++k) {
        ok = ok && count[k] == 1;
    }
    const bool parsed = parse_meminfo(text, fields);
    check(parsed == ok);
    for (std::size_t k = 0; parsed && k < N; ++k) {
        check(fields[k].seen && fields[k].bytes == *value[k] && fields[k].bytes % 1024 == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    compare(text, std::array<meminfo_field, 7>{
                      meminfo_field{"MemFree"}, meminfo_field{"Active"}, meminfo_field{"Inactive"},
                      meminfo_field{"Unevictable"}, meminfo_field{"SUnreclaim"},
                      meminfo_field{"KernelStack"}, meminfo_field{"PageTables"}});
    compare(text,
            std::array<meminfo_field, 2>{meminfo_field{"MemAvailable"}, meminfo_field{"MemTotal"}});
    return 0;
}
