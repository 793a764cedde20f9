#pragma once
// A colour value with components as fractions of 1.

#include <QColor>

class CPTColor {
public:
    CPTColor() = default; // transparent black

    static CPTColor colorWithComponentRed(double red, double green, double blue, double alpha);
    static CPTColor colorWithCGColor(const QColor& color);
    static CPTColor clearColor();
    static CPTColor whiteColor();
    static CPTColor blackColor();
    static CPTColor grayColor();
    static CPTColor lightGrayColor();
    static CPTColor darkGrayColor();

    double red() const { return red_; }
    double green() const { return green_; }
    double blue() const { return blue_; }
    double alpha() const { return alpha_; }

    // Eight-bit channels are the fraction times 256, truncated and capped at 255, so a
    // colour given in 256ths keeps its exact byte value.
    QColor qColor() const;

    bool operator==(const CPTColor&) const = default;

private:
    CPTColor(double red, double green, double blue, double alpha);

    double red_ = 0.0;
    double green_ = 0.0;
    double blue_ = 0.0;
    double alpha_ = 0.0;
};
