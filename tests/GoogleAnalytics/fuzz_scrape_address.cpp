// Fuzz target: the echo-page scraper on any page.

#include "GoogleAnalytics/PublicIP.h"

#include <cstdint>
#include <cstdlib>
#include <string>

#define check(condition) ((condition) ? void() : std::abort())

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string page(reinterpret_cast<const char*>(data), size);
    const PublicIP::ScrapeResult result = PublicIP::scrapeAddress(page);
    const bool found = result.status == PublicIP::ScrapeResult::Found;
    check(found == result.address.has_value() &&
          (found || !result.reason.empty() || result.status == PublicIP::ScrapeResult::Blank));
    check(!found || (result.address->find(' ') == std::string::npos &&
                     page.find("Address:") != std::string::npos));
    for (unsigned char c : page) { // blank: every ASCII byte is white space
        check(result.status != PublicIP::ScrapeResult::Blank || c >= 0x80 || c == ' ' ||
              (c >= 0x09 && c <= 0x0D));
    }
    return 0;
}
