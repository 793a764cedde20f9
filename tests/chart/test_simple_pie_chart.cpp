// The memory pie: data source answers, default data, radius rule, and what it draws:
// slice colours in record order clockwise, legend entries, transparency, theme text.

#include "chart/SimplePieChart.h"
#include "chart/framework/CPTGraph.h"

#include <QDir>
#include <QPainter>
#include <QtTest>
#include <cmath>
#include <numbers>
#include <numeric>

namespace {
constexpr int64_t kGiB = 1024LL * 1024 * 1024;
const QColor kSliceColours[] = {QColor(228, 92, 56), QColor(235, 200, 94), QColor(76, 175, 175),
                                QColor(77, 175, 123)};
const QStringList kTitles = {"Wired", "Active", "Inactive", "Free"};
const QSize kPanel(300, 260);

// Counts every data-source question the pie asks.
class CountingPie : public SimplePieChart {
public:
    int asked[4] = {}; // records, numbers, fills, titles

    unsigned long numberOfRecordsForPlot(CPTPlot* plot) override {
        ++asked[0];
        return SimplePieChart::numberOfRecordsForPlot(plot);
    }
    std::optional<double> numberForPlot(CPTPlot* p, unsigned long f, unsigned long i) override {
        ++asked[1];
        return SimplePieChart::numberForPlot(p, f, i);
    }
    std::shared_ptr<CPTFill> sliceFillForPieChart(CPTPieChart* pie, unsigned long i) override {
        ++asked[2];
        return SimplePieChart::sliceFillForPieChart(pie, i);
    }
    std::optional<QString> legendTitleForPieChart(CPTPieChart* pie, unsigned long i) override {
        ++asked[3];
        return SimplePieChart::legendTitleForPieChart(pie, i);
    }
};

// The chart in `view` and everything under it, painted into an image.
QImage grab(QWidget& view) {
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    view.render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

QColor pixelAt(const QImage& image, QPointF point) {
    return image.pixelColor(point.toPoint());
}

// Where the pie sits in a view with paddings of 20: centred across, 41 % up the plot area.
QPointF centreFor(QSize size) {
    return {size.width() / 2.0, size.height() - 20.0 - 0.41 * (size.height() - 40.0)};
}
double radiusFor(QSize size) {
    return std::min(size.height() - 40.0, size.width() - 40.0) * 0.4;
}

// Middle of each slice, clockwise from twelve o'clock, at 60 % of the radius.
std::vector<QPointF> sliceMiddles(const std::vector<double>& values, QSize size) {
    const double sum = std::accumulate(values.begin(), values.end(), 0.0);
    std::vector<QPointF> points;
    double before = 0;
    for (double v : values) {
        const double turn = 2.0 * std::numbers::pi * (before + v / 2.0) / sum;
        points.push_back(centreFor(size) +
                         0.6 * radiusFor(size) * QPointF(std::sin(turn), -std::cos(turn)));
        before += v;
    }
    return points;
}

const std::vector<int64_t> kSample = {2 * kGiB, 5 * kGiB, 3 * kGiB, 6 * kGiB};
} // namespace

class SimplePieChartTest : public QObject {
    Q_OBJECT

private slots:
    void dataSourceAnswers() {
        SimplePieChart chart;
        chart.setPlotData({5000, 7000, 11000, 64 * kGiB + 4096});
        QCOMPARE(chart.numberForPlot(nullptr, 0, 3), std::optional(double(64 * kGiB + 4096)));
        QCOMPARE(chart.numberForPlot(nullptr, 0, 4), std::optional<double>());
        // Any other field answers the record index, even past the data.
        QCOMPARE(chart.numberForPlot(nullptr, 1, 9), std::optional(9.0));
        QVERIFY(!chart.sliceFillForPieChart({}, 4) && !chart.legendTitleForPieChart({}, 4));
    }

    void generateDataOnlyFillsMissingData() {
        // Without data: see withoutDataShowsThreeDefaultSlices.
        for (const std::vector<int64_t>& given : {std::vector<int64_t>{}, kSample}) {
            SimplePieChart chart;
            chart.setPlotData(given);
            chart.generateData();
            QCOMPARE(chart.plotData(), std::optional(given));
        }
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
        CountingPie chart;
        chart.setPlotData({1, 1, 1, 5});
        chart.reloadData(); // before rendering: nothing to do
        QCOMPARE(chart.asked[0] + chart.asked[1] + chart.asked[2] + chart.asked[3], 0);
        PlotView view(QRectF(0, 0, 300, 260), nullptr);
        chart.renderInView(&view, CPTTheme::themeNamed(kCPTPlainWhiteTheme), true);
        grab(view);
        std::fill(std::begin(chart.asked), std::end(chart.asked), 0);
        grab(view); // painting alone asks nothing
        QCOMPARE(chart.asked[0] + chart.asked[1] + chart.asked[2] + chart.asked[3], 0);
        chart.reloadData();
        QCOMPARE(std::vector<int>(std::begin(chart.asked), std::end(chart.asked)),
                 (std::vector<int>{1, 4, 4, 4}));
        // New data shows only after the reload: 112.5 degrees clockwise is inactive, then wired.
        const QPointF probe = sliceMiddles({5, 1, 1, 1}, kPanel)[0];
        QCOMPARE(pixelAt(grab(view), probe), kSliceColours[2]);
        chart.setPlotData({5, 1, 1, 1});
        QCOMPARE(pixelAt(grab(view), probe), kSliceColours[2]);
        chart.reloadData();
        QCOMPARE(pixelAt(grab(view), probe), kSliceColours[0]);
    }

    void fourValuesDrawInRecordOrderClockwiseWithTheirLegend() {
        // No theme means the dark gradient.
        for (const QString& theme : {kCPTPlainWhiteTheme, kCPTDarkGradientTheme, QString()}) {
            SimplePieChart chart;
            // Unequal shares, so a mirrored or rotated pie puts other colours at these points.
            chart.setPlotData(kSample);
            PlotView view(QRectF(0, 0, 300, 260), nullptr);
            chart.renderInView(&view, CPTTheme::themeNamed(theme), true);
            const QImage image = grab(view);
            const auto middles = sliceMiddles({2, 5, 3, 6}, kPanel);
            for (std::size_t i = 0; i < 4; ++i) {
                QCOMPARE(pixelAt(image, middles[i]), kSliceColours[i]);
            }
            // Slice borders are white: the border at twelve o'clock is much lighter.
            const QPointF top = centreFor(kPanel) - QPointF(0, radiusFor(kPanel) * 0.7);
            QVERIFY(std::max(qGray(image.pixel(top.toPoint())),
                             qGray(image.pixel((top - QPointF(1, 0)).toPoint()))) > 200);
            // Transparent around the pie: no graph fill, no frame border, no axes.
            for (const QPointF& p :
                 {QPointF(1, 1), QPointF(20, 130), QPointF(150, 240), QPointF(21, 239)}) {
                QCOMPARE(pixelAt(image, p).alpha(), 0);
            }
            // One legend row, its top 10 points down, centred, above the pie, left to right.
            const auto layout = chart.graphs().front()->legendLayout();
            QCOMPARE(layout.frame.top(), 10.0);
            QCOMPARE(layout.frame.center().x(), kPanel.width() / 2.0);
            QVERIFY(layout.frame.bottom() < centreFor(kPanel).y() - radiusFor(kPanel));
            QCOMPARE(layout.entries.size(), std::size_t{4});
            for (std::size_t i = 0; i < 4; ++i) {
                const auto& entry = layout.entries[i];
                QCOMPARE(entry.title, kTitles[int(i)]);
                QCOMPARE(pixelAt(image, entry.swatchRect.center()), kSliceColours[i]);
                QCOMPARE(entry.swatchRect.left() - entry.entryRect.left(), 3.0);
                QVERIFY(i == 0 || entry.entryRect.left() > layout.entries[i - 1].entryRect.right());
                // The title is drawn in it.
                const QImage title = image.copy(entry.titleRect.toAlignedRect())
                                         .convertToFormat(QImage::Format_Alpha8);
                QVERIFY(std::any_of(title.constBits(), title.constBits() + title.sizeInBytes(),
                                    [](uchar alpha) { return alpha > 200; }));
            }
        }
    }

    void withoutDataShowsThreeDefaultSlices() {
        SimplePieChart chart;
        const QImage image = chart.image();
        QCOMPARE(chart.plotData(), std::optional(std::vector<int64_t>{20, 30, 60}));
        const auto middles = sliceMiddles({20, 30, 60}, QSize(400, 300));
        const auto layout = chart.graphs().front()->legendLayout();
        QCOMPARE(layout.entries.size(), std::size_t{3});
        for (std::size_t i = 0; i < 3; ++i) {
            QCOMPARE(pixelAt(image, middles[i]), kSliceColours[i]);
            QCOMPARE(layout.entries[i].title, kTitles[int(i)]);
        }
    }

    void zeroEmptyOrSingleClassData() {
        // Data, legend entries, and the colour all over the pie (none: transparent).
        const std::tuple<std::vector<int64_t>, std::size_t, std::optional<QColor>> cases[] = {
            {{0, 0, 0, 0}, 4, std::nullopt},
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
            const QPointF c = centreFor(kPanel);
            const double r = radiusFor(kPanel) / 2;
            for (const QPointF& p :
                 {c - QPointF(0, r), c + QPointF(r, 0), c + QPointF(0, r), c - QPointF(r, 0)}) {
                QCOMPARE(pixelAt(image, p), colour.value_or(QColor(0, 0, 0, 0)));
            }
            QCOMPARE(chart.graphs().front()->legendLayout().entries.size(), entries);
        }
    }

    void screenshots() {
        QDir().mkpath(QStringLiteral(BRIMWELL_SCREENSHOT_DIR));
        for (const QString& theme : {kCPTPlainWhiteTheme, kCPTDarkGradientTheme}) {
            const bool white = theme == kCPTPlainWhiteTheme;
            SimplePieChart chart;
            chart.setPlotData(kSample);
            PlotView view(QRectF(0, 0, 300, 260), nullptr);
            chart.renderInView(&view, CPTTheme::themeNamed(theme), true);
            // The chart is transparent: put it on a background that suits its text.
            QImage shot(kPanel, QImage::Format_ARGB32_Premultiplied);
            shot.fill(white ? QColor(Qt::white) : QColor(45, 45, 45));
            QPainter(&shot).drawImage(0, 0, grab(view));
            QVERIFY(shot.save(QStringLiteral(BRIMWELL_SCREENSHOT_DIR "/chart-%1.png")
                                  .arg(white ? "plain-white" : "dark-gradient")));
        }
    }
};

QTEST_MAIN(SimplePieChartTest)
#include "test_simple_pie_chart.moc"
