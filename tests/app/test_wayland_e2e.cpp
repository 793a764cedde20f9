// The real brimwell program in a private Wayland session (scripts/with-wayland.sh): weston's
// headless compositor, with or without XWayland. Without XWayland the panel opens in a window
// and one log line says why; with XWayland the program runs as an X client; a platform the
// user chose stands. Each start takes its picture and quits with status 0.

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
    QImage picture;
};

Run runBrimwell(const QStringList& args, const QStringList& setEnv = {}) {
    QTemporaryDir dir;
    const QString picture = dir.filePath(QStringLiteral("panel.png"));
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    if (env.contains(QStringLiteral("LSAN_OPTIONS"))) {
        // Mesa's EGL driver is unloaded before the leak check: only the slow unwinder keeps
        // the frames (Qt's Wayland client) that the suppressions name.
        env.insert(QStringLiteral("LSAN_OPTIONS"), env.value(QStringLiteral("LSAN_OPTIONS")) +
                                                       QStringLiteral(":fast_unwind_on_malloc=0"));
    }
    for (const QString& pair : setEnv) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        env.insert(pair.left(eq), pair.mid(eq + 1));
    }
    app.setProcessEnvironment(env);
    app.start(QStringLiteral(BRIMWELL_BINARY),
              QStringList{QStringLiteral("--screenshot"), picture} + args);
    Run run;
    if (!app.waitForFinished(60000)) {
        app.kill();
        app.waitForFinished();
        run.err =
            QStringLiteral("did not finish: ") + QString::fromLocal8Bit(app.readAllStandardError());
        return run;
    }
    run.exitCode = app.exitStatus() == QProcess::NormalExit ? app.exitCode() : -1;
    run.out = QString::fromLocal8Bit(app.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(app.readAllStandardError());
    run.picture = QImage(picture);
    return run;
}

int countLines(const QString& text, const QString& part) {
    int n = 0;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        n += line.contains(part);
    }
    return n;
}

const QString kWaylandWindowLine = QStringLiteral("Wayland without XWayland");
const QString kNoTrayLine = QStringLiteral("This desktop has no system tray");

// The panel's own window: its light background, and the whole panel, not the black screen
// XWayland would give.
void verifyPanelPicture(const Run& run, const char* saveAs) {
    QVERIFY2(!run.picture.isNull(), "no picture");
    QVERIFY(run.picture.width() >= 300 && run.picture.width() < 600);
    QVERIFY(run.picture.height() >= 340 && run.picture.height() < 700);
    QCOMPARE(run.picture.pixelColor(2, run.picture.height() - 2), QColor(0xf6, 0xf7, 0xf9));
    const QString dir = QStringLiteral(BRIMWELL_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    run.picture.save(dir + QLatin1Char('/') + QLatin1String(saveAs));
}

} // namespace

class WaylandEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"),
                 "run inside scripts/with-wayland.sh");
    }

    // Without XWayland.

    void waylandOpensThePanelInAWindow() {
        QVERIFY(qEnvironmentVariableIsEmpty("DISPLAY"));
        const Run run = runBrimwell({});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QVERIFY(run.out.startsWith(QStringLiteral("screenshot: ")));
        QVERIFY(run.out.contains(QStringLiteral("free memory: ")));
        QCOMPARE(countLines(run.err, kWaylandWindowLine), 1);
        QCOMPARE(countLines(run.err, kNoTrayLine), 0);
        QCOMPARE(countLines(run.err, QStringLiteral("[ERRO]")), 0);
        verifyPanelPicture(run, "wayland-panel.png");
    }

    // With XWayland.

    void xwaylandRunsAsAnXClient() {
        QVERIFY(!qEnvironmentVariableIsEmpty("DISPLAY"));
        const Run run = runBrimwell({QStringLiteral("--verbose")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QCOMPARE(countLines(run.err, QStringLiteral("Window system: xcb (XWayland)")), 1);
        QCOMPARE(countLines(run.err, kWaylandWindowLine), 0);
        // No tray host runs here, so the panel still opens in a window.
        QCOMPARE(countLines(run.err, kNoTrayLine), 1);
        verifyPanelPicture(run, "xwayland-panel.png");
    }

    void usersPlatformStands_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("env");
        QTest::newRow("QT_QPA_PLATFORM") << QStringList{QStringLiteral("--verbose")}
                                         << QStringList{QStringLiteral("QT_QPA_PLATFORM=wayland")};
        QTest::newRow("-platform")
            << QStringList{QStringLiteral("-platform"), QStringLiteral("wayland"),
                           QStringLiteral("--verbose")}
            << QStringList{};
        QTest::newRow("--platform")
            << QStringList{QStringLiteral("--verbose"), QStringLiteral("--platform"),
                           QStringLiteral("wayland")}
            << QStringList{};
    }

    void usersPlatformStands() {
        QFETCH(QStringList, args);
        QFETCH(QStringList, env);
        QVERIFY(!qEnvironmentVariableIsEmpty("DISPLAY"));
        const Run run = runBrimwell(args, env);
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QCOMPARE(countLines(run.err, QStringLiteral("Window system: wayland")), 1);
        QCOMPARE(countLines(run.err, kWaylandWindowLine), 1);
        verifyPanelPicture(run, "wayland-chosen-panel.png");
    }
};

QTEST_GUILESS_MAIN(WaylandEndToEnd)
#include "test_wayland_e2e.moc"
