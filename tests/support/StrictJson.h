#pragma once
// A strict JSON reader for tests (RFC 8259): what it accepts, any JSON parser accepts, and it
// refuses what they refuse (trailing commas, control characters in strings, bad escapes,
// leading zeros, garbage after the value).

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct Json {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    bool integer = false; // written without fraction or exponent
    std::string text;     // a string's value, or a number as written
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members; // in the order written

    const Json* find(const std::string& key) const {
        for (const auto& [name, value] : members) {
            if (name == key) {
                return &value;
            }
        }
        return nullptr;
    }
    std::vector<std::string> keys() const {
        std::vector<std::string> names;
        for (const auto& member : members) {
            names.push_back(member.first);
        }
        return names;
    }

    // The value of the whole text, or none (with the offset of the fault in `error`).
    static std::optional<Json> parse(std::string_view text, std::string* error = nullptr) {
        Reader reader{text, 0};
        auto value = reader.value(0);
        reader.blanks();
        if (!value || reader.at != text.size()) {
            if (error != nullptr) {
                *error = "bad JSON at byte " + std::to_string(reader.at);
            }
            return std::nullopt;
        }
        return value;
    }

private:
    struct Reader {
        std::string_view text;
        std::size_t at;

        void blanks() {
            while (at < text.size() &&
                   (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r')) {
                ++at;
            }
        }
        bool take(std::string_view word) {
            if (text.substr(at, word.size()) != word) {
                return false;
            }
            at += word.size();
            return true;
        }
        std::optional<Json> value(int depth) {
            blanks();
            if (at >= text.size() || depth > 64) {
                return std::nullopt;
            }
            Json v;
            const char c = text[at];
            if (take("null")) {
                return v;
            }
            if (take("true") || take("false")) {
                v.kind = Kind::Bool;
                v.boolean = text[at - 1] == 'e' && text[at - 2] == 'u';
                return v;
            }
            if (c == '"') {
                auto s = string();
                if (!s) {
                    return std::nullopt;
                }
                v.kind = Kind::String;
                v.text = std::move(*s);
                return v;
            }
            if (c == '[' || c == '{') {
                const bool object = c == '{';
                v.kind = object ? Kind::Object : Kind::Array;
                ++at;
                blanks();
                if (take(object ? "}" : "]")) {
                    return v;
                }
                for (;;) {
                    blanks();
                    if (object) {
                        auto key = at < text.size() && text[at] == '"' ? string() : std::nullopt;
                        blanks();
                        if (!key || !take(":")) {
                            return std::nullopt;
                        }
                        auto member = value(depth + 1);
                        if (!member) {
                            return std::nullopt;
                        }
                        v.members.emplace_back(std::move(*key), std::move(*member));
                    } else {
                        auto item = value(depth + 1);
                        if (!item) {
                            return std::nullopt;
                        }
                        v.items.push_back(std::move(*item));
                    }
                    blanks();
                    if (take(",")) {
                        continue;
                    }
                    if (take(object ? "}" : "]")) {
                        return v;
                    }
                    return std::nullopt;
                }
            }
            return number();
        }
        std::optional<Json> number() {
            const std::size_t start = at;
            auto digits = [this] {
                const std::size_t from = at;
                while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
                    ++at;
                }
                return at - from;
            };
            take("-");
            if (take("0")) {
                if (at < text.size() && text[at] >= '0' && text[at] <= '9') {
                    return std::nullopt; // leading zero
                }
            } else if (digits() == 0) {
                return std::nullopt;
            }
            Json v;
            v.kind = Kind::Number;
            v.integer = true;
            if (take(".")) {
                v.integer = false;
                if (digits() == 0) {
                    return std::nullopt;
                }
            }
            if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
                ++at;
                v.integer = false;
                if (!take("+")) {
                    take("-");
                }
                if (digits() == 0) {
                    return std::nullopt;
                }
            }
            v.text = std::string(text.substr(start, at - start));
            v.number = std::stod(v.text);
            return v;
        }
        std::optional<std::string> string() {
            ++at; // the opening quote
            std::string out;
            while (at < text.size()) {
                const auto c = static_cast<unsigned char>(text[at++]);
                if (c == '"') {
                    return out;
                }
                if (c < 0x20) {
                    return std::nullopt;
                }
                if (c != '\\') {
                    out += static_cast<char>(c);
                    continue;
                }
                if (at >= text.size()) {
                    return std::nullopt;
                }
                const char e = text[at++];
                const std::string_view simple = "\"\\/bfnrt";
                const std::string_view meant = "\"\\/\b\f\n\r\t";
                if (const auto i = simple.find(e); i != std::string_view::npos) {
                    out += meant[i];
                    continue;
                }
                if (e != 'u') {
                    return std::nullopt;
                }
                auto hex = [this]() -> std::optional<char32_t> {
                    if (at + 4 > text.size()) {
                        return std::nullopt;
                    }
                    char32_t v = 0;
                    for (int i = 0; i < 4; ++i) {
                        const char h = text[at++];
                        v <<= 4;
                        if (h >= '0' && h <= '9') {
                            v |= static_cast<char32_t>(h - '0');
                        } else if (h >= 'a' && h <= 'f') {
                            v |= static_cast<char32_t>(h - 'a' + 10);
                        } else if (h >= 'A' && h <= 'F') {
                            v |= static_cast<char32_t>(h - 'A' + 10);
                        } else {
                            return std::nullopt;
                        }
                    }
                    return v;
                };
                auto cp = hex();
                if (!cp || (*cp >= 0xdc00 && *cp <= 0xdfff)) {
                    return std::nullopt;
                }
                if (*cp >= 0xd800 && *cp <= 0xdbff) {
                    if (!take("\\u")) {
                        return std::nullopt;
                    }
                    auto low = hex();
                    if (!low || *low < 0xdc00 || *low > 0xdfff) {
                        return std::nullopt;
                    }
                    cp = 0x10000 + ((*cp - 0xd800) << 10) + (*low - 0xdc00);
                }
                appendUtf8(out, *cp);
            }
            return std::nullopt; // unterminated
        }
        static void appendUtf8(std::string& out, char32_t cp) {
            if (cp < 0x80) {
                out += static_cast<char>(cp);
            } else if (cp < 0x800) {
                out += static_cast<char>(0xc0 | (cp >> 6));
                out += static_cast<char>(0x80 | (cp & 0x3f));
            } else if (cp < 0x10000) {
                out += static_cast<char>(0xe0 | (cp >> 12));
                out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
                out += static_cast<char>(0x80 | (cp & 0x3f));
            } else {
                out += static_cast<char>(0xf0 | (cp >> 18));
                out += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
                out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
                out += static_cast<char>(0x80 | (cp & 0x3f));
            }
        }
    };
};
