#pragma once
// Percent-encoder for the analytics query values. Works on code units and never splits or
// joins one, so anything outside ASCII passes through untouched.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

class JFUrlUtil {
public:
    JFUrlUtil() = delete;

    // Escapes the fixed table; from the first "?" on also the query characters. Existing
    // "%XX" escapes pass in their own case; any other "%" becomes "%25".
    static std::u16string encodeUrl(std::u16string_view url);
    static std::u16string encodeUrl(const std::u16string& url);
    // A null text encodes to the empty text.
    static std::u16string encodeUrl(const char16_t* url);
    static std::u16string encodeUrl(const std::optional<std::u16string>& url);
    // The same rules on UTF-8 bytes: bytes above 127 are copied, so the result equals the
    // UTF-16 form converted back to UTF-8.
    static std::string encodeUrl(std::string_view url);
    static std::string encodeUrl(const std::string& url);
    static std::string encodeUrl(const char* url);
    static std::string encodeUrl(const std::optional<std::string>& url);

    // Whether the two code units after `index` exist and are hexadecimal digits; the unit at
    // `index` itself is not looked at.
    static bool isPercentAtIndex(std::size_t index,
                                 const char16_t* followedByTwoDigitHexCodeInCharacterArray,
                                 std::size_t ofLength);
    static bool isPercentAtIndex(std::size_t index,
                                 const char* followedByTwoDigitHexCodeInCharacterArray,
                                 std::size_t ofLength);
};
