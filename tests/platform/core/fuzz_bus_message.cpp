// Fuzz target: the reader of what a session bus sends during the start-up handshake, on any
// bytes a peer could send.

#include "platform/core/session_bus.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

#define check(condition) ((condition) ? void() : std::abort())

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    platform::BusMessage message;
    std::size_t length = 0;
    const platform::BusParse result = platform::parseBusMessage(bytes, message, length);
    if (result != platform::BusParse::Complete) {
        return 0;
    }
    check(length >= 16 && length <= bytes.size());
    // The message is judged on its own bytes alone...
    platform::BusMessage alone;
    std::size_t aloneLength = 0;
    check(platform::parseBusMessage(bytes.substr(0, length), alone, aloneLength) ==
              platform::BusParse::Complete &&
          aloneLength == length && alone.type == message.type &&
          alone.replySerial == message.replySerial && alone.errorName == message.errorName &&
          alone.firstString == message.firstString);
    // ...and never before all of them have come.
    platform::BusMessage partial;
    check(platform::parseBusMessage(bytes.substr(0, length - 1), partial, aloneLength) ==
          platform::BusParse::Incomplete);
    check(message.firstString.size() < length && message.errorName.size() < length);
    return 0;
}
