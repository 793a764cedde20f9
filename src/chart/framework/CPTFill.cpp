#include "chart/framework/CPTFill.h"

#include <QBrush>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

CPTFill::CPTFill(const CPTColor& top, const CPTColor& bottom, bool gradient)
    : top_(top), bottom_(bottom), gradient_(gradient) {}

std::shared_ptr<CPTFill> CPTFill::fillWithColor(const CPTColor& color) {
    return std::shared_ptr<CPTFill>(new CPTFill(color, color, false));
}

std::shared_ptr<CPTFill> CPTFill::fillWithGradient(const CPTColor& top, const CPTColor& bottom) {
    return std::shared_ptr<CPTFill>(new CPTFill(top, bottom, true));
}

std::optional<CPTColor> CPTFill::solidColor() const {
    if (gradient_) {
        return std::nullopt;
    }
    return top_;
}

namespace {
QBrush brushFor(const CPTColor& top, const CPTColor& bottom, bool gradient, const QRectF& bounds) {
    if (!gradient) {
        return QBrush(top.qColor());
    }
    QLinearGradient linear(bounds.topLeft(), bounds.bottomLeft());
    linear.setColorAt(0.0, top.qColor());
    linear.setColorAt(1.0, bottom.qColor());
    return QBrush(linear);
}
} // namespace

void CPTFill::fillRect(QPainter& painter, const QRectF& rect) const {
    painter.fillRect(rect, brushFor(top_, bottom_, gradient_, rect));
}

void CPTFill::fillPath(QPainter& painter, const QPainterPath& path) const {
    painter.fillPath(path, brushFor(top_, bottom_, gradient_, path.boundingRect()));
}
