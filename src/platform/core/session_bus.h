#pragma once
// Is the session bus usable? A bounded look before anything else talks to it.
//
// Qt connects to the session bus synchronously, from the main thread, the first time anything
// (the single-instance name, notifications, the tray, accessibility) asks for it, and waits
// without end for a bus that accepts the connection and then stays silent. So the program
// first does the D-Bus handshake itself (connect, authenticate, Hello) under a deadline, and
// hides a bus that fails it from Qt; a bus that answers is handed on as the one entry that did.

#include <chrono>
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
