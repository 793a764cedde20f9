// The real brimwell program inside scripts/with-desktop.sh --tray: a second start only opens
// the popover of the copy already running, with a live session bus, without any bus, with a
// bus that accepts and never answers, and with an address that is no bus at all; a running
// copy that does not answer (stopped) makes a later start give up, not start a second copy;
// TERM, INT and HUP end the program as Quit does.

#include "support/XTools.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <memory>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// How many visible windows of process `pid` are larger than a tray icon: the popover (and,
// while it opens, its growing snapshot).
int popoverWindows(qint64 pid) {
    int found = 0;
    for (const QRect& window : visibleWindowsOf(pid)) {
        found += window.width() > 100 && window.height() > 100;
    }
    return found;
}

bool popoverOpen(qint64 pid) {
    return popoverWindows(pid) > 0;
}

// Waits until the popover of `pid` has been open (or closed) for a moment without a break:
// while it opens or closes, its snapshot and its window take turns on the screen. False when
// that did not happen within `timeoutMs`.
bool popoverSettles(qint64 pid, bool open, int timeoutMs) {
    QElapsedTimer total;
    total.start();
    QElapsedTimer steady;
    while (total.elapsed() < timeoutMs) {
        if (popoverOpen(pid) != open) {
            steady.invalidate();
        } else if (!steady.isValid()) {
            steady.start();
        } else if (steady.elapsed() >= 300) {
            return true;
        }
        QTest::qWait(30);
    }
    return false;
}

// A press on the bare desktop, far from the tray and the popover: closes an open popover.
bool clickOnTheDesktop() {
    return clickAt(QPoint(200, 600));
}

void screenshot(const QString& name) {
    const QString dir = QStringLiteral(BRIMWELL_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    QGuiApplication::primaryScreen()->grabWindow(0).save(dir + "/" + name + ".png");
}

// A session bus that accepts every connection and never says a word.
class SilentBus {
public:
    explicit SilentBus(const QString& path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray native = QFile::encodeName(path);
        qstrncpy(address.sun_path, native.constData(), sizeof address.sun_path);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd_, 16) != 0) {
            qFatal("the silent bus cannot listen on %s", native.constData());
        }
        address_ = QStringLiteral("unix:path=") + path;
        thread_ = std::thread([this] {
            while (!stop_) {
                pollfd p{fd_, POLLIN, 0};
                if (::poll(&p, 1, 20) > 0) {
                    held_.push_back(::accept(fd_, nullptr, nullptr));
                    ++connections_;
                }
            }
        });
    }
    ~SilentBus() {
        stop_ = true;
        thread_.join();
        for (int fd : held_) {
            ::close(fd);
        }
        ::close(fd_);
    }
    QString address() const { return address_; }
    int connections() const { return connections_; }

private:
    int fd_ = -1;
    QString address_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
    std::vector<int> held_; // the thread's until it is joined
};

enum class Bus { Live, None, Silent, Broken };

} // namespace

Q_DECLARE_METATYPE(Bus)

class SingleInstanceEndToEnd : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> scratch_;
    std::unique_ptr<SilentBus> silent_;
    std::vector<std::unique_ptr<QProcess>> started_;

    // The environment of one start: a run-time folder and a config folder of this test, and
    // the bus of the row.
    QProcessEnvironment environment(Bus bus, const QString& runtime) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), scratch_->filePath(QStringLiteral("config")));
        env.remove(QStringLiteral("BRIMWELL_ANALYTICS_HOST"));
        switch (bus) {
        case Bus::Live:
            break;
        case Bus::None:
            env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
            break;
        case Bus::Silent:
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), silent_->address());
            break;
        case Bus::Broken:
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QStringLiteral("unix:path=/nonexistent/brimwell-bus"));
            break;
        }
        return env;
    }

    QString makeRuntimeFolder(const QString& name) const {
        const QString path = scratch_->filePath(name);
        QDir().mkpath(path);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

    QProcess* start(const QProcessEnvironment& env, const QStringList& args = {}) {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(env);
        process->start(QStringLiteral(BRIMWELL_BINARY), args);
        if (!process->waitForStarted(5000)) {
            qWarning("brimwell did not start");
        }
        started_.push_back(std::move(process));
        return started_.back().get();
    }

    // Ends every copy this test started, whatever the outcome of the test.
    void stopAll() {
        for (const auto& process : started_) {
            if (process->state() != QProcess::NotRunning) {
                ::kill(static_cast<pid_t>(process->processId()), SIGCONT);
                process->kill();
                process->waitForFinished(5000);
            }
        }
        started_.clear();
    }

    // True once `process` has ended, within `ms` (it may have ended already, seen while the
    // event loop turned).
    static bool ended(QProcess* process, int ms) {
        return process->state() == QProcess::NotRunning || process->waitForFinished(ms);
    }

    static int count(const QByteArray& text, const QByteArray& part) {
        return static_cast<int>(text.count(part));
    }

private slots:
    void initTestCase() {
        scratch_ = std::make_unique<QTemporaryDir>();
        QVERIFY(scratch_->isValid());
        silent_ = std::make_unique<SilentBus>(scratch_->filePath(QStringLiteral("silent-bus")));
    }

    void cleanup() { stopAll(); }

    void secondStartOpensThePopoverOfTheRunningCopy_data() {
        QTest::addColumn<Bus>("bus");
        QTest::newRow("live bus") << Bus::Live;
        QTest::newRow("no bus") << Bus::None;
        QTest::newRow("silent bus") << Bus::Silent;
        QTest::newRow("broken address") << Bus::Broken;
    }

    void secondStartOpensThePopoverOfTheRunningCopy() {
        QFETCH(Bus, bus);
        const QProcessEnvironment env =
            environment(bus, makeRuntimeFolder(QString::fromLatin1(QTest::currentDataTag())));
        const int silentBefore = silent_->connections();

        QElapsedTimer clock;
        clock.start();
        QProcess* first = start(env, {QStringLiteral("--verbose")});
        const qint64 pid = first->processId();
        QByteArray log; // what it has written so far
        auto logSoFar = [&log, first] {
            return (log += first->readAllStandardError()).constData();
        };
        // Whatever the bus does, the popover opens: the start did not block on it. The
        // deadline is only there so that a hang fails instead of stalling the suite.
        bool shown = false; // latched: the try macros look once more after success
        QTRY_VERIFY_WITH_TIMEOUT(shown || (shown = popoverOpen(pid)), 15000);
        qInfo("%s: launch to popover %lld ms", QTest::currentDataTag(), clock.elapsed());
        QVERIFY(popoverSettles(pid, true, 5000));
        if (bus == Bus::Silent) {
            // It did talk to the silent bus, and gave up on it.
            QVERIFY(silent_->connections() > silentBefore);
        }

        // Closed first, so that only the second start can open it again.
        QVERIFY(clickOnTheDesktop());
        QVERIFY(popoverSettles(pid, false, 5000));

        clock.restart();
        QProcess* second = start(env);
        QVERIFY2(ended(second, 15000), "the second start did not end");
        qInfo("%s: second start ended after %lld ms", QTest::currentDataTag(), clock.elapsed());
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QVERIFY2(second->exitCode() == 0, second->readAllStandardError().constData());
        QVERIFY(second->readAllStandardOutput().contains("already running"));
        QCOMPARE(first->state(), QProcess::Running);
        QVERIFY2(popoverSettles(pid, true, 10000), logSoFar());
        if (bus == Bus::Silent) {
            QTest::qWait(400); // the opening animation
            screenshot(QStringLiteral("single-instance-silent-bus"));
        }

        // A running copy that does not answer: a later start says so and gives up; it never
        // starts a second copy beside it.
        QVERIFY(clickOnTheDesktop());
        QVERIFY(popoverSettles(pid, false, 5000));
        QCOMPARE(::kill(static_cast<pid_t>(pid), SIGSTOP), 0);
        QProcess* third = start(env);
        const bool gaveUp = ended(third, 20000);
        ::kill(static_cast<pid_t>(pid), SIGCONT);
        QVERIFY2(gaveUp, "a start beside a stopped copy did not give up");
        QCOMPARE(third->exitStatus(), QProcess::NormalExit);
        QCOMPARE(third->exitCode(), 1);
        const QByteArray complaint = third->readAllStandardError();
        QVERIFY2(complaint.contains("does not answer") &&
                     complaint.contains("process " + QByteArray::number(pid)),
                 complaint.constData());
        QCOMPARE(first->state(), QProcess::Running);
        if (bus == Bus::None || bus == Bus::Silent || bus == Bus::Broken) {
            // Without a bus the request went over the socket, and the start that sent it gave
            // up: the copy that wakes up does not open its popover for nobody.
            QTest::qWait(500);
            QVERIFY(!popoverOpen(pid));
        }
        // Awake again, it answers.
        QProcess* fourth = start(env);
        QVERIFY(ended(fourth, 15000));
        QCOMPARE(fourth->exitCode(), 0);
        QVERIFY(popoverSettles(pid, true, 10000));

        ::kill(static_cast<pid_t>(pid), SIGTERM);
        QVERIFY(ended(first, 10000));
        QCOMPARE(first->exitStatus(), QProcess::NormalExit);
        QCOMPARE(first->exitCode(), 0);
        // Without a usable bus: one warning, saying so. With one: none.
        logSoFar();
        const int warnings = count(log, ", [WARN], ");
        if (bus == Bus::Live) {
            QVERIFY2(warnings == 0, log.constData());
        } else {
            QVERIFY2(warnings == 1 && log.contains("[WARN], No usable session bus ("),
                     log.constData());
        }
    }

    void racingStartsLeaveExactlyOne_data() {
        QTest::addColumn<Bus>("bus");
        QTest::newRow("live bus") << Bus::Live;
        QTest::newRow("no bus") << Bus::None;
    }

    void racingStartsLeaveExactlyOne() {
        QFETCH(Bus, bus);
        const QProcessEnvironment env =
            environment(bus, makeRuntimeFolder(QStringLiteral("race ") + QTest::currentDataTag()));
        std::vector<QProcess*> copies;
        for (int i = 0; i < 3; ++i) {
            auto process = std::make_unique<QProcess>();
            process->setProcessEnvironment(env);
            copies.push_back(process.get());
            started_.push_back(std::move(process));
        }
        for (QProcess* copy : copies) {
            copy->start(QStringLiteral(BRIMWELL_BINARY), {}); // without waiting in between
        }
        auto running = [&copies] {
            int n = 0;
            for (QProcess* copy : copies) {
                n += copy->state() != QProcess::NotRunning;
            }
            return n;
        };
        QTRY_VERIFY_WITH_TIMEOUT(running() == 1, 20000);
        QProcess* survivor = nullptr;
        for (QProcess* copy : copies) {
            if (copy->state() != QProcess::NotRunning) {
                survivor = copy;
                continue;
            }
            QCOMPARE(copy->exitStatus(), QProcess::NormalExit);
            QVERIFY2(copy->exitCode() == 0, copy->readAllStandardError().constData());
        }
        QVERIFY(popoverSettles(survivor->processId(), true, 10000));
        // And it stays the only one.
        QTest::qWait(300);
        QCOMPARE(running(), 1);
    }

    void copiesOfDifferentRunTimeFoldersMeetOnTheBus() {
        // Two logins of one user can share a bus but not XDG_RUNTIME_DIR: the bus name holds.
        QProcess* first = start(environment(Bus::Live, makeRuntimeFolder(QStringLiteral("one"))));
        QVERIFY(popoverSettles(first->processId(), true, 15000));
        QVERIFY(clickOnTheDesktop());
        QVERIFY(popoverSettles(first->processId(), false, 5000));
        QProcess* second = start(environment(Bus::Live, makeRuntimeFolder(QStringLiteral("two"))));
        QVERIFY(ended(second, 15000));
        QVERIFY2(second->exitCode() == 0, second->readAllStandardError().constData());
        QCOMPARE(first->state(), QProcess::Running);
        QVERIFY(popoverSettles(first->processId(), true, 10000));
    }

    void signalsEndTheProgramAsQuitDoes_data() {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second"); // 0: none
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("TERM") << SIGTERM << 0 << QByteArray("SIGTERM");
        QTest::newRow("INT") << SIGINT << 0 << QByteArray("SIGINT");
        QTest::newRow("HUP") << SIGHUP << 0 << QByteArray("SIGHUP");
        // Another one as soon as it has begun to end: nothing hangs, nothing breaks.
        QTest::newRow("TERM, TERM") << SIGTERM << SIGTERM << QByteArray("SIGTERM");
        QTest::newRow("INT, HUP") << SIGINT << SIGHUP << QByteArray("SIGINT");
    }

    void signalsEndTheProgramAsQuitDoes() {
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(QByteArray, name);
        QProcess* app = start(environment(Bus::Live, makeRuntimeFolder(QStringLiteral("signal ") +
                                                                       QTest::currentDataTag())),
                              {QStringLiteral("--verbose")});
        const auto pid = static_cast<pid_t>(app->processId());
        QVERIFY(popoverSettles(pid, true, 15000));
        QByteArray log = app->readAllStandardError();
        ::kill(pid, first);
        if (second != 0) {
            QTRY_VERIFY_WITH_TIMEOUT((log += app->readAllStandardError()).contains("Quitting on"),
                                     10000);
            ::kill(pid, second);
        }
        QVERIFY2(ended(app, 10000), "still running after the signal");
        QCOMPARE(app->exitStatus(), QProcess::NormalExit);
        QCOMPARE(app->exitCode(), 0);
        log += app->readAllStandardError();
        // The signal went through the event loop and the log, and applicationWillTerminate
        // ran after it and flushed the log: its own line is the last one written.
        const QByteArray quitting = ", [INFO], Quitting on " + name + ", [main.cpp(";
        const QByteArray terminate = "==> -[MCAppDelegate applicationWillTerminate:]";
        QVERIFY2(count(log, ", [INFO], Quitting on ") == 1 && log.contains(quitting),
                 log.constData());
        QVERIFY2(count(log, terminate) == 1, log.constData());
        QVERIFY2(log.indexOf(terminate) > log.indexOf(quitting), log.constData());
        const QList<QByteArray> lines = log.trimmed().split('\n');
        QVERIFY2(lines.last().contains(terminate), log.constData());
    }
};

QTEST_MAIN(SingleInstanceEndToEnd)
#include "test_single_instance_e2e.moc"
