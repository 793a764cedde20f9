// The popover as the user sees it, on the offscreen platform: the real status item popup, its
// popover and the memory panel, in light and dark palettes, driven by the keyboard and read
// as a screen reader reads it.

#include "AXStatusItemPopup/AXStatusItemPopup.h"
#include "app/MCAboutWindowController.h"
#include "app/MCPanelWindow.h"
#include "app/PanelFixture.h"
#include "chart/SimplePieChart.h"
#include "platform/ui/Application.h"
#include "popover/INPopoverWindow.h"
#include "popover/INPopoverWindowFrame.h"

#include <QAccessible>
#include <QApplication>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

namespace {

// Unevictable memory makes the wired slice big enough to be seen.
std::string meminfo(long freeKb) {
    return "MemTotal: 16777216 kB\nMemFree: " + std::to_string(freeKb) +
           " kB\nMemAvailable: 8388608 kB\nActive: 3000000 kB\nInactive: 2000000 kB\n"
           "Unevictable: 1000000 kB\nSUnreclaim: 0 kB\nKernelStack: 0 kB\nPageTables: 0 kB\n";
}

QPalette palette(QColor window, QColor text) {
    QPalette p(window);
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Window, window);
        p.setColor(group, QPalette::WindowText, text);
        p.setColor(group, QPalette::Text, text);
        p.setColor(group, QPalette::ButtonText, text);
    }
    return p;
}

QPalette breezeDark() {
    return palette(QColor(0x2a, 0x2e, 0x32), QColor(0xfc, 0xfc, 0xfc));
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

// How far the text in `region` stands out: the strongest contrast of any of its pixels
// against the background of its own row, read in column `backgroundX` (which holds no text).
// Anti-aliasing only lowers the figure, so this is what the glyphs' cores reach.
double textContrast(const QImage& image, const QRect& region, int backgroundX) {
    double best = 1.0;
    for (int y = region.top(); y <= region.bottom(); ++y) {
        const QColor background = image.pixelColor(backgroundX, y);
        for (int x = region.left(); x <= region.right(); ++x) {
            best = std::max(best, Appearance::contrastRatio(image.pixelColor(x, y), background));
        }
    }
    return best;
}

// How many pixels of `image` inside `region` differ from `other`.
int differingPixels(const QImage& image, const QImage& other, const QRect& region) {
    int count = 0;
    for (int y = region.top(); y <= region.bottom(); ++y) {
        for (int x = region.left(); x <= region.right(); ++x) {
            count += image.pixel(x, y) != other.pixel(x, y);
        }
    }
    return count;
}

int pixelsOfColour(const QImage& image, QRgb colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += (image.pixel(x, y) | 0xff000000u) == colour;
        }
    }
    return count;
}

} // namespace

class PanelLookTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> dir_;
    std::shared_ptr<GatedAllocator> allocator_;
    MCContentViewController* panel_ = nullptr; // kept by the popup
    std::unique_ptr<AXStatusItemPopup> popup_;
    CallLog log_;
    std::unique_ptr<AppDelegateDouble> delegate_;
    RecordingNotificationCenter notifications_;

    INPopoverController* popover() const { return popup_->popoverController(); }
    INPopoverWindowFrame* frame() const { return popover()->popoverWindow()->frameView(); }
    QWidget* control(const char* name) const {
        return panel_->view()->findChild<QWidget*>(QString::fromLatin1(name));
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
    QWidget* focus() const { return QApplication::focusWidget(); }
    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(focus(), static_cast<Qt::Key>(key), modifiers);
    }

private slots:
    void init() {
        QApplication::setPalette(QPalette());
        dir_ = std::make_unique<TempDir>();
        const std::string path = dir_->write("meminfo", meminfo(4000000));
        allocator_ = std::make_shared<GatedAllocator>();
        auto memory =
            std::make_shared<MCMemoryController>(make_host_port(path, {}, 4096), allocator_, 4096);
        log_.calls.clear();
        delegate_ = std::make_unique<AppDelegateDouble>(log_);
        auto panel = MCContentViewController::initWithNibName("MCContentViewController", memory,
                                                              delegate_.get());
        QVERIFY(panel);
        panel_ = panel.get();
        panel_->setNotificationCenter(&notifications_);
        popup_ = std::make_unique<AXStatusItemPopup>(std::move(panel));
        popup_->setStatusItemPopupDelegate(panel_);
        panel_->setStatusItemPopup(popup_.get());
        popup_->setAnimated(false);
        open();
    }

    void cleanup() {
        allocator_->open();
        if (panel_->cleanInProgress()) {
            QSignalSpy done(panel_, &MCContentViewController::cleanFinished);
            QVERIFY(done.wait(5000));
        }
        popup_.reset();
        panel_ = nullptr;
        QApplication::setPalette(QPalette());
    }

    // Colours.

    void lightPalettesKeepOneLook_data() {
        QTest::addColumn<QPalette>("light");
        QTest::newRow("breeze") << palette(QColor(0xef, 0xf0, 0xf1), QColor(0x23, 0x26, 0x29));
        QTest::newRow("white") << palette(Qt::white, Qt::black);
        QTest::newRow("warm grey") << palette(QColor(0xd8, 0xd0, 0xc4), QColor(0x30, 0x20, 0x10));
    }

    void lightPalettesKeepOneLook() {
        QFETCH(QPalette, light);
        const QImage standard = snapshot();
        QApplication::setPalette(light);
        QCOMPARE(snapshot(), standard);
        // The body is the popover's own light fill, not the palette's window colour.
        QCOMPARE(popover()->color(), QColor::fromRgbF(0.94f, 0.94f, 0.94f, 0.92f));
        const QPoint body(frame()->width() / 2, frame()->height() - 14);
        QCOMPARE(standard.pixelColor(body).rgba(),
                 QColor::fromRgbF(0.94f, 0.94f, 0.94f, 0.92f).rgba());
    }

    void darkPaletteDarkensTheBodyAndLightensTheTexts_data() {
        QTest::addColumn<QPalette>("dark");
        QTest::addColumn<QColor>("desktop");
        QTest::newRow("breeze dark, white desktop") << breezeDark() << QColor(Qt::white);
        QTest::newRow("breeze dark, slate desktop") << breezeDark() << QColor(0x3a, 0x41, 0x50);
        QTest::newRow("adwaita dark, black desktop")
            << palette(QColor(0x24, 0x24, 0x24), Qt::white) << QColor(Qt::black);
        QTest::newRow("grey text")
            << palette(QColor(0x30, 0x30, 0x30), QColor(0x90, 0x90, 0x90)) << QColor(Qt::white);
    }

    void darkPaletteDarkensTheBodyAndLightensTheTexts() {
        QFETCH(QPalette, dark);
        QFETCH(QColor, desktop);
        QApplication::setPalette(dark);
        const QImage image = onDesktop(snapshot(), desktop);

        QColor fill = dark.color(QPalette::Window);
        fill.setAlphaF(0.92f);
        QCOMPARE(popover()->color(), fill);
        const QColor body = image.pixelColor(frame()->width() / 2, frame()->height() - 14);
        QVERIFY2(Appearance::relativeLuminance(body) < 0.1, qPrintable(body.name()));

        struct Text {
            const char* name;
            QRect region;
            int backgroundX;
        };
        std::vector<Text> texts;
        for (const char* name : {"freeMemoryCaption", "freeMemoryTextField"}) {
            const QRect r = inFrame(control(name));
            texts.push_back({name, r, r.left() - 2});
        }
        for (const char* name : {"cleanButton", "aboutButton", "quitButton"}) {
            const QRect r = inFrame(control(name)).adjusted(3, 3, -3, -3);
            texts.push_back({name, r, r.left()});
        }
        const auto& graph = *panel_->pieChart()->graphs().front();
        const QPoint hosting =
            panel_->pieChart()->defaultLayerHostingView()->mapTo(frame(), QPoint(0, 0));
        const CPTLegend::Layout legend = graph.legendLayout();
        QCOMPARE(legend.entries.size(), std::size_t{4});
        for (const auto& entry : legend.entries) {
            const QRect r = entry.titleRect.toAlignedRect().translated(hosting);
            texts.push_back({"legend", r, r.left() - 2});
        }
        for (const Text& text : texts) {
            const double contrast = textContrast(image, text.region, text.backgroundX);
            QVERIFY2(contrast >= 4.5, qPrintable(QStringLiteral("%1: %2:1")
                                                     .arg(QLatin1String(text.name))
                                                     .arg(contrast, 0, 'f', 2)));
        }
    }

    void slicesKeepTheirColoursInTheDark() {
        const QImage light = onDesktop(snapshot(), Qt::white);
        QApplication::setPalette(breezeDark());
        const QImage dark = onDesktop(snapshot(), Qt::white);
        for (QRgb slice :
             {qRgb(228, 92, 56), qRgb(235, 200, 94), qRgb(76, 175, 175), qRgb(77, 175, 123)}) {
            const int count = pixelsOfColour(light, slice);
            QVERIFY2(count > 100, qPrintable(QColor(slice).name()));
            QCOMPARE(pixelsOfColour(dark, slice), count);
        }
    }

    void paletteSwitchesAtRunTime() {
        const QImage light = snapshot();
        QApplication::setPalette(breezeDark());
        const QImage dark = snapshot();
        QVERIFY(dark != light);
        QVERIFY(panel_->pieChart()->textColor().has_value());
        QApplication::setPalette(QPalette());
        QCOMPARE(snapshot(), light);
        QVERIFY(!panel_->pieChart()->textColor().has_value());
    }

    void aboutWindowFollowsThePalette() {
        MCAboutWindowController about;
        about.showWindow();
        QWidget* window = about.window();
        const QImage light = window->grab().toImage();
        QApplication::setPalette(breezeDark());
        const QImage dark = window->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        QVERIFY(Appearance::relativeLuminance(dark.pixelColor(4, 4)) < 0.1);
        for (const char* name :
             {"nameLabel", "versionTextField", "summaryLabel", "copyrightTextField"}) {
            auto* label = window->findChild<QLabel*>(QString::fromLatin1(name));
            QVERIFY(label);
            const QRect r(label->mapTo(window, QPoint(0, 0)), label->size());
            const double contrast = textContrast(dark, r, 4);
            QVERIFY2(
                contrast >= 4.5,
                qPrintable(
                    QStringLiteral("%1: %2:1").arg(QLatin1String(name)).arg(contrast, 0, 'f', 2)));
        }
        QApplication::setPalette(QPalette());
        QCOMPARE(window->grab().toImage(), light);
    }

    void panelWindowFollowsThePalette() {
        MCPanelWindow window(MCContentViewController::initWithNibName("MCContentViewController",
                                                                      panel_->memoryController()));
        const QColor light = window.palette().color(QPalette::Window);
        QCOMPARE(light, QColor(0xf6, 0xf7, 0xf9));
        QApplication::setPalette(breezeDark());
        QCOMPARE(window.palette().color(QPalette::Window), QColor(0x2a, 0x2e, 0x32));
        QApplication::setPalette(QPalette());
        QCOMPARE(window.palette().color(QPalette::Window), light);
    }

    // Keyboard.

    void popoverTakesTheFocusOnTheChart() {
        QVERIFY(popover()->popoverWindow()->isActiveWindow());
        QCOMPARE(focus(), control("plotView"));
        // Focus that came with the opening shows no ring: a mouse user sees the usual look.
        const QImage opened = snapshot();
        frame()->setFocusPolicy(Qt::ClickFocus);
        frame()->setFocus(Qt::OtherFocusReason);
        QCOMPARE(snapshot(), opened);
        control("plotView")->setFocus(Qt::ActiveWindowFocusReason);
        press(Qt::Key_Tab);
        QCOMPARE(focus(), control("processesButton"));
        popup_->hidePopover();
        QTRY_VERIFY(!popover()->popoverIsVisible());
        popup_->mouseDown(QPoint(600, 0));
        QTRY_VERIFY(popover()->popoverIsVisible());
        // Every opening starts on the chart again. (The offscreen platform does not activate a
        // window that comes back; the desktop end-to-end test sees the real activation.)
        QCOMPARE(popover()->popoverWindow()->focusWidget(), control("plotView"));
    }

    void tabReachesEveryControl_data() {
        QTest::addColumn<bool>("cleaning");
        QTest::addColumn<QStringList>("forward");
        QTest::addColumn<QStringList>("backward");
        QTest::newRow("at rest") << false
                                 << QStringList{"processesButton",   "cleanButton", "aboutButton",
                                                "preferencesButton", "quitButton",  "plotView"}
                                 << QStringList{"quitButton",  "preferencesButton", "aboutButton",
                                                "cleanButton", "processesButton",   "plotView"};
        QTest::newRow("while cleaning")
            << true
            << QStringList{"processesButton", "aboutButton", "preferencesButton", "quitButton",
                           "plotView"}
            << QStringList{"quitButton", "preferencesButton", "aboutButton", "processesButton",
                           "plotView"};
    }

    void tabReachesEveryControl() {
        QFETCH(bool, cleaning);
        QFETCH(QStringList, forward);
        QFETCH(QStringList, backward);
        if (cleaning) {
            panel_->cleanMemoryButtonClicked();
        }
        QCOMPARE(focus(), control("plotView"));
        QStringList seen;
        for (qsizetype i = 0; i < forward.size(); ++i) {
            press(Qt::Key_Tab);
            seen << focus()->objectName();
        }
        QCOMPARE(seen, forward);
        seen.clear();
        for (qsizetype i = 0; i < backward.size(); ++i) {
            press(Qt::Key_Backtab, Qt::ShiftModifier);
            seen << focus()->objectName();
        }
        QCOMPARE(seen, backward);
    }

    void keysActivateTheFocusedControl_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        for (const char* name : {"cleanButton", "aboutButton", "quitButton"}) {
            QTest::addRow("%s Return", name) << name << int(Qt::Key_Return) << 0;
            QTest::addRow("%s Enter", name)
                << name << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
            QTest::addRow("%s Space", name) << name << int(Qt::Key_Space) << 0;
        }
    }

    void keysActivateTheFocusedControl() {
        QFETCH(QString, name);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QSignalSpy terminate(Application::sharedApplication(), &Application::terminateRequested);
        while (focus()->objectName() != name) {
            press(Qt::Key_Tab);
        }
        press(key, Qt::KeyboardModifiers(modifiers));
        if (name == "cleanButton") {
            QVERIFY(panel_->cleanInProgress());
            QCOMPARE(panel_->cleanButton()->text(), QStringLiteral("Cleaning..."));
        } else if (name == "aboutButton") {
            QCOMPARE(log_.calls, std::vector<std::string>{"showAboutWindow"});
            QTRY_VERIFY(!popover()->popoverIsVisible());
        } else {
            QCOMPARE(terminate.size(), 1);
        }
        if (name != "cleanButton") {
            QVERIFY(!panel_->cleanInProgress());
        }
        if (name != "quitButton") {
            QCOMPARE(terminate.size(), 0);
        }
    }

    void modifiedOrRepeatedReturnDoesNothing() {
        while (focus()->objectName() != QStringLiteral("cleanButton")) {
            press(Qt::Key_Tab);
        }
        press(Qt::Key_Return, Qt::ControlModifier);
        press(Qt::Key_Return, Qt::AltModifier);
        QVERIFY(!panel_->cleanInProgress());
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(focus(), &repeat);
        QVERIFY(!panel_->cleanInProgress());
    }

    void escapeClosesFromEveryControl() {
        // No control swallows Escape: whatever holds the focus, the popover closes.
        const QStringList controls{"plotView",    "processesButton",   "cleanButton",
                                   "aboutButton", "preferencesButton", "quitButton"};
        for (const QString& name : controls) {
            open();
            // The offscreen platform does not hand the focus back to a reopened window; the
            // window's own focus widget is where its keys go.
            QWidget* window = popover()->popoverWindow();
            auto focused = [window] { return window->focusWidget(); };
            QVERIFY(focused() != nullptr);
            for (int tabs = 0; focused()->objectName() != name && tabs < controls.size(); ++tabs) {
                QTest::keyClick(focused(), Qt::Key_Tab);
            }
            QCOMPARE(focused()->objectName(), name);
            QTest::keyClick(focused(), Qt::Key_Escape);
            QTRY_VERIFY2(!popover()->popoverIsVisible(), qPrintable(name));
            QVERIFY(!popup_->isActive());
        }
        open();
    }

    void focusIsVisibleOnEveryControl_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("dark");
        for (bool dark : {false, true}) {
            for (const char* name : {"plotView", "processesButton", "cleanButton", "aboutButton",
                                     "preferencesButton", "quitButton"}) {
                QTest::addRow("%s %s", name, dark ? "dark" : "light") << name << dark;
            }
        }
    }

    void focusIsVisibleOnEveryControl() {
        QFETCH(QString, name);
        QFETCH(bool, dark);
        if (dark) {
            QApplication::setPalette(breezeDark());
        }
        // Start from no focus on any control: the popover's own frame holds it.
        frame()->setFocusPolicy(Qt::ClickFocus);
        frame()->setFocus(Qt::OtherFocusReason);
        const QImage unfocused = snapshot();
        while (focus()->objectName() != name) {
            press(Qt::Key_Tab);
        }
        const QImage focused = snapshot();
        QWidget* widget = control(qPrintable(name));
        const QRect around = inFrame(widget).adjusted(-2, -2, 2, 2);
        const int changed = differingPixels(focused, unfocused, around);
        // A ring, not a speck: at least half the control's outline changes.
        QVERIFY2(changed >= widget->width() + widget->height(),
                 qPrintable(QStringLiteral("%1 pixels changed").arg(changed)));
        // ... and nothing outside it.
        QCOMPARE(differingPixels(focused, unfocused, focused.rect()), changed);
    }

    // Screen readers.

    void chartIsNamedAndReadsTheFigures() {
        QWidget* chart = control("plotView");
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(chart);
        QVERIFY(accessible);
        QCOMPARE(accessible->role(), QAccessible::Chart);
        QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("Memory usage chart"));
        QCOMPARE(accessible->text(QAccessible::Description),
                 QStringLiteral("Wired 976.56 MB (10%), Active 2.86 GB (30%), "
                                "Inactive 1.91 GB (20%), Free 3.81 GB (40%)"));

        dir_->write("meminfo", meminfo(9000000));
        panel_->refreshMemoryUsage();
        QCOMPARE(accessible->text(QAccessible::Description),
                 QStringLiteral("Wired 976.56 MB (7%), Active 2.86 GB (20%), "
                                "Inactive 1.91 GB (13%), Free 8.58 GB (60%)"));
    }

    void chartDescription_data() {
        QTest::addColumn<std::vector<std::int64_t>>("data");
        QTest::addColumn<QString>("text");
        QTest::newRow("even") << std::vector<std::int64_t>{2048, 2048, 2048, 2048}
                              << "Wired 2.00 KB (25%), Active 2.00 KB (25%), Inactive 2.00 KB "
                                 "(25%), Free 2.00 KB (25%)";
        QTest::newRow("a sliver") << std::vector<std::int64_t>{1, 0, 0, 999}
                                  << "Wired 1 B (under 1%), Active 0 B (0%), Inactive 0 B (0%), "
                                     "Free 999 B (100%)";
        QTest::newRow("no sample")
            << std::vector<std::int64_t>{0, 0, 0, 0} << "No memory figures available";
        QTest::newRow("not four") << std::vector<std::int64_t>{20, 30, 60}
                                  << "No memory figures available";
    }

    void chartDescription() {
        QFETCH(std::vector<std::int64_t>, data);
        QFETCH(QString, text);
        QCOMPARE(MCContentViewController::chartDescription(data), text);
    }

    void freeMemoryFigureIsLabelled() {
        auto* caption = panel_->view()->findChild<QLabel*>(QStringLiteral("freeMemoryCaption"));
        QVERIFY(caption);
        QCOMPARE(caption->buddy(), panel_->freeMemoryTextField());
        QAccessibleInterface* figure =
            QAccessible::queryAccessibleInterface(panel_->freeMemoryTextField());
        const auto labels = figure->relations(QAccessible::Label);
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels.front().first->text(QAccessible::Name), QStringLiteral("Free memory"));
    }
};

QTEST_MAIN(PanelLookTest)
#include "test_panel_look.moc"
