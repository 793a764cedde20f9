// The tray application in the language the environment asks for, inside
// scripts/with-desktop.sh --tray: CTest starts it once under LANG=de_DE.UTF-8 and once under
// LANG=C (LC_ALL, LANGUAGE, LC_MESSAGES and LC_NUMERIC unset). The translators are loaded as the
// program loads them; the panel, its numbers, the tray menu, the tooltip, the notification, the
// About window and the window of trayless desktops are read back, and each text must fit its
// control. The open popover and the preferences window are saved as
// build/screenshots/panel-<language>.png and preferences-<language>.png.

#include "app/MCAboutWindowController.h"
#include "app/MCAppDelegate.h"
#include "app/MCContentViewController.h"
#include "app/MCLocalizedText.h"
#include "app/MCMonitorController.h"
#include "app/MCPanelWindow.h"
#include "app/MCPreferencesWindowController.h"
#include "app/PanelFixture.h"
#include "chart/SimplePieChart.h"
#include "popover/INPopoverController.h"
#include "popover/INPopoverWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <cstdlib>

namespace {

// One visible text in English (the source) and in German.
struct Expected {
    const char* english;
    const char* german;
};

// The texts of the panel's controls, by object name.
const std::map<QString, Expected> kPanelTexts = {
    {QStringLiteral("cleanButton"), {"Clean Memory", "Speicher bereinigen"}},
    {QStringLiteral("freeMemoryCaption"), {"Free memory", "Freier Speicher"}},
    {QStringLiteral("aboutButton"), {"About", "Über"}},
    {QStringLiteral("quitButton"), {"Quit", "Beenden"}},
    {QStringLiteral("preferencesButton"), {"Preferences…", "Einstellungen …"}},
    {QStringLiteral("availableCaption"), {"Available", "Verfügbar"}},
    {QStringLiteral("swapCaption"), {"Swap", "Auslagerung"}},
    {QStringLiteral("pressureCaption"), {"Pressure", "Speicherdruck"}},
    {QStringLiteral("historyCaption"), {"Last 10 minutes", "Letzte 10 Minuten"}},
    {QStringLiteral("processesButton"), {"Top processes", "Größte Prozesse"}},
    // 4000 kB free in the fixture, and kDetails.
    {QStringLiteral("freeMemoryTextField"), {"3.91 MB", "3,91 MB"}},
    {QStringLiteral("availableTextField"), {"8.20 GB of 14.90 GB", "8,20 GB von 14,90 GB"}},
    {QStringLiteral("swapTextField"), {"1.02 GB / 7.45 GB", "1,02 GB / 7,45 GB"}},
    {QStringLiteral("pressureTextField"), {"some", "mäßig"}},
};

// 45 % of 16 GB used, 1.1 of 8 GB swap, some pressure.
const MCMemoryDetails kDetails = detailsWith(45, 8'000'000'000, 6'900'000'000, MCPressure{14, 0});

// The preferences window's texts, by object name.
const std::map<QString, Expected> kPreferencesTexts = {
    {QStringLiteral("startAtLoginCheckBox"),
     {"Start Brimwell at &login", "Brimwell bei der &Anmeldung starten"}},
    {QStringLiteral("trayIconStyleLabel"), {"&Tray icon:", "&Statussymbol:"}},
    {QStringLiteral("lowMemoryHeading"), {"Low memory", "Knapper Speicher"}},
    {QStringLiteral("lowMemoryPercentLabel"),
     {"When available memory is &below:", "Wenn &weniger verfügbar ist als:"}},
    {QStringLiteral("autoCleanCheckBox"),
     {"&Clean memory automatically", "Speicher au&tomatisch bereinigen"}},
    {QStringLiteral("autoCleanIntervalLabel"), {"At &most once every:", "&Höchstens einmal alle:"}},
    {QStringLiteral("closeButton"), {"Close", "Schließen"}},
};

// Every control's text must show whole: what it asks for fits what it got.
void verifyTextsFit(QWidget* root) {
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        if (!widget->isVisible() ||
            (!qobject_cast<QLabel*>(widget) && !qobject_cast<QAbstractButton*>(widget))) {
            continue;
        }
        const auto* label = qobject_cast<QLabel*>(widget);
        const auto* button = qobject_cast<QAbstractButton*>(widget);
        if ((label != nullptr ? label->text() : button->text()).isEmpty()) {
            continue; // a picture or a drawn marker, sized on purpose
        }
        if (label != nullptr && label->wordWrap()) {
            // Wrapped text needs the height its width gives it.
            QVERIFY2(label->heightForWidth(label->width()) <= label->height(),
                     qPrintable(widget->objectName() + QStringLiteral(" is cut off")));
            continue;
        }
        QVERIFY2(widget->sizeHint().height() <= widget->height(),
                 qPrintable(QStringLiteral("%1 needs %2 px of height, has %3")
                                .arg(widget->objectName())
                                .arg(widget->sizeHint().height())
                                .arg(widget->height())));
        if (widget->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored) {
            // Process names take what width is left and may be cut; they are not ours.
            continue;
        }
        QVERIFY2(widget->sizeHint().width() <= widget->width(),
                 qPrintable(QStringLiteral("%1 needs %2 px, has %3")
                                .arg(widget->objectName())
                                .arg(widget->sizeHint().width())
                                .arg(widget->width())));
    }
}

} // namespace

class TranslationsEndToEnd : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<MCTranslations> translations_;
    std::unique_ptr<MCAppDelegate> delegate_;
    bool german_ = false;

    QString expected(const Expected& text) const {
        return QString::fromUtf8(german_ ? text.german : text.english);
    }
    MCContentViewController* panel() const { return delegate_->contentViewController(); }

private slots:
    void initTestCase() {
        german_ = qEnvironmentVariable("LANG").startsWith(QLatin1String("de"));
        QVERIFY2(qEnvironmentVariableIsEmpty("LC_ALL") && qEnvironmentVariableIsEmpty("LANGUAGE"),
                 "the language must come from LANG alone");
        dir_ = std::make_unique<TempDir>();
        ::setenv("XDG_CONFIG_HOME", dir_->path().c_str(), 1);
        ::setenv("DO_NOT_TRACK", "1", 1); // no analytics host in this test
        QApplication::setQuitOnLastWindowClosed(false);

        // As the program does, for the system locale.
        translations_ = std::make_unique<MCTranslations>();
        QCOMPARE(translations_->applicationFile().isEmpty(), !german_);
        if (german_) {
            QVERIFY(translations_->applicationFile().startsWith(MCTranslations::resourceFolder()));
            QVERIFY2(translations_->hasQtTranslation(), "qt6-translations-l10n is not installed");
        }

        const std::string meminfo = dir_->write("meminfo", meminfoText(4000));
        delegate_ = std::make_unique<MCAppDelegate>();
        delegate_->setMemoryController(std::make_shared<MCMemoryController>(
            make_host_port(meminfo, {}, 4096), std::make_shared<MappedBlockAllocator>(), 4096));
        auto details = std::make_shared<FakeDetailsReader>();
        details->set(kDetails);
        delegate_->setDetailsReader(details);
        Application::sharedApplication()->setDelegate(delegate_.get());
        delegate_->applicationDidFinishLaunching();
        QVERIFY(panel());
        QVERIFY2(delegate_->statusItemPopup(), "no tray: run inside with-desktop.sh --tray");
    }

    void cleanupTestCase() {
        Application::sharedApplication()->setDelegate(nullptr);
        delegate_.reset();
        translations_.reset();
    }

    void panelTextsAndNumbersFollowTheLanguage() {
        INPopoverController* popover = delegate_->statusItemPopup()->popoverController();
        // Open, and told so: the panel has filled itself.
        QTRY_VERIFY_WITH_TIMEOUT(
            popover && popover->popoverIsVisible() && panel()->timer()->isActive(), 5000);
        for (const auto& [name, text] : kPanelTexts) {
            QWidget* widget = panel()->view()->findChild<QWidget*>(name);
            QVERIFY2(widget, qPrintable(name));
            const QString shown = widget->property("text").toString();
            QCOMPARE(shown, expected(text));
        }
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
        const QString size = sizeLabel->text();
        // The section's layout settles on a later turn of the event loop.
        QTRY_VERIFY(sizeLabel->width() >= sizeLabel->sizeHint().width());
        QVERIFY2(QRegularExpression(german_ ? QStringLiteral("^\\d+(,\\d\\d [KMG]B| B)$")
                                            : QStringLiteral("^\\d+(\\.\\d\\d [KMG]B| B)$"))
                     .match(size)
                     .hasMatch(),
                 qPrintable(size));
        // The popover grows to the filled rows (its frame animates there), squeezing none.
        const QWidget* view = panel()->view();
        QTRY_VERIFY(view->height() == view->layout()->sizeHint().height() &&
                    popover->popoverWindow()->geometry().contains(
                        QRect(view->mapToGlobal(QPoint(0, 0)), view->size())));
        verifyTextsFit(panel()->view());

        QTRY_VERIFY(popover->popoverWindow()->QWidget::isVisible() &&
                    !popover->popoverWindow()->zoomWindow());
        QVERIFY(QTest::qWaitForWindowExposed(popover->popoverWindow()));
        QTest::qWait(100); // the chart's first paint
        const QString dir = QStringLiteral(BRIMWELL_SCREENSHOT_DIR);
        QDir().mkpath(dir);
        const QString file =
            dir + (german_ ? QStringLiteral("/panel-de.png") : QStringLiteral("/panel-c.png"));
        QVERIFY(QGuiApplication::primaryScreen()->grabWindow(0).save(file));
    }

    void cleanTextsFollowTheLanguage() {
        QCOMPARE(MCContentViewController::cleaningTitle(),
                 expected({"Cleaning...", "Wird bereinigt …"}));
        QCOMPARE(MCContentViewController::cleaningProgressTitle(40),
                 expected({"Cleaning... 40 %", "Wird bereinigt … 40 %"}));
        QCOMPARE(MCContentViewController::notificationTitle(),
                 expected({"Memory Clean Done", "Speicher bereinigt"}));
        QCOMPARE(MCLocalizedText::cleanResultText(1536),
                 expected({"1.50 KB memory is cleaned!", "1,50 KB Speicher freigegeben!"}));
        QCOMPARE(MCLocalizedText::cleanResultText(0),
                 expected({"Enjoy your life!", "Genießen Sie das Leben!"}));
        // The progress title must fit the button as the resting one does.
        QPushButton* button = panel()->cleanButton();
        const QString resting = button->text();
        button->setText(MCContentViewController::cleaningProgressTitle(100));
        QVERIFY(button->sizeHint().width() <= button->width());
        button->setText(resting);
    }

    void trayMenuAndTooltipFollowTheLanguage() {
        QStringList entries;
        for (QAction* action : delegate_->trayMenu()->actions()) {
            if (!action->isSeparator()) {
                entries << action->text();
            }
        }
        const QStringList english = {"Open", "Clean Memory", "Preferences…", "About Brimwell",
                                     "Quit"};
        const QStringList german = {QStringLiteral("Öffnen"), QStringLiteral("Speicher bereinigen"),
                                    QStringLiteral("Einstellungen …"),
                                    QStringLiteral("Über Brimwell"), QStringLiteral("Beenden")};
        QCOMPARE(entries, german_ ? german : english);
        QCOMPARE(
            MCAppDelegate::toolTipText(panel()->memoryController()->currentMemoryUsage(), kDetails),
            expected({"Brimwell\nFree memory: 3.91 MB\nUsed: 45 %\nAvailable: 8.20 GB\n"
                      "Pressure: some",
                      "Brimwell\nFreier Speicher: 3,91 MB\nBelegt: 45 %\nVerfügbar: 8,20 GB\n"
                      "Speicherdruck: mäßig"}));
        const UserNotification low =
            MCMonitorController::lowMemoryNotification(MCLowMemoryReason::LowAvailable, kDetails);
        QCOMPARE(low.title, expected({"Memory is running low", "Arbeitsspeicher wird knapp"}));
        QCOMPARE(low.informativeText,
                 expected({"8.20 GB available (55 %)", "8,20 GB verfügbar (55 %)"}));
    }

    void preferencesWindowFollowsTheLanguage() {
        delegate_->showPreferencesWindow();
        MCPreferencesWindowController* preferences = delegate_->preferencesWindowController();
        QVERIFY(preferences && preferences->window());
        QTRY_VERIFY(preferences->window()->isVisible());
        QCOMPARE(preferences->window()->windowTitle(),
                 expected({"Brimwell Preferences", "Brimwell-Einstellungen"}));
        for (const auto& [name, text] : kPreferencesTexts) {
            QWidget* widget = preferences->window()->findChild<QWidget*>(name);
            QVERIFY2(widget, qPrintable(name));
            QCOMPARE(widget->property("text").toString(), expected(text));
        }
        QCOMPARE(preferences->trayIconStyleComboBox()->itemText(1),
                 expected({"Plain icon", "Einfaches Symbol"}));
        QCOMPARE(preferences->autoCleanIntervalSpinBox()->suffix(), QStringLiteral(" min"));
        verifyTextsFit(preferences->window());
        QVERIFY(QTest::qWaitForWindowExposed(preferences->window()));
        QVERIFY(
            preferences->window()->grab().save(QStringLiteral(BRIMWELL_SCREENSHOT_DIR) +
                                               (german_ ? QStringLiteral("/preferences-de.png")
                                                        : QStringLiteral("/preferences-c.png"))));
        preferences->window()->close();
    }

    void aboutWindowFollowsTheLanguage() {
        delegate_->showAboutWindow();
        MCAboutWindowController* about = delegate_->aboutWindowController();
        QVERIFY(about && about->window());
        QTRY_VERIFY(about->window()->isVisible());
        QCOMPARE(about->window()->windowTitle(), expected({"About Brimwell", "Über Brimwell"}));
        QCOMPARE(about->versionTextField()->text(),
                 QStringLiteral("Version: %1").arg(QStringLiteral(BRIMWELL_VERSION)));
        auto* contact = about->window()->findChild<QAbstractButton*>("contactUsButton");
        QVERIFY(contact);
        QCOMPARE(contact->text(), expected({"Contact Us", "Kontakt aufnehmen"}));
        verifyTextsFit(about->window());
        about->window()->close();
    }

    void trayLessWindowTitleFollowsTheLanguage() {
        MCPanelWindow window(MCContentViewController::initWithNibName(
            QStringLiteral("MCContentViewController"), panel()->memoryController()));
        // The brand stays; what matters is that it is asked of the translation.
        QCOMPARE(window.windowTitle(), QStringLiteral("Brimwell"));
        QCOMPARE(window.findChild<QPushButton*>("cleanButton")->text(),
                 expected({"Clean Memory", "Speicher bereinigen"}));
    }
};

QTEST_MAIN(TranslationsEndToEnd)
#include "test_translations_e2e.moc"
