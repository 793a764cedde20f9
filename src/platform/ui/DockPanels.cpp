#include "platform/ui/DockPanels.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace DockPanels {

std::optional<DockPanel> panelFromStrut(const QRect& screen, const WindowStrut& strut) {
    std::array<long, 4> size{};
    if (strut.partial) {
        std::copy_n(strut.partial->begin(), 4, size.begin());
    } else if (strut.strut) {
        size = *strut.strut;
    } else {
        return std::nullopt;
    }
    // left, right, top, bottom: the edge reserved most of is the panel's.
    const auto widest = std::max_element(size.begin(), size.end());
    if (*widest <= 0) {
        return std::nullopt;
    }
    static constexpr Qt::Edge kEdges[] = {Qt::LeftEdge, Qt::RightEdge, Qt::TopEdge, Qt::BottomEdge};
    const auto index = static_cast<std::size_t>(widest - size.begin());
    const int reserved = static_cast<int>(*widest);
    DockPanel panel;
    panel.edge = kEdges[index];
    // The window itself where it lies on that edge; else the strut's band (a panel that hides
    // or is drawn by another window still reserves it).
    QRect band;
    switch (panel.edge) {
    case Qt::LeftEdge:
        band = QRect(screen.left(), screen.top(), reserved, screen.height());
        break;
    case Qt::RightEdge:
        band = QRect(screen.right() + 1 - reserved, screen.top(), reserved, screen.height());
        break;
    case Qt::TopEdge:
        band = QRect(screen.left(), screen.top(), screen.width(), reserved);
        break;
    case Qt::BottomEdge:
        band = QRect(screen.left(), screen.bottom() + 1 - reserved, screen.width(), reserved);
        break;
    }
    if (strut.partial) {
        const auto& p = *strut.partial;
        const long start = p[4 + 2 * index];
        const long end = p[5 + 2 * index];
        if (end >= start) {
            if (panel.isVertical()) {
                band.setTop(static_cast<int>(start));
                band.setBottom(static_cast<int>(end));
            } else {
                band.setLeft(static_cast<int>(start));
                band.setRight(static_cast<int>(end));
            }
        }
    }
    const QRect onEdge = strut.window.intersected(band);
    panel.geometry = onEdge.isEmpty() ? band : onEdge;
    return panel;
}

std::optional<DockPanel> panelFromWorkArea(const QRect& screen, const QRect& workArea) {
    if (workArea.isEmpty() || !screen.contains(workArea)) {
        return std::nullopt;
    }
    const int left = workArea.left() - screen.left();
    const int right = screen.right() - workArea.right();
    const int top = workArea.top() - screen.top();
    const int bottom = screen.bottom() - workArea.bottom();
    const int widest = std::max({left, right, top, bottom});
    if (widest <= 0) {
        return std::nullopt;
    }
    if (top == widest) {
        return DockPanel{QRect(screen.left(), screen.top(), screen.width(), top), Qt::TopEdge};
    }
    if (bottom == widest) {
        return DockPanel{QRect(screen.left(), workArea.bottom() + 1, screen.width(), bottom),
                         Qt::BottomEdge};
    }
    if (right == widest) {
        return DockPanel{QRect(workArea.right() + 1, screen.top(), right, screen.height()),
                         Qt::RightEdge};
    }
    return DockPanel{QRect(screen.left(), screen.top(), left, screen.height()), Qt::LeftEdge};
}

namespace {

int distance(const QRect& r, QPoint p) {
    const int dx = std::max({r.left() - p.x(), 0, p.x() - r.right()});
    const int dy = std::max({r.top() - p.y(), 0, p.y() - r.bottom()});
    return dx + dy;
}

} // namespace

std::optional<DockPanel> panelNear(const std::vector<DockPanel>& panels,
                                   std::optional<QPoint> point) {
    if (panels.empty()) {
        return std::nullopt;
    }
    if (point) {
        const auto nearest = std::min_element(
            panels.begin(), panels.end(), [&](const DockPanel& a, const DockPanel& b) {
                return distance(a.geometry, *point) < distance(b.geometry, *point);
            });
        return *nearest;
    }
    for (Qt::Edge edge : {Qt::TopEdge, Qt::BottomEdge, Qt::RightEdge, Qt::LeftEdge}) {
        for (const DockPanel& panel : panels) {
            if (panel.edge == edge) {
                return panel;
            }
        }
    }
    return panels.front();
}

namespace {

// A span of `length` centred on `centre`, kept within [low, high].
std::pair<int, int> spanWithin(int centre, int length, int low, int high) {
    int start = centre - length / 2;
    start = std::clamp(start, low, std::max(low, high - length + 1));
    return {start, length};
}

} // namespace

std::optional<TrayAnchor> trayAnchor(const std::vector<DockPanel>& panels, const QRect& icon,
                                     std::optional<QPoint> click) {
    // Close enough to count as on the panel: a tray host may keep a border around its icons.
    constexpr int kSlack = 4;
    if (!icon.isEmpty()) {
        std::optional<DockPanel> panel = panelNear(panels, icon.center());
        if (panel && distance(panel->geometry, icon.center()) > kSlack) {
            panel.reset();
        }
        QRect rect = icon;
        if (panel) {
            // Across the panel's whole thickness, so the arrow meets the panel's edge.
            const QRect g = panel->geometry;
            rect = panel->isVertical() ? QRect(g.left(), icon.top(), g.width(), icon.height())
                                       : QRect(icon.left(), g.top(), icon.width(), g.height());
        }
        return TrayAnchor{rect, panel};
    }
    if (click) {
        std::optional<DockPanel> panel = panelNear(panels, *click);
        if (!panel || distance(panel->geometry, *click) > kSlack) {
            return TrayAnchor{QRect(click->x() - 1, click->y() - 1, 2, 2), std::nullopt};
        }
        const QRect g = panel->geometry;
        const int t = panel->thickness();
        if (panel->isVertical()) {
            const auto [top, length] = spanWithin(click->y(), t, g.top(), g.bottom());
            return TrayAnchor{QRect(g.left(), top, g.width(), length), panel};
        }
        const auto [left, length] = spanWithin(click->x(), t, g.left(), g.right());
        return TrayAnchor{QRect(left, g.top(), length, g.height()), panel};
    }
    const std::optional<DockPanel> panel = panelNear(panels);
    if (!panel) {
        return std::nullopt;
    }
    const QRect g = panel->geometry;
    const int t = panel->thickness();
    const QRect end = panel->isVertical() ? QRect(g.left(), g.bottom() + 1 - t, g.width(), t)
                                          : QRect(g.right() + 1 - t, g.top(), t, g.height());
    return TrayAnchor{end, panel};
}

namespace {

std::vector<unsigned long> cardinals(Display* display, Window window, const char* name) {
    const Atom atom = XInternAtom(display, name, True);
    if (atom == None) {
        return {};
    }
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> values;
    if (XGetWindowProperty(display, window, atom, 0, 64, False, AnyPropertyType, &type, &format,
                           &count, &after, &data) == Success &&
        data != nullptr && format == 32) {
        // Xlib hands 32-bit items over as longs.
        const auto* items = reinterpret_cast<const unsigned long*>(data);
        values.assign(items, items + count);
    }
    if (data != nullptr) {
        XFree(data);
    }
    return values;
}

QRect rootGeometry(Display* display, Window window) {
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable) {
        return {};
    }
    int x = 0;
    int y = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
    return {x, y, attributes.width, attributes.height};
}

QRect scaled(const QRect& r, qreal dpr) {
    if (dpr == 1.0) {
        return r;
    }
    const QPoint topLeft(static_cast<int>(std::floor(r.left() / dpr)),
                         static_cast<int>(std::floor(r.top() / dpr)));
    const QPoint bottomRight(static_cast<int>(std::ceil((r.right() + 1) / dpr)) - 1,
                             static_cast<int>(std::ceil((r.bottom() + 1) / dpr)) - 1);
    return {topLeft, bottomRight};
}

} // namespace

std::optional<QColor> backgroundColor(const DockPanel& panel, const QRect& exclude) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr || panel.geometry.isEmpty()) {
        return std::nullopt;
    }
    const QRect g = panel.geometry;
    const QImage image = screen->grabWindow(0, g.x(), g.y(), g.width(), g.height())
                             .toImage()
                             .convertToFormat(QImage::Format_RGB32);
    if (image.isNull()) {
        return std::nullopt;
    }
    const qreal dpr = image.devicePixelRatio();
    const QRect skip((exclude.topLeft() - g.topLeft()) * dpr, exclude.size() * dpr);
    // The commonest colour, a few bits dropped so gradients and anti-aliasing still count as one.
    std::map<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (!skip.contains(x, y)) {
                ++counts[line[x] & 0xfff0f0f0u];
            }
        }
    }
    if (counts.empty()) {
        return std::nullopt;
    }
    const auto commonest =
        std::max_element(counts.begin(), counts.end(),
                         [](const auto& a, const auto& b) { return a.second < b.second; });
    return QColor::fromRgb(commonest->first);
}

bool isLight(const QColor& color) {
    // Above this relative luminance dark ink contrasts more than light ink does (WCAG).
    auto linear = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    const double luminance = 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) +
                             0.0722 * linear(color.blueF());
    return luminance > 0.179;
}

std::vector<DockPanel> current() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (x11 == nullptr || x11->display() == nullptr || primary == nullptr) {
        return {};
    }
    Display* display = x11->display();
    const Window root = DefaultRootWindow(display);
    const QRect screen(0, 0, DisplayWidth(display, DefaultScreen(display)),
                       DisplayHeight(display, DefaultScreen(display)));
    // Where a window manager lists its clients, those; else the root's children, which is what
    // panels are when nobody manages windows.
    std::vector<Window> windows;
    for (unsigned long w : cardinals(display, root, "_NET_CLIENT_LIST")) {
        windows.push_back(static_cast<Window>(w));
    }
    if (windows.empty()) {
        Window rootReturn = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(display, root, &rootReturn, &parent, &children, &count) && children) {
            windows.assign(children, children + count);
            XFree(children);
        }
    }
    std::vector<DockPanel> panels;
    for (Window window : windows) {
        WindowStrut strut;
        const auto partial = cardinals(display, window, "_NET_WM_STRUT_PARTIAL");
        const auto whole = cardinals(display, window, "_NET_WM_STRUT");
        if (partial.size() >= 12) {
            strut.partial.emplace();
            for (std::size_t i = 0; i < 12; ++i) {
                (*strut.partial)[i] = static_cast<long>(partial[i]);
            }
        } else if (whole.size() >= 4) {
            strut.strut.emplace();
            for (std::size_t i = 0; i < 4; ++i) {
                (*strut.strut)[i] = static_cast<long>(whole[i]);
            }
        } else {
            continue;
        }
        strut.window = rootGeometry(display, window);
        if (strut.window.isEmpty()) {
            continue; // a hidden panel holds no tray one could click
        }
        if (auto panel = panelFromStrut(screen, strut)) {
            panels.push_back(*panel);
        }
    }
    if (panels.empty()) {
        const auto area = cardinals(display, root, "_NET_WORKAREA");
        if (area.size() >= 4) {
            const QRect workArea(static_cast<int>(area[0]), static_cast<int>(area[1]),
                                 static_cast<int>(area[2]), static_cast<int>(area[3]));
            if (auto panel = panelFromWorkArea(screen, workArea)) {
                panels.push_back(*panel);
            }
        }
    }
    const qreal dpr = primary->devicePixelRatio();
    for (DockPanel& panel : panels) {
        panel.geometry = scaled(panel.geometry, dpr);
    }
    return panels;
}

} // namespace DockPanels
