// Fuzz target: the /proc/meminfo parser on any text, checked against a plain line-by-line
// reading of the same text.

#include "platform/core/meminfo.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <regex>
#include <sstream>
#include <string>

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
    // Each wanted field once, on a finished line, with a value that fits; like the parser, this
    // reading stops at the first bad wanted line.
    std::array<std::optional<std::uint64_t>, N> value{};
    bool ok = true;
    std::istringstream lines(text);
    for (std::string line; ok && std::getline(lines, line);) {
        const bool terminated = !lines.eof();
        for (std::size_t k = 0; k < N; ++k) {
            if (line.starts_with(std::string(fields[k].name) + ":")) {
                ok = !value[k] && terminated &&
                     (value[k] = referenceValue(line.substr(fields[k].name.size() + 1)));
            }
        }
    }
    for (std::size_t k = 0; k < N; ++k) {
        ok = ok && value[k].has_value();
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
