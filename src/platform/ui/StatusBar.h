#pragma once
// The panel's tray: one item per application, showing an image drawn by its view and passing
// clicks back to it. Stands on QSystemTrayIcon (StatusNotifierItem or the XEmbed tray).

#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <memory>

class QSystemTrayIcon;

// What an item shows and who hears its clicks.
class StatusItemView {
public:
    virtual ~StatusItemView() = default;
    // The picture of the item as it should look now.
    virtual QPixmap statusItemImage() = 0;
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

    // Where the tray shows the item, in Qt's global coordinates; empty when the tray host
    // does not say (StatusNotifierItem hosts do not).
    QRect geometry() const;
    QPixmap shownImage() const { return shown_; }

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
