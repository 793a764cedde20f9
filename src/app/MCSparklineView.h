#pragma once
// The panel's history graph: used memory over the last ten minutes as a line with a soft fill,
// and the times of memory pressure as amber (some) or red (high) shading behind it.

#include "memory/MCMemoryHistory.h"

#include <QColor>
#include <QWidget>

#include <vector>

class MCSparklineView : public QWidget {
    Q_OBJECT
public:
    explicit MCSparklineView(QWidget* parent = nullptr);

    // Copies the points; repaints only while shown.
    void setHistory(const MCMemoryHistory& history);
    const std::vector<MCHistoryPoint>& points() const { return points_; }

    // The line's colour and the pressure shades, for the light or dark palette.
    void setColors(QColor line, QColor some, QColor high);

    // Where a point goes in a graph of `size`: x by its age against the newest point (the
    // right edge is now, the left ten minutes ago), y by the used fraction (0 at the bottom).
    static QPointF position(const MCHistoryPoint& point, const MCHistoryPoint& newest, QSizeF size);

    QSize sizeHint() const override { return {276, 36}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<MCHistoryPoint> points_;
    QColor line_{0x1f, 0x6f, 0xd1};
    QColor some_{0xf5, 0xa5, 0x24};
    QColor high_{0xe5, 0x48, 0x4d};
};
