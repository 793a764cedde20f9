#include "memory/MCUtil.h"

#include <cstdio>

std::string MCUtil::friendlySizeNumber(std::int64_t bytes) {
    // Decisions and scaling happen in single precision, so values near a threshold
    // fall where the float lands, not where the integer is.
    const float value = static_cast<float>(bytes);
    char text[64];
    if (value > 1073741824.0f) {
        std::snprintf(text, sizeof text, "%.2f GB",
                      static_cast<double>(value * 9.313225746154785e-10f));
    } else if (value > 1048576.0f) {
        std::snprintf(text, sizeof text, "%.2f MB",
                      static_cast<double>(value * 9.5367431640625e-07f));
    } else if (value > 1024.0f) {
        std::snprintf(text, sizeof text, "%.2f KB", static_cast<double>(value * 0.0009765625f));
    } else {
        std::snprintf(text, sizeof text, "%lld B", static_cast<long long>(bytes));
    }
    return text;
}
