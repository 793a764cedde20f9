#pragma once
// The running app's one low-rate monitor: every MCMemoryMonitor::kInterval it takes a detail
// sample (the only thing that wakes while the popover is closed) and acts on what the rules
// answer: the low-memory notification, and auto-clean through the panel.

#include "memory/MCMemoryMonitor.h"
#include "platform/ui/UserNotificationCenter.h"

#include <QObject>

#include <functional>
#include <memory>

class MCContentViewController;
class QTimer;

class MCMonitorController : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<MCTime()>;

    // `panel` runs the automatic cleans and hears of each tick; it outlives this controller.
    MCMonitorController(std::unique_ptr<MCMemoryMonitor> monitor, MCContentViewController* panel,
                        QObject* parent = nullptr);
    ~MCMonitorController() override;

    MCMemoryMonitor& monitor() { return *monitor_; }
    QTimer* timer() const { return timer_; }
    // steady_clock unless set (tests).
    void setClock(Clock clock) { clock_ = std::move(clock); }
    // Where the low-memory notification goes; the desktop's notification service by default.
    void setNotificationCenter(UserNotificationCenter* center) { notificationCenter_ = center; }

    // The rules' thresholds; the history and the rules' timing stay.
    void apply(const MCSettings& settings);
    void start();

    // One sample now and what it calls for; the timer calls it.
    void tick();

    static UserNotification lowMemoryNotification(MCLowMemoryReason reason,
                                                  const MCMemoryDetails& details);

signals:
    // After every tick, sample or not; the icon, the tooltip and the graph follow.
    void ticked();

private:
    std::unique_ptr<MCMemoryMonitor> monitor_;
    MCContentViewController* panel_;
    QTimer* timer_;
    Clock clock_;
    UserNotificationCenter* notificationCenter_;
};
