#include "platform/ui/FocusRing.h"

#include <QEvent>
#include <QFocusEvent>
#include <QPainter>

FocusRing::FocusRing(QWidget* target) : QWidget(target), target_(target) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    hide();
    if (target != nullptr) {
        setGeometry(target->rect());
        target->installEventFilter(this);
    }
}

void FocusRing::setColor(const QColor& color) {
    if (color != color_) {
        color_ = color;
        update();
    }
}

bool FocusRing::eventFilter(QObject* watched, QEvent* event) {
    if (watched != target_) {
        return false;
    }
    switch (event->type()) {
    case QEvent::Resize:
        setGeometry(target_->rect());
        break;
    case QEvent::FocusIn: {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
            reason == Qt::ShortcutFocusReason) {
            setGeometry(target_->rect());
            show();
            raise(); // over children added since, such as a chart's hosting view
        }
        break;
    }
    case QEvent::FocusOut:
        hide();
        break;
    default:
        break;
    }
    return false;
}

void FocusRing::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(color_);
    pen.setWidth(kWidth);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const double inset = kWidth / 2.0;
    painter.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), kRadius,
                            kRadius);
}
