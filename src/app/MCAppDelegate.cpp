#include "MCAppDelegate.h"

#include "AnalyticsHelper.h"
#include "DDASLLogger.h"
#include "DDLog.h"
#include "DDTTYLogger.h"
#include "MCContentViewController.h"
#include "MCLogFormatter.h"
#include "MCPanelWindow.h"
#include "StatusBar.h"

#include <QApplication>
#include <QIcon>

namespace {

// Looks an image up by name among the application's resources; a null image when missing.
QPixmap imageNamed(const QString& name) {
    const QIcon icon(QStringLiteral(":/images/%1.png").arg(name));
    if (icon.isNull()) {
        return {};
    }
    // The icons are drawn on a 22-point grid; @2x variants serve HiDPI screens.
    const qreal dpr = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap = icon.pixmap(QSize(22, 22), dpr);
    return pixmap;
}

} // namespace

MCAppDelegate::MCAppDelegate() = default;

MCAppDelegate::~MCAppDelegate() = default;

void MCAppDelegate::setupLog() {
    auto formatter = std::make_shared<MCLogFormatter>();
    auto asl = DDASLLogger::sharedInstance();
    asl->setLogFormatter(formatter);
    DDLog::addLogger(asl);
    auto tty = DDTTYLogger::sharedInstance();
    tty->setLogFormatter(formatter);
    DDLog::addLogger(tty);
}

void MCAppDelegate::setupGA() {
    analyticsHelper_ = std::make_shared<AnalyticsHelper>();
    analyticsHelper_->setDomainName(kAnalyticsDomainName);
    analyticsHelper_->setAnalyticsAccountCode(kAnalyticsAccountCode);
}

void MCAppDelegate::applicationDidFinishLaunching() {
    setupLog();
    setupGA();
    panel_ = MCContentViewController::initWithNibName(QStringLiteral("MCContentViewController"),
                                                      memoryController_);
    if (!panel_) {
        DDLogError("The panel's interface resource is missing");
        return;
    }
    if (!StatusBar::isAvailable()) {
        DDLogWarn("This desktop has no system tray: the panel opens in a window");
        panelWindow_ = std::make_unique<MCPanelWindow>(panel_.get());
        panelWindow_->showPanel();
        return;
    }
    const QPixmap image = imageNamed(QStringLiteral("StatusBarIcon"));
    const QPixmap alternate = imageNamed(QStringLiteral("StatusBarIcon-H"));
    statusItemPopup_ = std::make_unique<AXStatusItemPopup>(panel_, image, alternate);
    statusItemPopup_->setStatusItemPopupDelegate(panel_.get());
    panel_->setStatusItemPopup(statusItemPopup_.get());
    statusItemPopup_->showPopover();
}

void MCAppDelegate::showPanel() {
    if (statusItemPopup_) {
        statusItemPopup_->showPopover();
    } else if (panelWindow_) {
        panelWindow_->showPanel();
    }
}

void MCAppDelegate::applicationWillTerminate() {
    DDLogVerbose("==> %s", "-[MCAppDelegate applicationWillTerminate:]");
    DDLog::flushLog();
}

void MCAppDelegate::showAboutWindow() {
    if (!aboutWindowController_) {
        aboutWindowController_ = std::make_unique<MCAboutWindowController>();
    }
    // Come to the front even though another application is active.
    if (QWidget* window = aboutWindowController_->window()) {
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    }
    aboutWindowController_->showWindow(this);
}
