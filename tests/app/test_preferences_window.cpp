// The preferences window on the offscreen platform: every control, used as a user uses it,
// saves the preferences file and reports the new settings at once; start at login writes and
// removes the autostart entry; statistics off writes the opt-out the analytics client reads.

#include "app/MCPreferencesWindowController.h"
#include "platform/core/preferences.h"

#include "support/TempDir.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

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
    static void typeValue(QSpinBox* box, int value) {
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

    // One control after another, each used as a user uses it, from the defaults the window
    // opens with; statistics off writes the opt-out the analytics client reads.
    void everyControlSavesAndAppliesAtOnce() {
        auto* c = controller_.get();
        QCOMPARE(c->lowMemoryPercentSpinBox()->value(), 10);
        QVERIFY(!c->autoCleanPercentSpinBox()->isEnabled());
        QCOMPARE(c->autoCleanIntervalSpinBox()->value(), 30);
        QDir().mkpath(QStringLiteral(BRIMWELL_SCREENSHOT_DIR));
        QVERIFY(
            c->window()->grab().save(QStringLiteral(BRIMWELL_SCREENSHOT_DIR "/preferences.png")));
        const struct {
            const char* key;
            const char* value;
            std::function<void()> use;
        } steps[] = {
            {"TrayIconStyle", "plain",
             [c] {
                 c->trayIconStyleComboBox()->setFocus();
                 QTest::keyClick(c->trayIconStyleComboBox(), Qt::Key_Down);
             }},
            {"LowMemoryAvailablePercent", "25",
             [c] { typeValue(c->lowMemoryPercentSpinBox(), 25); }},
            {"LowMemoryNotification", "0", [c] { click(c->lowMemoryCheckBox()); }},
            {"AutoClean", "1", [c] { click(c->autoCleanCheckBox()); }},
            {"AutoCleanUsedPercent", "80", [c] { typeValue(c->autoCleanPercentSpinBox(), 80); }},
            {"AutoCleanIntervalMinutes", "120",
             [c] { typeValue(c->autoCleanIntervalSpinBox(), 120); }},
            {"AnalyticsOptOut", "1", [c] { click(c->usageStatisticsCheckBox()); }},
            {"AnalyticsOptOut", "0", [c] { click(c->usageStatisticsCheckBox()); }},
        };
        for (const auto& step : steps) {
            QSignalSpy changed(c, &MCPreferencesWindowController::settingsChanged);
            step.use();
            QVERIFY2(!changed.isEmpty(), step.key);
            QCOMPARE(onDisk().stringForKey(step.key), std::optional<std::string>(step.value));
            // What was reported is what a fresh read of the file gives.
            const platform::UserDefaults saved = onDisk();
            QCOMPARE(changed.last().at(0).value<MCSettings>(), MCSettings::read(saved));
        }
        // Each share is open only while its own box is checked.
        QVERIFY(!c->lowMemoryPercentSpinBox()->isEnabled());
        QVERIFY(c->autoCleanPercentSpinBox()->isEnabled());
    }

    // The entry is written and removed; into a folder others may write to (it could hold
    // anything by the time the session reads it) it is not written, the box stays off and says
    // why.
    void startAtLoginWritesAndRemovesTheEntry() {
        const std::filesystem::path entry = autostartFolder_ / "brimwell.desktop";
        QCheckBox* box = controller_->startAtLoginCheckBox();
        click(box);
        QVERIFY2(std::filesystem::is_regular_file(entry),
                 qPrintable(controller_->problemLabel()->text()));
        QVERIFY(controller_->problemLabel()->isHidden());
        click(box);
        QVERIFY(!std::filesystem::exists(entry));
        QVERIFY(!box->isChecked());

        ::chmod(autostartFolder_.c_str(), 0777);
        click(box);
        QVERIFY(!box->isChecked());
        QVERIFY2(controller_->problemLabel()->isVisible() &&
                     controller_->problemLabel()->text().contains("others may write"),
                 qPrintable(controller_->problemLabel()->text()));
        QVERIFY(!std::filesystem::exists(entry));
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
