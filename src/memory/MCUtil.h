#pragma once

#include <cstdint>
#include <string>

class MCUtil {
public:
    MCUtil() = delete;

    // "5.50 GB", "1.50 KB", "512 B": binary units, decided in single precision.
    static std::string friendlySizeNumber(std::int64_t bytes);
};
