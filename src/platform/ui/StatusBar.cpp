#include "StatusBar.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QSystemTrayIcon>
#include <QWidget>

#include <X11/Xlib.h>

#include <optional>

StatusItem::StatusItem() : tray_(std::make_unique<QSystemTrayIcon>()) {
    connect(tray_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // Two quick clicks are two clicks here, not a double click.
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                    const QPoint at = QCursor::pos();
                    emit clicked(at);
                    if (view_ != nullptr) {
                        view_->mouseDown(at);
                    }
                }
            });
}

StatusItem::~StatusItem() = default;

void StatusItem::setView(StatusItemView* view) {
    view_ = view;
    viewNeedsDisplay();
    tray_->show();
    watchTrayWindow();
}

void StatusItem::watchTrayWindow() {
    // The tray host moves and resizes our icon as it likes; QSystemTrayIcon does not tell.
    for (QWidget* widget : QApplication::allWidgets()) {
        if (widget->isWindow() && widget->inherits("QSystemTrayIconSys") && widget != watched_) {
            watched_ = widget;
            widget->installEventFilter(this);
        }
    }
}

bool StatusItem::eventFilter(QObject* watched, QEvent* event) {
    if (watched == watched_ && (event->type() == QEvent::Resize || event->type() == QEvent::Move ||
                                event->type() == QEvent::Show)) {
        emit geometryChanged();
    }
    return QObject::eventFilter(watched, event);
}

void StatusItem::viewNeedsDisplay() {
    if (view_ == nullptr) {
        return;
    }
    shown_ = view_->statusItemImage();
    tray_->setIcon(QIcon(shown_));
}

namespace {

// The XEmbed tray reparents our icon window into the tray host's, which Qt does not follow:
// it reports the icon's position inside the host as if it were on the screen. Ask the X
// server where the icon really is.
std::optional<QRect> embeddedIconGeometry() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->display() == nullptr) {
        return std::nullopt;
    }
    for (QWidget* widget : QApplication::allWidgets()) {
        if (!widget->isWindow() || !widget->inherits("QSystemTrayIconSys") ||
            !widget->testAttribute(Qt::WA_WState_Created)) {
            continue;
        }
        Display* display = x11->display();
        Window child = 0;
        int x = 0;
        int y = 0;
        if (!XTranslateCoordinates(display, static_cast<Window>(widget->winId()),
                                   DefaultRootWindow(display), 0, 0, &x, &y, &child)) {
            return std::nullopt;
        }
        const qreal dpr = widget->devicePixelRatio();
        return QRect(QPoint(static_cast<int>(x / dpr), static_cast<int>(y / dpr)), widget->size());
    }
    return std::nullopt;
}

} // namespace

QRect StatusItem::geometry() const {
    const QRect reported = tray_->geometry();
    if (reported.isEmpty()) {
        return reported;
    }
    return embeddedIconGeometry().value_or(reported);
}

StatusBar* StatusBar::systemStatusBar() {
    static StatusBar bar;
    return &bar;
}

bool StatusBar::isAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

double StatusBar::thickness() const {
    // The tray host decides the size of its icons; before it has shown ours, the usual one.
    if (lastItem_) {
        const QRect shown = lastItem_->geometry();
        if (shown.height() > 0) {
            return shown.height();
        }
    }
    return kDefaultThickness;
}

std::unique_ptr<StatusItem> StatusBar::statusItemWithLength(double /*length*/) {
    // Tray hosts size items themselves: a variable length is all there is.
    std::unique_ptr<StatusItem> item(new StatusItem);
    lastItem_ = item.get();
    return item;
}
