#pragma once

#include "AXStatusItemPopup/AXStatusItemPopup.h"
#include "app/MCAboutWindowController.h"
#include "app/MCAppServices.h"
#include "memory/MCMemory.h"
#include "platform/ui/Application.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class AnalyticsHelper;
class MCContentViewController;
class MCMemoryController;
class MCPanelWindow;
class QMenu;

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
    AnalyticsHelper* analyticsHelper() const override { return analyticsHelper_.get(); }

    // The sampler the panel will use; the live kernel counters unless set before launch.
    void setMemoryController(std::shared_ptr<MCMemoryController> memory) {
        memoryController_ = std::move(memory);
    }

    AXStatusItemPopup* statusItemPopup() const { return statusItemPopup_.get(); }
    // Only on desktops without a tray: the panel in a plain window instead of a popover.
    MCPanelWindow* panelWindow() const { return panelWindow_.get(); }
    // Shows the panel again, in the popover or the window.
    void showPanel();
    MCContentViewController* contentViewController() const { return panel_; }
    MCAboutWindowController* aboutWindowController() const { return aboutWindowController_.get(); }
    // The tray icon's right-click menu: Open, Clean Memory, About Brimwell, Quit.
    QMenu* trayMenu() const;
    // The tray icon's tooltip for a sample.
    static QString toolTipText(const std::optional<MCMemory>& sample);

private:
    void setupStatusItemExtras();

    std::shared_ptr<MCMemoryController> memoryController_;
    std::unique_ptr<AnalyticsHelper> analyticsHelper_;
    // Kept by the popup, or by the panel window where there is no tray; both go before this.
    MCContentViewController* panel_ = nullptr;
    // Before the popup: its tray icon lets go of the menu before the menu goes.
    std::unique_ptr<QMenu> trayMenu_;
    std::unique_ptr<AXStatusItemPopup> statusItemPopup_;
    std::unique_ptr<MCAboutWindowController> aboutWindowController_;
    std::unique_ptr<MCPanelWindow> panelWindow_;
};
