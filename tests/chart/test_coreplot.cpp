// The chart framework on its own: colours, pie geometry, data loading, legend layout,
// title placement, themes, hosting view and animations.

#include "CPTAnimation.h"
#include "CPTColor.h"
#include "CPTGraph.h"
#include "CPTGraphHostingView.h"
#include "CPTLegend.h"
#include "CPTPieChart.h"
#include "CPTTheme.h"

#include <QPainter>
#include <QVariantAnimation>
#include <QtTest>
#include <cmath>
#include <limits>

namespace {
// A pie data source with fixed answers that counts what it is asked.
class FakePieSource : public CPTPieChartDataSource {
public:
    std::vector<double> widths;
    std::vector<QColor> colours; // missing entries answer no fill
    int countCalls = 0;
    int numberCalls = 0;
    int fillCalls = 0;
    int titleCalls = 0;

    unsigned long numberOfRecordsForPlot(CPTPlot*) override {
        ++countCalls;
        return static_cast<unsigned long>(widths.size());
    }
    std::optional<double> numberForPlot(CPTPlot*, unsigned long, unsigned long i) override {
        ++numberCalls;
        return widths.at(i);
    }
    std::shared_ptr<CPTFill> sliceFillForPieChart(CPTPieChart*, unsigned long i) override {
        ++fillCalls;
        if (i >= colours.size()) {
            return nullptr;
        }
        return CPTFill::fillWithColor(CPTColor::colorWithCGColor(colours[i]));
    }
    std::optional<QString> legendTitleForPieChart(CPTPieChart*, unsigned long i) override {
        ++titleCalls;
        return QStringLiteral("T%1").arg(i);
    }
};

// Answers widths only, like any plot's data source.
class PlainSource : public CPTPlotDataSource {
public:
    unsigned long numberOfRecordsForPlot(CPTPlot*) override { return 2; }
    std::optional<double> numberForPlot(CPTPlot*, unsigned long, unsigned long) override {
        return 1.0;
    }
};

QImage transparentImage(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QImage draw(const CPTGraph& graph) {
    QImage image = transparentImage(static_cast<int>(graph.bounds().width()),
                                    static_cast<int>(graph.bounds().height()));
    QPainter painter(&image);
    graph.draw(painter);
    return image;
}

QRgb pixelAt(const QImage& image, QPointF point) {
    return image.pixel(static_cast<int>(std::floor(point.x())),
                       static_cast<int>(std::floor(point.y())));
}

// Graph with no paddings holding one pie of radius 80 centred in a 200 x 200 area.
struct PieFixture {
    std::shared_ptr<CPTGraph> graph = std::make_shared<CPTGraph>(QRectF(0, 0, 200, 200));
    std::shared_ptr<CPTPieChart> pie = std::make_shared<CPTPieChart>();
    FakePieSource source;

    PieFixture() {
        graph->setPaddingLeft(0);
        graph->setPaddingTop(0);
        graph->setPaddingRight(0);
        graph->setPaddingBottom(0);
        pie->setPieRadius(80);
        pie->setDataSource(&source);
        graph->addPlot(pie);
    }
};
} // namespace

class CorePlotTest : public QObject {
    Q_OBJECT

private slots:
    void colourBytes_data() {
        QTest::addColumn<double>("fraction");
        QTest::addColumn<int>("byte");
        QTest::newRow("256ths keep their byte") << 0.890625 << 228;
        QTest::newRow("another 256ths value") << 0.30078125 << 77;
        QTest::newRow("zero") << 0.0 << 0;
        QTest::newRow("half") << 0.5 << 128;
        QTest::newRow("one caps at 255") << 1.0 << 255;
        QTest::newRow("above one clamps") << 1.5 << 255;
        QTest::newRow("negative clamps") << -0.25 << 0;
        QTest::newRow("NaN is zero") << std::numeric_limits<double>::quiet_NaN() << 0;
    }
    void colourBytes() {
        QFETCH(double, fraction);
        QFETCH(int, byte);
        const QColor colour =
            CPTColor::colorWithComponentRed(fraction, fraction, fraction, fraction).qColor();
        QCOMPARE(colour.red(), byte);
        QCOMPARE(colour.green(), byte);
        QCOMPARE(colour.blue(), byte);
        QCOMPARE(colour.alpha(), byte);
    }

    void toolkitColoursRoundTrip() {
        for (const QColor& colour : {QColor(0, 0, 0, 0), QColor(255, 255, 255), QColor(1, 128, 254),
                                     QColor(228, 92, 56, 100)}) {
            QCOMPARE(CPTColor::colorWithCGColor(colour).qColor(), colour);
        }
    }

    void sliceArcs_data() {
        QTest::addColumn<std::vector<double>>("widths");
        QTest::addColumn<int>("direction");
        QTest::addColumn<std::vector<double>>("starts");
        QTest::addColumn<std::vector<double>>("sweeps");
        QTest::newRow("clockwise from the top")
            << std::vector<double>{1, 1, 2} << 0 << std::vector<double>{90, 0, -90}
            << std::vector<double>{-90, -90, -180};
        QTest::newRow("counter-clockwise")
            << std::vector<double>{1, 1, 2} << 1 << std::vector<double>{90, 180, 270}
            << std::vector<double>{90, 90, 180};
        QTest::newRow("byte counts keep proportion")
            << std::vector<double>{3e9, 1e9} << 0 << std::vector<double>{90, -180}
            << std::vector<double>{-270, -90};
        QTest::newRow("negative and NaN count as nothing")
            << std::vector<double>{-5, std::numeric_limits<double>::quiet_NaN(), 5} << 0
            << std::vector<double>{90, 90, 90} << std::vector<double>{0, 0, -360};
        QTest::newRow("all zero gives no arcs") << std::vector<double>{0, 0, 0, 0} << 0
                                                << std::vector<double>{} << std::vector<double>{};
        QTest::newRow("no records")
            << std::vector<double>{} << 0 << std::vector<double>{} << std::vector<double>{};
    }
    void sliceArcs() {
        QFETCH(std::vector<double>, widths);
        QFETCH(int, direction);
        QFETCH(std::vector<double>, starts);
        QFETCH(std::vector<double>, sweeps);
        PieFixture f;
        f.source.widths = widths;
        f.pie->setSliceDirection(static_cast<CPTPieDirection>(direction));
        f.pie->reloadData();
        const auto arcs = f.pie->sliceArcs();
        QCOMPARE(arcs.size(), starts.size());
        for (std::size_t i = 0; i < arcs.size(); ++i) {
            QCOMPARE(arcs[i].startDegrees, starts[i]);
            QCOMPARE(arcs[i].sweepDegrees, sweeps[i]);
        }
    }

    void pieLoadsOnceUntilReloaded() {
        PieFixture f;
        f.source.widths = {1, 2, 3};
        draw(*f.graph);
        draw(*f.graph);
        QCOMPARE(f.source.countCalls, 1);
        QCOMPARE(f.source.numberCalls, 3);

        f.source.widths = {4, 5};
        f.graph->reloadData();
        QCOMPARE(f.source.countCalls, 2);
        QCOMPARE(f.source.numberCalls, 5);
        QCOMPARE(f.source.fillCalls, 5);
        QCOMPARE(f.source.titleCalls, 5);
        QCOMPARE(f.pie->slices().size(), std::size_t{2});
        QCOMPARE(f.pie->slices()[1].width, 5.0);
    }

    void missingFillsAndTitlesFallBack() {
        PieFixture f;
        f.source.widths = {1, 1};
        f.source.colours = {QColor(10, 20, 30)};
        f.pie->reloadData();
        QCOMPARE(f.pie->slices()[0].fill->solidColor()->qColor(), QColor(10, 20, 30));
        QCOMPARE(f.pie->slices()[1].fill->solidColor(),
                 CPTPieChart::defaultSliceFill(1)->solidColor());

        // A data source that only answers numbers still gets coloured slices, untitled.
        PlainSource plain;
        f.pie->setDataSource(&plain);
        f.pie->reloadData();
        QCOMPARE(f.pie->slices().size(), std::size_t{2});
        QVERIFY(f.pie->slices()[0].fill);
        QVERIFY(f.pie->slices()[0].fill->solidColor() != f.pie->slices()[1].fill->solidColor());
        QVERIFY(!f.pie->slices()[0].title);

        // No data source: nothing to draw.
        f.pie->setDataSource(nullptr);
        f.pie->reloadData();
        QVERIFY(f.pie->slices().empty());
    }

    void pieDrawsSlicesClockwiseFromTheTop() {
        PieFixture f;
        f.source.widths = {1, 3};
        f.source.colours = {Qt::red, Qt::blue};
        const QImage image = draw(*f.graph);
        // The first quarter after twelve o'clock is red, the rest blue.
        QCOMPARE(pixelAt(image, {140, 60}), QColor(Qt::red).rgba());
        QCOMPARE(pixelAt(image, {140, 140}), QColor(Qt::blue).rgba());
        QCOMPARE(pixelAt(image, {60, 60}), QColor(Qt::blue).rgba());
        // Outside the radius nothing is painted.
        QCOMPARE(qAlpha(pixelAt(image, {5, 5})), 0);
    }

    void wholePieHasNoRadiusLine() {
        PieFixture f;
        f.source.widths = {0, 7};
        f.source.colours = {Qt::red, Qt::blue};
        auto border = CPTLineStyle::lineStyle();
        border->setLineColor(CPTColor::whiteColor());
        border->setLineWidth(3);
        f.pie->setBorderLineStyle(border);
        const QImage image = draw(*f.graph);
        QCOMPARE(pixelAt(image, {100.5, 60.5}), QColor(Qt::blue).rgba());
        QCOMPARE(pixelAt(image, {100.5, 100.5}), QColor(Qt::blue).rgba());
    }

    void nothingDrawnWithoutWidthsOrRadius_data() {
        QTest::addColumn<std::vector<double>>("widths");
        QTest::addColumn<double>("radius");
        QTest::newRow("all zero") << std::vector<double>{0, 0, 0, 0} << 80.0;
        QTest::newRow("empty") << std::vector<double>{} << 80.0;
        QTest::newRow("zero radius") << std::vector<double>{1, 2} << 0.0;
        QTest::newRow("negative radius") << std::vector<double>{1, 2} << -30.0;
    }
    void nothingDrawnWithoutWidthsOrRadius() {
        QFETCH(std::vector<double>, widths);
        QFETCH(double, radius);
        PieFixture f;
        f.source.widths = widths;
        f.pie->setPieRadius(radius);
        const QImage image = draw(*f.graph);
        QCOMPARE(image, transparentImage(200, 200));
    }

    void centreAnchorCountsFromTheBottomLeft() {
        PieFixture f;
        f.pie->setCenterAnchor(QPointF(0.25, 0.75));
        QCOMPARE(f.pie->centerInPlotArea(QRectF(10, 20, 100, 200)), QPointF(35, 70));
    }

    void legendLayout_data() {
        QTest::addColumn<int>("entries");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("rows");
        QTest::newRow("four in one row") << 4 << 4 << 1;
        QTest::newRow("five in two columns") << 5 << 2 << 3;
        QTest::newRow("automatic columns") << 3 << 0 << 1;
        QTest::newRow("fewer entries than columns") << 2 << 4 << 1;
        QTest::newRow("no entries") << 0 << 4 << 0;
    }
    void legendLayout() {
        QFETCH(int, entries);
        QFETCH(int, columns);
        QFETCH(int, rows);
        PieFixture f;
        f.source.widths.assign(static_cast<std::size_t>(entries), 1.0);
        auto legend = CPTLegend::legendWithGraph(*f.graph);
        legend->setNumberOfColumns(static_cast<unsigned>(columns));
        legend->setEntryPaddingLeft(3);
        legend->setEntryPaddingTop(3);
        const QPointF anchor(100, 10);
        const auto layout =
            legend->layout(anchor, CPTRectAnchor::Top, *f.graph->defaultTextStyle());

        QCOMPARE(static_cast<int>(layout.entries.size()), entries);
        QCOMPARE(layout.frame.top(), anchor.y());
        QCOMPARE(layout.frame.center().x(), anchor.x());
        std::vector<double> rowTops;
        for (std::size_t i = 0; i < layout.entries.size(); ++i) {
            const auto& e = layout.entries[i];
            QCOMPARE(e.title, QStringLiteral("T%1").arg(i));
            QVERIFY(layout.frame.contains(e.entryRect));
            QVERIFY(e.entryRect.contains(e.swatchRect));
            QVERIFY(e.swatchRect.right() <= e.titleRect.left());
            QCOMPARE(e.swatchRect.left(), e.entryRect.left() + 3);
            QVERIFY(e.titleRect.top() >= e.entryRect.top() + 3);
            if (rowTops.empty() || e.entryRect.top() > rowTops.back()) {
                rowTops.push_back(e.entryRect.top());
            } else {
                // Same row as the previous entry: to its right.
                QCOMPARE(e.entryRect.top(), rowTops.back());
                QVERIFY(e.entryRect.left() > layout.entries[i - 1].entryRect.right());
            }
        }
        QCOMPARE(static_cast<int>(rowTops.size()), rows);
    }

    void titleHangsFromThePlotAreaTop() {
        CPTGraph graph(QRectF(0, 0, 400, 300));
        graph.setPaddingTop(30);
        graph.setTitle(QStringLiteral("Memory"));
        auto style = CPTMutableTextStyle::textStyle();
        style->setFontSize(15);
        graph.setTitleTextStyle(style);
        graph.setTitleDisplacement(QPointF(0, 22.5));
        graph.setTitlePlotAreaFrameAnchor(CPTRectAnchor::Top);
        const QRectF title = graph.titleRect();
        QCOMPARE(title.top(), 30 - 22.5);
        QCOMPARE(title.center().x(), graph.plotAreaRect().center().x());
        QVERIFY(title.bottom() <= 30);

        graph.setTitle(std::nullopt);
        QVERIFY(graph.titleRect().isEmpty());
    }

    void plotAreaNeverTurnsInsideOut() {
        CPTGraph graph(QRectF(0, 0, 30, 100));
        QCOMPARE(graph.plotAreaRect(), QRectF(20, 20, 0, 60));
    }

    void themeLooks_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("whiteBackground");
        QTest::newRow("plain white") << kCPTPlainWhiteTheme << true;
        QTest::newRow("dark gradient") << kCPTDarkGradientTheme << false;
    }
    void themeLooks() {
        QFETCH(QString, name);
        QFETCH(bool, whiteBackground);
        const auto theme = CPTTheme::themeNamed(name);
        QVERIFY(theme);
        QCOMPARE(theme->name(), name);
        CPTXYGraph graph(QRectF(0, 0, 100, 100));
        graph.applyTheme(theme);
        QCOMPARE(graph.theme(), theme);
        const QImage image = draw(graph);
        const int corner = qGray(pixelAt(image, {2, 2}));
        const int text = qGray(graph.defaultTextStyle()->color().qColor().rgb());
        if (whiteBackground) {
            QCOMPARE(pixelAt(image, {2, 2}), qRgb(255, 255, 255));
            QVERIFY(text < 64);
        } else {
            QVERIFY(corner < 96);
            QVERIFY(text > 200);
            QVERIFY(!graph.fill()->solidColor()); // a gradient
        }
        // The graph's styles are its own copies.
        graph.plotAreaFrame()->borderLineStyle()->setLineWidth(9);
        QCOMPARE(theme->look().plotAreaBorderLineStyle->lineWidth(), 1.0);
    }

    void unknownThemeNameGivesNone() {
        QVERIFY(!CPTTheme::themeNamed(QStringLiteral("Stocks")));
        QVERIFY(!CPTTheme::themeNamed(QString()));
    }

    void fontNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("family");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<bool>("italic");
        QTest::newRow("plain") << "Helvetica"
                               << "Helvetica" << false << false;
        QTest::newRow("bold") << "Helvetica-Bold"
                              << "Helvetica" << true << false;
        QTest::newRow("bold italic") << "Times-BoldItalic"
                                     << "Times" << true << true;
        QTest::newRow("oblique") << "Helvetica-Oblique"
                                 << "Helvetica" << false << true;
    }
    void fontNames() {
        QFETCH(QString, name);
        QFETCH(QString, family);
        QFETCH(bool, bold);
        QFETCH(bool, italic);
        auto style = CPTMutableTextStyle::textStyle();
        style->setFontName(name);
        style->setFontSize(14.6);
        const QFont font = style->font();
        QCOMPARE(font.family(), family);
        QCOMPARE(font.bold(), bold);
        QCOMPARE(font.italic(), italic);
        QCOMPARE(font.pixelSize(), 15);
    }

    void hostingViewShowsOneGraphFillingItsBounds() {
        QWidget parent;
        parent.resize(300, 200);
        CPTGraphHostingView view(QRectF(0, 0, 300, 200), &parent);
        view.setAutoresizingMask(CPTGraphHostingView::kWidthSizable |
                                 CPTGraphHostingView::kHeightSizable);
        auto first = std::make_shared<CPTGraph>(QRectF(0, 0, 10, 10));
        auto second = std::make_shared<CPTGraph>(QRectF(0, 0, 10, 10));
        view.setHostedGraph(first);
        QCOMPARE(first->frame(), QRectF(0, 0, 300, 200));
        QCOMPARE(first->hostingView(), &view);

        view.setHostedGraph(second);
        QCOMPARE(view.hostedGraph(), second);
        QVERIFY(first->hostingView() == nullptr);

        // Follows its parent while hidden and when shown.
        parent.resize(320, 150);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        QCOMPARE(view.size(), QSize(320, 150));
        parent.resize(400, 250);
        QCOMPARE(view.size(), QSize(400, 250));
        QCOMPARE(second->frame(), QRectF(0, 0, 400, 250));

        view.setHostedGraph(nullptr);
        QVERIFY(second->hostingView() == nullptr);
    }

    void hostingViewWithoutMaskKeepsItsSize() {
        QWidget parent;
        parent.resize(300, 200);
        CPTGraphHostingView view(QRectF(10, 10, 100, 100), &parent);
        parent.show();
        parent.resize(500, 500);
        QCOMPARE(view.geometry(), QRect(10, 10, 100, 100));
    }

    void removingAllAnimationsStopsThem() {
        auto& animations = CPTAnimation::sharedInstance();
        QVariantAnimation running;
        running.setStartValue(0.0);
        running.setEndValue(1.0);
        running.setDuration(60'000);
        auto* deleted = new QVariantAnimation;
        animations.addAnimationOperation(&running);
        animations.addAnimationOperation(deleted);
        running.start();
        delete deleted;
        QCOMPARE(animations.animationOperationCount(), std::size_t{1});

        animations.removeAllAnimationOperations();
        QCOMPARE(running.state(), QAbstractAnimation::Stopped);
        QCOMPARE(animations.animationOperationCount(), std::size_t{0});
    }
};

QTEST_MAIN(CorePlotTest)
#include "test_coreplot.moc"
