#pragma once

#include <cmath>
#include <ostream>

// Popover geometry in points, origin at the bottom-left of the primary screen (or of a view),
// y growing upwards. Only INScreenGeometry converts to Qt's top-left coordinates.

struct INPoint {
    double x = 0.0;
    double y = 0.0;

    bool operator==(const INPoint&) const = default;
};

struct INSize {
    double width = 0.0;
    double height = 0.0;

    bool operator==(const INSize&) const = default;
};

struct INRect {
    INPoint origin;
    INSize size;

    constexpr INRect() = default;
    constexpr INRect(double x, double y, double width, double height)
        : origin{x, y}, size{width, height} {}
    constexpr INRect(INPoint o, INSize s) : origin(o), size(s) {}

    constexpr double x() const { return origin.x; }
    constexpr double y() const { return origin.y; }
    constexpr double width() const { return size.width; }
    constexpr double height() const { return size.height; }
    constexpr double minX() const { return origin.x; }
    constexpr double minY() const { return origin.y; }
    constexpr double maxX() const { return origin.x + size.width; }
    constexpr double maxY() const { return origin.y + size.height; }
    constexpr double midX() const { return origin.x + size.width * 0.5; }
    constexpr double midY() const { return origin.y + size.height * 0.5; }
    // Empty means no positive area; such a rectangle is never contained in another.
    constexpr bool isEmpty() const { return !(size.width > 0.0 && size.height > 0.0); }

    bool operator==(const INRect&) const = default;
};

// Moves each edge inwards by dx horizontally and dy vertically; negative values grow it.
constexpr INRect INInsetRect(const INRect& r, double dx, double dy) {
    return {r.x() + dx, r.y() + dy, r.width() - 2.0 * dx, r.height() - 2.0 * dy};
}

// True when `inner` has positive area and lies inside `outer`; shared edges count as inside.
constexpr bool INContainsRect(const INRect& outer, const INRect& inner) {
    return !inner.isEmpty() && inner.minX() >= outer.minX() && inner.maxX() <= outer.maxX() &&
           inner.minY() >= outer.minY() && inner.maxY() <= outer.maxY();
}

inline std::ostream& operator<<(std::ostream& os, const INPoint& p) {
    return os << '(' << p.x << ", " << p.y << ')';
}

inline std::ostream& operator<<(std::ostream& os, const INSize& s) {
    return os << s.width << " x " << s.height;
}

inline std::ostream& operator<<(std::ostream& os, const INRect& r) {
    return os << '(' << r.x() << ", " << r.y() << ", " << r.width() << ", " << r.height() << ')';
}
