#pragma once
// The preferences window: start at login, usage statistics, the tray icon's style, the
// low-memory notification and auto-clean. Every change is saved to the preferences file and
// applied at once; there is nothing to confirm.

#include "memory/MCSettings.h"
#include "platform/core/autostart.h"
#include "platform/ui/Appearance.h"
#include "platform/ui/WindowController.h"

#include <QString>

#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;

namespace platform {
class UserDefaults;
}

namespace Ui {
class MCPreferencesWindowController;
}

class MCPreferencesWindowController : public WindowController {
    Q_OBJECT
public:
    // `defaults`: the preferences file (null: nothing can be kept, the window says so).
    // `autostart`: the start-at-login entry (none: the choice is unavailable).
    MCPreferencesWindowController(std::shared_ptr<platform::UserDefaults> defaults,
                                  std::optional<platform::Autostart> autostart);
    ~MCPreferencesWindowController() override;

    const MCSettings& settings() const { return settings_; }
    // Shows the stored settings and the autostart entry as they are now (before each showing:
    // the entry may have been removed by hand meanwhile).
    void reload();

    // Outlets; null until the window is loaded.
    QCheckBox* startAtLoginCheckBox() const;
    QCheckBox* usageStatisticsCheckBox() const;
    QComboBox* trayIconStyleComboBox() const;
    QCheckBox* lowMemoryCheckBox() const;
    QSpinBox* lowMemoryPercentSpinBox() const;
    QCheckBox* autoCleanCheckBox() const;
    QSpinBox* autoCleanPercentSpinBox() const;
    QSpinBox* autoCleanIntervalSpinBox() const;
    QLabel* problemLabel() const;

    static QString styleSheet(const Appearance& appearance);

signals:
    // A control changed the settings (already saved when it could be).
    void settingsChanged(const MCSettings& settings);

protected:
    std::unique_ptr<QWidget> loadWindow() override;
    void windowDidLoad() override;

private:
    void showSettings();
    void takeControls();
    void startAtLoginToggled(bool enabled);
    void showProblem(const QString& problem);
    void applyAppearance();

    std::shared_ptr<platform::UserDefaults> defaults_;
    std::optional<platform::Autostart> autostart_;
    MCSettings settings_;
    std::unique_ptr<Ui::MCPreferencesWindowController> ui_;
};
