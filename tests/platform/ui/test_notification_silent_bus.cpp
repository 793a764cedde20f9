// A notification on a session bus that accepts connections and never answers: the call
// returns and reports the failure, instead of holding the GUI thread while Qt waits on the
// bus. The bus is a real socket of this test; nothing in this process has used a bus before.
// A call that hangs ends the test through QTEST_FUNCTION_TIMEOUT (set in CMakeLists.txt).

#include "platform/ui/UserNotificationCenter.h"
#include "support/SilentBus.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class NotificationOnASilentBus : public QObject {
    Q_OBJECT

private slots:
    void deliveryReturnsAndReportsTheSilentBus() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        SilentBus bus(QFile::encodeName(dir.filePath(QStringLiteral("bus"))).toStdString());
        qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray::fromStdString(bus.address()));
        UserNotificationCenter center(QStringLiteral("Brimwell test"));
        QSignalSpy failed(&center, &UserNotificationCenter::deliveryFailed);
        QSignalSpy delivered(&center, &UserNotificationCenter::delivered);
        UserNotification note{QStringLiteral("Memory Clean Done"), QStringLiteral("1 B"), {}};
        center.deliverNotification(note);
        // Once known, the silent bus is not waited on again.
        center.deliverNotification(note);
        QCOMPARE(failed.count(), 2);
        const QString reason = failed.at(0).at(0).toString();
        QVERIFY2(reason.startsWith(QLatin1String("no session bus: ")) &&
                     reason.contains(QLatin1String("no answer")),
                 qPrintable(reason));
        QCOMPARE(delivered.count(), 0);
        // It did try the bus, once.
        QCOMPARE(bus.connections(), 1);
    }
};

QTEST_GUILESS_MAIN(NotificationOnASilentBus)
#include "test_notification_silent_bus.moc"
