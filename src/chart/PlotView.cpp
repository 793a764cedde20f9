#include "chart/PlotView.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QResizeEvent>

namespace {

// Screen readers meet a plot view as a chart; its name and description say what it shows.
QAccessibleInterface* plotViewAccessible(const QString& /*className*/, QObject* object) {
    if (auto* view = dynamic_cast<PlotView*>(object)) {
        return new QAccessibleWidget(view, QAccessible::Chart);
    }
    return nullptr;
}

void registerAccessibility() {
    static const bool registered = [] {
        QAccessible::installFactory(plotViewAccessible);
        return true;
    }();
    (void)registered;
}

} // namespace

PlotView::PlotView(QWidget* parent) : QWidget(parent) {
    registerAccessibility();
}

PlotView::PlotView(const QRectF& frame, QWidget* parent) : QWidget(parent) {
    registerAccessibility();
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
