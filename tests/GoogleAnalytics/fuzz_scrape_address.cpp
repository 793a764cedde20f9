// Fuzz target: the echo-page scraper on any page.

#include "PublicIP.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string page(reinterpret_cast<const char*>(data), size);
    const PublicIP::ScrapeResult result = PublicIP::scrapeAddress(page);
    switch (result.status) {
    case PublicIP::ScrapeResult::Found:
        check(result.address.has_value());
        check(result.address->find(' ') == std::string::npos);
        check(result.address->size() < page.size());
        check(page.find("Address:") != std::string::npos);
        break;
    case PublicIP::ScrapeResult::NotFound:
        check(!result.address && !result.reason.empty());
        break;
    case PublicIP::ScrapeResult::Blank:
        check(!result.address);
        // Only white space: every ASCII byte must be a blank.
        for (unsigned char c : page) {
            check(c >= 0x80 || c == ' ' || (c >= 0x09 && c <= 0x0D));
        }
        break;
    }
    // Same page, same answer.
    const PublicIP::ScrapeResult again = PublicIP::scrapeAddress(page);
    check(again.status == result.status && again.address == result.address);
    return 0;
}
