// The tray application in the language the environment asks for, inside
// scripts/with-desktop.sh --tray: CTest starts it once under LANG=de_DE.UTF-8 and once under
// LANG=C (LC_ALL, LANGUAGE, LC_MESSAGES and LC_NUMERIC unset). The translators are loaded as the
// program loads them; the panel, its numbers, the tray menu, the tooltip, the notification, the
// About window and the window of trayless desktops are read back, and each text must fit its
// control. The open popover and the preferences window are saved as
// build/screenshots/panel-<language>.png and preferences-<language>.png.

#include "app/MCAboutWindowController.h"
#include "app/MCLocalizedText.h"
#include "app/MCMonitorController.h"
#include "app/MCPanelWindow.h"
#include "app/MCPreferencesWindowController.h"
#include "app/PanelFixture.h"
#include "app/TrayApp.h"
#include "chart/SimplePieChart.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QRegularExpression>
#include <QScreen>
#include <QSpinBox>
#include <QTest>

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
        const auto* label = qobject_cast<QLabel*>(widget);
        const auto* button = qobject_cast<QAbstractButton*>(widget);
        // Pictures and drawn markers are sized on purpose.
        if (!widget->isVisible() || (label    ? label->text()
                                     : button ? button->text()
                                              : QString())
                                        .isEmpty()) {
            continue;
        }
        // Wrapped text needs the height its width gives it.
        const QSize needs = label && label->wordWrap()
                                ? QSize(0, label->heightForWidth(label->width()))
                                : widget->sizeHint();
        // Process names take what width is left and may be cut; they are not ours.
        const bool cut = widget->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored;
        QVERIFY2(needs.height() <= widget->height() && (cut || needs.width() <= widget->width()),
                 qPrintable(QStringLiteral("%1 needs %2x%3 px, has %4x%5")
                                .arg(widget->objectName())
                                .arg(needs.width())
                                .arg(needs.height())
                                .arg(widget->width())
                                .arg(widget->height())));
    }
}

} // namespace

class TranslationsEndToEnd : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<MCTranslations> translations_;
    std::unique_ptr<TrayApp> app_;
    bool german_ = false;

    QString expected(const Expected& text) const {
        return QString::fromUtf8(german_ ? text.german : text.english);
    }
    MCContentViewController* panel() const { return app_->panel(); }
    void verifyTexts(QWidget* root, const std::map<QString, Expected>& texts) {
        for (const auto& [name, text] : texts) {
            QWidget* widget = root->findChild<QWidget*>(name);
            QVERIFY2(widget, qPrintable(name));
            QCOMPARE(widget->property("text").toString(), expected(text));
        }
        verifyTextsFit(root);
    }

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
        app_ = std::make_unique<TrayApp>();
        app_->delegate->setMemoryController(std::make_shared<MCMemoryController>(
            make_host_port(meminfo, {}, 4096), std::make_shared<MappedBlockAllocator>(), 4096));
        auto details = std::make_shared<FakeDetailsReader>();
        details->set(kDetails);
        app_->delegate->setDetailsReader(details);
        app_->launch();
        QVERIFY2(app_->popup(), "no tray: run inside with-desktop.sh --tray");
    }

    void cleanupTestCase() {
        app_.reset();
        translations_.reset();
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
        QVERIFY(saveScreen(screenshotPath(german_ ? QStringLiteral("panel-de.png")
                                                  : QStringLiteral("panel-c.png"))));
    }

    void cleanTextsFollowTheLanguage() {
        QCOMPARE(MCContentViewController::cleaningTitle(),
                 expected({"Cleaning...", "Wird bereinigt …"}));
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
        QCOMPARE(button->text(), expected({"Cleaning... 100 %", "Wird bereinigt … 100 %"}));
        QVERIFY(button->sizeHint().width() <= button->width());
        button->setText(resting);
    }

    void trayMenuAndTooltipFollowTheLanguage() {
        const QStringList german{QStringLiteral("Öffnen"), QStringLiteral("Speicher bereinigen"),
                                 QStringLiteral("Einstellungen …"), QStringLiteral("Über Brimwell"),
                                 QStringLiteral("Beenden")};
        const QStringList english{"Open", "Clean Memory", "Preferences…", "About Brimwell", "Quit"};
        QCOMPARE(menuEntries(app_->delegate->trayMenu()), german_ ? german : english);
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
        QVERIFY(window->grab().save(screenshotPath(german_ ? QStringLiteral("preferences-de.png")
                                                           : QStringLiteral("preferences-c.png"))));
        window->close();
    }

    void aboutWindowFollowsTheLanguage() {
        app_->delegate->showAboutWindow();
        QWidget* window = app_->delegate->aboutWindowController()->window();
        QTRY_VERIFY(window->isVisible());
        QCOMPARE(window->windowTitle(), expected({"About Brimwell", "Über Brimwell"}));
        QCOMPARE(window->findChild<QAbstractButton*>("contactUsButton")->text(),
                 expected({"Contact Us", "Kontakt aufnehmen"}));
        verifyTextsFit(window);
        window->close();
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
