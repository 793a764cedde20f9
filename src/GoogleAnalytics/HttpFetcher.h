#pragma once
// Blocking HTTP GET, one attempt, as the platform's synchronous URL fetch.

#include <chrono>
#include <cstddef>
#include <string>

struct FetchResult {
    bool ok = false;        // the transfer completed (whatever the HTTP status)
    long status = 0;        // HTTP status of the last response, 0 when none arrived
    std::string body;       // the body; empty when !ok
    std::string error;      // why the transfer failed
    bool truncated = false; // the body exceeded the size limit and was cut off
};

class HttpFetcher {
public:
    virtual ~HttpFetcher() = default;
    virtual FetchResult fetch(const std::string& url) = 0;
};

// libcurl: follows redirects (at most maxRedirects), plain HTTP or HTTPS only, overall
// time-out. A body larger than maxBodyBytes stops the transfer; the result then keeps the
// first maxBodyBytes bytes with `truncated` set and `ok` false.
class CurlFetcher : public HttpFetcher {
public:
    struct Options {
        std::chrono::milliseconds timeout{60000};
        long maxRedirects = 16;
        std::size_t maxBodyBytes = 1 << 20;
    };

    CurlFetcher();
    explicit CurlFetcher(Options options);
    FetchResult fetch(const std::string& url) override;

    const Options& options() const { return options_; }

private:
    Options options_;
};

// Whether the text is a well-formed absolute http or https URL with a host.
bool isHttpURL(const std::string& url);
