#include "WindowSystem.h"

#include <QGuiApplication>

#include <X11/Xlib.h>

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
