#include "popover/INPopoverWindow.h"

#include "platform/ui/WindowSystem.h"
#include "popover/INPopoverController.h"
#include "popover/INPopoverGeometry.h"
#include "popover/INPopoverWindowFrame.h"
#include "popover/INScreenGeometry.h"

#include <QBitmap>
#include <QCloseEvent>
#include <QEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QVariantAnimation>
#include <QWindow>

#include <algorithm>

namespace {

constexpr Qt::WindowFlags kPopoverWindowFlags = Qt::Tool | Qt::FramelessWindowHint;

INRect interpolate(const INRect& a, const INRect& b, double t) {
    auto mix = [t](double u, double v) { return u + (v - u) * t; };
    return {mix(a.x(), b.x()), mix(a.y(), b.y()), mix(a.width(), b.width()),
            mix(a.height(), b.height())};
}

// S, O and E evenly spaced over the animation: O is reached half-way.
INRect keyframeRect(const INRect& s, const INRect& o, const INRect& e, double progress) {
    if (progress <= 0.5) {
        return interpolate(s, o, progress * 2.0);
    }
    return interpolate(o, e, (progress - 0.5) * 2.0);
}

QRect windowGeometry(const INRect& rect) {
    // A window needs at least one pixel; a zero frame still opens somewhere harmless.
    QRect g = INScreenGeometry::toQt(rect);
    g.setWidth(std::max(1, g.width()));
    g.setHeight(std::max(1, g.height()));
    return g;
}

} // namespace

INZoomWindow::INZoomWindow(const QImage& snapshot, const INRect& frame)
    : QWidget(nullptr, kPopoverWindowFlags), snapshot_(snapshot),
      cutToSnapshot_(!WindowSystem::isCompositing()) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(windowGeometry(frame));
}

void INZoomWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (cutToSnapshot_ && !size().isEmpty()) {
        setMask(QBitmap::fromImage(
            snapshot_.scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .createAlphaMask()));
    }
}

void INZoomWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // Both axes scale independently: the snapshot fills whatever size the window has.
    painter.drawImage(QRectF(rect()), snapshot_);
}

INPopoverWindow::INPopoverWindow(const INRect& contentRect)
    : QWidget(nullptr, kPopoverWindowFlags) {
    setAttribute(Qt::WA_TranslucentBackground);
    setGeometry(INScreenGeometry::toQt(contentRect));

    alphaAnimator_ = new QVariantAnimation(this);
    connect(alphaAnimator_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& v) { setAlphaValue(v.toDouble()); });
    connect(alphaAnimator_, &QVariantAnimation::finished, this, [this] {
        setAlphaValue(alphaAnimator_->endValue().toDouble());
        if (alphaAnimation_ && alphaAnimation_->delegate()) {
            alphaAnimation_->delegate()->animationDidStop(alphaAnimation_.get(), true);
        }
    });

    popAnimator_ = new QVariantAnimation(this);
    popAnimator_->setStartValue(0.0);
    popAnimator_->setEndValue(1.0);
    connect(popAnimator_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        if (!zoomWindow_) {
            return;
        }
        const double t = v.toDouble();
        zoomWindow_->setGeometry(
            windowGeometry(keyframeRect(popStart_, popOvershoot_, popEnd_, t)));
        zoomWindow_->setWindowOpacity(t);
    });
    connect(popAnimator_, &QVariantAnimation::finished, this,
            [this] { animationDidStop(&popAnimation_, true); });

    zoomFadeAnimator_ = new QVariantAnimation(this);
    connect(zoomFadeAnimator_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        if (zoomWindow_) {
            zoomWindow_->setWindowOpacity(v.toDouble());
        }
    });
    connect(zoomFadeAnimator_, &QVariantAnimation::finished, this, [this] { dropZoomWindow(); });

    frameAnimator_ = new QVariantAnimation(this);
    connect(frameAnimator_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        setGeometry(v.toRect());
        layoutFrameView();
    });

    // The frame view and an empty content view exist from the start.
    setPopoverContentView(new QWidget);
    placeholder_ = contentView_;
}

INPopoverWindow::~INPopoverWindow() {
    alphaAnimator_->stop();
    popAnimator_->stop();
    zoomFadeAnimator_->stop();
    frameAnimator_->stop();
    // The content view belongs to its view controller, not to this window.
    if (contentView_ && contentView_ != placeholder_) {
        contentView_->setParent(nullptr);
    }
}

void INPopoverWindow::setPopoverContentView(QWidget* view) {
    if (contentView_ && contentView_ == view) {
        return;
    }
    const INRect bounds(0.0, 0.0, width(), height());
    if (!frameView_) {
        frameView_ = new INPopoverWindowFrame(bounds, this);
    }
    if (contentView_) {
        QWidget* old = contentView_;
        frameView_->setAutoresizingSubview(nullptr, QMargins());
        old->setParent(nullptr);
        if (old == placeholder_) {
            delete old;
        }
    }
    contentView_ = view;
    if (view) {
        // The inset is the same on all four sides, so it reads the same in Qt's coordinates.
        const INRect c = contentRectForFrameRect(bounds);
        const int left = static_cast<int>(c.x());
        const int bottom = static_cast<int>(c.y());
        const QMargins margins(left, static_cast<int>(bounds.height() - c.maxY()),
                               static_cast<int>(bounds.width() - c.maxX()), bottom);
        view->setParent(frameView_);
        view->setGeometry(left, margins.top(), static_cast<int>(c.width()),
                          static_cast<int>(c.height()));
        frameView_->setAutoresizingSubview(view, margins);
        view->show();
    }
}

INRect INPopoverWindow::contentRectForFrameRect(const INRect& frame) const {
    return INPopoverContentRectForFrameRect(frame, frameView_->arrowSize().height);
}

INRect INPopoverWindow::frameRectForContentRect(const INRect& content) const {
    return INPopoverFrameRectForContentRect(content, frameView_->arrowSize().height);
}

bool INPopoverWindow::isVisible() const {
    return QWidget::isVisible() || (zoomWindow_ && zoomWindow_->QWidget::isVisible());
}

INRect INPopoverWindow::frame() const {
    return INScreenGeometry::fromQt(geometry());
}

void INPopoverWindow::setFrame(const INRect& frame, bool display, bool animate) {
    frameAnimator_->stop();
    const QRect target = INScreenGeometry::toQt(frame);
    if (animate && QWidget::isVisible() && target != geometry()) {
        frameAnimator_->setDuration(static_cast<int>(INAnimation::kDefaultDuration.count()));
        frameAnimator_->setStartValue(geometry());
        frameAnimator_->setEndValue(target);
        frameAnimator_->start();
        return;
    }
    setGeometry(target);
    layoutFrameView();
    if (display) {
        frameView_->update();
    }
}

void INPopoverWindow::setAlphaValue(double alpha) {
    alpha_ = std::clamp(alpha, 0.0, 1.0);
    setWindowOpacity(alpha_);
}

void INPopoverWindow::animateAlphaValue(double alpha) {
    alphaAnimator_->stop();
    const auto duration =
        alphaAnimation_ ? alphaAnimation_->duration() : INAnimation::kDefaultDuration;
    alphaAnimator_->setDuration(static_cast<int>(duration.count()));
    alphaAnimator_->setStartValue(alpha_);
    alphaAnimator_->setEndValue(std::clamp(alpha, 0.0, 1.0));
    alphaAnimator_->start();
}

void INPopoverWindow::setAlphaValueAnimation(std::unique_ptr<INAnimation> animation) {
    alphaAnimation_ = std::move(animation);
}

void INPopoverWindow::presentAnimated() {
    if (isVisible()) {
        return;
    }
    const INPopoverAnimationType type =
        controller_ ? controller_->animationType() : INPopoverAnimationTypePop;
    if (type == INPopoverAnimationTypeFadeIn || type == INPopoverAnimationTypeFadeInOut) {
        presentWithFadeAnimation();
    } else if (type == INPopoverAnimationTypePop) {
        presentWithPopAnimation();
    }
}

void INPopoverWindow::presentWithFadeAnimation() {
    setAlphaValue(0.0);
    makeKeyAndOrderFront();
    animateAlphaValue(1.0);
}

void INPopoverWindow::presentWithPopAnimation() {
    const INRect end = frame();
    const INPopoverArrowDirection direction = frameView_->arrowDirection();
    INRect start;
    INRect overshoot;
    if (controller_) {
        start = controller_->popoverFrameWithSize(INSize{20.0, 20.0}, direction);
        overshoot = controller_->popoverFrameWithSize(end.size, direction);
    }
    stopPopAnimation();
    zoomWindow_ = _zoomWindowWithRect(start);
    zoomWindow_->setWindowOpacity(0.0);
    zoomWindow_->show();
    zoomWindow_->raise();

    popStart_ = start;
    popOvershoot_ = overshoot;
    popEnd_ = end;
    popAnimator_->setDuration(static_cast<int>(popAnimation_.duration().count()));
    popAnimator_->start();
}

void INPopoverWindow::animationDidStop(INAnimation* animation, bool finished) {
    setAlphaValue(1.0);
    makeKeyAndOrderFront();
    dropZoomWindow();
    if (alphaAnimation_ && alphaAnimation_->delegate()) {
        alphaAnimation_->delegate()->animationDidStop(animation, finished);
    }
}

void INPopoverWindow::dismissAnimated() {
    // A pop cut short never reports its end, so it cannot reopen the window after the close.
    stopPopAnimation();
    if (zoomWindow_) {
        zoomFadeAnimator_->stop();
        const auto duration =
            alphaAnimation_ ? alphaAnimation_->duration() : INAnimation::kDefaultDuration;
        zoomFadeAnimator_->setDuration(static_cast<int>(duration.count()));
        zoomFadeAnimator_->setStartValue(zoomWindow_->windowOpacity());
        zoomFadeAnimator_->setEndValue(0.0);
        zoomFadeAnimator_->start();
    }
    animateAlphaValue(0.0);
}

std::unique_ptr<INZoomWindow> INPopoverWindow::_zoomWindowWithRect(const INRect& rect) {
    return std::make_unique<INZoomWindow>(snapshot(), rect);
}

QImage INPopoverWindow::snapshot() {
    const qreal ratio = devicePixelRatioF();
    QImage image(frameView_->size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    frameView_->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

void INPopoverWindow::makeKeyWindow() {
    activateWindow();
}

void INPopoverWindow::makeKeyAndOrderFront() {
    show();
    raise();
    activateWindow();
}

void INPopoverWindow::orderOut() {
    // Nothing still running may bring the window back or report after it has gone.
    alphaAnimator_->stop();
    frameAnimator_->stop();
    stopPopAnimation();
    dropZoomWindow();
    hide();
}

void INPopoverWindow::setParentWindow(QWidget* parent) {
    parentWindow_ = parent;
    winId();
    QWindow* parentHandle = nullptr;
    if (parent) {
        parent->winId();
        parentHandle = parent->windowHandle();
    }
    windowHandle()->setTransientParent(parentHandle);
}

void INPopoverWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutFrameView();
}

void INPopoverWindow::layoutFrameView() {
    // Hidden widgets get their resize events only when shown; the frame must fit at once.
    frameView_->setGeometry(rect());
    frameView_->layoutAutoresizingSubview();
}

void INPopoverWindow::closeEvent(QCloseEvent* event) {
    // Hiding behind the controller's back would leave it, and whoever presented the popover,
    // believing it open: the controller closes it and tells its delegate. Only the window
    // system's own close; the application closing its windows as it quits is not held up.
    if (controller_ != nullptr && event->spontaneous()) {
        event->ignore();
        controller_->closePopover(nullptr);
        return;
    }
    QWidget::closeEvent(event);
}

void INPopoverWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) {
        const bool key = isActiveWindow();
        if (wasKey_ && !key) {
            emit didResignKey();
        }
        wasKey_ = key;
    }
}

void INPopoverWindow::stopPopAnimation() {
    popAnimator_->stop();
}

void INPopoverWindow::dropZoomWindow() {
    zoomFadeAnimator_->stop();
    if (zoomWindow_) {
        zoomWindow_->hide();
        zoomWindow_.reset();
    }
}
