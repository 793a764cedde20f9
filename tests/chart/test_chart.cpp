// The chart framework, the plot item and view, and the memory pie, painted offscreen.

#include "chart/PlotItem.h"
#include "chart/PlotView.h"
#include "chart/SimplePieChart.h"
#include "chart/framework/CPTAnimation.h"
#include "chart/framework/CPTColor.h"
#include "chart/framework/CPTGraph.h"
#include "chart/framework/CPTPieChart.h"
#include "chart/framework/CPTTheme.h"

#include <QDir>
#include <QPainter>
#include <QVariantAnimation>
#include <QtTest>

#include <cmath>
#include <numbers>
#include <numeric>
#include <tuple>
#include <vector>

namespace {

struct CountingDelegate : PlotViewDelegate {
    explicit CountingDelegate(bool answers) : responds(answers) {}
    bool responds;
    std::vector<QSizeF> sizes;
    bool respondsToSetFrameSize() const override { return responds; }
    void setFrameSize(QSizeF size) override { sizes.push_back(size); }
};

constexpr int64_t kGiB = 1024LL * 1024 * 1024;
const QColor kSliceColours[] = {QColor(228, 92, 56), QColor(235, 200, 94), QColor(76, 175, 175),
                                QColor(77, 175, 123)};
const QStringList kTitles = {"Wired", "Active", "Inactive", "Free"};
const QSize kPanel(300, 260);

// The chart in `view` and everything under it, painted into an image.
QImage grab(QWidget& view) {
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    view.render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// Where the pie sits in a view with paddings of 20: centred across, 41 % up the plot area.
QPointF centreFor(QSize size) {
    return {size.width() / 2.0, size.height() - 20.0 - 0.41 * (size.height() - 40.0)};
}
double radiusFor(QSize size) {
    return std::min(size.height() - 40.0, size.width() - 40.0) * 0.4;
}

// Middle of each slice, clockwise from twelve o'clock, at 60 % of the radius.
std::vector<QPoint> sliceMiddles(const std::vector<double>& values, QSize size) {
    const double sum = std::accumulate(values.begin(), values.end(), 0.0);
    std::vector<QPoint> points;
    double before = 0;
    for (double v : values) {
        const double turn = 2.0 * std::numbers::pi * (before + v / 2.0) / sum;
        points.push_back(
            (centreFor(size) + 0.6 * radiusFor(size) * QPointF(std::sin(turn), -std::cos(turn)))
                .toPoint());
        before += v;
    }
    return points;
}

} // namespace

class ChartTest : public QObject {
    Q_OBJECT

private slots:
    void frameworkSliceArcs() {
        using Arcs = std::vector<std::pair<double, double>>;
        // Widths, direction (0 clockwise), then the start and sweep of each arc in degrees.
        // Negative widths count as nothing; all zero gives no arcs and no division.
        const std::tuple<std::vector<int64_t>, int, Arcs> cases[] = {
            {{1, 1, 2}, 1, {{90, 90}, {180, 90}, {270, 180}}},
            {{-5, 0, 5}, 0, {{90, 0}, {90, 0}, {90, -360}}},
            {{0, 0, 0, 0}, 0, {}},
        };
        for (const auto& [widths, direction, arcs] : cases) {
            SimplePieChart source; // the memory pie answers as the data source
            source.setPlotData(widths);
            CPTPieChart pie;
            pie.setDataSource(&source);
            pie.setSliceDirection(static_cast<CPTPieDirection>(direction));
            pie.reloadData();
            Arcs got;
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
        // A plot item given the null theme applies none.
        CPTXYGraph bare(QRectF(0, 0, 100, 100));
        PlotItem().applyTheme(PlotItem::nullTheme(), bare,
                              CPTTheme::themeNamed(kCPTPlainWhiteTheme));
        QVERIFY(!bare.theme() && !bare.fill());
    }

    void renderingTwiceLeavesOneHostingViewUntilKillGraph() {
        PlotView host(QRectF(0, 0, 300, 200), nullptr);
        SimplePieChart chart;
        chart.renderInView(&host, nullptr, true);
        chart.renderInView(&host, nullptr, true);
        QCOMPARE(host.findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 1);
        QCOMPARE(chart.graphs().size(), std::size_t{1});
        QCOMPARE(chart.defaultLayerHostingView()->geometry(), host.rect());
        // The hosting view and its graph follow the host's size, hidden or shown.
        host.resize(260, 180);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        host.resize(320, 240);
        const auto graph = chart.graphs().front();
        QCOMPARE(graph->frame(), QRectF(0, 0, 320, 240));
        // Killing the graph takes everything down and stops the chart's animations.
        QVariantAnimation running;
        running.setStartValue(0.0);
        running.setEndValue(1.0);
        running.setDuration(60'000);
        running.start();
        CPTAnimation::sharedInstance().addAnimationOperation(&running);
        chart.killGraph();
        QCOMPARE(host.findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 0);
        QVERIFY(!chart.defaultLayerHostingView() && chart.graphs().empty() &&
                !graph->hostingView());
        QCOMPARE(running.state(), QAbstractAnimation::Stopped);
        // A host destroyed first takes the hosting view with it.
        {
            PlotView gone(QRectF(0, 0, 100, 100), nullptr);
            chart.renderInView(&gone, nullptr, false);
        }
        QVERIFY(!chart.defaultLayerHostingView());
        chart.killGraph();
    }

    void titleAndPaddingDefaults() {
        // Title and padding defaults together, as a chart applies them: the title is drawn in
        // grey, centred, in the room the padding leaves above the plot area.
        std::vector<double> inkHeights;
        for (const double height : {300.0, 600.0}) {
            const QRectF bounds(0, 0, 400, height);
            PlotItem item;
            item.setTitle(QStringLiteral("Memory"));
            CPTGraph graph(bounds);
            item.setTitleDefaultsForGraph(graph, bounds);
            item.setPaddingDefaultsForGraph(graph, bounds);
            QImage titled(bounds.size().toSize(), QImage::Format_ARGB32);
            titled.fill(Qt::transparent);
            QPainter painter(&titled);
            graph.draw(painter); // a graph without a theme draws nothing but its title
            painter.end();
            QVERIFY2(bounds.contains(graph.titleRect()), "the title is cut off");
            // The title's solid ink, all in the text colour.
            QRect ink;
            for (int y = 0; y < titled.height(); ++y) {
                for (int x = 0; x < titled.width(); ++x) {
                    if (titled.pixelColor(x, y).alpha() == 255) {
                        QCOMPARE(titled.pixelColor(x, y), QColor(128, 128, 128));
                        ink |= QRect(x, y, 1, 1);
                    }
                }
            }
            QCOMPARE_LT(ink.bottom(), graph.plotAreaRect().top()); // not into the plot area
            QCOMPARE_LE(std::abs(ink.center().x() + 0.5 - bounds.width() / 2), 2);
            inkHeights.push_back(ink.height());
        }
        // A chart twice as high has a title twice as high.
        QCOMPARE_LT(std::abs(inkHeights[1] / inkHeights[0] - 2.0), 0.3);

        // Width, title displacement, title font size (0: no title style), side and top padding.
        const std::tuple<double, double, double, double, double> cases[] = {
            {400, 22.5, 15, 20, 30}, // a title displaced up makes room for itself
            {410, 0, 15, 21, 21},    // not displaced up: no room; halves round away from zero
            {400, 3, 0, 20, 24},     // without a title style, the theme's text style counts
        };
        for (const auto& [width, displacement, fontSize, side, top] : cases) {
            PlotItem item;
            CPTGraph graph(QRectF(0, 0, width, 300));
            if (fontSize > 0) {
                auto style = CPTMutableTextStyle::textStyle();
                style->setFontSize(fontSize);
                graph.setTitleTextStyle(style);
            }
            graph.setTitleDisplacement(QPointF(0, displacement));
            item.setPaddingDefaultsForGraph(graph, QRectF(0, 0, width, 300));
            QCOMPARE(std::tuple(graph.paddingLeft(), graph.paddingRight(), graph.paddingBottom(),
                                graph.paddingTop()),
                     std::tuple(side, side, side, top));
        }
    }

    void imageIsACachedSnapshotOfThreeDefaultSlices() {
        SimplePieChart chart; // without data: wired, active and inactive at 20, 30 and 60
        PlotView host(QRectF(0, 0, 120, 80), nullptr);
        chart.renderInView(&host, nullptr, false);
        const QImage image = chart.image();
        QCOMPARE(chart.plotData(), std::optional(std::vector<int64_t>{20, 30, 60}));
        // Drawn anew at 400 x 300 in the snapshot's own view, which the chart moved into.
        QCOMPARE(image.size(), QSize(400, 300));
        QCOMPARE(host.findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 0);
        QCOMPARE(chart.graphs().front()->theme()->name(), kCPTDarkGradientTheme); // the default
        const auto middles = sliceMiddles({20, 30, 60}, QSize(400, 300));
        const auto layout = chart.graphs().front()->legendLayout();
        QCOMPARE(layout.entries.size(), std::size_t{3});
        for (std::size_t i = 0; i < 3; ++i) {
            QCOMPARE(image.pixelColor(middles[i]), kSliceColours[i]);
            QCOMPARE(layout.entries[i].title, kTitles[int(i)]);
        }
        QCOMPARE(chart.image().cacheKey(), image.cacheKey());
        chart.killGraph();
        QVERIFY(chart.image().cacheKey() != image.cacheKey());
    }

    void plotViewDelegateRules() {
        // A delegate that does not answer, one that answers; hidden or shown.
        for (bool answers : {false, true}) {
            for (bool shown : {false, true}) {
                PlotView view;
                auto delegate = std::make_shared<CountingDelegate>(answers);
                view.setDelegate(delegate);
                if (shown) {
                    view.show();
                    QVERIFY(QTest::qWaitForWindowExposed(&view));
                }
                delegate->sizes.clear();
                view.setFrameSize(QSizeF(240, 130));
                QCOMPARE(view.size(), QSize(240, 130));
                // The resize event held back while hidden does not tell the same size twice;
                // layouts resize without setFrameSize, and the delegate hears of those too.
                view.show();
                QVERIFY(QTest::qWaitForWindowExposed(&view));
                view.resize(310, 210);
                const std::vector<QSizeF> heard{{240, 130}, {310, 210}};
                QCOMPARE(delegate->sizes, answers ? heard : std::vector<QSizeF>());
            }
        }
        // A delegate set later hears the size the view already had.
        PlotView view;
        view.setFrameSize(QSizeF(200, 100));
        auto late = std::make_shared<CountingDelegate>(true);
        view.setDelegate(late);
        view.setFrameSize(QSizeF(200, 100));
        QCOMPARE(late->sizes, std::vector<QSizeF>{QSizeF(200, 100)});
    }

    void radiusRule() {
        // Size, left and top padding, radius: the height pairs with the left padding and
        // the width with the top one; a view smaller than its paddings gets no pie.
        const std::tuple<QSize, double, double, double> cases[] = {
            {{300, 200}, 20, 20, 64}, {{300, 200}, 10, 50, 72}, {{30, 30}, 20, 20, 0}};
        for (const auto& [size, left, top, radius] : cases) {
            CPTTheme::Look look;
            look.paddingLeft = left;
            look.paddingTop = top;
            SimplePieChart chart;
            PlotView view(QRectF(QPointF(0, 0), QSizeF(size)), nullptr);
            chart.renderInView(&view, std::make_shared<CPTTheme>(QStringLiteral("Test"), look), 0);
            const auto pie = chart.graphs().front()->allPlots().front();
            QCOMPARE(std::dynamic_pointer_cast<CPTPieChart>(pie)->pieRadius(), radius);
        }
    }

    void reloadDataRereadsEveryAnswer() {
        SimplePieChart chart;
        chart.setPlotData({1, 1, 5});
        chart.reloadData(); // before rendering: nothing to do
        PlotView view(QRectF(QPointF(), QSizeF(kPanel)), nullptr);
        chart.renderInView(&view, CPTTheme::themeNamed(kCPTPlainWhiteTheme), true);
        // New data shows only after the reload (painting alone asks nothing): 112.5 degrees
        // clockwise is inactive before it, wired after.
        const auto middles = sliceMiddles({5, 1, 1, 1}, kPanel);
        QCOMPARE(grab(view).pixelColor(middles[0]), kSliceColours[2]);
        chart.setPlotData({5, 1, 1, 1});
        QCOMPARE(grab(view).pixelColor(middles[0]), kSliceColours[2]);
        // The reload asks again for the count, the widths, the fills and the titles.
        chart.reloadData();
        const QImage image = grab(view);
        const auto layout = chart.graphs().front()->legendLayout();
        QCOMPARE(layout.entries.size(), std::size_t{4});
        for (std::size_t i = 0; i < 4; ++i) {
            QCOMPARE(image.pixelColor(middles[i]), kSliceColours[i]);
            QCOMPARE(layout.entries[i].title, kTitles[int(i)]);
        }
        // Nothing past the data.
        QCOMPARE(chart.numberForPlot(nullptr, 0, 4), std::optional<double>());
        QVERIFY(!chart.sliceFillForPieChart({}, 4) && !chart.legendTitleForPieChart({}, 4));
    }

    void fourValuesDrawInRecordOrderClockwiseWithTheirLegend() {
        for (const QString& theme : {kCPTPlainWhiteTheme, kCPTDarkGradientTheme}) {
            SimplePieChart chart;
            // Unequal shares, so a mirrored or rotated pie puts other colours at these points.
            chart.setPlotData({2 * kGiB, 5 * kGiB, 3 * kGiB, 6 * kGiB});
            PlotView view(QRectF(0, 0, 300, 260), nullptr);
            chart.renderInView(&view, CPTTheme::themeNamed(theme), true);
            const QImage image = grab(view);
            // On a background that suits the text, for people to see.
            const bool white = theme == kCPTPlainWhiteTheme;
            QImage shot(kPanel, QImage::Format_ARGB32_Premultiplied);
            shot.fill(white ? QColor(Qt::white) : QColor(45, 45, 45));
            QPainter(&shot).drawImage(0, 0, image);
            QVERIFY(QDir().mkpath(QStringLiteral(BRIMWELL_SCREENSHOT_DIR)));
            QVERIFY(shot.save(QStringLiteral(BRIMWELL_SCREENSHOT_DIR "/chart-%1.png")
                                  .arg(white ? "plain-white" : "dark-gradient")));
            const auto middles = sliceMiddles({2, 5, 3, 6}, kPanel);
            for (std::size_t i = 0; i < 4; ++i) {
                QCOMPARE(image.pixelColor(middles[i]), kSliceColours[i]);
            }
            // Slice borders are white: the border at twelve o'clock is much lighter.
            const QPointF top = centreFor(kPanel) - QPointF(0, radiusFor(kPanel) * 0.7);
            QVERIFY(std::max(qGray(image.pixel(top.toPoint())),
                             qGray(image.pixel((top - QPointF(1, 0)).toPoint()))) > 200);
            // Transparent around the pie: no graph fill, no frame border, no axes.
            for (const QPoint& p :
                 {QPoint(1, 1), QPoint(20, 130), QPoint(150, 240), QPoint(21, 239)}) {
                QCOMPARE(image.pixelColor(p).alpha(), 0);
            }
            // One legend row, its top 10 points down, centred, above the pie, left to right.
            const auto layout = chart.graphs().front()->legendLayout();
            QCOMPARE(layout.frame.top(), 10.0);
            QCOMPARE(layout.frame.center().x(), kPanel.width() / 2.0);
            QVERIFY(layout.frame.bottom() < centreFor(kPanel).y() - radiusFor(kPanel));
            QCOMPARE(layout.entries.size(), std::size_t{4});
            for (std::size_t i = 0; i < 4; ++i) {
                const auto& entry = layout.entries[i];
                QCOMPARE(image.pixelColor(entry.swatchRect.center().toPoint()), kSliceColours[i]);
                QVERIFY(i == 0 || entry.entryRect.left() > layout.entries[i - 1].entryRect.right());
            }
        }
    }

    void zeroEmptyOrSingleClassData() {
        // Data, legend entries, and the colour all over the pie (none: transparent).
        const std::tuple<std::vector<int64_t>, std::size_t, std::optional<QColor>> cases[] = {
            {{}, 0, std::nullopt},
            {{-5, 0, -1, 0}, 4, std::nullopt},
            {{0, 0, 0, 8 * kGiB}, 4, kSliceColours[3]}, // a whole pie has no radius line
        };
        for (const auto& [values, entries, colour] : cases) {
            SimplePieChart chart;
            chart.setPlotData(values);
            PlotView view(QRectF(0, 0, 300, 260), nullptr);
            chart.renderInView(&view, CPTTheme::themeNamed(kCPTPlainWhiteTheme), true);
            const QImage image = grab(view);
            for (const QPoint& p : sliceMiddles({0, 1, 1, 1, 1}, kPanel)) { // twelve o'clock first
                QCOMPARE(image.pixelColor(p), colour.value_or(QColor(0, 0, 0, 0)));
            }
            QCOMPARE(chart.graphs().front()->legendLayout().entries.size(), entries);
        }
    }
};

QTEST_MAIN(ChartTest)
#include "test_chart.moc"
