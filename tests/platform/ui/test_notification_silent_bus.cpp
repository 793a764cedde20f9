// A notification on a session bus that accepts connections and never answers: the call
// returns and reports the failure, instead of holding the GUI thread while Qt waits on the
// bus. The bus is a real socket of this test; nothing in this process has used a bus before.

#include "platform/ui/UserNotificationCenter.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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
    int listenFd_ = -1;
    std::vector<int> held_;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::thread peer_;

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        const QByteArray path = QFile::encodeName(dir_.filePath(QStringLiteral("bus")));
        listenFd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
        QCOMPARE(::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        QCOMPARE(::listen(listenFd_, 16), 0);
        peer_ = std::thread([this] {
            while (!stop_) {
                pollfd p{listenFd_, POLLIN, 0};
                if (::poll(&p, 1, 20) > 0) {
                    held_.push_back(::accept(listenFd_, nullptr, nullptr));
                    ++accepted_;
                }
            }
        });
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + path);
    }

    void cleanupTestCase() {
        stop_ = true;
        peer_.join();
        for (int fd : held_) {
            ::close(fd);
        }
        ::close(listenFd_);
    }

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
        QCOMPARE(accepted_.load(), 1);
    }
};

QTEST_GUILESS_MAIN(NotificationOnASilentBus)
#include "test_notification_silent_bus.moc"
