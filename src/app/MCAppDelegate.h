#pragma once

#include "AXStatusItemPopup/AXStatusItemPopup.h"
#include "app/MCAboutWindowController.h"
#include "app/MCAppServices.h"
#include "memory/MCMemory.h"
#include "memory/MCMemoryDetails.h"
#include "memory/MCSettings.h"
#include "platform/ui/Application.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class AnalyticsHelper;
class MCContentViewController;
class MCMemoryController;
class MCMonitorController;
class MCPanelWindow;
class MCPreferencesWindowController;
class QMenu;

namespace platform {
class UserDefaults;
}

// Starts the tray application: loggers, analytics, the memory panel and its tray icon.
class MCAppDelegate : public QObject, public ApplicationDelegate, public MCAppServices {
    Q_OBJECT
public:
    static inline const char* const kAnalyticsDomainName = "brimwell.app";
    static inline const char* const kAnalyticsAccountCode = "UA-48213517-1";

    MCAppDelegate();
    ~MCAppDelegate() override;

    // Registers the system log and terminal loggers with one shared formatter.
    static void setupLog();
    void setupGA();

    void applicationDidFinishLaunching() override;
    void applicationWillTerminate() override;

    void showAboutWindow() override;
    void showPreferencesWindow() override;
    AnalyticsHelper* analyticsHelper() const override { return analyticsHelper_.get(); }

    // The sampler the panel will use; the live kernel counters unless set before launch.
    void setMemoryController(std::shared_ptr<MCMemoryController> memory) {
        memoryController_ = std::move(memory);
    }

    // Where the detail rows, the icon's level and the rules read from; the live kernel unless
    // set before launch.
    void setDetailsReader(std::shared_ptr<const MCMemoryDetailsReader> reader) {
        detailsReader_ = std::move(reader);
    }
    // The preferences file; the user's standard one unless set before launch.
    void setUserDefaults(std::shared_ptr<platform::UserDefaults> defaults) {
        defaults_ = std::move(defaults);
        defaultsSet_ = true;
    }
    // Takes settings from the preferences window: the rules, the icon's style.
    void applySettings(const MCSettings& settings);
    const MCSettings& settings() const { return settings_; }

    AXStatusItemPopup* statusItemPopup() const { return statusItemPopup_.get(); }
    // Only on desktops without a tray: the panel in a plain window instead of a popover.
    MCPanelWindow* panelWindow() const { return panelWindow_.get(); }
    // Shows the panel again, in the popover or the window.
    void showPanel();
    MCContentViewController* contentViewController() const { return panel_; }
    MCAboutWindowController* aboutWindowController() const { return aboutWindowController_.get(); }
    MCPreferencesWindowController* preferencesWindowController() const {
        return preferencesWindowController_.get();
    }
    MCMonitorController* monitorController() const { return monitorController_.get(); }
    // The tray icon's right-click menu: Open, Clean Memory, Preferences…, About Brimwell, Quit.
    QMenu* trayMenu() const;
    // The tray icon's tooltip for a sample and the monitor's latest details.
    static QString toolTipText(const std::optional<MCMemory>& sample,
                               const std::optional<MCMemoryDetails>& details = std::nullopt);
    // What the icon shows for the details: the used share tinted by pressure.
    static StatusItemLevel statusItemLevel(const MCMemoryDetails& details);

private:
    void setupStatusItemExtras();
    // The icon's level and the tooltip after a sample or a change of style.
    void updateStatusItem();

    std::shared_ptr<MCMemoryController> memoryController_;
    std::unique_ptr<AnalyticsHelper> analyticsHelper_;
    // Kept by the popup, or by the panel window where there is no tray; both go before this.
    MCContentViewController* panel_ = nullptr;
    // Before the popup: its tray icon lets go of the menu before the menu goes.
    std::unique_ptr<QMenu> trayMenu_;
    std::unique_ptr<AXStatusItemPopup> statusItemPopup_;
    std::unique_ptr<MCAboutWindowController> aboutWindowController_;
    std::unique_ptr<MCPanelWindow> panelWindow_;
    std::shared_ptr<const MCMemoryDetailsReader> detailsReader_;
    std::shared_ptr<platform::UserDefaults> defaults_;
    bool defaultsSet_ = false;
    MCSettings settings_;
    // After the panel's owners: it goes first, while the panel it drives is still there.
    std::unique_ptr<MCMonitorController> monitorController_;
    std::unique_ptr<MCPreferencesWindowController> preferencesWindowController_;
};
