#include "platform/ui/UserNotificationCenter.h"

#include "platform/core/session_bus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
constexpr int kCallTimeoutMs = 5000;
} // namespace

UserNotificationCenter* UserNotificationCenter::defaultUserNotificationCenter() {
    static auto* center = new UserNotificationCenter; // lives for the whole process
    return center;
}

UserNotificationCenter::UserNotificationCenter(QString appName, QObject* parent)
    : QObject(parent), appName_(std::move(appName)) {}

void UserNotificationCenter::deliverNotification(const UserNotification& notification) {
    // Qt would wait without end for a bus that accepts and then stays silent: look first,
    // within a bound (once per process; the application has looked before Qt started).
    const platform::BusProbe& probe = platform::SessionBus::status();
    if (!probe.usable) {
        emit deliveryFailed(
            QStringLiteral("no session bus: %1").arg(QString::fromStdString(probe.problem)));
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        emit deliveryFailed(QStringLiteral("no session bus: %1").arg(bus.lastError().message()));
        return;
    }
    QVariantMap hints;
    if (!notification.soundName.isEmpty()) {
        hints.insert(QStringLiteral("sound-name"), notification.soundName);
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    call << appName_ << uint(0) << QString() << notification.title << notification.informativeText
         << QStringList() << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        QDBusPendingReply<uint> reply = *w;
        if (reply.isError()) {
            emit deliveryFailed(reply.error().message());
        } else {
            emit delivered(reply.value());
        }
        w->deleteLater();
    });
}
