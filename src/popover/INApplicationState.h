#pragma once

#include <QObject>

#include <optional>

// Whether this application is the active one, and word when that changes. Follows Qt's
// application state; a test or an embedding host may pin the state instead.
class INApplicationState : public QObject {
    Q_OBJECT

public:
    // The process-wide instance; needs a QGuiApplication.
    static INApplicationState* shared();

    bool isActive() const;

    // Pins the state (none follows Qt again) and announces a change of the answer.
    void overrideActive(std::optional<bool> active);

signals:
    void didBecomeActive();
    void didResignActive();

private:
    explicit INApplicationState(QObject* parent);
    void announce(bool wasActive);

    std::optional<bool> override_;
    bool lastActive_ = false;
};
