#pragma once
// The panel's tray: one item per application, showing an image drawn by its view and passing
// clicks back to it. Stands on QSystemTrayIcon (StatusNotifierItem or the XEmbed tray).

#include <QIcon>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <functional>
#include <memory>

class QMenu;
class QPainter;
class QSystemTrayIcon;
class QTimer;

// What an item shows and who hears its clicks.
class StatusItemView {
public:
    virtual ~StatusItemView() = default;
    // The picture of the item as it should look now.
    virtual QPixmap statusItemImage() = 0;
    // Paints the item into `rect` at whatever size the tray host asks for; by default the
    // picture above, scaled to fit.
    virtual void drawStatusItem(QPainter& painter, const QRect& rect);
    // A primary-button press on the item, at this global position (Qt coordinates).
    virtual void mouseDown(QPoint globalPosition) = 0;
};

class StatusItem : public QObject {
    Q_OBJECT
public:
    ~StatusItem() override;

    // Not owned: the view owns its item and outlives it.
    void setView(StatusItemView* view);
    StatusItemView* view() const { return view_; }
    // Asks the view for its picture again.
    void viewNeedsDisplay();

    // A tooltip asked for whenever it is about to show, and again every `refreshMs` while it
    // is seen (XEmbed trays); StatusNotifierItem hosts read the text last set, so the owner
    // calls refreshToolTip() when its figures change.
    void setToolTipProvider(std::function<QString()> provider, int refreshMs = 2000);
    void refreshToolTip();
    QString toolTip() const;
    // True while the shown tooltip is being kept current.
    bool isRefreshingToolTip() const;
    // The menu of a right click, on both tray protocols. Not owned.
    void setContextMenu(QMenu* menu);
    // The picture the tray host is given, rendered at `size` device-independent pixels.
    QPixmap renderedIcon(QSize size, qreal devicePixelRatio = 1.0) const;
    // Where the tray shows the item, in Qt's global coordinates; empty when the tray host
    // does not say (StatusNotifierItem hosts do not).
    QRect geometry() const;
    // True on an XEmbed tray, which tells where the icon is once it has placed it.
    bool isEmbedded() const;
    QPixmap shownImage() const { return shown_; }
    // The icon the tray host was last given; a new one (another cacheKey) for every redraw.
    QIcon icon() const;

signals:
    void clicked(QPoint globalPosition);
    // The tray host moved or resized the item.
    void geometryChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class StatusBar;
    StatusItem();

    void watchTrayWindow();

    std::unique_ptr<QSystemTrayIcon> tray_;
    std::function<QString()> toolTipProvider_;
    QTimer* toolTipTimer_ = nullptr;
    QPointer<QWidget> watched_;
    StatusItemView* view_ = nullptr;
    QPixmap shown_;
};

class StatusBar {
public:
    static constexpr double kVariableStatusItemLength = -1.0;
    static constexpr double kDefaultThickness = 22.0;

    static StatusBar* systemStatusBar();
    // True when the desktop offers a tray at all.
    static bool isAvailable();

    // The height of the tray's items in points.
    double thickness() const;
    std::unique_ptr<StatusItem> statusItemWithLength(double length);

private:
    StatusBar() = default;
    QPointer<StatusItem> lastItem_;
};
