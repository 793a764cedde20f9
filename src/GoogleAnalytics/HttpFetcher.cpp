#include "GoogleAnalytics/HttpFetcher.h"

#include <curl/curl.h>
#include <dlfcn.h>
#include <memory>
#include <mutex>

namespace {

// libcurl and the TLS libraries behind it weigh several megabytes of resident memory. Most
// installations never send a hit (no collection host, or the user opted out), so the library
// is loaded on the first fetch instead of with the program.
struct Curl {
    decltype(&::curl_global_init) global_init = nullptr;
    decltype(&::curl_easy_init) easy_init = nullptr;
    decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&::curl_easy_setopt) easy_setopt = nullptr;
    decltype(&::curl_easy_perform) easy_perform = nullptr;
    decltype(&::curl_easy_getinfo) easy_getinfo = nullptr;
    decltype(&::curl_easy_strerror) easy_strerror = nullptr;
    decltype(&::curl_url) url = nullptr;
    decltype(&::curl_url_cleanup) url_cleanup = nullptr;
    decltype(&::curl_url_set) url_set = nullptr;
    decltype(&::curl_url_get) url_get = nullptr;
    decltype(&::curl_free) free = nullptr;
};

template <typename F>
bool bind(void* library, const char* name, F& slot) {
    slot = reinterpret_cast<F>(::dlsym(library, name));
    return slot != nullptr;
}

// The loaded and initialised library, or null when the system has none.
const Curl* curl() {
    static const Curl* loaded = []() -> const Curl* {
        void* library = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            return nullptr;
        }
        static Curl c;
        const bool ok =
            bind(library, "curl_global_init", c.global_init) &&
            bind(library, "curl_easy_init", c.easy_init) &&
            bind(library, "curl_easy_cleanup", c.easy_cleanup) &&
            bind(library, "curl_easy_setopt", c.easy_setopt) &&
            bind(library, "curl_easy_perform", c.easy_perform) &&
            bind(library, "curl_easy_getinfo", c.easy_getinfo) &&
            bind(library, "curl_easy_strerror", c.easy_strerror) &&
            bind(library, "curl_url", c.url) && bind(library, "curl_url_cleanup", c.url_cleanup) &&
            bind(library, "curl_url_set", c.url_set) && bind(library, "curl_url_get", c.url_get) &&
            bind(library, "curl_free", c.free);
        if (!ok || c.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            return nullptr;
        }
        return &c;
    }();
    return loaded;
}

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

} // namespace

CurlFetcher::CurlFetcher() : CurlFetcher(Options{}) {}

CurlFetcher::CurlFetcher(Options options) : options_(options) {}

FetchResult CurlFetcher::fetch(const std::string& url) {
    FetchResult result;
    const Curl* api = ::curl();
    if (api == nullptr) {
        result.error = "libcurl is not available";
        return result;
    }
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(api->easy_init(), api->easy_cleanup);
    if (!curl) {
        result.error = "cannot create a transfer";
        return result;
    }
    Sink sink{&result.body, options_.maxBodyBytes};
    char errorText[CURL_ERROR_SIZE] = {};
    CURL* h = curl.get();
    api->easy_setopt(h, CURLOPT_URL, url.c_str());
    api->easy_setopt(h, CURLOPT_HTTPGET, 1L);
    api->easy_setopt(h, CURLOPT_NOSIGNAL, 1L); // we run on worker threads
    api->easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    api->easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    api->easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    api->easy_setopt(h, CURLOPT_MAXREDIRS, options_.maxRedirects);
    api->easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(options_.timeout.count()));
    api->easy_setopt(h, CURLOPT_WRITEFUNCTION, &writeBody);
    api->easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    api->easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    api->easy_setopt(h, CURLOPT_USERAGENT, "Brimwell");

    const CURLcode code = api->easy_perform(h);
    api->easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.status);
    result.truncated = sink.truncated;
    if (code == CURLE_OK) {
        result.ok = true;
        return result;
    }
    result.error = errorText[0] != '\0' ? errorText : api->easy_strerror(code);
    if (sink.truncated) {
        result.error = "body larger than " + std::to_string(options_.maxBodyBytes) + " bytes";
    } else {
        result.body.clear();
    }
    return result;
}

bool isHttpURL(const std::string& url) {
    const Curl* api = curl();
    if (api == nullptr) {
        return false;
    }
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(api->url(), api->url_cleanup);
    if (!parsed || api->url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
        return false;
    }
    char* scheme = nullptr;
    char* host = nullptr;
    bool ok = api->url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
              api->url_get(parsed.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK;
    if (ok) {
        const std::string s(scheme);
        ok = (s == "http" || s == "https") && host[0] != '\0';
    }
    api->free(scheme);
    api->free(host);
    return ok;
}
