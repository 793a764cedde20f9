#include "popover/INPopoverController.h"

#include "popover/INApplicationState.h"
#include "popover/INPopoverGeometry.h"
#include "popover/INPopoverParentWindow.h"
#include "popover/INPopoverWindow.h"
#include "popover/INPopoverWindowFrame.h"
#include "popover/INScreenGeometry.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace {

// A view that was never given a size has only its size hint to go by.
INSize viewFrameSize(const QWidget* view) {
    if (!view) {
        return {};
    }
    QSize size = view->size();
    if (!view->testAttribute(Qt::WA_Resized) && view->sizeHint().isValid()) {
        size = view->sizeHint();
    }
    return {static_cast<double>(size.width()), static_cast<double>(size.height())};
}

} // namespace

INPopoverController::INPopoverController() {
    _setInitialPropertyValues();
}

INPopoverController::INPopoverController(std::unique_ptr<INViewController> contentViewController) {
    _setInitialPropertyValues();
    setContentViewController(std::move(contentViewController));
}

INPopoverController::~INPopoverController() {
    removeObservers();
    if (INAnimation* animation = popoverWindow_->alphaValueAnimation()) {
        animation->setDelegate(nullptr);
    }
    popoverWindow_->setPopoverController(nullptr);
    // Detach the content first: its view controller, released after this, owns the view.
    popoverWindow_->setPopoverContentView(nullptr);
    popoverWindow_.reset();
}

void INPopoverController::_setInitialPropertyValues() {
    popoverWindow_ = std::make_unique<INPopoverWindow>(INRect());
    popoverWindow_->setPopoverController(this);
    setColor(QColor::fromRgbF(0.94f, 0.94f, 0.94f, 0.92f));
    setBorderColor(QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.92f));
    setBorderWidth(1.0);
    closesWhenPopoverResignsKey_ = true;
    closesWhenAppInactive_ = false;
    animates_ = true;
    animationType_ = INPopoverAnimationTypePop;
    popoverWindow_->setAlphaValueAnimation(std::make_unique<INAnimation>());
}

// Appearance, kept by the frame view.

std::optional<QColor> INPopoverController::color() const {
    return popoverWindow_->frameView()->color();
}
void INPopoverController::setColor(std::optional<QColor> color) {
    popoverWindow_->frameView()->setColor(color);
}
std::optional<QColor> INPopoverController::borderColor() const {
    return popoverWindow_->frameView()->borderColor();
}
void INPopoverController::setBorderColor(std::optional<QColor> color) {
    popoverWindow_->frameView()->setBorderColor(color);
}
std::optional<QColor> INPopoverController::topHighlightColor() const {
    return popoverWindow_->frameView()->topHighlightColor();
}
void INPopoverController::setTopHighlightColor(std::optional<QColor> color) {
    popoverWindow_->frameView()->setTopHighlightColor(color);
}
double INPopoverController::borderWidth() const {
    return popoverWindow_->frameView()->borderWidth();
}
void INPopoverController::setBorderWidth(double width) {
    popoverWindow_->frameView()->setBorderWidth(width);
}
double INPopoverController::cornerRadius() const {
    return popoverWindow_->frameView()->cornerRadius();
}
void INPopoverController::setCornerRadius(double radius) {
    popoverWindow_->frameView()->setCornerRadius(radius);
}
INSize INPopoverController::arrowSize() const {
    return popoverWindow_->frameView()->arrowSize();
}
void INPopoverController::setArrowSize(INSize size) {
    popoverWindow_->frameView()->setArrowSize(size);
}
INPopoverArrowDirection INPopoverController::arrowDirection() const {
    return popoverWindow_->frameView()->arrowDirection();
}
void INPopoverController::_setArrowDirection(INPopoverArrowDirection direction) {
    popoverWindow_->frameView()->setArrowDirection(direction);
}

QWidget* INPopoverController::contentView() const {
    return popoverWindow_->popoverContentView();
}

bool INPopoverController::popoverIsVisible() const {
    return popoverWindow_->isVisible();
}

QWidget* INPopoverController::positionWindow() const {
    return positionView_ ? positionView_->window() : nullptr;
}

// Placement.

INRect INPopoverController::popoverFrameWithSize(INSize size,
                                                 INPopoverArrowDirection andArrowDirection) const {
    const INRect frame = popoverWindow_->frameRectForContentRect(INRect({0.0, 0.0}, size));
    return INPopoverFrameForContentSize(frame.size, andArrowDirection, screenRect_, 0.0);
}

INRect INPopoverController::_placedFrameWithSize(INSize size) {
    // Where the chosen direction still leaves the popover partly off the screen (a tray icon
    // near a screen edge), slide it back along its arrow's edge and move the arrow the other
    // way, so it still points at the anchor.
    const INRect screen = INScreenGeometry::screenFrameForWindow(positionWindow());
    const INPopoverPlacement placed =
        INPopoverKeepOnScreen(popoverFrameWithSize(size, arrowDirection()), arrowDirection(),
                              screen, cornerRadius(), arrowSize());
    popoverWindow_->frameView()->setArrowOffset(placed.arrowOffset);
    return placed.frame;
}

INPopoverArrowDirection INPopoverController::_arrowDirectionWithPreferredArrowDirection(
    INPopoverArrowDirection preferred) const {
    const INRect screen = INScreenGeometry::screenFrameForWindow(positionWindow());
    return INPopoverChooseArrowDirectionToPlace(preferred, screen, screenRect_, contentSize_,
                                                cornerRadius(), arrowSize());
}

void INPopoverController::recalculateAndResetArrowDirection() {
    _setArrowDirection(_arrowDirectionWithPreferredArrowDirection(arrowDirection()));
}

void INPopoverController::repositionPopover(const INRect& rect,
                                            INPopoverArrowDirection preferredArrowDirection) {
    if (!popoverIsVisible() || !positionView_) {
        return;
    }
    viewRect_ = rect;
    screenRect_ = INScreenGeometry::convertRectToScreen(positionView_, rect);
    _setArrowDirection(_arrowDirectionWithPreferredArrowDirection(preferredArrowDirection));
    popoverWindow_->setFrame(_placedFrameWithSize(contentSize_), true, false);
}

void INPopoverController::presentPopoverFromRect(const INRect& rect, QWidget* view,
                                                 INPopoverArrowDirection preferredArrowDirection,
                                                 bool anchorsToPositionView) {
    if (popoverIsVisible() || !view) {
        return;
    }
    QWidget* parentWindow = view->window();
    positionView_ = view;
    viewRect_ = rect;
    screenRect_ = INScreenGeometry::convertRectToScreen(view, rect);
    _setArrowDirection(_arrowDirectionWithPreferredArrowDirection(preferredArrowDirection));
    popoverWindow_->setFrame(_placedFrameWithSize(contentSize_), true);
    if (INAnimation* animation = popoverWindow_->alphaValueAnimation()) {
        animation->setDelegate(this);
    }
    ++presentationCount_;
    closing_ = false;
    _callDelegateMethod(&INPopoverControllerDelegate::popoverWillShow);
    if (animates_ && animationType_ != INPopoverAnimationTypeFadeOut) {
        popoverWindow_->presentAnimated();
    } else {
        popoverWindow_->setAlphaValue(1.0);
        popoverWindow_->setParentWindow(parentWindow);
        popoverWindow_->makeKeyAndOrderFront();
        _callDelegateMethod(&INPopoverControllerDelegate::popoverDidShow);
    }
    // A delegate may have closed it already; a closed popover keeps no observers.
    if (popoverIsVisible() && positionView_ == view) {
        registerObservers(anchorsToPositionView);
    }
}

void INPopoverController::registerObservers(bool anchors) {
    removeObservers();
    if (anchors) {
        followsPositionView_ = true;
        positionView_->installEventFilter(this);
        // A view that goes away has certainly left its parent.
        observers_.push_back(
            connect(positionView_, &QObject::destroyed, this, [this] { forceClosePopover(); }));
    }
    INApplicationState* app = INApplicationState::shared();
    if (closesWhenPopoverResignsKey_) {
        observers_.push_back(
            connect(popoverWindow_.get(), &INPopoverWindow::didResignKey, this, [this] {
                const INNotification note{INNotification::Name::WindowDidResignKey};
                closePopover(&note);
            }));
        if (!closesWhenAppInactive_) {
            observers_.push_back(connect(app, &INApplicationState::didBecomeActive, this,
                                         [this] { applicationDidBecomeActive(); }));
        }
    } else if (closesWhenAppInactive_) {
        observers_.push_back(connect(app, &INApplicationState::didResignActive, this, [this] {
            const INNotification note{INNotification::Name::ApplicationDidResignActive};
            closePopover(&note);
        }));
    }
}

void INPopoverController::removeObservers() {
    for (const QMetaObject::Connection& c : observers_) {
        disconnect(c);
    }
    observers_.clear();
    if (followsPositionView_ && positionView_) {
        positionView_->removeEventFilter(this);
    }
    followsPositionView_ = false;
}

bool INPopoverController::eventFilter(QObject* watched, QEvent* event) {
    if (followsPositionView_ && watched == positionView_ &&
        (event->type() == QEvent::Move || event->type() == QEvent::Resize)) {
        _positionViewFrameChanged();
    }
    return QObject::eventFilter(watched, event);
}

void INPopoverController::_positionViewFrameChanged() {
    QWidget* view = positionView_;
    if (!view) {
        return;
    }
    if (!INContainsRect(INScreenGeometry::superviewBounds(view),
                        INScreenGeometry::frameInSuperview(view))) {
        forceClosePopover();
        return;
    }
    const INSize size = popoverWindow_->frame().size;
    screenRect_ = INScreenGeometry::convertRectToScreen(view, viewRect_);
    const INRect frame = _placedFrameWithSize(contentSize_);
    popoverWindow_->setFrame(INRect(frame.origin, size), true, false);
}

// Opening and closing.

void INPopoverController::animationDidStop(INAnimation*, bool) {
    const double alpha = popoverWindow_->alphaValue();
    if (alpha == 0.0) {
        _closePopoverAndResetVariables();
    } else if (alpha == 1.0) {
        popoverWindow_->setParentWindow(positionWindow());
        _callDelegateMethod(&INPopoverControllerDelegate::popoverDidShow);
    }
}

void INPopoverController::closePopover(const INNotification* sender) {
    if (!popoverWindow_->isVisible()) {
        return;
    }
    // Focus lost because the whole application was left: the popover stays for its return.
    if (sender && sender->name == INNotification::Name::WindowDidResignKey &&
        !closesWhenAppInactive_ && !INApplicationState::shared()->isActive()) {
        return;
    }
    if (delegate_) {
        const std::optional<bool> shouldClose = delegate_->popoverShouldClose(this);
        if (shouldClose.has_value() && !*shouldClose) {
            return;
        }
    }
    forceClosePopover();
}

void INPopoverController::forceClosePopover() {
    // A close already under way finishes by itself; a second one would repeat the callbacks.
    if (!popoverWindow_->isVisible() || closing_) {
        return;
    }
    closing_ = true;
    _callDelegateMethod(&INPopoverControllerDelegate::popoverWillClose);
    if (animates_ && animationType_ != INPopoverAnimationTypeFadeIn) {
        popoverWindow_->dismissAnimated();
    } else {
        _closePopoverAndResetVariables();
    }
}

void INPopoverController::_closePopoverAndResetVariables() {
    QWidget* parentWindow = positionWindow();
    popoverWindow_->orderOut();
    _callDelegateMethod(&INPopoverControllerDelegate::popoverDidClose);
    popoverWindow_->setParentWindow(nullptr);
    if (parentWindow && parentWindow->QWidget::isVisible()) {
        parentWindow->raise();
        parentWindow->activateWindow();
    }
    _setArrowDirection(INPopoverArrowDirectionRight);
    popoverWindow_->frameView()->setArrowOffset(0.0);
    removeObservers();
    positionView_ = nullptr;
    screenRect_ = INRect();
    viewRect_ = INRect();
    closing_ = false;
    const std::uint64_t closedPresentation = presentationCount_;
    QTimer::singleShot(0, this, [this, closedPresentation] {
        // Left alone when the popover has been presented again in the meantime.
        INAnimation* animation = popoverWindow_->alphaValueAnimation();
        if (animation && presentationCount_ == closedPresentation) {
            animation->setDelegate(nullptr);
        }
    });
}

void INPopoverController::applicationDidBecomeActive() {
    if (!popoverWindow_->isVisible()) {
        return;
    }
    QTimer::singleShot(0, this, [this] { checkPopoverKeyWindowStatus(); });
}

void INPopoverController::checkPopoverKeyWindowStatus() {
    QWidget* parentWindow = positionWindow();
    if (!parentWindow) {
        return;
    }
    auto* popoverParent = qobject_cast<INPopoverParentWindow*>(parentWindow);
    const bool key =
        popoverParent ? popoverParent->isReallyKeyWindow() : parentWindow->isActiveWindow();
    if (key) {
        popoverWindow_->makeKeyWindow();
    }
}

// Content.

void INPopoverController::setContentViewController(std::unique_ptr<INViewController> controller) {
    // The old content leaves the window before its controller, which owns it, goes.
    popoverWindow_->setContentView(nullptr);
    contentViewController_ = std::move(controller);
    QWidget* view = contentViewController_ ? contentViewController_->view() : nullptr;
    contentSize_ = viewFrameSize(view);
    popoverWindow_->setContentView(view);
}

void INPopoverController::setContentSize(INSize size) {
    contentSize_ = size;
    popoverWindow_->setFrame(_placedFrameWithSize(size), true, animates_);
}

void INPopoverController::_callDelegateMethod(
    void (INPopoverControllerDelegate::*method)(INPopoverController*)) {
    if (delegate_) {
        (delegate_->*method)(this);
    }
}
