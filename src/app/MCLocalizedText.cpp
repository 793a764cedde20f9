#include "app/MCLocalizedText.h"

#include "memory/MCUtil.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

MCTranslations::MCTranslations(const QLocale& locale) {
    auto application = std::make_unique<QTranslator>();
    if (application->load(locale, QStringLiteral("brimwell"), QStringLiteral("_"),
                          resourceFolder())) {
        applicationFile_ = application->filePath();
        QCoreApplication::installTranslator(application.get());
        application_ = std::move(application);
    }
    // Qt's own texts (context menus of text fields, standard buttons) in the same language.
    auto qt = std::make_unique<QTranslator>();
    if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qt.get());
        qt_ = std::move(qt);
    }
}

MCTranslations::~MCTranslations() {
    for (QTranslator* translator : {application_.get(), qt_.get()}) {
        if (translator != nullptr) {
            QCoreApplication::removeTranslator(translator);
        }
    }
}

namespace MCLocalizedText {

QString friendlySize(std::int64_t bytes, const QLocale& locale) {
    // Grouping would turn the specified "1024.00 KB" into "1,024.00 KB" under en_US.
    QLocale numbers = locale;
    numbers.setNumberOptions(numbers.numberOptions() | QLocale::OmitGroupSeparator);
    const MCUtil::FriendlySize size = MCUtil::friendlySize(bytes);
    switch (size.unit) {
    case MCUtil::SizeUnit::GB:
        return QCoreApplication::translate("MCUtil", "%1 GB")
            .arg(numbers.toString(size.scaled, 'f', 2));
    case MCUtil::SizeUnit::MB:
        return QCoreApplication::translate("MCUtil", "%1 MB")
            .arg(numbers.toString(size.scaled, 'f', 2));
    case MCUtil::SizeUnit::KB:
        return QCoreApplication::translate("MCUtil", "%1 KB")
            .arg(numbers.toString(size.scaled, 'f', 2));
    case MCUtil::SizeUnit::B:
        break;
    }
    return QCoreApplication::translate("MCUtil", "%1 B")
        .arg(numbers.toString(static_cast<qlonglong>(size.bytes)));
}

QString percent(long long value, const QLocale& locale) {
    QLocale numbers = locale;
    numbers.setNumberOptions(numbers.numberOptions() | QLocale::OmitGroupSeparator);
    return QCoreApplication::translate("MCUtil", "%1%", "a whole percentage")
        .arg(numbers.toString(value));
}

QString cleanResultText(std::int64_t freedBytes, const QLocale& locale) {
    if (freedBytes > 0) {
        return QCoreApplication::translate("MCCleanReport", "%1 memory is cleaned!")
            .arg(friendlySize(freedBytes, locale));
    }
    return QCoreApplication::translate("MCCleanReport", "Enjoy your life!");
}

} // namespace MCLocalizedText
