#pragma once
// The number symbols of a C library locale, read without touching the process's own locale
// (setlocale), so nothing else in the process starts writing numbers differently.

#include <optional>
#include <string>

namespace platform {

struct NumberSymbols {
    std::string decimalPoint; // "." in C, "," in de_DE
};

// The symbols of the locale named `name`; "" takes it from the environment as the C library
// does (LC_ALL, then LC_NUMERIC, then LANG). None when no such locale is installed.
std::optional<NumberSymbols> numberSymbols(const std::string& name);

// The environment's symbols, falling back to the C locale's when its locale is not installed.
NumberSymbols environmentNumberSymbols();

} // namespace platform
