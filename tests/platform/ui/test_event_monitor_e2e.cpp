// Runs inside scripts/with-desktop.sh: real X server, a second X client, xdotool clicks.

#include "platform/ui/EventMonitor.h"
#include "support/XTools.h"

#include <QProcess>
#include <QTest>
#include <QWidget>

namespace {

// Removes a monitor however the test ends.
struct Installed {
    EventMonitor::Token token;
    ~Installed() { EventMonitor::removeMonitor(token); }
};

} // namespace

class EventMonitorEndToEnd : public QObject {
    Q_OBJECT

    QProcess other_;
    QWidget own_;

private slots:
    void initTestCase() {
        QVERIFY(EventMonitor::seesOtherApplications());
        other_.start(QStringLiteral("xmessage"),
                     {QStringLiteral("-geometry"), QStringLiteral("300x200+700+400"),
                      QStringLiteral("another application")});
        QVERIFY(other_.waitForStarted(5000));
        // Wait until the other client's window is mapped where we asked.
        QTRY_VERIFY_WITH_TIMEOUT(xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                          QStringLiteral("--name"), QStringLiteral("xmessage")}),
                                 5000);
        own_.setGeometry(50, 50, 300, 200);
        own_.show();
        QVERIFY(QTest::qWaitForWindowExposed(&own_));
    }

    void cleanupTestCase() {
        other_.kill();
        other_.waitForFinished(5000);
    }

    void pressesInOtherApplicationsOnly_data() {
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("y");
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("expected"); // EventMask bit, or 0 for none
        QTest::newRow("left on other") << 800 << 480 << 1 << int(LeftMouseDownMask);
        QTest::newRow("right on other") << 800 << 480 << 3 << int(RightMouseDownMask);
        QTest::newRow("middle on other") << 800 << 480 << 2 << 0;
        QTest::newRow("left on desktop") << 1200 << 50 << 1 << int(LeftMouseDownMask);
        QTest::newRow("left on own window") << 150 << 120 << 1 << 0;
        QTest::newRow("right on own window") << 150 << 120 << 3 << 0;
    }

    void pressesInOtherApplicationsOnly() {
        QFETCH(int, x);
        QFETCH(int, y);
        QFETCH(int, button);
        QFETCH(int, expected);
        std::vector<EventMask> seen;
        Installed monitor{EventMonitor::addGlobalMonitorForEventsMatchingMask(
            LeftMouseDownMask | RightMouseDownMask, [&seen](EventMask m) { seen.push_back(m); })};
        QVERIFY(monitor.token != 0);
        QVERIFY(clickAt(QPoint(x, y), button));
        if (expected != 0) {
            QTRY_COMPARE(seen.size(), std::size_t{1});
            QCOMPARE(int(seen.front()), expected);
        } else {
            // A marker press elsewhere proves events flow; ours must not have arrived before it.
            QVERIFY(clickAt(QPoint(1200, 700), 1));
            QTRY_COMPARE(seen.size(), std::size_t{1});
            QCOMPARE(seen.front(), LeftMouseDownMask);
        }
    }

    void maskFiltersAndRemovalStops() {
        int lefts = 0;
        int rights = 0;
        Installed left{EventMonitor::addGlobalMonitorForEventsMatchingMask(
            LeftMouseDownMask, [&lefts](EventMask) { ++lefts; })};
        Installed right{EventMonitor::addGlobalMonitorForEventsMatchingMask(
            RightMouseDownMask, [&rights](EventMask) { ++rights; })};
        QCOMPARE(EventMonitor::installedMonitorCount(), std::size_t{2});
        QVERIFY(clickAt(QPoint(800, 480), 3));
        QTRY_COMPARE(rights, 1);
        QCOMPARE(lefts, 0);
        EventMonitor::removeMonitor(right.token);
        EventMonitor::removeMonitor(right.token); // twice is harmless
        // A handler may remove its own monitor.
        int once = 0;
        EventMonitor::Token token = 0;
        token =
            EventMonitor::addGlobalMonitorForEventsMatchingMask(LeftMouseDownMask, [&](EventMask) {
                ++once;
                EventMonitor::removeMonitor(token);
            });
        QVERIFY(clickAt(QPoint(800, 480), 3));
        QVERIFY(clickAt(QPoint(800, 480), 1));
        QTRY_COMPARE(lefts, 1);
        QCOMPARE(once, 1);
        QCOMPARE(rights, 1);
        EventMonitor::removeMonitor(left.token);
        QCOMPARE(EventMonitor::installedMonitorCount(), std::size_t{0});
    }
};

QTEST_MAIN(EventMonitorEndToEnd)
#include "test_event_monitor_e2e.moc"
