// Shape and placement arithmetic of the popover, without a window system.
#include "INBezierPath.h"
#include "INPopoverGeometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr INRect kBounds{0, 0, 300, 200};
constexpr INSize kArrow{23, 12};
constexpr double kRadius = 4.0;

// True when `needle` appears in `hay` as consecutive points.
bool containsRun(const std::vector<INPoint>& hay, const std::vector<INPoint>& needle) {
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

struct ArrowCase {
    INPopoverArrowDirection direction;
    std::vector<INPoint> arrow; // base, tip, base in drawing order
};

class OutlineArrow : public ::testing::TestWithParam<ArrowCase> {};

TEST_P(OutlineArrow, ArrowIsCentredOnItsEdgeAndTouchesTheBounds) {
    const ArrowCase& c = GetParam();
    const INBezierPath path = INPopoverOutlinePath(kBounds, kRadius, kArrow, c.direction);
    const std::vector<INPoint> v = path.vertices();
    EXPECT_TRUE(containsRun(v, c.arrow)) << "arrow points missing for direction " << c.direction;
    // Four corners of two points each, plus the three arrow points.
    EXPECT_EQ(v.size(), 11u);
    EXPECT_EQ(path.lineJoinStyle(), INBezierPath::LineJoin::Round);
}

INSTANTIATE_TEST_SUITE_P(
    AllDirections, OutlineArrow,
    ::testing::Values(ArrowCase{INPopoverArrowDirectionUp, {{161, 188}, {150, 200}, {138, 188}}},
                      ArrowCase{INPopoverArrowDirectionDown, {{138, 12}, {150, 0}, {161, 12}}},
                      ArrowCase{INPopoverArrowDirectionRight, {{288, 88}, {300, 100}, {288, 111}}},
                      ArrowCase{INPopoverArrowDirectionLeft, {{12, 111}, {0, 100}, {12, 88}}}));

TEST(Outline, BodyCornersAreArcsAroundTheInnerRectangleCounterClockwise) {
    const INBezierPath path = INPopoverOutlinePath(kBounds, kRadius, kArrow, 7);
    std::vector<INPoint> centres;
    std::vector<std::pair<double, double>> angles;
    for (const auto& e : path.elements()) {
        if (e.kind == INBezierPath::Element::Kind::Arc) {
            centres.push_back(e.center);
            angles.emplace_back(e.startAngle, e.endAngle);
            EXPECT_EQ(e.radius, kRadius);
        }
    }
    const std::vector<INPoint> expectedCentres{{16, 16}, {284, 16}, {284, 184}, {16, 184}};
    const std::vector<std::pair<double, double>> expectedAngles{
        {180, 270}, {270, 360}, {0, 90}, {90, 180}};
    EXPECT_EQ(centres, expectedCentres);
    EXPECT_EQ(angles, expectedAngles);
    ASSERT_FALSE(path.elements().empty());
    EXPECT_EQ(path.elements().front().kind, INBezierPath::Element::Kind::MoveTo);
    EXPECT_EQ(path.elements().front().point, (INPoint{12, 16}));
    EXPECT_EQ(path.elements().back().kind, INBezierPath::Element::Kind::Close);
}

TEST(Outline, DirectionOutsideTheFourDrawsNoArrow) {
    for (INPopoverArrowDirection d : {4u, 7u, 1000u}) {
        const std::vector<INPoint> v = INPopoverOutlinePath(kBounds, kRadius, kArrow, d).vertices();
        EXPECT_EQ(v.size(), 8u) << d;
        for (const INPoint& p : v) {
            // Every point stays on the body, which is the bounds inset by the arrow height.
            EXPECT_TRUE(p.x >= 12 && p.x <= 288 && p.y >= 12 && p.y <= 188) << p;
        }
    }
}

TEST(Outline, OnlyTheCoordinateAlongTheEdgeIsRoundedDown) {
    // A half-point rectangle: the arrow's x values are floored, its y values are not.
    const INBezierPath path = INPopoverOutlinePath(INRect(0.5, 0.5, 299, 199), kRadius, kArrow,
                                                   INPopoverArrowDirectionUp);
    EXPECT_TRUE(containsRun(path.vertices(), {{161, 187.5}, {150, 199.5}, {138, 187.5}}));
    const INBezierPath side = INPopoverOutlinePath(INRect(0.5, 0.5, 299, 199), kRadius, kArrow,
                                                   INPopoverArrowDirectionRight);
    EXPECT_TRUE(containsRun(side.vertices(), {{287.5, 88}, {299.5, 100}, {287.5, 111}}));
}

struct BorderCase {
    double width;
    bool inset;
};

TEST(Outline, OddTruncatedBorderWidthsMoveTheOutlineHalfAPointIn) {
    const std::vector<BorderCase> cases{{0.0, false},
                                        {1.0, true},
                                        {1.9, true},
                                        {2.0, false},
                                        {2.5, false},
                                        {3.0, true},
                                        {0.9, false},
                                        {-1.0, false},
                                        {-3.0, false},
                                        {std::numeric_limits<double>::quiet_NaN(), false},
                                        {std::numeric_limits<double>::infinity(), false}};
    for (const BorderCase& c : cases) {
        const INRect expected = c.inset ? INRect(0.5, 0.5, 299, 199) : kBounds;
        EXPECT_EQ(INPopoverOutlineRect(kBounds, c.width), expected) << "width " << c.width;
    }
}

struct HighlightCase {
    double borderWidth;
    INPopoverArrowDirection direction;
    std::vector<INRect> rects;
};

TEST(TopHighlight, LeavesAGapForAnArrowOnTheTopEdgeOnly) {
    const std::vector<HighlightCase> cases{
        {1.0, INPopoverArrowDirectionUp, {{14, 186, 124, 1}, {161, 186, 124, 1}}},
        {1.0, INPopoverArrowDirectionDown, {{14, 186, 272, 1}}},
        {1.0, INPopoverArrowDirectionLeft, {{14, 186, 272, 1}}},
        {1.0, INPopoverArrowDirectionRight, {{14, 186, 272, 1}}},
        {1.0, 7, {{14, 186, 272, 1}}},
        // Without a border the line sits one point under the body's top edge.
        {0.0, INPopoverArrowDirectionDown, {{14, 187, 272, 1}}},
        {0.0, INPopoverArrowDirectionUp, {{14, 187, 124, 1}, {161, 187, 124, 1}}},
    };
    for (const HighlightCase& c : cases) {
        EXPECT_EQ(INPopoverTopHighlightRects(kBounds, c.borderWidth, kRadius, kArrow, c.direction),
                  c.rects)
            << "border " << c.borderWidth << " direction " << c.direction;
    }
}

TEST(TopHighlight, GapMatchesTheArrowBase) {
    const auto rects =
        INPopoverTopHighlightRects(kBounds, 1.0, kRadius, kArrow, INPopoverArrowDirectionUp);
    ASSERT_EQ(rects.size(), 2u);
    const auto arrow =
        INPopoverOutlinePath(kBounds, kRadius, kArrow, INPopoverArrowDirectionUp).vertices();
    // The left piece ends at the arrow's left base corner, the right one starts at its right.
    EXPECT_TRUE(containsRun(arrow, {{rects[1].minX(), 188}, {150, 200}, {rects[0].maxX(), 188}}));
}

TEST(WindowGeometry, ContentAndFrameRectangles) {
    EXPECT_EQ(INPopoverFrameRectForContentRect(INRect(0, 0, 200, 150), 12),
              INRect(-12, -12, 224, 174));
    EXPECT_EQ(INPopoverFrameRectForContentRect(INRect(40, 30, 200, 150), 12),
              INRect(28, 18, 224, 174));
    // The frame's origin never moves the content.
    EXPECT_EQ(INPopoverContentRectForFrameRect(INRect(500, 300, 224, 174), 12),
              INRect(12, 12, 200, 150));
    EXPECT_EQ(INPopoverContentRectForFrameRect(INRect(-7, 9, 224, 174), 12),
              INRect(12, 12, 200, 150));
}

struct PlacementCase {
    INSize content;
    INPopoverArrowDirection direction;
    INRect frame;
};

TEST(Placement, FrameMeetsTheAnchorOnTheFacingEdge) {
    const INRect anchor(1000, 878, 30, 22);
    const std::vector<PlacementCase> cases{
        {{300, 200}, INPopoverArrowDirectionUp, {853, 654, 324, 224}},
        {{300, 200}, INPopoverArrowDirectionDown, {853, 900, 324, 224}},
        {{300, 200}, INPopoverArrowDirectionRight, {676, 777, 324, 224}},
        {{300, 200}, INPopoverArrowDirectionLeft, {1030, 777, 324, 224}},
        // Odd sizes round the centring offset down.
        {{301, 201}, INPopoverArrowDirectionUp, {853, 653, 325, 225}},
        {{301, 201}, INPopoverArrowDirectionDown, {853, 900, 325, 225}},
        {{301, 201}, INPopoverArrowDirectionRight, {675, 777, 325, 225}},
        {{301, 201}, INPopoverArrowDirectionLeft, {1030, 777, 325, 225}},
        {{300, 200}, 4, {}},
        {{300, 200}, 7, {}},
    };
    for (const PlacementCase& c : cases) {
        EXPECT_EQ(INPopoverFrameForContentSize(c.content, c.direction, anchor, 12), c.frame)
            << c.content << " direction " << c.direction;
    }
}

struct ChoiceCase {
    const char* name;
    INRect screen;
    INRect anchor;
    INSize content;
    INPopoverArrowDirection preferred;
    INPopoverArrowDirection chosen;
};

TEST(DirectionChoice, PicksTheFirstCandidateThatFits) {
    const INRect screen(0, 0, 1440, 900);
    const INRect statusItem(1000, 878, 30, 22);
    const std::vector<ChoiceCase> cases{
        {"preferred fits", screen, statusItem, {300, 200}, 3, 3},
        {"opposite of down", screen, statusItem, {300, 200}, 1, 3},
        {"too tall either way keeps up", screen, statusItem, {300, 900}, 3, 3},
        {"too tall either way keeps down", screen, statusItem, {300, 900}, 1, 1},
        {"left edge flips right to left", screen, {10, 400, 30, 22}, {300, 200}, 0, 2},
        {"right edge flips left to right", screen, {1400, 400, 30, 22}, {300, 200}, 2, 0},
        {"more room below goes below", screen, {700, 800, 30, 22}, {800, 200}, 0, 3},
        {"more room above goes above", screen, {700, 60, 30, 22}, {800, 200}, 2, 1},
        {"a tie goes above", screen, {700, 439, 30, 22}, {800, 200}, 0, 1},
        {"nothing fits keeps preferred", screen, {700, 439, 30, 22}, {1500, 200}, 2, 2},
        {"no screen keeps preferred", {}, statusItem, {300, 200}, 3, 3},
        {"no screen keeps preferred down", {}, statusItem, {300, 200}, 1, 1},
        {"unknown preferred tries right", screen, {700, 400, 30, 22}, {300, 200}, 9, 0},
        {"unknown preferred kept", screen, {100, 400, 30, 22}, {300, 200}, 9, 9},
        // A screen above the primary one: the room is measured from that screen's edges.
        {"screen above the primary", {0, 900, 1440, 900}, {700, 1000, 30, 22}, {800, 200}, 0, 1},
        {"screen beside, room below", {1440, 0, 1440, 900}, {2100, 800, 30, 22}, {1200, 200}, 0, 3},
    };
    for (const ChoiceCase& c : cases) {
        EXPECT_EQ(INPopoverChooseArrowDirection(c.preferred, c.screen, c.anchor, c.content, 12),
                  c.chosen)
            << c.name;
    }
}

struct ContainsCase {
    INRect outer;
    INRect inner;
    bool contained;
};

TEST(ContainsRect, TouchingEdgesAreInsideAndEmptyRectanglesNever) {
    const INRect outer(0, 0, 100, 50);
    const std::vector<ContainsCase> cases{
        {outer, {0, 0, 100, 50}, true},  {outer, {10, 10, 20, 20}, true},
        {outer, {-1, 0, 10, 10}, false}, {outer, {95, 0, 10, 10}, false},
        {outer, {0, 45, 10, 10}, false}, {outer, {10, 10, 0, 10}, false},
        {outer, {10, 10, 10, 0}, false}, {outer, {10, 10, -5, 10}, false},
        {{}, {0, 0, 0, 0}, false},       {{}, {0, 0, 1, 1}, false},
    };
    for (const ContainsCase& c : cases) {
        EXPECT_EQ(INContainsRect(c.outer, c.inner), c.contained) << c.inner;
    }
}

TEST(BezierPath, ArcsJoinWithStraightLinesAndCloseToTheStart) {
    INBezierPath path;
    path.appendArc({10, 10}, 5, 180, 270);
    path.appendArc({30, 10}, 5, 270, 360);
    path.appendPoints({{40, 20}});
    path.closePath();
    using K = INBezierPath::Element::Kind;
    std::vector<K> kinds;
    for (const auto& e : path.elements()) {
        kinds.push_back(e.kind);
    }
    EXPECT_EQ(kinds, (std::vector<K>{K::MoveTo, K::Arc, K::LineTo, K::Arc, K::LineTo, K::Close}));
    EXPECT_EQ(path.elements()[0].point, (INPoint{5, 10}));
    EXPECT_EQ(path.elements()[1].point, (INPoint{10, 5}));
    EXPECT_EQ(path.elements()[2].point, (INPoint{30, 5}));
    EXPECT_EQ(path.elements()[3].point, (INPoint{35, 10}));
    EXPECT_EQ(path.elements()[5].point, (INPoint{5, 10}));
}

TEST(BezierPath, PointsOnArcsBetweenQuarterAngles) {
    const INPoint p = INBezierPath::pointOnArc({0, 0}, 2, 45);
    EXPECT_NEAR(p.x, std::sqrt(2.0), 1e-12);
    EXPECT_NEAR(p.y, std::sqrt(2.0), 1e-12);
    EXPECT_EQ(INBezierPath::pointOnArc({1, 1}, 3, 360), (INPoint{4, 1}));
    EXPECT_EQ(INBezierPath::pointOnArc({1, 1}, 3, -90), (INPoint{1, -2}));
}

} // namespace

namespace {

// A tray icon near a screen edge: the popover slides back onto the screen and its arrow moves
// the other way, so the tip still lands on the anchor's middle.
struct KeepCase {
    const char* name;
    INRect frame;
    INPopoverArrowDirection direction;
    INRect expectedFrame;
    double expectedOffset;
};

class KeepOnScreen : public ::testing::TestWithParam<KeepCase> {};

TEST_P(KeepOnScreen, SlidesAlongTheArrowEdge) {
    const KeepCase& c = GetParam();
    const INRect screen{0, 0, 1440, 900};
    const INPopoverPlacement placed =
        INPopoverKeepOnScreen(c.frame, c.direction, screen, kRadius, kArrow);
    EXPECT_EQ(placed.frame, c.expectedFrame);
    EXPECT_EQ(placed.arrowOffset, c.expectedOffset);
    // Where the arrow's tip ends up, against where the unmoved frame had it.
    const bool horizontal =
        c.direction == INPopoverArrowDirectionUp || c.direction == INPopoverArrowDirectionDown;
    const double tipBefore = horizontal ? c.frame.midX() : c.frame.midY();
    const double tipAfter =
        (horizontal ? placed.frame.midX() : placed.frame.midY()) + placed.arrowOffset;
    EXPECT_EQ(tipAfter, tipBefore);
}

// Frames are 324 x 364 (content 300 x 340 and 12-point arrows); the arrow may move at most
// 162 - 12 - 4 - 11.5 = 134.5 points from the middle.
INSTANTIATE_TEST_SUITE_P(
    Edges, KeepOnScreen,
    ::testing::Values(
        KeepCase{"fits", {500, 500, 324, 364}, INPopoverArrowDirectionUp, {500, 500, 324, 364}, 0},
        // The see-through band around the body (12 points) may leave the screen.
        KeepCase{"right_edge",
                 {1200, 500, 324, 364},
                 INPopoverArrowDirectionUp,
                 {1128, 500, 324, 364},
                 72},
        KeepCase{"left_edge",
                 {-40, 500, 324, 364},
                 INPopoverArrowDirectionDown,
                 {-12, 500, 324, 364},
                 -28},
        KeepCase{"beyond_the_arrow_room",
                 {1300, 500, 324, 364},
                 INPopoverArrowDirectionUp,
                 {1165.5, 500, 324, 364},
                 134.5},
        KeepCase{"bottom_edge_side_arrow",
                 {600, -100, 324, 364},
                 INPopoverArrowDirectionLeft,
                 {600, -12, 324, 364},
                 -88},
        KeepCase{"no_direction", {1300, 500, 324, 364}, 7, {1300, 500, 324, 364}, 0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(KeepOnScreen, MovedArrowIsDrawnWhereThePlacementPutsIt) {
    const std::vector<INPoint> v =
        INPopoverOutlinePath(kBounds, kRadius, kArrow, INPopoverArrowDirectionUp, 40.0).vertices();
    EXPECT_TRUE(containsRun(v, {{201, 188}, {190, 200}, {178, 188}}));
    // The top highlight leaves its gap under the moved arrow, not the middle.
    const auto rects =
        INPopoverTopHighlightRects(kBounds, 1.0, kRadius, kArrow, INPopoverArrowDirectionUp, 40.0);
    ASSERT_EQ(rects.size(), 2u);
    EXPECT_LT(rects[0].maxX(), 190.0 - kArrow.width * 0.5 + 1);
    EXPECT_GT(rects[1].minX(), 190.0 + kArrow.width * 0.5 - 1);
    EXPECT_LE(rects[1].maxX(), kBounds.maxX());
}

} // namespace
