#pragma once

#include <cstdint>
#include <string>

// The informative text of the notification that ends a clean.
std::string cleanResultText(std::int64_t freedBytes);
