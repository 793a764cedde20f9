#include "app/PanelFixture.h"

#include "chart/SimplePieChart.h"
#include "logging/DDAbstractLogger.h"
#include "logging/DDLog.h"
#include "support/ScopedEnv.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>

namespace {

// Keeps every message text it is given.
class RecordingLogger : public DDAbstractLogger {
public:
    void logMessage(const DDLogMessagePtr& message) override {
        std::lock_guard guard(mutex_);
        lines_.emplace_back(message->logFlag(), *message->logMsg());
    }
    std::vector<std::pair<std::int32_t, std::string>> lines() {
        std::lock_guard guard(mutex_);
        return lines_;
    }

private:
    std::mutex mutex_;
    std::vector<std::pair<std::int32_t, std::string>> lines_;
};

} // namespace

// The memory panel with doubles for the popup and the application, a clean held at a gate, and
// its clean button's progress.
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

    void aboutOpensTheWindowThenClosesThePopover() {
        panel_->popoverDidShow();
        QTest::mouseClick(panel_->view()->findChild<QToolButton*>("aboutButton"), Qt::LeftButton);
        QCOMPARE(log_.calls, (std::vector<std::string>{"showAboutWindow", "hidePopover"}));
        QTRY_COMPARE(delegate_->events(), (std::vector<std::string>{"PopoverShown", "AboutShown"}));
        QVERIFY(!panel_->timer()->isActive());
    }

    // "Cleaning..." first, then the share done, up to 100 %.
    void buttonShowsTheShareDoneUpToOneHundred() {
        TempDir dir;
        // 4000 kB free + 3000 kB inactive in 1 MiB chunks: seven chunks a pass.
        const std::string meminfo = dir.write("meminfo", meminfoText(4000));
        auto memory = std::make_shared<MCMemoryController>(make_host_port(meminfo, {}, 4096),
                                                           std::make_shared<MappedBlockAllocator>(),
                                                           std::nullopt, 1 << 20);
        auto panel = MCContentViewController::initWithNibName("MCContentViewController", memory);
        RecordingNotificationCenter notifications;
        panel->setNotificationCenter(&notifications);
        panel->view();
        QPushButton* button = panel->cleanButton();

        struct Shown {
            int percent;
            QString title;
            bool enabled;
        };
        std::vector<Shown> shown;
        connect(panel.get(), &MCContentViewController::cleanProgressShown, this, [&](int percent) {
            shown.push_back({percent, button->text(), button->isEnabled()});
        });
        QSignalSpy done(panel.get(), &MCContentViewController::cleanFinished);

        panel->cleanMemoryButtonClicked();
        QCOMPARE(button->text(), QStringLiteral("Cleaning...")); // before any progress
        QVERIFY(done.wait(10000));

        QVERIFY(!shown.empty());
        QCOMPARE(shown.back().percent, 100);
        const QRegularExpression title(QStringLiteral("^Cleaning\\.\\.\\. (\\d+) %$"));
        int previous = -1;
        for (const Shown& s : shown) {
            const auto match = title.match(s.title);
            QVERIFY2(match.hasMatch(), qPrintable(s.title));
            QCOMPARE(match.captured(1).toInt(), s.percent);
            QVERIFY(s.percent > previous);
            QVERIFY(!s.enabled);
            previous = s.percent;
        }
        QCOMPARE(button->text(), QStringLiteral("Clean Memory"));
        QVERIFY(button->isEnabled());
        QCOMPARE(notifications.delivered.size(), std::size_t{1});
    }

    void unclearLimitIsLoggedOnceAsAWarning() {
        auto logger = std::make_shared<RecordingLogger>();
        DDLog::addLogger(logger);
        auto panel = [] {
            const ScopedEnv env({{MCMemoryController::kMaxBytesEnv, "half"}});
            return MCContentViewController::initWithNibName("MCContentViewController");
        }();
        QCOMPARE(panel->memoryController()->passCap(), 0); // still the safe meaning
        DDLog::flushLog();
        DDLog::removeLogger(logger);
        int warnings = 0;
        for (const auto& [flag, text] : logger->lines()) {
            if (text.find(MCMemoryController::kMaxBytesEnv) != std::string::npos) {
                QCOMPARE(flag, LogFlagWarn);
                QVERIFY2(text.find("\"half\"") != std::string::npos, text.c_str());
                ++warnings;
            }
        }
        QCOMPARE(warnings, 1);
    }
};

QTEST_MAIN(PanelTest)
#include "test_panel.moc"
