#include "app/MCAboutWindowController.h"
#include "platform/core/bundle_info.h"

#include <QDesktopServices>
#include <QPushButton>
#include <QTest>

// Stands in for the user's mail program: Qt hands mailto addresses to it instead of xdg-open.
class MailCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

class AboutTest : public QObject {
    Q_OBJECT

private slots:
    void windowShowsVersionAndCopyright() {
        MCAboutWindowController about;
        QVERIFY(!about.isWindowLoaded());
        about.showWindow();
        QVERIFY(about.isWindowLoaded());
        QCOMPARE(about.versionTextField()->text(), QStringLiteral("Version: " BRIMWELL_VERSION));
        // The copyright line as configured, unchanged: its "©" read as UTF-8.
        const auto copyright =
            platform::objectForInfoDictionaryKey(platform::kNSHumanReadableCopyright);
        QVERIFY(copyright && !copyright->empty());
        QCOMPARE(about.copyrightTextField()->text(), QString::fromUtf8(*copyright));
        QWidget* first = about.window();
        about.showWindow();
        QCOMPARE(about.window(), first); // one window, brought to the front again
    }

    // The version goes into the subject; one the address cannot carry gives no address at all.
    void contactUrl() {
        const QString address = QStringLiteral("mailto:support@brimwell.app?Subject=[Brimwell_");
        const struct {
            const char* version;
            const char* subject; // none: no address
        } cases[] = {
            {"1.2", "1.2]"},     {"1.2 beta", "1.2%20beta]"}, {"1 2 3", "1%202%203]"},
            {"", "]"},           {"1.2\"x", nullptr},         {"1.2<x>", nullptr},
            {"1.2%zz", nullptr}, {"1.2\u00fc", nullptr},      {"1.2\tx", nullptr},
        };
        for (const auto& c : cases) {
            const auto made = MCAboutWindowController::contactUrl(QString::fromUtf8(c.version));
            QVERIFY2(made.has_value() == (c.subject != nullptr), c.version);
            if (made) {
                QCOMPARE(made->toString(QUrl::FullyEncoded), address + QLatin1String(c.subject));
            }
        }
    }

    void contactButtonOpensTheMailLink() {
        MailCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &catcher, "open");
        MCAboutWindowController about;
        about.showWindow();
        QTest::mouseClick(
            about.window()->findChild<QPushButton*>(QStringLiteral("contactUsButton")),
            Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
        QCOMPARE(catcher.opened.size(), 1);
        QCOMPARE(
            catcher.opened.front().toString(QUrl::FullyEncoded),
            QStringLiteral("mailto:support@brimwell.app?Subject=[Brimwell_" BRIMWELL_VERSION "]"));
    }
};

QTEST_MAIN(AboutTest)
#include "test_about.moc"
