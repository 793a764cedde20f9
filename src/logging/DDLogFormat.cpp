#include "logging/DDLogFormat.h"

#include <charconv>
#include <cstdio>
#include <cstring>

namespace ddlog {

namespace {

// Collected pieces of one conversion such as "%-08.3lld".
struct Conversion {
    std::string flags;
    int width = -1;
    int precision = -1;
    std::string length;
    char conversion = 0;
};

bool isFlag(char c) {
    return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0';
}

std::string buildPattern(const Conversion& s, const char* length) {
    std::string out = "%" + s.flags;
    if (s.width >= 0) {
        out += std::to_string(s.width);
    }
    if (s.precision >= 0) {
        out += '.';
        out += std::to_string(s.precision);
    }
    out += length;
    out += s.conversion;
    return out;
}

template <class T>
void appendPrintf(std::string& out, const std::string& pattern, T value) {
    char buffer[128];
    const int n = std::snprintf(buffer, sizeof buffer, pattern.c_str(), value);
    if (n < 0) {
        return;
    }
    if (static_cast<std::size_t>(n) < sizeof buffer) {
        out.append(buffer, static_cast<std::size_t>(n));
        return;
    }
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), pattern.c_str(), value);
    big.resize(static_cast<std::size_t>(n));
    out += big;
}

long long asSigned(const FormatArg& a) {
    switch (a.kind) {
    case FormatArg::Kind::Signed:
        return a.i;
    case FormatArg::Kind::Unsigned:
        return static_cast<long long>(a.u);
    case FormatArg::Kind::Floating:
        return static_cast<long long>(a.f);
    default:
        return 0;
    }
}

unsigned long long asUnsigned(const FormatArg& a) {
    switch (a.kind) {
    case FormatArg::Kind::Signed:
        return static_cast<unsigned long long>(a.i);
    case FormatArg::Kind::Unsigned:
        return a.u;
    case FormatArg::Kind::Floating:
        return static_cast<unsigned long long>(a.f);
    case FormatArg::Kind::Pointer:
        return reinterpret_cast<std::uintptr_t>(a.pointer);
    default:
        return 0;
    }
}

long double asFloating(const FormatArg& a) {
    switch (a.kind) {
    case FormatArg::Kind::Signed:
        return static_cast<long double>(a.i);
    case FormatArg::Kind::Unsigned:
        return static_cast<long double>(a.u);
    case FormatArg::Kind::Floating:
        return a.f;
    default:
        return 0;
    }
}

// The text form used by "%@" and by "%s" for non-C-string arguments.
void appendTextForm(std::string& out, const FormatArg& a) {
    switch (a.kind) {
    case FormatArg::Kind::Text:
        out += a.text;
        break;
    case FormatArg::Kind::CString:
        out += a.cstr != nullptr ? a.cstr : "(null)";
        break;
    case FormatArg::Kind::Signed: {
        char buffer[24];
        auto r = std::to_chars(buffer, buffer + sizeof buffer, a.i);
        out.append(buffer, r.ptr);
        break;
    }
    case FormatArg::Kind::Unsigned: {
        char buffer[24];
        auto r = std::to_chars(buffer, buffer + sizeof buffer, a.u);
        out.append(buffer, r.ptr);
        break;
    }
    case FormatArg::Kind::Floating:
        appendPrintf(out, "%Lg", a.f);
        break;
    case FormatArg::Kind::Pointer:
        if (a.pointer == nullptr) {
            out += "(null)";
        } else {
            appendPrintf(out, "%p", a.pointer);
        }
        break;
    }
}

// Pads a text form to the width and precision of a "%s"/"%@" conversion.
void appendPadded(std::string& out, const Conversion& s, std::string_view text) {
    if (s.precision >= 0 && text.size() > static_cast<std::size_t>(s.precision)) {
        text = text.substr(0, static_cast<std::size_t>(s.precision));
    }
    const std::size_t width = s.width > 0 ? static_cast<std::size_t>(s.width) : 0;
    const std::size_t pad = width > text.size() ? width - text.size() : 0;
    const bool left = s.flags.find('-') != std::string::npos;
    if (!left) {
        out.append(pad, ' ');
    }
    out += text;
    if (left) {
        out.append(pad, ' ');
    }
}

} // namespace

void formatInto(std::string& out, const char* format, std::span<const FormatArg> args) {
    if (format == nullptr) {
        return;
    }
    std::size_t next = 0;
    const char* p = format;
    while (*p != '\0') {
        const char* percent = std::strchr(p, '%');
        if (percent == nullptr) {
            out.append(p);
            return;
        }
        out.append(p, static_cast<std::size_t>(percent - p));
        const char* q = percent + 1;
        if (*q == '%') {
            out += '%';
            p = q + 1;
            continue;
        }
        Conversion s;
        auto takeInt = [&]() -> int {
            if (next >= args.size()) {
                return -1;
            }
            return static_cast<int>(asSigned(args[next++]));
        };
        while (isFlag(*q)) {
            s.flags += *q++;
        }
        if (*q == '*') {
            s.width = takeInt();
            if (s.width < 0 && s.width != -1) {
                s.flags += '-';
                s.width = -s.width;
            }
            s.width = s.width > 4096 ? 4096 : s.width;
            ++q;
        } else {
            while (*q >= '0' && *q <= '9') {
                s.width = (s.width < 0 ? 0 : s.width) * 10 + (*q++ - '0');
                s.width = s.width > 4096 ? 4096 : s.width; // a width cannot ask for gigabytes
            }
        }
        if (*q == '.') {
            ++q;
            s.precision = 0;
            if (*q == '*') {
                s.precision = takeInt();
                s.precision = s.precision > 4096 ? 4096 : (s.precision < 0 ? -1 : s.precision);
                ++q;
            } else {
                while (*q >= '0' && *q <= '9') {
                    s.precision = s.precision * 10 + (*q++ - '0');
                    s.precision = s.precision > 4096 ? 4096 : s.precision;
                }
            }
        }
        while (*q == 'h' || *q == 'l' || *q == 'j' || *q == 'z' || *q == 't' || *q == 'L' ||
               *q == 'q') {
            s.length += *q++;
        }
        s.conversion = *q;
        if (s.conversion == '\0') {
            out.append(percent); // a lone trailing "%..." is kept as written
            return;
        }
        p = q + 1;
        const std::string_view written(percent, static_cast<std::size_t>(p - percent));
        const bool knownConversion = std::strchr("@sdiuoxXcpfFeEgGaA", s.conversion) != nullptr;
        if (s.conversion == 'n') {
            continue; // never store through an argument: prints nothing, takes nothing
        }
        if (!knownConversion) {
            out += written; // unknown conversions stand as written and take no argument
            continue;
        }
        if (next >= args.size()) {
            out += written; // missing argument: show the conversion rather than read garbage
            continue;
        }
        const FormatArg& a = args[next++];
        switch (s.conversion) {
        case '@':
        case 's':
            if (s.conversion == 's' && a.kind == FormatArg::Kind::CString && a.cstr != nullptr &&
                s.width < 0 && s.precision < 0) {
                out += a.cstr;
            } else if (s.width < 0 && s.precision < 0) {
                appendTextForm(out, a);
            } else {
                std::string text;
                appendTextForm(text, a);
                appendPadded(out, s, text);
            }
            break;
        case 'd':
        case 'i': {
            long long v = asSigned(a);
            if (s.length == "hh") {
                v = static_cast<signed char>(v);
            } else if (s.length == "h") {
                v = static_cast<short>(v);
            } else if (s.length.empty()) {
                v = static_cast<int>(v);
            }
            if (s.flags.empty() && s.width < 0 && s.precision < 0) {
                char buffer[24];
                auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
                out.append(buffer, r.ptr);
            } else {
                appendPrintf(out, buildPattern(s, "ll"), v);
            }
            break;
        }
        case 'u':
        case 'o':
        case 'x':
        case 'X': {
            unsigned long long v = asUnsigned(a);
            if (s.length == "hh") {
                v = static_cast<unsigned char>(v);
            } else if (s.length == "h") {
                v = static_cast<unsigned short>(v);
            } else if (s.length.empty()) {
                v = static_cast<unsigned int>(v);
            }
            appendPrintf(out, buildPattern(s, "ll"), v);
            break;
        }
        case 'c':
            appendPrintf(out, buildPattern(s, ""),
                         static_cast<int>(static_cast<unsigned char>(asSigned(a))));
            break;
        case 'p':
            appendPrintf(
                out, buildPattern(s, ""),
                a.kind == FormatArg::Kind::Pointer
                    ? a.pointer
                    : reinterpret_cast<const void*>(static_cast<std::uintptr_t>(asUnsigned(a))));
            break;
        default: // floating conversions
            appendPrintf(out, buildPattern(s, "L"), asFloating(a));
            break;
        }
    }
}

} // namespace ddlog
