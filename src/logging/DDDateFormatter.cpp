#include "logging/DDDateFormatter.h"

#include <charconv>
#include <cstring>
#include <ctime>

namespace {

bool isField(char c) {
    return std::strchr("yMdHhmsSa", c) != nullptr;
}

void appendNumber(std::string& out, long value, int minDigits) {
    char buffer[24];
    auto r = std::to_chars(buffer, buffer + sizeof buffer, value < 0 ? -value : value);
    const int digits = static_cast<int>(r.ptr - buffer);
    if (value < 0) {
        out += '-';
    }
    for (int i = digits; i < minDigits; ++i) {
        out += '0';
    }
    out.append(buffer, r.ptr);
}

// localtime_r takes the time zone lock; a line per message would contend on it. Keep the
// broken-down time of the last second seen by this thread.
const std::tm& localFields(std::time_t seconds) {
    thread_local std::time_t cachedSeconds = 0;
    thread_local std::tm cached{};
    thread_local bool valid = false;
    if (!valid || cachedSeconds != seconds) {
        ::localtime_r(&seconds, &cached);
        cachedSeconds = seconds;
        valid = true;
    }
    return cached;
}

} // namespace

DDDateFormatter::DDDateFormatter(std::string pattern) : pattern_(std::move(pattern)) {
    const std::string& p = pattern_;
    for (std::size_t i = 0; i < p.size();) {
        const char c = p[i];
        if (c == '\'') {
            // 'text' is literal; '' is one quote.
            std::size_t j = i + 1;
            std::string text;
            if (j < p.size() && p[j] == '\'') {
                text = "'";
                j += 1;
            } else {
                while (j < p.size()) {
                    if (p[j] == '\'') {
                        if (j + 1 < p.size() && p[j + 1] == '\'') {
                            text += '\'';
                            j += 2;
                            continue;
                        }
                        ++j;
                        break;
                    }
                    text += p[j++];
                }
            }
            tokens_.push_back(Token{0, 0, text});
            i = j;
        } else if (isField(c)) {
            std::size_t j = i;
            while (j < p.size() && p[j] == c) {
                ++j;
            }
            tokens_.push_back(Token{c, static_cast<int>(j - i), {}});
            i = j;
        } else {
            if (tokens_.empty() || tokens_.back().field != 0) {
                tokens_.push_back(Token{});
            }
            tokens_.back().literal += c;
            ++i;
        }
    }
}

std::string DDDateFormatter::stringFromDate(std::chrono::system_clock::time_point date) const {
    std::string out;
    appendStringFromDate(out, date);
    return out;
}

void DDDateFormatter::appendStringFromDate(std::string& out,
                                           std::chrono::system_clock::time_point date) const {
    using namespace std::chrono;
    const auto secondsPoint = floor<seconds>(date);
    const auto fraction = duration_cast<nanoseconds>(date - secondsPoint).count(); // 0..999999999
    const std::tm& tm =
        localFields(static_cast<std::time_t>(secondsPoint.time_since_epoch().count()));
    for (const Token& t : tokens_) {
        switch (t.field) {
        case 0:
            out += t.literal;
            break;
        case 'y':
            if (t.count == 2) {
                appendNumber(out, (tm.tm_year + 1900) % 100, 2);
            } else {
                appendNumber(out, tm.tm_year + 1900, t.count);
            }
            break;
        case 'M':
            appendNumber(out, tm.tm_mon + 1, t.count);
            break;
        case 'd':
            appendNumber(out, tm.tm_mday, t.count);
            break;
        case 'H':
            appendNumber(out, tm.tm_hour, t.count);
            break;
        case 'h':
            appendNumber(out, tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12, t.count);
            break;
        case 'm':
            appendNumber(out, tm.tm_min, t.count);
            break;
        case 's':
            appendNumber(out, tm.tm_sec, t.count);
            break;
        case 'S': {
            // The fraction of the second cut (not rounded) to count digits.
            long value = static_cast<long>(fraction);
            int digits = 9;
            while (digits > t.count) {
                value /= 10;
                --digits;
            }
            appendNumber(out, value, digits);
            for (; digits < t.count; ++digits) {
                out += '0';
            }
            break;
        }
        case 'a':
            out += tm.tm_hour < 12 ? "AM" : "PM";
            break;
        default:
            break;
        }
    }
}
