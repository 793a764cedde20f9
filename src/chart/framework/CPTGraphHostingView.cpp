#include "chart/framework/CPTGraphHostingView.h"

#include "chart/framework/CPTGraph.h"

#include <QEvent>
#include <QPainter>
#include <QResizeEvent>

CPTGraphHostingView::CPTGraphHostingView(const QRectF& frame, QWidget* parent) : QWidget(parent) {
    setGeometry(frame.toRect());
    setAttribute(Qt::WA_NoSystemBackground);
    watchParent();
}

CPTGraphHostingView::~CPTGraphHostingView() {
    if (hostedGraph_ && hostedGraph_->hostingView() == this) {
        hostedGraph_->setHostingView(nullptr);
    }
}

void CPTGraphHostingView::setHostedGraph(std::shared_ptr<CPTGraph> graph) {
    if (hostedGraph_ == graph) {
        return;
    }
    if (hostedGraph_ && hostedGraph_->hostingView() == this) {
        hostedGraph_->setHostingView(nullptr);
    }
    hostedGraph_ = std::move(graph);
    if (hostedGraph_) {
        hostedGraph_->setFrame(QRectF(QPointF(0.0, 0.0), QSizeF(size())));
        hostedGraph_->setHostingView(this);
    }
    update();
}

void CPTGraphHostingView::watchParent() {
    if (watchedParent_ == parentWidget()) {
        return;
    }
    if (watchedParent_ != nullptr) {
        watchedParent_->removeEventFilter(this);
    }
    watchedParent_ = parentWidget();
    if (watchedParent_ != nullptr) {
        watchedParent_->installEventFilter(this);
        lastParentSize_ = watchedParent_->size();
    }
}

bool CPTGraphHostingView::event(QEvent* event) {
    if (event->type() == QEvent::ParentChange) {
        watchParent();
    }
    return QWidget::event(event);
}

bool CPTGraphHostingView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == watchedParent_ && event->type() == QEvent::Resize) {
        // Keep the margins to the parent; only the size follows. The old size is our own
        // record: a hidden parent reports its first resize without one.
        const QSize now = static_cast<QResizeEvent*>(event)->size();
        const QSize old = lastParentSize_;
        lastParentSize_ = now;
        if (old != now) {
            const QSize delta = now - old;
            QSize next = size();
            if ((autoresizingMask_ & kWidthSizable) != 0) {
                next.setWidth(std::max(0, next.width() + delta.width()));
            }
            if ((autoresizingMask_ & kHeightSizable) != 0) {
                next.setHeight(std::max(0, next.height() + delta.height()));
            }
            resize(next);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CPTGraphHostingView::paintEvent(QPaintEvent*) {
    if (!hostedGraph_) {
        return;
    }
    const QRectF bounds(QPointF(0.0, 0.0), QSizeF(size()));
    if (hostedGraph_->frame() != bounds) {
        hostedGraph_->setFrame(bounds); // resize events of hidden widgets come late
    }
    QPainter painter(this);
    hostedGraph_->draw(painter);
}

void CPTGraphHostingView::resizeEvent(QResizeEvent* event) {
    if (hostedGraph_) {
        hostedGraph_->setFrame(QRectF(QPointF(0.0, 0.0), QSizeF(event->size())));
    }
    QWidget::resizeEvent(event);
}
