#include "popover/INBezierPath.h"

#include <cmath>
#include <numbers>

INPoint INBezierPath::pointOnArc(INPoint center, double radius, double angleDegrees) {
    // Exact values at the quarter angles keep corner points free of rounding noise.
    double a = std::fmod(angleDegrees, 360.0);
    if (a < 0) {
        a += 360.0;
    }
    double c = 0.0;
    double s = 0.0;
    if (a == 0.0) {
        c = 1.0;
    } else if (a == 90.0) {
        s = 1.0;
    } else if (a == 180.0) {
        c = -1.0;
    } else if (a == 270.0) {
        s = -1.0;
    } else {
        const double rad = a * std::numbers::pi / 180.0;
        c = std::cos(rad);
        s = std::sin(rad);
    }
    return {center.x + radius * c, center.y + radius * s};
}

void INBezierPath::lineOrMoveTo(INPoint p) {
    Element e;
    e.point = p;
    if (hasCurrentPoint_) {
        e.kind = Element::Kind::LineTo;
    } else {
        e.kind = Element::Kind::MoveTo;
        subpathStart_ = p;
        hasCurrentPoint_ = true;
    }
    elements_.push_back(e);
    current_ = p;
}

void INBezierPath::appendArc(INPoint center, double radius, double startAngle, double endAngle) {
    lineOrMoveTo(pointOnArc(center, radius, startAngle));
    Element e;
    e.kind = Element::Kind::Arc;
    e.center = center;
    e.radius = radius;
    e.startAngle = startAngle;
    e.endAngle = endAngle;
    e.point = pointOnArc(center, radius, endAngle);
    elements_.push_back(e);
    current_ = e.point;
}

void INBezierPath::appendPoints(const std::vector<INPoint>& points) {
    for (const INPoint& p : points) {
        lineOrMoveTo(p);
    }
}

void INBezierPath::closePath() {
    if (!hasCurrentPoint_) {
        return;
    }
    Element e;
    e.kind = Element::Kind::Close;
    e.point = subpathStart_;
    elements_.push_back(e);
    current_ = subpathStart_;
    hasCurrentPoint_ = false;
}

std::vector<INPoint> INBezierPath::vertices() const {
    std::vector<INPoint> out;
    auto add = [&out](INPoint p) {
        if (out.empty() || !(out.back() == p)) {
            out.push_back(p);
        }
    };
    for (const Element& e : elements_) {
        if (e.kind == Element::Kind::Arc) {
            add(pointOnArc(e.center, e.radius, e.startAngle));
        }
        if (e.kind != Element::Kind::Close) {
            add(e.point);
        }
    }
    return out;
}
