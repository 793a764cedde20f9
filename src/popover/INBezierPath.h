#pragma once

#include "popover/INGeometry.h"

#include <vector>

// An outline made of straight lines and circular arcs, kept as data so it can be checked
// point by point and handed to any renderer.
class INBezierPath {
public:
    enum class LineJoin { Miter, Round, Bevel };

    struct Element {
        enum class Kind { MoveTo, LineTo, Arc, Close };
        Kind kind = Kind::MoveTo;
        INPoint point;       // MoveTo/LineTo target; for an arc, its end point
        INPoint center;      // arc only
        double radius = 0.0; // arc only
        double startAngle = 0.0;
        double endAngle = 0.0; // degrees, drawn counter-clockwise from start to end

        bool operator==(const Element&) const = default;
    };

    // A counter-clockwise arc; when the path has a current point a straight line to the
    // arc's start comes first, otherwise the path starts there.
    void appendArc(INPoint center, double radius, double startAngle, double endAngle);
    // Straight lines through the points, starting with a line from the current point.
    void appendPoints(const std::vector<INPoint>& points);
    void closePath();

    bool isEmpty() const { return elements_.empty(); }
    const std::vector<Element>& elements() const { return elements_; }
    // The corner points of the outline in drawing order: every move, line end, arc start and
    // arc end, with repeats of the same point dropped.
    std::vector<INPoint> vertices() const;

    LineJoin lineJoinStyle() const { return lineJoin_; }
    void setLineJoinStyle(LineJoin join) { lineJoin_ = join; }
    double lineWidth() const { return lineWidth_; }
    void setLineWidth(double width) { lineWidth_ = width; }

    static INPoint pointOnArc(INPoint center, double radius, double angleDegrees);

private:
    void lineOrMoveTo(INPoint p);

    std::vector<Element> elements_;
    bool hasCurrentPoint_ = false;
    INPoint current_;
    INPoint subpathStart_;
    LineJoin lineJoin_ = LineJoin::Miter;
    double lineWidth_ = 1.0;
};
