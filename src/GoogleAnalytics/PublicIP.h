#pragma once
// The machine's public IP address, cut out of an HTML echo page that reads
// "... Address: 203.0.113.7 ...".

#include "GoogleAnalytics/HttpFetcher.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

// A lookup with its own cache. The first answer that holds any text (also the empty text
// after a page that could not be parsed) is kept for good; a failed fetch leaves the cache
// empty so the next call fetches again. Safe to call from several threads.
class PublicIPLookup {
public:
    // Larger echo pages are refused: a real one is a few hundred bytes.
    static constexpr std::size_t kMaxPageBytes = 16 * 1024;

    PublicIPLookup(std::string echoPageURL, std::shared_ptr<HttpFetcher> fetcher);

    // The cached or newly found address, the empty text after a page without an address,
    // or null when the page could not be fetched.
    std::optional<std::string> getIPAddress();

private:
    std::string echoPageURL_;
    std::shared_ptr<HttpFetcher> fetcher_;
    std::mutex mutex_;
    std::optional<std::string> cached_;
};

class PublicIP {
public:
    PublicIP() = delete;

    // The process-wide lookup on the configured echo page.
    static std::optional<std::string> getIPAddress();
    static std::shared_ptr<PublicIPLookup> sharedLookup();

    struct ScrapeResult {
        enum Status {
            Found,    // `address` holds the piece after "Address:"
            NotFound, // no "Address:" piece with one after it; `reason` tells which
            Blank,    // only white space: nothing to scan
        };
        Status status;
        std::optional<std::string> address;
        std::string reason;
    };
    // Strips the page's tags one distinct tag at a time and takes the space-separated piece
    // after the first piece that is exactly "Address:". Fails as soon as one pass finds none.
    static ScrapeResult scrapeAddress(std::string_view page);
};
