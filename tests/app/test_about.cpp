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

    void contactUrl_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("url"); // empty: no address
        QTest::newRow("plain") << "1.2"
                               << "mailto:support@brimwell.app?Subject=[Brimwell_1.2]";
        QTest::newRow("space") << "1.2 beta"
                               << "mailto:support@brimwell.app?Subject=[Brimwell_1.2%20beta]";
        QTest::newRow("two spaces") << "1 2 3"
                                    << "mailto:support@brimwell.app?Subject=[Brimwell_1%202%203]";
        QTest::newRow("empty") << ""
                               << "mailto:support@brimwell.app?Subject=[Brimwell_]";
        QTest::newRow("quote") << "1.2\"x"
                               << "";
        QTest::newRow("angle") << "1.2<x>"
                               << "";
        QTest::newRow("bad escape") << "1.2%zz"
                                    << "";
        QTest::newRow("non-ascii") << "1.2ü"
                                   << "";
        QTest::newRow("tab") << "1.2\tx"
                             << "";
    }

    void contactUrl() {
        QFETCH(QString, version);
        QFETCH(QString, url);
        const auto made = MCAboutWindowController::contactUrl(version);
        if (url.isEmpty()) {
            QVERIFY(!made);
        } else {
            QVERIFY(made);
            QCOMPARE(made->toString(QUrl::FullyEncoded), url);
        }
    }

    void contactButtonOpensTheMailLink() {
        MailCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &catcher, "open");
        MCAboutWindowController about;
        about.showWindow();
        auto* button = about.window()->findChild<QPushButton*>(QStringLiteral("contactUsButton"));
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
        QCOMPARE(catcher.opened.size(), 1);
        QCOMPARE(
            catcher.opened.front().toString(QUrl::FullyEncoded),
            QStringLiteral("mailto:support@brimwell.app?Subject=[Brimwell_" BRIMWELL_VERSION "]"));
    }
};

QTEST_MAIN(AboutTest)
#include "test_about.moc"
