#include "app/MCAboutWindowController.h"

#include "platform/core/bundle_info.h"
#include "platform/ui/ButtonKeys.h"
#include "ui_MCAboutWindowController.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QIcon>

namespace {

QString infoValue(std::string_view key) {
    const auto value = platform::objectForInfoDictionaryKey(key);
    return value ? QString::fromStdString(*value) : QString();
}

} // namespace

MCAboutWindowController::MCAboutWindowController()
    : WindowController(QStringLiteral("MCAboutWindowController")) {}

MCAboutWindowController::~MCAboutWindowController() = default;

QLabel* MCAboutWindowController::versionTextField() const {
    return ui_ ? ui_->versionTextField : nullptr;
}

QLabel* MCAboutWindowController::copyrightTextField() const {
    return ui_ ? ui_->copyrightTextField : nullptr;
}

std::unique_ptr<QWidget> MCAboutWindowController::loadWindow() {
    auto window = std::make_unique<QWidget>(nullptr, Qt::Window);
    ui_ = std::make_unique<Ui::MCAboutWindowController>();
    ui_->setupUi(window.get());
    return window;
}

QString MCAboutWindowController::styleSheet(const Appearance& a) {
    return QStringLiteral(R"(#MCAboutWindowController { background: %1; }
#nameLabel { color: %2; font-size: 20px; font-weight: 600; }
#versionTextField { color: %3; font-size: 12px; }
#summaryLabel { color: %3; font-size: 12px; }
#copyrightTextField { color: %4; font-size: 11px; }
#contactUsButton {
  color: white; font-size: 12px; font-weight: 600; padding: 5px 16px;
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %5, stop:1 %6);
  border: 1px solid %7; border-radius: 6px;
}
#contactUsButton:hover { background: %8; }
#contactUsButton:focus { border: 2px solid %9; padding: 4px 15px; outline: none; })")
        .arg(a.windowBackground.name(), a.text.name(), a.controlText.name(), a.tertiaryText.name(),
             a.buttonTop.name(), a.buttonBottom.name(), a.buttonBorder.name(),
             a.buttonHoverBottom.name(), a.focusRing.name());
}

void MCAboutWindowController::applyAppearance() {
    if (QWidget* root = window()) {
        root->setStyleSheet(styleSheet(Appearance::current()));
    }
}

void MCAboutWindowController::windowDidLoad() {
    applyAppearance();
    onApplicationPaletteChange(this, [this] { applyAppearance(); });
    if (QWidget* root = window()) {
        ButtonKeys::activateWithReturn(root);
        // The window opens with the focus on itself: Tab reaches the button, and a stray
        // Return writes no mail.
        root->setFocus(Qt::OtherFocusReason);
    }
    QAbstractButton* contact = ui_->contactUsButton;
    connect(contact, &QAbstractButton::clicked, this,
            [this, contact] { onContactUsButtonClicked(contact); });
    ui_->iconLabel->setPixmap(QIcon(QStringLiteral(":/images/brimwell.png")).pixmap(56, 56));
    ui_->versionTextField->setText(tr("Version: %1").arg(infoValue("CFBundleShortVersionString")));
    ui_->copyrightTextField->setText(infoValue("NSHumanReadableCopyright"));
}

std::optional<QUrl> MCAboutWindowController::contactUrl(const QString& version) {
    const QString subject = QStringLiteral("[Brimwell_%1]").arg(version);
    QString text = QStringLiteral("mailto:%1?Subject=%2").arg(kSupportEmail, subject);
    text.replace(QLatin1Char(' '), QStringLiteral("%20"));
    // Only spaces are encoded: anything else a URL cannot carry as it stands makes no address.
    for (QChar c : text) {
        if (c.unicode() < 0x21 || c.unicode() > 0x7e) {
            return std::nullopt;
        }
    }
    QUrl url(text, QUrl::StrictMode);
    if (!url.isValid()) {
        return std::nullopt;
    }
    return url;
}

void MCAboutWindowController::onContactUsButtonClicked(QObject* /*sender*/) {
    if (auto url = contactUrl(infoValue("CFBundleShortVersionString"))) {
        QDesktopServices::openUrl(*url);
    }
}
