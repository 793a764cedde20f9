#pragma once
// Watches mouse presses that go to other applications.
// On X11 these are XInput2 raw button presses on the root window, minus those that land on one
// of our own windows. Where no such monitor exists (Wayland) the closest signal is used instead:
// the application losing focus, reported as a left press. XWayland gets both: presses in other
// X clients, and the focus loss for presses in Wayland windows, which X clients never see.

#include <QObject>

#include <cstddef>
#include <cstdint>
#include <functional>

// Event mask bits: a left button press is bit value 2, a right one bit value 8.
enum EventMask : std::uint64_t {
    LeftMouseDownMask = 1u << 1,
    RightMouseDownMask = 1u << 3,
};

class EventMonitor {
public:
    using Handler = std::function<void(EventMask type)>;
    // Names an installed monitor; 0 names none.
    using Token = std::uint64_t;

    // Calls `handler` on the main thread for every press matching `mask` sent to another
    // application, until the monitor is removed. 0 when no monitor can be installed.
    static Token addGlobalMonitorForEventsMatchingMask(std::uint64_t mask, Handler handler);
    // Removing a monitor that is gone already does nothing.
    static void removeMonitor(Token token);
    static std::size_t installedMonitorCount();

    // True when presses in other applications are seen as such (X11), false on the fallback.
    static bool seesOtherApplications();
};
