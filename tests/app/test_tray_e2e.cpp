// The tray application end to end, inside scripts/with-desktop.sh --tray: a real X server, tray
// host (trayer), notification daemon (dunst) and analytics server on 127.0.0.1, and clicks and
// keys from xdotool. CTest runs it under LANG=C, and the texts again under LANG=de_DE.UTF-8 with
// the translators loaded as the program loads them. Last, with a compositor: the keyboard, the
// process section, the low-memory notification and the tray icon's level.

#include "app/MCAboutWindowController.h"
#include "app/MCLocalizedText.h"
#include "app/MCMonitorController.h"
#include "app/MCPreferencesWindowController.h"
#include "app/PanelFixture.h"
#include "app/TrayApp.h"
#include "chart/SimplePieChart.h"
#include "platform/ui/WindowSystem.h"
#include "popover/INPopoverWindowFrame.h"

#include "GoogleAnalytics/LocalHttpServer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QRegularExpression>
#include <QScreen>
#include <QSpinBox>
#include <QToolButton>
#include <QToolTip>

#include <cmath>
#include <cstdlib>

#include <X11/Xlib.h>

namespace {

// One visible text in English (the source) and in German.
struct Expected {
    const char* english;
    const char* german;
};

// The texts of the panel's controls, by object name.
const std::map<QString, Expected> kPanelTexts = {
    {"cleanButton", {"Clean Memory", "Speicher bereinigen"}},
    {"freeMemoryCaption", {"Free memory", "Freier Speicher"}},
    {"aboutButton", {"About", "Über"}},
    {"quitButton", {"Quit", "Beenden"}},
    {"preferencesButton", {"Preferences…", "Einstellungen …"}},
    {"availableCaption", {"Available", "Verfügbar"}},
    {"swapCaption", {"Swap", "Auslagerung"}},
    {"pressureCaption", {"Pressure", "Speicherdruck"}},
    {"historyCaption", {"Last 10 minutes", "Letzte 10 Minuten"}},
    {"processesButton", {"Top processes", "Größte Prozesse"}},
    // 4000 kB free in the fixture, and kDetails.
    {"freeMemoryTextField", {"3.91 MB", "3,91 MB"}},
    {"availableTextField", {"8.20 GB of 14.90 GB", "8,20 GB von 14,90 GB"}},
    {"swapTextField", {"1.02 GB / 7.45 GB", "1,02 GB / 7,45 GB"}},
    {"pressureTextField", {"some", "mäßig"}},
};

// 45 % of 16 GB used, 1.1 of 8 GB swap, some pressure.
const MCMemoryDetails kDetails = detailsWith(45, 8'000'000'000, 6'900'000'000, MCPressure{14, 0});

// The preferences window's texts, by object name.
const std::map<QString, Expected> kPreferencesTexts = {
    {"startAtLoginCheckBox", {"Start Brimwell at &login", "Brimwell bei der &Anmeldung starten"}},
    {"trayIconStyleLabel", {"&Tray icon:", "&Statussymbol:"}},
    {"lowMemoryHeading", {"Low memory", "Knapper Speicher"}},
    {"lowMemoryPercentLabel",
     {"When available memory is &below:", "Wenn &weniger verfügbar ist als:"}},
    {"autoCleanCheckBox", {"&Clean memory automatically", "Speicher au&tomatisch bereinigen"}},
    {"autoCleanIntervalLabel", {"At &most once every:", "&Höchstens einmal alle:"}},
    {"closeButton", {"Close", "Schließen"}},
};

// Every control's text must show whole: what it asks for fits what it got.
void verifyTextsFit(QWidget* root) {
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        const auto* label = qobject_cast<QLabel*>(widget);
        // Pictures and drawn markers are sized on purpose.
        if (!widget->isVisible() || !(label || qobject_cast<QAbstractButton*>(widget)) ||
            widget->property("text").toString().isEmpty()) {
            continue;
        }
        // Wrapped text needs the height its width gives it.
        const QSize needs = label && label->wordWrap()
                                ? QSize(0, label->heightForWidth(label->width()))
                                : widget->sizeHint();
        // Process names take what width is left and may be cut; they are not ours.
        const bool cut = widget->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored;
        QVERIFY2(needs.height() <= widget->height() && (cut || needs.width() <= widget->width()),
                 qPrintable(QDebug::toString(widget) + " needs " + QDebug::toString(needs)));
    }
}

QPoint centreOf(const QWidget* widget) {
    return widget->mapToGlobal(widget->rect().center());
}

// Saves the whole screen as <prefix><name>.png; the prefix tells the desktops apart.
void screenshot(const char* name) {
    const QString prefix = qEnvironmentVariable("SCREENSHOT_PREFIX", QStringLiteral("tray-"));
    saveScreen(screenshotPath(prefix + name + ".png"));
}

// Keys typed into whichever window holds the X input focus.
bool typeKeys(const QStringList& keys) {
    const bool ok = xdotool(QStringList{QStringLiteral("key")} + keys);
    QTest::qWait(50); // let them reach us
    return ok;
}

QString focused() {
    QWidget* w = QApplication::focusWidget();
    return w ? w->objectName() : QString();
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

class TrayEndToEnd : public QObject {
    Q_OBJECT

    std::unique_ptr<LocalHttpServer> server_;
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<MCTranslations> translations_;
    std::shared_ptr<GatedAllocator> allocator_;
    std::shared_ptr<FakeDetailsReader> details_;
    std::unique_ptr<TrayApp> app_;
    QProcess other_;
    QProcess compositor_;
    MCTime now_;
    bool german_ = false;

    MCContentViewController* panel() const { return app_->panel(); }
    AXStatusItemPopup* popup() const { return app_->popup(); }
    QString expected(const Expected& text) const {
        return QString::fromUtf8(german_ ? text.german : text.english);
    }
    void verifyTexts(QWidget* root, const std::map<QString, Expected>& texts) {
        for (const auto& [name, text] : texts) {
            QWidget* widget = root->findChild<QWidget*>(name);
            QVERIFY2(widget, qPrintable(name));
            QCOMPARE(widget->property("text").toString(), expected(text));
        }
        verifyTextsFit(root);
    }
    // The popover closed, and nothing left watching for it.
    void verifyClosed() {
        QTRY_VERIFY(!app_->open());
        QVERIFY(!popup()->isActive() && !panel()->timer()->isActive());
        QCOMPARE(popup()->popoverTransiencyMonitor(), EventMonitor::Token{0});
    }
    long eventCount(const std::string& name) const {
        const auto received = server_->received();
        return std::count_if(received.begin(), received.end(), [&name](const auto& r) {
            return r.path == "/__utm.gif" && r.target.find(name) != std::string::npos;
        });
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
    // Open, done popping, and holding the keyboard.
    bool reopen() {
        return app_->reopen() &&
               QTest::qWaitFor([this] { return app_->window()->isActiveWindow(); });
    }
    // Tabs until `name` holds the focus; a few at most.
    bool tabTo(const QString& name) {
        for (int i = 0; i < 6 && focused() != name; ++i) {
            typeKeys({QStringLiteral("Tab")});
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
        german_ = qEnvironmentVariable("LANG").startsWith(QLatin1String("de"));
        QVERIFY2(qEnvironmentVariableIsEmpty("LC_ALL") && qEnvironmentVariableIsEmpty("LANGUAGE"),
                 "the language must come from LANG alone");
        server_ = std::make_unique<LocalHttpServer>();
        server_->reply("/__utm.gif", 200, "GIF89a", "image/gif");
        server_->reply("/ip", 200, "<html><body>Current IP Address: 127.0.0.1</body></html>");
        dir_ = std::make_unique<TempDir>();
        ::setenv("BRIMWELL_ANALYTICS_HOST", server_->hostAndPort().c_str(), 1);
        ::setenv("BRIMWELL_PUBLIC_IP_URL", ("http://" + server_->hostAndPort() + "/ip").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir_->path() / "config").c_str(), 1);
        ::unsetenv("DO_NOT_TRACK");
        QApplication::setQuitOnLastWindowClosed(false);

        // As the program does, for the system locale.
        translations_ = std::make_unique<MCTranslations>();
        QCOMPARE(translations_->applicationFile().isEmpty(), !german_);
        if (german_) {
            QVERIFY(translations_->applicationFile().startsWith(MCTranslations::resourceFolder()));
            QVERIFY2(translations_->hasQtTranslation(), "qt6-translations-l10n is not installed");
        }

        allocator_ = std::make_shared<GatedAllocator>();
        details_ = std::make_shared<FakeDetailsReader>();
        details_->set(kDetails);
        app_ = std::make_unique<TrayApp>();
        app_->delegate->setMemoryController(std::make_shared<MCMemoryController>(
            make_host_port(dir_->write("meminfo", meminfoText(4000)), {}, 4096), allocator_, 4096));
        app_->delegate->setDetailsReader(details_);
        app_->launch();
        QVERIFY2(popup(), "no tray: run inside with-desktop.sh --tray");
    }

    void cleanupTestCase() {
        allocator_->open();
        if (panel()->cleanInProgress()) {
            QSignalSpy done(panel(), &MCContentViewController::cleanFinished);
            done.wait(5000);
        }
        // The rest goes with this object: the processes are killed, the application before
        // the translators.
    }

    // Where the popover opens is the desktop matrix's part.
    void launchOpensThePopoverWithTheKeyboardAndIconClicksToggleIt() {
        QTRY_VERIFY_WITH_TIMEOUT(app_->open() && panel()->timer()->isActive(), 5000);
        const QWidgetList all = QApplication::allWidgets();
        QCOMPARE(std::count_if(all.begin(), all.end(),
                               [](QWidget* w) { return w->inherits("QSystemTrayIconSys"); }),
                 qsizetype(1));
        QVERIFY(popup()->isActive());
        // The picture once the pop is over and the real window has painted.
        QTRY_VERIFY(app_->settled());
        QVERIFY(QTest::qWaitForWindowExposed(app_->window()));
        QCoreApplication::processEvents();
        screenshot("launch");
        // Typed keys reach it without a click into it.
        QVERIFY(reopen());
        QCOMPARE(focused(), QStringLiteral("plotView"));
        QVERIFY(typeKeys({QStringLiteral("Tab")}));
        QTRY_COMPARE(focused(), QStringLiteral("processesButton"));

        // A click on the icon closes it, the next opens the same popover again.
        INPopoverController* first = app_->popover();
        QVERIFY(clickAt(app_->iconCentre()));
        verifyClosed();
        screenshot("closed");

        QVERIFY(app_->reopen());
        QCOMPARE(app_->popover(), first);
        QVERIFY(popup()->isActive() && panel()->timer()->isActive());
    }

    void panelTextsAndNumbersFollowTheLanguage() {
        // Open, and told so: the panel has filled itself.
        QTRY_VERIFY_WITH_TIMEOUT(app_->open() && panel()->timer()->isActive(), 5000);
        QCOMPARE(panel()->plotView()->accessibleName(),
                 expected({"Memory usage chart", "Diagramm der Speichernutzung"}));
        // The fixture: 8 kB + 12 kB + 16 kB + 4 kB wired, 2000 kB active, 3000 kB inactive.
        QCOMPARE(panel()->plotView()->accessibleDescription(),
                 expected({"Wired 40.00 KB (under 1%), Active 1.95 MB (22%), "
                           "Inactive 2.93 MB (33%), Free 3.91 MB (44%)",
                           "Reserviert 40,00 KB (unter 1 %), Aktiv 1,95 MB (22 %), "
                           "Inaktiv 2,93 MB (33 %), Frei 3,91 MB (44 %)"}));
        const Expected legend[] = {{"Wired", "Reserviert"},
                                   {"Active", "Aktiv"},
                                   {"Inactive", "Inaktiv"},
                                   {"Free", "Frei"}};
        for (unsigned long i = 0; i < std::size(legend); ++i) {
            QCOMPARE(panel()->pieChart()->legendTitleForPieChart(nullptr, i).value_or(QString()),
                     expected(legend[i]));
        }
        // The real /proc's biggest processes, their sizes in the locale's numbers.
        QSignalSpy shown(panel(), &MCContentViewController::processesShown);
        panel()->setProcessesExpanded(true);
        QVERIFY(shown.wait(5000));
        const QLabel* sizeLabel = panel()->view()->findChild<QLabel*>("processSize1");
        QVERIFY2(QRegularExpression(german_ ? QStringLiteral("^\\d+(,\\d\\d [KMG]B| B)$")
                                            : QStringLiteral("^\\d+(\\.\\d\\d [KMG]B| B)$"))
                     .match(sizeLabel->text())
                     .hasMatch(),
                 qPrintable(sizeLabel->text()));
        // The popover grows to the filled rows (its frame animates there), squeezing none.
        const QWidget* view = panel()->view();
        QTRY_VERIFY(sizeLabel->width() >= sizeLabel->sizeHint().width() &&
                    view->height() == view->layout()->sizeHint().height() &&
                    app_->window()->geometry().contains(
                        QRect(view->mapToGlobal(QPoint(0, 0)), view->size())));
        verifyTexts(panel()->view(), kPanelTexts);

        QTRY_VERIFY(app_->settled());
        QVERIFY(QTest::qWaitForWindowExposed(app_->window()));
        QTest::qWait(100); // the chart's first paint
        QVERIFY(saveScreen(screenshotPath(german_ ? "panel-de.png" : "panel-c.png")));
        panel()->setProcessesExpanded(false);
    }

    // Texts made outside the panel's widgets: the clean's, the tray menu's, the tooltip's and the
    // low-memory notification's.
    void otherTextsFollowTheLanguage() {
        const UserNotification low =
            MCMonitorController::lowMemoryNotification(MCLowMemoryReason::LowAvailable, kDetails);
        const std::pair<QString, Expected> texts[] = {
            {MCContentViewController::cleaningTitle(), {"Cleaning...", "Wird bereinigt …"}},
            {MCContentViewController::cleaningProgressTitle(100),
             {"Cleaning... 100 %", "Wird bereinigt … 100 %"}},
            {MCContentViewController::notificationTitle(),
             {"Memory Clean Done", "Speicher bereinigt"}},
            {MCLocalizedText::cleanResultText(1536),
             {"1.50 KB memory is cleaned!", "1,50 KB Speicher freigegeben!"}},
            {MCLocalizedText::cleanResultText(0), {"Enjoy your life!", "Genießen Sie das Leben!"}},
            {menuEntries(app_->delegate->trayMenu()).join(QLatin1Char('|')),
             {"Open|Clean Memory|Preferences…|About Brimwell|Quit",
              "Öffnen|Speicher bereinigen|Einstellungen …|Über Brimwell|Beenden"}},
            {MCAppDelegate::toolTipText(panel()->memoryController()->currentMemoryUsage(),
                                        kDetails),
             {"Brimwell\nFree memory: 3.91 MB\nUsed: 45 %\nAvailable: 8.20 GB\nPressure: some",
              "Brimwell\nFreier Speicher: 3,91 MB\nBelegt: 45 %\nVerfügbar: 8,20 GB\n"
              "Speicherdruck: mäßig"}},
            {low.title, {"Memory is running low", "Arbeitsspeicher wird knapp"}},
            {low.informativeText, {"8.20 GB available (55 %)", "8,20 GB verfügbar (55 %)"}},
        };
        for (const auto& [actual, text] : texts) {
            QCOMPARE(actual, expected(text));
        }
        // The progress title must fit the button as the resting one does.
        QPushButton* button = panel()->cleanButton();
        const QString resting = button->text();
        button->setText(texts[1].first);
        QVERIFY(button->sizeHint().width() <= button->width());
        button->setText(resting);
    }

    void windowsFollowTheLanguage() {
        app_->delegate->showPreferencesWindow();
        MCPreferencesWindowController* preferences = app_->delegate->preferencesWindowController();
        QWidget* window = preferences->window();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->windowTitle(),
                 expected({"Brimwell Preferences", "Brimwell-Einstellungen"}));
        QCOMPARE(preferences->trayIconStyleComboBox()->itemText(1),
                 expected({"Plain icon", "Einfaches Symbol"}));
        QCOMPARE(preferences->autoCleanIntervalSpinBox()->suffix(), QStringLiteral(" min"));
        verifyTexts(window, kPreferencesTexts);
        QVERIFY(window->grab().save(
            screenshotPath(german_ ? "preferences-de.png" : "preferences-c.png")));
        window->close();

        app_->delegate->showAboutWindow();
        QWidget* about = app_->delegate->aboutWindowController()->window();
        QTRY_VERIFY(about->isVisible());
        QCOMPARE(about->windowTitle(), expected({"About Brimwell", "Über Brimwell"}));
        QCOMPARE(about->findChild<QAbstractButton*>("contactUsButton")->text(),
                 expected({"Contact Us", "Kontakt aufnehmen"}));
        verifyTextsFit(about);
        about->close();
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
        other_.start("xmessage", {"-geometry", "260x120+60+560", "another application"});
        QTRY_VERIFY_WITH_TIMEOUT(!visibleWindows({"--name", "xmessage"}).isEmpty(), 5000);
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
        QTRY_COMPARE(allocator_->passes(), 1); // held in the middle for the picture
        screenshot("cleaning");
        dir_->write("meminfo", meminfoText(4004)); // one more page free after the clean
        allocator_->open();
        QVERIFY(done.wait(10000));

        QTRY_VERIFY_WITH_TIMEOUT(notificationsShown(1), 5000);
        QTest::qWait(200); // the bubble is mapped; let it paint
        screenshot("clean-done");
        QVERIFY(saveScreen(screenshotPath(QStringLiteral("clean-notification.png"))));
        QCOMPARE(lastNotification(),
                 (QStringList{"Memory Clean Done", "4.00 KB memory is cleaned!", "Brimwell"}));
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
        dunstctl({"close-all"});

        // About Brimwell also closes the popover; the window opened before comes
        // back, no second one.
        const int aboutsBefore = eventCount("AboutShown");
        MCAboutWindowController* about = app_->delegate->aboutWindowController();
        QVERIFY(app_->reopen());
        QVERIFY(pickFromMenu(QStringLiteral("About Brimwell")));
        QTRY_VERIFY(aboutShown());
        QTRY_VERIFY(!app_->open());
        QTRY_VERIFY_WITH_TIMEOUT(eventCount("AboutShown") == aboutsBefore + 1, 10000);
        QCOMPARE(app_->delegate->aboutWindowController(), about);
        about->window()->close();
    }

    void tooltipShowsCurrentFreeMemoryOnlyWhileSeen() {
        QVERIFY(app_->close());
        StatusItem* item = popup()->statusItem();
        static const QRegularExpression text(
            QStringLiteral("^Brimwell\nFree memory: (\\d+\\.\\d\\d [KMG]B|\\d+ B)\n"
                           "Used: \\d+ %\nAvailable: (\\d+\\.\\d\\d [KMG]B|\\d+ B)"
                           "(\nPressure: (none|some|high))?$"));
        QVERIFY(!item->isRefreshingToolTip());
        // Hovering shows it, fresh, and keeps it fresh while it stays.
        const QPoint icon = app_->iconCentre();
        QVERIFY(xdotool({"mousemove", QString::number(icon.x()), QString::number(icon.y())}));
        QTRY_VERIFY_WITH_TIMEOUT(QToolTip::isVisible(), 5000);
        QVERIFY2(text.match(QToolTip::text()).hasMatch(), qPrintable(QToolTip::text()));
        QVERIFY(item->isRefreshingToolTip());
        screenshot("tooltip");
        // Gone, nothing keeps sampling for it.
        QVERIFY(xdotool({"mousemove", "640", "500"}));
        QToolTip::hideText();
        QTRY_VERIFY_WITH_TIMEOUT(!item->isRefreshingToolTip(), 5000);
    }

    void withACompositorThePanelLooksRight() {
        QVERIFY(!WindowSystem::isXWayland());
        compositor_.start("xcompmgr", {"-c"});
        QTRY_VERIFY(WindowSystem::isCompositing());
        dir_->write("meminfo",
                    "MemTotal: 16384000 kB\nMemFree: 6520000 kB\nMemAvailable: 9000000 kB\n"
                    "Active: 4100000 kB\nInactive: 3600000 kB\nUnevictable: 1200000 kB\n"
                    "SUnreclaim: 400000 kB\nKernelStack: 30000 kB\nPageTables: 60000 kB\n");
        // The test tells the time and takes the samples, from now on.
        now_ = std::chrono::steady_clock::now();
        app_->delegate->monitorController()->timer()->stop();
        app_->delegate->monitorController()->setClock([this] { return now_; });
        // Ten minutes of a working day: a build pushes memory up, with a spell of pressure.
        for (int i = 0; i < 120; ++i) {
            const int used = 45 + static_cast<int>(std::lround(20 * std::sin(i / 19.0) + i / 8.0));
            const double some = i > 70 && i < 84 ? 14.0 : 0.3;
            tick(detailsWith(used, 8'000'000'000, 6'900'000'000, MCPressure{some, 0}));
        }
        QVERIFY(app_->close());
        QVERIFY(reopen());
        picture("panel-light.png");
        QVERIFY(tabTo(QStringLiteral("aboutButton")));
        picture("panel-light-about-focused.png");

        // Return opens About; opened again from the tray, the popover starts on the chart and
        // takes keys at once.
        QVERIFY(typeKeys({QStringLiteral("Return")}));
        QTRY_VERIFY(aboutShown());
        QTRY_VERIFY(!app_->open());
        QTest::qWait(100);
        screenshot("about");
        QVERIFY(reopen());
        QCOMPARE(focused(), QStringLiteral("plotView"));
        app_->delegate->aboutWindowController()->window()->close();
    }

    // Dark, then with the process section open: grown, yet under the icon and on the screen.
    void darkPaletteAndOpenSectionOnTheScreen() {
        // Freshly opened, with no control focused yet.
        QVERIFY(app_->close());
        QVERIFY(reopen());
        QApplication::setPalette(darkPalette());
        // The body as it is on the screen: dark, whatever the desktop shows through.
        const QPoint body = app_->window()->geometry().bottomLeft() + QPoint(20, -16);
        QTRY_VERIFY(
            QGuiApplication::primaryScreen()->grabWindow(0).toImage().pixelColor(body).lightness() <
            80);
        picture("panel-dark.png");
        QVERIFY(tabTo(QStringLiteral("cleanButton")));
        picture("panel-dark-clean-focused.png");
        panel()->refreshMemoryUsage();
        const QRect closed = app_->window()->geometry();
        const QRect icon = app_->popup()->statusItem()->geometry();
        QSignalSpy shown(panel(), &MCContentViewController::processesShown);
        QVERIFY(clickAt(centreOf(panel()->processesButton())));
        QVERIFY(shown.wait(5000));
        QTRY_VERIFY(app_->window()->geometry().height() > closed.height());
        QTest::qWait(300); // the frame animation ends
        const QRect open = app_->window()->geometry();
        QVERIFY2(std::abs(open.top() - (icon.bottom() + 1)) <= 1,
                 qPrintable(QString::number(open.top())));
        QVERIFY(app_->window()->screen()->geometry().contains(open));
        QVERIFY2(open.height() <= 720, qPrintable(QString::number(open.height())));
        picture("panel-details-dark.png");
        QApplication::setPalette(QPalette());
        picture("panel-details.png");
        panel()->setProcessesExpanded(false); // the rows that come and go move the buttons
    }

    void lowMemoryNotificationReachesTheDaemon() {
        dunstctl({"close-all"});
        now_ += std::chrono::minutes(11); // past any earlier notification's quiet time
        tick(detailsWith(96, 8'000'000'000, 1'000'000'000, MCPressure{4, 0.5}));
        QTRY_VERIFY(notificationsShown(1));
        QTest::qWait(300);
        QVERIFY(saveScreen(screenshotPath(QStringLiteral("low-memory-notification.png"))));
        QCOMPARE(lastNotification(),
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
        QTest::qWait(300);
        QCOMPARE(reddish(iconPicture(icon)), 0);
    }

    // The panel's Quit button is single_instance_e2e's: the real program ends on it.
    void menuQuitAsksTheApplicationToEnd() {
        QSignalSpy terminate(Application::sharedApplication(), &Application::terminateRequested);
        QVERIFY(pickFromMenu(QStringLiteral("Quit")));
        QTRY_COMPARE(terminate.size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(eventCount("QuitButtonClicked") == 1, 10000);
    }
};

QTEST_MAIN(TrayEndToEnd)
#include "test_tray_e2e.moc"
