#pragma once
// One Brimwell per user session: the first instance owns a name on the session bus; a later
// launch asks it to show its popover and leaves.

#include <QObject>

#include <functional>

class MCSingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.brimwell.Brimwell")
public:
    static inline const char* const kServiceName = "app.brimwell.Brimwell";
    static inline const char* const kObjectPath = "/app/brimwell/Brimwell";

    enum class Role { First, AlreadyRunning, NoBus };

    // Claims the name. When another instance holds it, tells that one to show its popover.
    Role claim();

    // What a later launch asks of the first instance.
    void setShowHandler(std::function<void()> handler) { showHandler_ = std::move(handler); }

public slots:
    Q_SCRIPTABLE void ShowPopover();

private:
    std::function<void()> showHandler_;
};
