#include "memory/MCUtil.h"

#include <array>
#include <charconv>

MCUtil::FriendlySize MCUtil::friendlySize(std::int64_t bytes) {
    // Decisions and scaling happen in single precision, so values near a threshold
    // fall where the float lands, not where the integer is.
    const float value = static_cast<float>(bytes);
    if (value > 1073741824.0f) {
        return {SizeUnit::GB, static_cast<double>(value * 9.313225746154785e-10f), bytes};
    }
    if (value > 1048576.0f) {
        return {SizeUnit::MB, static_cast<double>(value * 9.5367431640625e-07f), bytes};
    }
    if (value > 1024.0f) {
        return {SizeUnit::KB, static_cast<double>(value * 0.0009765625f), bytes};
    }
    return {SizeUnit::B, static_cast<double>(bytes), bytes};
}

const char* MCUtil::unitName(SizeUnit unit) {
    switch (unit) {
    case SizeUnit::GB:
        return "GB";
    case SizeUnit::MB:
        return "MB";
    case SizeUnit::KB:
        return "KB";
    case SizeUnit::B:
        break;
    }
    return "B";
}

std::string MCUtil::fixed(double value, int decimals, const MCNumberFormat& format) {
    // to_chars rounds as printf's "%.*f" does in the C locale, and reads no locale at all.
    std::array<char, 400> buf{};
    const auto [end, error] = std::to_chars(buf.data(), buf.data() + buf.size(), value,
                                            std::chars_format::fixed, decimals);
    std::string text = error == std::errc() ? std::string(buf.data(), end) : std::string("0");
    if (format.decimalPoint != ".") {
        if (const auto point = text.find('.'); point != std::string::npos) {
            text.replace(point, 1, format.decimalPoint);
        }
    }
    return text;
}

std::string MCUtil::friendlySizeNumber(std::int64_t bytes, const MCNumberFormat& format) {
    const FriendlySize size = friendlySize(bytes);
    if (size.unit == SizeUnit::B) {
        return std::to_string(bytes) + " B";
    }
    return fixed(size.scaled, 2, format) + " " + unitName(size.unit);
}

std::string MCUtil::friendlySizeNumber(std::int64_t bytes) {
    return friendlySizeNumber(bytes, MCNumberFormat{});
}
