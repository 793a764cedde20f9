// The chart framework on its own: slice angles and themes. Slice colours, the clockwise
// order and the legend are checked in the pie's pixel tests.

#include "chart/framework/CPTColor.h"
#include "chart/framework/CPTGraph.h"
#include "chart/framework/CPTPieChart.h"
#include "chart/framework/CPTTheme.h"

#include <QPainter>
#include <QtTest>
#include <cmath>

namespace {

// A pie data source with fixed widths.
class FakePieSource : public CPTPlotDataSource {
public:
    std::vector<double> widths;

    unsigned long numberOfRecordsForPlot(CPTPlot*) override { return widths.size(); }
    std::optional<double> numberForPlot(CPTPlot*, unsigned long, unsigned long i) override {
        return widths.at(i);
    }
};
} // namespace

class ChartFrameworkTest : public QObject {
    Q_OBJECT

private slots:
    void sliceArcs() {
        // Widths, direction (0 clockwise), then the start and sweep of each arc in degrees.
        const std::tuple<std::vector<double>, int, std::vector<std::pair<double, double>>> cases[] =
            {
                {{1, 1, 2}, 1, {{90, 90}, {180, 90}, {270, 180}}},
                {{3e9, 1e9}, 0, {{90, -270}, {-180, -90}}}, // byte counts keep proportion
                {{-5, NAN, 5},
                 0,
                 {{90, 0}, {90, 0}, {90, -360}}}, // negative and NaN count as nothing
                {{0, 0, 0, 0}, 0, {}},            // all zero: no arcs, no division
            };
        for (const auto& [widths, direction, arcs] : cases) {
            FakePieSource source;
            source.widths = widths;
            CPTPieChart pie;
            pie.setDataSource(&source);
            pie.setSliceDirection(static_cast<CPTPieDirection>(direction));
            pie.reloadData();
            std::vector<std::pair<double, double>> got;
            for (const auto& arc : pie.sliceArcs()) {
                got.emplace_back(arc.startDegrees, arc.sweepDegrees);
            }
            QCOMPARE(got, arcs);
        }
    }

    void themeLooks() {
        QVERIFY(!CPTTheme::themeNamed(QStringLiteral("Stocks")));
        // Plain white: a white fill and dark text; dark gradient: a dark gradient, light text.
        for (const QString& name : {kCPTPlainWhiteTheme, kCPTDarkGradientTheme}) {
            const bool white = name == kCPTPlainWhiteTheme;
            const auto theme = CPTTheme::themeNamed(name);
            CPTXYGraph graph(QRectF(0, 0, 100, 100));
            graph.applyTheme(theme);
            QImage image(100, 100, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            graph.draw(painter);
            const int background = qGray(image.pixel(2, 2));
            const int text = qGray(graph.defaultTextStyle()->color().qColor().rgb());
            QVERIFY(white ? background == 255 && text < 64 : background < 96 && text > 200);
            QCOMPARE(!graph.fill()->solidColor(), !white);
            // The graph's styles are its own copies.
            graph.plotAreaFrame()->borderLineStyle()->setLineWidth(9);
            QCOMPARE(theme->look().plotAreaBorderLineStyle->lineWidth(), 1.0);
        }
    }
};

QTEST_MAIN(ChartFrameworkTest)
#include "test_chart_framework.moc"
