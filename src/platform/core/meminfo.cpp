#include "platform/core/meminfo.h"

#include <cstring>
#include <limits>
#include <optional>

namespace {

// "   1234 kB" or "1234" (kernels print a few counts without a unit): the number in bytes,
// or none for anything else.
std::optional<std::uint64_t> parse_kilobytes(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        const auto d = static_cast<unsigned>(text[i] - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - d) / 10) {
            return std::nullopt;
        }
        value = value * 10 + d;
    }
    if (digits == 0) {
        return std::nullopt;
    }
    std::string_view unit = text.substr(i);
    while (!unit.empty() && unit.front() == ' ') {
        unit.remove_prefix(1);
    }
    if ((unit != "kB" && !unit.empty()) ||
        value > std::numeric_limits<std::uint64_t>::max() / 1024) {
        return std::nullopt;
    }
    return value * 1024;
}

} // namespace

bool parse_meminfo(std::string_view text, std::span<meminfo_field> fields) {
    const char* at = text.data();
    const char* const end = text.data() + text.size();
    while (at < end) {
        const auto* eol = static_cast<const char*>(std::memchr(at, '\n', end - at));
        const bool terminated = eol != nullptr;
        const std::string_view line(at, (terminated ? eol : end) - at);
        at = terminated ? eol + 1 : end;

        const std::size_t sep = line.find(':');
        if (sep == std::string_view::npos) {
            continue;
        }
        const std::string_view name = line.substr(0, sep);
        meminfo_field* field = nullptr;
        for (auto& f : fields) {
            if (f.name == name) {
                field = &f;
                break;
            }
        }
        if (field == nullptr) {
            continue;
        }
        if (field->seen || !terminated) {
            return false;
        }
        const auto bytes = parse_kilobytes(line.substr(sep + 1));
        if (!bytes) {
            return false;
        }
        field->bytes = *bytes;
        field->seen = true;
    }
    for (const auto& f : fields) {
        if (!f.seen) {
            return false;
        }
    }
    return true;
}
