#pragma once

#include "popover/INGeometry.h"

#include <QRect>

class QWidget;

// The one place where the popover's screen model (bottom-left origin of the primary screen,
// y up) meets Qt's global coordinates (top-left origin, y down).
class INScreenGeometry {
public:
    // Qt's global rectangle for a screen-model rectangle, rounded to whole pixels.
    static QRect toQt(const INRect& rect);
    static INRect fromQt(const QRect& rect);

    // The frame of the screen showing `window`, the zero rectangle without one.
    static INRect screenFrameForWindow(const QWidget* window);

    // `rect`, given in `view`'s own coordinates (origin at the view's bottom-left, y up),
    // as a screen-model rectangle.
    static INRect convertRectToScreen(const QWidget* view, const INRect& rect);

    // `view`'s frame in its parent's coordinates and the parent's bounds, both with the origin
    // at the bottom-left. A top-level widget is its own superview here.
    static INRect frameInSuperview(const QWidget* view);
    static INRect superviewBounds(const QWidget* view);
};
