// The tray application inside scripts/with-desktop.sh --tray, with a compositor and dunst: the
// popover takes the keyboard when it opens, so keys typed with xdotool reach it without a click
// into it; the panel's rows with the process section open (pictures in light and dark), the
// popover kept under the icon and on the screen as it grows, the low-memory notification
// reaching the daemon, and the level in the tray icon at three levels (pictures).
#include "app/MCMonitorController.h"
#include "app/PanelFixture.h"
#include "app/TrayApp.h"
#include "platform/ui/WindowSystem.h"

#include <QApplication>
#include <QScreen>
#include <QToolButton>

#include <cmath>

namespace {

// Keys typed into whichever window holds the X input focus.
bool typeKeys(const QStringList& keys) {
    const bool ok = xdotool(QStringList{QStringLiteral("key")} + keys);
    QTest::qWait(50); // let them reach us
    return ok;
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

QString focused() {
    QWidget* w = QApplication::focusWidget();
    return w ? w->objectName() : QString();
}

} // namespace

class PanelDetailsEndToEnd : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> dir_;
    std::shared_ptr<FakeDetailsReader> details_;
    std::unique_ptr<TrayApp> app_;
    QProcess compositor_;
    MCTime now_;

    // Open, done popping, and holding the keyboard.
    bool reopen() {
        return app_->reopen() &&
               QTest::qWaitFor([this] { return app_->window()->isActiveWindow(); });
    }
    // Tabs until `name` holds the focus; a few at most.
    bool tabTo(const QString& name) {
        for (int i = 0; i < 6 && focused() != name; ++i) {
            if (!typeKeys({QStringLiteral("Tab")})) {
                return false;
            }
        }
        return focused() == name;
    }
    // One monitor sample of these figures, five seconds after the last.
    void tick(const MCMemoryDetails& details) {
        details_->set(details);
        now_ += std::chrono::seconds(5);
        app_->delegate->monitorController()->tick();
    }
    // The popover with the tray above it and some desktop around it.
    void picture(const char* name) {
        QTest::qWait(200); // the compositor draws what changed
        const QRect popover = app_->window()->geometry();
        QVERIFY(
            saveScreen(screenshotPath(QLatin1String(name)),
                       QRect(popover.left() - 40, 0, popover.width() + 80, popover.bottom() + 40)));
    }
    QImage iconPicture(const QRect& icon) {
        return QGuiApplication::primaryScreen()
            ->grabWindow(0, icon.x(), icon.y(), icon.width(), icon.height())
            .toImage();
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
        details_ = std::make_shared<FakeDetailsReader>();
        details_->set(detailsWith(45, 8'000'000'000, 6'900'000'000, MCPressure{0, 0}));
        app_ = std::make_unique<TrayApp>();
        app_->delegate->setMemoryController(std::make_shared<MCMemoryController>(
            make_host_port(meminfo, {}, 4096), std::make_shared<MappedBlockAllocator>(), 4096));
        app_->delegate->setDetailsReader(details_);
        // The launch takes its first sample on the real clock; ours goes on from there.
        now_ = std::chrono::steady_clock::now();
        app_->launch();
        QVERIFY(app_->popup());
        // The test tells the time and takes the samples.
        app_->delegate->monitorController()->timer()->stop();
        app_->delegate->monitorController()->setClock([this] { return now_; });
        // Ten minutes of a working day: a build pushes memory up, with a spell of pressure.
        for (int i = 0; i < 120; ++i) {
            const int used = 45 + static_cast<int>(std::lround(20 * std::sin(i / 19.0) + i / 8.0));
            const double some = i > 70 && i < 84 ? 14.0 : 0.3;
            tick(detailsWith(used, 8'000'000'000, 6'900'000'000, MCPressure{some, 0}));
        }
    }

    void cleanupTestCase() {
        app_.reset();
        QApplication::setPalette(QPalette());
        compositor_.kill();
        compositor_.waitForFinished(5000);
    }

    void launchedPopoverHoldsTheKeyboard() {
        QVERIFY(QTest::qWaitFor([this] { return app_->settled(); }, 10000));
        QVERIFY(reopen());
        QCOMPARE(focused(), QStringLiteral("plotView"));
        picture("panel-light.png");
        // Typed keys reach it without a click into it.
        QVERIFY(typeKeys({QStringLiteral("Tab")}));
        QTRY_COMPARE(focused(), QStringLiteral("processesButton"));
        QVERIFY(typeKeys({QStringLiteral("Tab"), QStringLiteral("Tab")}));
        QTRY_COMPARE(focused(), QStringLiteral("aboutButton"));
        picture("panel-light-about-focused.png");
    }

    void returnOpensAboutAndTheReopenedPopoverHasTheKeyboardAgain() {
        QVERIFY(tabTo(QStringLiteral("aboutButton")));
        QVERIFY(typeKeys({QStringLiteral("Return")}));
        QTRY_VERIFY(app_->delegate->aboutWindowController() &&
                    app_->delegate->aboutWindowController()->window()->isVisible());
        QTRY_VERIFY(!app_->open());

        // Opened again from the tray, it starts on the chart and takes keys at once.
        QVERIFY(reopen());
        QCOMPARE(focused(), QStringLiteral("plotView"));
        QVERIFY(typeKeys({QStringLiteral("Tab")}));
        QTRY_COMPARE(focused(), QStringLiteral("processesButton"));
        app_->delegate->aboutWindowController()->window()->close();
    }

    void darkPaletteDarkensThePopover() {
        // Freshly opened, with no control focused yet.
        QVERIFY(app_->close());
        QVERIFY(reopen());
        QApplication::setPalette(darkPalette());
        QCOMPARE(app_->popover()->color()->rgb(), QColor(0x2a, 0x2e, 0x32).rgb());
        // The body as it is on the screen: dark, whatever the desktop shows through.
        const QPoint body = app_->window()->geometry().bottomLeft() + QPoint(20, -16);
        QTRY_VERIFY(
            QGuiApplication::primaryScreen()->grabWindow(0).toImage().pixelColor(body).lightness() <
            80);
        picture("panel-dark.png");
        QVERIFY(tabTo(QStringLiteral("cleanButton")));
        picture("panel-dark-clean-focused.png");
        QApplication::setPalette(QPalette());
    }

    void openSectionKeepsThePopoverUnderTheIconAndOnScreen() {
        QVERIFY(reopen());
        panel()->refreshMemoryUsage();
        const QRect closed = app_->window()->geometry();
        const QRect icon = app_->popup()->statusItem()->geometry();
        QSignalSpy shown(panel(), &MCContentViewController::processesShown);
        QToolButton* toggle = panel()->processesButton();
        QVERIFY(clickAt(toggle->mapToGlobal(toggle->rect().center())));
        QVERIFY(shown.wait(5000));
        QTRY_VERIFY(app_->window()->geometry().height() > closed.height());
        QTest::qWait(300); // the frame animation ends
        const QRect open = app_->window()->geometry();
        QVERIFY2(std::abs(open.top() - (icon.bottom() + 1)) <= 1,
                 qPrintable(
                     QStringLiteral("top %1, icon bottom %2").arg(open.top()).arg(icon.bottom())));
        QVERIFY(app_->window()->screen()->geometry().contains(open));
        QVERIFY2(open.height() <= 720, qPrintable(QString::number(open.height())));
        picture("panel-details.png");

        QApplication::setPalette(darkPalette());
        picture("panel-details-dark.png");
        QApplication::setPalette(QPalette());
    }

    void lowMemoryNotificationReachesTheDaemon() {
        dunstctl({QStringLiteral("close-all")});
        now_ += std::chrono::minutes(11); // past any earlier notification's quiet time
        tick(detailsWith(96, 8'000'000'000, 1'000'000'000, MCPressure{4, 0.5}));
        QTRY_VERIFY(notificationsShown(1));
        QTest::qWait(300);
        QVERIFY(saveScreen(screenshotPath(QStringLiteral("low-memory-notification.png"))));
        QCOMPARE(notificationHistory().value(0),
                 (QStringList{"Memory is running low", "610.35 MB available (4 %)", "Brimwell"}));
    }

    void trayIconShowsTheLevel() {
        QVERIFY(app_->close());
        MCSettings quiet = app_->delegate->settings();
        quiet.lowMemory.enabled = false;
        app_->delegate->applySettings(quiet);
        const QRect icon = app_->popup()->statusItem()->geometry().adjusted(-8, -3, 8, 3);
        QList<QImage> shots;
        for (const auto& [used, pressure, name] :
             {std::tuple(20, 0.0, "tray-level-20.png"), std::tuple(60, 0.0, "tray-level-60.png"),
              std::tuple(95, 30.0, "tray-level-95.png")}) {
            tick(detailsWith(used, 0, 0, MCPressure{pressure * 2, pressure}));
            QTest::qWait(300); // the tray host repaints
            shots << iconPicture(icon);
            // Six times as large, pixel for pixel, so the bar can be seen.
            QVERIFY(QPixmap::fromImage(shots.last())
                        .scaled(icon.size() * 6, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                        .save(screenshotPath(QLatin1String(name))));
        }
        QVERIFY(shots[0] != shots[1] && shots[1] != shots[2]);
        // High pressure turns the bar red; the calm levels have no red at all.
        QCOMPARE(reddish(shots[0]), 0);
        QCOMPARE(reddish(shots[1]), 0);
        QVERIFY(reddish(shots[2]) >= 10);

        // The plain icon, at once.
        MCSettings plain = app_->delegate->settings();
        plain.trayIconStyle = MCTrayIconStyle::Plain;
        app_->delegate->applySettings(plain);
        QVERIFY(!app_->popup()->level());
        QTest::qWait(300);
        QCOMPARE(reddish(iconPicture(icon)), 0);
    }

private:
    MCContentViewController* panel() const { return app_->panel(); }
};

QTEST_MAIN(PanelDetailsEndToEnd)
#include "test_panel_details_e2e.moc"
