#include "platform/ui/WindowSystem.h"

#include <QGuiApplication>
#include <QScreen>

#include <X11/Xlib.h>

#include <algorithm>
#include <string>

bool WindowSystem::isCompositing() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->display() == nullptr) {
        // Wayland compositors always composite; offscreen rendering has no desktop behind it.
        return true;
    }
    Display* display = x11->display();
    const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display));
    const Atom selection = XInternAtom(display, name.c_str(), False);
    return XGetSelectionOwner(display, selection) != None;
}

bool WindowSystem::canPositionWindows() {
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

bool WindowSystem::isXWayland() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->display() == nullptr) {
        return false;
    }
    // Newer servers announce themselves with an extension; all name their outputs XWAYLAND0...
    int opcode = 0;
    int event = 0;
    int error = 0;
    if (XQueryExtension(x11->display(), "XWAYLAND", &opcode, &event, &error) != 0) {
        return true;
    }
    const QList<QScreen*> screens = QGuiApplication::screens();
    return std::any_of(screens.begin(), screens.end(), [](const QScreen* screen) {
        return screen->name().startsWith(QLatin1String("XWAYLAND"));
    });
}
