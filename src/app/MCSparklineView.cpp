#include "app/MCSparklineView.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <chrono>

MCSparklineView::MCSparklineView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void MCSparklineView::setHistory(const MCMemoryHistory& history) {
    points_ = history.points();
    if (isVisible()) {
        update();
    }
}

void MCSparklineView::setColors(QColor line, QColor some, QColor high) {
    line_ = line;
    some_ = some;
    high_ = high;
    update();
}

QPointF MCSparklineView::position(const MCHistoryPoint& point, const MCHistoryPoint& newest,
                                  QSizeF size) {
    using Seconds = std::chrono::duration<double>;
    const double span = Seconds(MCMemoryHistory::kSpan).count();
    const double age = Seconds(newest.time - point.time).count();
    const double x = size.width() * (1.0 - std::clamp(age / span, 0.0, 1.0));
    const double y = size.height() * (1.0 - std::clamp(point.usedFraction, 0.0, 1.0));
    return {x, y};
}

void MCSparklineView::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const QRectF area = rect();
    // A faint baseline frame, so an empty or flat graph still reads as a graph.
    QColor frame = line_;
    frame.setAlphaF(0.18);
    painter.fillRect(area, QColor(frame.red(), frame.green(), frame.blue(), 14));
    painter.setPen(frame);
    painter.drawLine(area.bottomLeft(), area.bottomRight());
    if (points_.empty()) {
        return;
    }
    const MCHistoryPoint& newest = points_.back();
    const QSizeF size = area.size();

    // Pressure: each point shades the stretch up to the next one.
    for (std::size_t i = 0; i < points_.size(); ++i) {
        if (!points_[i].pressure) {
            continue;
        }
        const MCPressureState state = pressureState(*points_[i].pressure);
        if (state == MCPressureState::None) {
            continue;
        }
        const double left = position(points_[i], newest, size).x();
        const double right =
            i + 1 < points_.size() ? position(points_[i + 1], newest, size).x() : size.width();
        QColor shade = state == MCPressureState::High ? high_ : some_;
        shade.setAlphaF(0.30);
        painter.fillRect(QRectF(left, 0, std::max(1.0, right - left), size.height()), shade);
    }

    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath line;
    line.moveTo(position(points_.front(), newest, size));
    for (std::size_t i = 1; i < points_.size(); ++i) {
        line.lineTo(position(points_[i], newest, size));
    }
    if (points_.size() == 1) {
        // One sample: a short level mark at the right edge.
        line.lineTo(QPointF(size.width() - 6, line.currentPosition().y()));
    }
    QPainterPath fill = line;
    fill.lineTo(QPointF(fill.currentPosition().x(), size.height()));
    fill.lineTo(QPointF(position(points_.front(), newest, size).x(), size.height()));
    fill.closeSubpath();
    QColor soft = line_;
    soft.setAlphaF(0.22);
    painter.fillPath(fill, soft);
    painter.setPen(QPen(line_, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(line);
}
