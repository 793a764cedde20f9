#include "chart/framework/CPTLineStyle.h"

std::shared_ptr<CPTLineStyle> CPTLineStyle::lineStyle() {
    return std::make_shared<CPTLineStyle>();
}

QPen CPTLineStyle::pen() const {
    QPen pen(lineColor_.qColor());
    pen.setWidthF(lineWidth_);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}
