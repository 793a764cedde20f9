#pragma once
// A box of entries, one per record of its plots: a swatch of the record's fill and its
// title, laid out row by row in a fixed number of columns.

#include "chart/framework/CPTDefinitions.h"
#include "chart/framework/CPTLineStyle.h"
#include "chart/framework/CPTMutableTextStyle.h"
#include "chart/framework/CPTPlot.h"

#include <QRectF>
#include <memory>
#include <vector>

class CPTGraph;
class QPainter;

// Told about legend clicks; our legends send none.
class CPTLegendDelegate {
public:
    virtual ~CPTLegendDelegate() = default;
};

class CPTLegend {
public:
    struct EntryLayout {
        QString title;
        std::shared_ptr<CPTFill> swatchFill;
        QRectF entryRect;
        QRectF swatchRect;
        QRectF titleRect;
    };
    struct Layout {
        QRectF frame; // the whole legend, widget coordinates
        std::vector<EntryLayout> entries;
    };

    // A legend for every plot the graph has now.
    static std::shared_ptr<CPTLegend> legendWithGraph(const CPTGraph& graph);
    explicit CPTLegend(std::vector<std::shared_ptr<CPTPlot>> plots);

    const std::vector<std::shared_ptr<CPTPlot>>& plots() const { return plots_; }

    // 0 puts every entry in one row.
    unsigned numberOfColumns() const { return numberOfColumns_; }
    void setNumberOfColumns(unsigned columns) { numberOfColumns_ = columns; }
    std::shared_ptr<CPTFill> fill() const { return fill_; }
    void setFill(std::shared_ptr<CPTFill> fill) { fill_ = std::move(fill); }
    std::shared_ptr<CPTLineStyle> borderLineStyle() const { return borderLineStyle_; }
    void setBorderLineStyle(std::shared_ptr<CPTLineStyle> style) {
        borderLineStyle_ = std::move(style);
    }
    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius) { cornerRadius_ = radius; }
    std::shared_ptr<CPTFill> entryFill() const { return entryFill_; }
    void setEntryFill(std::shared_ptr<CPTFill> fill) { entryFill_ = std::move(fill); }
    double entryCornerRadius() const { return entryCornerRadius_; }
    void setEntryCornerRadius(double radius) { entryCornerRadius_ = radius; }
    double entryPaddingLeft() const { return entryPaddingLeft_; }
    void setEntryPaddingLeft(double padding) { entryPaddingLeft_ = padding; }
    double entryPaddingTop() const { return entryPaddingTop_; }
    void setEntryPaddingTop(double padding) { entryPaddingTop_ = padding; }
    double entryPaddingRight() const { return entryPaddingRight_; }
    void setEntryPaddingRight(double padding) { entryPaddingRight_ = padding; }
    double entryPaddingBottom() const { return entryPaddingBottom_; }
    void setEntryPaddingBottom(double padding) { entryPaddingBottom_ = padding; }
    double columnMargin() const { return columnMargin_; }
    void setColumnMargin(double margin) { columnMargin_ = margin; }
    double rowMargin() const { return rowMargin_; }
    void setRowMargin(double margin) { rowMargin_ = margin; }
    // Outer padding on every side of the entries.
    double padding() const { return padding_; }
    void setPadding(double padding) { padding_ = padding; }
    // None: the graph's theme text style.
    std::shared_ptr<CPTMutableTextStyle> textStyle() const { return textStyle_; }
    void setTextStyle(std::shared_ptr<CPTMutableTextStyle> style) { textStyle_ = std::move(style); }
    CPTLegendDelegate* delegate() const { return delegate_; }
    void setDelegate(CPTLegendDelegate* delegate) { delegate_ = delegate; }

    // Entries and frame for the legend's own anchor point placed on `anchorPoint`.
    Layout layout(const QPointF& anchorPoint, CPTRectAnchor anchor,
                  const CPTMutableTextStyle& textStyle) const;
    void draw(QPainter& painter, const Layout& layout, const CPTMutableTextStyle& textStyle) const;

private:
    std::vector<std::shared_ptr<CPTPlot>> plots_;
    unsigned numberOfColumns_ = 0;
    std::shared_ptr<CPTFill> fill_;
    std::shared_ptr<CPTLineStyle> borderLineStyle_;
    double cornerRadius_ = 0.0;
    std::shared_ptr<CPTFill> entryFill_;
    double entryCornerRadius_ = 0.0;
    double entryPaddingLeft_ = 0.0;
    double entryPaddingTop_ = 0.0;
    double entryPaddingRight_ = 0.0;
    double entryPaddingBottom_ = 0.0;
    double columnMargin_ = 6.0;
    double rowMargin_ = 2.0;
    double padding_ = 2.0;
    std::shared_ptr<CPTMutableTextStyle> textStyle_;
    CPTLegendDelegate* delegate_ = nullptr; // not owned
};
