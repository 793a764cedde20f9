#include "popover/INPopoverWindowFrame.h"

#include "platform/ui/WindowSystem.h"

#include "popover/INPopoverGeometry.h"

#include <QPainter>
#include <QPainterPath>

namespace {

QPainterPath toPainterPath(const INBezierPath& path) {
    QPainterPath out;
    for (const INBezierPath::Element& e : path.elements()) {
        switch (e.kind) {
        case INBezierPath::Element::Kind::MoveTo:
            out.moveTo(e.point.x, e.point.y);
            break;
        case INBezierPath::Element::Kind::LineTo:
            out.lineTo(e.point.x, e.point.y);
            break;
        case INBezierPath::Element::Kind::Arc: {
            const QRectF box(e.center.x - e.radius, e.center.y - e.radius, 2 * e.radius,
                             2 * e.radius);
            // Qt measures angles clockwise in y-up coordinates, so both are negated.
            out.arcTo(box, -e.startAngle, -(e.endAngle - e.startAngle));
            break;
        }
        case INBezierPath::Element::Kind::Close:
            out.closeSubpath();
            break;
        }
    }
    return out;
}

Qt::PenJoinStyle toPenJoin(INBezierPath::LineJoin join) {
    switch (join) {
    case INBezierPath::LineJoin::Round:
        return Qt::RoundJoin;
    case INBezierPath::LineJoin::Bevel:
        return Qt::BevelJoin;
    case INBezierPath::LineJoin::Miter:
        break;
    }
    return Qt::MiterJoin;
}

} // namespace

INPopoverWindowFrame::INPopoverWindowFrame(const INRect& frame, QWidget* parent)
    : QWidget(parent), color_(QColor::fromRgbF(0.0f, 0.0f, 0.0f, 0.8f)) {
    setGeometry(static_cast<int>(frame.x()), static_cast<int>(frame.y()),
                static_cast<int>(frame.width()), static_cast<int>(frame.height()));
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
}

void INPopoverWindowFrame::setNeedsDisplay(bool needs) {
    needsDisplay_ = needs;
    if (needs) {
        update();
    }
}

void INPopoverWindowFrame::setColor(std::optional<QColor> color) {
    if (color != color_) {
        color_ = color;
        setNeedsDisplay(true);
    }
}

void INPopoverWindowFrame::setBorderColor(std::optional<QColor> color) {
    if (color != borderColor_) {
        borderColor_ = color;
        setNeedsDisplay(true);
    }
}

void INPopoverWindowFrame::setTopHighlightColor(std::optional<QColor> color) {
    topHighlightColor_ = color;
}

void INPopoverWindowFrame::setBorderWidth(double width) {
    if (width != borderWidth_) {
        borderWidth_ = width;
        setNeedsDisplay(true);
    }
}

void INPopoverWindowFrame::setCornerRadius(double radius) {
    if (radius != cornerRadius_) {
        cornerRadius_ = radius;
        setNeedsDisplay(true);
    }
}

void INPopoverWindowFrame::setArrowSize(INSize size) {
    if (size.width != arrowSize_.width || size.height != arrowSize_.height) {
        arrowSize_ = size;
        setNeedsDisplay(true);
    }
}

void INPopoverWindowFrame::setArrowDirection(INPopoverArrowDirection direction) {
    if (direction != arrowDirection_) {
        arrowDirection_ = direction;
        setNeedsDisplay(true);
    }
}

void INPopoverWindowFrame::setArrowOffset(double offset) {
    if (offset != arrowOffset_) {
        arrowOffset_ = offset;
        setNeedsDisplay(true);
    }
}

INRect INPopoverWindowFrame::bounds() const {
    return {0.0, 0.0, static_cast<double>(width()), static_cast<double>(height())};
}

INBezierPath INPopoverWindowFrame::_popoverBezierPathWithRect(const INRect& rect) const {
    return INPopoverOutlinePath(rect, cornerRadius_, arrowSize_, arrowDirection_, arrowOffset_);
}

void INPopoverWindowFrame::drawRect(QPainter& painter) const {
    const INRect b = bounds();
    INBezierPath path = _popoverBezierPathWithRect(INPopoverOutlineRect(b, borderWidth_));
    const QPainterPath outline = toPainterPath(path);
    if (color_) {
        painter.fillPath(outline, *color_);
    }
    if (borderWidth_ > 0.0) {
        path.setLineWidth(borderWidth_);
        QPen pen(borderColor_.value_or(QColor(Qt::transparent)));
        pen.setWidthF(path.lineWidth());
        pen.setJoinStyle(toPenJoin(path.lineJoinStyle()));
        painter.strokePath(outline, pen);
    }
    if (topHighlightColor_) {
        // Copy mode: the line replaces what lies under it, alpha included.
        const QPainter::CompositionMode mode = painter.compositionMode();
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        for (const INRect& r : INPopoverTopHighlightRects(
                 b, borderWidth_, cornerRadius_, arrowSize_, arrowDirection_, arrowOffset_)) {
            painter.fillRect(QRectF(r.x(), r.y(), r.width(), r.height()), *topHighlightColor_);
        }
        painter.setCompositionMode(mode);
    }
}

void INPopoverWindowFrame::paintEvent(QPaintEvent*) {
    updateWindowShape();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(0.0, height());
    painter.scale(1.0, -1.0);
    drawRect(painter);
    needsDisplay_ = false;
}

void INPopoverWindowFrame::updateWindowShape() {
    // Asking the window system costs a round trip: only when the outline may have changed.
    const ShapeKey key{size(),        arrowDirection_,  arrowOffset_,
                       cornerRadius_, arrowSize_.width, arrowSize_.height};
    if (shapeKey_ && *shapeKey_ == key) {
        return;
    }
    shapeKey_ = key;
    // Without a compositor the see-through corners and arrow margins would come out black:
    // cut the window to the outline instead.
    QWidget* top = window();
    if (top == nullptr || WindowSystem::isCompositing()) {
        if (top != nullptr && !top->mask().isEmpty()) {
            top->clearMask();
        }
        return;
    }
    const INBezierPath path = _popoverBezierPathWithRect(INPopoverOutlineRect(bounds(), 0.0));
    QTransform flip;
    flip.translate(0.0, height());
    flip.scale(1.0, -1.0);
    const QRegion shape = QRegion(toPainterPath(path).toFillPolygon(flip).toPolygon())
                              .translated(mapTo(top, QPoint()));
    if (shape != top->mask()) {
        top->setMask(shape);
    }
}

void INPopoverWindowFrame::setAutoresizingSubview(QWidget* view, QMargins margins) {
    autoresizingSubview_ = view;
    autoresizingMargins_ = margins;
}

void INPopoverWindowFrame::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    shapeKey_.reset(); // a compositor may have come or gone since the last show
}

void INPopoverWindowFrame::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutAutoresizingSubview();
}

void INPopoverWindowFrame::layoutAutoresizingSubview() {
    if (autoresizingSubview_) {
        autoresizingSubview_->setGeometry(rect().marginsRemoved(autoresizingMargins_));
    }
}
