// Panels from struts and work areas, and where the popover points on them, without a display.
#include "platform/ui/DockPanels.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

const QRect kScreen(0, 0, 1280, 800);

std::array<long, 12> partial(long l, long r, long t, long b, long ly0 = 0, long ly1 = 0,
                             long ry0 = 0, long ry1 = 0, long tx0 = 0, long tx1 = 0, long bx0 = 0,
                             long bx1 = 0) {
    return {l, r, t, b, ly0, ly1, ry0, ry1, tx0, tx1, bx0, bx1};
}

TEST(PanelFromStrut, EdgeIsTheOneReservedAndGeometryTheWindowOnIt) {
    // Name, window, strut, expected panel.
    const std::tuple<const char*, WindowStrut, std::optional<DockPanel>> cases[] = {
        {"full top panel",
         {{0, 0, 1280, 28}, partial(0, 0, 28, 0, 0, 0, 0, 0, 0, 1279), {}},
         DockPanel{{0, 0, 1280, 28}, Qt::TopEdge}},
        {"bottom panel",
         {{0, 772, 1280, 28}, partial(0, 0, 0, 28, 0, 0, 0, 0, 0, 0, 0, 1279), {}},
         DockPanel{{0, 772, 1280, 28}, Qt::BottomEdge}},
        {"left panel",
         {{0, 0, 28, 800}, partial(28, 0, 0, 0, 0, 799), {}},
         DockPanel{{0, 0, 28, 800}, Qt::LeftEdge}},
        {"right panel",
         {{1252, 0, 28, 800}, partial(0, 28, 0, 0, 0, 0, 0, 799), {}},
         DockPanel{{1252, 0, 28, 800}, Qt::RightEdge}},
        // The older whole-edge strut.
        {"whole-edge strut",
         {{0, 770, 1280, 30}, std::nullopt, std::array<long, 4>{0, 0, 0, 30}},
         DockPanel{{0, 770, 1280, 30}, Qt::BottomEdge}},
        // A window that reserves an edge it does not stand on (an autohiding panel): the band.
        {"window elsewhere",
         {{0, 400, 10, 10}, partial(0, 0, 0, 30, 0, 0, 0, 0, 0, 0, 100, 299), {}},
         DockPanel{{100, 770, 200, 30}, Qt::BottomEdge}},
        {"reserves nothing", {{0, 0, 10, 10}, partial(0, 0, 0, 0), {}}, std::nullopt},
        {"no strut", {{0, 0, 10, 10}, {}, {}}, std::nullopt},
    };
    for (const auto& [name, strut, expected] : cases) {
        EXPECT_EQ(DockPanels::panelFromStrut(kScreen, strut), expected) << name;
    }
}

TEST(PanelFromWorkArea, TheWidestBandOutsideIt) {
    const std::tuple<const char*, QRect, std::optional<DockPanel>> cases[] = {
        {"top", {0, 28, 1280, 772}, DockPanel{{0, 0, 1280, 28}, Qt::TopEdge}},
        {"bottom", {0, 0, 1280, 772}, DockPanel{{0, 772, 1280, 28}, Qt::BottomEdge}},
        {"left", {30, 0, 1250, 800}, DockPanel{{0, 0, 30, 800}, Qt::LeftEdge}},
        {"right", {0, 0, 1250, 800}, DockPanel{{1250, 0, 30, 800}, Qt::RightEdge}},
        {"two: the thicker", {0, 24, 1280, 736}, DockPanel{{0, 760, 1280, 40}, Qt::BottomEdge}},
        {"whole screen", kScreen, std::nullopt},
        {"nonsense", {-5, 0, 3000, 800}, std::nullopt},
    };
    for (const auto& [name, area, expected] : cases) {
        EXPECT_EQ(DockPanels::panelFromWorkArea(kScreen, area), expected) << name;
    }
}

TEST(TrayAnchor, IconThenClickThenThePanelsTrayEnd) {
    const DockPanel top{{0, 0, 1280, 28}, Qt::TopEdge};
    const DockPanel bottom{{0, 772, 1280, 28}, Qt::BottomEdge};
    const DockPanel left{{0, 0, 28, 800}, Qt::LeftEdge};
    const DockPanel right{{1252, 0, 28, 800}, Qt::RightEdge};
    using Panels = std::vector<DockPanel>;
    // Name, panels, icon, click, anchor, whether a panel is named.
    const std::tuple<const char*, Panels, QRect, std::optional<QPoint>, QRect, bool> cases[] = {
        // The icon's own stretch, across the panel's whole thickness: the arrow meets the edge.
        {"icon in a top panel", {top}, {600, 3, 22, 22}, {}, {600, 0, 22, 28}, true},
        {"icon in a left panel", {left}, {2, 500, 24, 24}, {}, {0, 500, 28, 24}, true},
        {"icon off the panels", {top}, {600, 300, 22, 22}, {}, {600, 300, 22, 22}, false},
        // A click: a square of the panel's thickness centred on it, kept on the panel.
        {"click on a top panel", {top}, {}, QPoint(700, 14), {686, 0, 28, 28}, true},
        {"click in a bottom corner", {bottom}, {}, QPoint(1279, 790), {1252, 772, 28, 28}, true},
        {"click on a right panel", {right}, {}, QPoint(1266, 5), {1252, 0, 28, 28}, true},
        {"click off every panel", {top}, {}, QPoint(700, 400), {699, 399, 2, 2}, false},
        // Launch, no icon, no click: the tray end of the panel.
        {"launch, top", {top}, {}, {}, {1252, 0, 28, 28}, true},
        {"launch, left", {left}, {}, {}, {0, 772, 28, 28}, true},
        {"launch, top wins over left", {left, top}, {}, {}, {1252, 0, 28, 28}, true},
    };
    for (const auto& [name, panels, icon, click, rect, onPanel] : cases) {
        const auto anchor = DockPanels::trayAnchor(panels, icon, click);
        ASSERT_TRUE(anchor.has_value()) << name;
        EXPECT_EQ(anchor->rect, rect) << name;
        EXPECT_EQ(anchor->panel.has_value(), onPanel) << name;
    }
    EXPECT_FALSE(DockPanels::trayAnchor({}, {}, std::nullopt).has_value());
}

TEST(PanelShade, DarkInkWhereItStandsOutMore) {
    const std::pair<QColor, bool> cases[] = {
        {QColor(0x25282d), false}, {QColor(Qt::black), false}, {QColor(0x3d6fb6), false},
        {QColor(0x707070), false}, {QColor(0xeeeff1), true},   {QColor(Qt::white), true},
        {QColor(0xf0b429), true},  {QColor(0x808080), true},
    };
    for (const auto& [color, light] : cases) {
        EXPECT_EQ(DockPanels::isLight(color), light) << color.name().toStdString();
    }
}

} // namespace
