#include "platform/ui/EventMonitor.h"

#include "platform/ui/WindowSystem.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QSet>
#include <QWindow>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <xcb/xcb.h>

#include <cstring>
#include <list>
#include <vector>

namespace {

struct Monitor {
    EventMonitor::Token token;
    std::uint64_t mask;
    EventMonitor::Handler handler;
};

// Walks down from the root to the deepest window under the pointer and asks whether any
// window on the way is one of ours. Tray hosts reparent our icon into theirs, so the
// top-level window under the pointer alone would not tell. Raw presses carry no position:
// the pointer is asked right away, while it is still where the press happened.
bool pointerIsOverOwnWindow(Display* display) {
    QSet<unsigned long> own;
    for (QWindow* w : QGuiApplication::allWindows()) {
        if (w->handle() != nullptr) {
            own.insert(static_cast<unsigned long>(w->winId()));
        }
    }
    Window window = DefaultRootWindow(display);
    for (int depth = 0; depth < 64; ++depth) {
        Window root = 0;
        Window child = 0;
        int rx = 0, ry = 0, wx = 0, wy = 0;
        unsigned int buttons = 0;
        if (!XQueryPointer(display, window, &root, &child, &rx, &ry, &wx, &wy, &buttons) ||
            child == None) {
            return false;
        }
        if (own.contains(child)) {
            return true;
        }
        window = child;
    }
    return false;
}

class X11Monitor final : public QAbstractNativeEventFilter {
public:
    static X11Monitor* instance() {
        static X11Monitor* monitor = create();
        return monitor;
    }

    std::list<Monitor> monitors;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "xcb_generic_event_t" || monitors.empty()) {
            return false;
        }
        auto* event = static_cast<xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_GE_GENERIC) {
            return false;
        }
        auto* ge = reinterpret_cast<xcb_ge_generic_event_t*>(event);
        if (ge->extension != opcode_ || ge->event_type != XI_RawButtonPress) {
            return false;
        }
        // Raw events carry the button in `detail`: after the event type (2 bytes at 8),
        // the device id (2) and the time (4).
        constexpr std::size_t kDetailOffset = 16;
        std::uint32_t detail = 0;
        std::memcpy(&detail, reinterpret_cast<const char*>(event) + kDetailOffset, sizeof detail);
        EventMask type;
        if (detail == 1) {
            type = LeftMouseDownMask;
        } else if (detail == 3) {
            type = RightMouseDownMask;
        } else {
            return false;
        }
        if (pointerIsOverOwnWindow(display_)) {
            return false;
        }
        dispatch(monitors, type);
        return false; // others may want it too
    }

    static void dispatch(const std::list<Monitor>& monitors, EventMask type) {
        // A handler may remove monitors: work on a copy.
        std::vector<EventMonitor::Handler> handlers;
        for (const auto& m : monitors) {
            if ((m.mask & type) != 0) {
                handlers.push_back(m.handler);
            }
        }
        for (auto& h : handlers) {
            h(type);
        }
    }

private:
    static X11Monitor* create() {
        auto* x11 =
            qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        if (x11 == nullptr || x11->display() == nullptr) {
            return nullptr;
        }
        Display* display = x11->display();
        int opcode = 0, firstEvent = 0, firstError = 0;
        if (!XQueryExtension(display, "XInputExtension", &opcode, &firstEvent, &firstError)) {
            return nullptr;
        }
        int major = 2, minor = 2;
        if (XIQueryVersion(display, &major, &minor) != Success) {
            return nullptr;
        }
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XISetMask(bits, XI_RawButtonPress);
        XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
        XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
        XFlush(display);
        auto* monitor = new X11Monitor(display, opcode); // lives for the whole process
        QCoreApplication::instance()->installNativeEventFilter(monitor);
        if (WindowSystem::isXWayland()) {
            // Presses in Wayland windows never reach an X client: there, losing the focus
            // stands for them, as on Wayland itself.
            QObject::connect(qGuiApp, &QGuiApplication::applicationStateChanged, qGuiApp,
                             [monitor](Qt::ApplicationState state) {
                                 if (state != Qt::ApplicationActive) {
                                     dispatch(monitor->monitors, LeftMouseDownMask);
                                 }
                             });
        }
        return monitor;
    }

    X11Monitor(Display* display, int opcode) : display_(display), opcode_(opcode) {}
    Display* display_;
    int opcode_;
};

// Without a global view of the pointer: losing focus is when another application was clicked.
class FocusMonitor final : public QObject {
public:
    static FocusMonitor* instance() {
        static auto* monitor = new FocusMonitor; // lives for the whole process
        return monitor;
    }
    std::list<Monitor> monitors;

private:
    FocusMonitor() {
        connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
                [this](Qt::ApplicationState state) {
                    if (state != Qt::ApplicationActive) {
                        X11Monitor::dispatch(monitors, LeftMouseDownMask);
                    }
                });
    }
};

std::list<Monitor>& monitorList() {
    if (auto* x11 = X11Monitor::instance()) {
        return x11->monitors;
    }
    return FocusMonitor::instance()->monitors;
}

} // namespace

EventMonitor::Token EventMonitor::addGlobalMonitorForEventsMatchingMask(std::uint64_t mask,
                                                                        Handler handler) {
    static Token lastToken = 0;
    if (qGuiApp == nullptr || !handler) {
        return 0;
    }
    monitorList().push_back(Monitor{++lastToken, mask, std::move(handler)});
    return lastToken;
}

void EventMonitor::removeMonitor(Token token) {
    if (qGuiApp == nullptr || token == 0) {
        return;
    }
    monitorList().remove_if([token](const Monitor& m) { return m.token == token; });
}

std::size_t EventMonitor::installedMonitorCount() {
    return qGuiApp == nullptr ? 0 : monitorList().size();
}

bool EventMonitor::seesOtherApplications() {
    return qGuiApp != nullptr && X11Monitor::instance() != nullptr;
}
