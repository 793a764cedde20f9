// The memory pie: data source answers, default data, radius rule, and what it draws:
// slice colours in record order clockwise, legend entries, transparency, theme text.

#include "CPTGraph.h"
#include "SimplePieChart.h"

#include <QDir>
#include <QLinearGradient>
#include <QPainter>
#include <QtTest>
#include <cmath>
#include <numbers>

namespace {
constexpr int64_t kGiB = 1024LL * 1024 * 1024;

const QColor kSliceColours[] = {QColor(228, 92, 56), QColor(235, 200, 94), QColor(76, 175, 175),
                                QColor(77, 175, 123)};
const QStringList kTitles = {"Wired", "Active", "Inactive", "Free"};

// Counts every data-source question the pie asks.
class CountingPie : public SimplePieChart {
public:
    int counts = 0;
    int numbers = 0;
    int fills = 0;
    int titles = 0;

    void resetCounts() { counts = numbers = fills = titles = 0; }

    unsigned long numberOfRecordsForPlot(CPTPlot* plot) override {
        ++counts;
        return SimplePieChart::numberOfRecordsForPlot(plot);
    }
    std::optional<double> numberForPlot(CPTPlot* plot, unsigned long field,
                                        unsigned long index) override {
        ++numbers;
        return SimplePieChart::numberForPlot(plot, field, index);
    }
    std::shared_ptr<CPTFill> sliceFillForPieChart(CPTPieChart* pie, unsigned long index) override {
        ++fills;
        return SimplePieChart::sliceFillForPieChart(pie, index);
    }
    std::optional<QString> legendTitleForPieChart(CPTPieChart* pie, unsigned long index) override {
        ++titles;
        return SimplePieChart::legendTitleForPieChart(pie, index);
    }
};

// A chart shown in a plot view that can be painted into an image at any time.
struct Shown {
    PlotView view;

    Shown(SimplePieChart& chart, const std::shared_ptr<CPTTheme>& theme, QSize size)
        : view(QRectF(QPointF(0, 0), QSizeF(size)), nullptr) {
        chart.renderInView(&view, theme, true);
    }

    QImage grab() {
        QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        view.render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    }
};

QColor colourAt(const QImage& image, QPointF point) {
    return QColor::fromRgba(image.pixel(static_cast<int>(std::floor(point.x())),
                                        static_cast<int>(std::floor(point.y()))));
}

// Middle of each slice, clockwise from twelve o'clock, at 60 % of the radius.
std::vector<QPointF> sliceMiddles(const std::vector<double>& values, QPointF centre,
                                  double radius) {
    double sum = 0;
    for (double v : values) {
        sum += v;
    }
    std::vector<QPointF> points;
    double before = 0;
    for (double v : values) {
        const double turn = 2.0 * std::numbers::pi * (before + v / 2.0) / sum;
        points.emplace_back(centre.x() + 0.6 * radius * std::sin(turn),
                            centre.y() - 0.6 * radius * std::cos(turn));
        before += v;
    }
    return points;
}

// Where the pie sits in a view with paddings of 20: centred across, 41 % up the plot area.
QPointF centreFor(QSize size) {
    return {size.width() / 2.0, size.height() - 20.0 - 0.41 * (size.height() - 40.0)};
}
double radiusFor(QSize size) {
    return std::min((size.height() - 40.0) * 0.4, (size.width() - 40.0) * 0.4);
}

int inkIn(const QImage& image, const QRectF& rect, int* lightest, int* darkest) {
    int ink = 0;
    *lightest = 0;
    *darkest = 255;
    const QRect r = rect.toAlignedRect().intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = QColor::fromRgba(image.pixel(x, y));
            if (c.alpha() > 200) {
                ++ink;
                *lightest = std::max(*lightest, qGray(c.rgb()));
                *darkest = std::min(*darkest, qGray(c.rgb()));
            }
        }
    }
    return ink;
}

void saveScreenshot(const QString& name, const QImage& chart, const QBrush& background) {
    QDir().mkpath(QStringLiteral(BRIMWELL_SCREENSHOT_DIR));
    QImage shot(chart.size(), QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&shot);
    painter.fillRect(shot.rect(), background);
    painter.drawImage(0, 0, chart);
    painter.end();
    QVERIFY(shot.save(QStringLiteral(BRIMWELL_SCREENSHOT_DIR "/") + name));
}

std::vector<int64_t> realisticSample() {
    // Wired, active, inactive, free of a 16 GiB machine.
    return {2 * kGiB + kGiB / 10, 6 * kGiB + kGiB * 3 / 10, 3 * kGiB + kGiB * 4 / 10,
            4 * kGiB + kGiB * 2 / 10};
}

std::vector<double> asDoubles(const std::vector<int64_t>& values) {
    return {values.begin(), values.end()};
}
} // namespace

class SimplePieChartTest : public QObject {
    Q_OBJECT

private slots:
    void numberForPlot_data() {
        QTest::addColumn<int>("field");
        QTest::addColumn<int>("index");
        QTest::addColumn<double>("expected"); // NaN: no number
        QTest::newRow("slice width") << 0 << 1 << 7000.0;
        QTest::newRow("field 1 answers the index") << 1 << 2 << 2.0;
        QTest::newRow("other fields answer the index") << 5 << 3 << 3.0;
        QTest::newRow("index past the data") << 0 << 4 << std::nan("");
        QTest::newRow("index past the data, other field") << 1 << 9 << 9.0;
    }
    void numberForPlot() {
        QFETCH(int, field);
        QFETCH(int, index);
        QFETCH(double, expected);
        SimplePieChart chart;
        chart.setPlotData({5000, 7000, 11000, 13000});
        const auto number = chart.numberForPlot(nullptr, static_cast<unsigned long>(field),
                                                static_cast<unsigned long>(index));
        if (std::isnan(expected)) {
            QVERIFY(!number);
        } else {
            QVERIFY(number);
            QCOMPARE(*number, expected);
        }
    }

    void largeByteCountsStayExact() {
        SimplePieChart chart;
        chart.setPlotData({64 * kGiB + 4096});
        QCOMPARE(*chart.numberForPlot(nullptr, 0, 0), static_cast<double>(64 * kGiB + 4096));
    }

    void recordCountIsTheDataLength() {
        SimplePieChart chart;
        QCOMPARE(chart.numberOfRecordsForPlot(nullptr), 0UL);
        chart.setPlotData({1, 2, 3, 4});
        QCOMPARE(chart.numberOfRecordsForPlot(nullptr), 4UL);
        chart.setPlotData({});
        QCOMPARE(chart.numberOfRecordsForPlot(nullptr), 0UL);
    }

    void fillsAndTitles_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<double>("red");
        QTest::addColumn<double>("green");
        QTest::addColumn<double>("blue");
        QTest::addColumn<QString>("title");
        QTest::newRow("wired") << 0 << 0.890625 << 0.359375 << 0.21875 << "Wired";
        QTest::newRow("active") << 1 << 0.91796875 << 0.78125 << 0.3671875 << "Active";
        QTest::newRow("inactive") << 2 << 0.296875 << 0.68359375 << 0.68359375 << "Inactive";
        QTest::newRow("free") << 3 << 0.30078125 << 0.68359375 << 0.48046875 << "Free";
    }
    void fillsAndTitles() {
        QFETCH(int, index);
        QFETCH(double, red);
        QFETCH(double, green);
        QFETCH(double, blue);
        QFETCH(QString, title);
        SimplePieChart chart;
        const auto fill = chart.sliceFillForPieChart(nullptr, static_cast<unsigned long>(index));
        QVERIFY(fill);
        QVERIFY(fill->solidColor());
        QCOMPARE(*fill->solidColor(), CPTColor::colorWithComponentRed(red, green, blue, 1.0));
        QCOMPARE(chart.legendTitleForPieChart(nullptr, static_cast<unsigned long>(index)),
                 std::optional<QString>(title));
    }

    void noFillOrTitlePastTheFourth() {
        SimplePieChart chart;
        for (unsigned long index : {4UL, 5UL, 1000UL}) {
            QVERIFY(!chart.sliceFillForPieChart(nullptr, index));
            QVERIFY(!chart.legendTitleForPieChart(nullptr, index));
        }
    }

    void generateDataOnlyFillsMissingData() {
        SimplePieChart fresh;
        QVERIFY(!fresh.plotData());
        fresh.generateData();
        QCOMPARE(fresh.plotData(), std::optional(std::vector<int64_t>{20, 30, 60}));

        for (const std::vector<int64_t>& given :
             {std::vector<int64_t>{}, std::vector<int64_t>{1, 2, 3, 4}}) {
            SimplePieChart chart;
            chart.setPlotData(given);
            chart.generateData();
            QCOMPARE(chart.plotData(), std::optional(given));
        }
    }

    void radiusRule_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<double>("paddingLeft");
        QTest::addColumn<double>("paddingTop");
        QTest::addColumn<double>("radius");
        QTest::newRow("300 x 200, paddings 20") << QSize(300, 200) << 20.0 << 20.0 << 64.0;
        QTest::newRow("width is the tighter side") << QSize(200, 300) << 20.0 << 20.0 << 64.0;
        QTest::newRow("height pairs with left padding") << QSize(300, 200) << 10.0 << 50.0 << 72.0;
        QTest::newRow("width pairs with top padding") << QSize(300, 200) << 50.0 << 10.0 << 40.0;
        QTest::newRow("smaller than its paddings") << QSize(30, 30) << 20.0 << 20.0 << 0.0;
    }
    void radiusRule() {
        QFETCH(QSize, size);
        QFETCH(double, paddingLeft);
        QFETCH(double, paddingTop);
        QFETCH(double, radius);
        CPTTheme::Look look;
        look.paddingLeft = paddingLeft;
        look.paddingTop = paddingTop;
        const auto theme = std::make_shared<CPTTheme>(QStringLiteral("Test"), look);
        SimplePieChart chart;
        chart.setPlotData({1, 1, 1, 1});
        Shown shown(chart, theme, size);
        QCOMPARE(chart.graphs().size(), std::size_t{1});
        const auto& plots = chart.graphs().front()->allPlots();
        QCOMPARE(plots.size(), std::size_t{1});
        const auto pie = std::dynamic_pointer_cast<CPTPieChart>(plots.front());
        QVERIFY(pie);
        QCOMPARE(pie->pieRadius(), radius);
    }

    void reloadDataBeforeRenderingDoesNothing() {
        CountingPie chart;
        chart.setPlotData({1, 2, 3, 4});
        chart.reloadData();
        QCOMPARE(chart.counts + chart.numbers + chart.fills + chart.titles, 0);
        QVERIFY(chart.graphs().empty());
    }

    void reloadDataRereadsEveryAnswer() {
        CountingPie chart;
        chart.setPlotData({1, 2, 3, 4});
        Shown shown(chart, CPTTheme::themeNamed(kCPTPlainWhiteTheme), QSize(300, 260));
        shown.grab();
        chart.resetCounts();
        shown.grab(); // painting alone asks nothing
        QCOMPARE(chart.counts + chart.numbers + chart.fills + chart.titles, 0);

        chart.setPlotData({4, 3, 2, 1});
        chart.reloadData();
        QCOMPARE(chart.counts, 1);
        QCOMPARE(chart.numbers, 4);
        QCOMPARE(chart.fills, 4);
        QCOMPARE(chart.titles, 4);
    }

    void setPlotDataWaitsForReload() {
        SimplePieChart chart;
        const std::vector<int64_t> before = {1, 1, 1, 5};
        const std::vector<int64_t> after = {5, 1, 1, 1};
        chart.setPlotData(before);
        const QSize size(300, 260);
        Shown shown(chart, CPTTheme::themeNamed(kCPTPlainWhiteTheme), size);
        // 112.5 degrees clockwise: inactive before, wired after.
        const QPointF probe = sliceMiddles(asDoubles(after), centreFor(size), radiusFor(size))[0];
        QCOMPARE(colourAt(shown.grab(), probe), kSliceColours[2]);

        chart.setPlotData(after);
        QCOMPARE(colourAt(shown.grab(), probe), kSliceColours[2]);
        chart.reloadData();
        QCOMPARE(colourAt(shown.grab(), probe), kSliceColours[0]);
    }

    void fourValuesDrawInRecordOrderClockwise_data() {
        QTest::addColumn<QString>("theme");
        QTest::addColumn<QSize>("size");
        QTest::newRow("plain white, panel size") << kCPTPlainWhiteTheme << QSize(300, 260);
        QTest::newRow("dark gradient, snapshot size") << kCPTDarkGradientTheme << QSize(400, 300);
    }
    void fourValuesDrawInRecordOrderClockwise() {
        QFETCH(QString, theme);
        QFETCH(QSize, size);
        SimplePieChart chart;
        // Unequal shares, so a mirrored or rotated pie puts other colours at these points.
        const std::vector<int64_t> values = {2 * kGiB, 5 * kGiB, 3 * kGiB, 6 * kGiB};
        chart.setPlotData(values);
        Shown shown(chart, CPTTheme::themeNamed(theme), size);
        const QImage image = shown.grab();

        const auto middles = sliceMiddles(asDoubles(values), centreFor(size), radiusFor(size));
        for (std::size_t i = 0; i < middles.size(); ++i) {
            QCOMPARE(colourAt(image, middles[i]), kSliceColours[i]);
        }
        // Slice borders are white: the border at twelve o'clock lightens the pixels it
        // crosses well beyond the slices on either side of it.
        const QPointF top = centreFor(size) - QPointF(0, radiusFor(size) * 0.7);
        const int border = std::max(qGray(colourAt(image, top).rgb()),
                                    qGray(colourAt(image, top - QPointF(1, 0)).rgb()));
        QVERIFY(border > qGray(kSliceColours[0].rgb()) + 40);
        QVERIFY(border > qGray(kSliceColours[3].rgb()) + 40);
        // Transparent around the pie: no graph fill, no frame border, no axes.
        const QRectF plotArea(20, 20, size.width() - 40, size.height() - 40);
        for (const QPointF& p : {QPointF(1, 1), QPointF(size.width() - 2, size.height() - 2),
                                 QPointF(plotArea.left(), plotArea.center().y()),
                                 QPointF(plotArea.center().x(), plotArea.bottom()),
                                 QPointF(plotArea.left() + 1, plotArea.bottom() - 1)}) {
            QCOMPARE(colourAt(image, p).alpha(), 0);
        }
    }

    void legendShowsTheFourClassesInOneRow() {
        SimplePieChart chart;
        chart.setPlotData(realisticSample());
        const QSize size(300, 260);
        Shown shown(chart, CPTTheme::themeNamed(kCPTPlainWhiteTheme), size);
        const QImage image = shown.grab();
        const auto layout = chart.graphs().front()->legendLayout();

        QCOMPARE(layout.frame.top(), 10.0);
        QCOMPARE(layout.frame.center().x(), size.width() / 2.0);
        QVERIFY(layout.frame.right() <= size.width());
        QCOMPARE(static_cast<int>(layout.entries.size()), 4);
        for (int i = 0; i < 4; ++i) {
            const auto& entry = layout.entries[static_cast<std::size_t>(i)];
            QCOMPARE(entry.title, kTitles[i]);
            QCOMPARE(entry.entryRect.top(), layout.entries.front().entryRect.top());
            if (i > 0) {
                QVERIFY(entry.entryRect.left() >
                        layout.entries[static_cast<std::size_t>(i - 1)].entryRect.right());
            }
            QCOMPARE(colourAt(image, entry.swatchRect.center()), kSliceColours[i]);
            QCOMPARE(entry.swatchRect.left() - entry.entryRect.left(), 3.0);
            int lightest = 0;
            int darkest = 0;
            QVERIFY2(inkIn(image, entry.titleRect, &lightest, &darkest) > 10,
                     qPrintable(entry.title));
        }
        // The legend sits above the pie.
        QVERIFY(layout.frame.bottom() < centreFor(size).y() - radiusFor(size));
    }

    void themeDecidesTheTextColour_data() {
        QTest::addColumn<QString>("theme");
        QTest::addColumn<bool>("lightText");
        QTest::newRow("plain white") << kCPTPlainWhiteTheme << false;
        QTest::newRow("dark gradient") << kCPTDarkGradientTheme << true;
        QTest::newRow("no theme is dark gradient") << QString() << true;
    }
    void themeDecidesTheTextColour() {
        QFETCH(QString, theme);
        QFETCH(bool, lightText);
        SimplePieChart chart;
        chart.setPlotData(realisticSample());
        Shown shown(chart, theme.isEmpty() ? nullptr : CPTTheme::themeNamed(theme),
                    QSize(300, 260));
        const QImage image = shown.grab();
        const auto layout = chart.graphs().front()->legendLayout();
        int lightest = 0;
        int darkest = 0;
        QVERIFY(inkIn(image, layout.entries.front().titleRect, &lightest, &darkest) > 0);
        if (lightText) {
            QVERIFY(lightest > 200);
            QVERIFY(darkest > 100);
        } else {
            QVERIFY(darkest < 80);
            QVERIFY(lightest < 160);
        }
    }

    void withoutDataShowsThreeDefaultSlices() {
        SimplePieChart chart;
        const QImage image = chart.image();
        QCOMPARE(chart.plotData(), std::optional(std::vector<int64_t>{20, 30, 60}));
        const QSize size(400, 300);
        const auto middles = sliceMiddles({20, 30, 60}, centreFor(size), radiusFor(size));
        for (std::size_t i = 0; i < middles.size(); ++i) {
            QCOMPARE(colourAt(image, middles[i]), kSliceColours[i]);
        }
        const auto layout = chart.graphs().front()->legendLayout();
        QCOMPARE(static_cast<int>(layout.entries.size()), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(layout.entries[static_cast<std::size_t>(i)].title, kTitles[i]);
        }
    }

    void zeroOrEmptyDataDrawsNoSlices_data() {
        QTest::addColumn<std::vector<int64_t>>("values");
        QTest::addColumn<int>("entries");
        QTest::newRow("four zeros, as without a sample") << std::vector<int64_t>{0, 0, 0, 0} << 4;
        QTest::newRow("empty list") << std::vector<int64_t>{} << 0;
        QTest::newRow("negative counts") << std::vector<int64_t>{-5, 0, -1, 0} << 4;
    }
    void zeroOrEmptyDataDrawsNoSlices() {
        QFETCH(std::vector<int64_t>, values);
        QFETCH(int, entries);
        SimplePieChart chart;
        chart.setPlotData(values);
        const QSize size(300, 260);
        Shown shown(chart, CPTTheme::themeNamed(kCPTPlainWhiteTheme), size);
        const QImage image = shown.grab();
        const QPointF centre = centreFor(size);
        const double r = radiusFor(size);
        for (const QPointF& p : {centre, centre + QPointF(r / 2, 0), centre - QPointF(0, r / 2),
                                 centre + QPointF(-r / 2, r / 2)}) {
            QCOMPARE(colourAt(image, p).alpha(), 0);
        }
        QCOMPARE(static_cast<int>(chart.graphs().front()->legendLayout().entries.size()), entries);
    }

    void oneClassFillsTheWholePie() {
        SimplePieChart chart;
        chart.setPlotData({0, 0, 0, 8 * kGiB});
        const QSize size(300, 260);
        Shown shown(chart, CPTTheme::themeNamed(kCPTPlainWhiteTheme), size);
        const QImage image = shown.grab();
        const QPointF centre = centreFor(size);
        const double r = radiusFor(size);
        for (const QPointF& p : {centre - QPointF(0, r / 2), centre + QPointF(r / 2, 0),
                                 centre + QPointF(0, r / 2), centre - QPointF(r / 2, 0)}) {
            QCOMPARE(colourAt(image, p), kSliceColours[3]);
        }
    }

    void screenshots() {
        const QSize size(300, 260);
        {
            SimplePieChart chart;
            chart.setPlotData(realisticSample());
            Shown shown(chart, CPTTheme::themeNamed(kCPTPlainWhiteTheme), size);
            saveScreenshot(QStringLiteral("chart-plain-white.png"), shown.grab(), Qt::white);
        }
        {
            SimplePieChart chart;
            chart.setPlotData(realisticSample());
            Shown shown(chart, CPTTheme::themeNamed(kCPTDarkGradientTheme), size);
            QLinearGradient dark(0, 0, 0, size.height());
            dark.setColorAt(0, QColor(77, 77, 77));
            dark.setColorAt(1, QColor(26, 26, 26));
            saveScreenshot(QStringLiteral("chart-dark-gradient.png"), shown.grab(), dark);
        }
    }
};

QTEST_MAIN(SimplePieChartTest)
#include "test_simple_pie_chart.moc"
