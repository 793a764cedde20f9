#include "chart/framework/CPTPlot.h"

#include "chart/framework/CPTGraph.h"

CPTPlot::~CPTPlot() = default;

void CPTPlot::setDataSource(CPTPlotDataSource* dataSource) {
    dataSource_ = dataSource;
    needsReload_ = true;
}

void CPTPlot::reloadData() {
    loadData(dataSource_);
    needsReload_ = false;
    if (graph_ != nullptr) {
        graph_->setNeedsDisplay();
    }
}

void CPTPlot::reloadDataIfNeeded() {
    if (needsReload_) {
        loadData(dataSource_);
        needsReload_ = false;
    }
}
