#include "PlotView.h"

#include <QResizeEvent>

PlotView::PlotView(QWidget* parent) : QWidget(parent) {}

PlotView::PlotView(const QRectF& frame, QWidget* parent) : QWidget(parent) {
    setGeometry(frame.toRect());
}

void PlotView::setFrameSize(QSizeF size) {
    resize(size.toSize());
    // Hidden widgets get their resize event only when shown, so tell the delegate now.
    tellDelegate(QSizeF(this->size()));
}

void PlotView::paintEvent(QPaintEvent*) {}

void PlotView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    tellDelegate(QSizeF(event->size()));
}

void PlotView::tellDelegate(QSizeF size) {
    if (!delegate_ || !delegate_->respondsToSetFrameSize()) {
        return;
    }
    // setFrameSize and the resize it causes report the same size once.
    if (size == lastToldSize_ && delegate_.get() == lastToldDelegate_) {
        return;
    }
    lastToldSize_ = size;
    lastToldDelegate_ = delegate_.get();
    delegate_->setFrameSize(size);
}
