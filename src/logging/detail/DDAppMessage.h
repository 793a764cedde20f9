#pragma once
// The text of an application log call, built by the call-site macros (DDLogMacros.h).

#include "logging/DDLogFormat.h"

#include <charconv>
#include <string>

namespace ddlog {

// The last component of a path literal, at compile time.
constexpr const char* lastPathComponent(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/') {
            name = p + 1;
        }
    }
    return name;
}

// The application's message: "%@, [%s(%d)]" of event text, file name and line, built directly.
template <class... Args>
std::string appMessage(const char* fileName, int line, const char* format, const Args&... args) {
    std::string text = DDFormat(format, args...);
    text += ", [";
    text += fileName;
    text += '(';
    char digits[16];
    const auto r = std::to_chars(digits, digits + sizeof digits, line);
    text.append(digits, r.ptr);
    text += ")]";
    return text;
}

} // namespace ddlog
