#include "chart/framework/CPTColor.h"

#include <algorithm>
#include <cmath>

namespace {
double clampUnit(double value) {
    if (std::isnan(value)) {
        return 0.0;
    }
    return std::clamp(value, 0.0, 1.0);
}

int toByte(double fraction) {
    return std::min(255, static_cast<int>(std::floor(fraction * 256.0)));
}
} // namespace

CPTColor::CPTColor(double red, double green, double blue, double alpha)
    : red_(clampUnit(red)), green_(clampUnit(green)), blue_(clampUnit(blue)),
      alpha_(clampUnit(alpha)) {}

CPTColor CPTColor::colorWithComponentRed(double red, double green, double blue, double alpha) {
    return CPTColor(red, green, blue, alpha);
}

CPTColor CPTColor::colorWithCGColor(const QColor& color) {
    const QColor rgb = color.toRgb();
    // Toolkit colours are in 255ths; map their bytes back to the same bytes.
    return CPTColor(rgb.red() / 256.0, rgb.green() / 256.0, rgb.blue() / 256.0,
                    rgb.alpha() == 255 ? 1.0 : rgb.alpha() / 256.0);
}

CPTColor CPTColor::clearColor() {
    return CPTColor(0.0, 0.0, 0.0, 0.0);
}
CPTColor CPTColor::whiteColor() {
    return CPTColor(1.0, 1.0, 1.0, 1.0);
}
CPTColor CPTColor::blackColor() {
    return CPTColor(0.0, 0.0, 0.0, 1.0);
}
CPTColor CPTColor::grayColor() {
    return CPTColor(0.5, 0.5, 0.5, 1.0);
}
CPTColor CPTColor::lightGrayColor() {
    return CPTColor(2.0 / 3.0, 2.0 / 3.0, 2.0 / 3.0, 1.0);
}
CPTColor CPTColor::darkGrayColor() {
    return CPTColor(1.0 / 3.0, 1.0 / 3.0, 1.0 / 3.0, 1.0);
}

QColor CPTColor::qColor() const {
    return QColor(toByte(red_), toByte(green_), toByte(blue_), toByte(alpha_));
}
