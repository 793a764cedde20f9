#include "app/MCContentViewController.h"

#include "GoogleAnalytics/AnalyticsHelper.h"
#include "app/MCAppServices.h"
#include "app/MCCleanReport.h"
#include "app/MCLocalizedText.h"
#include "app/MCSparklineView.h"
#include "chart/PlotView.h"
#include "chart/SimplePieChart.h"
#include "chart/framework/CPTTheme.h"
#include "logging/DDLog.h"
#include "memory/MCMemoryMonitor.h"
#include "platform/ui/Application.h"
#include "platform/ui/ButtonKeys.h"
#include "platform/ui/FocusRing.h"
#include "platform/ui/UserNotificationCenter.h"
#include "ui_MCContentViewController.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLayout>
#include <QPromise>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>

std::unique_ptr<MCContentViewController>
MCContentViewController::initWithNibName(const QString& nibName,
                                         std::shared_ptr<MCMemoryController> memoryController,
                                         MCAppServices* services) {
    // The one interface resource this controller knows how to build.
    if (nibName != QLatin1String("MCContentViewController")) {
        return nullptr;
    }
    if (!memoryController) {
        memoryController = std::make_shared<MCMemoryController>();
    }
    return std::unique_ptr<MCContentViewController>(
        new MCContentViewController(nibName, std::move(memoryController), services));
}

MCContentViewController::MCContentViewController(
    const QString& nibName, std::shared_ptr<MCMemoryController> memoryController,
    MCAppServices* services)
    : ViewController(nibName), services_(services), memoryController_(std::move(memoryController)),
      pieChart_(std::make_unique<SimplePieChart>()), timer_(new QTimer(this)),
      detailsReader_(std::make_shared<MCMemoryDetailsReader>()),
      processReader_(std::make_shared<MCProcessReader>()) {
    timer_->setInterval(kRefreshIntervalMs);
    connect(timer_, &QTimer::timeout, this, [this] { refreshMemoryUsage(timer_); });
    connect(&cleanWatcher_, &QFutureWatcher<void>::progressValueChanged, this,
            &MCContentViewController::showCleanProgress);
    connect(&cleanWatcher_, &QFutureWatcher<void>::finished, this,
            &MCContentViewController::taskDone);
    connect(&processWatcher_, &QFutureWatcher<std::vector<MCProcess>>::finished, this, [this] {
        if (processesExpanded()) {
            showProcesses(processWatcher_.result());
        }
        if (processReadAgain_) {
            processReadAgain_ = false;
            readProcesses();
        }
    });
    setNotificationCenter(UserNotificationCenter::defaultUserNotificationCenter());
    if (const auto& warning = memoryController_->configurationWarning()) {
        DDLogWarn("%@", *warning);
    }
}

MCContentViewController::~MCContentViewController() = default;

QLabel* MCContentViewController::freeMemoryTextField() const {
    return ui_ ? ui_->freeMemoryTextField : nullptr;
}

PlotView* MCContentViewController::plotView() const {
    return ui_ ? ui_->plotView : nullptr;
}

QPushButton* MCContentViewController::cleanButton() const {
    return ui_ ? ui_->cleanButton : nullptr;
}

QLabel* MCContentViewController::availableTextField() const {
    return ui_ ? ui_->availableTextField : nullptr;
}

QLabel* MCContentViewController::swapTextField() const {
    return ui_ ? ui_->swapTextField : nullptr;
}

QLabel* MCContentViewController::pressureTextField() const {
    return ui_ ? ui_->pressureTextField : nullptr;
}

QWidget* MCContentViewController::swapRow() const {
    return ui_ ? ui_->swapRow : nullptr;
}

QWidget* MCContentViewController::pressureRow() const {
    return ui_ ? ui_->pressureRow : nullptr;
}

MCSparklineView* MCContentViewController::sparklineView() const {
    return ui_ ? ui_->sparklineView : nullptr;
}

QToolButton* MCContentViewController::processesButton() const {
    return ui_ ? ui_->processesButton : nullptr;
}

QWidget* MCContentViewController::processesSection() const {
    return ui_ ? ui_->processesSection : nullptr;
}

QAbstractButton* MCContentViewController::preferencesButton() const {
    return ui_ ? ui_->preferencesButton : nullptr;
}

void MCContentViewController::setDetailsReader(
    std::shared_ptr<const MCMemoryDetailsReader> reader) {
    detailsReader_ = std::move(reader);
}

void MCContentViewController::setProcessReader(std::shared_ptr<const MCProcessReader> reader) {
    processReader_ = std::move(reader);
}

void MCContentViewController::setNotificationCenter(UserNotificationCenter* center) {
    if (notificationCenter_ != nullptr) {
        disconnect(notificationCenter_, nullptr, this, nullptr);
    }
    notificationCenter_ = center;
    if (center != nullptr) {
        connect(center, &UserNotificationCenter::deliveryFailed, this, [](const QString& reason) {
            DDLogWarn("Clean result not shown, no notification service: %@", reason.toStdString());
        });
    }
}

void MCContentViewController::setRefreshInterval(int milliseconds) {
    timer_->setInterval(milliseconds);
}

QString MCContentViewController::styleSheet(const Appearance& a) {
    // Unfocused flat controls keep a clear border, so the focus ring moves nothing.
    return QStringLiteral(R"(#MCContentViewController { background: transparent; }
#freeMemoryCaption { color: %1; font-size: 12px; }
#freeMemoryTextField { color: %2; font-size: 18px; font-weight: 600; }
#cleanButton {
  color: white; font-size: 13px; font-weight: 600;
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %3, stop:1 %4);
  border: 1px solid %5; border-radius: 7px; padding: 6px 14px;
}
#cleanButton:hover { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %6, stop:1 %7); }
#cleanButton:pressed { background: %5; }
#cleanButton:focus { border: 2px solid %8; padding: 5px 13px; outline: none; }
#cleanButton:disabled { color: %9; background: %10; border-color: %11; }
QToolButton { color: %12; border: 1px solid transparent; border-radius: 4px; padding: 1px 5px; font-size: 12px; }
QToolButton:hover { color: %13; }
QToolButton:focus { color: %13; border-color: %13; outline: none; }
#availableCaption, #swapCaption, #pressureCaption, #historyCaption { color: %1; font-size: 11px; }
#availableTextField, #swapTextField, #pressureTextField { color: %2; font-size: 12px; }
#processesButton { font-size: 11px; padding: 1px 3px; }
#processesSection QLabel { color: %12; font-size: 11px; })")
        .arg(a.secondaryText.name(), a.text.name(), a.buttonTop.name(), a.buttonBottom.name(),
             a.buttonBorder.name(), a.buttonHoverTop.name(), a.buttonHoverBottom.name(),
             a.focusRing.name(), a.buttonDisabledText.name())
        .arg(a.buttonDisabledFill.name(), a.buttonDisabledBorder.name(), a.controlText.name(),
             a.accent.name());
}

void MCContentViewController::applyAppearance() {
    const Appearance appearance = Appearance::current();
    if (QWidget* root = view()) {
        root->setStyleSheet(styleSheet(appearance));
    }
    pieChart_->setTextColor(appearance.chartText);
    if (ui_) {
        ui_->sparklineView->setColors(appearance.accent, QColor(0xf5, 0xa5, 0x24),
                                      QColor(0xe5, 0x48, 0x4d));
    }
    if (chartFocusRing_) {
        chartFocusRing_->setColor(appearance.accent);
    }
}

QString MCContentViewController::chartDescription(const std::vector<std::int64_t>& data) {
    std::int64_t total = 0;
    for (std::int64_t value : data) {
        total += std::max<std::int64_t>(value, 0);
    }
    if (data.size() != SimplePieChart::kSliceCount || total <= 0) {
        return tr("No memory figures available");
    }
    QStringList parts;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const std::int64_t value = std::max<std::int64_t>(data[i], 0);
        const auto percent = static_cast<long long>(
            std::llround(100.0 * static_cast<double>(value) / static_cast<double>(total)));
        const QString share =
            value > 0 && percent == 0 ? tr("under 1%") : MCLocalizedText::percent(percent);
        parts << tr("%1 %2 (%3)", "memory class, its size, its share of the chart")
                     .arg(SimplePieChart::sliceTitle(i), MCLocalizedText::friendlySize(value),
                          share);
    }
    return parts.join(QStringLiteral(", "));
}

QString MCContentViewController::cleaningProgressTitle(int percent) {
    return tr("Cleaning... %1 %", "the clean button while a clean runs; %1: the share done")
        .arg(QLocale().toString(percent));
}

void MCContentViewController::setChartData(const std::vector<std::int64_t>& data) {
    pieChart_->setPlotData(data);
    if (PlotView* plot = plotView()) {
        plot->setAccessibleDescription(chartDescription(data));
    }
}

std::unique_ptr<QWidget> MCContentViewController::loadView() {
    auto root = std::make_unique<QWidget>();
    ui_ = std::make_unique<Ui::MCContentViewController>();
    ui_->setupUi(root.get());
    return root;
}

void MCContentViewController::viewDidLoad() {
    chartFocusRing_ = new FocusRing(ui_->plotView);
    applyAppearance();
    // A desktop that switches between light and dark while we run.
    onApplicationPaletteChange(this, [this] { applyAppearance(); });
    ButtonKeys::activateWithReturn(view());
    QPushButton* clean = ui_->cleanButton;
    connect(clean, &QPushButton::clicked, this, [this, clean] { cleanMemoryButtonClicked(clean); });
    QAbstractButton* about = ui_->aboutButton;
    connect(about, &QAbstractButton::clicked, this, [this, about] { showAbout(about); });
    QAbstractButton* quit = ui_->quitButton;
    connect(quit, &QAbstractButton::clicked, this, [this, quit] { quitButtonClicked(quit); });
    QAbstractButton* preferences = ui_->preferencesButton;
    connect(preferences, &QAbstractButton::clicked, this,
            [this, preferences] { showPreferences(preferences); });
    ui_->processesSection->hide();
    connect(ui_->processesButton, &QToolButton::toggled, this,
            [this](bool expanded) { setProcessesExpanded(expanded); });
    // The rows that exist on this machine (swap, pressure) are known before the first opening,
    // so the popover opens at its final size.
    showDetails(detailsReader_ ? detailsReader_->currentDetails() : std::nullopt);
    fitToContent();
}

QString MCContentViewController::availableText(const MCMemoryDetails& details) {
    return tr("%1 of %2", "available memory of the total")
        .arg(MCLocalizedText::friendlySize(details.availableMemory),
             MCLocalizedText::friendlySize(details.totalMemory));
}

QString MCContentViewController::swapText(const MCMemoryDetails& details) {
    return tr("%1 / %2", "swap used / swap total")
        .arg(MCLocalizedText::friendlySize(details.swapUsed()),
             MCLocalizedText::friendlySize(details.swapTotal));
}

QString MCContentViewController::pressureText(MCPressureState state) {
    switch (state) {
    case MCPressureState::High:
        return tr("high", "memory pressure");
    case MCPressureState::Some:
        return tr("some", "memory pressure: some programs wait");
    case MCPressureState::None:
        break;
    }
    return tr("none", "memory pressure");
}

void MCContentViewController::showDetails(const std::optional<MCMemoryDetails>& details) {
    if (!ui_ || !details) {
        return; // no reading: the rows keep what they showed
    }
    const std::pair<bool, bool> hiddenBefore(ui_->swapRow->isHidden(),
                                             ui_->pressureRow->isHidden());
    ui_->availableTextField->setText(availableText(*details));
    ui_->swapRow->setHidden(!details->hasSwap());
    if (details->hasSwap()) {
        ui_->swapTextField->setText(swapText(*details));
    }
    const std::optional<MCPressureState> pressure = details->pressureState();
    ui_->pressureRow->setHidden(!pressure);
    if (pressure) {
        ui_->pressureTextField->setText(pressureText(*pressure));
        const QColor marker = *pressure == MCPressureState::High   ? QColor(0xe5, 0x48, 0x4d)
                              : *pressure == MCPressureState::Some ? QColor(0xf5, 0xa5, 0x24)
                                                                   : QColor(0x2d, 0xa4, 0x4e);
        ui_->pressureMarker->setStyleSheet(
            QStringLiteral("background: %1; border-radius: 4px;").arg(marker.name()));
    }
    if (hiddenBefore != std::pair(ui_->swapRow->isHidden(), ui_->pressureRow->isHidden())) {
        fitToContent();
    }
}

void MCContentViewController::monitorDidTick() {
    if (ui_ && monitor_ != nullptr && view()->isVisible()) {
        ui_->sparklineView->setHistory(monitor_->history());
    }
}

bool MCContentViewController::processesExpanded() const {
    return ui_ && ui_->processesButton->isChecked();
}

void MCContentViewController::setProcessesExpanded(bool expanded) {
    view();
    if (ui_->processesButton->isChecked() != expanded) {
        ui_->processesButton->setChecked(expanded); // comes back here through toggled
        return;
    }
    ui_->processesButton->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
    ui_->processesSection->setVisible(expanded);
    fitToContent();
    if (expanded) {
        readProcesses();
    }
}

void MCContentViewController::readProcesses() {
    if (!processesExpanded() || !processReader_) {
        return;
    }
    if (processWatcher_.isRunning()) {
        processReadAgain_ = true;
        return;
    }
    processWatcher_.setFuture(QtConcurrent::run(
        [reader = processReader_] { return reader->biggest(MCProcessReader::kPanelCount); }));
}

void MCContentViewController::showProcesses(const std::vector<MCProcess>& processes) {
    shownProcesses_ = processes;
    const std::array<QLabel*, MCProcessReader::kPanelCount> names = {
        ui_->processName1, ui_->processName2, ui_->processName3, ui_->processName4,
        ui_->processName5};
    const std::array<QLabel*, MCProcessReader::kPanelCount> sizes = {
        ui_->processSize1, ui_->processSize2, ui_->processSize3, ui_->processSize4,
        ui_->processSize5};
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i < processes.size()) {
            const QString name = QString::fromStdString(processes[i].name);
            names[i]->setText(name);
            names[i]->setToolTip(tr("%1 (process %2)").arg(name).arg(processes[i].pid));
            sizes[i]->setText(MCLocalizedText::friendlySize(processes[i].bytes));
        } else {
            names[i]->setText(i == 0 && processes.empty() ? tr("No processes could be read")
                                                          : QString());
            names[i]->setToolTip(QString());
            sizes[i]->clear();
        }
    }
    // Rows that were empty when the section opened now have text and want their height.
    fitToContent();
    emit processesShown();
}

void MCContentViewController::fitToContent() {
    QWidget* root = view();
    if (root == nullptr || root->layout() == nullptr) {
        return;
    }
    // A row inside the section changed: the root's layout keeps the section's old size until
    // told, which it otherwise is only on a later turn of the event loop.
    ui_->detailsLayout->invalidate();
    ui_->detailsSection->updateGeometry();
    root->layout()->activate();
    const QSize hint = root->layout()->sizeHint().expandedTo(root->minimumSize());
    const QSize wanted(std::max(root->width(), hint.width()), hint.height());
    if (wanted == root->size()) {
        return;
    }
    root->resize(wanted);
    emit preferredContentSizeChanged(wanted);
}

std::vector<std::int64_t>
MCContentViewController::chartData(const std::optional<MCMemory>& sample) {
    if (!sample) {
        return {0, 0, 0, 0};
    }
    return {sample->wiredMemory, sample->activeMemory, sample->inactiveMemory, sample->freeMemory};
}

void MCContentViewController::showFreeMemory(const std::optional<MCMemory>& sample) {
    QLabel* field = freeMemoryTextField();
    if (sample && field != nullptr) {
        field->setText(MCLocalizedText::friendlySize(sample->freeMemory));
    }
}

void MCContentViewController::refreshMemoryUsage(QObject* /*sender*/) {
    DDLogVerbose("==> %s", "-[MCContentViewController refreshMemoryUsage:]");
    const auto sample = memoryController_->currentMemoryUsage();
    showFreeMemory(sample);
    setChartData(chartData(sample));
    pieChart_->reloadData();
    showDetails(detailsReader_ ? detailsReader_->currentDetails() : std::nullopt);
    readProcesses();
}

void MCContentViewController::popoverDidShow() {
    DDLogVerbose("==> %s", "-[MCContentViewController popoverDidShow]");
    fireEvent("PopoverShown");
    view(); // outlets come with the view
    if (!panelShownOnce_) {
        const auto sample = memoryController_->currentMemoryUsage();
        showFreeMemory(sample);
        setChartData(chartData(sample));
        pieChart_->renderInView(plotView(), CPTTheme::themeNamed(kCPTPlainWhiteTheme), true);
        showDetails(detailsReader_ ? detailsReader_->currentDetails() : std::nullopt);
    } else if (monitor_ != nullptr) {
        // No sample of our own at a later show: the monitor's, at most one interval old.
        showDetails(monitor_->latest());
    }
    if (monitor_ != nullptr) {
        ui_->sparklineView->setHistory(monitor_->history());
    }
    readProcesses();
    // The keyboard starts on the chart, whose description a screen reader reads out; Tab goes
    // on to the controls. Each opening starts there again.
    if (plotView()->isVisible()) {
        plotView()->setFocus(Qt::ActiveWindowFocusReason);
    }
    if (!cleanInProgress_) {
        startRefreshTimer();
    }
    panelShownOnce_ = true;
    emit popoverShown();
}

void MCContentViewController::popoverWillClose() {
    DDLogVerbose("==> %s", "-[MCContentViewController popoverWillClose]");
    timer_->stop();
}

void MCContentViewController::startRefreshTimer() {
    // One timer, restarted: a show never leaves a second one running.
    timer_->start();
}

void MCContentViewController::cleanMemoryButtonClicked(QObject* /*sender*/) {
    if (cleanInProgress_) {
        return;
    }
    fireEvent("CleanButtonClicked");
    startClean(false);
}

void MCContentViewController::startAutomaticClean() {
    if (cleanInProgress_) {
        return;
    }
    startClean(true);
}

void MCContentViewController::startClean(bool automatic) {
    timer_->stop();
    if (QPushButton* button = cleanButton()) {
        button->setEnabled(false);
        button->setText(cleaningTitle());
    }
    cleanInProgress_ = true;
    const auto sample = memoryController_->currentMemoryUsage();
    freeMemoryWhenCleanHappens_ = sample ? sample->freeMemory : 0;
    emit cleanStarted(automatic);
    cmTask();
}

void MCContentViewController::cmTask() {
    // The worker shares only the sampler with the main thread; its progress and its end come
    // back queued through the watcher.
    cleanWatcher_.setFuture(
        QtConcurrent::run([memory = memoryController_](QPromise<void>& promise) {
            promise.setProgressRange(0, 100);
            const MCCleanOutcome outcome =
                memory->clean([&promise](int percent) { promise.setProgressValue(percent); });
            DDLogInfo("%@", cleanOutcomeText(outcome));
        }));
}

void MCContentViewController::showCleanProgress(int percent) {
    QPushButton* button = cleanButton();
    // A watcher set on a running clean replays its starting 0: the title changes only once
    // some of the work is done.
    if (!cleanInProgress_ || button == nullptr || percent <= 0) {
        return;
    }
    button->setText(cleaningProgressTitle(percent));
    emit cleanProgressShown(percent);
}

void MCContentViewController::taskDone() {
    cleanInProgress_ = false;
    if (QPushButton* button = cleanButton()) {
        button->setEnabled(true);
        button->setText(cleanTitle());
    }
    showMemoryCleanDoneNotification();
    refreshMemoryUsage(nullptr);
    // Refreshing a closed popover would only burn samples.
    if (statusItemPopup_ != nullptr && statusItemPopup_->isActive()) {
        startRefreshTimer();
    }
    emit cleanFinished();
}

void MCContentViewController::showMemoryCleanDoneNotification() {
    const auto sample = memoryController_->currentMemoryUsage();
    const std::int64_t after = sample ? sample->freeMemory : 0;
    const std::int64_t freed = after - freeMemoryWhenCleanHappens_;
    if (notificationCenter_ == nullptr) {
        return;
    }
    UserNotification notification;
    notification.title = notificationTitle();
    notification.informativeText = MCLocalizedText::cleanResultText(freed);
    notification.soundName = UserNotificationDefaultSoundName;
    notificationCenter_->deliverNotification(notification);
}

void MCContentViewController::quitButtonClicked(QObject* /*sender*/) {
    fireEvent("QuitButtonClicked");
    Application::sharedApplication()->terminate(nullptr);
}

void MCContentViewController::showAbout(QObject* /*sender*/) {
    fireEvent("AboutShown");
    if (auto* delegate = mcAppDelegate()) {
        delegate->showAboutWindow();
    }
    if (statusItemPopup_ != nullptr) {
        statusItemPopup_->hidePopover();
    }
}

void MCContentViewController::showPreferences(QObject* /*sender*/) {
    if (auto* delegate = mcAppDelegate()) {
        delegate->showPreferencesWindow();
    }
    if (statusItemPopup_ != nullptr) {
        statusItemPopup_->hidePopover();
    }
}

void MCContentViewController::fireEvent(const char* name) {
    if (auto* delegate = mcAppDelegate()) {
        if (auto* analytics = delegate->analyticsHelper()) {
            analytics->fireEvent(name, 0);
        }
    }
}
