// The real brimwell program inside scripts/with-desktop.sh --tray: a second start only opens the
// popover of the running copy (live bus, no bus, a bus that never answers, a broken address); a
// stopped copy makes a later start give up, not start a second copy; Quit, TERM, INT and HUP end
// it with status 0 after its log is written. Under weston (scripts/with-wayland.sh) without
// XWayland the panel opens in a window; with XWayland it runs as an X client.

#include "app/MCContentViewController.h"
#include "support/SilentBus.h"
#include "support/XTools.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <csignal>
#include <cstring>
#include <memory>
#include <vector>

#include <unistd.h>

namespace {

// The visible windows of process `pid` larger than a tray icon: the popover (and, while it
// opens, its growing snapshot).
QList<QRect> popoverWindows(qint64 pid) {
    QList<QRect> found;
    for (const QRect& window : visibleWindowsOf(pid)) {
        if (window.width() > 100 && window.height() > 100) {
            found << window;
        }
    }
    return found;
}

// Waits until the popover of `pid` has been open (or closed) for a moment without a break:
// while it opens or closes, its snapshot and its window take turns on the screen. False when
// that did not happen within `timeoutMs`.
bool popoverSettles(qint64 pid, bool open, int timeoutMs) {
    QElapsedTimer total;
    total.start();
    QElapsedTimer steady;
    while (total.elapsed() < timeoutMs) {
        if (popoverWindows(pid).isEmpty() == open) {
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

// On the bare desktop, far from the tray and the popover: a press there closes the popover.
const QPoint kDesktop(200, 600);

enum class Bus { Live, None, Silent, Broken };

const QString kWaylandWindow = QStringLiteral("Wayland without XWayland");
const QString kNoTray = QStringLiteral("This desktop has no system tray");

} // namespace

Q_DECLARE_METATYPE(Bus)

class SingleInstanceEndToEnd : public QObject {
    Q_OBJECT

    QTemporaryDir scratch_;
    std::unique_ptr<SilentBus> silent_;
    std::vector<std::unique_ptr<QProcess>> started_;
    QPoint cleanButton_; // where the controls sit inside the panel
    QPoint quitButton_;

    // Where the panel's content starts on the screen, once the popover of `pid` is open at its
    // full size: the panel's 300 points wide and the arrow's 12 around it, by which it is inset.
    QPoint contentOfThePopover(qint64 pid) {
        QRect popover;
        const bool full = QTest::qWaitFor(
            [pid, &popover] {
                const QList<QRect> windows = popoverWindows(pid);
                popover = windows.value(0);
                return windows.size() == 1 && popover.width() == 300 + 2 * 12 &&
                       popover.height() >= 340 + 2 * 12;
            },
            5000);
        return full ? popover.topLeft() + QPoint(12, 12) : QPoint(-1000, -1000);
    }

    // The environment of one start: a run-time folder `runtime` and a config folder of this
    // test, and the bus of the row.
    QProcessEnvironment environment(Bus bus, const QString& runtime) const {
        const QString path = scratch_.filePath(runtime);
        QDir().mkpath(path);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), path);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), scratch_.filePath(QStringLiteral("config")));
        env.remove(QStringLiteral("BRIMWELL_ANALYTICS_HOST"));
        if (bus == Bus::None) {
            env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        } else if (bus != Bus::Live) {
            env.insert("DBUS_SESSION_BUS_ADDRESS", bus == Bus::Silent
                                                       ? QString::fromStdString(silent_->address())
                                                       : "unix:path=/nonexistent/brimwell-bus");
        }
        return env;
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

    // True once `process` has ended, within `ms` (or before, seen while the event loop turned).
    static bool ended(QProcess* process, int ms) {
        return process->state() == QProcess::NotRunning || process->waitForFinished(ms);
    }

private slots:
    void initTestCase() {
        QVERIFY(scratch_.isValid());
        silent_ = std::make_unique<SilentBus>(
            QFile::encodeName(scratch_.filePath(QStringLiteral("silent-bus"))).toStdString());
        // The same interface with the same rows (they follow this machine's swap and pressure),
        // laid out here at the size it takes.
        auto panel = MCContentViewController::initWithNibName("MCContentViewController");
        panel->view()->show();
        cleanButton_ = panel->cleanButton()->geometry().center();
        quitButton_ = panel->view()->findChild<QToolButton*>("quitButton")->geometry().center();
    }

    // Ends every copy this test started, whatever the outcome of the test.
    void cleanup() {
        for (const auto& process : started_) {
            if (process->state() != QProcess::NotRunning) {
                ::kill(static_cast<pid_t>(process->processId()), SIGCONT);
                process->kill();
                process->waitForFinished(5000);
            }
        }
        started_.clear();
    }

    void secondStartOpensThePopoverOfTheRunningCopy_data() {
        QTest::addColumn<Bus>("bus");
        QTest::addColumn<int>("signal"); // 0: the Quit button
        QTest::newRow("live bus") << Bus::Live << 0;
        QTest::newRow("no bus") << Bus::None << SIGINT;
        QTest::newRow("silent bus") << Bus::Silent << SIGHUP;
        QTest::newRow("broken address") << Bus::Broken << SIGTERM;
    }

    void secondStartOpensThePopoverOfTheRunningCopy() {
        QFETCH(Bus, bus);
        QFETCH(int, signal);
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        QProcessEnvironment env = environment(bus, tag);
        if (signal == 0) {
            env.insert("BRIMWELL_CLEAN_MAX_BYTES", "1M");
            // Analytics on, so the Quit click logs its event; nothing listens on the discard port.
            env.insert("BRIMWELL_ANALYTICS_HOST", "127.0.0.1:9");
            env.remove("DO_NOT_TRACK");
        }
        const int silentBefore = silent_->connections();

        QProcess* first = start(env, {QStringLiteral("--verbose")});
        const qint64 pid = first->processId();
        QByteArray log; // what it has written so far
        auto logSoFar = [&log, first] {
            return (log += first->readAllStandardError()).constData();
        };
        // Whatever the bus does, the popover opens: the start did not block on it. The
        // deadline is only there so that a hang fails instead of stalling the suite.
        QVERIFY(popoverSettles(pid, true, 15000));
        // With the silent bus, it did talk to it, and gave up on it.
        QVERIFY(bus != Bus::Silent || silent_->connections() > silentBefore);

        // Closed first, so that only the second start can open it again.
        QVERIFY(clickAt(kDesktop));
        QVERIFY(popoverSettles(pid, false, 5000));

        // Two logins of one user can share a bus but not XDG_RUNTIME_DIR: the bus name holds.
        QProcess* second = start(bus == Bus::Live ? environment(bus, tag + " other") : env);
        QVERIFY2(ended(second, 15000), "the second start did not end");
        QVERIFY2(second->exitStatus() == QProcess::NormalExit && second->exitCode() == 0,
                 second->readAllStandardError().constData());
        QVERIFY(second->readAllStandardOutput().contains("already running"));
        QCOMPARE(first->state(), QProcess::Running);
        QVERIFY2(popoverSettles(pid, true, 10000), logSoFar());
        if (bus == Bus::Silent) {
            QTest::qWait(400); // the opening animation
            saveScreen(QStringLiteral(BRIMWELL_SCREENSHOT_DIR "/single-instance-silent-bus.png"));
        }

        // A running copy that does not answer: a later start says so and gives up; it never
        // starts a second copy beside it.
        QVERIFY(clickAt(kDesktop));
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
        if (bus != Bus::Live) {
            // Without a bus the request went over the socket, and the start that sent it gave
            // up: the copy that wakes up does not open its popover for nobody.
            QTest::qWait(500);
            QVERIFY(popoverWindows(pid).isEmpty());
        }
        // Awake again, it answers.
        QProcess* fourth = start(env);
        QVERIFY(ended(fourth, 15000));
        QCOMPARE(fourth->exitCode(), 0);
        QVERIFY(popoverSettles(pid, true, 10000));

        if (signal != 0) {
            ::kill(static_cast<pid_t>(pid), signal);
        } else {
            // A clean whose result cannot be shown, then Quit.
            const QPoint content = contentOfThePopover(pid);
            QVERIFY(clickAt(content + cleanButton_));
            QTRY_VERIFY_WITH_TIMEOUT(QByteArray(logSoFar()).contains("no notification service"),
                                     10000);
            QVERIFY2(!log.contains("QuitButtonClicked"), log.constData());
            QVERIFY(clickAt(content + quitButton_));
        }
        // The click turns our event loop, which may already have seen the end.
        QVERIFY2(ended(first, 10000), "still running after Quit or the signal");
        QCOMPARE(first->exitStatus(), QProcess::NormalExit);
        QCOMPARE(first->exitCode(), 0);
        logSoFar();
        // Without a usable bus: one warning, saying so. With one: only the clean's.
        QVERIFY2(log.count(", [WARN], ") == 1 &&
                     log.contains(bus == Bus::Live ? ", [WARN], Clean result not shown"
                                                   : "[WARN], No usable session bus ("),
                 log.constData());
        if (signal == 0) {
            // The line logged by the Quit click itself, just before the application ends, has
            // reached the terminal logger by then.
            static const QRegularExpression lines(
                QStringLiteral("\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3}, \\[WARN\\], "
                               "Clean result not shown.*"
                               "\\[INFO\\], Linux [^,]+, QuitButtonClicked, [0-9A-F-]{36}, 0, "),
                QRegularExpression::DotMatchesEverythingOption);
            QVERIFY2(lines.match(QString::fromUtf8(log)).hasMatch(), log.constData());
            // Verbose: the panel traces its calls.
            QVERIFY2(log.contains("==> -[MCContentViewController popoverDidShow], ["),
                     log.constData());
            return;
        }
        // The signal went through the event loop and the log, and applicationWillTerminate
        // ran after it and flushed the log: its own line is the last one written.
        const QByteArray quitting =
            ", [INFO], Quitting on SIG" + QByteArray(sigabbrev_np(signal)) + ", [main.cpp(";
        const QByteArray terminate = "==> -[MCAppDelegate applicationWillTerminate:]";
        QVERIFY2(log.count(", [INFO], Quitting on ") == 1 && log.contains(quitting),
                 log.constData());
        QVERIFY2(log.count(terminate) == 1 && log.trimmed().split('\n').last().contains(terminate),
                 log.constData());
    }

    void racingStartsLeaveExactlyOne_data() {
        QTest::addColumn<Bus>("bus");
        QTest::newRow("live bus") << Bus::Live;
        QTest::newRow("no bus") << Bus::None;
    }

    void racingStartsLeaveExactlyOne() {
        QFETCH(Bus, bus);
        const QProcessEnvironment env =
            environment(bus, QStringLiteral("race ") + QTest::currentDataTag());
        for (int i = 0; i < 3; ++i) { // without waiting in between
            started_.push_back(std::make_unique<QProcess>());
            started_.back()->setProcessEnvironment(env);
            started_.back()->start(QStringLiteral(BRIMWELL_BINARY), {});
        }
        QList<QProcess*> running;
        auto countRunning = [this, &running] {
            running.clear();
            for (const auto& copy : started_) {
                if (copy->state() != QProcess::NotRunning) {
                    running << copy.get();
                }
            }
            return running.size();
        };
        QTRY_COMPARE_WITH_TIMEOUT(countRunning(), 1, 20000);
        for (const auto& copy : started_) {
            if (copy.get() != running[0]) {
                QCOMPARE(copy->exitStatus(), QProcess::NormalExit);
                QVERIFY2(copy->exitCode() == 0, copy->readAllStandardError().constData());
            }
        }
        QVERIFY(popoverSettles(running[0]->processId(), true, 10000));
        // And it stays the only one.
        QTest::qWait(300);
        QCOMPARE(countRunning(), 1);
    }

    // CTest runs the first row without XWayland, the others with it.
    void panelOpens_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("platform"); // QT_QPA_PLATFORM
        QTest::addColumn<QStringList>("once"); // log lines that show once
        QTest::addColumn<QStringList>("never");
        const QStringList chosen{"Window system: wayland", kWaylandWindow};
        QTest::newRow("wayland") << QStringList{} << QString() << QStringList{kWaylandWindow}
                                 << QStringList{kNoTray, "[ERRO]"};
        // No tray host runs here, so the panel still opens in a window.
        QTest::newRow("xwayland") << QStringList{"--verbose"} << QString()
                                  << QStringList{"Window system: xcb (XWayland)", kNoTray}
                                  << QStringList{kWaylandWindow};
        // A platform the user chose stands.
        QTest::newRow("QT_QPA_PLATFORM")
            << QStringList{"--verbose"} << QStringLiteral("wayland") << chosen << QStringList{};
        QTest::newRow("-platform") << QStringList{"-platform", "wayland", "--verbose"} << QString()
                                   << chosen << QStringList{};
    }

    void panelOpens() {
        QFETCH(QStringList, args);
        QFETCH(QString, platform);
        QFETCH(QStringList, once);
        QFETCH(QStringList, never);
        QVERIFY2(!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"),
                 "run inside scripts/with-wayland.sh");
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        QCOMPARE(qEnvironmentVariableIsEmpty("DISPLAY"), tag == QStringLiteral("wayland"));
        QProcessEnvironment started = QProcessEnvironment::systemEnvironment();
        started.remove(QStringLiteral("QT_QPA_PLATFORM"));
        started.insert("XDG_CONFIG_HOME", scratch_.filePath("config"));
        if (started.contains("LSAN_OPTIONS")) {
            // Mesa's EGL driver is unloaded before the leak check: only the slow unwinder keeps
            // the frames (Qt's Wayland client) that the suppressions name.
            started.insert("LSAN_OPTIONS",
                           started.value("LSAN_OPTIONS") + ":fast_unwind_on_malloc=0");
        }
        if (!platform.isEmpty()) {
            started.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        }
        const QString shot = scratch_.filePath(tag + QStringLiteral(".png"));
        QProcess* app = start(started, QStringList{QStringLiteral("--screenshot"), shot} + args);
        QVERIFY2(ended(app, 60000), "it did not finish");
        const QString err = QString::fromLocal8Bit(app->readAllStandardError());
        QVERIFY2(app->exitStatus() == QProcess::NormalExit && app->exitCode() == 0,
                 qPrintable(err));
        const QString out = QString::fromLocal8Bit(app->readAllStandardOutput());
        QVERIFY(out.startsWith(QStringLiteral("screenshot: ")));
        QVERIFY(out.contains(QStringLiteral("free memory: ")));
        for (const QString& part : once + never) {
            QVERIFY2(err.count(part) == (once.contains(part) ? 1 : 0),
                     qPrintable(part + QStringLiteral(": ") + err));
        }
        // The panel's own window: its light background, and the whole panel, not the black
        // screen XWayland would give.
        const QImage panel(shot);
        QVERIFY(panel.width() >= 300 && panel.width() < 600);
        QVERIFY(panel.height() >= 340 && panel.height() < 700);
        QCOMPARE(panel.pixelColor(2, panel.height() - 2), QColor(0xf6, 0xf7, 0xf9));
        const QString picture = tag.contains("platform", Qt::CaseInsensitive)
                                    ? QStringLiteral("wayland-chosen-panel.png")
                                    : tag + "-panel.png";
        QVERIFY(panel.save(QStringLiteral(BRIMWELL_SCREENSHOT_DIR "/") + picture));
    }
};

QTEST_MAIN(SingleInstanceEndToEnd)
#include "test_single_instance_e2e.moc"
