#include "platform/core/memory_pressure.h"

#include "platform/core/kernel_file.h"

#include <charconv>

namespace {

// The avg10 figure of the first line starting with `kind` ("some" or "full").
std::optional<double> avg10_of(std::string_view text, std::string_view kind) {
    // "some avg10=0.00 avg60=0.00 avg300=0.00 total=0\nfull avg10=1.25 ..."
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        if (!line.starts_with(kind) || !line.substr(kind.size()).starts_with(" avg10=")) {
            continue;
        }
        line.remove_prefix(kind.size() + std::string_view(" avg10=").size());
        double value = 0;
        const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), value,
                                                  std::chars_format::fixed);
        const bool delimited = end == line.data() + line.size() || *end == ' ';
        if (error != std::errc() || !delimited || !(value >= 0.0 && value <= 100.0)) {
            return std::nullopt;
        }
        return value;
    }
    return std::nullopt;
}

} // namespace

std::optional<double> parse_full_avg10(std::string_view text) {
    return avg10_of(text, "full");
}

std::optional<pressure_averages> parse_pressure_avg10(std::string_view text) {
    const auto some = avg10_of(text, "some");
    const auto full = avg10_of(text, "full");
    if (!some || !full) {
        return std::nullopt;
    }
    return pressure_averages{*some, *full};
}

std::optional<double> read_full_avg10(const std::string& file) {
    const auto text = read_kernel_file(file);
    return text ? parse_full_avg10(*text) : std::nullopt;
}
