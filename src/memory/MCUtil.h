#pragma once

#include <cstdint>
#include <string>

// How numbers are written: the C form ('.') unless an edge that shows text to people (the GUI,
// the command line's plain text) chooses the user's locale.
struct MCNumberFormat {
    std::string decimalPoint = ".";
};

class MCUtil {
public:
    MCUtil() = delete;

    enum class SizeUnit { B, KB, MB, GB };
    // A byte count in the unit people read: `scaled` is the value in that unit (for B the
    // count itself), decided in single precision.
    struct FriendlySize {
        SizeUnit unit;
        double scaled;
        std::int64_t bytes;
    };
    static FriendlySize friendlySize(std::int64_t bytes);
    static const char* unitName(SizeUnit unit);

    // "5.50 GB", "1.50 KB", "512 B": binary units. The C form whatever the process's locale.
    static std::string friendlySizeNumber(std::int64_t bytes);
    // The same with `format`'s decimal point ("5,50 GB").
    static std::string friendlySizeNumber(std::int64_t bytes, const MCNumberFormat& format);
    // `value` with `decimals` places, no grouping ("12.50"); never the process's locale.
    static std::string fixed(double value, int decimals, const MCNumberFormat& format = {});
};
