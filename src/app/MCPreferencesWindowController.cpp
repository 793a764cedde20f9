#include "app/MCPreferencesWindowController.h"

#include "platform/core/preferences.h"
#include "platform/ui/ButtonKeys.h"
#include "ui_MCPreferencesWindowController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSpinBox>

MCPreferencesWindowController::MCPreferencesWindowController(
    std::shared_ptr<platform::UserDefaults> defaults, std::optional<platform::Autostart> autostart)
    : WindowController(QStringLiteral("MCPreferencesWindowController")),
      defaults_(std::move(defaults)), autostart_(std::move(autostart)) {
    if (defaults_) {
        settings_ = MCSettings::read(*defaults_);
    }
}

MCPreferencesWindowController::~MCPreferencesWindowController() = default;

QCheckBox* MCPreferencesWindowController::startAtLoginCheckBox() const {
    return ui_ ? ui_->startAtLoginCheckBox : nullptr;
}
QCheckBox* MCPreferencesWindowController::usageStatisticsCheckBox() const {
    return ui_ ? ui_->usageStatisticsCheckBox : nullptr;
}
QComboBox* MCPreferencesWindowController::trayIconStyleComboBox() const {
    return ui_ ? ui_->trayIconStyleComboBox : nullptr;
}
QCheckBox* MCPreferencesWindowController::lowMemoryCheckBox() const {
    return ui_ ? ui_->lowMemoryCheckBox : nullptr;
}
QSpinBox* MCPreferencesWindowController::lowMemoryPercentSpinBox() const {
    return ui_ ? ui_->lowMemoryPercentSpinBox : nullptr;
}
QCheckBox* MCPreferencesWindowController::autoCleanCheckBox() const {
    return ui_ ? ui_->autoCleanCheckBox : nullptr;
}
QSpinBox* MCPreferencesWindowController::autoCleanPercentSpinBox() const {
    return ui_ ? ui_->autoCleanPercentSpinBox : nullptr;
}
QSpinBox* MCPreferencesWindowController::autoCleanIntervalSpinBox() const {
    return ui_ ? ui_->autoCleanIntervalSpinBox : nullptr;
}
QLabel* MCPreferencesWindowController::problemLabel() const {
    return ui_ ? ui_->problemLabel : nullptr;
}

QString MCPreferencesWindowController::styleSheet(const Appearance& a) {
    return QStringLiteral(R"(#MCPreferencesWindowController { background: %1; }
#MCPreferencesWindowController QLabel, #MCPreferencesWindowController QCheckBox { color: %2; }
#generalHeading, #lowMemoryHeading, #autoCleanHeading { color: %3; font-weight: 600; }
#lowMemoryNote { color: %4; font-size: 11px; }
#problemLabel { color: %5; })")
        .arg(a.windowBackground.name(), a.controlText.name(), a.text.name(), a.secondaryText.name(),
             (a.dark ? QColor(0xff, 0x8a, 0x80) : QColor(0xb4, 0x23, 0x18)).name());
}

void MCPreferencesWindowController::applyAppearance() {
    if (QWidget* root = window()) {
        root->setStyleSheet(styleSheet(Appearance::current()));
    }
}

std::unique_ptr<QWidget> MCPreferencesWindowController::loadWindow() {
    auto window = std::make_unique<QWidget>(nullptr, Qt::Window);
    ui_ = std::make_unique<Ui::MCPreferencesWindowController>();
    ui_->setupUi(window.get());
    return window;
}

void MCPreferencesWindowController::windowDidLoad() {
    applyAppearance();
    onApplicationPaletteChange(this, [this] { applyAppearance(); });
    QWidget* root = window();
    ButtonKeys::activateWithReturn(root);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), root);
    connect(escape, &QShortcut::activated, root, &QWidget::close);
    connect(ui_->closeButton, &QPushButton::clicked, root, &QWidget::close);

    ui_->lowMemoryPercentSpinBox->setRange(MCLowMemoryConfig::kMinPercent,
                                           MCLowMemoryConfig::kMaxPercent);
    ui_->autoCleanPercentSpinBox->setRange(MCAutoCleanConfig::kMinUsedPercent,
                                           MCAutoCleanConfig::kMaxUsedPercent);
    ui_->autoCleanIntervalSpinBox->setRange(MCAutoCleanConfig::kMinIntervalMinutes,
                                            MCAutoCleanConfig::kMaxIntervalMinutes);
    showSettings();

    connect(ui_->startAtLoginCheckBox, &QCheckBox::toggled, this,
            &MCPreferencesWindowController::startAtLoginToggled);
    for (QCheckBox* box :
         {ui_->usageStatisticsCheckBox, ui_->lowMemoryCheckBox, ui_->autoCleanCheckBox}) {
        connect(box, &QCheckBox::toggled, this, [this] { takeControls(); });
    }
    connect(ui_->trayIconStyleComboBox, &QComboBox::currentIndexChanged, this,
            [this] { takeControls(); });
    for (QSpinBox* box : {ui_->lowMemoryPercentSpinBox, ui_->autoCleanPercentSpinBox,
                          ui_->autoCleanIntervalSpinBox}) {
        connect(box, &QSpinBox::valueChanged, this, [this] { takeControls(); });
    }
}

void MCPreferencesWindowController::reload() {
    if (defaults_) {
        settings_ = MCSettings::read(*defaults_);
    }
    if (ui_) {
        showSettings();
    }
}

void MCPreferencesWindowController::showSettings() {
    const QSignalBlocker blockers[] = {QSignalBlocker(ui_->startAtLoginCheckBox),
                                       QSignalBlocker(ui_->usageStatisticsCheckBox),
                                       QSignalBlocker(ui_->trayIconStyleComboBox),
                                       QSignalBlocker(ui_->lowMemoryCheckBox),
                                       QSignalBlocker(ui_->lowMemoryPercentSpinBox),
                                       QSignalBlocker(ui_->autoCleanCheckBox),
                                       QSignalBlocker(ui_->autoCleanPercentSpinBox),
                                       QSignalBlocker(ui_->autoCleanIntervalSpinBox)};
    ui_->startAtLoginCheckBox->setEnabled(autostart_.has_value());
    ui_->startAtLoginCheckBox->setChecked(autostart_ && autostart_->isEnabled());
    ui_->usageStatisticsCheckBox->setChecked(settings_.usageStatistics);
    ui_->trayIconStyleComboBox->setCurrentIndex(
        settings_.trayIconStyle == MCTrayIconStyle::Plain ? 1 : 0);
    ui_->lowMemoryCheckBox->setChecked(settings_.lowMemory.enabled);
    ui_->lowMemoryPercentSpinBox->setValue(settings_.lowMemory.availablePercent);
    ui_->autoCleanCheckBox->setChecked(settings_.autoClean.enabled);
    ui_->autoCleanPercentSpinBox->setValue(settings_.autoClean.usedPercent);
    ui_->autoCleanIntervalSpinBox->setValue(settings_.autoClean.intervalMinutes);
    ui_->lowMemoryPercentSpinBox->setEnabled(settings_.lowMemory.enabled);
    ui_->autoCleanPercentSpinBox->setEnabled(settings_.autoClean.enabled);
    ui_->autoCleanIntervalSpinBox->setEnabled(settings_.autoClean.enabled);
    showProblem(defaults_ ? QString()
                          : tr("There is no home folder, so these choices last until Brimwell "
                               "quits."));
}

void MCPreferencesWindowController::takeControls() {
    MCSettings next = settings_;
    next.usageStatistics = ui_->usageStatisticsCheckBox->isChecked();
    next.trayIconStyle = ui_->trayIconStyleComboBox->currentIndex() == 1
                             ? MCTrayIconStyle::Plain
                             : MCTrayIconStyle::LevelBar;
    next.lowMemory.enabled = ui_->lowMemoryCheckBox->isChecked();
    next.lowMemory.availablePercent = ui_->lowMemoryPercentSpinBox->value();
    next.autoClean.enabled = ui_->autoCleanCheckBox->isChecked();
    next.autoClean.usedPercent = ui_->autoCleanPercentSpinBox->value();
    next.autoClean.intervalMinutes = ui_->autoCleanIntervalSpinBox->value();
    settings_ = next.clamped();
    ui_->lowMemoryPercentSpinBox->setEnabled(settings_.lowMemory.enabled);
    ui_->autoCleanPercentSpinBox->setEnabled(settings_.autoClean.enabled);
    ui_->autoCleanIntervalSpinBox->setEnabled(settings_.autoClean.enabled);
    QString problem;
    if (defaults_) {
        if (const std::optional<std::string> failed = settings_.write(*defaults_)) {
            problem = QString::fromStdString(*failed);
        }
        // What the file now says is what counts: an opt-out it could not drop stays.
        const bool statistics = MCSettings::read(*defaults_).usageStatistics;
        if (statistics != settings_.usageStatistics) {
            settings_.usageStatistics = statistics;
            const QSignalBlocker blocker(ui_->usageStatisticsCheckBox);
            ui_->usageStatisticsCheckBox->setChecked(statistics);
        }
    }
    showProblem(problem);
    emit settingsChanged(settings_);
}

void MCPreferencesWindowController::startAtLoginToggled(bool enabled) {
    if (!autostart_) {
        return;
    }
    const platform::Autostart::Result result = autostart_->setEnabled(enabled);
    if (!result.ok) {
        const QSignalBlocker blocker(ui_->startAtLoginCheckBox);
        ui_->startAtLoginCheckBox->setChecked(autostart_->isEnabled());
        showProblem(tr("Start at login could not be changed: %1")
                        .arg(QString::fromStdString(result.problem)));
        return;
    }
    showProblem(QString());
}

void MCPreferencesWindowController::showProblem(const QString& problem) {
    ui_->problemLabel->setText(problem);
    ui_->problemLabel->setHidden(problem.isEmpty());
}
