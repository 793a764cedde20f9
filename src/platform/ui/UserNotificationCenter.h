#pragma once
// Desktop notifications through the freedesktop notification service on the session bus.

#include <QObject>
#include <QString>

struct UserNotification {
    QString title;
    QString informativeText;
    QString soundName; // empty: silent
};

// The sound every desktop theme has for a plain message.
inline const QString UserNotificationDefaultSoundName = QStringLiteral("message-new-instant");

class UserNotificationCenter : public QObject {
    Q_OBJECT
public:
    static UserNotificationCenter* defaultUserNotificationCenter();

    explicit UserNotificationCenter(QString appName = QStringLiteral("Brimwell"),
                                    QObject* parent = nullptr);

    // Hands the notification to the service without waiting for it: the GUI thread never
    // waits on the bus for longer than the one bounded look at it per process. When there is
    // no bus or no service nothing is shown; the failure is reported once through
    // `deliveryFailed`.
    virtual void deliverNotification(const UserNotification& notification);

signals:
    void delivered(uint id);
    void deliveryFailed(const QString& reason);

private:
    QString appName_;
};
