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

} // namespace

class WaylandEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"),
                 "run inside scripts/with-wayland.sh");
    }

    // CTest runs the first row without XWayland, the others with it.
    void panelOpens_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("env");
        QTest::addColumn<QStringList>("once"); // log lines that show once
        QTest::addColumn<QStringList>("never");
        QTest::addColumn<QString>("picture");
        const QStringList verbose{QStringLiteral("--verbose")};
        const QStringList chosen{QStringLiteral("Window system: wayland"), kWaylandWindowLine};
        QTest::newRow("wayland") << QStringList{} << QStringList{}
                                 << QStringList{kWaylandWindowLine}
                                 << QStringList{kNoTrayLine, QStringLiteral("[ERRO]")}
                                 << QStringLiteral("wayland-panel.png");
        // No tray host runs here, so the panel still opens in a window.
        QTest::newRow("xwayland") << verbose << QStringList{}
                                  << QStringList{QStringLiteral("Window system: xcb (XWayland)"),
                                                 kNoTrayLine}
                                  << QStringList{kWaylandWindowLine}
                                  << QStringLiteral("xwayland-panel.png");
        // A platform the user chose stands.
        QTest::newRow("QT_QPA_PLATFORM")
            << verbose << QStringList{QStringLiteral("QT_QPA_PLATFORM=wayland")} << chosen
            << QStringList{} << QStringLiteral("wayland-chosen-panel.png");
        QTest::newRow("-platform")
            << QStringList{QStringLiteral("-platform"), QStringLiteral("wayland"),
                           QStringLiteral("--verbose")}
            << QStringList{} << chosen << QStringList{}
            << QStringLiteral("wayland-chosen-panel.png");
        QTest::newRow("--platform")
            << QStringList{QStringLiteral("--verbose"), QStringLiteral("--platform"),
                           QStringLiteral("wayland")}
            << QStringList{} << chosen << QStringList{}
            << QStringLiteral("wayland-chosen-panel.png");
    }

    void panelOpens() {
        QFETCH(QStringList, args);
        QFETCH(QStringList, env);
        QFETCH(QStringList, once);
        QFETCH(QStringList, never);
        QFETCH(QString, picture);
        QCOMPARE(qEnvironmentVariableIsEmpty("DISPLAY"),
                 QTest::currentDataTag() == QByteArray("wayland"));
        const Run run = runBrimwell(args, env);
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QVERIFY(run.out.startsWith(QStringLiteral("screenshot: ")));
        QVERIFY(run.out.contains(QStringLiteral("free memory: ")));
        for (const QString& part : once + never) {
            QVERIFY2(countLines(run.err, part) == (once.contains(part) ? 1 : 0),
                     qPrintable(part + QStringLiteral(": ") + run.err));
        }
        // The panel's own window: its light background, and the whole panel, not the black
        // screen XWayland would give.
        QVERIFY2(!run.picture.isNull(), "no picture");
        QVERIFY(run.picture.width() >= 300 && run.picture.width() < 600);
        QVERIFY(run.picture.height() >= 340 && run.picture.height() < 700);
        QCOMPARE(run.picture.pixelColor(2, run.picture.height() - 2), QColor(0xf6, 0xf7, 0xf9));
        QDir().mkpath(QStringLiteral(BRIMWELL_SCREENSHOT_DIR));
        run.picture.save(QStringLiteral(BRIMWELL_SCREENSHOT_DIR "/") + picture);
    }
};

QTEST_GUILESS_MAIN(WaylandEndToEnd)
#include "test_wayland_e2e.moc"
