#include "platform/core/number_locale.h"

#include <clocale>
#include <langinfo.h>
#include <locale.h>

namespace platform {

std::optional<NumberSymbols> numberSymbols(const std::string& name) {
    const locale_t locale = ::newlocale(LC_NUMERIC_MASK, name.c_str(), static_cast<locale_t>(0));
    if (locale == static_cast<locale_t>(0)) {
        return std::nullopt;
    }
    NumberSymbols symbols;
    // A string, not a char: a locale's decimal point may take several UTF-8 bytes.
    const char* point = ::nl_langinfo_l(RADIXCHAR, locale);
    symbols.decimalPoint = point != nullptr && *point != '\0' ? point : ".";
    ::freelocale(locale);
    return symbols;
}

NumberSymbols environmentNumberSymbols() {
    if (auto symbols = numberSymbols("")) {
        return *symbols;
    }
    return NumberSymbols{"."};
}

} // namespace platform
