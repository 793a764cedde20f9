// The tray application end to end, inside scripts/with-desktop.sh --tray: a real X server, a
// real tray host (trayer), a real notification daemon (dunst), a real analytics server on
// 127.0.0.1 and clicks from xdotool.

#include "app/PanelFixture.h"
#include "app/TrayApp.h"
#include "popover/INPopoverWindowFrame.h"

#include "GoogleAnalytics/LocalHttpServer.h"

#include <QApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QToolButton>
#include <QToolTip>

#include <cstdlib>

#include <X11/Xlib.h>

namespace {

QPoint centreOf(const QWidget* widget) {
    return widget->mapToGlobal(widget->rect().center());
}

// Saves the whole screen as <prefix><name>.png; the prefix tells the desktops apart.
void screenshot(const char* name) {
    const QString prefix = qEnvironmentVariable("SCREENSHOT_PREFIX", QStringLiteral("tray-"));
    saveScreen(screenshotPath(prefix + name + ".png"));
}

} // namespace

class TrayEndToEnd : public QObject {
    Q_OBJECT

    std::unique_ptr<LocalHttpServer> server_;
    std::unique_ptr<TempDir> dir_;
    std::string meminfo_;
    std::shared_ptr<GatedAllocator> allocator_;
    std::unique_ptr<TrayApp> app_;
    QProcess other_;

    MCContentViewController* panel() const { return app_->panel(); }
    AXStatusItemPopup* popup() const { return app_->popup(); }
    // The popover closed, and nothing left watching for it.
    void verifyClosed() {
        QTRY_VERIFY(!app_->open());
        QVERIFY(!popup()->isActive());
        QVERIFY(!panel()->timer()->isActive());
        QCOMPARE(popup()->popoverTransiencyMonitor(), EventMonitor::Token{0});
    }
    int eventCount(const std::string& name) const {
        int count = 0;
        for (const auto& r : server_->received()) {
            count += r.path == "/__utm.gif" && r.target.find(name) != std::string::npos;
        }
        return count;
    }
    // Opens the icon's menu with a right click and picks `text` from it.
    bool pickFromMenu(const QString& text) {
        QMenu* menu = app_->delegate->trayMenu();
        if (!clickAt(app_->iconCentre(), 3) ||
            !QTest::qWaitFor([menu] { return menu->isVisible(); })) {
            return false;
        }
        for (QAction* action : menu->actions()) {
            if (action->text() == text) {
                return clickAt(menu->mapToGlobal(menu->actionGeometry(action).center()));
            }
        }
        return false;
    }
    bool aboutShown() const {
        return app_->delegate->aboutWindowController() &&
               app_->delegate->aboutWindowController()->window()->isVisible();
    }

private slots:
    void initTestCase() {
        server_ = std::make_unique<LocalHttpServer>();
        server_->reply("/__utm.gif", 200, "GIF89a", "image/gif");
        server_->reply("/ip", 200, "<html><body>Current IP Address: 127.0.0.1</body></html>");
        dir_ = std::make_unique<TempDir>();
        ::setenv("BRIMWELL_ANALYTICS_HOST", server_->hostAndPort().c_str(), 1);
        ::setenv("BRIMWELL_PUBLIC_IP_URL", ("http://" + server_->hostAndPort() + "/ip").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir_->path() / "config").c_str(), 1);
        ::unsetenv("DO_NOT_TRACK");
        QApplication::setQuitOnLastWindowClosed(false);

        meminfo_ = dir_->write("meminfo", meminfoText(4000));
        allocator_ = std::make_shared<GatedAllocator>();
        app_ = std::make_unique<TrayApp>();
        app_->delegate->setMemoryController(std::make_shared<MCMemoryController>(
            make_host_port(meminfo_, {}, 4096), allocator_, 4096));
        app_->launch();
        QVERIFY(popup());
    }

    void cleanupTestCase() {
        allocator_->open();
        if (panel()->cleanInProgress()) {
            QSignalSpy done(panel(), &MCContentViewController::cleanFinished);
            done.wait(5000);
        }
        other_.kill();
        other_.waitForFinished(5000);
        app_.reset();
    }

    void launchOpensThePopoverUnderTheIcon() {
        QTRY_VERIFY_WITH_TIMEOUT(app_->open() && panel()->timer()->isActive(), 5000);
        int icons = 0;
        for (QWidget* w : QApplication::allWidgets()) {
            icons += w->inherits("QSystemTrayIconSys");
        }
        QCOMPARE(icons, 1);
        QVERIFY(popup()->isActive());

        // The arrow's tip touches the middle of the icon's bottom edge, and the whole popover
        // is on the screen even when the icon sits at its edge.
        const QRect icon = popup()->statusItem()->geometry();
        INPopoverController* popover = app_->popover();
        QCOMPARE(popover->arrowDirection(), INPopoverArrowDirectionUp);
        const QRect window = app_->window()->geometry();
        const double tip =
            window.x() + window.width() / 2.0 + app_->window()->frameView()->arrowOffset();
        QVERIFY2(std::abs(tip - (icon.x() + icon.width() / 2.0)) <= 1.0,
                 qPrintable(QStringLiteral("tip %1, icon %2").arg(tip).arg(icon.center().x())));
        QVERIFY2(
            std::abs(window.top() - (icon.bottom() + 1)) <= 1,
            qPrintable(
                QStringLiteral("top %1, icon bottom %2").arg(window.top()).arg(icon.bottom())));
        const int band = static_cast<int>(popover->arrowSize().height); // see-through margin
        QVERIFY(QGuiApplication::primaryScreen()->geometry().contains(
            window.marginsRemoved(QMargins(band, band, band, band))));

        // The picture once the pop is over and the real window has painted.
        QTRY_VERIFY(app_->settled());
        QVERIFY(QTest::qWaitForWindowExposed(app_->window()));
        QCoreApplication::processEvents();
        screenshot("launch");
        QTRY_VERIFY_WITH_TIMEOUT(eventCount("PopoverShown") > 0, 10000);
    }

    void iconClicksToggleThePopover() {
        QVERIFY(app_->reopen());
        INPopoverController* first = app_->popover();
        QVERIFY(clickAt(app_->iconCentre()));
        verifyClosed();
        screenshot("closed");

        QVERIFY(app_->reopen());
        QCOMPARE(app_->popover(), first);
        QVERIFY(popup()->isActive());
        QVERIFY(panel()->timer()->isActive());
    }

    void popWithoutACompositorShowsNoBlackCorners() {
        // This desktop has no compositor: the growing snapshot is cut to its opaque part.
        INPopoverController controller;
        INPopoverWindow& window = *controller.popoverWindow();
        window.setFrame(INRect(600, 300, 324, 224), true);
        window.presentAnimated();
        INZoomWindow* zoom = window.zoomWindow();
        QVERIFY(zoom != nullptr);
        const QRegion mask = zoom->mask();
        QVERIFY(!mask.contains(QPoint(0, 0)));
        QVERIFY(mask.contains(zoom->rect().center()));
        window.orderOut();
    }

    void windowManagerCloseGoesThePopoversWay() {
        QVERIFY(app_->reopen());
        // What a window manager sends for Alt+F4 or a close button.
        Display* display = XOpenDisplay(nullptr);
        QVERIFY(display != nullptr);
        const auto window = static_cast<Window>(app_->window()->winId());
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] =
            static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, window, False, NoEventMask, &event);
        XCloseDisplay(display);
        verifyClosed();
        QCOMPARE(EventMonitor::installedMonitorCount(), std::size_t{0});
        QVERIFY(app_->reopen());
        QVERIFY(popup()->isActive());
    }

    void pressesElsewhereCloseButNotInside() {
        other_.start(QStringLiteral("xmessage"),
                     {QStringLiteral("-geometry"), QStringLiteral("260x120+60+560"),
                      QStringLiteral("another application")});
        QTRY_VERIFY_WITH_TIMEOUT(
            !visibleWindows({QStringLiteral("--name"), QStringLiteral("xmessage")}).isEmpty(),
            5000);
        for (int button : {1, 3}) {
            QVERIFY(app_->reopen());
            QVERIFY(clickAt(QPoint(190, 620), button));
            QTRY_VERIFY(!app_->open());
        }
        QVERIFY(app_->reopen());
        QVERIFY(clickAt(centreOf(panel()->freeMemoryTextField())));
        QVERIFY(clickAt(centreOf(panel()->plotView()), 3));
        QTest::qWait(300); // a close would have started by now
        QVERIFY(app_->open());
    }

    // The clean from the button: progress on it, then the result at the notification daemon.
    void cleanShowsProgressThenNotifies() {
        QVERIFY(app_->reopen());
        QSignalSpy done(panel(), &MCContentViewController::cleanFinished);
        QVERIFY(clickAt(centreOf(panel()->cleanButton())));
        QTRY_COMPARE(panel()->cleanButton()->text(), QStringLiteral("Cleaning..."));
        QTRY_COMPARE(allocator_->passes(), 1);
        screenshot("cleaning");
        dir_->write("meminfo", meminfoText(4004)); // one more page free after the clean
        allocator_->open();
        QVERIFY(done.wait(10000));

        QTRY_VERIFY_WITH_TIMEOUT(notificationsShown(1), 5000);
        QTest::qWait(200); // the bubble is mapped; let it paint
        screenshot("clean-done");
        QVERIFY(saveScreen(screenshotPath(QStringLiteral("clean-notification.png"))));
        QCOMPARE(notificationHistory().value(0),
                 (QStringList{"Memory Clean Done", "4.00 KB memory is cleaned!", "Brimwell"}));
        QTRY_VERIFY_WITH_TIMEOUT(eventCount("CleanButtonClicked") > 0, 10000);
    }

    void aboutOpensOneWindowAndClosesThePopover() {
        QVERIFY(app_->reopen());
        QVERIFY(clickAt(centreOf(panel()->view()->findChild<QToolButton*>("aboutButton"))));
        QTRY_VERIFY(aboutShown());
        QTRY_VERIFY(!app_->open());
        QTest::qWait(100);
        screenshot("about");
        app_->delegate->aboutWindowController()->window()->close();
    }

    void tooltipShowsCurrentFreeMemoryOnlyWhileSeen() {
        QVERIFY(app_->close());
        StatusItem* item = popup()->statusItem();
        static const QRegularExpression text(
            QStringLiteral("^Brimwell\nFree memory: (\\d+\\.\\d\\d [KMG]B|\\d+ B)\n"
                           "Used: \\d+ %\nAvailable: (\\d+\\.\\d\\d [KMG]B|\\d+ B)"
                           "(\nPressure: (none|some|high))?$"));
        QVERIFY2(text.match(item->toolTip()).hasMatch(), qPrintable(item->toolTip()));
        QVERIFY(!item->isRefreshingToolTip());
        // Hovering shows it, fresh, and keeps it fresh while it stays.
        const QPoint icon = app_->iconCentre();
        QVERIFY(xdotool(
            {QStringLiteral("mousemove"), QString::number(icon.x()), QString::number(icon.y())}));
        QTRY_VERIFY_WITH_TIMEOUT(QToolTip::isVisible(), 5000);
        QVERIFY(text.match(QToolTip::text()).hasMatch());
        QVERIFY(item->isRefreshingToolTip());
        screenshot("tooltip");
        // Gone, nothing keeps sampling for it.
        QVERIFY(
            xdotool({QStringLiteral("mousemove"), QStringLiteral("640"), QStringLiteral("500")}));
        QToolTip::hideText();
        QTRY_VERIFY_WITH_TIMEOUT(!item->isRefreshingToolTip(), 5000);
    }

    // The menu's entries go the panel's ways, with the panel's events.
    void menuEntriesGoThePanelsWays() {
        QVERIFY(app_->close());
        const int shownBefore = eventCount("PopoverShown");
        QVERIFY(pickFromMenu(QStringLiteral("Open")));
        QTRY_VERIFY(app_->open());
        QTRY_VERIFY_WITH_TIMEOUT(eventCount("PopoverShown") > shownBefore, 10000);

        QSignalSpy cleaned(panel(), &MCContentViewController::cleanFinished);
        const int cleansBefore = eventCount("CleanButtonClicked");
        QVERIFY(pickFromMenu(MCContentViewController::kCleanTitle));
        QTRY_COMPARE_WITH_TIMEOUT(cleaned.size(), 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(eventCount("CleanButtonClicked") == cleansBefore + 1, 10000);
        dunstctl({QStringLiteral("close-all")});

        // About Brimwell also closes the popover; the window the button opened before comes
        // back, no second one.
        const int aboutsBefore = eventCount("AboutShown");
        MCAboutWindowController* about = app_->delegate->aboutWindowController();
        QVERIFY(app_->reopen());
        QVERIFY(pickFromMenu(QStringLiteral("About Brimwell")));
        QTRY_VERIFY(aboutShown());
        QTRY_VERIFY(!app_->open());
        QTRY_VERIFY_WITH_TIMEOUT(eventCount("AboutShown") == aboutsBefore + 1, 10000);
        QCOMPARE(app_->delegate->aboutWindowController(), about);
        int aboutWindows = 0;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            aboutWindows += w->objectName() == QStringLiteral("MCAboutWindowController");
        }
        QCOMPARE(aboutWindows, 1);
        about->window()->close();
    }

    void quitAsksTheApplicationToEnd() {
        QVERIFY(app_->reopen());
        QSignalSpy terminate(Application::sharedApplication(), &Application::terminateRequested);
        QVERIFY(clickAt(centreOf(panel()->view()->findChild<QToolButton*>("quitButton"))));
        QTRY_COMPARE(terminate.size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(eventCount("QuitButtonClicked") == 1, 10000);
        QVERIFY(pickFromMenu(QStringLiteral("Quit")));
        QTRY_COMPARE(terminate.size(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(eventCount("QuitButtonClicked") == 2, 10000);
    }
};

QTEST_MAIN(TrayEndToEnd)
#include "test_tray_e2e.moc"
