#include "chart/framework/CPTMutableTextStyle.h"

#include <algorithm>
#include <cmath>

std::shared_ptr<CPTMutableTextStyle> CPTMutableTextStyle::textStyle() {
    return std::make_shared<CPTMutableTextStyle>();
}

QFont CPTMutableTextStyle::font() const {
    QString family = fontName_;
    QString face;
    const qsizetype dash = fontName_.lastIndexOf(QLatin1Char('-'));
    if (dash > 0) {
        family = fontName_.left(dash);
        face = fontName_.mid(dash + 1).toLower();
    }
    QFont font(family);
    font.setBold(face.contains(QLatin1String("bold")));
    font.setItalic(face.contains(QLatin1String("italic")) ||
                   face.contains(QLatin1String("oblique")));
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(fontSize_))));
    return font;
}
