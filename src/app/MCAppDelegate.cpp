#include "app/MCAppDelegate.h"

#include "GoogleAnalytics/AnalyticsHelper.h"
#include "app/MCContentViewController.h"
#include "app/MCLocalizedText.h"
#include "app/MCMonitorController.h"
#include "app/MCPanelWindow.h"
#include "app/MCPreferencesWindowController.h"
#include "logging/DDASLLogger.h"
#include "logging/DDLog.h"
#include "logging/DDTTYLogger.h"
#include "logging/MCLogFormatter.h"
#include "platform/core/autostart.h"
#include "platform/core/preferences.h"
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

QString MCAppDelegate::toolTipText(const std::optional<MCMemory>& sample,
                                   const std::optional<MCMemoryDetails>& details) {
    QString text = QStringLiteral("Brimwell");
    if (sample) {
        text += QLatin1Char('\n') +
                tr("Free memory: %1").arg(MCLocalizedText::friendlySize(sample->freeMemory));
    }
    if (details && details->totalMemory > 0) {
        const int used = static_cast<int>(std::lround(100 * details->usedFraction()));
        text += QLatin1Char('\n') + tr("Used: %1 %").arg(QLocale().toString(used));
        text += QLatin1Char('\n') +
                tr("Available: %1").arg(MCLocalizedText::friendlySize(details->availableMemory));
        if (const auto pressure = details->pressureState()) {
            text += QLatin1Char('\n') +
                    tr("Pressure: %1").arg(MCContentViewController::pressureText(*pressure));
        }
    }
    return text;
}

StatusItemLevel MCAppDelegate::statusItemLevel(const MCMemoryDetails& details) {
    StatusItemLevel level;
    level.fraction = details.usedFraction();
    switch (details.pressureState().value_or(MCPressureState::None)) {
    case MCPressureState::High:
        level.tint = StatusItemLevel::Tint::Critical;
        break;
    case MCPressureState::Some:
        level.tint = StatusItemLevel::Tint::Warning;
        break;
    case MCPressureState::None:
        break;
    }
    return level;
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
    if (!defaultsSet_) {
        defaults_ = platform::UserDefaults::standardUserDefaults();
    }
    if (defaults_) {
        settings_ = MCSettings::read(*defaults_);
    }
    if (detailsReader_) {
        panel_->setDetailsReader(detailsReader_);
    }
    monitorController_ = std::make_unique<MCMonitorController>(
        detailsReader_ ? std::make_unique<MCMemoryMonitor>(detailsReader_)
                       : std::make_unique<MCMemoryMonitor>(),
        panel_);
    monitorController_->apply(settings_);
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
        monitorController_->start();
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
    connect(monitorController_.get(), &MCMonitorController::ticked, this,
            [this] { updateStatusItem(); });
    monitorController_->start();
    statusItemPopup_->showPopover();
}

void MCAppDelegate::updateStatusItem() {
    if (!statusItemPopup_) {
        return;
    }
    const std::optional<MCMemoryDetails>& latest = monitorController_->monitor().latest();
    statusItemPopup_->setLevel(settings_.trayIconStyle == MCTrayIconStyle::LevelBar && latest
                                   ? std::optional(statusItemLevel(*latest))
                                   : std::nullopt);
    if (StatusItem* item = statusItemPopup_->statusItem()) {
        item->refreshToolTip();
    }
}

void MCAppDelegate::applySettings(const MCSettings& settings) {
    settings_ = settings;
    if (monitorController_) {
        monitorController_->apply(settings);
    }
    updateStatusItem();
}

void MCAppDelegate::setupStatusItemExtras() {
    StatusItem* item = statusItemPopup_->statusItem();
    if (item == nullptr) {
        return;
    }
    item->setToolTipProvider([this, memory = panel_->memoryController()] {
        return toolTipText(memory->currentMemoryUsage(), monitorController_->monitor().latest());
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
    QAction* preferences = trayMenu_->addAction(tr("Preferences…"));
    QAction* about = trayMenu_->addAction(tr("About Brimwell"));
    QAction* quit = trayMenu_->addAction(tr("Quit"));
    MCContentViewController* panel = panel_;
    connect(open, &QAction::triggered, this, [this] { statusItemPopup_->showPopover(); });
    connect(clean, &QAction::triggered, panel,
            [panel, clean] { panel->cleanMemoryButtonClicked(clean); });
    connect(preferences, &QAction::triggered, this, [this] { showPreferencesWindow(); });
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

void MCAppDelegate::showPreferencesWindow() {
    if (!preferencesWindowController_) {
        preferencesWindowController_ = std::make_unique<MCPreferencesWindowController>(
            defaults_, platform::Autostart::standard());
        connect(preferencesWindowController_.get(), &MCPreferencesWindowController::settingsChanged,
                this, [this](const MCSettings& settings) { applySettings(settings); });
    }
    preferencesWindowController_->reload();
    if (QWidget* window = preferencesWindowController_->window()) {
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    }
    preferencesWindowController_->showWindow(this);
}
