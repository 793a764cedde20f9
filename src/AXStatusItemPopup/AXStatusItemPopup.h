#pragma once

#include "AXStatusItemPopup/AXStatusItemPopupDelegate.h"
#include "platform/ui/DockPanels.h"
#include "platform/ui/EventMonitor.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/ViewController.h"
#include "popover/INGeometry.h"
#include "popover/INPopoverController.h"

#include <QElapsedTimer>
#include <QIcon>
#include <QPixmap>
#include <QWidget>

#include <memory>
#include <optional>

// What the icon shows of memory beside the chip: the used share as a bar, tinted by pressure.
struct StatusItemLevel {
    enum class Tint { Normal, Warning, Critical };
    double fraction = 0; // 0..1
    Tint tint = Tint::Normal;
    bool operator==(const StatusItemLevel&) const = default;
};

// The application's tray icon: highlighted while its popover is open, a click toggles the
// popover, a press in another application closes it. The widget itself is never shown: it
// draws the tray's picture and stands where the tray icon is, so the popover can point at it.
class AXStatusItemPopup : public QWidget,
                          public StatusItemView,
                          public INPopoverControllerDelegate,
                          public AXStatusItemPopupControl {
    Q_OBJECT
public:
    static constexpr double kMinItemWidth = 30.0;
    static constexpr std::uint64_t kTransiencyMask = LeftMouseDownMask | RightMouseDownMask;
    // How long a show waits for a tray host that has not placed the icon yet.
    static constexpr int kPlacementWaitMs = 1500;

    // Keeps `viewController`, whose view is the popover's content. A missing alternate image
    // means the normal one, shown on the highlight.
    explicit AXStatusItemPopup(std::unique_ptr<ViewController> viewController, QPixmap image = {},
                               QPixmap alternateImage = {});
    ~AXStatusItemPopup() override;

    void showPopover();
    void showPopoverAnimated(bool animated);
    void hidePopover() override;

    bool isActive() const override { return active_; }
    void setActive(bool active);

    const QPixmap& image() const { return image_; }
    void setImage(QPixmap image);
    const QPixmap& alternateImage() const { return alternateImage_; }
    void setAlternateImage(QPixmap image);
    void updateViewFrame();

    // Vector pictures drawn at whatever size the tray asks for: the normal image for dark
    // panels, one for light panels, and the highlighted one. Where set they are what the tray
    // shows; the pixmaps above still size the item.
    void setScalableImages(QIcon image, QIcon imageOnLightPanel, QIcon alternateImage);
    // Whether the panel behind the icon was last seen light (dark ink is drawn then).
    bool panelIsLight() const { return panelIsLight_; }
    // The panel's colour behind the icon; picks the image that stands out on it.
    void setPanelBackground(const QColor& color);
    // Shows `level` as a bar under the chip, or the plain icon for none. The tray host is given
    // a new picture only when the bar would change by a pixel at the icon's real size, or its
    // tint or presence changes; returns whether it was.
    bool setLevel(std::optional<StatusItemLevel> level);
    const std::optional<StatusItemLevel>& level() const { return level_; }
    // The bar's track in an icon `side` pixels square, and how many of its pixels a fraction
    // fills.
    static QRect levelBarTrack(int side);
    static int levelBarPixels(double fraction, int side);
    // The bar's filled part: the panel's ink, or amber and red that stand out on the panel.
    static QColor levelColor(StatusItemLevel::Tint tint, bool lightPanel, bool active);
    // The arrow direction the last opening asked for: up, or towards a side panel.
    INPopoverArrowDirection preferredArrowDirection() const { return preferredDirection_; }

    bool animated() const { return animated_; }
    void setAnimated(bool animated) { animated_ = animated; }

    // Not owned: the delegate is usually the view controller this popup keeps.
    AXStatusItemPopupDelegate* statusItemPopupDelegate() const { return delegate_; }
    void setStatusItemPopupDelegate(AXStatusItemPopupDelegate* delegate) { delegate_ = delegate; }

    // In points, origin bottom-left: (0, 0, width, bar thickness).
    INRect frame() const { return frame_; }
    StatusItem* statusItem() const { return statusItem_.get(); }
    INPopoverController* popoverController() const { return popoverController_.get(); }
    EventMonitor::Token popoverTransiencyMonitor() const { return popoverTransiencyMonitor_; }

    // StatusItemView: the tray's picture, and a click on it.
    QPixmap statusItemImage() override;
    void drawStatusItem(QPainter& painter, const QRect& rect) override;
    void mouseDown(QPoint globalPosition) override;

    // INPopoverControllerDelegate
    void popoverDidShow(INPopoverController* popover) override;
    void popoverWillClose(INPopoverController* popover) override;

private:
    void removeTransiencyMonitor();
    // Stands this widget over the tray icon (or at the last click when the tray does not tell,
    // or at the tray end of the panel at launch).
    void placeOverStatusItem();
    // Reads the panel's colour behind the icon and redraws the icon when it changed shade.
    void updatePanelShade(const DockPanel& panel, const QRect& icon);
    static double pointWidth(const QPixmap& image);
    // The icon's side in device pixels where the tray shows it (the usual size before that).
    int iconSidePixels() const;
    void drawLevelBar(QPainter& painter, const QRect& square);

    // Before the popover controller: it lends the view, and goes first.
    std::unique_ptr<ViewController> viewController_;
    bool active_ = false;
    std::unique_ptr<StatusItem> statusItem_;
    bool animated_ = true;
    QPixmap image_;
    QPixmap alternateImage_;
    AXStatusItemPopupDelegate* delegate_ = nullptr;
    std::unique_ptr<INPopoverController> popoverController_;
    EventMonitor::Token popoverTransiencyMonitor_ = 0;
    INRect frame_;
    double thickness_;
    QPoint lastClick_;
    bool haveClick_ = false;
    bool showPending_ = false;
    QElapsedTimer placementWait_;
    QIcon scalableImage_;
    QIcon scalableImageOnLight_;
    QIcon scalableAlternateImage_;
    bool panelIsLight_ = false;
    INPopoverArrowDirection preferredDirection_ = INPopoverArrowDirectionUp;
    std::optional<StatusItemLevel> level_;
    // What the tray was last given for the level: filled pixels and tint, none when plain.
    std::optional<std::pair<int, StatusItemLevel::Tint>> drawnLevel_;
};
