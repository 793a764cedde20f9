#include "platform/ui/StatusBar.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QIconEngine>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolTip>
#include <QWidget>

#include <X11/Xlib.h>

#include <cmath>
#include <optional>

void StatusItemView::drawStatusItem(QPainter& painter, const QRect& rect) {
    const QPixmap image = statusItemImage();
    if (image.isNull()) {
        return;
    }
    QSizeF size = image.deviceIndependentSize();
    size.scale(QSizeF(rect.size()), Qt::KeepAspectRatio);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(QRectF(rect.x() + (rect.width() - size.width()) / 2,
                              rect.y() + (rect.height() - size.height()) / 2, size.width(),
                              size.height()),
                       image, QRectF(image.rect()));
}

namespace {

// Draws the item's view at whatever size and scale the tray host asks for, so the icon stays
// crisp on every panel size and screen scale instead of being a scaled bitmap.
class ViewIconEngine final : public QIconEngine {
public:
    explicit ViewIconEngine(StatusItemView* view) : view_(view) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
        if (view_ != nullptr) {
            view_->drawStatusItem(*painter, rect);
        }
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        QPixmap pixmap(size * scale);
        pixmap.fill(Qt::transparent);
        {
            QPainter painter(&pixmap);
            paint(&painter, QRect(QPoint(0, 0), pixmap.size()), mode, state);
        }
        pixmap.setDevicePixelRatio(scale);
        return pixmap;
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        // What StatusNotifierItem hosts pick from: the usual panel sizes, up to twice them.
        return {{16, 16}, {22, 22}, {24, 24}, {32, 32}, {44, 44}, {48, 48}, {64, 64}};
    }
    QIconEngine* clone() const override { return new ViewIconEngine(view_); }
    QString key() const override { return QStringLiteral("StatusItemView"); }

private:
    StatusItemView* view_; // the view outlives its item and so every icon made here
};

} // namespace

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
    if (watched == watched_ && event->type() == QEvent::ToolTip) {
        // Fresh figures the moment the tooltip shows, then kept fresh while it stays.
        refreshToolTip();
        if (toolTipTimer_ != nullptr) {
            toolTipTimer_->start();
        }
    }
    return QObject::eventFilter(watched, event);
}

void StatusItem::viewNeedsDisplay() {
    if (view_ == nullptr) {
        return;
    }
    shown_ = view_->statusItemImage();
    // A fresh engine each time: hosts and Qt cache icons by their identity.
    tray_->setIcon(QIcon(new ViewIconEngine(view_)));
}

QPixmap StatusItem::renderedIcon(QSize size, qreal devicePixelRatio) const {
    return tray_->icon().pixmap(size, devicePixelRatio);
}

void StatusItem::setToolTipProvider(std::function<QString()> provider, int refreshMs) {
    toolTipProvider_ = std::move(provider);
    if (toolTipTimer_ == nullptr) {
        toolTipTimer_ = new QTimer(this);
        connect(toolTipTimer_, &QTimer::timeout, this, [this] {
            // Only while the tooltip is seen: a closed one costs nothing.
            if (!QToolTip::isVisible()) {
                toolTipTimer_->stop();
                return;
            }
            refreshToolTip();
            if (watched_) {
                QToolTip::showText(QCursor::pos(), tray_->toolTip(), watched_);
            }
        });
    }
    toolTipTimer_->setInterval(refreshMs);
    refreshToolTip();
}

void StatusItem::refreshToolTip() {
    if (toolTipProvider_) {
        const QString text = toolTipProvider_();
        if (text != tray_->toolTip()) {
            tray_->setToolTip(text);
        }
    }
}

bool StatusItem::isRefreshingToolTip() const {
    return toolTipTimer_ != nullptr && toolTipTimer_->isActive();
}

QIcon StatusItem::icon() const {
    return tray_->icon();
}

QString StatusItem::toolTip() const {
    return tray_->toolTip();
}

void StatusItem::setContextMenu(QMenu* menu) {
    tray_->setContextMenu(menu);
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
        const auto window = static_cast<Window>(widget->winId());
        Window child = 0;
        int x = 0;
        int y = 0;
        XWindowAttributes attributes{};
        // The size too: the host resizes the slot before Qt has heard of it.
        if (!XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y,
                                   &child) ||
            !XGetWindowAttributes(display, window, &attributes)) {
            return std::nullopt;
        }
        const qreal dpr = widget->devicePixelRatio();
        return QRect(
            QPoint(static_cast<int>(std::floor(x / dpr)), static_cast<int>(std::floor(y / dpr))),
            QSize(static_cast<int>(std::ceil(attributes.width / dpr)),
                  static_cast<int>(std::ceil(attributes.height / dpr))));
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

bool StatusItem::isEmbedded() const {
    for (QWidget* widget : QApplication::allWidgets()) {
        if (widget->isWindow() && widget->inherits("QSystemTrayIconSys")) {
            return true;
        }
    }
    return false;
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
