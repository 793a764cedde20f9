#include "GoogleAnalytics/PublicIP.h"

#include "GoogleAnalytics/AnalyticsConfig.h"
#include "GoogleAnalytics/AnalyticsLog.h"
#include "GoogleAnalytics/Utf8.h"

#include <exception>

namespace {

// Length of the white-space or line-break character at `pos` (UTF-8), 0 when there is none.
std::size_t whitespaceLength(std::string_view s, std::size_t pos) {
    const auto c = static_cast<unsigned char>(s[pos]);
    if (c == ' ' || (c >= 0x09 && c <= 0x0D)) {
        return 1;
    }
    const std::size_t left = s.size() - pos;
    auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[pos + k]); };
    if (c == 0xC2 && left >= 2 && (at(1) == 0x85 || at(1) == 0xA0)) {
        return 2; // U+0085, U+00A0
    }
    if (left < 3) {
        return 0;
    }
    if (c == 0xE1 && at(1) == 0x9A && at(2) == 0x80) {
        return 3; // U+1680
    }
    if (c == 0xE2 && at(1) == 0x80 &&
        ((at(2) >= 0x80 && at(2) <= 0x8A) || at(2) == 0xA8 || at(2) == 0xA9 || at(2) == 0xAF)) {
        return 3; // U+2000..U+200A, U+2028, U+2029, U+202F
    }
    if (c == 0xE2 && at(1) == 0x81 && at(2) == 0x9F) {
        return 3; // U+205F
    }
    if (c == 0xE3 && at(1) == 0x80 && at(2) == 0x80) {
        return 3; // U+3000
    }
    return 0;
}

// A text scanner that skips white space and line breaks before each scan.
class Scanner {
public:
    explicit Scanner(std::string_view text) : text_(text) {}

    bool isAtEnd() const { return skipped(pos_) >= text_.size(); }

    // The characters up to `stop` (or the end); null when there are none.
    std::optional<std::string_view> scanUpTo(std::string_view stop) {
        pos_ = skipped(pos_);
        if (pos_ >= text_.size()) {
            return std::nullopt;
        }
        std::size_t end = text_.find(stop, pos_);
        if (end == std::string_view::npos) {
            end = text_.size();
        }
        if (end == pos_) {
            return std::nullopt;
        }
        std::string_view scanned = text_.substr(pos_, end - pos_);
        pos_ = end;
        return scanned;
    }

private:
    std::size_t skipped(std::size_t pos) const {
        while (pos < text_.size()) {
            std::size_t n = whitespaceLength(text_, pos);
            if (n == 0) {
                break;
            }
            pos += n;
        }
        return pos;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

// Replaces every occurrence of `needle`, left to right, by one space. True if any was found.
bool replaceWithSpace(std::string& text, const std::string& needle) {
    std::size_t found = text.find(needle);
    if (found == std::string::npos) {
        return false;
    }
    std::string out;
    out.reserve(text.size());
    std::size_t from = 0;
    while (found != std::string::npos) {
        out.append(text, from, found - from);
        out += ' ';
        from = found + needle.size();
        found = text.find(needle, from);
    }
    out.append(text, from, std::string::npos);
    text.swap(out);
    return true;
}

// The piece after the first piece that is exactly "Address:", splitting at every space.
PublicIP::ScrapeResult pieceAfterAddress(const std::string& text) {
    bool afterAddress = false;
    std::size_t start = 0;
    while (true) {
        const std::size_t space = text.find(' ', start);
        const std::size_t end = space == std::string::npos ? text.size() : space;
        std::string_view piece(text.data() + start, end - start);
        if (afterAddress) {
            return {PublicIP::ScrapeResult::Found, std::string(piece), {}};
        }
        afterAddress = piece == "Address:";
        if (space == std::string::npos) {
            break;
        }
        start = space + 1;
    }
    return {PublicIP::ScrapeResult::NotFound, std::nullopt,
            afterAddress ? "\"Address:\" is the last word of the page"
                         : "no \"Address:\" in the page"};
}

} // namespace

PublicIP::ScrapeResult PublicIP::scrapeAddress(std::string_view page) {
    Scanner scanner(page);
    std::string working(page);
    std::optional<std::string> tag;
    ScrapeResult result{ScrapeResult::Blank, std::nullopt, "the page is blank"};
    bool firstPass = true;
    while (!scanner.isAtEnd()) {
        scanner.scanUpTo("<");
        if (auto scanned = scanner.scanUpTo(">")) {
            tag = std::string(*scanned);
        }
        bool changed = tag && replaceWithSpace(working, *tag + ">");
        // An unchanged copy splits as before, so the previous pass's answer stands.
        if (changed || firstPass) {
            result = pieceAfterAddress(working);
            if (result.status == ScrapeResult::NotFound) {
                return result;
            }
        }
        firstPass = false;
    }
    return result;
}

PublicIPLookup::PublicIPLookup(std::string echoPageURL, std::shared_ptr<HttpFetcher> fetcher)
    : echoPageURL_(std::move(echoPageURL)), fetcher_(std::move(fetcher)) {}

std::optional<std::string> PublicIPLookup::getIPAddress() {
    std::lock_guard lock(mutex_);
    if (cached_) {
        return cached_;
    }
    if (!fetcher_ || !isHttpURL(echoPageURL_)) {
        return std::nullopt;
    }
    try {
        FetchResult page = fetcher_->fetch(echoPageURL_);
        if (!page.ok || !analytics_detail::isValidUtf8(page.body)) {
            return std::nullopt; // tried again on the next call
        }
        PublicIP::ScrapeResult scraped = PublicIP::scrapeAddress(page.body);
        switch (scraped.status) {
        case PublicIP::ScrapeResult::Blank:
            return std::nullopt;
        case PublicIP::ScrapeResult::Found:
            // Checks further on read C strings: a NUL would hide what follows it from them
            // while the whole text is sent.
            if (scraped.address->find('\0') == std::string::npos) {
                cached_ = scraped.address;
                return cached_;
            }
            scraped.reason = "the address holds a NUL byte";
            [[fallthrough]];
        case PublicIP::ScrapeResult::NotFound:
            GA_LOG_VERBOSE("Error getting public IP: %@ %@", std::string("ParseError"),
                           scraped.reason);
            break;
        }
    } catch (const std::exception& e) {
        GA_LOG_VERBOSE("Error getting public IP: %@ %@", std::string("Exception"),
                       std::string(e.what()));
    }
    cached_ = std::string();
    return cached_;
}

std::shared_ptr<PublicIPLookup> PublicIP::sharedLookup() {
    static const std::shared_ptr<PublicIPLookup> shared = [] {
        CurlFetcher::Options options;
        options.maxBodyBytes = PublicIPLookup::kMaxPageBytes;
        return std::make_shared<PublicIPLookup>(AnalyticsConfig::current().echoPageURL,
                                                std::make_shared<CurlFetcher>(options));
    }();
    return shared;
}

std::optional<std::string> PublicIP::getIPAddress() {
    return sharedLookup()->getIPAddress();
}
