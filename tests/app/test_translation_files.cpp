// Every translation in translations/ is complete and current, and embedded as it reads; the
// checker itself is proven on planted faults.
#include "app/MCLocalizedText.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTranslator>
#include <QXmlStreamReader>

#include <set>
#include <string>
#include <vector>

namespace {

struct Message {
    QString context;
    QString source;
    QString comment;
    QStringList translations; // one per plural form, or one
    QString type;             // "", "unfinished", "vanished", "obsolete"
    bool numerus = false;
};

// The messages of a .ts file; none when it is not one.
std::vector<Message> readTs(const QByteArray& xml) {
    std::vector<Message> messages;
    QXmlStreamReader reader(xml);
    Message current;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            const auto name = reader.name();
            if (name == QLatin1String("name")) {
                current.context = reader.readElementText();
            } else if (name == QLatin1String("message")) {
                current = Message{current.context, {}, {}, {}, {}, false};
                current.numerus = reader.attributes().value("numerus") == QLatin1String("yes");
            } else if (name == QLatin1String("source")) {
                current.source = reader.readElementText();
            } else if (name == QLatin1String("comment")) {
                current.comment = reader.readElementText();
            } else if (name == QLatin1String("translation")) {
                current.type = reader.attributes().value("type").toString();
                if (!current.numerus) {
                    current.translations << reader.readElementText();
                }
            } else if (name == QLatin1String("numerusform")) {
                current.translations << reader.readElementText();
            }
        } else if (reader.isEndElement() && reader.name() == QLatin1String("message")) {
            messages.push_back(current);
        }
    }
    return reader.hasError() ? std::vector<Message>{} : messages;
}

// The placeholders a text fills: %1 to %99 and %n, each once however often it appears.
std::set<QString> placeholders(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("%(\\d{1,2}|n)"));
    std::set<QString> found;
    for (const auto& match : pattern.globalMatch(text)) {
        found.insert(match.captured(0));
    }
    return found;
}

// What is wrong with a translation file, one line per fault.
std::string problems(const QByteArray& xml) {
    QStringList found;
    const std::vector<Message> messages = readTs(xml);
    if (messages.empty()) {
        found << QStringLiteral("no messages (or not a .ts file)");
    }
    for (const Message& m : messages) {
        const QString where = m.context + QStringLiteral(" \"") + m.source + QStringLiteral("\"");
        if (!m.type.isEmpty()) {
            found << where + QStringLiteral(" is ") + m.type;
        }
        if (m.translations.isEmpty()) {
            found << where + QStringLiteral(" has no translation");
        }
        for (const QString& translation : m.translations) {
            if (translation.trimmed().isEmpty()) {
                found << where + QStringLiteral(" has an empty translation");
            } else if (placeholders(translation) != placeholders(m.source)) {
                found << where + QStringLiteral(" fills other placeholders: ") + translation;
            }
        }
    }
    return found.join('\n').toStdString();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Each file, a German one among them: no faults, none after lupdate over today's sources (a text
// added to the sources comes back unfinished, one that went away vanished), and the program's
// embedded .qm answers with the .ts's texts.
TEST(TranslationFiles, CompleteCurrentAndEmbedded) {
    const QDir folder(QStringLiteral(BRIMWELL_TRANSLATIONS_DIR));
    const QStringList names = folder.entryList({QStringLiteral("brimwell_*.ts")}, QDir::Files);
    EXPECT_TRUE(names.contains(QStringLiteral("brimwell_de.ts"))) << names.join(' ').toStdString();
    for (const QString& name : names) {
        const std::string trace = name.toStdString();
        const QByteArray xml = readFile(folder.filePath(name));
        EXPECT_EQ(problems(xml), "") << trace;

        TempDir dir;
        const QString copy = QString::fromStdString((dir.path() / trace).string());
        ASSERT_TRUE(QFile::copy(folder.filePath(name), copy));
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
        QProcess lupdate;
        lupdate.start(QStringLiteral(BRIMWELL_LUPDATE),
                      {QStringLiteral("-locations"), QStringLiteral("none"), QStringLiteral("-I"),
                       QStringLiteral(BRIMWELL_SOURCE_ROOT),
                       QStringLiteral("@" BRIMWELL_TRANSLATED_SOURCES), QStringLiteral("-ts"),
                       copy});
        ASSERT_TRUE(lupdate.waitForFinished(60000));
        ASSERT_EQ(lupdate.exitCode(), 0) << lupdate.readAllStandardError().toStdString();
        EXPECT_EQ(problems(readFile(copy)), "") << trace << " after lupdate";

        QTranslator translator;
        ASSERT_TRUE(
            translator.load(QFileInfo(name).completeBaseName(), MCTranslations::resourceFolder()))
            << trace;
        for (const Message& m : readTs(xml)) {
            if (m.numerus) {
                continue;
            }
            const QByteArray comment = m.comment.toUtf8();
            EXPECT_EQ(translator
                          .translate(m.context.toUtf8().constData(), m.source.toUtf8().constData(),
                                     comment.isEmpty() ? nullptr : comment.constData())
                          .toStdString(),
                      m.translations.value(0).toStdString())
                << m.context.toStdString() << ": " << m.source.toStdString();
        }
    }
}

// The checker finds each kind of fault it is there for.
TEST(TranslationFiles, CheckerCatchesPlantedFaults) {
    // A file of one message, "%1 memory is cleaned!" unless the row gives a whole one.
    auto ts = [](const std::string& message) {
        return QByteArray::fromStdString(
            "<?xml version=\"1.0\" encoding=\"utf-8\"?><!DOCTYPE TS><TS version=\"2.1\" "
            "language=\"de_DE\"><context><name>C</name>" +
            (message.empty() || message.starts_with("<message")
                 ? message
                 : "<message><source>%1 memory is cleaned!</source>" + message + "</message>") +
            "</context></TS>");
    };
    const struct {
        const char* message;
        const char* fault;
    } cases[] = {
        {"<translation type=\"unfinished\">%1 frei</translation>", "is unfinished"},
        {"<translation></translation>", "has an empty translation"},
        {"<translation>Speicher freigegeben!</translation>", "fills other placeholders"},
        {"<message numerus=\"yes\"><source>%n process(es)</source><translation><numerusform>%n "
         "Prozess</numerusform><numerusform></numerusform></translation></message>",
         "has an empty translation"},
        {"", "no messages"},
        // A good message in a broken file.
        {"<translation>%1 frei</translation></message><oops>", "no messages"},
    };
    for (const auto& c : cases) {
        EXPECT_NE(problems(ts(c.message)).find(c.fault), std::string::npos) << c.message;
    }
    EXPECT_EQ(problems(ts("<translation>%1 Speicher freigegeben!</translation>")), "");
}

} // namespace
