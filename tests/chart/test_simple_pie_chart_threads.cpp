// The pie's data is an atomic property: a writer thread and a reader never see a torn list.

#include "chart/SimplePieChart.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

TEST(SimplePieChartThreads, ConcurrentSetAndReadSeeWholeLists) {
    SimplePieChart chart;
    const std::vector<int64_t> a = {1, 2, 3, 4};
    const std::vector<int64_t> b = {10, 20, 30, 40, 50};
    chart.setPlotData(a);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            chart.setPlotData(i % 2 == 0 ? b : a);
        }
        stop = true;
    });
    while (!stop) {
        const auto data = chart.plotData();
        EXPECT_TRUE(data == a || data == b);
        const unsigned long count = chart.numberOfRecordsForPlot(nullptr);
        EXPECT_TRUE(count == a.size() || count == b.size());
        // An index valid in one list only answers a number or none, never garbage.
        const auto fifth = chart.numberForPlot(nullptr, 0, 4);
        EXPECT_TRUE(!fifth || *fifth == 50.0);
    }
    writer.join();
    EXPECT_EQ(chart.plotData(), std::optional(a));
}
