#pragma once
// printf-style text building for log calls. "%@" takes any object with a text form (strings,
// C strings, numbers, objects with description(), smart pointers to those), "%s" a C string or a
// string, "%d" an int; the rest follow printf. Arguments are converted to what the conversion
// asks for, so a mismatched argument never reads past what was passed.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace ddlog {

template <class T>
concept HasDescription = requires(const T& t) {
    { t.description() } -> std::convertible_to<std::string>;
};

// One format argument, captured without its type.
struct FormatArg {
    enum class Kind { Signed, Unsigned, Floating, CString, Text, Pointer };
    Kind kind = Kind::Signed;
    long long i = 0;
    unsigned long long u = 0;
    long double f = 0;
    const char* cstr = nullptr;
    std::string_view text;
    const void* pointer = nullptr;
    std::string owned; // the text form of an object, kept alive for the call

    FormatArg() = default;

    template <class T>
    requires(std::is_integral_v<T>&& std::is_signed_v<T>) FormatArg(T value)
        : kind(Kind::Signed), i(value) {}

    template <class T>
    requires(std::is_integral_v<T>&& std::is_unsigned_v<T>) FormatArg(T value)
        : kind(Kind::Unsigned), u(value) {}

    template <class T>
    requires std::is_enum_v<T> FormatArg(T value)
        : FormatArg(static_cast<std::underlying_type_t<T>>(value)) {}

    template <class T>
    requires std::is_floating_point_v<T> FormatArg(T value) : kind(Kind::Floating), f(value) {}

    FormatArg(const char* value) : kind(Kind::CString), cstr(value) {}
    FormatArg(char* value) : kind(Kind::CString), cstr(value) {}
    FormatArg(const std::string& value) : kind(Kind::Text), text(value) {}
    FormatArg(std::string_view value) : kind(Kind::Text), text(value) {}
    FormatArg(std::nullptr_t) : kind(Kind::CString), cstr(nullptr) {}

    template <HasDescription T>
    FormatArg(const T& object) : kind(Kind::Text), owned(object.description()) {
        text = owned;
    }

    template <class T>
    FormatArg(const std::shared_ptr<T>& object) : FormatArg(object.get()) {}

    template <class T>
    FormatArg(const std::optional<T>& value) : FormatArg() {
        if (value) {
            *this = FormatArg(*value); // the assignment re-points text at our own copy
        } else {
            kind = Kind::CString; // prints "(null)"
        }
    }

    // Pointers to objects with a text form print that text; other pointers print their address.
    template <class T>
    requires(!std::is_same_v<std::remove_cv_t<T>, char>) FormatArg(T* object) {
        if constexpr (HasDescription<T>) {
            if (object == nullptr) {
                kind = Kind::CString;
            } else {
                kind = Kind::Text;
                owned = object->description();
                text = owned;
            }
        } else if constexpr (std::is_same_v<std::remove_cv_t<T>, std::string>) {
            if (object == nullptr) {
                kind = Kind::CString;
            } else {
                kind = Kind::Text;
                text = *object;
            }
        } else {
            kind = Kind::Pointer;
            pointer = object;
        }
    }

    FormatArg(const FormatArg& other) { *this = other; }
    FormatArg& operator=(const FormatArg& other) {
        if (this != &other) {
            kind = other.kind;
            i = other.i;
            u = other.u;
            f = other.f;
            cstr = other.cstr;
            pointer = other.pointer;
            owned = other.owned;
            text = other.text.data() == other.owned.data() ? std::string_view(owned) : other.text;
        }
        return *this;
    }
};

// Appends the formatted text to out. A null format appends nothing.
void formatInto(std::string& out, const char* format, std::span<const FormatArg> args);

// The prepared argument list of a call (the twin of printf's va_list).
using FormatArgList = std::span<const FormatArg>;

} // namespace ddlog

// Builds text from a format and its arguments, in the calling thread.
template <class... Args>
std::string DDFormat(const char* format, const Args&... args) {
    std::string out;
    if constexpr (sizeof...(Args) == 0) {
        ddlog::formatInto(out, format, {});
    } else {
        const ddlog::FormatArg list[] = {ddlog::FormatArg(args)...};
        ddlog::formatInto(out, format, list);
    }
    return out;
}
