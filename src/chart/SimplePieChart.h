#pragma once
// The memory panel's pie: one slice per memory class (wired, active, inactive, free) and
// a one-row legend above it, on a transparent background.

#include "chart/PlotItem.h"
#include "chart/framework/CPTLegend.h"
#include "chart/framework/CPTPieChart.h"

#include <QColor>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

class SimplePieChart : public PlotItem,
                       public CPTPlotSpaceDelegate,
                       public CPTPieChartDelegate,
                       public CPTLegendDelegate,
                       public CPTPieChartDataSource {
public:
    static constexpr std::size_t kSliceCount = 4;

    SimplePieChart();
    ~SimplePieChart() override;

    // The legend title of slice `index` (wired, active, inactive, free) in the user's language;
    // empty past the last slice.
    static QString sliceTitle(std::size_t index);

    // With no data yet: three slices of 20, 30 and 60.
    void generateData() override;
    // Builds graph, pie and legend; the flag has no effect on this chart.
    void renderInLayer(CPTGraphHostingView* layerHostingView, std::shared_ptr<CPTTheme> theme,
                       bool animated) override;

    // Byte counts in the order wired, active, inactive, free; none until set. Setting does
    // not redraw: follow with reloadData.
    std::optional<std::vector<int64_t>> plotData() const;
    void setPlotData(std::vector<int64_t> data);

    // The colour of the legend's and a title's text, so they stay legible on the background
    // the chart is shown on; none keeps the theme's own. Applies at once and to later renders.
    std::optional<QColor> textColor() const { return textColor_; }
    void setTextColor(std::optional<QColor> color);

    unsigned long numberOfRecordsForPlot(CPTPlot* plot) override;
    // Field 0 is the slice width: the data. Any other field answers the index itself.
    std::optional<double> numberForPlot(CPTPlot* plot, unsigned long field,
                                        unsigned long recordIndex) override;
    std::shared_ptr<CPTFill> sliceFillForPieChart(CPTPieChart* pieChart,
                                                  unsigned long recordIndex) override;
    std::optional<QString> legendTitleForPieChart(CPTPieChart* pieChart,
                                                  unsigned long recordIndex) override;

private:
    void applyTextColor(CPTGraph& graph) const;

    mutable std::mutex plotDataMutex_; // setters and getters are atomic
    std::optional<std::vector<int64_t>> plotData_;
    std::optional<QColor> textColor_; // main thread only
};
