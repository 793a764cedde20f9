#pragma once

#include "platform/ui/Appearance.h"
#include "platform/ui/WindowController.h"

#include <QLabel>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

namespace Ui {
class MCAboutWindowController;
}

// The About window: version, copyright and a button that writes to support.
class MCAboutWindowController : public WindowController {
    Q_OBJECT
public:
    static inline const QString kSupportEmail = QStringLiteral("support@brimwell.app");

    MCAboutWindowController();
    ~MCAboutWindowController() override;

    // Outlets; null until the window is loaded.
    QLabel* versionTextField() const;
    QLabel* copyrightTextField() const;

    // The support mail address for this version; none when the text is not a valid address.
    static std::optional<QUrl> contactUrl(const QString& version);

    // The window's look for the desktop's light or dark palette.
    static QString styleSheet(const Appearance& appearance);

public slots:
    void onContactUsButtonClicked(QObject* sender = nullptr);

protected:
    std::unique_ptr<QWidget> loadWindow() override;
    void windowDidLoad() override;

private:
    void applyAppearance();

    std::unique_ptr<Ui::MCAboutWindowController> ui_;
};
