#pragma once

#include "popover/INAnimation.h"
#include "popover/INGeometry.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <chrono>
#include <memory>

class INPopoverController;
class INPopoverWindowFrame;
class QVariantAnimation;

// The temporary window of the pop animation: a snapshot of the popover stretched to
// whatever size the window has.
class INZoomWindow : public QWidget {
    Q_OBJECT

public:
    INZoomWindow(const QImage& snapshot, const INRect& frame);

    const QImage& snapshot() const { return snapshot_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QImage snapshot_;
    // Without a compositor the snapshot's see-through corners and arrow margins would come out
    // black; asked once, not on every frame of the animation.
    bool cutToSnapshot_;
};

// The borderless, transparent top-level window that shows the popover. Its root view is the
// frame view, which draws the body and arrow; the content view sits inside it, inset by the
// arrow height on every side. Frames are in the screen model (origin bottom-left, y up).
class INPopoverWindow : public QWidget, public INAnimationDelegate {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kDefaultPopDuration{250};

    explicit INPopoverWindow(const INRect& contentRect = INRect());
    ~INPopoverWindow() override;

    INPopoverWindowFrame* frameView() const { return frameView_; }

    QWidget* popoverContentView() const { return contentView_; }
    // Installs `view` inside the frame view, replacing the previous one, which is detached
    // but not deleted (it belongs to its view controller).
    void setPopoverContentView(QWidget* view);
    void setContentView(QWidget* view) { setPopoverContentView(view); }

    INRect contentRectForFrameRect(const INRect& frame) const;
    INRect frameRectForContentRect(const INRect& content) const;

    // Shown, or popping open through the zoom window. Hides QWidget::isVisible on purpose:
    // callers asking the popover window mean this.
    bool isVisible() const;

    INRect frame() const;
    void setFrame(const INRect& frame, bool display, bool animate = false);

    double alphaValue() const { return alpha_; }
    void setAlphaValue(double alpha);
    // Moves the alpha to `alpha` over the "alphaValue" animation's duration and tells that
    // animation's delegate at the end. Replaces any alpha change still running.
    void animateAlphaValue(double alpha);
    INAnimation* alphaValueAnimation() const { return alphaAnimation_.get(); }
    void setAlphaValueAnimation(std::unique_ptr<INAnimation> animation);

    std::chrono::milliseconds popDuration() const { return popAnimation_.duration(); }
    void setPopDuration(std::chrono::milliseconds duration) { popAnimation_.setDuration(duration); }

    INPopoverController* popoverController() const { return controller_; }
    void setPopoverController(INPopoverController* controller) { controller_ = controller; }

    void presentAnimated();
    void presentWithPopAnimation();
    void presentWithFadeAnimation();
    void dismissAnimated();

    // The end of the pop animation.
    void animationDidStop(INAnimation* animation, bool finished) override;

    INZoomWindow* zoomWindow() const { return zoomWindow_.get(); }
    std::unique_ptr<INZoomWindow> _zoomWindowWithRect(const INRect& rect);
    // The popover as it will look when open: the frame view and its content.
    QImage snapshot();

    bool isKeyWindow() const { return isActiveWindow(); }
    void makeKeyWindow();
    void makeKeyAndOrderFront();
    // Hides the window and any zoom window still on screen.
    void orderOut();

    // Keeps this window above `parent` (none detaches it).
    void setParentWindow(QWidget* parent);
    QWidget* parentWindow() const { return parentWindow_; }

signals:
    // The window lost the keyboard focus it had.
    void didResignKey();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    // A close from the window manager (Alt+F4) goes the popover's own way.
    void closeEvent(QCloseEvent* event) override;

private:
    void layoutFrameView();
    void stopPopAnimation();
    void dropZoomWindow();

    INPopoverWindowFrame* frameView_ = nullptr;
    QPointer<QWidget> contentView_;
    QPointer<QWidget> placeholder_; // the empty content view this window made itself
    std::unique_ptr<INZoomWindow> zoomWindow_;
    INPopoverController* controller_ = nullptr; // the controller owns this window
    QPointer<QWidget> parentWindow_;

    double alpha_ = 1.0;
    std::unique_ptr<INAnimation> alphaAnimation_;
    QVariantAnimation* alphaAnimator_ = nullptr;
    INAnimation popAnimation_{kDefaultPopDuration};
    QVariantAnimation* popAnimator_ = nullptr;
    INRect popStart_;
    INRect popOvershoot_;
    INRect popEnd_;
    QVariantAnimation* zoomFadeAnimator_ = nullptr;
    QVariantAnimation* frameAnimator_ = nullptr;
    bool wasKey_ = false;
};
