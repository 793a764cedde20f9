#pragma once
// Colour and width of a stroked line. Shared and mutable: a plot keeps the object it was
// given, so changing it later changes the plot's lines.

#include "chart/framework/CPTColor.h"

#include <QPen>
#include <memory>

class CPTLineStyle {
public:
    // A one-point black line.
    static std::shared_ptr<CPTLineStyle> lineStyle();

    CPTColor lineColor() const { return lineColor_; }
    void setLineColor(const CPTColor& color) { lineColor_ = color; }
    double lineWidth() const { return lineWidth_; }
    void setLineWidth(double width) { lineWidth_ = width; }

    QPen pen() const;

private:
    CPTColor lineColor_ = CPTColor::blackColor();
    double lineWidth_ = 1.0;
};
