#pragma once
// Enumerations shared by the chart classes.

#include <QPointF>
#include <QRectF>

// Where on a rectangle something is attached.
enum class CPTRectAnchor {
    BottomLeft,
    Bottom,
    BottomRight,
    Left,
    Right,
    TopLeft,
    Top,
    TopRight,
    Center
};
static_assert(static_cast<int>(CPTRectAnchor::Top) == 6);

enum class CPTPieDirection { Clockwise, CounterClockwise };
static_assert(static_cast<int>(CPTPieDirection::Clockwise) == 0);

// Fields a pie chart asks its data source for.
enum CPTPieChartField : unsigned long { CPTPieChartFieldSliceWidth = 0 };

// The anchor's point on a rectangle in widget coordinates (y grows downwards).
QPointF CPTAnchorPoint(const QRectF& rect, CPTRectAnchor anchor);

// A rectangle of the given size placed so that its own anchor point lies on `point`.
QRectF CPTRectAnchoredAt(const QSizeF& size, CPTRectAnchor anchor, const QPointF& point);
