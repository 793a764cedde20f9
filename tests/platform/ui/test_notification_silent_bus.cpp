// A notification on a session bus that accepts connections and never answers: the call
// returns and reports the failure, instead of holding the GUI thread while Qt waits on the
// bus. The bus is a real socket of this test; nothing in this process has used a bus before.

#include "platform/ui/UserNotificationCenter.h"
#include "support/SilentBus.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

// Ends the process, with a message, should the test still be running after `seconds`: a hang
// on the GUI thread then fails the test instead of stalling it.
class Watchdog {
public:
    explicit Watchdog(int seconds) {
        thread_ = std::thread([this, seconds] {
            std::unique_lock lock(mutex_);
            if (!done_.wait_for(lock, std::chrono::seconds(seconds), [this] { return over_; })) {
                std::fprintf(stderr, "FAIL: the GUI thread has been blocked for %d s\n", seconds);
                std::_Exit(1);
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            over_ = true;
        }
        done_.notify_one();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool over_ = false;
    std::thread thread_;
};

} // namespace

class NotificationOnASilentBus : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<SilentBus> bus_;

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        bus_ = std::make_unique<SilentBus>(dir_.filePath(QStringLiteral("bus")));
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus_->address().toLocal8Bit());
    }

    void cleanupTestCase() { bus_.reset(); }

    void deliveryReturnsAndReportsTheSilentBus() {
        UserNotificationCenter center(QStringLiteral("Brimwell test"));
        QSignalSpy failed(&center, &UserNotificationCenter::deliveryFailed);
        QSignalSpy delivered(&center, &UserNotificationCenter::delivered);
        UserNotification note{QStringLiteral("Memory Clean Done"), QStringLiteral("1 B"), {}};
        {
            Watchdog watchdog(20);
            center.deliverNotification(note);
            // Once known, the silent bus is not waited on again.
            center.deliverNotification(note);
        }
        QCOMPARE(failed.count(), 2);
        const QString reason = failed.at(0).at(0).toString();
        QVERIFY2(reason.startsWith(QLatin1String("no session bus: ")) &&
                     reason.contains(QLatin1String("no answer")),
                 qPrintable(reason));
        QCOMPARE(delivered.count(), 0);
        // It did try the bus, once.
        QCOMPARE(bus_->connections(), 1);
    }
};

QTEST_GUILESS_MAIN(NotificationOnASilentBus)
#include "test_notification_silent_bus.moc"
