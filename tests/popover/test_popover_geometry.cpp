// Shape and placement arithmetic of the popover, without a window system.
#include "popover/INBezierPath.h"
#include "popover/INPopoverGeometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

namespace {

constexpr INRect kBounds{0, 0, 300, 200};
constexpr INSize kArrow{23, 12};
constexpr double kRadius = 4.0;

TEST(Outline, ArrowIsCentredOnItsEdgeAndOddBordersMoveItHalfAPointIn) {
    // Odd truncated border widths draw on the half-point rectangle.
    const INRect half(0.5, 0.5, 299, 199);
    const std::pair<double, bool> cases[] = {{0.0, false}, {1.0, true},   {1.9, true}, {2.0, false},
                                             {3.0, true},  {-3.0, false}, {NAN, false}};
    for (const auto& [width, inset] : cases) {
        EXPECT_EQ(INPopoverOutlineRect(kBounds, width), inset ? half : kBounds) << width;
    }
    // Without an arrow the body runs counter-clockwise from the bottom-left corner.
    const std::vector<INPoint> body{{12, 16},   {16, 12},   {284, 12}, {288, 16},
                                    {288, 184}, {284, 188}, {16, 188}, {12, 184}};
    // Bounds, direction, arrow offset, then the arrow's base, tip and base in drawing order.
    const std::tuple<INRect, INPopoverArrowDirection, double, std::vector<INPoint>> paths[] = {
        {kBounds, INPopoverArrowDirectionUp, 0, {{161, 188}, {150, 200}, {138, 188}}},
        {kBounds, INPopoverArrowDirectionDown, 0, {{138, 12}, {150, 0}, {161, 12}}},
        {kBounds, INPopoverArrowDirectionRight, 0, {{288, 88}, {300, 100}, {288, 111}}},
        {kBounds, INPopoverArrowDirectionLeft, 0, {{12, 111}, {0, 100}, {12, 88}}},
        // A moved arrow is drawn where the placement put it.
        {kBounds, INPopoverArrowDirectionUp, 40, {{201, 188}, {190, 200}, {178, 188}}},
        {kBounds, 4, 0, body},
        // On the half-point rectangle only the coordinate along the arrow's edge is rounded down.
        {half, INPopoverArrowDirectionUp, 0, {{161, 187.5}, {150, 199.5}, {138, 187.5}}},
        {half, INPopoverArrowDirectionRight, 0, {{287.5, 88}, {299.5, 100}, {287.5, 111}}}};
    for (const auto& [bounds, direction, offset, run] : paths) {
        const std::vector<INPoint> v =
            INPopoverOutlinePath(bounds, kRadius, kArrow, direction, offset).vertices();
        // The run appears in the outline as consecutive points.
        EXPECT_NE(std::search(v.begin(), v.end(), run.begin(), run.end()), v.end())
            << bounds << " direction " << direction;
        EXPECT_EQ(v.size(), direction < 4 ? 11u : 8u) << direction; // four corners, the arrow
    }
}

TEST(TopHighlight, LeavesAGapForAnArrowOnTheTopEdgeOnly) {
    // Border width, arrow direction and offset, and the highlight's rectangles.
    const std::tuple<double, INPopoverArrowDirection, double, std::vector<INRect>> cases[] = {
        {1.0, INPopoverArrowDirectionUp, 0, {{14, 186, 124, 1}, {161, 186, 124, 1}}},
        // Without a border the line sits one point under the body's top edge.
        {0.0, INPopoverArrowDirectionUp, 0, {{14, 187, 124, 1}, {161, 187, 124, 1}}},
        // The gap follows a moved arrow.
        {1.0, INPopoverArrowDirectionUp, 40, {{14, 186, 164, 1}, {201, 186, 84, 1}}},
    };
    for (const auto& [border, direction, offset, rects] : cases) {
        EXPECT_EQ(INPopoverTopHighlightRects(kBounds, border, kRadius, kArrow, direction, offset),
                  rects)
            << "border " << border << " direction " << direction << " offset " << offset;
    }
}

// Side arrows here; the controller's tests place up and down arrows.
TEST(Placement, FrameMeetsTheAnchorOnTheFacingEdge) {
    const INRect anchor(1000, 878, 30, 22);
    const std::tuple<INSize, INPopoverArrowDirection, INRect> cases[] = {
        {{300, 200}, INPopoverArrowDirectionRight, {676, 777, 324, 224}},
        {{300, 200}, INPopoverArrowDirectionLeft, {1030, 777, 324, 224}},
        // Odd sizes round the centring offset down.
        {{301, 201}, INPopoverArrowDirectionRight, {675, 777, 325, 225}},
    };
    for (const auto& [content, direction, frame] : cases) {
        EXPECT_EQ(INPopoverFrameForContentSize(content, direction, anchor, 12), frame)
            << content << " direction " << direction;
    }
}

// The first candidate direction whose frame, as finally placed, fits wins; where none fits,
// the preferred one stays. A placed frame is on the screen, its arrow tip on the middle of the
// anchor's facing edge. Screen model, y up.
TEST(DirectionChoice, PicksTheFirstThatFitsWhenPlaced) {
    const INRect wide(0, 0, 1440, 900);
    const INRect item(1000, 878, 30, 22);
    const INRect laptop(0, 0, 1280, 800);
    const INSize panel{300, 340}; // the panel's 324 x 364 popover
    // Name, screen, anchor, content size, preferred and chosen direction, and whether it fits.
    const std::tuple<const char*, INRect, INRect, INSize, unsigned, unsigned, bool> cases[] = {
        {"preferred fits", wide, item, {300, 200}, 3, 3, true},
        {"touching the screen's edge", wide, {1000, 224, 30, 22}, {300, 200}, 3, 3, true},
        {"too tall either way keeps down", wide, item, {300, 900}, 1, 1, false},
        {"left edge flips right to left", wide, {10, 400, 30, 22}, {300, 200}, 0, 2, true},
        {"more room below goes below", wide, {700, 800, 30, 22}, {800, 200}, 0, 3, true},
        {"a tie goes above", wide, {700, 439, 30, 22}, {800, 200}, 0, 1, true},
        {"nothing fits keeps preferred", wide, {700, 439, 30, 22}, {1500, 200}, 2, 2, false},
        {"no screen keeps preferred", {}, item, {300, 200}, 1, 1, false},
        {"no such direction", wide, item, {300, 200}, 9, 9, false},
        // A screen above the primary one: the room is measured from that screen's edges.
        {"screen above", {0, 900, 1440, 900}, {700, 1000, 30, 22}, {800, 200}, 0, 1, true},
        // Tray icons on panels along every edge and in the corners.
        {"top middle", laptop, {625, 772, 28, 28}, panel, 3, 3, true},
        {"top right corner", laptop, {1252, 772, 28, 28}, panel, 3, 3, true},
        // The faults: centred on the icon, "above" crosses the side edge and "below" was kept.
        {"bottom right corner", laptop, {1252, 0, 28, 28}, panel, 3, 1, true},
        {"bottom left corner", laptop, {0, 0, 28, 28}, panel, 3, 1, true},
        // Side panels: the choice reaches across, to the side with room.
        {"left middle, preferring up", laptop, {0, 386, 28, 28}, panel, 3, 2, true},
        {"right middle, preferring up", laptop, {1252, 386, 28, 28}, panel, 3, 0, true},
        {"left middle", laptop, {0, 386, 28, 28}, panel, 2, 2, true},
        {"left top corner", laptop, {0, 772, 28, 28}, panel, 2, 2, true},
        {"right top corner", laptop, {1252, 772, 28, 28}, panel, 0, 0, true},
        // Points at scale 2: a 640 x 400 screen that only just holds the popover.
        {"scale 2 top right", {0, 0, 640, 400}, {612, 372, 28, 28}, panel, 3, 3, true},
    };
    for (const auto& [name, s, anchor, content, preferred, chosen, fits] : cases) {
        const INPopoverArrowDirection d =
            INPopoverChooseArrowDirectionToPlace(preferred, s, anchor, content, kRadius, kArrow);
        EXPECT_EQ(d, chosen) << name;
        EXPECT_EQ(INPopoverFitsWhenPlaced(d, s, anchor, content, kRadius, kArrow), fits) << name;
        if (fits) {
            const INPopoverPlacement placed = INPopoverKeepOnScreen(
                INPopoverFrameForContentSize(content, d, anchor, 12), d, s, kRadius, kArrow);
            const bool vertical = d == 1 || d == 3;
            const double tip =
                (vertical ? placed.frame.midX() : placed.frame.midY()) + placed.arrowOffset;
            EXPECT_NEAR(tip, vertical ? anchor.midX() : anchor.midY(), 0.5) << name;
        }
    }
}

// A tray icon near a screen edge: the popover slides back onto the screen and its arrow moves
// the other way, so the tip still lands on the anchor's middle.
TEST(KeepOnScreen, SlidesAlongTheArrowEdge) {
    // Frames are 324 x 364 (content 300 x 340 and 12-point arrows); the arrow may move at
    // most 162 - 12 - 11.5 = 138.5 points from the middle, its base reaching the body's side.
    // Name, frame, arrow direction, expected frame and arrow offset.
    const std::tuple<const char*, INRect, unsigned, INRect, double> cases[] = {
        {"fits", {500, 500, 324, 364}, 3, {500, 500, 324, 364}, 0},
        // The see-through band around the body (12 points) may leave the screen.
        {"right edge", {1200, 500, 324, 364}, 3, {1128, 500, 324, 364}, 72},
        {"beyond the arrow room", {1300, 500, 324, 364}, 3, {1161.5, 500, 324, 364}, 138.5},
        {"no direction", {1300, 500, 324, 364}, 7, {1300, 500, 324, 364}, 0},
    };
    for (const auto& [name, frame, direction, expectedFrame, expectedOffset] : cases) {
        const INPopoverPlacement placed =
            INPopoverKeepOnScreen(frame, direction, {0, 0, 1440, 900}, kRadius, kArrow);
        EXPECT_EQ(placed.frame, expectedFrame) << name;
        EXPECT_EQ(placed.arrowOffset, expectedOffset) << name;
    }
}

} // namespace
