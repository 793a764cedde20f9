#pragma once

#include "popover/INAnimation.h"
#include "popover/INGeometry.h"
#include "popover/INPopoverTypes.h"
#include "popover/INViewController.h"

#include <QColor>
#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class INPopoverController;
class INPopoverWindow;
class QWidget;

// What the controller tells whoever cares about its popover. Every operation is optional:
// the defaults do nothing, and `popoverShouldClose` answers none ("not implemented").
class INPopoverControllerDelegate {
public:
    virtual ~INPopoverControllerDelegate() = default;
    // False keeps the popover open on a polite close; none leaves the decision alone.
    virtual std::optional<bool> popoverShouldClose(INPopoverController*) { return std::nullopt; }
    virtual void popoverWillShow(INPopoverController*) {}
    virtual void popoverDidShow(INPopoverController*) {}
    virtual void popoverWillClose(INPopoverController*) {}
    virtual void popoverDidClose(INPopoverController*) {}
};

// The events a close may be a reaction to; a close asked for in code has none.
struct INNotification {
    enum class Name { WindowDidResignKey, ApplicationDidResignActive };
    Name name;
};

// Owns the popover window and decides where it goes, which way its arrow points, when it
// opens and closes, and what its delegate hears. Rectangles are in the screen model (origin
// at the bottom-left of the primary screen, y up) unless a view is named.
class INPopoverController : public QObject, public INAnimationDelegate {
    Q_OBJECT

public:
    INPopoverController();
    explicit INPopoverController(std::unique_ptr<INViewController> contentViewController);
    ~INPopoverController() override;
    INPopoverController(const INPopoverController&) = delete;
    INPopoverController& operator=(const INPopoverController&) = delete;

    INPopoverWindow* popoverWindow() const { return popoverWindow_.get(); }

    // Shows the popover pointing at `rect` (in `view`'s coordinates, origin at its bottom-left)
    // with the arrow direction that fits the screen, `preferredArrowDirection` first. With
    // `anchorsToPositionView` the popover follows the view while it moves and closes when the
    // view leaves its parent. Ignored while the popover is visible or without a view.
    void presentPopoverFromRect(const INRect& rect, QWidget* view,
                                INPopoverArrowDirection preferredArrowDirection,
                                bool anchorsToPositionView);
    // Closes unless the popover only lost focus to another application (and is meant to
    // stay) or the delegate objects.
    void closePopover(const INNotification* sender = nullptr);
    // Closes without asking.
    void forceClosePopover();

    // Points the open popover at `rect` of its position view anew, choosing the direction again
    // with `preferredArrowDirection` first: the anchor moved further than following it allows
    // (a tray host that placed its icon only after the popover opened). Nothing when closed.
    void repositionPopover(const INRect& rect, INPopoverArrowDirection preferredArrowDirection);
    // Chooses the direction again from the current one; the window is not moved.
    void recalculateAndResetArrowDirection();
    // The window frame for `size` placed against the current anchor.
    INRect popoverFrameWithSize(INSize size, INPopoverArrowDirection andArrowDirection) const;

    // The end of the window's alpha animation: 0 finishes a close, 1 an opening.
    void animationDidStop(INAnimation* animation, bool finished) override;

    void applicationDidBecomeActive();
    void checkPopoverKeyWindowStatus();

    INViewController* contentViewController() const { return contentViewController_.get(); }
    // Keeps `controller` and shows its view as the content; the content size becomes the
    // view's size.
    void setContentViewController(std::unique_ptr<INViewController> controller);
    INSize contentSize() const { return contentSize_; }
    void setContentSize(INSize size);
    QWidget* contentView() const;

    bool popoverIsVisible() const;
    QWidget* positionView() const { return positionView_; }

    // Not owned, not cleared automatically.
    INPopoverControllerDelegate* delegate() const { return delegate_; }
    void setDelegate(INPopoverControllerDelegate* delegate) { delegate_ = delegate; }

    bool closesWhenPopoverResignsKey() const { return closesWhenPopoverResignsKey_; }
    void setClosesWhenPopoverResignsKey(bool closes) { closesWhenPopoverResignsKey_ = closes; }
    bool closesWhenApplicationBecomesInactive() const { return closesWhenAppInactive_; }
    void setClosesWhenApplicationBecomesInactive(bool closes) { closesWhenAppInactive_ = closes; }
    bool animates() const { return animates_; }
    void setAnimates(bool animates) { animates_ = animates; }
    INPopoverAnimationType animationType() const { return animationType_; }
    void setAnimationType(INPopoverAnimationType type) { animationType_ = type; }

    // The look, kept by the window's frame view.
    std::optional<QColor> color() const;
    void setColor(std::optional<QColor> color);
    std::optional<QColor> borderColor() const;
    void setBorderColor(std::optional<QColor> color);
    std::optional<QColor> topHighlightColor() const;
    void setTopHighlightColor(std::optional<QColor> color);
    double borderWidth() const;
    void setBorderWidth(double width);
    double cornerRadius() const;
    void setCornerRadius(double radius);
    INSize arrowSize() const;
    void setArrowSize(INSize size);
    INPopoverArrowDirection arrowDirection() const;

    // The anchor in screen coordinates while open, and as it was passed in.
    INRect anchorScreenRect() const { return screenRect_; }
    INRect anchorViewRect() const { return viewRect_; }

    void _setArrowDirection(INPopoverArrowDirection direction);
    INPopoverArrowDirection
    _arrowDirectionWithPreferredArrowDirection(INPopoverArrowDirection preferred) const;
    void _positionViewFrameChanged();
    INRect _placedFrameWithSize(INSize size);
    void _closePopoverAndResetVariables();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void _setInitialPropertyValues();
    void _callDelegateMethod(void (INPopoverControllerDelegate::*method)(INPopoverController*));
    void registerObservers(bool anchors);
    void removeObservers();
    QWidget* positionWindow() const;

    std::unique_ptr<INPopoverWindow> popoverWindow_;
    INRect screenRect_;
    INRect viewRect_;
    bool closesWhenPopoverResignsKey_ = true;
    bool closesWhenAppInactive_ = false;
    bool animates_ = true;
    INPopoverControllerDelegate* delegate_ = nullptr;
    INPopoverAnimationType animationType_ = INPopoverAnimationTypePop;
    std::unique_ptr<INViewController> contentViewController_;
    QPointer<QWidget> positionView_;
    INSize contentSize_;

    std::vector<QMetaObject::Connection> observers_;
    bool followsPositionView_ = false;
    bool closing_ = false;
    // Counts presentations so a deferred clean-up of an earlier close leaves a newer one be.
    std::uint64_t presentationCount_ = 0;
};
