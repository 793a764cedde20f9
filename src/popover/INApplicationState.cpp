#include "popover/INApplicationState.h"

#include <QGuiApplication>
#include <QPointer>

INApplicationState* INApplicationState::shared() {
    static QPointer<INApplicationState> instance;
    if (!instance && QGuiApplication::instance()) {
        instance = new INApplicationState(QGuiApplication::instance());
    }
    return instance;
}

INApplicationState::INApplicationState(QObject* parent) : QObject(parent) {
    lastActive_ = isActive();
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState) { announce(lastActive_); });
}

bool INApplicationState::isActive() const {
    if (override_) {
        return *override_;
    }
    return QGuiApplication::applicationState() == Qt::ApplicationActive;
}

void INApplicationState::overrideActive(std::optional<bool> active) {
    const bool was = isActive();
    override_ = active;
    announce(was);
}

void INApplicationState::announce(bool wasActive) {
    const bool now = isActive();
    lastActive_ = now;
    if (now == wasActive) {
        return;
    }
    if (now) {
        emit didBecomeActive();
    } else {
        emit didResignActive();
    }
}
