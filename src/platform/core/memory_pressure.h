#pragma once
// Memory pressure as the kernel's pressure stall information (PSI) reports it.

#include <optional>
#include <string>
#include <string_view>

// The "full avg10" figure of a PSI text: the share, in percent, of the last ten seconds in
// which every runnable task was stalled waiting for memory. None when there is no such figure.
std::optional<double> parse_full_avg10(std::string_view psi_text);

// The same read from a PSI file (/proc/pressure/memory, a cgroup's memory.pressure). None when
// the file is missing, not a regular file, or the kernel runs without PSI.
std::optional<double> read_full_avg10(const std::string& file);
