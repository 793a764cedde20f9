#pragma once
// One Brimwell per user session. The first copy holds a lock in a private run-time folder and
// listens on a socket beside it; on a session bus it also owns a name there. A later start
// asks the running copy to show its popover (on the bus when there is one, else on the
// socket) and leaves; every step is bounded in time, so a silent bus or a stopped copy cannot
// hang a start.

#include "platform/core/instance_lock.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QSocketNotifier;

class MCSingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.brimwell.Brimwell")
public:
    static inline const char* const kServiceName = "app.brimwell.Brimwell";
    static inline const char* const kObjectPath = "/app/brimwell/Brimwell";
    // How long a later start waits for the running copy to answer.
    static constexpr std::chrono::milliseconds kAnswerTimeout{3000};
    // How long the first copy waits for the bus to grant its name.
    static constexpr std::chrono::milliseconds kBusCallTimeout{1000};

    enum class Role {
        First,          // this process is the one copy: go on starting
        AlreadyRunning, // another copy runs and has been asked to show its popover
        NotResponding,  // another copy runs but did not answer in time; see problem()
    };

    // `folder`: where the lock and the socket live (or why there is no such folder).
    // `useBus`: whether the session bus answered its probe.
    MCSingleInstance(platform::RuntimeFolder folder, bool useBus, QObject* parent = nullptr);
    // The folder of this user's session, and the bus as probed for this process.
    MCSingleInstance();
    ~MCSingleInstance() override;

    Role claim();

    // What went wrong when the role is NotResponding.
    const std::string& problem() const { return problem_; }
    // Things that work less well than they should, for the log once it is set up.
    const std::vector<std::string>& warnings() const { return warnings_; }

    // What a later start asks of the first copy.
    void setShowHandler(std::function<void()> handler) { showHandler_ = std::move(handler); }

public slots:
    Q_SCRIPTABLE void ShowPopover();

private:
    enum class BusName { Owned, OwnedByOther, Unavailable };

    Role becomeFirst();
    BusName requestBusName();
    // Asks the owner of the bus name; nullopt when nobody owns it.
    std::optional<bool> askOverBus(std::chrono::steady_clock::time_point deadline);
    void listen();
    void acceptClients();
    void serveClient(int fd);
    Role notResponding(const std::string& why);

    platform::RuntimeFolder folder_;
    bool useBus_ = false;
    std::optional<platform::InstanceLock> lock_;
    int listenFd_ = -1;
    QSocketNotifier* listenNotifier_ = nullptr;
    std::function<void()> showHandler_;
    std::string problem_;
    std::vector<std::string> warnings_;
};
