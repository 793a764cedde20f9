// Runs inside tests/support/with-desktop.sh: a real X display, a private session bus and,
// for the first case, the dunst notification daemon.

#include "app/MCPanelWindow.h"
#include "app/PanelFixture.h"

#include "logging/recording_logger.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

namespace {

QByteArray dunstctl(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("dunstctl"), args);
    if (!p.waitForFinished(10000) || p.exitCode() != 0) {
        return {};
    }
    return p.readAllStandardOutput();
}

QString field(const QJsonObject& entry, const char* name) {
    return entry.value(QLatin1String(name)).toObject().value(QStringLiteral("data")).toString();
}

} // namespace

class NotificationEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void cleanResultReachesTheDaemon() {
        TempDir dir;
        const std::string meminfo = dir.write("meminfo", meminfoText(4000));
        auto allocator = std::make_shared<GatedAllocator>();
        auto memory = std::make_shared<MCMemoryController>(make_host_port(meminfo, {}, 4096),
                                                           allocator, 4096);
        auto owned = MCContentViewController::initWithNibName("MCContentViewController", memory);
        QVERIFY(owned);
        MCContentViewController* panel = owned.get();
        MCPanelWindow window(std::move(owned));
        window.move(80, 80);
        window.showPanel();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QSignalSpy delivered(UserNotificationCenter::defaultUserNotificationCenter(),
                             &UserNotificationCenter::delivered);
        QSignalSpy done(panel, &MCContentViewController::cleanFinished);
        QTest::mouseClick(panel->cleanButton(), Qt::LeftButton);
        QTRY_COMPARE(allocator->passes(), 1);
        dir.write("meminfo", meminfoText(4004)); // one more page free after the clean
        allocator->open();
        QVERIFY(done.wait(10000));
        QVERIFY(delivered.wait(10000));

        // What the user sees: the panel and the notification bubble.
        QTRY_COMPARE(dunstctl({QStringLiteral("count"), QStringLiteral("displayed")}).trimmed(),
                     QByteArray("1"));
        QTest::qWait(300); // the bubble is mapped; let it paint
        const QString shots = QStringLiteral(BRIMWELL_SCREENSHOT_DIR);
        QDir().mkpath(shots);
        QVERIFY(window.screen()->grabWindow(0).save(shots + "/clean-notification.png"));

        // History holds closed notifications only.
        dunstctl({QStringLiteral("close-all")});
        QJsonArray entries;
        QTRY_VERIFY_WITH_TIMEOUT(
            (entries = QJsonDocument::fromJson(dunstctl({QStringLiteral("history")}))
                           .object()
                           .value(QStringLiteral("data"))
                           .toArray()
                           .at(0)
                           .toArray(),
             !entries.isEmpty()),
            5000);
        QCOMPARE(entries.size(), 1);
        const QJsonObject entry = entries.at(0).toObject();
        QCOMPARE(field(entry, "summary"), QStringLiteral("Memory Clean Done"));
        QCOMPARE(field(entry, "body"), QStringLiteral("4.00 KB memory is cleaned!"));
        QCOMPARE(field(entry, "appname"), QStringLiteral("Brimwell"));
    }

    void withoutAServiceNothingHangsAndOneWarning() {
        TempDir dir;
        const std::string meminfo = dir.write("meminfo", meminfoText(4000));
        auto memory = std::make_shared<MCMemoryController>(
            make_host_port(meminfo, {}, 4096), std::make_shared<MappedBlockAllocator>(), 0);
        auto panel = MCContentViewController::initWithNibName("MCContentViewController", memory);
        QVERIFY(panel);
        panel->popoverDidShow();
        auto logger = std::make_shared<RecordingLogger>();
        DDLog::addLogger(logger);
        QSignalSpy failed(UserNotificationCenter::defaultUserNotificationCenter(),
                          &UserNotificationCenter::deliveryFailed);
        QSignalSpy done(panel.get(), &MCContentViewController::cleanFinished);
        panel->cleanMemoryButtonClicked();
        QVERIFY(done.wait(10000));
        QVERIFY(failed.wait(10000));
        QTest::qWait(50); // a second warning would arrive on the same turn
        DDLog::flushLog();
        DDLog::removeLogger(logger);
        int warnings = 0;
        for (const auto& message : logger->messages()) {
            warnings += message->logFlag() == LogFlagWarn &&
                        message->logMsg()->find("no notification service") != std::string::npos;
        }
        QCOMPARE(warnings, 1);
        QVERIFY(panel->cleanButton()->isEnabled());
    }
};

QTEST_MAIN(NotificationEndToEnd)
#include "test_notification_e2e.moc"
