#pragma once
// The parser of /proc/meminfo text ("MemFree:   1234 kB" lines).

#include <cstdint>
#include <span>
#include <string_view>

struct meminfo_field {
    std::string_view name; // without the colon
    std::uint64_t bytes = 0;
    bool seen = false;
};

// Fills the wanted `fields` from `text`, in bytes. Fails when a wanted field is missing, repeated,
// on an unterminated last line, or not a plain number of kB; other lines are skipped unread.
bool parse_meminfo(std::string_view text, std::span<meminfo_field> fields);
