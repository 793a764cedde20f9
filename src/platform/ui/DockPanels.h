#pragma once
// The desktop's panels (docks along a screen edge) and where a tray icon on them is. Read from
// the window system: the struts panels reserve (_NET_WM_STRUT_PARTIAL, _NET_WM_STRUT) and, where
// a window manager keeps it, the work area (_NET_WORKAREA). All rectangles are in Qt's global
// coordinates (top-left origin, device-independent pixels).

#include <QColor>
#include <QPoint>
#include <QRect>

#include <array>
#include <optional>
#include <vector>

struct DockPanel {
    QRect geometry;
    Qt::Edge edge = Qt::TopEdge;

    bool isVertical() const { return edge == Qt::LeftEdge || edge == Qt::RightEdge; }
    // How thick the panel is across its edge.
    int thickness() const { return isVertical() ? geometry.width() : geometry.height(); }
    bool operator==(const DockPanel&) const = default;
};

// What one top-level window reserves, as the window system reports it (device pixels).
struct WindowStrut {
    QRect window;
    // left, right, top, bottom, then the start and end of each: left y, right y, top x, bottom x.
    std::optional<std::array<long, 12>> partial;
    // left, right, top, bottom over the whole edge.
    std::optional<std::array<long, 4>> strut;
};

// Where a popover for a tray icon should point, and the arrow direction to ask for first.
struct TrayAnchor {
    QRect rect;
    // The panel the icon is on, when one is known.
    std::optional<DockPanel> panel;
};

namespace DockPanels {

// The panel a window's strut makes of it on a screen of that size: the edge it reserves most
// of, over the window's own extent. None when it reserves nothing.
std::optional<DockPanel> panelFromStrut(const QRect& screen, const WindowStrut& strut);
// A panel guessed from the work area a window manager leaves: the widest band of the screen
// outside it. None when the work area is the whole screen.
std::optional<DockPanel> panelFromWorkArea(const QRect& screen, const QRect& workArea);

// The panel holding `point` (within a few pixels), else the one nearest to it; without a point,
// the first on the top, bottom, right, left edge in that order.
std::optional<DockPanel> panelNear(const std::vector<DockPanel>& panels,
                                   std::optional<QPoint> point = std::nullopt);

// Where the icon is: its own geometry where the tray host tells it (the icon's square across the
// panel's full thickness when it lies on one); else across the panel at the click; else, at
// launch without either, a square of the panel's thickness at the end where trays live (right
// end of a horizontal panel, bottom of a vertical one). None without any of these.
std::optional<TrayAnchor> trayAnchor(const std::vector<DockPanel>& panels, const QRect& icon,
                                     std::optional<QPoint> click);

// The colour most of the panel shows outside `exclude` (the icon), read from the screen; none
// when the screen cannot be read.
std::optional<QColor> backgroundColor(const DockPanel& panel, const QRect& exclude);
// True for colours light enough that dark ink stands out more on them than light ink.
bool isLight(const QColor& color);

// The panels of the running X11 desktop, in Qt's global coordinates; none elsewhere.
std::vector<DockPanel> current();

} // namespace DockPanels
