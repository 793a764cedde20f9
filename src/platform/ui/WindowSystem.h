#pragma once
// Facts about the window system the application runs on.

namespace WindowSystem {

// True when a compositing manager draws windows, so translucent window areas show what lies
// behind them. Without one (plain X11 window managers, Xvfb) they come out black.
bool isCompositing();

// False on Wayland, where an application cannot place its own windows (a popover at the tray
// icon); true on X11, XWayland included.
bool canPositionWindows();

// True when the X server is XWayland, a Wayland compositor's X server: clicks in Wayland
// windows never reach X clients there.
bool isXWayland();

} // namespace WindowSystem
