#include "MCSingleInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

MCSingleInstance::Role MCSingleInstance::claim() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return Role::NoBus;
    }
    const QString service = QString::fromLatin1(kServiceName);
    const QString path = QString::fromLatin1(kObjectPath);
    if (bus.registerService(service)) {
        bus.registerObject(path, this, QDBusConnection::ExportScriptableSlots);
        return Role::First;
    }
    auto call = QDBusMessage::createMethodCall(service, path, QString::fromLatin1(kServiceName),
                                               QStringLiteral("ShowPopover"));
    bus.call(call, QDBus::Block, 5000);
    return Role::AlreadyRunning;
}

void MCSingleInstance::ShowPopover() {
    if (showHandler_) {
        showHandler_();
    }
}
