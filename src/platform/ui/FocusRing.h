#pragma once
// A ring around a widget that has no focus look of its own (a chart, say), shown while it
// holds the keyboard focus that the keyboard gave it. Focus that comes with opening a window
// shows no ring, so a mouse user sees the widget as it always looks.

#include <QColor>
#include <QPointer>
#include <QWidget>

class FocusRing : public QWidget {
public:
    static constexpr int kWidth = 2;
    static constexpr double kRadius = 6.0;

    // Lives inside `target`, drawn over its other children.
    explicit FocusRing(QWidget* target);

    QColor color() const { return color_; }
    void setColor(const QColor& color);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QPointer<QWidget> target_;
    QColor color_{0x2a, 0x6f, 0xe0};
};
