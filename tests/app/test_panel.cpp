#include "app/PanelFixture.h"

#include "app/MCCleanReport.h"
#include "chart/SimplePieChart.h"
#include "platform/ui/Application.h"

#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>

class PanelTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TempDir> dir_;
    std::string meminfoPath_;
    std::shared_ptr<GatedAllocator> allocator_;
    std::unique_ptr<MCContentViewController> panel_;
    RecordingNotificationCenter notifications_;
    CallLog log_;
    std::unique_ptr<PopupDouble> popup_;
    std::unique_ptr<AppDelegateDouble> delegate_;

    void setMeminfo(const std::string& text) { dir_->write("meminfo", text); }
    QString freeText() const { return panel_->freeMemoryTextField()->text(); }
    std::vector<std::int64_t> plotData() const {
        return panel_->pieChart()->plotData().value_or(std::vector<std::int64_t>{});
    }

private slots:
    void init() {
        dir_ = std::make_unique<TempDir>();
        meminfoPath_ = dir_->write("meminfo", meminfoText(4000));
        allocator_ = std::make_shared<GatedAllocator>();
        auto memory = std::make_shared<MCMemoryController>(make_host_port(meminfoPath_, {}, 4096),
                                                           allocator_, 4096);
        panel_ = MCContentViewController::initWithNibName("MCContentViewController", memory);
        QVERIFY(panel_);
        panel_->setNotificationCenter(&notifications_);
        notifications_.delivered.clear();
        log_.calls.clear();
        popup_ = std::make_unique<PopupDouble>(log_, *panel_);
        panel_->setStatusItemPopup(popup_.get());
        delegate_ = std::make_unique<AppDelegateDouble>(log_);
        panel_->setAppServices(delegate_.get());
    }

    void cleanup() {
        allocator_->open(); // never leave a clean thread waiting
        if (panel_ && panel_->cleanInProgress()) {
            QSignalSpy done(panel_.get(), &MCContentViewController::cleanFinished);
            QVERIFY(done.wait(5000));
        }
        panel_.reset();
    }

    void unknownInterfaceGivesNoController() {
        QVERIFY(!MCContentViewController::initWithNibName("NoSuchInterface"));
    }

    void firstShowSamplesAndRenders() {
        panel_->popoverDidShow();
        QCOMPARE(freeText(), QStringLiteral("3.91 MB")); // 4000 kB
        QCOMPARE(plotData(),
                 (std::vector<std::int64_t>{40 * 1024, 2000 * 1024, 3000 * 1024, 4000 * 1024}));
        QCOMPARE(panel_->pieChart()->graphs().size(), std::size_t{1});
        QVERIFY(panel_->timer()->isActive());
        QCOMPARE(panel_->timer()->interval(), 2000);
        QVERIFY(!panel_->timer()->isSingleShot());
        QTRY_COMPARE(delegate_->events(), std::vector<std::string>{"PopoverShown"});
    }

    void laterShowWaitsForTheTimer() {
        panel_->popoverDidShow();
        panel_->popoverWillClose();
        QVERIFY(!panel_->timer()->isActive());

        setMeminfo(meminfoText(8192));
        panel_->popoverDidShow();
        QCOMPARE(freeText(), QStringLiteral("3.91 MB"));               // no sample at this show
        QCOMPARE(panel_->pieChart()->graphs().size(), std::size_t{1}); // not rendered again
        QVERIFY(panel_->timer()->isActive());
        QTRY_COMPARE(delegate_->events(),
                     (std::vector<std::string>{"PopoverShown", "PopoverShown"}));

        panel_->setRefreshInterval(10);
        QTRY_COMPARE(freeText(), QStringLiteral("8.00 MB"));
        QCOMPARE(plotData().back(), 8192 * 1024);
    }

    void repeatedShowsKeepOneTimer() {
        panel_->popoverDidShow();
        panel_->popoverDidShow();
        panel_->popoverDidShow();
        QCOMPARE(panel_->findChildren<QTimer*>().size(), 1);
        QVERIFY(panel_->timer()->isActive());
    }

    void noSampleLeavesTextAndDrawsZeros() {
        panel_->popoverDidShow();
        setMeminfo("MemFree: garbage\n");
        panel_->refreshMemoryUsage();
        QCOMPARE(freeText(), QStringLiteral("3.91 MB"));
        QCOMPARE(plotData(), (std::vector<std::int64_t>{0, 0, 0, 0}));
    }

    void cleanRunsInTheBackground_data() {
        QTest::addColumn<long>("freeKbAfter");
        QTest::addColumn<bool>("popoverOpen");
        QTest::addColumn<QString>("text");
        QTest::newRow("freed, open") << 4004L << true << "4.00 KB memory is cleaned!";
        QTest::newRow("freed, closed") << 6048L << false << "2.00 MB memory is cleaned!";
        QTest::newRow("nothing freed") << 4000L << true << "Enjoy your life!";
        QTest::newRow("less free") << 100L << true << "Enjoy your life!";
    }

    void cleanRunsInTheBackground() {
        QFETCH(long, freeKbAfter);
        QFETCH(bool, popoverOpen);
        QFETCH(QString, text);
        panel_->popoverDidShow();
        QSignalSpy done(panel_.get(), &MCContentViewController::cleanFinished);

        QTest::mouseClick(panel_->cleanButton(), Qt::LeftButton);
        QVERIFY(panel_->cleanInProgress());
        QVERIFY(!panel_->cleanButton()->isEnabled());
        QCOMPARE(panel_->cleanButton()->text(), QStringLiteral("Cleaning..."));
        QVERIFY(!panel_->timer()->isActive());
        QCOMPARE(panel_->freeMemoryWhenCleanHappens(), 4000 * 1024);

        // A show while cleaning starts no timer.
        panel_->popoverDidShow();
        QVERIFY(!panel_->timer()->isActive());
        QTRY_COMPARE(allocator_->passes(), 1); // the clean really waits in its first pass

        popup_->open = popoverOpen;
        setMeminfo(meminfoText(freeKbAfter));
        allocator_->open();
        QVERIFY(done.wait(5000));

        QCOMPARE(allocator_->passes(), 3);
        QVERIFY(panel_->cleanButton()->isEnabled());
        QCOMPARE(panel_->cleanButton()->text(), QStringLiteral("Clean Memory"));
        QCOMPARE(panel_->timer()->isActive(), popoverOpen);
        QCOMPARE(notifications_.delivered.size(), std::size_t{1});
        const UserNotification& n = notifications_.delivered.front();
        QCOMPARE(n.title, QStringLiteral("Memory Clean Done"));
        QCOMPARE(n.informativeText, text);
        QCOMPARE(n.soundName, QStringLiteral("message-new-instant"));
        QCOMPARE(plotData().back(), freeKbAfter * 1024); // one refresh after the clean
        QTRY_COMPARE(
            delegate_->events(),
            (std::vector<std::string>{"PopoverShown", "CleanButtonClicked", "PopoverShown"}));
    }

    // The clean outlives its panel: its progress and its end must reach nobody.
    void panelGoneMidCleanHearsNothing() {
        panel_->cleanMemoryButtonClicked();
        QTRY_COMPARE(allocator_->passes(), 1);
        panel_.reset();
        allocator_->open();
        QVERIFY(QThreadPool::globalInstance()->waitForDone(5000));
        QCoreApplication::processEvents(); // where a queued end would arrive
        QVERIFY(notifications_.delivered.empty());
    }

    void cleanWithoutSamplesSaysEnjoy() {
        setMeminfo("");
        panel_->popoverDidShow();
        QSignalSpy done(panel_.get(), &MCContentViewController::cleanFinished);
        panel_->cleanMemoryButtonClicked();
        QCOMPARE(panel_->freeMemoryWhenCleanHappens(), 0);
        QVERIFY(done.wait(5000));
        QCOMPARE(allocator_->passes(), 0); // no sample, no pass
        QCOMPARE(notifications_.delivered.front().informativeText,
                 QStringLiteral("Enjoy your life!"));
    }

    void resultText_data() {
        QTest::addColumn<qint64>("freed");
        QTest::addColumn<QString>("text");
        QTest::newRow("1536") << qint64(1536) << "1.50 KB memory is cleaned!";
        QTest::newRow("1") << qint64(1) << "1 B memory is cleaned!";
        QTest::newRow("5.5 GiB") << qint64(5905580032) << "5.50 GB memory is cleaned!";
        QTest::newRow("0") << qint64(0) << "Enjoy your life!";
        QTest::newRow("-4096") << qint64(-4096) << "Enjoy your life!";
    }

    void resultText() {
        QFETCH(qint64, freed);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(cleanResultText(freed)), text);
    }

    void quitAsksTheApplicationToTerminate() {
        QSignalSpy terminate(Application::sharedApplication(), &Application::terminateRequested);
        auto* quit = panel_->view()->findChild<QToolButton*>("quitButton");
        QVERIFY(quit);
        QTest::mouseClick(quit, Qt::LeftButton);
        QCOMPARE(terminate.size(), 1);
        QTRY_COMPARE(delegate_->events(), std::vector<std::string>{"QuitButtonClicked"});
    }

    void aboutOpensTheWindowThenClosesThePopover() {
        panel_->popoverDidShow();
        auto* about = panel_->view()->findChild<QToolButton*>("aboutButton");
        QVERIFY(about);
        QTest::mouseClick(about, Qt::LeftButton);
        QCOMPARE(log_.calls, (std::vector<std::string>{"showAboutWindow", "hidePopover"}));
        QTRY_COMPARE(delegate_->events(), (std::vector<std::string>{"PopoverShown", "AboutShown"}));
        QVERIFY(!panel_->timer()->isActive());
    }
};

QTEST_MAIN(PanelTest)
#include "test_panel.moc"
