#include "chart/PlotItem.h"

#include "chart/framework/CPTAnimation.h"
#include "chart/framework/CPTMutableTextStyle.h"

#include <QPainter>
#include <cmath>
#include <cstdio>

PlotItem::PlotItem() = default;

PlotItem::~PlotItem() {
    PlotItem::killGraph();
}

std::shared_ptr<CPTTheme> PlotItem::nullTheme() {
    static const auto marker = std::make_shared<CPTTheme>(QString(), CPTTheme::Look{});
    return marker;
}

void PlotItem::registerPlotItem(const QString& itemClass) {
    std::fprintf(stderr, "registerPlotItem for class %s\n", itemClass.toUtf8().constData());
    std::fflush(stderr);
}

void PlotItem::addGraph(std::shared_ptr<CPTGraph> graph, CPTGraphHostingView* hostingView) {
    if (!graph) {
        return;
    }
    graphs_.push_back(graph);
    if (hostingView != nullptr) {
        hostingView->setHostedGraph(std::move(graph));
    }
}

void PlotItem::addGraph(std::shared_ptr<CPTGraph> graph) {
    addGraph(std::move(graph), nullptr);
}

void PlotItem::killGraph() {
    CPTAnimation::sharedInstance().removeAllAnimationOperations();
    if (defaultLayerHostingView_) {
        CPTGraphHostingView* view = defaultLayerHostingView_;
        defaultLayerHostingView_ = nullptr;
        view->setHostedGraph(nullptr);
        delete view; // also takes it out of its parent
    }
    cachedImage_ = QImage();
    graphs_.clear();
}

void PlotItem::generateData() {}

void PlotItem::renderInView(PlotView* hostView, std::shared_ptr<CPTTheme> theme, bool animated) {
    killGraph();
    const QRectF bounds = hostView != nullptr ? QRectF(hostView->rect()) : QRectF();
    auto* hosting = new CPTGraphHostingView(bounds, hostView);
    hosting->setAutoresizingMask(CPTGraphHostingView::kWidthSizable |
                                 CPTGraphHostingView::kHeightSizable);
    defaultLayerHostingView_ = hosting;
    if (hostView != nullptr) {
        hosting->show(); // children added after the parent was shown stay hidden otherwise
    }
    generateData();
    renderInLayer(hosting, std::move(theme), animated);
}

void PlotItem::renderInLayer(CPTGraphHostingView*, std::shared_ptr<CPTTheme>, bool) {
    std::fputs("PlotItem:renderInLayer: Override me\n", stderr);
    std::fflush(stderr);
}

void PlotItem::reloadData() {
    for (const auto& graph : graphs_) {
        graph->reloadData();
    }
}

void PlotItem::applyTheme(const std::shared_ptr<CPTTheme>& theme, CPTGraph& graph,
                          const std::shared_ptr<CPTTheme>& defaultTheme) {
    if (!theme) {
        graph.applyTheme(defaultTheme);
    } else if (theme != nullTheme()) {
        graph.applyTheme(theme);
    }
}

void PlotItem::setTitleDefaultsForGraph(CPTGraph& graph, const QRectF& bounds) {
    graph.setTitle(title_);
    auto style = CPTMutableTextStyle::textStyle();
    style->setColor(CPTColor::grayColor());
    style->setFontName(QStringLiteral("Helvetica-Bold"));
    style->setFontSize(std::round(bounds.height() / 20.0));
    graph.setTitleTextStyle(style);
    graph.setTitleDisplacement(QPointF(0.0, style->fontSize() * 1.5));
    graph.setTitlePlotAreaFrameAnchor(CPTRectAnchor::Top);
}

void PlotItem::setPaddingDefaultsForGraph(CPTGraph& graph, const QRectF& bounds) {
    const double boundsPadding = std::round(bounds.width() / 20.0);
    graph.setPaddingLeft(boundsPadding);
    if (graph.titleDisplacement().y() > 0.0) {
        // A graph without a title style draws its title in the theme's text style.
        const auto titleStyle =
            graph.titleTextStyle() ? graph.titleTextStyle() : graph.defaultTextStyle();
        graph.setPaddingTop(titleStyle->fontSize() * 2.0);
    } else {
        graph.setPaddingTop(boundsPadding);
    }
    graph.setPaddingRight(boundsPadding);
    graph.setPaddingBottom(boundsPadding);
}

QImage PlotItem::image() {
    if (!cachedImage_.isNull()) {
        return cachedImage_;
    }
    PlotView view(QRectF(0, 0, kImageWidth, kImageHeight), nullptr);
    renderInView(&view, nullptr, false);

    QImage bitmap(kImageWidth, kImageHeight, QImage::Format_ARGB32_Premultiplied);
    bitmap.fill(Qt::transparent);
    {
        QPainter painter(&bitmap);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setRenderHint(QPainter::TextAntialiasing, true);
        view.render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    }
    // The view goes away here and takes the hosting view with it; the graphs stay listed.
    cachedImage_ = bitmap;
    return cachedImage_;
}

std::weak_ordering PlotItem::titleCompare(const PlotItem& other) const {
    const auto compare = [](const std::optional<QString>& a, const std::optional<QString>& b) {
        if (!a || !b) {
            return a.has_value() <=> b.has_value();
        }
        const int result = a->compare(*b, Qt::CaseInsensitive);
        return result <=> 0;
    };
    const std::weak_ordering bySection = compare(section_, other.section_);
    if (bySection != 0) {
        return bySection;
    }
    return compare(title_, other.title_);
}

void PlotItem::setFrameSize(QSizeF) {}
