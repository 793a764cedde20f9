#include "MCAboutWindowController.h"

#include "InterfaceRegistry.h"
#include "bundle_info.h"
#include "ui_MCAboutWindowController.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QIcon>

namespace {

const bool kInterfaceRegistered = [] {
    InterfaceRegistry::add(QStringLiteral("MCAboutWindowController"), [](QWidget* root) {
        Ui::MCAboutWindowController ui;
        ui.setupUi(root);
    });
    return true;
}();

QString infoValue(std::string_view key) {
    const auto value = platform::objectForInfoDictionaryKey(key);
    return value ? QString::fromStdString(*value) : QString();
}

} // namespace

MCAboutWindowController::MCAboutWindowController()
    : WindowController(kInterfaceRegistered ? QStringLiteral("MCAboutWindowController")
                                            : QString()) {}

void MCAboutWindowController::windowDidLoad() {
    versionTextField_ = outlet<QLabel>("versionTextField");
    copyrightTextField_ = outlet<QLabel>("copyrightTextField");
    if (auto* contact = outlet<QAbstractButton>("contactUsButton")) {
        connect(contact, &QAbstractButton::clicked, this,
                [this, contact] { onContactUsButtonClicked(contact); });
    }
    if (auto* icon = outlet<QLabel>("iconLabel")) {
        icon->setPixmap(QIcon(QStringLiteral(":/images/brimwell.png")).pixmap(56, 56));
    }
    if (versionTextField_) {
        versionTextField_->setText(
            QStringLiteral("Version: %1").arg(infoValue("CFBundleShortVersionString")));
    }
    if (copyrightTextField_) {
        copyrightTextField_->setText(infoValue("NSHumanReadableCopyright"));
    }
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
