#pragma once
// How an area is painted: one colour, or a vertical two-colour gradient.

#include "chart/framework/CPTColor.h"

#include <memory>
#include <optional>

class QPainter;
class QPainterPath;
class QRectF;

class CPTFill {
public:
    static std::shared_ptr<CPTFill> fillWithColor(const CPTColor& color);
    // `top` at the upper edge of the filled area, `bottom` at the lower.
    static std::shared_ptr<CPTFill> fillWithGradient(const CPTColor& top, const CPTColor& bottom);

    // The colour of a solid fill; none for a gradient.
    std::optional<CPTColor> solidColor() const;

    void fillRect(QPainter& painter, const QRectF& rect) const;
    void fillPath(QPainter& painter, const QPainterPath& path) const;

private:
    CPTFill(const CPTColor& top, const CPTColor& bottom, bool gradient);

    CPTColor top_;
    CPTColor bottom_;
    bool gradient_ = false;
};
