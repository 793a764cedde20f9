#pragma once
// The end-to-end tests of the tray application: the application launched in this process on a
// desktop of scripts/with-desktop.sh, its popover, pictures and the notification daemon.

#include "AXStatusItemPopup/AXStatusItemPopup.h"
#include "app/MCAppDelegate.h"
#include "app/MCContentViewController.h"
#include "popover/INPopoverController.h"
#include "popover/INPopoverWindow.h"

#include "support/XTools.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QPalette>
#include <QSignalSpy>
#include <QTimer>

#include <memory>

inline QString screenshotPath(const QString& name) {
    return QStringLiteral(BRIMWELL_SCREENSHOT_DIR "/") + name;
}

// What dunstctl printed; empty when it failed.
inline QByteArray dunstctl(const QStringList& args) {
    QByteArray out;
    return runTool(QStringLiteral("dunstctl"), args, &out) ? out : QByteArray();
}

inline bool notificationsShown(int count) {
    return dunstctl({"count", "displayed"}).trimmed() == QByteArray::number(count);
}

// Closes what the daemon shows and returns the newest notification of its history as summary,
// body and application name; waits up to five seconds for one.
inline QStringList lastNotification() {
    dunstctl({"close-all"});
    QJsonValue entry;
    const auto newest = [&entry] {
        entry = QJsonDocument::fromJson(dunstctl({"history"}))["data"][0][0];
        return entry.isObject();
    };
    if (!QTest::qWaitFor(newest, 5000)) {
        return {};
    }
    QStringList fields;
    for (const char* name : {"summary", "body", "appname"}) {
        fields << entry[QLatin1String(name)][QLatin1String("data")].toString();
    }
    return fields;
}

inline QPalette darkPalette() {
    QPalette p(QColor(0x2a, 0x2e, 0x32));
    p.setColor(QPalette::Window, QColor(0x2a, 0x2e, 0x32));
    p.setColor(QPalette::WindowText, QColor(0xfc, 0xfc, 0xfc));
    p.setColor(QPalette::Base, QColor(0x1b, 0x1e, 0x20));
    p.setColor(QPalette::Text, QColor(0xfc, 0xfc, 0xfc));
    p.setColor(QPalette::Button, QColor(0x31, 0x36, 0x3b));
    p.setColor(QPalette::ButtonText, QColor(0xfc, 0xfc, 0xfc));
    return p;
}

inline QStringList menuEntries(const QMenu* menu) {
    QStringList entries;
    for (const QAction* action : menu->actions()) {
        if (!action->isSeparator()) {
            entries << action->text();
        }
    }
    return entries;
}

// The application with its delegate; launch() after giving the delegate its doubles.
class TrayApp {
public:
    TrayApp() : delegate(std::make_unique<MCAppDelegate>()) {}
    ~TrayApp() { Application::sharedApplication()->setDelegate(nullptr); }
    TrayApp(const TrayApp&) = delete;
    TrayApp& operator=(const TrayApp&) = delete;

    void launch() {
        Application::sharedApplication()->setDelegate(delegate.get());
        delegate->applicationDidFinishLaunching();
    }
    AXStatusItemPopup* popup() const { return delegate->statusItemPopup(); }
    MCContentViewController* panel() const { return delegate->contentViewController(); }
    INPopoverController* popover() const { return popup()->popoverController(); }
    INPopoverWindow* window() const { return popover()->popoverWindow(); }
    QPoint iconCentre() const { return popup()->statusItem()->geometry().center(); }
    bool open() const { return popover() != nullptr && popover()->popoverIsVisible(); }
    // Open, done popping and shown.
    bool settled() const {
        return open() && window()->QWidget::isVisible() && window()->zoomWindow() == nullptr;
    }
    // Opens the popover with a click on the icon, unless it is open.
    bool reopen() {
        if (!open()) {
            QSignalSpy shown(panel(), &MCContentViewController::popoverShown);
            if (!clickAt(iconCentre()) || !shown.wait(5000)) {
                qWarning("no show after a click at %d,%d", iconCentre().x(), iconCentre().y());
                return false;
            }
        }
        return QTest::qWaitFor([this] { return settled(); }, 5000);
    }
    bool close() {
        popup()->hidePopover();
        // Gone from the screen too: a click during the fade would only close it again.
        return QTest::qWaitFor([this] { return !open() && !window()->QWidget::isVisible(); }, 5000);
    }

    std::unique_ptr<MCAppDelegate> delegate;
};
