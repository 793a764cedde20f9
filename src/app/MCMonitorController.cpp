#include "app/MCMonitorController.h"

#include "app/MCContentViewController.h"
#include "app/MCLocalizedText.h"
#include "logging/DDLog.h"

#include <QTimer>

#include <chrono>
#include <cmath>

MCMonitorController::MCMonitorController(std::unique_ptr<MCMemoryMonitor> monitor,
                                         MCContentViewController* panel, QObject* parent)
    : QObject(parent), monitor_(std::move(monitor)), panel_(panel), timer_(new QTimer(this)),
      clock_([] { return std::chrono::steady_clock::now(); }),
      notificationCenter_(UserNotificationCenter::defaultUserNotificationCenter()) {
    // Whole seconds are precise enough: the system may fold this wake-up into others.
    timer_->setTimerType(Qt::VeryCoarseTimer);
    timer_->setInterval(
        std::chrono::duration_cast<std::chrono::milliseconds>(MCMemoryMonitor::kInterval));
    connect(timer_, &QTimer::timeout, this, &MCMonitorController::tick);
    if (panel_ != nullptr) {
        panel_->setMonitor(monitor_.get());
        connect(panel_, &MCContentViewController::cleanStarted, this, [this](bool automatic) {
            // The rule counts its own cleans; one the user starts restarts its interval.
            if (!automatic) {
                monitor_->cleanStarted(clock_());
            }
        });
    }
}

MCMonitorController::~MCMonitorController() {
    if (panel_ != nullptr) {
        panel_->setMonitor(nullptr);
    }
}

void MCMonitorController::apply(const MCSettings& settings) {
    monitor_->apply(settings);
}

void MCMonitorController::start() {
    tick(); // the icon and the graph start with a figure
    timer_->start();
}

void MCMonitorController::tick() {
    const bool cleaning = panel_ != nullptr && panel_->cleanInProgress();
    const MCMonitorTick result = monitor_->tick(clock_(), cleaning);
    if (result.details && result.notifyLowMemory && notificationCenter_ != nullptr) {
        const UserNotification note =
            lowMemoryNotification(*result.notifyLowMemory, *result.details);
        DDLogInfo("%@: %@", note.title.toStdString(), note.informativeText.toStdString());
        notificationCenter_->deliverNotification(note);
    }
    if (result.cleanNow && panel_ != nullptr) {
        DDLogInfo("Auto-clean: %.0f %% of memory in use",
                  result.details ? 100.0 * result.details->usedFraction() : 0.0);
        panel_->startAutomaticClean();
    }
    if (panel_ != nullptr) {
        panel_->monitorDidTick();
    }
    emit ticked();
}

UserNotification MCMonitorController::lowMemoryNotification(MCLowMemoryReason reason,
                                                            const MCMemoryDetails& details) {
    const double share = details.totalMemory > 0
                             ? 100.0 * static_cast<double>(details.availableMemory) /
                                   static_cast<double>(details.totalMemory)
                             : 0.0;
    const QString available = tr("%1 available (%2 %)")
                                  .arg(MCLocalizedText::friendlySize(details.availableMemory),
                                       QLocale().toString(static_cast<int>(std::floor(share))));
    UserNotification note;
    if (reason == MCLowMemoryReason::HighPressure) {
        note.title = tr("Memory pressure is high");
        note.informativeText =
            tr("Programs keep waiting for memory. %1. Closing a big program helps.").arg(available);
    } else {
        note.title = tr("Memory is running low");
        note.informativeText = available;
    }
    note.soundName = UserNotificationDefaultSoundName;
    return note;
}
