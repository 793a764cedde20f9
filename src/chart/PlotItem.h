#pragma once
// Base of a chart: owns the chart's graphs and the hosting view they are drawn in, puts
// the chart into a plot view with a theme, redraws it and tears it down.

#include "chart/PlotView.h"
#include "chart/framework/CPTGraph.h"
#include "chart/framework/CPTGraphHostingView.h"
#include "chart/framework/CPTTheme.h"

#include <QImage>
#include <QPointer>
#include <QString>
#include <compare>
#include <memory>
#include <optional>
#include <vector>

class PlotItem : public PlotViewDelegate {
public:
    // Section names a plot item may belong to.
    static inline const QString kDemoPlots = QStringLiteral("Demos");
    static inline const QString kPieCharts = QStringLiteral("Pie Charts");
    static inline const QString kLinePlots = QStringLiteral("Line Plots");
    static inline const QString kBarPlots = QStringLiteral("Bar Plots");
    static inline const QString kFinancialPlots = QStringLiteral("Financial Plots");

    // Snapshot size of `image`, in pixels.
    static constexpr int kImageWidth = 400;
    static constexpr int kImageHeight = 300;

    PlotItem();
    PlotItem(const PlotItem&) = delete;
    PlotItem& operator=(const PlotItem&) = delete;
    ~PlotItem() override;

    // Pass as a theme to apply none at all (no theme means the item's default theme).
    static std::shared_ptr<CPTTheme> nullTheme();

    // Writes "registerPlotItem for class <itemClass>" to the console log; keeps nothing.
    static void registerPlotItem(const QString& itemClass);

    // The hosting view made by the last rendering; null when torn down, or when the view
    // it was put into has been destroyed.
    CPTGraphHostingView* defaultLayerHostingView() const { return defaultLayerHostingView_; }
    void setDefaultLayerHostingView(CPTGraphHostingView* view) { defaultLayerHostingView_ = view; }
    const std::vector<std::shared_ptr<CPTGraph>>& graphs() const { return graphs_; }
    void setGraphs(std::vector<std::shared_ptr<CPTGraph>> graphs) { graphs_ = std::move(graphs); }
    std::optional<QString> section() const { return section_; }
    void setSection(std::optional<QString> section) { section_ = std::move(section); }
    std::optional<QString> title() const { return title_; }
    void setTitle(std::optional<QString> title) { title_ = std::move(title); }

    void addGraph(std::shared_ptr<CPTGraph> graph, CPTGraphHostingView* hostingView);
    void addGraph(std::shared_ptr<CPTGraph> graph);

    // Stops chart animations, removes and destroys the hosting view, drops the snapshot
    // and the graphs.
    virtual void killGraph();
    // Lets a subclass fill in default data before it is drawn.
    virtual void generateData();

    // Replaces whatever this item showed with a new hosting view filling `hostView`
    // (none: a detached view of no size), then builds the chart in it.
    void renderInView(PlotView* hostView, std::shared_ptr<CPTTheme> theme, bool animated);
    // Builds the graphs in the hosting view; subclasses override.
    virtual void renderInLayer(CPTGraphHostingView* layerHostingView,
                               std::shared_ptr<CPTTheme> theme, bool animated);

    // Every graph asks its data source again, in list order.
    void reloadData();

    // No theme: `defaultTheme`; nullTheme(): nothing applied; otherwise `theme`.
    void applyTheme(const std::shared_ptr<CPTTheme>& theme, CPTGraph& graph,
                    const std::shared_ptr<CPTTheme>& defaultTheme);
    void setTitleDefaultsForGraph(CPTGraph& graph, const QRectF& bounds);
    void setPaddingDefaultsForGraph(CPTGraph& graph, const QRectF& bounds);

    // A 400 x 300 snapshot, made once until the next killGraph. Making it renders the
    // chart into a view of its own, so the chart leaves any view it was shown in.
    QImage image();

    // By section, then by title, both ignoring case; no text sorts first.
    std::weak_ordering titleCompare(const PlotItem& other) const;

    std::optional<QString> imageUID() const { return title_; }
    std::optional<QString> imageRepresentationType() const { return std::nullopt; }
    QImage imageRepresentation() { return image(); }
    std::optional<QString> imageTitle() const { return title_; }

    bool respondsToSetFrameSize() const override { return true; }
    void setFrameSize(QSizeF size) override;

private:
    QPointer<CPTGraphHostingView> defaultLayerHostingView_;
    std::vector<std::shared_ptr<CPTGraph>> graphs_;
    std::optional<QString> section_;
    std::optional<QString> title_;
    QImage cachedImage_;
};
