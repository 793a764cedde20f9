// Fuzz target: the parser of session bus addresses, on any text in DBUS_SESSION_BUS_ADDRESS.

#include "platform/core/session_bus.h"

#include <cstdint>
#include <cstdlib>
#include <string>

#define check(condition) ((condition) ? void() : std::abort())

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto entries = platform::parseBusAddress(text);
    if (!entries) {
        return 0;
    }
    for (const platform::BusAddressEntry& entry : *entries) {
        check(!entry.transport.empty() && entry.transport.find(':') == std::string::npos);
        check(entry.text.find(';') == std::string::npos &&
              text.find(entry.text) != std::string::npos);
        // Each entry read on its own is the same entry.
        const auto alone = platform::parseBusAddress(entry.text);
        check(alone && alone->size() == 1 && alone->front().transport == entry.transport &&
              alone->front().keys == entry.keys);
    }
    return 0;
}
