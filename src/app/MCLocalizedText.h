#pragma once
// The GUI in the user's language: its translators, and the texts and numbers that several
// controls share, formatted by the system locale. The command line keeps its English texts
// (MCCleanReport.h).

#include <QLocale>
#include <QString>

#include <cstdint>
#include <memory>

class QTranslator;

// Installs, for the locale's languages, our translation (embedded under :/i18n) and Qt's own
// (qtbase, from Qt's translations folder, where the distribution ships it); removes them again
// when destroyed. A language without a translation leaves the English source texts.
class MCTranslations {
public:
    explicit MCTranslations(const QLocale& locale = QLocale());
    ~MCTranslations();
    MCTranslations(const MCTranslations&) = delete;
    MCTranslations& operator=(const MCTranslations&) = delete;

    // The embedded file that was loaded ("" when none matched the locale).
    QString applicationFile() const { return applicationFile_; }
    bool hasQtTranslation() const { return qt_ != nullptr; }

    // Where our .qm files are embedded.
    static QString resourceFolder() { return QStringLiteral(":/i18n"); }

private:
    std::unique_ptr<QTranslator> application_;
    std::unique_ptr<QTranslator> qt_;
    QString applicationFile_;
};

namespace MCLocalizedText {

// "5,50 GB" under de_DE, "5.50 GB" under C and en_US: the size text with the locale's digits
// and decimal point, no grouping, the units as translated.
QString friendlySize(std::int64_t bytes, const QLocale& locale = QLocale());
// A whole percentage, "25 %" in German, "25%" in English.
QString percent(long long value, const QLocale& locale = QLocale());
// The informative text of the notification that ends a clean.
QString cleanResultText(std::int64_t freedBytes, const QLocale& locale = QLocale());

} // namespace MCLocalizedText
