// The tray application end to end, inside scripts/with-desktop.sh --tray: a real X server, a
// real tray host (trayer), a real notification daemon (dunst), a real analytics server on
// 127.0.0.1 and clicks from xdotool.

#include "app/MCAppDelegate.h"
#include "app/MCContentViewController.h"
#include "app/PanelFixture.h"
#include "popover/INPopoverController.h"
#include "popover/INPopoverWindow.h"
#include "popover/INPopoverWindowFrame.h"

#include "GoogleAnalytics/LocalHttpServer.h"
#include "support/XTools.h"

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
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
    const QString dir = QStringLiteral(BRIMWELL_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    const QString prefix = qEnvironmentVariable("SCREENSHOT_PREFIX", QStringLiteral("tray-"));
    QGuiApplication::primaryScreen()->grabWindow(0).save(dir + "/" + prefix + name + ".png");
}

} // namespace

class TrayEndToEnd : public QObject {
    Q_OBJECT

    std::unique_ptr<LocalHttpServer> server_;
    std::unique_ptr<TempDir> config_;
    std::shared_ptr<GatedAllocator> allocator_;
    std::unique_ptr<MCAppDelegate> delegate_;
    QProcess other_;

    AXStatusItemPopup* popup() const { return delegate_->statusItemPopup(); }
    MCContentViewController* panel() const { return delegate_->contentViewController(); }
    bool popoverOpen() const {
        return popup()->popoverController() && popup()->popoverController()->popoverIsVisible();
    }
    QPoint iconCentre() const { return popup()->statusItem()->geometry().center(); }
    QToolButton* control(const char* name) const {
        return panel()->view()->findChild<QToolButton*>(QString::fromLatin1(name));
    }
    bool reopen() {
        if (popoverOpen()) {
            return true;
        }
        QSignalSpy shown(panel(), &MCContentViewController::popoverShown);
        if (!clickAt(iconCentre())) {
            qWarning("xdotool failed");
            return false;
        }
        if (!shown.wait(5000)) {
            qWarning("no show after clicking at %d,%d; open %d", iconCentre().x(), iconCentre().y(),
                     popoverOpen());
            return false;
        }
        return popoverOpen();
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
        QMenu* menu = delegate_->trayMenu();
        if (!clickAt(iconCentre(), 3) || !QTest::qWaitFor([menu] { return menu->isVisible(); })) {
            qWarning("the menu did not open");
            return false;
        }
        for (QAction* action : menu->actions()) {
            if (action->text() == text) {
                return clickAt(menu->mapToGlobal(menu->actionGeometry(action).center()));
            }
        }
        return false;
    }
    bool sawEvent(const std::string& name) const {
        for (const auto& r : server_->received()) {
            if (r.path == "/__utm.gif" && r.target.find(name) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

private slots:
    void initTestCase() {
        server_ = std::make_unique<LocalHttpServer>();
        server_->reply("/__utm.gif", 200, "GIF89a", "image/gif");
        server_->reply("/ip", 200, "<html><body>Current IP Address: 127.0.0.1</body></html>");
        config_ = std::make_unique<TempDir>();
        ::setenv("BRIMWELL_ANALYTICS_HOST", server_->hostAndPort().c_str(), 1);
        ::setenv("BRIMWELL_PUBLIC_IP_URL", ("http://" + server_->hostAndPort() + "/ip").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", config_->path().c_str(), 1);
        ::unsetenv("DO_NOT_TRACK");
        QApplication::setQuitOnLastWindowClosed(false);

        allocator_ = std::make_shared<GatedAllocator>();
        delegate_ = std::make_unique<MCAppDelegate>();
        delegate_->setMemoryController(
            std::make_shared<MCMemoryController>(mach_host_self(), allocator_, 8 << 20));
        Application::sharedApplication()->setDelegate(delegate_.get());
        delegate_->applicationDidFinishLaunching();
        QVERIFY(panel());
        QVERIFY(popup());
    }

    void cleanupTestCase() {
        allocator_->open();
        if (panel() && panel()->cleanInProgress()) {
            QSignalSpy done(panel(), &MCContentViewController::cleanFinished);
            done.wait(5000);
        }
        other_.kill();
        other_.waitForFinished(5000);
        Application::sharedApplication()->setDelegate(nullptr);
        delegate_.reset();
    }

    void launchOpensThePopoverUnderTheIcon() {
        QTRY_VERIFY_WITH_TIMEOUT(popoverOpen() && panel()->timer()->isActive(), 5000);
        int icons = 0;
        for (QWidget* w : QApplication::allWidgets()) {
            icons += w->inherits("QSystemTrayIconSys");
        }
        QCOMPARE(icons, 1);
        const QRect icon = popup()->statusItem()->geometry();
        QVERIFY(!icon.isEmpty());
        QVERIFY(popup()->isActive());

        INPopoverController* popover = popup()->popoverController();
        QCOMPARE(popover->arrowDirection(), INPopoverArrowDirectionUp);
        const QRect window = popover->popoverWindow()->geometry();
        // The arrow's tip touches the middle of the icon's bottom edge, and the whole popover
        // is on the screen even when the icon sits at its edge.
        const double tip = window.x() + window.width() / 2.0 +
                           popover->popoverWindow()->frameView()->arrowOffset();
        QVERIFY2(std::abs(tip - (icon.x() + icon.width() / 2.0)) <= 1.0,
                 qPrintable(QStringLiteral("tip %1, icon %2").arg(tip).arg(icon.center().x())));
        QVERIFY2(std::abs(window.top() - (icon.bottom() + 1)) <= 1,
                 qPrintable(QStringLiteral("popover top %1, icon bottom %2")
                                .arg(window.top())
                                .arg(icon.bottom())));
        const int band = static_cast<int>(popover->arrowSize().height); // see-through margin
        QVERIFY(QGuiApplication::primaryScreen()->geometry().contains(
            window.marginsRemoved(QMargins(band, band, band, band))));

        static const QRegularExpression friendly(QStringLiteral("^(\\d+\\.\\d\\d [KMG]B|\\d+ B)$"));
        QVERIFY(friendly.match(panel()->freeMemoryTextField()->text()).hasMatch());
        // The picture once the pop is over and the real window has painted.
        QTRY_VERIFY(popover->popoverWindow()->QWidget::isVisible() &&
                    !popover->popoverWindow()->zoomWindow());
        QVERIFY(QTest::qWaitForWindowExposed(popover->popoverWindow()));
        QCoreApplication::processEvents();
        screenshot("launch");

        QTRY_VERIFY_WITH_TIMEOUT(sawEvent("PopoverShown"), 10000);
    }

    void iconClicksToggleThePopover() {
        QVERIFY(reopen());
        INPopoverController* first = popup()->popoverController();
        QVERIFY(clickAt(iconCentre()));
        QTRY_VERIFY(!popoverOpen());
        QVERIFY(!popup()->isActive());
        QVERIFY(!panel()->timer()->isActive());
        QCOMPARE(popup()->popoverTransiencyMonitor(), EventMonitor::Token{0});
        screenshot("closed");

        QVERIFY(reopen());
        QCOMPARE(popup()->popoverController(), first);
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
        QVERIFY(!mask.isEmpty());
        QVERIFY(!mask.contains(QPoint(0, 0)));
        QVERIFY(mask.contains(zoom->rect().center()));
        window.orderOut();
    }

    void windowManagerCloseGoesThePopoversWay() {
        QVERIFY(reopen());
        // What a window manager sends for Alt+F4 or a close button.
        Display* display = XOpenDisplay(nullptr);
        QVERIFY(display != nullptr);
        const auto window =
            static_cast<Window>(popup()->popoverController()->popoverWindow()->winId());
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
        QTRY_VERIFY(!popoverOpen());
        QVERIFY(!popup()->isActive());
        QVERIFY(!panel()->timer()->isActive());
        QCOMPARE(popup()->popoverTransiencyMonitor(), EventMonitor::Token{0});
        QCOMPARE(EventMonitor::installedMonitorCount(), std::size_t{0});
        QVERIFY(reopen());
        QVERIFY(popup()->isActive());
    }

    void pressesElsewhereCloseButNotInside() {
        other_.start(QStringLiteral("xmessage"),
                     {QStringLiteral("-geometry"), QStringLiteral("260x120+60+560"),
                      QStringLiteral("another application")});
        QVERIFY(other_.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(runTool(QStringLiteral("xdotool"),
                                         {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                          QStringLiteral("--name"), QStringLiteral("xmessage")}),
                                 5000);
        for (int button : {1, 3}) {
            QVERIFY(reopen());
            QVERIFY(clickAt(QPoint(190, 620), button));
            QTRY_VERIFY(!popoverOpen());
        }
        QVERIFY(reopen());
        QVERIFY(clickAt(centreOf(panel()->freeMemoryTextField())));
        QVERIFY(clickAt(centreOf(panel()->plotView()), 3));
        QTest::qWait(300); // a close would have started by now
        QVERIFY(popoverOpen());
    }

    void cleanShowsProgressThenNotifies() {
        QVERIFY(reopen());
        QSignalSpy done(panel(), &MCContentViewController::cleanFinished);
        QVERIFY(clickAt(centreOf(panel()->cleanButton())));
        QTRY_COMPARE(panel()->cleanButton()->text(), QStringLiteral("Cleaning..."));
        QVERIFY(!panel()->cleanButton()->isEnabled());
        QTRY_VERIFY(allocator_->passes() >= 1);
        screenshot("cleaning");
        allocator_->open();
        QVERIFY(done.wait(10000));
        QCOMPARE(panel()->cleanButton()->text(), QStringLiteral("Clean Memory"));
        QVERIFY(panel()->cleanButton()->isEnabled());
        QVERIFY(panel()->timer()->isActive());

        QByteArray count;
        QTRY_VERIFY_WITH_TIMEOUT(runTool(QStringLiteral("dunstctl"),
                                         {QStringLiteral("count"), QStringLiteral("displayed")},
                                         &count) &&
                                     count.trimmed() == "1",
                                 5000);
        QTest::qWait(200); // the bubble is mapped; let it paint
        screenshot("clean-done");
        runTool(QStringLiteral("dunstctl"), {QStringLiteral("close-all")});
        QByteArray history;
        QTRY_VERIFY_WITH_TIMEOUT(
            runTool(QStringLiteral("dunstctl"), {QStringLiteral("history")}, &history) &&
                history.contains("Memory Clean Done"),
            5000);
        QTRY_VERIFY_WITH_TIMEOUT(sawEvent("CleanButtonClicked"), 10000);
    }

    void aboutOpensOneWindowAndClosesThePopover() {
        QVERIFY(reopen());
        QVERIFY(clickAt(centreOf(control("aboutButton"))));
        QTRY_VERIFY(delegate_->aboutWindowController() &&
                    delegate_->aboutWindowController()->window()->isVisible());
        QTRY_VERIFY(!popoverOpen());
        MCAboutWindowController* about = delegate_->aboutWindowController();
        QCOMPARE(about->versionTextField()->text(), QStringLiteral("Version: " BRIMWELL_VERSION));
        QTest::qWait(100);
        screenshot("about");

        QVERIFY(reopen());
        QVERIFY(clickAt(centreOf(control("aboutButton"))));
        QTRY_VERIFY(!popoverOpen());
        QCOMPARE(delegate_->aboutWindowController(), about);
        int aboutWindows = 0;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            aboutWindows += w->objectName() == QStringLiteral("MCAboutWindowController");
        }
        QCOMPARE(aboutWindows, 1);
        about->window()->close();
    }

    void tooltipShowsCurrentFreeMemoryOnlyWhileSeen() {
        if (popoverOpen()) {
            QVERIFY(clickAt(iconCentre()));
            QTRY_VERIFY(!popoverOpen());
        }
        StatusItem* item = popup()->statusItem();
        static const QRegularExpression text(
            QStringLiteral("^Brimwell\nFree memory: (\\d+\\.\\d\\d [KMG]B|\\d+ B)\n"
                           "Used: \\d+ %\nAvailable: (\\d+\\.\\d\\d [KMG]B|\\d+ B)"
                           "(\nPressure: (none|some|high))?$"));
        QVERIFY2(text.match(item->toolTip()).hasMatch(), qPrintable(item->toolTip()));
        QVERIFY(!item->isRefreshingToolTip());
        // Hovering shows it, fresh, and keeps it fresh while it stays.
        QVERIFY(runTool(QStringLiteral("xdotool"),
                        {QStringLiteral("mousemove"), QString::number(iconCentre().x()),
                         QString::number(iconCentre().y())}));
        QTRY_VERIFY_WITH_TIMEOUT(QToolTip::isVisible(), 5000);
        QVERIFY(text.match(QToolTip::text()).hasMatch());
        QVERIFY(item->isRefreshingToolTip());
        screenshot("tooltip");
        // Gone, nothing keeps sampling for it.
        QVERIFY(runTool(QStringLiteral("xdotool"), {QStringLiteral("mousemove"),
                                                    QStringLiteral("640"), QStringLiteral("500")}));
        QToolTip::hideText();
        QTRY_VERIFY_WITH_TIMEOUT(!item->isRefreshingToolTip(), 5000);
    }

    void menuEntriesGoThePanelsWays() {
        QMenu* menu = delegate_->trayMenu();
        QVERIFY(menu != nullptr);
        QStringList entries;
        for (QAction* action : menu->actions()) {
            if (!action->isSeparator()) {
                entries << action->text();
            }
        }
        QCOMPARE(entries,
                 (QStringList{"Open", "Clean Memory", "Preferences…", "About Brimwell", "Quit"}));

        // Open, from a closed popover.
        if (popoverOpen()) {
            QVERIFY(clickAt(iconCentre()));
            QTRY_VERIFY(!popoverOpen());
        }
        const int shownBefore = eventCount("PopoverShown");
        QVERIFY(pickFromMenu(QStringLiteral("Open")));
        QTRY_VERIFY(popoverOpen());
        QTRY_VERIFY_WITH_TIMEOUT(eventCount("PopoverShown") > shownBefore, 10000);

        // Clean Memory: the panel's clean, with its event and its notification.
        QSignalSpy cleaned(panel(), &MCContentViewController::cleanFinished);

        const int cleansBefore = eventCount("CleanButtonClicked");
        QVERIFY(pickFromMenu(MCContentViewController::kCleanTitle));
        QTRY_COMPARE_WITH_TIMEOUT(cleaned.size(), 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(eventCount("CleanButtonClicked") == cleansBefore + 1, 10000);
        runTool(QStringLiteral("dunstctl"), {QStringLiteral("close-all")});

        // About Brimwell: the panel's About, which also closes the popover.
        const int aboutsBefore = eventCount("AboutShown");
        QVERIFY(reopen());
        QVERIFY(pickFromMenu(QStringLiteral("About Brimwell")));
        QTRY_VERIFY(delegate_->aboutWindowController() &&
                    delegate_->aboutWindowController()->window()->isVisible());
        QTRY_VERIFY(!popoverOpen());
        QTRY_VERIFY_WITH_TIMEOUT(eventCount("AboutShown") == aboutsBefore + 1, 10000);
        delegate_->aboutWindowController()->window()->close();
    }

    void quitAsksTheApplicationToEnd() {
        QVERIFY(reopen());
        QSignalSpy terminate(Application::sharedApplication(), &Application::terminateRequested);
        QVERIFY(clickAt(centreOf(control("quitButton"))));
        QTRY_COMPARE(terminate.size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(sawEvent("QuitButtonClicked"), 10000);
        // The menu's Quit goes the same way.
        QVERIFY(pickFromMenu(QStringLiteral("Quit")));
        QTRY_COMPARE(terminate.size(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(eventCount("QuitButtonClicked") == 2, 10000);
    }
};

QTEST_MAIN(TrayEndToEnd)
#include "test_tray_e2e.moc"
