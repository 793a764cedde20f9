// The memory panel in the real status item popup, offscreen: samples, the clean (held at a
// gate), palettes, keyboard, screen reader, about window, the rows beyond the chart and the
// monitor's actions, from fake figures.

#include "AXStatusItemPopup/AXStatusItemPopup.h"
#include "app/MCAboutWindowController.h"
#include "app/MCMonitorController.h"
#include "app/MCPanelWindow.h"
#include "app/MCSparklineView.h"
#include "app/PanelFixture.h"
#include "chart/SimplePieChart.h"
#include "memory/MCMemoryMonitor.h"
#include "platform/core/bundle_info.h"
#include "platform/ui/Application.h"
#include "popover/INPopoverWindow.h"
#include "popover/INPopoverWindowFrame.h"

#include <QAccessible>
#include <QApplication>
#include <QDesktopServices>
#include <QLayout>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>

namespace {

constexpr std::int64_t kGB = 1'000'000'000;

// Unevictable memory makes the wired slice big enough to be seen.
std::string meminfo(long freeKb) {
    return "MemTotal: 16777216 kB\nMemFree: " + std::to_string(freeKb) +
           " kB\nMemAvailable: 8388608 kB\nActive: 3000000 kB\nInactive: 2000000 kB\n"
           "Unevictable: 1000000 kB\nSUnreclaim: 0 kB\nKernelStack: 0 kB\nPageTables: 0 kB\n";
}

QPalette palette(QColor window, QColor text) {
    QPalette p(window);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        p.setColor(role, text);
    }
    return p;
}

// `image` painted on an opaque desktop of one colour.
QImage onDesktop(const QImage& image, QColor desktop) {
    QImage out(image.size(), QImage::Format_ARGB32);
    out.setDevicePixelRatio(image.devicePixelRatio());
    out.fill(desktop);
    QPainter painter(&out);
    painter.drawImage(QPoint(0, 0), image);
    return out;
}

// How many pixels of `region` pass `test(x, y)`.
template <typename Test>
int countPixels(const QRect& region, Test test) {
    int count = 0;
    for (int y = region.top(); y <= region.bottom(); ++y) {
        for (int x = region.left(); x <= region.right(); ++x) {
            count += test(x, y) ? 1 : 0;
        }
    }
    return count;
}

// The text in `region` stands out enough: the strongest contrast of any of its pixels against
// the background of its own row, read in column `backgroundX` (which holds no text), reaches
// 4.5:1. Anti-aliasing only lowers the figure, so this is what the glyphs' cores reach.
void expectReadable(const QImage& image, const QRect& region, int backgroundX, const char* name) {
    double best = 1.0;
    for (int y = region.top(); y <= region.bottom(); ++y) {
        const QColor background = image.pixelColor(backgroundX, y);
        for (int x = region.left(); x <= region.right(); ++x) {
            best = std::max(best, Appearance::contrastRatio(image.pixelColor(x, y), background));
        }
    }
    QVERIFY2(best >= 4.5, qPrintable(QStringLiteral("%1: %2:1").arg(name).arg(best, 0, 'f', 2)));
}

// The row of the graph's line in column x: its most saturated blue pixel; -1 where none.
int lineRow(const QImage& image, int x) {
    for (int y = 0; y < image.height(); ++y) {
        const QColor c = image.pixelColor(x, y);
        if (c.blue() > 200 && c.red() < 100 && c.green() < 100) {
            return y;
        }
    }
    return -1;
}

bool amberish(QColor c) {
    return c.red() > c.blue() + 40 && c.green() > c.blue() + 15;
}

} // namespace

class PanelTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> dir_;
    std::shared_ptr<GatedAllocator> allocator_;
    std::shared_ptr<FakeDetailsReader> details_;
    std::shared_ptr<CountingProcessReader> processes_;
    MCContentViewController* panel_ = nullptr; // kept by the popup
    std::unique_ptr<AXStatusItemPopup> popup_;
    std::unique_ptr<AppDelegateDouble> delegate_;
    RecordingNotificationCenter notifications_;
    MCTime now_ = MCTime() + std::chrono::hours(1);
    QList<QUrl> mails_; // handed to the mail program
    // Every control in the order Tab visits them after the opening.
    const QStringList ring_{"processesButton",   "cleanButton", "aboutButton",
                            "preferencesButton", "quitButton",  "plotView"};

    INPopoverController* popover() const { return popup_->popoverController(); }
    INPopoverWindowFrame* frame() const { return popover()->popoverWindow()->frameView(); }
    QWidget* control(const char* name) const {
        return panel_->view()->findChild<QWidget*>(QString::fromLatin1(name));
    }
    QString text(const char* name) const { return qobject_cast<QLabel*>(control(name))->text(); }
    QString freeText() const { return panel_->freeMemoryTextField()->text(); }
    std::vector<std::int64_t> plotData() const {
        return panel_->pieChart()->plotData().value_or(std::vector<std::int64_t>{});
    }
    // A widget's rectangle in the popover's snapshot.
    QRect inFrame(const QWidget* widget) const {
        return QRect(widget->mapTo(frame(), QPoint(0, 0)), widget->size());
    }
    QImage snapshot() const {
        QCoreApplication::processEvents();
        return popover()->popoverWindow()->snapshot().convertToFormat(
            QImage::Format_ARGB32_Premultiplied);
    }
    void open() {
        if (!popover() || !popover()->popoverIsVisible()) {
            popup_->mouseDown(QPoint(600, 0));
        }
        QTRY_VERIFY(popover()->popoverIsVisible());
        QVERIFY(QTest::qWaitForWindowActive(popover()->popoverWindow()));
    }
    // The offscreen platform does not hand the focus back to a reopened window; the window's
    // own focus widget is where its keys go.
    QWidget* focus() const { return popover()->popoverWindow()->focusWidget(); }
    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(focus(), static_cast<Qt::Key>(key), modifiers);
    }
    void tabTo(const QString& name) {
        for (int tabs = 0; focus()->objectName() != name && tabs < 6; ++tabs) {
            press(Qt::Key_Tab);
        }
        QCOMPARE(focus()->objectName(), name);
    }
    std::unique_ptr<MCMonitorController> monitor(const MCSettings& settings) {
        auto controller = std::make_unique<MCMonitorController>(
            std::make_unique<MCMemoryMonitor>(details_), panel_);
        controller->setClock([this] { return now_; });
        controller->setNotificationCenter(&notifications_);
        controller->apply(settings);
        return controller;
    }
    void finishClean() {
        allocator_->open();
        if (panel_ && panel_->cleanInProgress()) {
            QSignalSpy done(panel_, &MCContentViewController::cleanFinished);
            QVERIFY(done.wait(5000));
        }
    }

public slots:
    // Stands in for the user's mail program: Qt hands mailto addresses here, not to xdg-open.
    void openMail(const QUrl& url) { mails_.append(url); }

private slots:
    void init() {
        dir_ = std::make_unique<TempDir>();
        const std::string path = dir_->write("meminfo", meminfo(4000000));
        allocator_ = std::make_shared<GatedAllocator>();
        auto memory =
            std::make_shared<MCMemoryController>(make_host_port(path, {}, 4096), allocator_, 4096);
        details_ = std::make_shared<FakeDetailsReader>();
        details_->set(detailsWith(50, 4 * kGB, 3 * kGB, MCPressure{0, 0}));
        processes_ = std::make_shared<CountingProcessReader>();
        auto& list = processes_->processes; // each half the one before
        for (const char* name : {"firefox", "code", "gnome-shell", "Xorg", "pipewire", "sshd"}) {
            list.push_back({11 + int(list.size()), name, 3 * kGB >> list.size(), false});
        }
        notifications_.delivered.clear();
        delegate_ = std::make_unique<AppDelegateDouble>();
        delegate_->onShowAbout = [this] {
            delegate_->calls.push_back(popup_->isActive() ? "popover open" : "popover closed");
        };
        auto panel = MCContentViewController::initWithNibName("MCContentViewController", memory,
                                                              delegate_.get());
        panel_ = panel.get();
        panel_->setNotificationCenter(&notifications_);
        panel_->setDetailsReader(details_);
        panel_->setProcessReader(processes_);
        popup_ = std::make_unique<AXStatusItemPopup>(std::move(panel));
        popup_->setStatusItemPopupDelegate(panel_);
        panel_->setStatusItemPopup(popup_.get());
        popup_->setAnimated(false);
        open();
    }

    void cleanup() {
        finishClean();
        QThreadPool::globalInstance()->waitForDone();
        popup_.reset();
        QApplication::setPalette(QPalette());
    }

    // The opening samples and draws at once, then a timer refreshes every two seconds. A later
    // opening shows the last figures and waits for the timer; however often the panel is shown,
    // it keeps one timer. A failed sample leaves the text and draws zeros.
    void showsTheFiguresAndRefreshesThem() {
        QCOMPARE(freeText(), QStringLiteral("3.81 GB"));
        QCOMPARE(plotData(), (std::vector<std::int64_t>{1000000 * 1024LL, 3000000 * 1024LL,
                                                        2000000 * 1024LL, 4000000 * 1024LL}));
        QVERIFY(panel_->timer()->isActive());
        QCOMPARE(panel_->timer()->interval(), 2000);
        QVERIFY(!panel_->timer()->isSingleShot());

        popup_->hidePopover();
        QVERIFY(!panel_->timer()->isActive());
        dir_->write("meminfo", meminfo(8000000));
        open();
        QCOMPARE(freeText(), QStringLiteral("3.81 GB")); // no sample at this show
        QVERIFY(panel_->timer()->isActive());
        panel_->popoverDidShow();
        panel_->popoverDidShow();
        QCOMPARE(panel_->findChildren<QTimer*>().size(), 1);

        panel_->setRefreshInterval(10);
        QTRY_COMPARE(freeText(), QStringLiteral("7.63 GB"));
        QCOMPARE(plotData().back(), 8000000 * 1024LL);

        panel_->setRefreshInterval(2000);
        dir_->write("meminfo", "MemFree: garbage\n");
        panel_->refreshMemoryUsage();
        QCOMPARE(freeText(), QStringLiteral("7.63 GB"));
        QCOMPARE(plotData(), (std::vector<std::int64_t>{0, 0, 0, 0}));
    }

    void cleanRunsInTheBackground_data() {
        QTest::addColumn<long>("freeKbAfter");
        QTest::addColumn<bool>("popoverOpen");
        QTest::addColumn<QString>("text");
        QTest::newRow("freed, closed") << 4002048L << false << "2.00 MB memory is cleaned!";
        QTest::newRow("nothing freed") << 4000000L << true << "Enjoy your life!";
    }

    void cleanRunsInTheBackground() {
        QFETCH(long, freeKbAfter);
        QFETCH(bool, popoverOpen);
        QFETCH(QString, text);
        QSignalSpy done(panel_, &MCContentViewController::cleanFinished);
        // "Cleaning..." first, then the share done, rising to 100 %.
        std::vector<int> shares;
        connect(panel_, &MCContentViewController::cleanProgressShown, this, [&](int percent) {
            QCOMPARE(panel_->cleanButton()->text(),
                     QStringLiteral("Cleaning... %1 %").arg(percent));
            QVERIFY(!panel_->cleanButton()->isEnabled());
            QVERIFY(shares.empty() || percent > shares.back());
            shares.push_back(percent);
        });

        QTest::mouseClick(panel_->cleanButton(), Qt::LeftButton);
        QVERIFY(!panel_->cleanButton()->isEnabled());
        QCOMPARE(panel_->cleanButton()->text(), QStringLiteral("Cleaning..."));
        QVERIFY(!panel_->timer()->isActive());

        // A show while cleaning starts no timer.
        panel_->popoverDidShow();
        QVERIFY(!panel_->timer()->isActive());
        QTRY_COMPARE(allocator_->passes(), 1); // the clean really waits in its first pass

        if (!popoverOpen) {
            popup_->hidePopover();
        }
        dir_->write("meminfo", meminfo(freeKbAfter));
        allocator_->open();
        QVERIFY(done.wait(5000));

        QCOMPARE(shares.empty() ? 0 : shares.back(), 100);
        QVERIFY(panel_->cleanButton()->isEnabled());
        QCOMPARE(panel_->cleanButton()->text(), QStringLiteral("Clean Memory"));
        QCOMPARE(panel_->timer()->isActive(), popoverOpen);
        QCOMPARE(notifications_.delivered.size(), std::size_t{1});
        const UserNotification& n = notifications_.delivered.front();
        QCOMPARE((QStringList{n.title, n.informativeText, n.soundName}),
                 (QStringList{"Memory Clean Done", text, "message-new-instant"}));
        QCOMPARE(plotData().back(), freeKbAfter * 1024); // one refresh after the clean
        QTRY_COMPARE(
            delegate_->events(),
            (std::vector<std::string>{"PopoverShown", "CleanButtonClicked", "PopoverShown"}));
    }

    // The clean outlives its panel: its progress and its end must reach nobody.
    void panelGoneMidCleanHearsNothing() {
        panel_->cleanMemoryButtonClicked();
        QTRY_COMPARE(allocator_->passes(), 1);
        popup_.reset();
        panel_ = nullptr;
        allocator_->open();
        QVERIFY(QThreadPool::globalInstance()->waitForDone(5000));
        QCoreApplication::processEvents(); // where a queued end would arrive
        QVERIFY(notifications_.delivered.empty());
    }

    // Light palettes keep the popover's own look; a dark one is taken at run time and given
    // back, the slices keeping their colours. The dark palette's own text is too dim to read:
    // the panel draws with the legible colours worked out for it, on a white desktop, the
    // hardest case for the translucent body.
    void paletteSwitchesAtRunTimeAndTextsStayReadable() {
        const QImage light = snapshot();
        QApplication::setPalette(palette(QColor(0xd8, 0xd0, 0xc4), QColor(0x30, 0x20, 0x10)));
        QCOMPARE(snapshot(), light);
        const QPalette dim = palette(QColor(0x30, 0x30, 0x30), QColor(0x90, 0x90, 0x90));
        QApplication::setPalette(dim);
        const QImage dark = snapshot();
        for (QRgb slice :
             {qRgb(228, 92, 56), qRgb(235, 200, 94), qRgb(76, 175, 175), qRgb(77, 175, 123)}) {
            const auto pixels = [slice](const QImage& shot) {
                const QImage image = onDesktop(shot, Qt::white);
                return countPixels(image.rect(), [&](int x, int y) {
                    return (image.pixel(x, y) | 0xff000000u) == slice;
                });
            };
            QVERIFY2(pixels(light) > 100, qPrintable(QColor(slice).name()));
            QCOMPARE(pixels(dark), pixels(light));
        }
        const QImage image = onDesktop(dark, Qt::white);
        const QColor body = image.pixelColor(frame()->width() / 2, frame()->height() - 14);
        QVERIFY2(Appearance::relativeLuminance(body) < 0.1, qPrintable(body.name()));
        for (const char* name : {"freeMemoryCaption", "freeMemoryTextField", "cleanButton",
                                 "aboutButton", "quitButton"}) {
            // A button's text against its own face, a label's against the body beside it.
            const int in = QByteArray(name).endsWith("Button") ? 3 : 0;
            const QRect r = inFrame(control(name)).adjusted(in, in, -in, -in);
            expectReadable(image, r, in ? r.left() : r.left() - 2, name);
        }
        const QPoint hosting =
            panel_->pieChart()->defaultLayerHostingView()->mapTo(frame(), QPoint(0, 0));
        const CPTLegend::Layout legend = panel_->pieChart()->graphs().front()->legendLayout();
        QCOMPARE(legend.entries.size(), std::size_t{4});
        for (const auto& entry : legend.entries) {
            const QRect r = entry.titleRect.toAlignedRect().translated(hosting);
            expectReadable(image, r, r.left() - 2, "legend");
        }

        QApplication::setPalette(QPalette());
        QCOMPARE(snapshot(), light);
    }

    // One window, brought to the front again: the version, the copyright line as configured
    // (its "©" read as UTF-8), the contact button handing the mail link to the mail program; it
    // and the panel's own window follow the palette, and back.
    void aboutWindowAndPanelWindow() {
        MCAboutWindowController about;
        about.showWindow();
        QWidget* window = about.window();
        QCOMPARE(about.versionTextField()->text(), QStringLiteral("Version: " BRIMWELL_VERSION));
        const auto copyright =
            platform::objectForInfoDictionaryKey(platform::kNSHumanReadableCopyright);
        QVERIFY(copyright && !copyright->empty());
        QCOMPARE(about.copyrightTextField()->text(), QString::fromUtf8(*copyright));
        about.showWindow();
        QCOMPARE(about.window(), window);

        QDesktopServices::setUrlHandler(QStringLiteral("mailto"), this, "openMail");
        QTest::mouseClick(window->findChild<QWidget*>(QStringLiteral("contactUsButton")),
                          Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
        QCOMPARE(mails_, QList<QUrl>{*MCAboutWindowController::contactUrl(BRIMWELL_VERSION)});

        const QImage light = window->grab().toImage();
        MCPanelWindow panelWindow(MCContentViewController::initWithNibName(
            "MCContentViewController", panel_->memoryController()));
        QCOMPARE(panelWindow.palette().color(QPalette::Window), QColor(0xf6, 0xf7, 0xf9));

        QApplication::setPalette(palette(QColor(0x2a, 0x2e, 0x32), QColor(0xfc, 0xfc, 0xfc)));
        QCOMPARE(panelWindow.palette().color(QPalette::Window), QColor(0x2a, 0x2e, 0x32));
        const QImage dark = window->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        QVERIFY(Appearance::relativeLuminance(dark.pixelColor(4, 4)) < 0.1);
        for (const char* name :
             {"nameLabel", "versionTextField", "summaryLabel", "copyrightTextField"}) {
            auto* label = window->findChild<QLabel*>(QString::fromLatin1(name));
            expectReadable(dark, QRect(label->mapTo(window, QPoint(0, 0)), label->size()), 4, name);
        }

        QApplication::setPalette(QPalette());
        QCOMPARE(window->grab().toImage(), light);
        QCOMPARE(panelWindow.palette().color(QPalette::Window), QColor(0xf6, 0xf7, 0xf9));

        // The version goes into the subject; one the address cannot carry gives no address.
        const QString address = QStringLiteral("mailto:support@brimwell.app?Subject=[Brimwell_");
        const struct {
            const char* version;
            const char* subject; // none: no address
        } cases[] = {
            {"1 2 3", "1%202%203]"}, {"1.2\"x", nullptr}, {"1.2%zz", nullptr},
            {"1.2\u00fc", nullptr},  {"1.2\tx", nullptr},
        };
        for (const auto& c : cases) {
            const auto made = MCAboutWindowController::contactUrl(QString::fromUtf8(c.version));
            QCOMPARE(made ? made->toString(QUrl::FullyEncoded) : QStringLiteral("none"),
                     c.subject ? address + QLatin1String(c.subject) : QStringLiteral("none"));
        }
    }

    void tabShowsTheFocusOnEveryControl_data() {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }

    void tabShowsTheFocusOnEveryControl() {
        QFETCH(bool, dark);
        if (dark) {
            QApplication::setPalette(palette(QColor(0x2a, 0x2e, 0x32), QColor(0xfc, 0xfc, 0xfc)));
        }
        QVERIFY(popover()->popoverWindow()->isActiveWindow());
        QCOMPARE(focus(), control("plotView"));
        const QImage opened = snapshot();
        for (const QString& name : ring_) {
            press(Qt::Key_Tab);
            QCOMPARE(focus()->objectName(), name);
            const QImage focused = snapshot();
            const auto differing = [&](const QRect& region) {
                return countPixels(region, [&](int x, int y) {
                    return focused.pixel(x, y) != opened.pixel(x, y);
                });
            };
            const int changed = differing(inFrame(focus()).adjusted(-2, -2, 2, 2));
            QVERIFY2(changed >= focus()->width() + focus()->height(),
                     qPrintable(QStringLiteral("%1: %2 pixels changed").arg(name).arg(changed)));
            QCOMPARE(differing(focused.rect()), changed);
        }
        // Back from the chart: the ring walked the other way, ending at the chart again.
        for (qsizetype i = ring_.size() - 2; i >= -1; --i) {
            press(Qt::Key_Backtab, Qt::ShiftModifier);
            QCOMPARE(focus()->objectName(), ring_[(i + ring_.size()) % ring_.size()]);
        }
        // Without any control's focus the popover looks as it did when opened: no ring then.
        frame()->setFocusPolicy(Qt::ClickFocus);
        frame()->setFocus(Qt::OtherFocusReason);
        QCOMPARE(snapshot(), opened);
    }

    // Each control with one of the keys that activate a control.
    void keysActivateTheFocusedControl_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("clean, Return") << "cleanButton" << int(Qt::Key_Return) << 0;
        QTest::newRow("about, Enter")
            << "aboutButton" << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
        QTest::newRow("quit, Space") << "quitButton" << int(Qt::Key_Space) << 0;
    }

    // Each control does its own thing and nothing else, and reports its usage event.
    void keysActivateTheFocusedControl() {
        QFETCH(QString, name);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QSignalSpy terminate(Application::sharedApplication(), &Application::terminateRequested);
        tabTo(name);
        press(key, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(panel_->cleanInProgress(), name == "cleanButton");
        QCOMPARE(terminate.size(), name == "quitButton" ? 1 : 0);
        const std::vector<std::string> about{"showAboutWindow", "popover open"};
        QCOMPARE(delegate_->calls, name == "aboutButton" ? about : std::vector<std::string>{});
        if (name == "aboutButton") {
            QTRY_VERIFY(!popover()->popoverIsVisible());
        }
        const std::string event = name == "cleanButton"   ? "CleanButtonClicked"
                                  : name == "aboutButton" ? "AboutShown"
                                                          : "QuitButtonClicked";
        QTRY_COMPARE(delegate_->events(), (std::vector<std::string>{"PopoverShown", event}));
    }

    // A modified or repeated Return does not clean. No control swallows Escape: whatever holds
    // the focus, the popover closes.
    void modifiedReturnDoesNothingAndEscapeClosesFromEveryControl() {
        tabTo(QStringLiteral("cleanButton"));
        press(Qt::Key_Return, Qt::ControlModifier);
        press(Qt::Key_Return, Qt::AltModifier);
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(focus(), &repeat);
        QVERIFY(!panel_->cleanInProgress());
        for (const QString& name : ring_) {
            open();
            tabTo(name);
            press(Qt::Key_Escape);
            QTRY_VERIFY2(!popover()->popoverIsVisible(), qPrintable(name));
            QVERIFY(!popup_->isActive());
        }
        open();
    }

    void chartAndFreeMemoryAreNamedForScreenReaders() {
        QAccessibleInterface* accessible =
            QAccessible::queryAccessibleInterface(control("plotView"));
        QCOMPARE(accessible->role(), QAccessible::Chart);
        QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("Memory usage chart"));
        dir_->write("meminfo", meminfo(9000000));
        panel_->refreshMemoryUsage();
        QCOMPARE(accessible->text(QAccessible::Description),
                 QStringLiteral("Wired 976.56 MB (7%), Active 2.86 GB (20%), "
                                "Inactive 1.91 GB (13%), Free 8.58 GB (60%)"));
        const struct {
            std::vector<std::int64_t> data;
            const char* text;
        } cases[] = {
            {{1, 0, 0, 999},
             "Wired 1 B (under 1%), Active 0 B (0%), Inactive 0 B (0%), Free 999 B (100%)"},
            {{0, 0, 0, 0}, "No memory figures available"},
            {{20, 30, 60}, "No memory figures available"},
        };
        for (const auto& c : cases) {
            QCOMPARE(MCContentViewController::chartDescription(c.data), QString::fromUtf8(c.text));
        }
        QCOMPARE(qobject_cast<QLabel*>(control("freeMemoryCaption"))->buddy(),
                 panel_->freeMemoryTextField());
        const auto labels = QAccessible::queryAccessibleInterface(panel_->freeMemoryTextField())
                                ->relations(QAccessible::Label);
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels.front().first->text(QAccessible::Name), QStringLiteral("Free memory"));
    }

    void rowsFollowTheDetails() {
        const struct {
            const char* name;
            MCMemoryDetails details;
            const char* available;
            const char* swap;     // empty: the row is hidden
            const char* pressure; // the same
        } cases[] = {
            {"no swap, no PSI", detailsWith(25), "11.18 GB of 14.90 GB", "", ""},
            {"swap, calm", detailsWith(50, 4 * kGB, 3 * kGB, MCPressure{0.5, 0}),
             "7.45 GB of 14.90 GB", "953.67 MB / 3.73 GB", "none"},
            {"thrashing", detailsWith(99, 0, 0, MCPressure{60, 25}), "152.59 MB of 14.90 GB", "",
             "high"},
        };
        // A row's text, or nothing while it is hidden.
        const auto shown = [](QWidget* row, QLabel* field) {
            return row->isHidden() ? QString() : field->text();
        };
        for (const auto& c : cases) {
            details_->set(c.details);
            panel_->refreshMemoryUsage();
            QCOMPARE(panel_->availableTextField()->text(), QString::fromUtf8(c.available));
            QCOMPARE(shown(panel_->swapRow(), panel_->swapTextField()), QString::fromUtf8(c.swap));
            QCOMPARE(shown(panel_->pressureRow(), panel_->pressureTextField()),
                     QString::fromUtf8(c.pressure));
            // The popover holds exactly the rows shown: no gap where a hidden row was.
            QVERIFY2(popover()->contentSize().height ==
                         double(panel_->view()->layout()->sizeHint().height()),
                     c.name);

            // A reading that fails leaves the rows as they were.
            details_->set(std::nullopt);
            panel_->refreshMemoryUsage();
            QCOMPARE(panel_->availableTextField()->text(), QString::fromUtf8(c.available));
            QCOMPARE(shown(panel_->pressureRow(), panel_->pressureTextField()),
                     QString::fromUtf8(c.pressure));
        }
    }

    void sparklineDrawsTheHistory() {
        // Five minutes at a quarter used, then five at three quarters, the last 100 seconds
        // under some pressure.
        MCMemoryHistory history;
        for (int i = 0; i < 120; ++i) {
            history.add({now_ + std::chrono::seconds(5 * i), i < 60 ? 0.25 : 0.75,
                         i >= 100 ? MCPressure{20, 0} : MCPressure{0, 0}});
        }
        MCSparklineView view;
        view.resize(240, 40);
        view.setColors(QColor(0, 0, 255), QColor(0xf5, 0xa5, 0x24), QColor(0xe5, 0x48, 0x4d));
        const auto render = [&view] {
            QImage image(view.size(), QImage::Format_ARGB32);
            image.fill(Qt::white);
            view.render(&image);
            return image;
        };
        const QImage empty = render();
        QCOMPARE(countPixels(QRect(0, 0, empty.width(), 1),
                             [&](int x, int) { return lineRow(empty, x) != -1; }),
                 0);

        view.setHistory(history);
        const QImage image = render();
        // Used fraction f sits at (1 - f) of the height: 30 for the first half, 10 after.
        for (int x : {10, 60, 110, 130, 180, 230}) {
            QVERIFY2(std::abs(lineRow(image, x) - (x < 120 ? 30 : 10)) <= 1,
                     qPrintable(QString::number(x)));
        }
        // Pressure shades the last 100 of 600 seconds: the right sixth, from x = 200.
        for (int x : {50, 190, 215, 238}) {
            QCOMPARE(amberish(image.pixelColor(x, 3)), x >= 200);
        }
    }

    // The biggest processes are read only while their section is open, on each refresh and each
    // later opening; the popover grows to hold them, on the screen, and back.
    void processSectionReadsOnlyWhileOpenAndGrowsThePopover() {
        QWidget* window = popover()->popoverWindow();
        const QRect closed = window->geometry();
        panel_->refreshMemoryUsage();
        panel_->popoverDidShow();
        QThreadPool::globalInstance()->waitForDone();
        QCOMPARE(processes_->reads.load(), 0);

        QSignalSpy shown(panel_, &MCContentViewController::processesShown);
        QTest::mouseClick(panel_->processesButton(), Qt::LeftButton);
        QVERIFY(shown.wait(5000));
        QCOMPARE(processes_->reads.load(), 1);
        // The five biggest, biggest first; the sixth is left out.
        QCOMPARE(text("processName1"), QStringLiteral("firefox"));
        QCOMPARE(text("processSize1"), QStringLiteral("2.79 GB"));
        QCOMPARE(text("processName5"), QStringLiteral("pipewire"));
        QCOMPARE(text("processSize5"), QStringLiteral("178.81 MB"));
        QCOMPARE(panel_->shownProcesses().size(), std::size_t{5});
        // Five more lines, and the popover follows, the section above the clean button.
        QTRY_VERIFY(window->geometry().height() >= closed.height() + 5 * 12);
        QVERIFY(panel_->processesSection()->geometry().bottom() <
                panel_->cleanButton()->geometry().top());

        panel_->refreshMemoryUsage();
        QVERIFY(shown.wait(5000));
        panel_->popoverDidShow();
        QVERIFY(shown.wait(5000));
        QCOMPARE(processes_->reads.load(), 3);

        QTest::mouseClick(panel_->processesButton(), Qt::LeftButton);
        QVERIFY(panel_->processesSection()->isHidden());
        QTRY_COMPARE(window->geometry(), closed);
        panel_->refreshMemoryUsage();
        panel_->popoverDidShow();
        QThreadPool::globalInstance()->waitForDone();
        QCOMPARE(processes_->reads.load(), 3);
    }

    void autoCleanRunsWithoutAClickOnItsOwnInterval() {
        MCSettings settings;
        settings.autoClean.enabled = true;
        settings.autoClean.intervalMinutes = 30;
        settings.lowMemory.enabled = false;
        details_->set(detailsWith(95));
        auto controller = monitor(settings);
        QSignalSpy started(panel_, &MCContentViewController::cleanStarted);
        controller->tick();
        QCOMPARE(started.size(), 1);
        QCOMPARE(started.at(0).at(0).toBool(), true);

        // Long after its interval, but the clean still runs: nothing more starts.
        now_ += std::chrono::hours(2);
        controller->tick();
        QCOMPARE(started.size(), 1);
        finishClean();
        QCOMPARE(notifications_.delivered.size(), std::size_t{1});
        // Events go out in order: one sent now comes after any the clean would have sent.
        panel_->showAbout();
        QTRY_COMPARE(delegate_->events(), (std::vector<std::string>{"PopoverShown", "AboutShown"}));

        // A clean of the user's restarts the interval.
        panel_->cleanMemoryButtonClicked();
        finishClean();
        now_ += std::chrono::minutes(29);
        controller->tick();
        QCOMPARE(started.size(), 2);
        now_ += std::chrono::minutes(1);
        controller->tick();
        QCOMPARE(started.size(), 3);
    }

    // Pressure that lasts gives its own reason (low memory's reaches the daemon in the tray's
    // end-to-end test).
    void highPressureNotifiesWithItsReason() {
        details_->set(detailsWith(60, 0, 0, MCPressure{70, 30}));
        auto controller = monitor(MCSettings{});
        for (int tick = 0; tick < 3; ++tick) {
            controller->tick();
            now_ += std::chrono::seconds(5);
        }
        QCOMPARE(notifications_.delivered.size(), std::size_t{1});
        QCOMPARE(notifications_.delivered[0].title, QStringLiteral("Memory pressure is high"));
        QCOMPARE(notifications_.delivered[0].informativeText,
                 QStringLiteral("Programs keep waiting for memory. 5.96 GB available (40 %). "
                                "Closing a big program helps."));
    }
};

QTEST_MAIN(PanelTest)
#include "test_panel.moc"
