#pragma once
// Memory pressure as the kernel's pressure stall information (PSI) reports it.

#include <optional>
#include <string>
#include <string_view>

// The "full avg10" figure of a PSI text: the share, in percent, of the last ten seconds in
// which every runnable task was stalled waiting for memory. None when there is no such figure.
std::optional<double> parse_full_avg10(std::string_view psi_text);

// The "some avg10" and "full avg10" figures of a PSI text, in percent: the share of the last ten
// seconds in which at least one task (some) or every runnable task (full) was stalled waiting for
// memory.
struct pressure_averages {
    double some10 = 0;
    double full10 = 0;
    bool operator==(const pressure_averages&) const = default;
};

// Both figures, or none when either line is missing or not a percentage.
std::optional<pressure_averages> parse_pressure_avg10(std::string_view psi_text);

// The same read from a PSI file (/proc/pressure/memory, a cgroup's memory.pressure). None when
// the file is missing, not a regular file, or the kernel runs without PSI.
std::optional<double> read_full_avg10(const std::string& file);
