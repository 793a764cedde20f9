#include "memory_pressure.h"

#include "kernel_file.h"

#include <charconv>

std::optional<double> parse_full_avg10(std::string_view text) {
    // "some avg10=0.00 avg60=0.00 avg300=0.00 total=0\nfull avg10=1.25 ..."
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        constexpr std::string_view kPrefix = "full avg10=";
        if (!line.starts_with(kPrefix)) {
            continue;
        }
        line.remove_prefix(kPrefix.size());
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

std::optional<double> read_full_avg10(const std::string& file) {
    const auto text = read_kernel_file(file);
    return text ? parse_full_avg10(*text) : std::nullopt;
}
