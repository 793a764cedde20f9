// The plot item base and the plot view: rendering into a host view, tear-down, themes,
// title and padding defaults, snapshot, ordering, console lines and delegate rules.

#include "CPTAnimation.h"
#include "CPTPieChart.h"
#include "PlotItem.h"
#include "PlotView.h"

#include <QPainter>
#include <QTemporaryFile>
#include <QVariantAnimation>
#include <QtTest>
#include <functional>
#include <unistd.h>

namespace {
// A chart that builds one graph and records the order of its hooks.
class RecordingItem : public PlotItem {
public:
    QStringList calls;
    std::shared_ptr<CPTTheme> lastTheme;

    void generateData() override { calls << QStringLiteral("generateData"); }
    void renderInLayer(CPTGraphHostingView* view, std::shared_ptr<CPTTheme> theme, bool) override {
        calls << QStringLiteral("renderInLayer");
        lastTheme = theme;
        auto graph = std::make_shared<CPTXYGraph>(view ? QRectF(view->rect()) : QRectF());
        addGraph(graph, view);
        applyTheme(theme, *graph, CPTTheme::themeNamed(kCPTPlainWhiteTheme));
    }
};

// Counts reloads of the plots it serves, in one shared log.
class LoggingSource : public CPTPlotDataSource {
public:
    LoggingSource(QStringList* log, QString name) : log_(log), name_(std::move(name)) {}
    unsigned long numberOfRecordsForPlot(CPTPlot*) override {
        *log_ << name_;
        return 0;
    }
    std::optional<double> numberForPlot(CPTPlot*, unsigned long, unsigned long) override {
        return std::nullopt;
    }

private:
    QStringList* log_;
    QString name_;
};

class CountingDelegate : public PlotViewDelegate {
public:
    explicit CountingDelegate(bool responds) : responds_(responds) {}
    bool respondsToSetFrameSize() const override { return responds_; }
    void setFrameSize(QSizeF size) override { sizes.push_back(size); }
    std::vector<QSizeF> sizes;

private:
    bool responds_;
};

QList<CPTGraphHostingView*> hostingViewsIn(const QWidget& host) {
    QList<CPTGraphHostingView*> views;
    for (QWidget* child : host.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (auto* view = dynamic_cast<CPTGraphHostingView*>(child)) {
            views << view;
        }
    }
    return views;
}

QString captureStderr(const std::function<void()>& action) {
    QTemporaryFile file;
    if (!file.open()) {
        return QStringLiteral("<no temporary file>");
    }
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(file.handle(), STDERR_FILENO);
    action();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    file.seek(0);
    return QString::fromUtf8(file.readAll());
}

std::shared_ptr<CPTMutableTextStyle> styleOfSize(double size) {
    auto style = CPTMutableTextStyle::textStyle();
    style->setFontSize(size);
    return style;
}
} // namespace

Q_DECLARE_METATYPE(std::shared_ptr<CPTMutableTextStyle>)

class PlotItemTest : public QObject {
    Q_OBJECT

private slots:
    void renderingTwiceLeavesOneHostingView() {
        PlotView host(QRectF(0, 0, 300, 200), nullptr);
        RecordingItem item;
        item.renderInView(&host, nullptr, true);
        item.renderInView(&host, nullptr, true);

        const auto views = hostingViewsIn(host);
        QCOMPARE(views.size(), 1);
        QCOMPARE(views.front(), item.defaultLayerHostingView());
        QCOMPARE(item.graphs().size(), std::size_t{1});
        QCOMPARE(views.front()->hostedGraph(), item.graphs().front());
        QCOMPARE(views.front()->geometry(), host.rect());
        QCOMPARE(item.calls,
                 (QStringList{"generateData", "renderInLayer", "generateData", "renderInLayer"}));
    }

    void hostingViewFollowsTheHostSize() {
        PlotView host(QRectF(0, 0, 300, 200), nullptr);
        RecordingItem item;
        item.renderInView(&host, nullptr, false);
        host.resize(260, 180);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QCOMPARE(item.defaultLayerHostingView()->size(), QSize(260, 180));
        host.resize(320, 240);
        QCOMPARE(item.defaultLayerHostingView()->size(), QSize(320, 240));
        QCOMPARE(item.graphs().front()->frame(), QRectF(0, 0, 320, 240));
    }

    void renderingWithoutAHostView() {
        RecordingItem item;
        item.renderInView(nullptr, nullptr, false);
        QVERIFY(item.defaultLayerHostingView() != nullptr);
        QCOMPARE(item.defaultLayerHostingView()->size(), QSize(0, 0));
        item.killGraph(); // the detached view is ours to destroy
        QVERIFY(item.defaultLayerHostingView() == nullptr);
    }

    void killGraphTearsEverythingDown() {
        PlotView host(QRectF(0, 0, 300, 200), nullptr);
        RecordingItem item;
        item.renderInView(&host, nullptr, false);
        const auto graph = item.graphs().front();
        QVariantAnimation animation;
        animation.setStartValue(0.0);
        animation.setEndValue(1.0);
        animation.setDuration(60'000);
        animation.start();
        CPTAnimation::sharedInstance().addAnimationOperation(&animation);

        item.killGraph();
        QVERIFY(hostingViewsIn(host).isEmpty());
        QVERIFY(item.defaultLayerHostingView() == nullptr);
        QVERIFY(item.graphs().empty());
        QVERIFY(graph->hostingView() == nullptr);
        QCOMPARE(animation.state(), QAbstractAnimation::Stopped);
    }

    void hostDestroyedBeforeTheItem() {
        RecordingItem item;
        {
            PlotView host(QRectF(0, 0, 100, 100), nullptr);
            item.renderInView(&host, nullptr, false);
        }
        QVERIFY(item.defaultLayerHostingView() == nullptr);
        item.killGraph();
        QVERIFY(item.graphs().empty());
    }

    void reloadDataGoesToEveryGraphInOrder() {
        PlotItem item;
        item.reloadData(); // nothing rendered: nothing to do
        QStringList log;
        LoggingSource first(&log, QStringLiteral("first"));
        LoggingSource second(&log, QStringLiteral("second"));
        for (auto* source : {&first, &second}) {
            auto graph = std::make_shared<CPTGraph>(QRectF(0, 0, 10, 10));
            auto pie = std::make_shared<CPTPieChart>();
            pie->setDataSource(source);
            graph->addPlot(pie);
            item.addGraph(graph);
        }
        QVERIFY(log.isEmpty());
        item.reloadData();
        QCOMPARE(log, (QStringList{"first", "second"}));
    }

    void addGraphWithAHostingViewHostsIt() {
        PlotItem item;
        CPTGraphHostingView view(QRectF(0, 0, 50, 40));
        auto graph = std::make_shared<CPTGraph>(QRectF());
        item.addGraph(graph, &view);
        QCOMPARE(view.hostedGraph(), graph);
        QCOMPARE(graph->frame(), QRectF(0, 0, 50, 40));
        item.addGraph(std::make_shared<CPTGraph>(QRectF()));
        QCOMPARE(item.graphs().size(), std::size_t{2});
        QCOMPARE(view.hostedGraph(), graph);
    }

    void themeSelection_data() {
        QTest::addColumn<int>("choice"); // 0 none, 1 null marker, 2 plain white
        QTest::addColumn<QString>("applied");
        QTest::newRow("none takes the default") << 0 << kCPTDarkGradientTheme;
        QTest::newRow("null marker applies nothing") << 1 << QString();
        QTest::newRow("a theme is applied") << 2 << kCPTPlainWhiteTheme;
    }
    void themeSelection() {
        QFETCH(int, choice);
        QFETCH(QString, applied);
        const std::shared_ptr<CPTTheme> themes[] = {nullptr, PlotItem::nullTheme(),
                                                    CPTTheme::themeNamed(kCPTPlainWhiteTheme)};
        PlotItem item;
        CPTXYGraph graph(QRectF(0, 0, 100, 100));
        item.applyTheme(themes[choice], graph, CPTTheme::themeNamed(kCPTDarkGradientTheme));
        if (applied.isEmpty()) {
            QVERIFY(!graph.theme());
            QVERIFY(!graph.fill());
        } else {
            QVERIFY(graph.theme());
            QCOMPARE(graph.theme()->name(), applied);
            QVERIFY(graph.fill());
        }
    }

    void titleDefaults_data() {
        QTest::addColumn<double>("height");
        QTest::addColumn<double>("fontSize");
        QTest::newRow("400 x 300") << 300.0 << 15.0;
        QTest::newRow("half rounds up") << 310.0 << 16.0;
        QTest::newRow("half rounds away from zero, not to even") << 290.0 << 15.0;
        QTest::newRow("below half rounds down") << 308.0 << 15.0;
    }
    void titleDefaults() {
        QFETCH(double, height);
        QFETCH(double, fontSize);
        PlotItem item;
        item.setTitle(QStringLiteral("Memory"));
        CPTGraph graph(QRectF(0, 0, 400, height));
        item.setTitleDefaultsForGraph(graph, QRectF(0, 0, 400, height));
        QCOMPARE(graph.title(), std::optional<QString>(QStringLiteral("Memory")));
        const auto style = graph.titleTextStyle();
        QVERIFY(style);
        QCOMPARE(style->fontName(), QStringLiteral("Helvetica-Bold"));
        QCOMPARE(style->fontSize(), fontSize);
        QCOMPARE(style->color(), CPTColor::grayColor());
        QCOMPARE(graph.titleDisplacement(), QPointF(0, fontSize * 1.5));
        QCOMPARE(graph.titlePlotAreaFrameAnchor(), CPTRectAnchor::Top);
        QVERIFY(style->font().bold());
    }

    void titleDefaultsWithoutATitle() {
        PlotItem item;
        CPTGraph graph(QRectF(0, 0, 400, 300));
        graph.setTitle(QStringLiteral("stale"));
        item.setTitleDefaultsForGraph(graph, graph.bounds());
        QVERIFY(!graph.title());
    }

    void paddingDefaults_data() {
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("displacementY");
        QTest::addColumn<std::shared_ptr<CPTMutableTextStyle>>("titleStyle");
        QTest::addColumn<double>("side");
        QTest::addColumn<double>("top");
        QTest::newRow("no title displacement") << 400.0 << 0.0 << styleOfSize(15) << 20.0 << 20.0;
        QTest::newRow("title displaced up") << 400.0 << 22.5 << styleOfSize(15) << 20.0 << 30.0;
        QTest::newRow("title displaced down") << 400.0 << -5.0 << styleOfSize(15) << 20.0 << 20.0;
        QTest::newRow("half rounds away from zero")
            << 410.0 << 0.0 << styleOfSize(15) << 21.0 << 21.0;
        QTest::newRow("below half") << 389.0 << 0.0 << styleOfSize(15) << 19.0 << 19.0;
        QTest::newRow("untitled style uses the theme text")
            << 400.0 << 3.0 << std::shared_ptr<CPTMutableTextStyle>() << 20.0 << 24.0;
    }
    void paddingDefaults() {
        QFETCH(double, width);
        QFETCH(double, displacementY);
        QFETCH(std::shared_ptr<CPTMutableTextStyle>, titleStyle);
        QFETCH(double, side);
        QFETCH(double, top);
        PlotItem item;
        CPTGraph graph(QRectF(0, 0, width, 300));
        graph.setTitleTextStyle(titleStyle);
        graph.setTitleDisplacement(QPointF(0, displacementY));
        item.setPaddingDefaultsForGraph(graph, QRectF(0, 0, width, 300));
        QCOMPARE(graph.paddingLeft(), side);
        QCOMPARE(graph.paddingRight(), side);
        QCOMPARE(graph.paddingBottom(), side);
        QCOMPARE(graph.paddingTop(), top);
    }

    void imageIsACachedSnapshot() {
        RecordingItem item; // plain white fill by default
        PlotView host(QRectF(0, 0, 120, 80), nullptr);
        item.renderInView(&host, nullptr, false);

        const QImage image = item.image();
        QCOMPARE(image.size(), QSize(400, 300));
        QCOMPARE(image.bytesPerLine(), 1600);
        QCOMPARE(image.depth(), 32);
        QVERIFY(image.hasAlphaChannel());
        QCOMPARE(image.pixel(200, 150), qRgb(255, 255, 255));
        // The chart moved into the snapshot's own view.
        QVERIFY(hostingViewsIn(host).isEmpty());
        QCOMPARE(item.calls.count(QStringLiteral("renderInLayer")), 2);
        QVERIFY(!item.lastTheme);

        QCOMPARE(item.image().cacheKey(), image.cacheKey());
        QCOMPARE(item.imageRepresentation().cacheKey(), image.cacheKey());
        QCOMPARE(item.calls.count(QStringLiteral("renderInLayer")), 2);

        item.killGraph();
        QVERIFY(item.image().cacheKey() != image.cacheKey());
        QCOMPARE(item.calls.count(QStringLiteral("renderInLayer")), 3);
    }

    void consoleLines() {
        const QString registered =
            captureStderr([] { PlotItem::registerPlotItem(QStringLiteral("SimplePieChart")); });
        QCOMPARE(registered, QStringLiteral("registerPlotItem for class SimplePieChart\n"));

        PlotItem item;
        PlotView host(QRectF(0, 0, 50, 50), nullptr);
        const QString base = captureStderr([&] { item.renderInView(&host, nullptr, false); });
        QCOMPARE(base, QStringLiteral("PlotItem:renderInLayer: Override me\n"));
        QVERIFY(item.graphs().empty());
        QCOMPARE(hostingViewsIn(host).size(), 1);
    }

    void titleCompare_data() {
        QTest::addColumn<QString>("sectionA");
        QTest::addColumn<QString>("titleA");
        QTest::addColumn<QString>("sectionB");
        QTest::addColumn<QString>("titleB");
        QTest::addColumn<int>("expected");
        // "-" stands for none.
        QTest::newRow("section decides") << "Bar Plots"
                                         << "z"
                                         << "Pie Charts"
                                         << "a" << -1;
        QTest::newRow("section ignores case") << "pie charts"
                                              << "a"
                                              << "Pie Charts"
                                              << "b" << -1;
        QTest::newRow("title ignores case") << "Demos"
                                            << "Memory"
                                            << "Demos"
                                            << "memory" << 0;
        QTest::newRow("title decides") << "Demos"
                                       << "Zeta"
                                       << "Demos"
                                       << "alpha" << 1;
        QTest::newRow("none sorts first") << "-"
                                          << "a"
                                          << "Demos"
                                          << "a" << -1;
        QTest::newRow("both none") << "-"
                                   << "-"
                                   << "-"
                                   << "-" << 0;
        QTest::newRow("title none after equal sections") << "Demos"
                                                         << "a"
                                                         << "Demos"
                                                         << "-" << 1;
    }
    void titleCompare() {
        QFETCH(QString, sectionA);
        QFETCH(QString, titleA);
        QFETCH(QString, sectionB);
        QFETCH(QString, titleB);
        QFETCH(int, expected);
        const auto text = [](const QString& s) {
            return s == QLatin1String("-") ? std::nullopt : std::optional<QString>(s);
        };
        PlotItem a;
        PlotItem b;
        a.setSection(text(sectionA));
        a.setTitle(text(titleA));
        b.setSection(text(sectionB));
        b.setTitle(text(titleB));
        const auto order = a.titleCompare(b);
        QCOMPARE(order < 0 ? -1 : (order > 0 ? 1 : 0), expected);
        const auto reverse = b.titleCompare(a);
        QCOMPARE(reverse < 0 ? -1 : (reverse > 0 ? 1 : 0), -expected);
    }

    void plotViewDelegateRules_data() {
        QTest::addColumn<int>("kind"); // 0 none, 1 does not answer, 2 answers
        QTest::addColumn<bool>("shown");
        QTest::addColumn<int>("expectedCalls");
        QTest::newRow("no delegate, hidden") << 0 << false << 0;
        QTest::newRow("no delegate, shown") << 0 << true << 0;
        QTest::newRow("silent delegate, hidden") << 1 << false << 0;
        QTest::newRow("silent delegate, shown") << 1 << true << 0;
        QTest::newRow("answering delegate, hidden") << 2 << false << 1;
        QTest::newRow("answering delegate, shown") << 2 << true << 1;
    }
    void plotViewDelegateRules() {
        QFETCH(int, kind);
        QFETCH(bool, shown);
        QFETCH(int, expectedCalls);
        PlotView view;
        view.resize(100, 100);
        std::shared_ptr<CountingDelegate> delegate;
        if (kind > 0) {
            delegate = std::make_shared<CountingDelegate>(kind == 2);
            view.setDelegate(delegate);
        }
        if (shown) {
            view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&view));
        }
        const std::size_t before = delegate ? delegate->sizes.size() : 0;
        view.setFrameSize(QSizeF(240, 130));
        QCOMPARE(view.size(), QSize(240, 130));
        if (!shown) {
            // The resize event held back while hidden does not tell the same size twice.
            view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&view));
        }
        if (delegate) {
            QCOMPARE(static_cast<int>(delegate->sizes.size() - before), expectedCalls);
            if (expectedCalls > 0) {
                QCOMPARE(delegate->sizes.back(), QSizeF(240, 130));
            }
        }
    }

    void layoutResizesReachTheDelegate() {
        PlotView view;
        auto delegate = std::make_shared<CountingDelegate>(true);
        view.setDelegate(delegate);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.resize(310, 210);
        QVERIFY(!delegate->sizes.empty());
        QCOMPARE(delegate->sizes.back(), QSizeF(310, 210));
    }

    void plotItemServesAsDelegate() {
        PlotView view;
        auto item = std::make_shared<PlotItem>();
        QVERIFY(item->respondsToSetFrameSize());
        view.setDelegate(item);
        view.setFrameSize(QSizeF(50, 60));
        QCOMPARE(view.size(), QSize(50, 60));
        QVERIFY(item->graphs().empty());
    }
};

QTEST_MAIN(PlotItemTest)
#include "test_plot_item.moc"
