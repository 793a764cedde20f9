// Runs inside scripts/with-desktop.sh: real X server, xdotool presses on the bare desktop. That
// presses in another application close the popover and presses in it do not is checked by
// tray_e2e (tests/app/test_tray_e2e.cpp, pressesElsewhereCloseButNotInside).

#include "platform/ui/EventMonitor.h"
#include "support/XTools.h"

#include <QTest>

namespace {

// Removes a monitor however the test ends.
struct Installed {
    EventMonitor::Token token;
    ~Installed() { EventMonitor::removeMonitor(token); }
};

} // namespace

class EventMonitorEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void masksFilterAndRemovalStops() {
        QVERIFY(EventMonitor::seesOtherApplications());
        const QPoint desktop(800, 480);
        std::vector<EventMask> both;
        int lefts = 0;
        int rights = 0;
        Installed all{EventMonitor::addGlobalMonitorForEventsMatchingMask(
            LeftMouseDownMask | RightMouseDownMask, [&both](EventMask m) { both.push_back(m); })};
        Installed left{EventMonitor::addGlobalMonitorForEventsMatchingMask(
            LeftMouseDownMask, [&lefts](EventMask) { ++lefts; })};
        Installed right{EventMonitor::addGlobalMonitorForEventsMatchingMask(
            RightMouseDownMask, [&rights](EventMask) { ++rights; })};
        QVERIFY(all.token != 0);
        QCOMPARE(EventMonitor::installedMonitorCount(), std::size_t{3});
        // The middle button is in no mask: the right press behind it arrives alone.
        QVERIFY(clickAt(desktop, 2));
        QVERIFY(clickAt(desktop, 3));
        QTRY_COMPARE(rights, 1);
        QCOMPARE(lefts, 0);
        QCOMPARE(both, std::vector<EventMask>{RightMouseDownMask});
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
        QVERIFY(clickAt(desktop, 3));
        QVERIFY(clickAt(desktop, 1));
        QTRY_COMPARE(lefts, 1);
        QCOMPARE(once, 1);
        QCOMPARE(rights, 1);
        QCOMPARE(both, (std::vector<EventMask>{RightMouseDownMask, RightMouseDownMask,
                                               LeftMouseDownMask}));
        EventMonitor::removeMonitor(left.token);
        EventMonitor::removeMonitor(all.token);
        QCOMPARE(EventMonitor::installedMonitorCount(), std::size_t{0});
    }
};

QTEST_MAIN(EventMonitorEndToEnd)
#include "test_event_monitor_e2e.moc"
