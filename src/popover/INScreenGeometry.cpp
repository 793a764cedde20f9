#include "popover/INScreenGeometry.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <cmath>

namespace {

QRect primaryGeometry() {
    const QScreen* primary = QGuiApplication::primaryScreen();
    return primary ? primary->geometry() : QRect();
}

int toPixel(double v) {
    return static_cast<int>(std::lround(v));
}

} // namespace

QRect INScreenGeometry::toQt(const INRect& rect) {
    const QRect p = primaryGeometry();
    const double qtY = (p.y() + p.height()) - (rect.y() + rect.height());
    return {toPixel(rect.x() + p.x()), toPixel(qtY), toPixel(rect.width()), toPixel(rect.height())};
}

INRect INScreenGeometry::fromQt(const QRect& rect) {
    const QRect p = primaryGeometry();
    const double y = (p.y() + p.height()) - (rect.y() + rect.height());
    return {static_cast<double>(rect.x() - p.x()), y, static_cast<double>(rect.width()),
            static_cast<double>(rect.height())};
}

INRect INScreenGeometry::screenFrameForWindow(const QWidget* window) {
    if (!window) {
        return {};
    }
    const QScreen* screen = window->screen();
    return screen ? fromQt(screen->geometry()) : INRect();
}

INRect INScreenGeometry::convertRectToScreen(const QWidget* view, const INRect& rect) {
    if (!view) {
        return {};
    }
    // The rectangle's top-left corner in the view's Qt coordinates, then on the screen.
    const double localTop = view->height() - (rect.y() + rect.height());
    const QPoint global = view->mapToGlobal(QPoint(0, 0));
    const QRect p = primaryGeometry();
    const double x = global.x() + rect.x() - p.x();
    const double y = (p.y() + p.height()) - (global.y() + localTop + rect.height());
    return {x, y, rect.width(), rect.height()};
}

INRect INScreenGeometry::frameInSuperview(const QWidget* view) {
    if (!view) {
        return {};
    }
    if (view->isWindow()) {
        return {0.0, 0.0, static_cast<double>(view->width()), static_cast<double>(view->height())};
    }
    const QRect g = view->geometry();
    const int parentHeight = view->parentWidget()->height();
    return {static_cast<double>(g.x()), static_cast<double>(parentHeight - (g.y() + g.height())),
            static_cast<double>(g.width()), static_cast<double>(g.height())};
}

INRect INScreenGeometry::superviewBounds(const QWidget* view) {
    if (!view) {
        return {};
    }
    const QWidget* super = view->isWindow() ? view : view->parentWidget();
    return {0.0, 0.0, static_cast<double>(super->width()), static_cast<double>(super->height())};
}
