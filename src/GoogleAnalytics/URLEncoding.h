#pragma once
// General percent-escaping of a text for use inside a URL, in a given text encoding.

#include <optional>
#include <string>
#include <string_view>

// Text encodings by their platform constants.
using NSStringEncoding = unsigned long;
inline constexpr NSStringEncoding NSASCIIStringEncoding = 1;
inline constexpr NSStringEncoding NSUTF8StringEncoding = 4;

namespace URLEncoding {

// Escapes every byte that a URL does not allow plus ! ' " ; : @ & = + $ , / ? % # [ ] and
// space, as upper-case "%XX" of the text's bytes in `encoding`. Letters, digits and
// - . _ ~ ( ) * stay. Null when the text cannot be represented in the encoding (including
// malformed UTF-8) or the encoding is not supported (only UTF-8 and ASCII are).
std::optional<std::string> urlEncodeUsingEncoding(std::string_view text, NSStringEncoding encoding);

} // namespace URLEncoding
