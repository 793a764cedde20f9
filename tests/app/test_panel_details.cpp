// The panel's rows beyond the chart (available, swap, pressure, the history graph, the biggest
// processes) and the monitor's actions, on the offscreen platform with the real status item
// popup and popover, fake kernel figures and a process list that counts its readings.

#include "AXStatusItemPopup/AXStatusItemPopup.h"
#include "app/MCMonitorController.h"
#include "app/MCSparklineView.h"
#include "app/PanelFixture.h"
#include "memory/MCMemoryMonitor.h"
#include "popover/INPopoverWindow.h"

#include <QLabel>
#include <QLayout>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QToolButton>

namespace {

constexpr std::int64_t kGB = 1'000'000'000;

MCProcess process(int pid, const char* name, std::int64_t bytes) {
    MCProcess p;
    p.pid = pid;
    p.name = name;
    p.bytes = bytes;
    return p;
}

// The row of the graph's line in column x: its most saturated blue pixel; -1 where none.
int lineRow(const QImage& image, int x) {
    for (int y = 0; y < image.height(); ++y) {
        const QColor c = image.pixelColor(x, y);
        if (c.blue() > 200 && c.red() < 100 && c.green() < 100) {
            return y;
        }
    }
    return -1;
}

bool amberish(QColor c) {
    return c.red() > c.blue() + 40 && c.green() > c.blue() + 15;
}

} // namespace

Q_DECLARE_METATYPE(MCMemoryDetails)

class PanelDetailsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> dir_;
    std::shared_ptr<GatedAllocator> allocator_;
    std::shared_ptr<FakeDetailsReader> details_;
    std::shared_ptr<CountingProcessReader> processes_;
    MCContentViewController* panel_ = nullptr; // kept by the popup
    std::unique_ptr<AXStatusItemPopup> popup_;
    CallLog log_;
    std::unique_ptr<AppDelegateDouble> delegate_;
    RecordingNotificationCenter notifications_;
    MCTime now_ = MCTime() + std::chrono::hours(1);

    INPopoverController* popover() const { return popup_->popoverController(); }
    QString text(const char* name) const {
        return panel_->view()->findChild<QLabel*>(QString::fromLatin1(name))->text();
    }
    std::unique_ptr<MCMonitorController> monitor(const MCSettings& settings) {
        auto controller = std::make_unique<MCMonitorController>(
            std::make_unique<MCMemoryMonitor>(details_), panel_);
        controller->setClock([this] { return now_; });
        controller->setNotificationCenter(&notifications_);
        controller->apply(settings);
        return controller;
    }
    void finishClean() {
        allocator_->open();
        QSignalSpy done(panel_, &MCContentViewController::cleanFinished);
        QVERIFY(done.wait(5000));
    }

private slots:
    void init() {
        dir_ = std::make_unique<TempDir>();
        const std::string path = dir_->write("meminfo", meminfoText(4000));
        allocator_ = std::make_shared<GatedAllocator>();
        auto memory =
            std::make_shared<MCMemoryController>(make_host_port(path, {}, 4096), allocator_, 4096);
        details_ = std::make_shared<FakeDetailsReader>();
        details_->set(detailsWith(50, 4 * kGB, 3 * kGB, MCPressure{0, 0}));
        processes_ = std::make_shared<CountingProcessReader>(
            std::vector<MCProcess>{process(11, "firefox", 3 * kGB), process(12, "code", 2 * kGB),
                                   process(13, "gnome-shell", kGB), process(14, "Xorg", kGB / 2),
                                   process(15, "pipewire", kGB / 4), process(16, "sshd", kGB / 8)});
        log_.calls.clear();
        notifications_.delivered.clear();
        delegate_ = std::make_unique<AppDelegateDouble>(log_);
        auto panel = MCContentViewController::initWithNibName("MCContentViewController", memory,
                                                              delegate_.get());
        QVERIFY(panel);
        panel_ = panel.get();
        panel_->setNotificationCenter(&notifications_);
        panel_->setDetailsReader(details_);
        panel_->setProcessReader(processes_);
        popup_ = std::make_unique<AXStatusItemPopup>(std::move(panel));
        popup_->setStatusItemPopupDelegate(panel_);
        panel_->setStatusItemPopup(popup_.get());
        popup_->setAnimated(false);
        popup_->mouseDown(QPoint(600, 0));
        QTRY_VERIFY(popover()->popoverIsVisible());
    }

    void cleanup() {
        allocator_->open();
        if (panel_->cleanInProgress()) {
            QSignalSpy done(panel_, &MCContentViewController::cleanFinished);
            QVERIFY(done.wait(5000));
        }
        QThreadPool::globalInstance()->waitForDone();
        popup_.reset();
        panel_ = nullptr;
    }

    void rowsFollowTheDetails_data() {
        QTest::addColumn<MCMemoryDetails>("details");
        QTest::addColumn<QString>("available");
        QTest::addColumn<QString>("swap"); // empty: the row is hidden
        QTest::addColumn<QString>("pressure");
        QTest::newRow("no swap, no PSI") << detailsWith(25) << "11.18 GB of 14.90 GB"
                                         << ""
                                         << "";
        QTest::newRow("swap, calm")
            << detailsWith(50, 4 * kGB, 3 * kGB, MCPressure{0.5, 0}) << "7.45 GB of 14.90 GB"
            << "953.67 MB / 3.73 GB"
            << "none";
        QTest::newRow("tasks waiting")
            << detailsWith(90, kGB, 0, MCPressure{12, 0.2}) << "1.49 GB of 14.90 GB"
            << "953.67 MB / 953.67 MB"
            << "some";
        QTest::newRow("whole machine stalls")
            << detailsWith(90, 0, 0, MCPressure{3, 1.5}) << "1.49 GB of 14.90 GB"
            << ""
            << "some";
        QTest::newRow("thrashing")
            << detailsWith(99, 0, 0, MCPressure{60, 25}) << "152.59 MB of 14.90 GB"
            << ""
            << "high";
    }

    void rowsFollowTheDetails() {
        QFETCH(MCMemoryDetails, details);
        QFETCH(QString, available);
        QFETCH(QString, swap);
        QFETCH(QString, pressure);
        details_->set(details);
        panel_->refreshMemoryUsage();
        QCOMPARE(panel_->availableTextField()->text(), available);
        QCOMPARE(panel_->swapRow()->isHidden(), swap.isEmpty());
        if (!swap.isEmpty()) {
            QCOMPARE(panel_->swapTextField()->text(), swap);
        }
        QCOMPARE(panel_->pressureRow()->isHidden(), pressure.isEmpty());
        if (!pressure.isEmpty()) {
            QCOMPARE(panel_->pressureTextField()->text(), pressure);
        }
        // The popover holds exactly the rows shown: no gap where a hidden row was.
        QCOMPARE(popover()->contentSize().height,
                 double(panel_->view()->layout()->sizeHint().height()));

        // A reading that fails leaves the rows as they were.
        details_->set(std::nullopt);
        panel_->refreshMemoryUsage();
        QCOMPARE(panel_->availableTextField()->text(), available);
        QCOMPARE(panel_->pressureRow()->isHidden(), pressure.isEmpty());
    }

    void sparklineDrawsTheHistory() {
        // Five minutes at a quarter used, then five at three quarters, the last 100 seconds
        // under some pressure.
        MCMemoryHistory history;
        const MCTime start = now_;
        for (int i = 0; i < 120; ++i) {
            MCHistoryPoint point;
            point.time = start + std::chrono::seconds(5 * i);
            point.usedFraction = i < 60 ? 0.25 : 0.75;
            point.pressure = i >= 100 ? MCPressure{20, 0} : MCPressure{0, 0};
            history.add(point);
        }
        MCSparklineView view;
        view.resize(240, 40);
        view.setColors(QColor(0, 0, 255), QColor(0xf5, 0xa5, 0x24), QColor(0xe5, 0x48, 0x4d));
        const auto render = [&view] {
            QImage image(view.size(), QImage::Format_ARGB32);
            image.fill(Qt::white);
            view.render(&image);
            return image;
        };
        const QImage empty = render();
        for (int x = 0; x < empty.width(); ++x) {
            QCOMPARE(lineRow(empty, x), -1);
        }

        view.setHistory(history);
        const QImage image = render();
        // Used fraction f sits at (1 - f) of the height: 30 for the first half, 10 after.
        for (int x : {10, 60, 110}) {
            QVERIFY2(std::abs(lineRow(image, x) - 30) <= 1, qPrintable(QString::number(x)));
        }
        for (int x : {130, 180, 230}) {
            QVERIFY2(std::abs(lineRow(image, x) - 10) <= 1, qPrintable(QString::number(x)));
        }
        // Pressure shades the last 100 of 600 seconds: the right sixth, from x = 200.
        QVERIFY(amberish(image.pixelColor(215, 3)));
        QVERIFY(amberish(image.pixelColor(238, 3)));
        QVERIFY(!amberish(image.pixelColor(190, 3)));
        QVERIFY(!amberish(image.pixelColor(50, 3)));
    }

    void processesAreReadOnlyWhileTheSectionIsOpen() {
        QVERIFY(!panel_->processesExpanded());
        QVERIFY(panel_->processesSection()->isHidden());
        panel_->refreshMemoryUsage();
        panel_->popoverDidShow();
        QThreadPool::globalInstance()->waitForDone();
        QCOMPARE(processes_->reads.load(), 0);

        QSignalSpy shown(panel_, &MCContentViewController::processesShown);
        QTest::mouseClick(panel_->processesButton(), Qt::LeftButton);
        QVERIFY(shown.wait(5000));
        QCOMPARE(processes_->reads.load(), 1);
        QVERIFY(panel_->processesSection()->isVisible());
        // The five biggest, biggest first; the sixth is left out.
        QCOMPARE(text("processName1"), QStringLiteral("firefox"));
        QCOMPARE(text("processSize1"), QStringLiteral("2.79 GB"));
        QCOMPARE(text("processName5"), QStringLiteral("pipewire"));
        QCOMPARE(text("processSize5"), QStringLiteral("238.42 MB"));
        QCOMPARE(panel_->shownProcesses().size(), std::size_t{5});

        // Each refresh of the open panel reads again; so does a later opening.
        panel_->refreshMemoryUsage();
        QVERIFY(shown.wait(5000));
        panel_->popoverDidShow();
        QVERIFY(shown.wait(5000));
        QCOMPARE(processes_->reads.load(), 3);

        QTest::mouseClick(panel_->processesButton(), Qt::LeftButton);
        QVERIFY(panel_->processesSection()->isHidden());
        panel_->refreshMemoryUsage();
        panel_->popoverDidShow();
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        QCOMPARE(processes_->reads.load(), 3);
    }

    void openingTheSectionGrowsThePopoverOnScreen() {
        QWidget* window = popover()->popoverWindow();
        const QRect closed = window->geometry();
        const double closedHeight = popover()->contentSize().height;
        QTest::mouseClick(panel_->processesButton(), Qt::LeftButton);
        // Five more lines, and the popover follows: its top stays under the icon, all of it
        // on the screen and within 720 points.
        QTRY_VERIFY(window->geometry().height() >= closed.height() + 5 * 12);
        const QRect open = window->geometry();
        QCOMPARE(popover()->contentSize().height, double(panel_->view()->height()));
        QCOMPARE(open.top(), closed.top());
        QVERIFY(window->screen()->geometry().contains(open));
        QVERIFY2(open.height() <= 720, qPrintable(QString::number(open.height())));
        QVERIFY(panel_->processesSection()->geometry().bottom() <
                panel_->cleanButton()->geometry().top());

        QTest::mouseClick(panel_->processesButton(), Qt::LeftButton);
        QTRY_COMPARE(window->geometry(), closed);
        QCOMPARE(popover()->contentSize().height, closedHeight);
    }

    void autoCleanRunsTheCleanWithoutAClick() {
        MCSettings settings;
        settings.autoClean.enabled = true;
        settings.lowMemory.enabled = false;
        details_->set(detailsWith(95));
        auto controller = monitor(settings);
        QSignalSpy started(panel_, &MCContentViewController::cleanStarted);
        controller->tick();
        QCOMPARE(started.size(), 1);
        QCOMPARE(started.at(0).at(0).toBool(), true);
        QVERIFY(panel_->cleanInProgress());
        QCOMPARE(panel_->cleanButton()->text(), QStringLiteral("Cleaning..."));

        // Long after its interval, but the clean still runs: nothing more starts.
        now_ += std::chrono::hours(2);
        controller->tick();
        QCOMPARE(started.size(), 1);
        finishClean();
        QCOMPARE(notifications_.delivered.size(), std::size_t{1});
        QCOMPARE(notifications_.delivered[0].title, QStringLiteral("Memory Clean Done"));

        // Events go out in order: one sent now comes after any the clean would have sent.
        panel_->showAbout();
        QTRY_COMPARE(delegate_->events(), (std::vector<std::string>{"PopoverShown", "AboutShown"}));
    }

    void aCleanOfTheUserRestartsTheAutoCleanInterval() {
        MCSettings settings;
        settings.autoClean.enabled = true;
        settings.autoClean.intervalMinutes = 30;
        settings.lowMemory.enabled = false;
        details_->set(detailsWith(95));
        auto controller = monitor(settings);
        QSignalSpy started(panel_, &MCContentViewController::cleanStarted);
        panel_->cleanMemoryButtonClicked();
        finishClean();
        now_ += std::chrono::minutes(29);
        controller->tick();
        QCOMPARE(started.size(), 1);
        now_ += std::chrono::minutes(1);
        controller->tick();
        QCOMPARE(started.size(), 2);
        QCOMPARE(started.at(1).at(0).toBool(), true);
    }

    void lowMemoryNotifiesOnceWithItsReason_data() {
        QTest::addColumn<MCMemoryDetails>("details");
        QTest::addColumn<int>("ticks"); // 5 seconds apart
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("body");
        QTest::newRow("little available") << detailsWith(95) << 1 << "Memory is running low"
                                          << "762.94 MB available (5 %)";
        QTest::newRow("high pressure for 10 s")
            << detailsWith(60, 0, 0, MCPressure{70, 30}) << 3 << "Memory pressure is high"
            << "Programs keep waiting for memory. 5.96 GB available (40 %). Closing a big "
               "program helps.";
    }

    void lowMemoryNotifiesOnceWithItsReason() {
        QFETCH(MCMemoryDetails, details);
        QFETCH(int, ticks);
        QFETCH(QString, title);
        QFETCH(QString, body);
        details_->set(details);
        auto controller = monitor(MCSettings{});
        for (int i = 0; i < ticks; ++i) {
            QCOMPARE(notifications_.delivered.size(), std::size_t{0});
            controller->tick();
            now_ += std::chrono::seconds(5);
        }
        QCOMPARE(notifications_.delivered.size(), std::size_t{1});
        QCOMPARE(notifications_.delivered[0].title, title);
        QCOMPARE(notifications_.delivered[0].informativeText, body);
        // Still low a minute later: no second notification.
        for (int i = 0; i < 12; ++i) {
            controller->tick();
            now_ += std::chrono::seconds(5);
        }
        QCOMPARE(notifications_.delivered.size(), std::size_t{1});
    }
};

QTEST_MAIN(PanelDetailsTest)
#include "test_panel_details.moc"
