// The real brimwell program inside scripts/with-desktop.sh --tray --no-notifications: a clean
// whose result cannot be shown logs a warning; Quit ends the process with status 0, and the
// line logged by the Quit click itself, just before the application ends, has reached the
// terminal logger by then.

#include "app/MCContentViewController.h"
#include "support/XTools.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {

// The popover of process `pid`: its only visible window larger than a tray icon. Empty while
// the opening animation still shows its snapshot window beside it, or before either shows.
QRect popoverGeometry(qint64 pid) {
    QRect found;
    for (const QRect& window : visibleWindowsOf(pid)) {
        if (window.width() > 100 && window.height() > 100) {
            if (!found.isEmpty()) {
                return {};
            }
            found = window;
        }
    }
    return found;
}

} // namespace

class QuitEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void quitEndsTheProcessWithItsLogWritten() {
        // Where the controls sit inside the panel: the same interface with the same rows (they
        // follow this machine's swap and pressure), laid out here at the size it takes.
        auto panel = MCContentViewController::initWithNibName("MCContentViewController");
        QWidget* view = panel->view();
        view->show(); // lays the view out
        const QPoint clean = panel->cleanButton()->geometry().center();
        const QPoint quit = view->findChild<QToolButton*>("quitButton")->geometry().center();
        view->hide();

        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("BRIMWELL_CLEAN_MAX_BYTES"), QStringLiteral("1M"));
        // Analytics on, so the Quit click logs its event; nothing listens on the discard port and
        // the hit would only go out a second later anyway.
        env.insert(QStringLiteral("BRIMWELL_ANALYTICS_HOST"), QStringLiteral("127.0.0.1:9"));
        QTemporaryDir config;
        QVERIFY(config.isValid());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        env.remove(QStringLiteral("DO_NOT_TRACK"));
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(BRIMWELL_BINARY), {QStringLiteral("--verbose")});
        QVERIFY(app.waitForStarted(5000));
        QRect popover;
        // Open and done animating: one window, at its full size: the panel's 300 points wide
        // (its height depends on the rows this machine has) and the arrow's 12 on each side. The
        // checks latch, because the try macros look once more after they succeed, when the snapshot
        // window and the real one may both be up for a moment.
        bool fullSize = false;
        QTRY_VERIFY_WITH_TIMEOUT(
            fullSize ||
                (fullSize = (popover = popoverGeometry(app.processId())).width() == 300 + 2 * 12 &&
                            popover.height() >= 340 + 2 * 12),
            10000);
        // The snapshot reaches that size on its last frame, just before the real window shows.
        QTest::qWait(300);
        bool found = false;
        QTRY_VERIFY_WITH_TIMEOUT(
            found || (found = !(popover = popoverGeometry(app.processId())).isEmpty()), 5000);
        // The content sits inside the popover, inset by the arrow's height on every side.
        const int inset = (popover.width() - 300) / 2;
        const QPoint content = popover.topLeft() + QPoint(inset, inset);

        QVERIFY(clickAt(content + clean));
        // Without a notification service the clean's end shows in the log only.
        QByteArray err;
        QTRY_VERIFY2_WITH_TIMEOUT(
            (err += app.readAllStandardError()).contains("no notification service"),
            qPrintable(QStringLiteral("popover %1,%2 %3x%4; stderr: %5")
                           .arg(popover.x())
                           .arg(popover.y())
                           .arg(popover.width())
                           .arg(popover.height())
                           .arg(QString::fromUtf8(err))),
            10000);
        QVERIFY(clickAt(content + quit));
        // The click turns our event loop, which may already have seen the end.
        QTRY_VERIFY_WITH_TIMEOUT(app.state() == QProcess::NotRunning, 10000);
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        QVERIFY2(!err.contains("QuitButtonClicked"), err.constData());
        err += app.readAllStandardError();
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

QTEST_MAIN(QuitEndToEnd)
#include "test_quit_e2e.moc"
