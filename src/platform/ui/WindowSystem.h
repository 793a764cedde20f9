#pragma once
// Facts about the window system the application runs on.

namespace WindowSystem {

// True when a compositing manager draws windows, so translucent window areas show what lies
// behind them. Without one (plain X11 window managers, Xvfb) they come out black.
bool isCompositing();

} // namespace WindowSystem
