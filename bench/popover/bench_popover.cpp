// How long the popover's shape takes to build and paint, and a pop snapshot to take.
#include "popover/INPopoverGeometry.h"
#include "popover/INPopoverWindow.h"
#include "popover/INPopoverWindowFrame.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cstdlib>

static void BM_OutlinePath(benchmark::State& state) {
    for (auto _ : state) {
        INBezierPath path =
            INPopoverOutlinePath(INRect(0, 0, 324, 224), 4.0, {23, 12}, INPopoverArrowDirectionUp);
        benchmark::DoNotOptimize(path);
    }
}
BENCHMARK(BM_OutlinePath);

static void BM_ChooseDirection(benchmark::State& state) {
    // The worst case: no candidate fits, so all three are tried.
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            INPopoverChooseArrowDirection(INPopoverArrowDirectionUp, INRect(0, 0, 1440, 900),
                                          INRect(1000, 878, 30, 22), {300, 900}, 12.0));
    }
}
BENCHMARK(BM_ChooseDirection);

static void BM_PaintFrame(benchmark::State& state) {
    INPopoverWindowFrame frame(INRect(0, 0, 324, 224));
    frame.setColor(QColor::fromRgbF(0.94f, 0.94f, 0.94f, 0.92f));
    frame.setBorderWidth(1.0);
    frame.setBorderColor(QColor(255, 255, 255, 235));
    frame.setTopHighlightColor(QColor(255, 255, 255));
    frame.setArrowDirection(INPopoverArrowDirectionUp);
    QImage image(324, 224, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(0, 224);
        painter.scale(1, -1);
        frame.drawRect(painter);
    }
}
BENCHMARK(BM_PaintFrame)->Unit(benchmark::kMicrosecond);

static void BM_PopSnapshot(benchmark::State& state) {
    INPopoverWindow window(INRect(0, 0, 324, 224));
    QWidget content;
    window.setPopoverContentView(&content);
    for (auto _ : state) {
        benchmark::DoNotOptimize(window.snapshot());
    }
}
BENCHMARK(BM_PopSnapshot)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
