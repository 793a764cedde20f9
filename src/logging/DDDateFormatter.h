#pragma once
// Renders a time point in local time by a Unicode date pattern ("yyyy/MM/dd HH:mm:ss:SSS").
// Supported fields: y, M, d, H, h, m, s, S (fraction, truncated) and a; text in single quotes is
// literal, as is every other character. Safe to use from several threads at once.

#include <chrono>
#include <string>
#include <vector>

class DDDateFormatter {
public:
    explicit DDDateFormatter(std::string pattern);

    const std::string& dateFormat() const { return pattern_; }
    std::string stringFromDate(std::chrono::system_clock::time_point date) const;
    void appendStringFromDate(std::string& out, std::chrono::system_clock::time_point date) const;

private:
    struct Token {
        char field = 0; // 0 for literal text
        int count = 0;
        std::string literal;
    };
    std::string pattern_;
    std::vector<Token> tokens_;
};
