#include "chart/framework/CPTPieChart.h"

#include <QPainter>
#include <array>
#include <cmath>

std::shared_ptr<CPTFill> CPTPieChartDataSource::sliceFillForPieChart(CPTPieChart*, unsigned long) {
    return nullptr;
}

std::optional<QString> CPTPieChartDataSource::legendTitleForPieChart(CPTPieChart*, unsigned long) {
    return std::nullopt;
}

CPTPieChart::CPTPieChart() = default;

std::shared_ptr<CPTFill> CPTPieChart::defaultSliceFill(unsigned long recordIndex) {
    static constexpr std::array<QRgb, 8> palette = {0xff4e79a7, 0xfff28e2b, 0xffe15759, 0xff76b7b2,
                                                    0xff59a14f, 0xffedc948, 0xffb07aa1, 0xffff9da7};
    return CPTFill::fillWithColor(
        CPTColor::colorWithCGColor(QColor::fromRgb(palette[recordIndex % palette.size()])));
}

void CPTPieChart::loadData(CPTPlotDataSource* dataSource) {
    slices_.clear();
    if (dataSource == nullptr) {
        return;
    }
    auto* pieSource = dynamic_cast<CPTPieChartDataSource*>(dataSource);
    const unsigned long count = dataSource->numberOfRecordsForPlot(this);
    slices_.reserve(count);
    for (unsigned long i = 0; i < count; ++i) {
        Slice slice;
        const std::optional<double> width =
            dataSource->numberForPlot(this, CPTPieChartFieldSliceWidth, i);
        if (width && std::isfinite(*width) && *width > 0.0) {
            slice.width = *width;
        }
        if (pieSource != nullptr) {
            slice.fill = pieSource->sliceFillForPieChart(this, i);
            slice.title = pieSource->legendTitleForPieChart(this, i);
        }
        if (!slice.fill) {
            slice.fill = defaultSliceFill(i);
        }
        slices_.push_back(std::move(slice));
    }
}

std::vector<CPTPieChart::Arc> CPTPieChart::sliceArcs() const {
    double sum = 0.0;
    for (const Slice& slice : slices_) {
        sum += slice.width;
    }
    std::vector<Arc> arcs;
    if (!(sum > 0.0) || !std::isfinite(sum)) {
        return arcs;
    }
    const double direction = sliceDirection_ == CPTPieDirection::Clockwise ? -1.0 : 1.0;
    double start = startAngle_ * 180.0 / std::numbers::pi;
    arcs.reserve(slices_.size());
    for (const Slice& slice : slices_) {
        const double sweep = direction * 360.0 * slice.width / sum;
        arcs.push_back({start, sweep});
        start += sweep;
    }
    return arcs;
}

QPointF CPTPieChart::centerInPlotArea(const QRectF& plotArea) const {
    return {plotArea.left() + centerAnchor_.x() * plotArea.width(),
            plotArea.bottom() - centerAnchor_.y() * plotArea.height()};
}

void CPTPieChart::drawInPlotArea(QPainter& painter, const QRectF& plotArea) const {
    if (!(pieRadius_ > 0.0)) {
        return;
    }
    const std::vector<Arc> arcs = sliceArcs();
    const QPointF centre = centerInPlotArea(plotArea);
    const QRectF circle(centre.x() - pieRadius_, centre.y() - pieRadius_, 2.0 * pieRadius_,
                        2.0 * pieRadius_);
    painter.save();
    for (std::size_t i = 0; i < arcs.size(); ++i) {
        if (arcs[i].sweepDegrees == 0.0) {
            continue;
        }
        QPainterPath path;
        if (std::abs(arcs[i].sweepDegrees) >= 360.0) {
            path.addEllipse(circle); // no radius line through a whole pie
        } else {
            path.moveTo(centre);
            path.arcTo(circle, arcs[i].startDegrees, arcs[i].sweepDegrees);
            path.closeSubpath();
        }
        slices_[i].fill->fillPath(painter, path);
        if (borderLineStyle_) {
            painter.strokePath(path, borderLineStyle_->pen());
        }
    }
    painter.restore();
}

std::vector<CPTLegendEntry> CPTPieChart::legendEntries() const {
    std::vector<CPTLegendEntry> entries;
    entries.reserve(slices_.size());
    for (const Slice& slice : slices_) {
        entries.push_back({slice.title.value_or(QString()), slice.fill});
    }
    return entries;
}
