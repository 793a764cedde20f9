#include "chart/framework/CPTGraph.h"

#include "chart/framework/CPTTheme.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

QPointF CPTAnchorPoint(const QRectF& rect, CPTRectAnchor anchor) {
    const double midX = rect.center().x();
    const double midY = rect.center().y();
    switch (anchor) {
    case CPTRectAnchor::BottomLeft:
        return rect.bottomLeft();
    case CPTRectAnchor::Bottom:
        return {midX, rect.bottom()};
    case CPTRectAnchor::BottomRight:
        return rect.bottomRight();
    case CPTRectAnchor::Left:
        return {rect.left(), midY};
    case CPTRectAnchor::Right:
        return {rect.right(), midY};
    case CPTRectAnchor::TopLeft:
        return rect.topLeft();
    case CPTRectAnchor::Top:
        return {midX, rect.top()};
    case CPTRectAnchor::TopRight:
        return rect.topRight();
    case CPTRectAnchor::Center:
        break;
    }
    return rect.center();
}

QRectF CPTRectAnchoredAt(const QSizeF& size, CPTRectAnchor anchor, const QPointF& point) {
    const QPointF own = CPTAnchorPoint(QRectF(QPointF(0.0, 0.0), size), anchor);
    return QRectF(point - own, size);
}

void CPTPlotAreaFrame::draw(QPainter& painter, const QRectF& rect) const {
    QPainterPath path;
    path.addRoundedRect(rect, cornerRadius_, cornerRadius_);
    if (fill_) {
        fill_->fillPath(painter, path);
    }
    if (borderLineStyle_) {
        painter.strokePath(path, borderLineStyle_->pen());
    }
}

void CPTAxisSet::draw(QPainter& painter, const QRectF& plotArea) const {
    if (!axisLineStyle_) {
        return;
    }
    painter.save();
    painter.setPen(axisLineStyle_->pen());
    painter.drawLine(plotArea.bottomLeft(), plotArea.topLeft());
    painter.drawLine(plotArea.bottomLeft(), plotArea.bottomRight());
    painter.restore();
}

CPTGraph::CPTGraph(const QRectF& frame) : frame_(frame) {}

CPTGraph::~CPTGraph() {
    for (const auto& plot : plots_) {
        plot->setGraph(nullptr);
    }
}

void CPTGraph::setFrame(const QRectF& frame) {
    frame_ = frame;
    setNeedsDisplay();
}

void CPTGraph::applyTheme(const std::shared_ptr<CPTTheme>& theme) {
    if (!theme) {
        return;
    }
    theme_ = theme;
    theme->applyThemeToGraph(*this);
    setNeedsDisplay();
}

void CPTGraph::reloadData() {
    for (const auto& plot : plots_) {
        plot->reloadData();
    }
    setNeedsDisplay();
}

void CPTGraph::setFill(std::shared_ptr<CPTFill> fill) {
    fill_ = std::move(fill);
    setNeedsDisplay();
}

void CPTGraph::setAxisSet(std::shared_ptr<CPTAxisSet> axisSet) {
    axisSet_ = std::move(axisSet);
    setNeedsDisplay();
}

QRectF CPTGraph::plotAreaRect() const {
    const QRectF b = bounds();
    const double width = std::max(0.0, b.width() - paddingLeft_ - paddingRight_);
    const double height = std::max(0.0, b.height() - paddingTop_ - paddingBottom_);
    return QRectF(paddingLeft_, paddingTop_, width, height);
}

void CPTGraph::setDefaultTextStyle(std::shared_ptr<CPTMutableTextStyle> style) {
    defaultTextStyle_ = style ? std::move(style) : CPTMutableTextStyle::textStyle();
}

const CPTMutableTextStyle&
CPTGraph::textStyleOr(const std::shared_ptr<CPTMutableTextStyle>& own) const {
    return own ? *own : *defaultTextStyle_;
}

QRectF CPTGraph::titleRect() const {
    if (!title_ || title_->isEmpty()) {
        return {};
    }
    const CPTMutableTextStyle& style = textStyleOr(titleTextStyle_);
    const QFontMetricsF metrics(style.font());
    const QSizeF size(std::ceil(metrics.horizontalAdvance(*title_)), std::ceil(metrics.height()));
    const QPointF point = CPTAnchorPoint(plotAreaRect(), titleAnchor_) +
                          QPointF(titleDisplacement_.x(), -titleDisplacement_.y());
    return CPTRectAnchoredAt(size, titleAnchor_, point);
}

void CPTGraph::addPlot(std::shared_ptr<CPTPlot> plot) {
    if (!plot) {
        return;
    }
    plot->setGraph(this);
    plots_.push_back(std::move(plot));
    setNeedsDisplay();
}

void CPTGraph::setLegend(std::shared_ptr<CPTLegend> legend) {
    legend_ = std::move(legend);
    setNeedsDisplay();
}

CPTLegend::Layout CPTGraph::legendLayout() const {
    if (!legend_) {
        return {};
    }
    const QPointF point = CPTAnchorPoint(bounds(), legendAnchor_) +
                          QPointF(legendDisplacement_.x(), -legendDisplacement_.y());
    return legend_->layout(point, legendAnchor_, textStyleOr(legend_->textStyle()));
}

void CPTGraph::draw(QPainter& painter) const {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    if (fill_) {
        fill_->fillRect(painter, bounds());
    }
    const QRectF plotArea = plotAreaRect();
    plotAreaFrame_->draw(painter, plotArea);
    if (axisSet_) {
        axisSet_->draw(painter, plotArea);
    }
    for (const auto& plot : plots_) {
        plot->reloadDataIfNeeded();
        plot->drawInPlotArea(painter, plotArea);
    }
    const QRectF title = titleRect();
    if (!title.isEmpty()) {
        const CPTMutableTextStyle& style = textStyleOr(titleTextStyle_);
        painter.setFont(style.font());
        painter.setPen(style.color().qColor());
        painter.drawText(title, Qt::AlignCenter, *title_);
    }
    if (legend_) {
        legend_->draw(painter, legendLayout(), textStyleOr(legend_->textStyle()));
    }
    painter.restore();
}

void CPTGraph::setNeedsDisplay() {
    if (hostingView_) {
        hostingView_->update();
    }
}

CPTXYGraph::CPTXYGraph(const QRectF& frame) : CPTGraph(frame) {
    setAxisSet(std::make_shared<CPTAxisSet>());
}
