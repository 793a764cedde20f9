#pragma once
// A graph: background fill, a plot area inset by the paddings, plots, an optional title
// above the plot area and an optional legend. Geometry is in points, one point per
// device-independent pixel; the origin is the graph's top-left corner.

#include "chart/framework/CPTDefinitions.h"
#include "chart/framework/CPTFill.h"
#include "chart/framework/CPTLegend.h"
#include "chart/framework/CPTLineStyle.h"
#include "chart/framework/CPTMutableTextStyle.h"
#include "chart/framework/CPTPlot.h"

#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

class CPTTheme;
class QPainter;

class CPTPlotAreaFrame {
public:
    std::shared_ptr<CPTFill> fill() const { return fill_; }
    void setFill(std::shared_ptr<CPTFill> fill) { fill_ = std::move(fill); }
    std::shared_ptr<CPTLineStyle> borderLineStyle() const { return borderLineStyle_; }
    void setBorderLineStyle(std::shared_ptr<CPTLineStyle> style) {
        borderLineStyle_ = std::move(style);
    }
    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius) { cornerRadius_ = radius; }

    void draw(QPainter& painter, const QRectF& rect) const;

private:
    std::shared_ptr<CPTFill> fill_;
    std::shared_ptr<CPTLineStyle> borderLineStyle_;
    double cornerRadius_ = 0.0;
};

// Axis lines along the left and bottom edges of the plot area.
class CPTAxisSet {
public:
    std::shared_ptr<CPTLineStyle> axisLineStyle() const { return axisLineStyle_; }
    void setAxisLineStyle(std::shared_ptr<CPTLineStyle> style) {
        axisLineStyle_ = std::move(style);
    }
    void draw(QPainter& painter, const QRectF& plotArea) const;

private:
    std::shared_ptr<CPTLineStyle> axisLineStyle_ = CPTLineStyle::lineStyle();
};

class CPTGraph {
public:
    static constexpr double kDefaultPadding = 20.0;

    explicit CPTGraph(const QRectF& frame);
    CPTGraph(const CPTGraph&) = delete;
    CPTGraph& operator=(const CPTGraph&) = delete;
    virtual ~CPTGraph();

    QRectF frame() const { return frame_; }
    void setFrame(const QRectF& frame);
    QRectF bounds() const { return QRectF(QPointF(0.0, 0.0), frame_.size()); }

    void applyTheme(const std::shared_ptr<CPTTheme>& theme);
    // The theme last applied; none if no theme was.
    std::shared_ptr<CPTTheme> theme() const { return theme_; }

    // Every plot asks its data source again; then the graph redraws.
    void reloadData();

    std::shared_ptr<CPTFill> fill() const { return fill_; }
    void setFill(std::shared_ptr<CPTFill> fill);
    const std::shared_ptr<CPTPlotAreaFrame>& plotAreaFrame() const { return plotAreaFrame_; }
    std::shared_ptr<CPTAxisSet> axisSet() const { return axisSet_; }
    void setAxisSet(std::shared_ptr<CPTAxisSet> axisSet);

    double paddingLeft() const { return paddingLeft_; }
    void setPaddingLeft(double padding) { paddingLeft_ = padding; }
    double paddingTop() const { return paddingTop_; }
    void setPaddingTop(double padding) { paddingTop_ = padding; }
    double paddingRight() const { return paddingRight_; }
    void setPaddingRight(double padding) { paddingRight_ = padding; }
    double paddingBottom() const { return paddingBottom_; }
    void setPaddingBottom(double padding) { paddingBottom_ = padding; }
    // The bounds less the paddings, never negative in size.
    QRectF plotAreaRect() const;

    std::optional<QString> title() const { return title_; }
    void setTitle(std::optional<QString> title) { title_ = std::move(title); }
    // None: the theme's text style.
    std::shared_ptr<CPTMutableTextStyle> titleTextStyle() const { return titleTextStyle_; }
    void setTitleTextStyle(std::shared_ptr<CPTMutableTextStyle> style) {
        titleTextStyle_ = std::move(style);
    }
    // Points; positive y moves the title up.
    QPointF titleDisplacement() const { return titleDisplacement_; }
    void setTitleDisplacement(const QPointF& displacement) { titleDisplacement_ = displacement; }
    CPTRectAnchor titlePlotAreaFrameAnchor() const { return titleAnchor_; }
    void setTitlePlotAreaFrameAnchor(CPTRectAnchor anchor) { titleAnchor_ = anchor; }
    // Where the title is drawn, or an empty rectangle without a title.
    QRectF titleRect() const;

    // Text style of titles and legends that have none of their own.
    std::shared_ptr<CPTMutableTextStyle> defaultTextStyle() const { return defaultTextStyle_; }
    void setDefaultTextStyle(std::shared_ptr<CPTMutableTextStyle> style);

    // The graph owns its plots.
    void addPlot(std::shared_ptr<CPTPlot> plot);
    const std::vector<std::shared_ptr<CPTPlot>>& allPlots() const { return plots_; }

    std::shared_ptr<CPTLegend> legend() const { return legend_; }
    void setLegend(std::shared_ptr<CPTLegend> legend);
    // The legend is anchored to the graph's bounds; positive y moves it up.
    CPTRectAnchor legendAnchor() const { return legendAnchor_; }
    void setLegendAnchor(CPTRectAnchor anchor) { legendAnchor_ = anchor; }
    QPointF legendDisplacement() const { return legendDisplacement_; }
    void setLegendDisplacement(const QPointF& displacement) { legendDisplacement_ = displacement; }
    // The legend's placement now; empty without a legend.
    CPTLegend::Layout legendLayout() const;

    void draw(QPainter& painter) const;

    // The view that shows this graph; it is asked to repaint when the graph changes.
    void setHostingView(QWidget* view) { hostingView_ = view; }
    QWidget* hostingView() const { return hostingView_; }
    void setNeedsDisplay();

private:
    const CPTMutableTextStyle& textStyleOr(const std::shared_ptr<CPTMutableTextStyle>& own) const;

    QRectF frame_;
    std::shared_ptr<CPTTheme> theme_;
    std::shared_ptr<CPTFill> fill_;
    std::shared_ptr<CPTPlotAreaFrame> plotAreaFrame_ = std::make_shared<CPTPlotAreaFrame>();
    std::shared_ptr<CPTAxisSet> axisSet_;
    double paddingLeft_ = kDefaultPadding;
    double paddingTop_ = kDefaultPadding;
    double paddingRight_ = kDefaultPadding;
    double paddingBottom_ = kDefaultPadding;
    std::optional<QString> title_;
    std::shared_ptr<CPTMutableTextStyle> titleTextStyle_;
    QPointF titleDisplacement_;
    CPTRectAnchor titleAnchor_ = CPTRectAnchor::Top;
    std::shared_ptr<CPTMutableTextStyle> defaultTextStyle_ = CPTMutableTextStyle::textStyle();
    std::vector<std::shared_ptr<CPTPlot>> plots_;
    std::shared_ptr<CPTLegend> legend_;
    CPTRectAnchor legendAnchor_ = CPTRectAnchor::Bottom;
    QPointF legendDisplacement_;
    QPointer<QWidget> hostingView_;
};

// A graph with Cartesian axes, which it starts with.
class CPTXYGraph : public CPTGraph {
public:
    explicit CPTXYGraph(const QRectF& frame);
};
