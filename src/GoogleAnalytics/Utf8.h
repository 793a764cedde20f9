#pragma once
// Small UTF-8 helpers shared by the analytics sources.

#include <string_view>

namespace analytics_detail {

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view text);

} // namespace analytics_detail
