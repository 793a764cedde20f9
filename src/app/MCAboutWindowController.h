#pragma once

#include "Appearance.h"
#include "WindowController.h"

#include <QLabel>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <optional>

// The About window: version, copyright and a button that writes to support.
class MCAboutWindowController : public WindowController {
    Q_OBJECT
public:
    static inline const QString kSupportEmail = QStringLiteral("support@brimwell.app");

    MCAboutWindowController();

    QLabel* versionTextField() const { return versionTextField_; }
    QLabel* copyrightTextField() const { return copyrightTextField_; }

    // The support mail address for this version; none when the text is not a valid address.
    static std::optional<QUrl> contactUrl(const QString& version);

    // The window's look for the desktop's light or dark palette.
    static QString styleSheet(const Appearance& appearance);

public slots:
    void onContactUsButtonClicked(QObject* sender = nullptr);

protected:
    void windowDidLoad() override;

private:
    void applyAppearance();

    QPointer<QLabel> versionTextField_;
    QPointer<QLabel> copyrightTextField_;
};
