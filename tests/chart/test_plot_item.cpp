// The plot item base and the plot view: rendering into a host view, tear-down, themes,
// where the default title and padding put the title, snapshot and delegate rules.

#include "chart/PlotItem.h"
#include "chart/PlotView.h"
#include "chart/framework/CPTAnimation.h"

#include <QImage>
#include <QPainter>
#include <QVariantAnimation>
#include <QtTest>

#include <cmath>
#include <tuple>
#include <vector>

namespace {
// A chart that builds one graph and records the order of its hooks.
class RecordingItem : public PlotItem {
public:
    QStringList calls;

    void generateData() override { calls << QStringLiteral("generateData"); }
    void renderInLayer(CPTGraphHostingView* view, std::shared_ptr<CPTTheme> theme, bool) override {
        calls << QStringLiteral("renderInLayer");
        auto graph = std::make_shared<CPTXYGraph>(view ? QRectF(view->rect()) : QRectF());
        addGraph(graph, view);
        applyTheme(theme, *graph, CPTTheme::themeNamed(kCPTPlainWhiteTheme));
    }
};

struct CountingDelegate : PlotViewDelegate {
    bool responds = false;
    std::vector<QSizeF> sizes;
    bool respondsToSetFrameSize() const override { return responds; }
    void setFrameSize(QSizeF size) override { sizes.push_back(size); }
};

} // namespace

class PlotItemTest : public QObject {
    Q_OBJECT

private slots:
    void renderingTwiceLeavesOneHostingView() {
        PlotView host(QRectF(0, 0, 300, 200), nullptr);
        RecordingItem item;
        item.renderInView(&host, nullptr, true);
        item.renderInView(&host, nullptr, true);
        QCOMPARE(host.findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 1);
        CPTGraphHostingView* view = item.defaultLayerHostingView();
        QCOMPARE(item.graphs().size(), std::size_t{1});
        QCOMPARE(view->hostedGraph(), item.graphs().front());
        QCOMPARE(view->geometry(), host.rect());
        // The hosting view and its graph follow the host's size, hidden or shown.
        host.resize(260, 180);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        host.resize(320, 240);
        QCOMPARE(item.graphs().front()->frame(), QRectF(0, 0, 320, 240));
        QCOMPARE(item.calls,
                 (QStringList{"generateData", "renderInLayer", "generateData", "renderInLayer"}));
    }

    void killGraphTearsEverythingDown() {
        PlotView host(QRectF(0, 0, 300, 200), nullptr);
        RecordingItem item;
        item.renderInView(&host, nullptr, false);
        const auto graph = item.graphs().front();
        QVariantAnimation running;
        running.setStartValue(0.0);
        running.setEndValue(1.0);
        running.setDuration(60'000);
        running.start();
        CPTAnimation::sharedInstance().addAnimationOperation(&running);
        item.killGraph();
        QCOMPARE(host.findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 0);
        QVERIFY(!item.defaultLayerHostingView() && item.graphs().empty());
        QVERIFY(graph->hostingView() == nullptr);
        QCOMPARE(running.state(), QAbstractAnimation::Stopped);
        // A host destroyed first takes the hosting view with it.
        {
            PlotView gone(QRectF(0, 0, 100, 100), nullptr);
            item.renderInView(&gone, nullptr, false);
        }
        QVERIFY(!item.defaultLayerHostingView());
        item.killGraph();
    }

    void theNullThemeAppliesNone() {
        PlotItem item;
        CPTXYGraph graph(QRectF(0, 0, 100, 100));
        item.applyTheme(PlotItem::nullTheme(), graph, CPTTheme::themeNamed(kCPTPlainWhiteTheme));
        QVERIFY(!graph.theme() && !graph.fill());
    }

    void titleSitsCentredAboveThePlotAreaAndGrowsWithTheChart() {
        // Title and padding defaults together, as a chart applies them: the title is drawn in
        // grey, centred, in the room the padding leaves above the plot area.
        std::vector<double> inkHeights;
        for (const double height : {300.0, 600.0}) {
            const QRectF bounds(0, 0, 400, height);
            auto drawn = [&](bool titled) {
                PlotItem item;
                if (titled) {
                    item.setTitle(QStringLiteral("Memory"));
                }
                CPTGraph graph(bounds);
                item.setTitleDefaultsForGraph(graph, bounds);
                item.setPaddingDefaultsForGraph(graph, bounds);
                QImage image(bounds.size().toSize(), QImage::Format_ARGB32);
                image.fill(Qt::transparent);
                QPainter painter(&image);
                graph.draw(painter);
                painter.end();
                return std::tuple(image, graph.plotAreaRect(), graph.titleRect());
            };
            const auto [plain, plotArea, noTitle] = drawn(false);
            const auto [titled, titledPlotArea, title] = drawn(true);
            QCOMPARE(titledPlotArea, plotArea);
            QVERIFY(noTitle.isEmpty());
            QVERIFY2(bounds.contains(title), "the title is cut off");
            // The title's ink: what the titled chart has that the plain one has not.
            QRect ink;
            bool greyCore = false;
            for (int y = 0; y < titled.height(); ++y) {
                for (int x = 0; x < titled.width(); ++x) {
                    const QRgb pixel = titled.pixel(x, y);
                    if (pixel == plain.pixel(x, y)) {
                        continue;
                    }
                    ink |= QRect(x, y, 1, 1);
                    greyCore = greyCore ||
                               (qAlpha(pixel) == 255 && qRed(pixel) == qGreen(pixel) &&
                                qGreen(pixel) == qBlue(pixel) && std::abs(qRed(pixel) - 128) <= 1);
                }
            }
            QVERIFY2(!ink.isEmpty(), "no title drawn");
            QVERIFY(greyCore);
            QVERIFY(ink.top() >= 0);
            QVERIFY2(ink.bottom() < plotArea.top(), "the title runs into the plot area");
            QVERIFY(std::abs(ink.center().x() + 0.5 - bounds.width() / 2) <= 2);
            inkHeights.push_back(ink.height());
        }
        // A chart twice as high has a title twice as high.
        QVERIFY2(std::abs(inkHeights[1] / inkHeights[0] - 2.0) < 0.3,
                 qPrintable(QStringLiteral("%1 %2").arg(inkHeights[0]).arg(inkHeights[1])));
    }

    void paddingDefaults() {
        // Width, title displacement, title font size (0: no title style), side and top padding.
        const std::tuple<double, double, double, double, double> cases[] = {
            {400, 0, 15, 20, 20},
            {400, 22.5, 15, 20, 30}, // a title displaced up makes room for itself
            {400, -5, 15, 20, 20},
            {410, 0, 15, 21, 21}, // halves round away from zero
            {400, 3, 0, 20, 24},  // without a title style, the theme's text style counts
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
            QCOMPARE(graph.paddingLeft(), side);
            QCOMPARE(graph.paddingRight(), side);
            QCOMPARE(graph.paddingBottom(), side);
            QCOMPARE(graph.paddingTop(), top);
        }
    }

    void imageIsACachedSnapshot() {
        RecordingItem item; // no theme means its default, plain white
        PlotView host(QRectF(0, 0, 120, 80), nullptr);
        item.renderInView(&host, nullptr, false);
        const QImage image = item.image();
        QCOMPARE(image.size(), QSize(400, 300));
        QCOMPARE(image.pixel(200, 150), qRgb(255, 255, 255));
        // The chart moved into the snapshot's own view, rendered with the default theme.
        QCOMPARE(host.findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 0);
        QCOMPARE(item.image().cacheKey(), image.cacheKey());
        item.killGraph();
        QVERIFY(item.image().cacheKey() != image.cacheKey());
    }

    void plotViewDelegateRules() {
        // A delegate that does not answer, one that answers; hidden or shown.
        for (bool answers : {false, true}) {
            for (bool shown : {false, true}) {
                PlotView view;
                auto delegate = std::make_shared<CountingDelegate>();
                delegate->responds = answers;
                view.setDelegate(delegate);
                if (shown) {
                    view.show();
                    QVERIFY(QTest::qWaitForWindowExposed(&view));
                }
                const std::size_t before = delegate->sizes.size();
                view.setFrameSize(QSizeF(240, 130));
                QCOMPARE(view.size(), QSize(240, 130));
                // The resize event held back while hidden does not tell the same size twice.
                view.show();
                QVERIFY(QTest::qWaitForWindowExposed(&view));
                QCOMPARE(delegate->sizes.size() - before, std::size_t(answers ? 1 : 0));
                // Layouts resize without setFrameSize; the delegate hears of those too.
                view.resize(310, 210);
                QCOMPARE(delegate->sizes.size() - before, std::size_t(answers ? 2 : 0));
            }
        }
        // A delegate set later hears the size the view already had.
        PlotView view;
        view.setFrameSize(QSizeF(200, 100));
        auto late = std::make_shared<CountingDelegate>();
        late->responds = true;
        view.setDelegate(late);
        view.setFrameSize(QSizeF(200, 100));
        QCOMPARE(late->sizes, std::vector<QSizeF>{QSizeF(200, 100)});
    }
};

QTEST_MAIN(PlotItemTest)
#include "test_plot_item.moc"
