// The tray application inside scripts/with-desktop.sh --tray, used from the keyboard only: the
// popover takes the keyboard focus when it opens, so keys typed with xdotool reach it without a
// click into it. Also the pictures of the popover in the light and the dark palette, on a
// desktop with a compositing manager, as a user sees them.

#include "app/MCAppDelegate.h"
#include "app/MCContentViewController.h"
#include "app/PanelFixture.h"
#include "platform/ui/WindowSystem.h"
#include "popover/INPopoverController.h"
#include "popover/INPopoverWindow.h"
#include "support/XTools.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

namespace {

// Keys typed into whichever window holds the X input focus.
bool typeKeys(const QStringList& keys) {
    const bool ok = runTool(QStringLiteral("xdotool"), QStringList{QStringLiteral("key")} + keys);
    QTest::qWait(50); // let them reach us
    return ok;
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

} // namespace

class PanelKeysEndToEnd : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> dir_;
    std::shared_ptr<GatedAllocator> allocator_;
    std::unique_ptr<MCAppDelegate> delegate_;
    QProcess compositor_;

    AXStatusItemPopup* popup() const { return delegate_->statusItemPopup(); }
    MCContentViewController* panel() const { return delegate_->contentViewController(); }
    INPopoverWindow* window() const { return popup()->popoverController()->popoverWindow(); }
    bool popoverOpen() const {
        return popup()->popoverController() && popup()->popoverController()->popoverIsVisible();
    }
    QString focused() const {
        QWidget* w = QApplication::focusWidget();
        return w ? w->objectName() : QString();
    }
    // Open, done popping, and holding the keyboard.
    bool settled() const {
        return popoverOpen() && window()->QWidget::isVisible() && !window()->zoomWindow() &&
               window()->isActiveWindow();
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
    bool reopen() {
        if (!popoverOpen()) {
            QSignalSpy shown(panel(), &MCContentViewController::popoverShown);
            if (!clickAt(popup()->statusItem()->geometry().center()) || !shown.wait(5000)) {
                return false;
            }
        }
        return QTest::qWaitFor([this] { return settled(); }, 5000);
    }
    // The popover with the tray above it and some desktop around it.
    void picture(const char* name) {
        QTest::qWait(150); // the compositor draws what changed
        const QRect popover = window()->geometry();
        const QRect around(popover.left() - 40, 0, popover.width() + 80, popover.bottom() + 40);
        const QString dir = QStringLiteral(BRIMWELL_SCREENSHOT_DIR);
        QDir().mkpath(dir);
        QVERIFY(QGuiApplication::primaryScreen()
                    ->grabWindow(0, around.x(), around.y(), around.width(), around.height())
                    .save(dir + QLatin1Char('/') + QLatin1String(name)));
    }

private slots:
    void initTestCase() {
        QVERIFY(!WindowSystem::isXWayland());
        // Most desktops composite: the translucent body shows the desktop behind it.
        compositor_.start(QStringLiteral("xcompmgr"), {QStringLiteral("-c")});
        QTRY_VERIFY(WindowSystem::isCompositing());
        QApplication::setQuitOnLastWindowClosed(false);
        dir_ = std::make_unique<TempDir>();
        const std::string meminfo = dir_->write(
            "meminfo", "MemTotal: 16384000 kB\nMemFree: 6520000 kB\nMemAvailable: 9000000 kB\n"
                       "Active: 4100000 kB\nInactive: 3600000 kB\nUnevictable: 1200000 kB\n"
                       "SUnreclaim: 400000 kB\nKernelStack: 30000 kB\nPageTables: 60000 kB\n");
        allocator_ = std::make_shared<GatedAllocator>();
        delegate_ = std::make_unique<MCAppDelegate>();
        delegate_->setMemoryController(std::make_shared<MCMemoryController>(
            make_host_port(meminfo, {}, 4096), allocator_, 4096));
        Application::sharedApplication()->setDelegate(delegate_.get());
        delegate_->applicationDidFinishLaunching();
        QVERIFY(popup());
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

    void launchedPopoverHoldsTheKeyboard() {
        QVERIFY(QTest::qWaitFor([this] { return settled(); }, 10000));
        QCOMPARE(focused(), QStringLiteral("plotView"));
        picture("panel-light.png");
        // Typed keys reach it without a click into it.
        QVERIFY(typeKeys({QStringLiteral("Tab")}));
        QTRY_COMPARE(focused(), QStringLiteral("processesButton"));
        QVERIFY(typeKeys({QStringLiteral("Tab")}));
        QTRY_COMPARE(focused(), QStringLiteral("cleanButton"));
        QVERIFY(typeKeys({QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("Tab")}));
        QTRY_COMPARE(focused(), QStringLiteral("quitButton"));
        QVERIFY(typeKeys({QStringLiteral("shift+Tab"), QStringLiteral("shift+Tab")}));
        QTRY_COMPARE(focused(), QStringLiteral("aboutButton"));
        picture("panel-light-about-focused.png");
    }

    void returnOpensAboutAndTheReopenedPopoverHasTheKeyboardAgain() {
        QVERIFY(reopen());
        QVERIFY(tabTo(QStringLiteral("aboutButton")));
        QVERIFY(typeKeys({QStringLiteral("Return")}));
        QTRY_VERIFY(delegate_->aboutWindowController() &&
                    delegate_->aboutWindowController()->window()->isVisible());
        QTRY_VERIFY(!popoverOpen());

        // Opened again from the tray, it starts on the chart and takes keys at once.
        QVERIFY(reopen());
        QCOMPARE(focused(), QStringLiteral("plotView"));
        QVERIFY(typeKeys({QStringLiteral("Tab")}));
        QTRY_COMPARE(focused(), QStringLiteral("processesButton"));
        delegate_->aboutWindowController()->window()->close();
    }

    void darkPaletteDarkensThePopover() {
        // Freshly opened, with no control focused yet.
        popup()->hidePopover();
        QTRY_VERIFY(!popoverOpen());
        QVERIFY(reopen());
        QCOMPARE(focused(), QStringLiteral("plotView"));
        QApplication::setPalette(darkPalette());
        QCOMPARE(popup()->popoverController()->color()->rgb(), QColor(0x2a, 0x2e, 0x32).rgb());
        // The body as it is on the screen: dark, whatever the desktop shows through.
        QImage screen;
        const QPoint body = window()->geometry().bottomLeft() + QPoint(20, -16);
        QTRY_VERIFY((screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage(),
                     screen.pixelColor(body).lightness() < 80));
        picture("panel-dark.png");
        QVERIFY(tabTo(QStringLiteral("cleanButton")));
        picture("panel-dark-clean-focused.png");
        QApplication::setPalette(QPalette());
    }

    void spaceOnQuitEndsTheApplication() {
        QVERIFY(reopen());
        QSignalSpy terminate(Application::sharedApplication(), &Application::terminateRequested);
        QVERIFY(tabTo(QStringLiteral("quitButton")));
        QVERIFY(typeKeys({QStringLiteral("space")}));
        QTRY_COMPARE(terminate.size(), 1);
    }
};

QTEST_MAIN(PanelKeysEndToEnd)
#include "test_panel_keys_e2e.moc"
