// The preferences window on the offscreen platform: every control, used as a user uses it,
// saves the preferences file and reports the new settings at once; start at login writes and
// removes the autostart entry; statistics off writes the opt-out the analytics client reads.

#include "app/MCPreferencesWindowController.h"
#include "platform/core/analytics_opt_out.h"
#include "platform/core/preferences.h"

#include "support/TempDir.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

#include <fstream>
#include <sys/stat.h>

class PreferencesWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> dir_;
    std::filesystem::path file_;
    std::filesystem::path autostartFolder_;
    std::unique_ptr<MCPreferencesWindowController> controller_;

    // The file as a fresh reader finds it.
    platform::UserDefaults onDisk() const { return platform::UserDefaults(file_); }
    // A click on the box itself: a check box takes clicks on its box and text only.
    static void click(QCheckBox* box) {
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    }
    void typeValue(QSpinBox* box, int value) {
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, QString::number(value));
        QTest::keyClick(box, Qt::Key_Return);
    }

private slots:
    void init() {
        dir_ = std::make_unique<TempDir>();
        file_ = dir_->path() / "Brimwell" / "preferences";
        std::filesystem::create_directories(file_.parent_path());
        autostartFolder_ = dir_->path() / "autostart";
        controller_ = std::make_unique<MCPreferencesWindowController>(
            std::make_shared<platform::UserDefaults>(file_),
            platform::Autostart(autostartFolder_, {dir_->path() / "xdg" / "autostart"},
                                "/opt/brimwell/bin/brimwell"));
        controller_->showWindow();
        QVERIFY(QTest::qWaitForWindowExposed(controller_->window()));
    }

    void cleanup() { controller_.reset(); }

    void opensWithTheDefaults() {
        QVERIFY(!controller_->startAtLoginCheckBox()->isChecked());
        QVERIFY(controller_->usageStatisticsCheckBox()->isChecked());
        QCOMPARE(controller_->trayIconStyleComboBox()->currentIndex(), 0);
        QVERIFY(controller_->lowMemoryCheckBox()->isChecked());
        QCOMPARE(controller_->lowMemoryPercentSpinBox()->value(), 10);
        QVERIFY(!controller_->autoCleanCheckBox()->isChecked());
        QVERIFY(!controller_->autoCleanPercentSpinBox()->isEnabled());
        QCOMPARE(controller_->autoCleanIntervalSpinBox()->value(), 30);
        QVERIFY(controller_->problemLabel()->isHidden());
        QDir().mkpath(QStringLiteral(BRIMWELL_SCREENSHOT_DIR));
        QVERIFY(controller_->window()->grab().save(
            QStringLiteral(BRIMWELL_SCREENSHOT_DIR "/preferences.png")));
    }

    void everyControlSavesAndAppliesAtOnce_data() {
        QTest::addColumn<int>("control");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("plain icon") << 0 << "TrayIconStyle"
                                    << "plain";
        QTest::newRow("no low-memory notification") << 1 << "LowMemoryNotification"
                                                    << "0";
        QTest::newRow("low-memory share") << 2 << "LowMemoryAvailablePercent"
                                          << "25";
        QTest::newRow("auto-clean on") << 3 << "AutoClean"
                                       << "1";
        QTest::newRow("auto-clean share") << 4 << "AutoCleanUsedPercent"
                                          << "80";
        QTest::newRow("auto-clean interval") << 5 << "AutoCleanIntervalMinutes"
                                             << "120";
    }

    void everyControlSavesAndAppliesAtOnce() {
        QFETCH(int, control);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QSignalSpy changed(controller_.get(), &MCPreferencesWindowController::settingsChanged);
        if (control >= 4) { // the auto-clean numbers are open only with auto-clean on
            click(controller_->autoCleanCheckBox());
            QVERIFY(controller_->autoCleanPercentSpinBox()->isEnabled());
        }
        switch (control) {
        case 0:
            controller_->trayIconStyleComboBox()->setFocus();
            QTest::keyClick(controller_->trayIconStyleComboBox(), Qt::Key_Down);
            break;
        case 1:
            click(controller_->lowMemoryCheckBox());
            QVERIFY(!controller_->lowMemoryPercentSpinBox()->isEnabled());
            break;
        case 2:
            typeValue(controller_->lowMemoryPercentSpinBox(), 25);
            break;
        case 3:
            click(controller_->autoCleanCheckBox());
            break;
        case 4:
            typeValue(controller_->autoCleanPercentSpinBox(), 80);
            break;
        case 5:
            typeValue(controller_->autoCleanIntervalSpinBox(), 120);
            break;
        }
        QVERIFY(!changed.isEmpty());
        QCOMPARE(QString::fromStdString(onDisk().stringForKey(key.toStdString()).value_or("")),
                 value);
        // What was reported is what a fresh read of the file gives.
        const auto reported = changed.last().at(0).value<MCSettings>();
        const platform::UserDefaults saved = onDisk();
        QCOMPARE(reported, MCSettings::read(saved));
    }

    void statisticsOffWritesTheOptOut() {
        click(controller_->usageStatisticsCheckBox());
        QVERIFY(platform::analyticsOptOutReason(onDisk()).has_value());
        QVERIFY(!controller_->settings().usageStatistics);
        click(controller_->usageStatisticsCheckBox());
        QVERIFY(!platform::analyticsOptOutReason(onDisk()).has_value());
        QCOMPARE(onDisk().stringForKey("AnalyticsOptOut"), std::optional<std::string>("0"));
    }

    void startAtLoginWritesAndRemovesTheEntry() {
        const std::filesystem::path entry = autostartFolder_ / "brimwell.desktop";
        click(controller_->startAtLoginCheckBox());
        QVERIFY2(std::filesystem::is_regular_file(entry),
                 qPrintable(controller_->problemLabel()->text()));
        std::ifstream in(entry);
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        QVERIFY2(text.find("Exec=/opt/brimwell/bin/brimwell") != std::string::npos, text.c_str());
        QVERIFY(controller_->problemLabel()->isHidden());

        click(controller_->startAtLoginCheckBox());
        QVERIFY(!std::filesystem::exists(entry));
        QVERIFY(!controller_->startAtLoginCheckBox()->isChecked());
    }

    void startAtLoginThatCannotBeWrittenSaysWhyAndStaysOff() {
        // A folder others may write to could hold anything by the time the session reads it.
        std::filesystem::create_directories(autostartFolder_);
        ::chmod(autostartFolder_.c_str(), 0777);
        click(controller_->startAtLoginCheckBox());
        QVERIFY(!controller_->startAtLoginCheckBox()->isChecked());
        QVERIFY(controller_->problemLabel()->isVisible());
        QVERIFY2(controller_->problemLabel()->text().contains("others may write"),
                 qPrintable(controller_->problemLabel()->text()));
        QVERIFY(!std::filesystem::exists(autostartFolder_ / "brimwell.desktop"));
    }

    void everyFieldIsLabelledForTheKeyboard() {
        // Each number and choice has a label whose mnemonic moves the focus to it, and a name
        // a screen reader reads.
        QList<QWidget*> fields;
        for (QWidget* w : controller_->window()->findChildren<QWidget*>()) {
            if (qobject_cast<QSpinBox*>(w) || qobject_cast<QComboBox*>(w)) {
                fields << w;
            }
        }
        QCOMPARE(fields.size(), 4);
        for (QWidget* field : fields) {
            bool labelled = false;
            for (QLabel* label : controller_->window()->findChildren<QLabel*>()) {
                labelled |= label->buddy() == field && label->text().contains('&');
            }
            QVERIFY2(labelled, qPrintable(field->objectName()));
            QVERIFY2(!field->accessibleName().isEmpty(), qPrintable(field->objectName()));
            QCOMPARE(field->focusPolicy() & Qt::TabFocus, Qt::TabFocus);
        }
    }
};

QTEST_MAIN(PreferencesWindowTest)
#include "test_preferences_window.moc"
