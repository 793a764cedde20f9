#pragma once

#include "AXStatusItemPopup/AXStatusItemPopupDelegate.h"
#include "chart/PlotView.h"
#include "memory/MCMemoryController.h"
#include "memory/MCMemoryDetails.h"
#include "memory/MCProcesses.h"
#include "platform/ui/Appearance.h"
#include "platform/ui/ViewController.h"

#include <QFutureWatcher>
#include <QLabel>
#include <QPushButton>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class FocusRing;
class MCAppServices;
class MCMemoryMonitor;
class MCSparklineView;
class QAbstractButton;
class QToolButton;
class QTimer;
class SimplePieChart;
class UserNotificationCenter;

namespace Ui {
class MCContentViewController;
}

// The popover's content: pie chart, free memory, clean button, About and Quit.
class MCContentViewController : public ViewController, public AXStatusItemPopupDelegate {
    Q_OBJECT
public:
    static constexpr int kRefreshIntervalMs = 2000;
    // The English source texts; the user reads them through tr(), as the functions below give.
    static constexpr const char* kCleanTitle = QT_TR_NOOP("Clean Memory");
    static constexpr const char* kCleaningTitle = QT_TR_NOOP("Cleaning...");
    static constexpr const char* kNotificationTitle = QT_TR_NOOP("Memory Clean Done");
    static QString cleanTitle() { return tr(kCleanTitle); }
    static QString cleaningTitle() { return tr(kCleaningTitle); }
    static QString notificationTitle() { return tr(kNotificationTitle); }
    // The clean button while a clean runs, once `percent` of it is done: "Cleaning... 40 %".
    static QString cleaningProgressTitle(int percent);

    // None when no interface resource of that name exists. `memoryController` defaults to
    // the live kernel counters; `services` (About, analytics) may come later, or never.
    static std::unique_ptr<MCContentViewController>
    initWithNibName(const QString& nibName,
                    std::shared_ptr<MCMemoryController> memoryController = nullptr,
                    MCAppServices* services = nullptr);
    ~MCContentViewController() override;

    // The application's services: the About window and analytics. Not owned: the application
    // delegate outlives the panel.
    MCAppServices* mcAppDelegate() const { return services_; }
    void setAppServices(MCAppServices* services) { services_ = services; }

    // Back reference: the popup owns this controller, so it outlives it.
    void setStatusItemPopup(AXStatusItemPopupControl* popup) { statusItemPopup_ = popup; }
    AXStatusItemPopupControl* statusItemPopup() const { return statusItemPopup_; }

    const std::shared_ptr<MCMemoryController>& memoryController() const {
        return memoryController_;
    }
    SimplePieChart* pieChart() const { return pieChart_.get(); }
    // Outlets; null until the view is loaded.
    QLabel* freeMemoryTextField() const;
    PlotView* plotView() const;
    QPushButton* cleanButton() const;
    // The detail rows below the free memory: available, swap, pressure, the history graph and
    // the biggest processes. Null until the view is loaded.
    QLabel* availableTextField() const;
    QLabel* swapTextField() const;
    QLabel* pressureTextField() const;
    QWidget* swapRow() const;
    QWidget* pressureRow() const;
    MCSparklineView* sparklineView() const;
    QToolButton* processesButton() const;
    QWidget* processesSection() const;
    QAbstractButton* preferencesButton() const;

    // Where the rows read from: the live kernel and /proc unless set before the view loads.
    void setDetailsReader(std::shared_ptr<const MCMemoryDetailsReader> reader);
    void setProcessReader(std::shared_ptr<const MCProcessReader> reader);
    // The monitor whose history the graph draws and whose latest figures a later show starts
    // from. Not owned: the application delegate keeps it longer than the panel.
    void setMonitor(const MCMemoryMonitor* monitor) { monitor_ = monitor; }
    // The monitor took a sample: the graph follows while the panel is seen.
    void monitorDidTick();

    // The process section: collapsed at first; the processes are read only while it is open.
    bool processesExpanded() const;
    void setProcessesExpanded(bool expanded);
    const std::vector<MCProcess>& shownProcesses() const { return shownProcesses_; }

    // The same clean as the button's, started by the auto-clean rule: not a click, so no
    // usage event. Nothing while a clean runs.
    void startAutomaticClean();

    // The rows' texts.
    static QString availableText(const MCMemoryDetails& details);
    static QString swapText(const MCMemoryDetails& details);
    static QString pressureText(MCPressureState state);

    // The refresh timer; it keeps existing when stopped.
    QTimer* timer() const { return timer_; }
    std::int64_t freeMemoryWhenCleanHappens() const { return freeMemoryWhenCleanHappens_; }
    bool cleanInProgress() const { return cleanInProgress_; }

    // Where result notifications go; the desktop's notification service by default.
    void setNotificationCenter(UserNotificationCenter* center);
    // Shortens the refresh period; for tests that cannot wait two seconds a tick.
    void setRefreshInterval(int milliseconds);

    // The four chart values of a sample in pie order: wired, active, inactive, free.
    static std::vector<std::int64_t> chartData(const std::optional<MCMemory>& sample);

    // The panel's look for the desktop's light or dark palette.
    static QString styleSheet(const Appearance& appearance);
    // What a screen reader says about the chart: the four figures in pie order.
    static QString chartDescription(const std::vector<std::int64_t>& data);

    void popoverDidShow() override;
    void popoverWillClose() override;

public slots:
    void refreshMemoryUsage(QObject* sender = nullptr);
    void cleanMemoryButtonClicked(QObject* sender = nullptr);
    void quitButtonClicked(QObject* sender = nullptr);
    void showAbout(QObject* sender = nullptr);
    void showPreferences(QObject* sender = nullptr);

signals:
    // A clean began: by the button or the tray menu, or by the auto-clean rule.
    void cleanStarted(bool automatic);
    // A reading of the biggest processes is on screen.
    void processesShown();
    // After a clean has ended and the panel is back at rest.
    void cleanFinished();
    // After every show, once the panel has filled itself.
    void popoverShown();
    // While a clean runs, each time the button has shown a new share of the work done.
    void cleanProgressShown(int percent);

protected:
    std::unique_ptr<QWidget> loadView() override;
    void viewDidLoad() override;

private:
    MCContentViewController(const QString& nibName,
                            std::shared_ptr<MCMemoryController> memoryController,
                            MCAppServices* services);

    void startClean(bool automatic);
    void cmTask();
    void taskDone();
    void showCleanProgress(int percent);
    void showMemoryCleanDoneNotification();
    void startRefreshTimer();
    void showFreeMemory(const std::optional<MCMemory>& sample);
    // Colours the texts and the chart's legend for the application palette.
    void applyAppearance();
    // Hands the chart its data and tells screen readers what it now shows.
    void setChartData(const std::vector<std::int64_t>& data);
    void fireEvent(const char* name);
    void showDetails(const std::optional<MCMemoryDetails>& details);
    void readProcesses();
    void showProcesses(const std::vector<MCProcess>& processes);
    // Fits the view to its rows and tells whoever shows it.
    void fitToContent();

    AXStatusItemPopupControl* statusItemPopup_ = nullptr;
    MCAppServices* services_ = nullptr;
    std::shared_ptr<MCMemoryController> memoryController_;
    std::unique_ptr<SimplePieChart> pieChart_;
    std::unique_ptr<Ui::MCContentViewController> ui_;
    FocusRing* chartFocusRing_ = nullptr; // a child of the plot view
    QTimer* timer_ = nullptr;
    // Watches the clean running on the thread pool; being a member, it stops reporting when
    // the panel goes, whether or not the clean has ended.
    QFutureWatcher<void> cleanWatcher_;
    UserNotificationCenter* notificationCenter_ = nullptr;
    std::shared_ptr<const MCMemoryDetailsReader> detailsReader_;
    std::shared_ptr<const MCProcessReader> processReader_;
    const MCMemoryMonitor* monitor_ = nullptr;
    // One reading of /proc at a time, off the main thread: a process's files can be slow.
    QFutureWatcher<std::vector<MCProcess>> processWatcher_;
    bool processReadAgain_ = false;
    std::vector<MCProcess> shownProcesses_;
    std::int64_t freeMemoryWhenCleanHappens_ = 0;
    // Main thread only.
    bool panelShownOnce_ = false;
    bool cleanInProgress_ = false;
};
