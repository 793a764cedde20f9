#pragma once

#include "popover/INBezierPath.h"
#include "popover/INGeometry.h"
#include "popover/INPopoverTypes.h"

#include <QColor>
#include <QMargins>
#include <QPointer>
#include <QWidget>

#include <optional>

class QPainter;

// Paints the popover's shape: a rounded body with an arrow on one edge, filled, optionally
// stroked and marked with a one-point highlight under the top edge. The single store of the
// popover's look; it draws only and handles no input.
class INPopoverWindowFrame : public QWidget {
    Q_OBJECT

public:
    explicit INPopoverWindowFrame(const INRect& frame = INRect(), QWidget* parent = nullptr);

    // Colours are values: setting an equal colour counts as setting the same one.
    std::optional<QColor> color() const { return color_; }
    void setColor(std::optional<QColor> color);
    std::optional<QColor> borderColor() const { return borderColor_; }
    void setBorderColor(std::optional<QColor> color);
    std::optional<QColor> topHighlightColor() const { return topHighlightColor_; }
    // Shows from the next redraw on; does not ask for one by itself.
    void setTopHighlightColor(std::optional<QColor> color);
    double borderWidth() const { return borderWidth_; }
    void setBorderWidth(double width);
    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius);
    INSize arrowSize() const { return arrowSize_; }
    void setArrowSize(INSize size);
    INPopoverArrowDirection arrowDirection() const { return arrowDirection_; }
    void setArrowDirection(INPopoverArrowDirection direction);
    // How far the arrow stands from the middle of its edge (points, along the edge).
    double arrowOffset() const { return arrowOffset_; }
    void setArrowOffset(double offset);

    // True from a change that needs painting until the next paint.
    bool needsDisplay() const { return needsDisplay_; }
    void setNeedsDisplay(bool needs);

    // `view` follows this view's size, keeping `margins` on all four sides (none: no view).
    void setAutoresizingSubview(QWidget* view, QMargins margins);
    void layoutAutoresizingSubview();

    // The view's bounds in its own coordinates (origin bottom-left).
    INRect bounds() const;

    // The outline for `rect` with the current radius, arrow size and direction.
    INBezierPath _popoverBezierPathWithRect(const INRect& rect) const;

    // Paints the whole bounds; `painter` must already map the view's own coordinates
    // (origin bottom-left, y up) onto the device.
    void drawRect(QPainter& painter) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void updateWindowShape();
    void resizeEvent(QResizeEvent* event) override;

private:
    std::optional<QColor> color_;
    std::optional<QColor> borderColor_;
    std::optional<QColor> topHighlightColor_;
    double borderWidth_ = 0.0;
    double cornerRadius_ = 4.0;
    INSize arrowSize_{23.0, 12.0};
    INPopoverArrowDirection arrowDirection_ = INPopoverArrowDirectionLeft;
    double arrowOffset_ = 0.0;
    struct ShapeKey {
        QSize size;
        INPopoverArrowDirection direction;
        double arrowOffset, cornerRadius, arrowWidth, arrowHeight;
        bool operator==(const ShapeKey&) const = default;
    };
    std::optional<ShapeKey> shapeKey_; // what the window's shape was last made for
    bool needsDisplay_ = false;
    QPointer<QWidget> autoresizingSubview_;
    QMargins autoresizingMargins_;
};
