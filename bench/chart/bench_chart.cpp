// Time of one panel refresh: setPlotData + reloadData + repaint of a 300 x 260 view,
// on the offscreen platform.

#include "chart/SimplePieChart.h"

#include <QApplication>
#include <QPainter>
#include <benchmark/benchmark.h>
#include <cstdint>

namespace {
constexpr int64_t kMiB = 1024LL * 1024;

// Two alternating samples so every refresh really changes the pie.
std::vector<int64_t> sample(int64_t i) {
    return {2100 * kMiB + (i % 2) * 50 * kMiB, 6300 * kMiB - (i % 2) * 80 * kMiB, 3400 * kMiB,
            4200 * kMiB + (i % 2) * 30 * kMiB};
}

// Painting into an image, as a snapshot would.
void BM_RefreshRenderToImage(benchmark::State& state) {
    SimplePieChart chart;
    chart.setPlotData(sample(0));
    PlotView view;
    view.resize(300, 260);
    chart.renderInView(&view, CPTTheme::themeNamed(kCPTPlainWhiteTheme), true);
    QImage image(300, 260, QImage::Format_ARGB32_Premultiplied);
    int64_t i = 0;
    for (auto _ : state) {
        chart.setPlotData(sample(++i));
        chart.reloadData();
        image.fill(Qt::transparent);
        QPainter painter(&image);
        view.render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_RefreshRenderToImage)->Unit(benchmark::kMicrosecond);

// Painting a shown window's backing store, as the panel does.
void BM_RefreshRepaintShownView(benchmark::State& state) {
    SimplePieChart chart;
    chart.setPlotData(sample(0));
    PlotView view;
    view.resize(300, 260);
    view.show();
    QApplication::processEvents();
    chart.renderInView(&view, CPTTheme::themeNamed(kCPTPlainWhiteTheme), true);
    int64_t i = 0;
    for (auto _ : state) {
        chart.setPlotData(sample(++i));
        chart.reloadData();
        view.repaint();
    }
}
BENCHMARK(BM_RefreshRepaintShownView)->Unit(benchmark::kMicrosecond);
} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
