#include "AXStatusItemPopup/AXStatusItemPopup.h"

#include "logging/DDLog.h"
#include "platform/ui/Appearance.h"
#include "platform/ui/DockPanels.h"
#include "popover/INPopoverWindow.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QShortcut>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

// The popover shows whatever view the panel's controller builds. Not owned: the popup keeps
// the controller and outlives the popover.
class ContentViewController final : public INViewController {
public:
    explicit ContentViewController(ViewController* controller) : controller_(controller) {}
    QWidget* view() override { return controller_ != nullptr ? controller_->view() : nullptr; }

private:
    ViewController* controller_;
};

} // namespace

AXStatusItemPopup::AXStatusItemPopup(std::unique_ptr<ViewController> viewController, QPixmap image,
                                     QPixmap alternateImage)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowTransparentForInput),
      viewController_(std::move(viewController)),
      thickness_(StatusBar::systemStatusBar()->thickness()) {
    setAttribute(Qt::WA_DontShowOnScreen);
    frame_ = INRect(0, 0, kMinItemWidth, thickness_);
    setImage(std::move(image));
    setAlternateImage(std::move(alternateImage));
    statusItem_ =
        StatusBar::systemStatusBar()->statusItemWithLength(StatusBar::kVariableStatusItemLength);
    statusItem_->setView(this);
    if (viewController_) {
        // A panel that grows or shrinks (a section opened) keeps the popover placed on screen.
        connect(viewController_.get(), &ViewController::preferredContentSizeChanged, this,
                [this](QSize size) {
                    if (popoverController_) {
                        popoverController_->setContentSize(INSize(size.width(), size.height()));
                    }
                });
    }
    connect(statusItem_.get(), &StatusItem::geometryChanged, this, [this] {
        // Follow the icon while the popover points at it, choosing the direction again: the
        // host may have placed it on another edge meanwhile.
        if (popoverController_ && popoverController_->popoverIsVisible()) {
            placeOverStatusItem();
            popoverController_->repositionPopover(frame_, preferredDirection_);
        }
    });
}

AXStatusItemPopup::~AXStatusItemPopup() {
    EventMonitor::removeMonitor(popoverTransiencyMonitor_);
    if (popoverController_) {
        popoverController_->setDelegate(nullptr);
    }
}

double AXStatusItemPopup::pointWidth(const QPixmap& image) {
    return image.isNull() ? 0.0 : image.width() / image.devicePixelRatio();
}

void AXStatusItemPopup::setActive(bool active) {
    active_ = active;
    if (statusItem_) {
        statusItem_->viewNeedsDisplay();
    }
}

void AXStatusItemPopup::setImage(QPixmap image) {
    image_ = std::move(image);
    updateViewFrame();
}

void AXStatusItemPopup::setAlternateImage(QPixmap image) {
    alternateImage_ = image.isNull() && !image_.isNull() ? image_ : std::move(image);
    updateViewFrame();
}

void AXStatusItemPopup::updateViewFrame() {
    const double width = std::max({pointWidth(image_), pointWidth(alternateImage_), kMinItemWidth});
    frame_ = INRect(0, 0, width, thickness_);
    resize(static_cast<int>(std::ceil(width)), static_cast<int>(std::ceil(thickness_)));
    if (statusItem_) {
        statusItem_->viewNeedsDisplay();
    }
}

QPixmap AXStatusItemPopup::statusItemImage() {
    const qreal dpr = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    QPixmap canvas(QSize(static_cast<int>(std::ceil(frame_.width() * dpr)),
                         static_cast<int>(std::ceil(frame_.height() * dpr))));
    canvas.setDevicePixelRatio(dpr);
    canvas.fill(active_ ? QPalette().color(QPalette::Active, QPalette::Highlight)
                        : QColor(Qt::transparent));
    const QPixmap& shown = active_ ? alternateImage_ : image_;
    if (!shown.isNull()) {
        QPainter p(&canvas);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        const QSizeF size = shown.deviceIndependentSize();
        p.drawPixmap(
            QPointF((frame_.width() - size.width()) / 2, (frame_.height() - size.height()) / 2),
            shown);
    }
    return canvas;
}

void AXStatusItemPopup::setScalableImages(QIcon image, QIcon imageOnLightPanel,
                                          QIcon alternateImage) {
    scalableImage_ = std::move(image);
    scalableImageOnLight_ =
        imageOnLightPanel.isNull() ? scalableImage_ : std::move(imageOnLightPanel);
    scalableAlternateImage_ = alternateImage.isNull() ? scalableImage_ : std::move(alternateImage);
    if (statusItem_) {
        statusItem_->viewNeedsDisplay();
    }
}

void AXStatusItemPopup::drawStatusItem(QPainter& painter, const QRect& rect) {
    const QIcon& icon = active_         ? scalableAlternateImage_
                        : panelIsLight_ ? scalableImageOnLight_
                                        : scalableImage_;
    if (icon.isNull()) {
        StatusItemView::drawStatusItem(painter, rect);
        return;
    }
    if (active_) {
        painter.fillRect(rect, QPalette().color(QPalette::Active, QPalette::Highlight));
    }
    // The pictures are drawn on a square grid: the largest square the slot holds, centred.
    const int side = std::min(rect.width(), rect.height());
    const QRect square(rect.x() + (rect.width() - side) / 2, rect.y() + (rect.height() - side) / 2,
                       side, side);
    if (!level_) {
        icon.paint(&painter, square);
        return;
    }
    // The chip keeps its body and upper pins; the bar stands where its lower pins were.
    const qreal scale = painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1.0;
    const int sidePx = std::max(1, static_cast<int>(std::lround(side * scale)));
    const QRect track = levelBarTrack(sidePx);
    painter.save();
    painter.setClipRect(QRectF(square.x(), square.y(), side, (track.top() - 1) / scale),
                        Qt::IntersectClip);
    icon.paint(&painter, square);
    painter.restore();
    drawLevelBar(painter, square);
}

QRect AXStatusItemPopup::levelBarTrack(int side) {
    // On the icons' 22-unit grid: from 3 to 19 across, 17.5 to 21 down.
    const auto at = [side](double units) {
        return static_cast<int>(std::lround(side * units / 22.0));
    };
    const int top = at(17.5);
    return QRect(at(3), top, std::max(1, at(19) - at(3)), std::max(2, at(21) - top));
}

int AXStatusItemPopup::levelBarPixels(double fraction, int side) {
    const int length = levelBarTrack(side).width();
    const double clamped = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    return static_cast<int>(std::lround(clamped * length));
}

QColor AXStatusItemPopup::levelColor(StatusItemLevel::Tint tint, bool lightPanel, bool active) {
    switch (tint) {
    case StatusItemLevel::Tint::Warning:
        return active ? QColor(0xff, 0xd1, 0x66)
                      : (lightPanel ? QColor(0xa1, 0x4a, 0x00) : QColor(0xf5, 0xa5, 0x24));
    case StatusItemLevel::Tint::Critical:
        return active ? QColor(0xff, 0xb4, 0xab)
                      : (lightPanel ? QColor(0xc0, 0x1c, 0x1c) : QColor(0xff, 0x6b, 0x5e));
    case StatusItemLevel::Tint::Normal:
        break;
    }
    // The ink of the pictures themselves.
    return active || !lightPanel
               ? QColor(active ? 0xff : 0xe8, active ? 0xff : 0xea, active ? 0xff : 0xed)
               : QColor(0x2e, 0x32, 0x38);
}

void AXStatusItemPopup::drawLevelBar(QPainter& painter, const QRect& square) {
    // In device pixels, so the bar's ends fall on whole pixels at every scale.
    const qreal scale = painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1.0;
    const int sidePx = std::max(1, static_cast<int>(std::lround(square.width() * scale)));
    const QRect track = levelBarTrack(sidePx);
    const int filled = levelBarPixels(level_->fraction, sidePx);
    const auto logical = [&](const QRect& r) {
        return QRectF(square.x() + r.x() / scale, square.y() + r.y() / scale, r.width() / scale,
                      r.height() / scale);
    };
    QColor groove = levelColor(StatusItemLevel::Tint::Normal, panelIsLight_ && !active_, active_);
    groove.setAlphaF(0.35);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(logical(track), groove);
    if (filled > 0) {
        painter.fillRect(logical(QRect(track.left(), track.top(), filled, track.height())),
                         levelColor(level_->tint, panelIsLight_ && !active_, active_));
    }
    painter.restore();
}

int AXStatusItemPopup::iconSidePixels() const {
    const QRect shown = statusItem_ ? statusItem_->geometry() : QRect();
    const double side =
        shown.isEmpty() ? thickness_ : static_cast<double>(std::min(shown.width(), shown.height()));
    const qreal dpr = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    return std::max(1, static_cast<int>(std::lround(side * dpr)));
}

bool AXStatusItemPopup::setLevel(std::optional<StatusItemLevel> level) {
    level_ = level;
    std::optional<std::pair<int, StatusItemLevel::Tint>> key;
    if (level) {
        key.emplace(levelBarPixels(level->fraction, iconSidePixels()), level->tint);
    }
    if (key == drawnLevel_) {
        return false;
    }
    drawnLevel_ = key;
    if (statusItem_) {
        statusItem_->viewNeedsDisplay();
    }
    return true;
}

void AXStatusItemPopup::updatePanelShade(const DockPanel& panel, const QRect& icon) {
    if (const std::optional<QColor> background = DockPanels::backgroundColor(panel, icon)) {
        setPanelBackground(*background);
    }
}

void AXStatusItemPopup::setPanelBackground(const QColor& color) {
    if (DockPanels::isLight(color) == panelIsLight_) {
        return;
    }
    panelIsLight_ = !panelIsLight_;
    if (statusItem_) {
        statusItem_->viewNeedsDisplay();
    }
}

void AXStatusItemPopup::mouseDown(QPoint globalPosition) {
    lastClick_ = globalPosition;
    haveClick_ = true;
    if (popoverController_ && popoverController_->popoverIsVisible()) {
        hidePopover();
    } else {
        showPopover();
    }
}

void AXStatusItemPopup::showPopover() {
    showPopoverAnimated(animated_);
}

void AXStatusItemPopup::placeOverStatusItem() {
    const QRect icon = statusItem_ ? statusItem_->geometry() : QRect();
    const std::optional<QPoint> click =
        icon.isEmpty() && haveClick_ ? std::optional<QPoint>(lastClick_) : std::nullopt;
    const std::optional<TrayAnchor> anchor =
        DockPanels::trayAnchor(DockPanels::current(), icon, click);
    QRect rect;
    preferredDirection_ = INPopoverArrowDirectionUp;
    if (anchor && anchor->panel) {
        rect = anchor->rect;
        // A side panel: ask for the arrow pointing at it, so the popover opens beside it.
        if (anchor->panel->edge == Qt::LeftEdge) {
            preferredDirection_ = INPopoverArrowDirectionLeft;
        } else if (anchor->panel->edge == Qt::RightEdge) {
            preferredDirection_ = INPopoverArrowDirectionRight;
        }
        updatePanelShade(*anchor->panel, icon.isEmpty() ? rect : icon);
    } else {
        // No panel known: the item's own size under the icon or the click, or without either
        // the corner where trays usually are.
        QRect at = anchor ? anchor->rect : QRect();
        if (at.isEmpty()) {
            const QScreen* screen = QGuiApplication::primaryScreen();
            const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 800, 600);
            at = QRect(area.right() - 24, area.top(), 2, 2);
        }
        const double width =
            std::max({pointWidth(image_), pointWidth(alternateImage_), kMinItemWidth});
        const int w = static_cast<int>(std::ceil(width));
        const int h = at.height() > 2 ? at.height() : static_cast<int>(std::ceil(thickness_));
        rect = QRect(at.center().x() - w / 2, at.top(), w, h);
    }
    setGeometry(rect);
    frame_ = INRect(0, 0, rect.width(), rect.height());
}

void AXStatusItemPopup::showPopoverAnimated(bool animated) {
    setActive(true);
    if (!popoverController_) {
        popoverController_ = std::make_unique<INPopoverController>(
            std::make_unique<ContentViewController>(viewController_.get()));
        popoverController_->setBorderWidth(0.0);
        // The body follows the desktop's light or dark palette, also when it switches.
        popoverController_->setColor(Appearance::current().popoverFill);
        onApplicationPaletteChange(
            this, [this] { popoverController_->setColor(Appearance::current().popoverFill); });
        popoverController_->setClosesWhenPopoverResignsKey(false);
        popoverController_->setClosesWhenApplicationBecomesInactive(false);
        popoverController_->setDelegate(this);
        // Escape closes the popover as a click elsewhere does, whichever control has the focus.
        auto* escape =
            new QShortcut(QKeySequence(Qt::Key_Escape), popoverController_->popoverWindow());
        escape->setContext(Qt::WindowShortcut);
        connect(escape, &QShortcut::activated, this, [this] { hidePopover(); });
    }
    if (popoverController_->popoverIsVisible() || showPending_) {
        return;
    }
    // Right after start-up the tray host may not have placed the icon yet: wait for it a
    // little rather than point at the wrong place.
    const bool placed = statusItem_ && !statusItem_->geometry().isEmpty();
    if (!placed && !haveClick_ && statusItem_ && statusItem_->isEmbedded()) {
        if (!placementWait_.isValid()) {
            placementWait_.start();
        }
        if (placementWait_.elapsed() < kPlacementWaitMs) {
            showPending_ = true;
            QTimer::singleShot(20, this, [this, animated] {
                showPending_ = false;
                if (active_) {
                    showPopoverAnimated(animated);
                }
            });
            return;
        }
    }
    popoverController_->setAnimates(animated);
    placeOverStatusItem();
    popoverController_->presentPopoverFromRect(frame_, this, preferredDirection_, true);
    // One monitor at a time, even when an earlier close left one behind.
    EventMonitor::removeMonitor(popoverTransiencyMonitor_);
    popoverTransiencyMonitor_ =
        EventMonitor::addGlobalMonitorForEventsMatchingMask(kTransiencyMask, [this](EventMask) {
            // A StatusNotifierItem host draws the icon in its own window, so a press on the
            // icon looks like one in another application; the click it makes reaches
            // mouseDown, which toggles. Left to the monitor, a press read after that click
            // (a busy moment) would close the popover the click just opened. After a click
            // this popup stands where the icon is.
            const bool embedded = statusItem_ && statusItem_->isEmbedded();
            if (!embedded && haveClick_ && geometry().contains(QCursor::pos())) {
                return;
            }
            hidePopover();
        });
}

void AXStatusItemPopup::hidePopover() {
    setActive(false);
    if (!popoverController_ || !popoverController_->popoverIsVisible()) {
        return;
    }
    popoverController_->closePopover(nullptr);
    removeTransiencyMonitor();
}

void AXStatusItemPopup::removeTransiencyMonitor() {
    EventMonitor::removeMonitor(popoverTransiencyMonitor_);
    popoverTransiencyMonitor_ = 0;
}

void AXStatusItemPopup::popoverDidShow(INPopoverController* /*popover*/) {
    DDLogVerbose("==> %s", "-[AXStatusItemPopup popoverDidShow:]");
    if (delegate_ != nullptr) {
        delegate_->popoverDidShow();
    }
}

void AXStatusItemPopup::popoverWillClose(INPopoverController* /*popover*/) {
    DDLogVerbose("==> %s", "-[AXStatusItemPopup popoverWillClose:]");
    if (delegate_ != nullptr) {
        delegate_->popoverWillClose();
    }
    // Closed some other way than hidePopover (the window manager closed it): the icon must not
    // stay highlighted nor the click monitor stay installed.
    if (active_) {
        setActive(false);
        removeTransiencyMonitor();
    }
}
