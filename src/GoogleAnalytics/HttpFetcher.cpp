#include "HttpFetcher.h"

#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace {

struct Sink {
    std::string* body;
    std::size_t limit;
    bool truncated = false;
};

std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const std::size_t bytes = size * count;
    const std::size_t room = sink->limit - sink->body->size();
    if (bytes > room) {
        sink->body->append(data, room);
        sink->truncated = true;
        return 0; // makes curl stop with a write error
    }
    sink->body->append(data, bytes);
    return bytes;
}

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

CurlFetcher::CurlFetcher() : CurlFetcher(Options{}) {}

CurlFetcher::CurlFetcher(Options options) : options_(options) {
    initialiseCurlOnce();
}

FetchResult CurlFetcher::fetch(const std::string& url) {
    FetchResult result;
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl) {
        result.error = "cannot create a transfer";
        return result;
    }
    Sink sink{&result.body, options_.maxBodyBytes};
    char errorText[CURL_ERROR_SIZE] = {};
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L); // we run on worker threads
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, options_.maxRedirects);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(options_.timeout.count()));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &writeBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "Brimwell");

    const CURLcode code = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.status);
    result.truncated = sink.truncated;
    if (code == CURLE_OK) {
        result.ok = true;
        return result;
    }
    result.error = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
    if (sink.truncated) {
        result.error = "body larger than " + std::to_string(options_.maxBodyBytes) + " bytes";
    } else {
        result.body.clear();
    }
    return result;
}

bool isHttpURL(const std::string& url) {
    initialiseCurlOnce();
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
        return false;
    }
    char* scheme = nullptr;
    char* host = nullptr;
    bool ok = curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
              curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK;
    if (ok) {
        const std::string s(scheme);
        ok = (s == "http" || s == "https") && host[0] != '\0';
    }
    curl_free(scheme);
    curl_free(host);
    return ok;
}
