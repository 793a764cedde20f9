// The tray application inside scripts/with-desktop.sh --tray, with a compositor and dunst: the
// panel's new rows with the process section open (pictures in light and dark), the popover kept
// under the icon and on the screen as it grows, the low-memory notification reaching the
// daemon, and the level in the tray icon at three levels (pictures).
#include "AXStatusItemPopup/AXStatusItemPopup.h"
#include "app/MCAppDelegate.h"
#include "app/MCContentViewController.h"
#include "app/MCMonitorController.h"
#include "app/PanelFixture.h"
#include "platform/ui/WindowSystem.h"
#include "popover/INPopoverController.h"
#include "popover/INPopoverWindow.h"
#include "support/XTools.h"

#include <QApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cmath>

namespace {

// What a desktop tool printed; empty when it failed.
QByteArray runFor(const QString& program, const QStringList& args) {
    QByteArray out;
    return runTool(program, args, &out) ? out : QByteArray();
}

QPalette darkPalette() {
    QPalette p(QColor(0x2a, 0x2e, 0x32));
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(group, QPalette::Window, QColor(0x2a, 0x2e, 0x32));
        p.setColor(group, QPalette::WindowText, QColor(0xfc, 0xfc, 0xfc));
        p.setColor(group, QPalette::Base, QColor(0x1b, 0x1e, 0x20));
        p.setColor(group, QPalette::Text, QColor(0xfc, 0xfc, 0xfc));
        p.setColor(group, QPalette::Button, QColor(0x31, 0x36, 0x3b));
        p.setColor(group, QPalette::ButtonText, QColor(0xfc, 0xfc, 0xfc));
    }
    return p;
}

int reddish(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += c.red() > 200 && c.green() < 140 && c.blue() < 140;
        }
    }
    return count;
}

} // namespace

class PanelDetailsEndToEnd : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> dir_;
    std::shared_ptr<GatedAllocator> allocator_;
    std::shared_ptr<FakeDetailsReader> details_;
    std::unique_ptr<MCAppDelegate> delegate_;
    QProcess compositor_;
    MCTime now_ = MCTime() + std::chrono::hours(1);

    AXStatusItemPopup* popup() const { return delegate_->statusItemPopup(); }
    MCContentViewController* panel() const { return delegate_->contentViewController(); }
    INPopoverWindow* window() const { return popup()->popoverController()->popoverWindow(); }
    bool popoverOpen() const {
        return popup()->popoverController() && popup()->popoverController()->popoverIsVisible();
    }
    bool settled() const {
        return popoverOpen() && window()->QWidget::isVisible() && !window()->zoomWindow();
    }
    // One monitor sample of these figures, five seconds after the last.
    void tick(const MCMemoryDetails& details) {
        details_->set(details);
        now_ += std::chrono::seconds(5);
        delegate_->monitorController()->tick();
    }
    QString save(const QPixmap& picture, const char* name) {
        const QString dir = QStringLiteral(BRIMWELL_SCREENSHOT_DIR);
        QDir().mkpath(dir);
        const QString path = dir + QLatin1Char('/') + QLatin1String(name);
        return picture.save(path) ? path : QString();
    }
    // The popover with the tray above it and some desktop around it.
    void picture(const char* name) {
        QTest::qWait(200); // the compositor draws what changed
        const QRect popover = window()->geometry();
        const QRect around(popover.left() - 40, 0, popover.width() + 80, popover.bottom() + 40);
        QVERIFY(!save(QGuiApplication::primaryScreen()->grabWindow(0, around.x(), around.y(),
                                                                   around.width(), around.height()),
                      name)
                     .isEmpty());
    }

private slots:
    void initTestCase() {
        QVERIFY(!WindowSystem::isXWayland());
        compositor_.start(QStringLiteral("xcompmgr"), {QStringLiteral("-c")});
        QTRY_VERIFY(WindowSystem::isCompositing());
        QApplication::setQuitOnLastWindowClosed(false);
        dir_ = std::make_unique<TempDir>();
        ::setenv("XDG_CONFIG_HOME", (dir_->path() / "config").c_str(), 1);
        ::setenv("DO_NOT_TRACK", "1", 1);
        const std::string meminfo = dir_->write(
            "meminfo", "MemTotal: 16384000 kB\nMemFree: 6520000 kB\nMemAvailable: 9000000 kB\n"
                       "Active: 4100000 kB\nInactive: 3600000 kB\nUnevictable: 1200000 kB\n"
                       "SUnreclaim: 400000 kB\nKernelStack: 30000 kB\nPageTables: 60000 kB\n");
        allocator_ = std::make_shared<GatedAllocator>();
        details_ = std::make_shared<FakeDetailsReader>();
        details_->set(detailsWith(45, 8'000'000'000, 6'900'000'000, MCPressure{0, 0}));
        delegate_ = std::make_unique<MCAppDelegate>();
        delegate_->setMemoryController(std::make_shared<MCMemoryController>(
            make_host_port(meminfo, {}, 4096), allocator_, 4096));
        delegate_->setDetailsReader(details_);
        Application::sharedApplication()->setDelegate(delegate_.get());
        // The launch takes its first sample on the real clock; ours goes on from there.
        now_ = std::chrono::steady_clock::now();
        delegate_->applicationDidFinishLaunching();
        QVERIFY(popup());
        // The test tells the time and takes the samples.
        delegate_->monitorController()->timer()->stop();
        delegate_->monitorController()->setClock([this] { return now_; });
        // Ten minutes of a working day: a build pushes memory up, with a spell of pressure.
        for (int i = 0; i < 120; ++i) {
            const int used = 45 + static_cast<int>(std::lround(20 * std::sin(i / 19.0) + i / 8.0));
            const double some = i > 70 && i < 84 ? 14.0 : 0.3;
            tick(detailsWith(used, 8'000'000'000, 6'900'000'000, MCPressure{some, 0}));
        }
    }

    void cleanupTestCase() {
        allocator_->open();
        if (panel() && panel()->cleanInProgress()) {
            QSignalSpy done(panel(), &MCContentViewController::cleanFinished);
            done.wait(5000);
        }
        Application::sharedApplication()->setDelegate(nullptr);
        delegate_.reset();
        QApplication::setPalette(QPalette());
        compositor_.kill();
        compositor_.waitForFinished(5000);
    }

    void openSectionKeepsThePopoverUnderTheIconAndOnScreen() {
        QVERIFY(QTest::qWaitFor([this] { return settled(); }, 10000));
        panel()->refreshMemoryUsage();
        QVERIFY(!panel()->swapRow()->isHidden());
        QVERIFY(!panel()->pressureRow()->isHidden());
        const QRect closed = window()->geometry();
        const QRect icon = popup()->statusItem()->geometry();

        QSignalSpy shown(panel(), &MCContentViewController::processesShown);
        QToolButton* toggle = panel()->processesButton();
        QVERIFY(clickAt(toggle->mapToGlobal(toggle->rect().center())));
        QVERIFY(shown.wait(5000));
        // The real /proc: this test itself is among the processes, so there are some.
        QVERIFY(!panel()->shownProcesses().empty());
        QTRY_VERIFY(window()->geometry().height() > closed.height());
        QTest::qWait(300); // the frame animation ends
        const QRect open = window()->geometry();
        QVERIFY2(std::abs(open.top() - (icon.bottom() + 1)) <= 1,
                 qPrintable(
                     QStringLiteral("top %1, icon bottom %2").arg(open.top()).arg(icon.bottom())));
        QVERIFY(window()->screen()->geometry().contains(open));
        QVERIFY2(open.height() <= 720, qPrintable(QString::number(open.height())));
        picture("panel-details.png");

        QApplication::setPalette(darkPalette());
        picture("panel-details-dark.png");
        QApplication::setPalette(QPalette());
    }

    void lowMemoryNotificationReachesTheDaemon() {
        runFor(QStringLiteral("dunstctl"), {QStringLiteral("close-all")});
        now_ += std::chrono::minutes(11); // past any earlier notification's quiet time
        tick(detailsWith(96, 8'000'000'000, 1'000'000'000, MCPressure{4, 0.5}));
        QTRY_COMPARE(runFor(QStringLiteral("dunstctl"),
                            {QStringLiteral("count"), QStringLiteral("displayed")})
                         .trimmed(),
                     QByteArray("1"));
        QTest::qWait(300);
        QVERIFY(
            !save(QGuiApplication::primaryScreen()->grabWindow(0), "low-memory-notification.png")
                 .isEmpty());
        runFor(QStringLiteral("dunstctl"), {QStringLiteral("close-all")});
        QJsonObject entry;
        QTRY_VERIFY_WITH_TIMEOUT(
            (entry = QJsonDocument::fromJson(
                         runFor(QStringLiteral("dunstctl"), {QStringLiteral("history")}))
                         .object()
                         .value(QStringLiteral("data"))
                         .toArray()
                         .at(0)
                         .toArray()
                         .at(0)
                         .toObject(),
             !entry.isEmpty()),
            5000);
        const auto field = [&entry](const char* name) {
            return entry.value(QLatin1String(name))
                .toObject()
                .value(QStringLiteral("data"))
                .toString();
        };
        QCOMPARE(field("summary"), QStringLiteral("Memory is running low"));
        QCOMPARE(field("body"), QStringLiteral("610.35 MB available (4 %)"));
        QCOMPARE(field("appname"), QStringLiteral("Brimwell"));
    }

    void trayIconShowsTheLevel() {
        if (popoverOpen()) {
            popup()->hidePopover();
            QTRY_VERIFY(!popoverOpen());
        }
        MCSettings quiet = delegate_->settings();
        quiet.lowMemory.enabled = false;
        delegate_->applySettings(quiet);
        const QRect icon = popup()->statusItem()->geometry().adjusted(-8, -3, 8, 3);
        QList<QImage> shots;
        for (const auto& [used, pressure, name] :
             {std::tuple(20, 0.0, "tray-level-20.png"), std::tuple(60, 0.0, "tray-level-60.png"),
              std::tuple(95, 30.0, "tray-level-95.png")}) {
            tick(detailsWith(used, 0, 0, MCPressure{pressure * 2, pressure}));
            QTest::qWait(300); // the tray host repaints
            const QPixmap grab = QGuiApplication::primaryScreen()->grabWindow(
                0, icon.x(), icon.y(), icon.width(), icon.height());
            shots << grab.toImage();
            // Six times as large, pixel for pixel, so the bar can be seen.
            QVERIFY(
                !save(grab.scaled(grab.size() * 6, Qt::IgnoreAspectRatio, Qt::FastTransformation),
                      name)
                     .isEmpty());
        }
        QVERIFY(shots[0] != shots[1] && shots[1] != shots[2]);
        // High pressure turns the bar red; the calm levels have no red at all.
        QCOMPARE(reddish(shots[0]), 0);
        QCOMPARE(reddish(shots[1]), 0);
        QVERIFY(reddish(shots[2]) >= 10);

        // The plain icon, at once.
        MCSettings plain = delegate_->settings();
        plain.trayIconStyle = MCTrayIconStyle::Plain;
        delegate_->applySettings(plain);
        QVERIFY(!popup()->level());
        QTest::qWait(300);
        QCOMPARE(reddish(QGuiApplication::primaryScreen()
                             ->grabWindow(0, icon.x(), icon.y(), icon.width(), icon.height())
                             .toImage()),
                 0);
    }
};

QTEST_MAIN(PanelDetailsEndToEnd)
#include "test_panel_details_e2e.moc"
