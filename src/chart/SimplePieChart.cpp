#include "chart/SimplePieChart.h"

#include "chart/framework/CPTGraph.h"

#include <QColor>
#include <QCoreApplication>
#include <algorithm>
#include <array>

namespace {
struct SliceStyle {
    const char* title;
    int red; // 256ths
    int green;
    int blue;
};

constexpr std::array<SliceStyle, SimplePieChart::kSliceCount> kSlices = {{
    {QT_TRANSLATE_NOOP("SimplePieChart", "Wired"), 228, 92, 56},
    {QT_TRANSLATE_NOOP("SimplePieChart", "Active"), 235, 200, 94},
    {QT_TRANSLATE_NOOP("SimplePieChart", "Inactive"), 76, 175, 175},
    {QT_TRANSLATE_NOOP("SimplePieChart", "Free"), 77, 175, 123},
}};

constexpr double kRadiusShare = 0.8;
constexpr QPointF kCenterAnchor{0.5, 0.41};
constexpr double kLegendEntryPadding = 3.0;
} // namespace

SimplePieChart::SimplePieChart() = default;

QString SimplePieChart::sliceTitle(std::size_t index) {
    return index < kSlices.size()
               ? QCoreApplication::translate("SimplePieChart", kSlices[index].title)
               : QString();
}

// Tear down while the data source is still whole.
SimplePieChart::~SimplePieChart() {
    killGraph();
}

void SimplePieChart::generateData() {
    std::lock_guard lock(plotDataMutex_);
    if (!plotData_) {
        plotData_ = std::vector<int64_t>{20, 30, 60};
    }
}

std::optional<std::vector<int64_t>> SimplePieChart::plotData() const {
    std::lock_guard lock(plotDataMutex_);
    return plotData_;
}

void SimplePieChart::setPlotData(std::vector<int64_t> data) {
    std::lock_guard lock(plotDataMutex_);
    plotData_ = std::move(data);
}

void SimplePieChart::renderInLayer(CPTGraphHostingView* layerHostingView,
                                   std::shared_ptr<CPTTheme> theme, bool) {
    const QRectF bounds = layerHostingView != nullptr ? QRectF(layerHostingView->rect()) : QRectF();
    auto graph = std::make_shared<CPTXYGraph>(bounds);
    addGraph(graph, layerHostingView);
    applyTheme(theme, *graph, CPTTheme::themeNamed(kCPTDarkGradientTheme));

    graph->plotAreaFrame()->setBorderLineStyle(nullptr);
    graph->setAxisSet(nullptr);

    auto pie = std::make_shared<CPTPieChart>();
    pie->setDataSource(this);

    // The height pairs with the left padding and the width with the top one.
    const QRectF frame =
        layerHostingView != nullptr ? QRectF(layerHostingView->geometry()) : QRectF();
    const double byHeight = (frame.height() - 2.0 * graph->paddingLeft()) * kRadiusShare * 0.5;
    const double byWidth = (frame.width() - 2.0 * graph->paddingTop()) * kRadiusShare * 0.5;
    // A view smaller than its paddings gets no pie rather than an inside-out one.
    pie->setPieRadius(std::max(0.0, std::min(byHeight, byWidth)));
    pie->setSliceDirection(CPTPieDirection::Clockwise);

    pie->setBorderLineStyle(CPTLineStyle::lineStyle());
    pie->borderLineStyle()->setLineColor(CPTColor::whiteColor());
    pie->setCenterAnchor(kCenterAnchor);
    pie->setDelegate(this);
    graph->addPlot(pie);

    auto legend = CPTLegend::legendWithGraph(*graph);
    legend->setNumberOfColumns(4);
    legend->setFill(nullptr);
    legend->setBorderLineStyle(nullptr);
    legend->setEntryFill(nullptr);
    legend->setEntryCornerRadius(3.0);
    legend->setEntryPaddingLeft(kLegendEntryPadding);
    legend->setEntryPaddingTop(kLegendEntryPadding);
    legend->setEntryPaddingRight(kLegendEntryPadding);
    legend->setEntryPaddingBottom(kLegendEntryPadding);
    legend->setCornerRadius(1.0);
    legend->setDelegate(this);
    graph->setLegend(legend);
    graph->setLegendAnchor(CPTRectAnchor::Top);
    graph->setLegendDisplacement(QPointF(0.0, -10.0));

    const CPTColor clear = CPTColor::colorWithCGColor(QColor(Qt::transparent));
    graph->setFill(CPTFill::fillWithColor(clear));
    graph->plotAreaFrame()->setFill(CPTFill::fillWithColor(clear));
    applyTextColor(*graph);
}

void SimplePieChart::setTextColor(std::optional<QColor> color) {
    textColor_ = std::move(color);
    for (const auto& graph : graphs()) {
        applyTextColor(*graph);
    }
}

void SimplePieChart::applyTextColor(CPTGraph& graph) const {
    auto style = graph.defaultTextStyle();
    if (textColor_) {
        style->setColor(CPTColor::colorWithCGColor(*textColor_));
    } else if (graph.theme()) {
        style->setColor(graph.theme()->look().textColor);
    } else {
        return; // no theme colour to go back to
    }
    graph.setNeedsDisplay();
}

unsigned long SimplePieChart::numberOfRecordsForPlot(CPTPlot*) {
    std::lock_guard lock(plotDataMutex_);
    return plotData_ ? static_cast<unsigned long>(plotData_->size()) : 0UL;
}

std::optional<double> SimplePieChart::numberForPlot(CPTPlot*, unsigned long field,
                                                    unsigned long recordIndex) {
    if (field != CPTPieChartFieldSliceWidth) {
        return static_cast<double>(recordIndex);
    }
    std::lock_guard lock(plotDataMutex_);
    if (!plotData_ || recordIndex >= plotData_->size()) {
        return std::nullopt;
    }
    return static_cast<double>((*plotData_)[recordIndex]);
}

std::shared_ptr<CPTFill> SimplePieChart::sliceFillForPieChart(CPTPieChart*,
                                                              unsigned long recordIndex) {
    if (recordIndex >= kSlices.size()) {
        return nullptr;
    }
    const SliceStyle& style = kSlices[recordIndex];
    return CPTFill::fillWithColor(CPTColor::colorWithComponentRed(
        style.red / 256.0, style.green / 256.0, style.blue / 256.0, 1.0));
}

std::optional<QString> SimplePieChart::legendTitleForPieChart(CPTPieChart*,
                                                              unsigned long recordIndex) {
    if (recordIndex >= kSlices.size()) {
        return std::nullopt;
    }
    return sliceTitle(recordIndex);
}
