#pragma once
// Is the session bus usable? A bounded look before anything else talks to it.
//
// Qt connects to the session bus synchronously, from the main thread, the first time anything
// (the single-instance name, notifications, the tray, accessibility) asks for it, and waits
// without end for a bus that accepts the connection and then stays silent. So the program
// first does the D-Bus handshake itself (connect, authenticate, Hello) under a deadline, and
// hides a bus that fails it from Qt; a bus that answers is handed on as the one entry that did.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// One entry of a D-Bus server address, "transport:key=value,key=value".
struct BusAddressEntry {
    std::string text;                        // the entry as written
    std::string transport;                   // "unix", "tcp", ...
    std::map<std::string, std::string> keys; // values with their %xx escapes undone
};

// The entries of a ';'-separated address, in order. Null when any entry is malformed (no
// transport, a key without '=', a bad escape, a repeated key).
std::optional<std::vector<BusAddressEntry>> parseBusAddress(std::string_view address);

// One message from a bus, as far as the handshake reads it.
struct BusMessage {
    std::uint8_t type = 0; // 1 method call, 2 method return, 3 error, 4 signal
    std::optional<std::uint32_t> replySerial;
    std::string errorName;
    std::string firstString; // the body's first value, when it is a string
};

enum class BusParse { Incomplete, Malformed, Oversized, Complete };

// Reads the message at the start of `bytes` (what a peer sent, in either byte order). On
// Complete, `size` is its length in bytes. Messages over 64 KiB in header or body are refused
// as Oversized before they are waited for.
BusParse parseBusMessage(std::string_view bytes, BusMessage& message, std::size_t& size);

struct BusProbe {
    bool usable = false;
    std::string address;    // usable: the one entry that answered
    std::string uniqueName; // usable: the name the bus gave this connection (":1.42")
    std::string problem;    // not usable: why, for a person to read
};

// Tries the entries of `address` in order until one completes the handshake. Every step
// (connect, authentication, Hello) shares the one deadline, so the whole probe returns within
// `timeout` whatever the peer does.
BusProbe probeBus(std::string_view address, std::chrono::milliseconds timeout);

// The session bus address to use: `dbusSessionBusAddress` when set and not empty, else the
// user's bus socket `$XDG_RUNTIME_DIR/bus` when it is a socket of this user. Empty for none:
// the bus is never started on demand.
std::string sessionBusAddress(const char* dbusSessionBusAddress, const char* xdgRuntimeDir);

// What a process that cannot use its bus sets DBUS_SESSION_BUS_ADDRESS to: a path that can
// never exist, so every connection attempt fails at once.
inline constexpr const char* kUnreachableBusAddress = "unix:path=/dev/null/no-session-bus";

class SessionBus {
public:
    // Enough for any live bus, even on a loaded machine; short enough that a start-up that
    // has to wait it out still shows its icon within two seconds.
    static constexpr std::chrono::milliseconds kProbeTimeout{500};

    // The session bus of this process, probed once on first use (thread-safe).
    static const BusProbe& status();

    // Points DBUS_SESSION_BUS_ADDRESS at the entry that answered, or at an address that fails
    // at once when none did, so that nothing later in the process waits on a silent bus.
    // Changes the environment: call before any other thread exists.
    static void exposeOnlyWhatAnswered();
};

} // namespace platform
