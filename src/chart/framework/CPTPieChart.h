#pragma once
// A pie whose slice angles are proportional to the slice widths from its data source,
// drawn in record order from the start angle.

#include "chart/framework/CPTDefinitions.h"
#include "chart/framework/CPTLineStyle.h"
#include "chart/framework/CPTPlot.h"

#include <QPainterPath>
#include <numbers>

class CPTPieChart;

class CPTPieChartDataSource : public CPTPlotDataSource {
public:
    // None: the chart's own colour for that index.
    virtual std::shared_ptr<CPTFill> sliceFillForPieChart(CPTPieChart* pieChart,
                                                          unsigned long recordIndex);
    // None: the entry has no title.
    virtual std::optional<QString> legendTitleForPieChart(CPTPieChart* pieChart,
                                                          unsigned long recordIndex);
};

// Told about slice selection; our pies send none.
class CPTPieChartDelegate {
public:
    virtual ~CPTPieChartDelegate() = default;
};

class CPTPieChart : public CPTPlot {
public:
    struct Slice {
        double width = 0.0; // negative, NaN and infinite widths count as 0
        std::shared_ptr<CPTFill> fill;
        std::optional<QString> title;
    };
    // One slice's arc in degrees: counter-clockwise from 3 o'clock, sweep negative
    // for clockwise slices.
    struct Arc {
        double startDegrees = 0.0;
        double sweepDegrees = 0.0;
    };

    // Twelve o'clock: the first record starts at the top.
    static constexpr double kDefaultStartAngle = std::numbers::pi / 2.0;

    CPTPieChart();

    CPTPieChartDelegate* delegate() const { return delegate_; }
    void setDelegate(CPTPieChartDelegate* delegate) { delegate_ = delegate; }
    double pieRadius() const { return pieRadius_; }
    void setPieRadius(double radius) { pieRadius_ = radius; }
    // Radians, counter-clockwise from 3 o'clock.
    double startAngle() const { return startAngle_; }
    void setStartAngle(double radians) { startAngle_ = radians; }
    CPTPieDirection sliceDirection() const { return sliceDirection_; }
    void setSliceDirection(CPTPieDirection direction) { sliceDirection_ = direction; }
    std::shared_ptr<CPTLineStyle> borderLineStyle() const { return borderLineStyle_; }
    void setBorderLineStyle(std::shared_ptr<CPTLineStyle> style) {
        borderLineStyle_ = std::move(style);
    }
    // Fractions of the plot area, measured from its bottom-left corner.
    QPointF centerAnchor() const { return centerAnchor_; }
    void setCenterAnchor(const QPointF& anchor) { centerAnchor_ = anchor; }

    // The records read at the last load.
    const std::vector<Slice>& slices() const { return slices_; }
    // One arc per slice of the last load; empty arcs for zero widths, none at all when the
    // widths add up to nothing.
    std::vector<Arc> sliceArcs() const;
    // The pie's centre in widget coordinates.
    QPointF centerInPlotArea(const QRectF& plotArea) const;

    // The fill used for a record whose data source gives none.
    static std::shared_ptr<CPTFill> defaultSliceFill(unsigned long recordIndex);

    void drawInPlotArea(QPainter& painter, const QRectF& plotArea) const override;
    std::vector<CPTLegendEntry> legendEntries() const override;

protected:
    void loadData(CPTPlotDataSource* dataSource) override;

private:
    CPTPieChartDelegate* delegate_ = nullptr; // not owned
    double pieRadius_ = 0.0;
    double startAngle_ = kDefaultStartAngle;
    CPTPieDirection sliceDirection_ = CPTPieDirection::Clockwise;
    std::shared_ptr<CPTLineStyle> borderLineStyle_;
    QPointF centerAnchor_{0.5, 0.5};
    std::vector<Slice> slices_;
};
