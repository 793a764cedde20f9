#include "app/MCAppDelegate.h"

#include "GoogleAnalytics/AnalyticsHelper.h"
#include "app/MCContentViewController.h"
#include "app/MCLocalizedText.h"
#include "app/MCPanelWindow.h"
#include "logging/DDASLLogger.h"
#include "logging/DDLog.h"
#include "logging/DDTTYLogger.h"
#include "logging/MCLogFormatter.h"
#include "memory/MCUtil.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/WindowSystem.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QSvgRenderer>
#include <QTimer>

namespace {

QString imagePath(const QString& name) {
    return QStringLiteral(":/images/%1.svg").arg(name);
}

// Looks an image up by name among the application's resources, drawn for this screen's scale;
// a null image when missing.
QPixmap imageNamed(const QString& name) {
    QSvgRenderer svg(imagePath(name));
    if (!svg.isValid()) {
        return {};
    }
    // The icons are drawn on a 22-point grid.
    const qreal dpr = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(22, 22) * dpr);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        svg.render(&painter);
    }
    pixmap.setDevicePixelRatio(dpr);
    return pixmap;
}

// The same image at any size, for trays that ask for bigger or smaller icons.
QIcon scalableImageNamed(const QString& name) {
    return QFile::exists(imagePath(name)) ? QIcon(imagePath(name)) : QIcon();
}

} // namespace

QString MCAppDelegate::toolTipText(const std::optional<MCMemory>& sample) {
    if (!sample) {
        return QStringLiteral("Brimwell");
    }
    return QStringLiteral("Brimwell\n") +
           tr("Free memory: %1").arg(MCLocalizedText::friendlySize(sample->freeMemory));
}

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
    analyticsHelper_ = std::make_unique<AnalyticsHelper>();
    analyticsHelper_->setDomainName(kAnalyticsDomainName);
    analyticsHelper_->setAnalyticsAccountCode(kAnalyticsAccountCode);
}

void MCAppDelegate::applicationDidFinishLaunching() {
    setupLog();
    setupGA();
    auto panel = MCContentViewController::initWithNibName(QStringLiteral("MCContentViewController"),
                                                          memoryController_, this);
    if (!panel) {
        DDLogError("The panel's interface resource is missing");
        return;
    }
    panel_ = panel.get();
    DDLogInfo("Window system: %@%@", QGuiApplication::platformName().toStdString(),
              WindowSystem::isXWayland() ? " (XWayland)" : "");
    const bool placeable = WindowSystem::canPositionWindows();
    if (!placeable || !StatusBar::isAvailable()) {
        if (!placeable) {
            DDLogWarn("Wayland without XWayland: a popover cannot be placed at the tray icon, "
                      "so the panel opens in a window");
        } else {
            DDLogWarn("This desktop has no system tray: the panel opens in a window");
        }
        panelWindow_ = std::make_unique<MCPanelWindow>(std::move(panel));
        panelWindow_->showPanel();
        return;
    }
    const QPixmap image = imageNamed(QStringLiteral("StatusBarIcon"));
    const QPixmap alternate = imageNamed(QStringLiteral("StatusBarIcon-H"));
    statusItemPopup_ = std::make_unique<AXStatusItemPopup>(std::move(panel), image, alternate);
    statusItemPopup_->setScalableImages(scalableImageNamed(QStringLiteral("StatusBarIcon")),
                                        scalableImageNamed(QStringLiteral("StatusBarIcon-OnLight")),
                                        scalableImageNamed(QStringLiteral("StatusBarIcon-H")));
    statusItemPopup_->setStatusItemPopupDelegate(panel_);
    panel_->setStatusItemPopup(statusItemPopup_.get());
    setupStatusItemExtras();
    statusItemPopup_->showPopover();
}

void MCAppDelegate::setupStatusItemExtras() {
    StatusItem* item = statusItemPopup_->statusItem();
    if (item == nullptr) {
        return;
    }
    item->setToolTipProvider([memory = panel_->memoryController()] {
        return toolTipText(memory->currentMemoryUsage());
    });
    // Hosts that read the tooltip themselves see the figures the open panel refreshes anyway;
    // nothing samples for it while the panel is closed.
    connect(panel_->timer(), &QTimer::timeout, item, &StatusItem::refreshToolTip);
    connect(panel_, &MCContentViewController::popoverShown, item, &StatusItem::refreshToolTip);
    connect(panel_, &MCContentViewController::cleanFinished, item, &StatusItem::refreshToolTip);

    // The menu's entries go the panel's own ways, so they behave (and are counted) as its
    // controls are.
    trayMenu_ = std::make_unique<QMenu>();
    QAction* open = trayMenu_->addAction(tr("Open"));
    QAction* clean = trayMenu_->addAction(MCContentViewController::cleanTitle());
    trayMenu_->addSeparator();
    QAction* about = trayMenu_->addAction(tr("About Brimwell"));
    QAction* quit = trayMenu_->addAction(tr("Quit"));
    MCContentViewController* panel = panel_;
    connect(open, &QAction::triggered, this, [this] { statusItemPopup_->showPopover(); });
    connect(clean, &QAction::triggered, panel,
            [panel, clean] { panel->cleanMemoryButtonClicked(clean); });
    connect(about, &QAction::triggered, panel, [panel, about] { panel->showAbout(about); });
    connect(quit, &QAction::triggered, panel, [panel, quit] { panel->quitButtonClicked(quit); });
    connect(trayMenu_.get(), &QMenu::aboutToShow, panel,
            [panel, clean] { clean->setEnabled(!panel->cleanInProgress()); });
    item->setContextMenu(trayMenu_.get());
}

void MCAppDelegate::showPanel() {
    if (statusItemPopup_) {
        statusItemPopup_->showPopover();
    } else if (panelWindow_) {
        panelWindow_->showPanel();
    }
}

QMenu* MCAppDelegate::trayMenu() const {
    return trayMenu_.get();
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
