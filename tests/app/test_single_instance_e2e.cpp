// The real brimwell program inside scripts/with-desktop.sh --tray: a second start only opens
// the popover of the copy already running, with a live session bus, without any bus, with a
// bus that accepts and never answers, and with an address that is no bus at all; a running
// copy that does not answer (stopped) makes a later start give up, not start a second copy;
// TERM, INT and HUP end the program as Quit does. Quit ends it with status 0 after its log is
// written, and a clean whose result cannot be shown (no notification daemon) logs one warning.

#include "app/MCContentViewController.h"
#include "support/SilentBus.h"
#include "support/XTools.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <csignal>
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

bool popoverOpen(qint64 pid) {
    return !popoverWindows(pid).isEmpty();
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

    // Each row ends its copy with another signal; more signals while it ends are
    // test_application_signals' part.
    void secondStartOpensThePopoverOfTheRunningCopy_data() {
        QTest::addColumn<Bus>("bus");
        QTest::addColumn<int>("signal");
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("live bus") << Bus::Live << SIGTERM << QByteArray("SIGTERM");
        QTest::newRow("no bus") << Bus::None << SIGINT << QByteArray("SIGINT");
        QTest::newRow("silent bus") << Bus::Silent << SIGHUP << QByteArray("SIGHUP");
        QTest::newRow("broken address") << Bus::Broken << SIGTERM << QByteArray("SIGTERM");
    }

    void secondStartOpensThePopoverOfTheRunningCopy() {
        QFETCH(Bus, bus);
        QFETCH(int, signal);
        QFETCH(QByteArray, name);
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        const QProcessEnvironment env = environment(bus, makeRuntimeFolder(tag));
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

        // Two logins of one user can share a bus but not XDG_RUNTIME_DIR: the bus name holds.
        clock.restart();
        QProcess* second =
            start(bus == Bus::Live ? environment(bus, makeRuntimeFolder(tag + " other")) : env);
        QVERIFY2(ended(second, 15000), "the second start did not end");
        qInfo("%s: second start ended after %lld ms", QTest::currentDataTag(), clock.elapsed());
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QVERIFY2(second->exitCode() == 0, second->readAllStandardError().constData());
        QVERIFY(second->readAllStandardOutput().contains("already running"));
        QCOMPARE(first->state(), QProcess::Running);
        QVERIFY2(popoverSettles(pid, true, 10000), logSoFar());
        if (bus == Bus::Silent) {
            QTest::qWait(400); // the opening animation
            saveScreen(QStringLiteral(BRIMWELL_SCREENSHOT_DIR "/single-instance-silent-bus.png"));
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
        if (bus != Bus::Live) {
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

        logSoFar();
        ::kill(static_cast<pid_t>(pid), signal);
        QVERIFY2(ended(first, 10000), "still running after the signal");
        QCOMPARE(first->exitStatus(), QProcess::NormalExit);
        QCOMPARE(first->exitCode(), 0);
        logSoFar();
        // Without a usable bus: one warning, saying so. With one: none.
        const int warnings = count(log, ", [WARN], ");
        if (bus == Bus::Live) {
            QVERIFY2(warnings == 0, log.constData());
        } else {
            QVERIFY2(warnings == 1 && log.contains("[WARN], No usable session bus ("),
                     log.constData());
        }
        // The signal went through the event loop and the log, and applicationWillTerminate
        // ran after it and flushed the log: its own line is the last one written.
        const QByteArray quitting = ", [INFO], Quitting on " + name + ", [main.cpp(";
        const QByteArray terminate = "==> -[MCAppDelegate applicationWillTerminate:]";
        QVERIFY2(count(log, ", [INFO], Quitting on ") == 1 && log.contains(quitting),
                 log.constData());
        QVERIFY2(count(log, terminate) == 1, log.constData());
        QVERIFY2(log.indexOf(terminate) > log.indexOf(quitting), log.constData());
        QVERIFY2(log.trimmed().split('\n').last().contains(terminate), log.constData());
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

    void quitEndsTheProcessWithItsLogWritten() {
        // Where the controls sit inside the panel: the same interface with the same rows (they
        // follow this machine's swap and pressure), laid out here at the size it takes.
        auto panel = MCContentViewController::initWithNibName("MCContentViewController");
        QWidget* view = panel->view();
        view->show(); // lays the view out
        const QPoint clean = panel->cleanButton()->geometry().center();
        const QPoint quit = view->findChild<QToolButton*>("quitButton")->geometry().center();
        view->hide();

        QProcessEnvironment env = environment(Bus::Live, makeRuntimeFolder(QStringLiteral("quit")));
        env.insert(QStringLiteral("BRIMWELL_CLEAN_MAX_BYTES"), QStringLiteral("1M"));
        // Analytics on, so the Quit click logs its event; nothing listens on the discard port and
        // the hit would only go out a second later anyway.
        env.insert(QStringLiteral("BRIMWELL_ANALYTICS_HOST"), QStringLiteral("127.0.0.1:9"));
        env.remove(QStringLiteral("DO_NOT_TRACK"));
        QProcess* app = start(env, {QStringLiteral("--verbose")});
        // Open and done animating: one window, at its full size: the panel's 300 points wide
        // (its height depends on the rows this machine has) and the arrow's 12 on each side.
        const qint64 pid = app->processId();
        QRect popover;
        auto fullSize = [pid, &popover] {
            const QList<QRect> windows = popoverWindows(pid);
            popover = windows.value(0);
            return windows.size() == 1 && popover.width() == 300 + 2 * 12 &&
                   popover.height() >= 340 + 2 * 12;
        };
        QVERIFY(popoverSettles(pid, true, 15000));
        QTRY_VERIFY_WITH_TIMEOUT(fullSize(), 5000);
        // The content sits inside the popover, inset by the arrow's height on every side.
        const QPoint content = popover.topLeft() + QPoint(12, 12);

        QVERIFY(clickAt(content + clean));
        // Without a notification service the clean's end shows in the log only, once.
        QByteArray err;
        QTRY_VERIFY2_WITH_TIMEOUT(
            (err += app->readAllStandardError()).contains("no notification service"),
            err.constData(), 10000);
        QVERIFY(clickAt(content + quit));
        // The click turns our event loop, which may already have seen the end.
        QVERIFY(ended(app, 10000));
        QCOMPARE(app->exitStatus(), QProcess::NormalExit);
        QCOMPARE(app->exitCode(), 0);
        QVERIFY2(!err.contains("QuitButtonClicked"), err.constData());
        err += app->readAllStandardError();
        QVERIFY2(count(err, "no notification service") == 1, err.constData());
        static const QRegularExpression warning(
            QStringLiteral("\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3}, \\[WARN\\], Clean "
                           "result not shown"));
        QVERIFY2(warning.match(QString::fromUtf8(err)).hasMatch(), err.constData());
        static const QRegularExpression quitEvent(
            QStringLiteral("\\[INFO\\], Linux [^,]+, QuitButtonClicked, [0-9A-F-]{36}, 0, "));
        QVERIFY2(quitEvent.match(QString::fromUtf8(err)).hasMatch(), err.constData());
        // Verbose: the popup and the panel trace their calls.
        for (const char* trace : {"==> -[AXStatusItemPopup popoverDidShow:], [AXStatusItemPopup",
                                  "==> -[MCContentViewController popoverDidShow], [",
                                  "==> -[MCContentViewController refreshMemoryUsage:], ["}) {
            QVERIFY2(err.contains(trace), trace);
        }
    }
};

QTEST_MAIN(SingleInstanceEndToEnd)
#include "test_single_instance_e2e.moc"
