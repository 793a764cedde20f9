#pragma once
// Base of every plot: a data source, cached records and drawing into the plot area.

#include "chart/framework/CPTFill.h"

#include <QString>
#include <memory>
#include <optional>
#include <vector>

class CPTGraph;
class CPTPlot;
class QPainter;
class QRectF;

// Answers the records of a plot.
class CPTPlotDataSource {
public:
    virtual ~CPTPlotDataSource() = default;
    virtual unsigned long numberOfRecordsForPlot(CPTPlot* plot) = 0;
    // None when the record has no value for the field.
    virtual std::optional<double> numberForPlot(CPTPlot* plot, unsigned long field,
                                                unsigned long recordIndex) = 0;
};

// Told about plot-space events; our plots send none.
class CPTPlotSpaceDelegate {
public:
    virtual ~CPTPlotSpaceDelegate() = default;
};

// What a legend shows for one record.
struct CPTLegendEntry {
    QString title;
    std::shared_ptr<CPTFill> swatchFill;
};

class CPTPlot {
public:
    CPTPlot() = default;
    CPTPlot(const CPTPlot&) = delete;
    CPTPlot& operator=(const CPTPlot&) = delete;
    virtual ~CPTPlot();

    // Not owned: the data source must outlive the plot or be cleared first.
    CPTPlotDataSource* dataSource() const { return dataSource_; }
    void setDataSource(CPTPlotDataSource* dataSource);

    // Asks the data source for everything again and marks the graph for redrawing.
    void reloadData();
    // Loads the data once if it was never loaded since the data source was set.
    void reloadDataIfNeeded();
    bool needsReload() const { return needsReload_; }

    virtual void drawInPlotArea(QPainter& painter, const QRectF& plotArea) const = 0;
    virtual std::vector<CPTLegendEntry> legendEntries() const = 0;

    // The graph this plot was added to; set by the graph, which owns the plot.
    CPTGraph* graph() const { return graph_; }
    void setGraph(CPTGraph* graph) { graph_ = graph; }

protected:
    // Reads the records from the data source (which may be none).
    virtual void loadData(CPTPlotDataSource* dataSource) = 0;

private:
    CPTPlotDataSource* dataSource_ = nullptr;
    CPTGraph* graph_ = nullptr;
    bool needsReload_ = true;
};
