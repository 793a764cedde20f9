#include "chart/framework/CPTLegend.h"

#include "chart/framework/CPTGraph.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace {
// Gap between a swatch and its title, as a share of the font size.
constexpr double kTitleOffsetFactor = 0.4;
// Swatch side, as a share of the font size.
constexpr double kSwatchFactor = 0.9;
} // namespace

std::shared_ptr<CPTLegend> CPTLegend::legendWithGraph(const CPTGraph& graph) {
    return std::make_shared<CPTLegend>(graph.allPlots());
}

CPTLegend::CPTLegend(std::vector<std::shared_ptr<CPTPlot>> plots) : plots_(std::move(plots)) {}

CPTLegend::Layout CPTLegend::layout(const QPointF& anchorPoint, CPTRectAnchor anchor,
                                    const CPTMutableTextStyle& textStyle) const {
    Layout result;
    for (const auto& plot : plots_) {
        plot->reloadDataIfNeeded();
        for (CPTLegendEntry& entry : plot->legendEntries()) {
            result.entries.push_back(
                {std::move(entry.title), std::move(entry.swatchFill), {}, {}, {}});
        }
    }

    const QFontMetricsF metrics(textStyle.font());
    const double swatch = std::round(textStyle.fontSize() * kSwatchFactor);
    const double offset = std::round(textStyle.fontSize() * kTitleOffsetFactor);
    const double contentHeight = std::max(swatch, std::ceil(metrics.height()));
    const double entryHeight = entryPaddingTop_ + contentHeight + entryPaddingBottom_;

    const std::size_t count = result.entries.size();
    const std::size_t columns =
        numberOfColumns_ == 0 ? std::max<std::size_t>(count, 1) : numberOfColumns_;
    const std::size_t rows = (count + columns - 1) / columns;

    std::vector<double> titleWidths(count);
    std::vector<double> columnWidths(std::min(columns, std::max<std::size_t>(count, 1)), 0.0);
    for (std::size_t i = 0; i < count; ++i) {
        titleWidths[i] = std::ceil(metrics.horizontalAdvance(result.entries[i].title));
        const double width =
            entryPaddingLeft_ + swatch + offset + titleWidths[i] + entryPaddingRight_;
        columnWidths[i % columns] = std::max(columnWidths[i % columns], width);
    }

    double contentWidth = 0.0;
    for (double width : columnWidths) {
        contentWidth += width;
    }
    if (count > 0) {
        contentWidth += columnMargin_ * static_cast<double>(columnWidths.size() - 1);
    }
    const double contentTotalHeight = rows == 0 ? 0.0
                                                : entryHeight * static_cast<double>(rows) +
                                                      rowMargin_ * static_cast<double>(rows - 1);
    const QSizeF size(contentWidth + 2.0 * padding_, contentTotalHeight + 2.0 * padding_);
    result.frame = CPTRectAnchoredAt(size, anchor, anchorPoint);

    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t column = i % columns;
        const std::size_t row = i / columns;
        double x = result.frame.left() + padding_;
        for (std::size_t c = 0; c < column; ++c) {
            x += columnWidths[c] + columnMargin_;
        }
        const double y =
            result.frame.top() + padding_ + static_cast<double>(row) * (entryHeight + rowMargin_);
        EntryLayout& entry = result.entries[i];
        entry.entryRect = QRectF(x, y, columnWidths[column], entryHeight);
        const double middle = y + entryPaddingTop_ + contentHeight / 2.0;
        entry.swatchRect =
            QRectF(x + entryPaddingLeft_, std::round(middle - swatch / 2.0), swatch, swatch);
        entry.titleRect = QRectF(entry.swatchRect.right() + offset, y + entryPaddingTop_,
                                 titleWidths[i], contentHeight);
    }
    return result;
}

void CPTLegend::draw(QPainter& painter, const Layout& layout,
                     const CPTMutableTextStyle& textStyle) const {
    painter.save();
    if (fill_ || borderLineStyle_) {
        QPainterPath frame;
        frame.addRoundedRect(layout.frame, cornerRadius_, cornerRadius_);
        if (fill_) {
            fill_->fillPath(painter, frame);
        }
        if (borderLineStyle_) {
            painter.strokePath(frame, borderLineStyle_->pen());
        }
    }
    painter.setFont(textStyle.font());
    for (const EntryLayout& entry : layout.entries) {
        if (entryFill_) {
            QPainterPath background;
            background.addRoundedRect(entry.entryRect, entryCornerRadius_, entryCornerRadius_);
            entryFill_->fillPath(painter, background);
        }
        if (entry.swatchFill) {
            QPainterPath swatch;
            swatch.addRoundedRect(entry.swatchRect, 2.0, 2.0);
            entry.swatchFill->fillPath(painter, swatch);
        }
        painter.setPen(textStyle.color().qColor());
        painter.drawText(entry.titleRect, Qt::AlignLeft | Qt::AlignVCenter, entry.title);
    }
    painter.restore();
}
