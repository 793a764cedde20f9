// The popover window: content geometry, content replacement, opening and closing animations,
// and the parent window's key state.
#include "popover/INApplicationState.h"
#include "popover/INPopoverController.h"
#include "popover/INPopoverParentWindow.h"
#include "popover/INPopoverWindow.h"
#include "popover/INPopoverWindowFrame.h"
#include "popover/PopoverTestPrinting.h"

#include <QPointer>
#include <QTest>

#include <chrono>
#include <memory>
#include <vector>

using namespace std::chrono_literals;

namespace {

// Records each alpha animation end with the alpha the window had at that moment.
struct AlphaRecorder : INAnimationDelegate {
    explicit AlphaRecorder(INPopoverWindow& w) : window(w) {
        window.alphaValueAnimation()->setDuration(30ms);
        window.setPopDuration(30ms);
        window.alphaValueAnimation()->setDelegate(this);
    }
    void animationDidStop(INAnimation*, bool) override { alphas.push_back(window.alphaValue()); }
    INPopoverWindow& window;
    std::vector<double> alphas;
};

} // namespace

class TestPopoverWindow : public QObject {
    Q_OBJECT

private slots:
    void frameAndContentRectangles() {
        // The arrow height (8 here) comes from the frame view.
        INPopoverWindow window;
        window.frameView()->setArrowSize({23, 8});
        QCOMPARE(window.frameRectForContentRect(INRect(30, 40, 200, 150)),
                 INRect(22, 32, 216, 166));
        // The frame's position is dropped on the way back.
        QCOMPARE(window.contentRectForFrameRect(INRect(500, 300, 216, 166)),
                 INRect(8, 8, 200, 150));
    }

    void contentViewReplacement() {
        auto first = std::make_unique<QWidget>();
        auto second = std::make_unique<QWidget>();
        {
            INPopoverWindow window(INRect(0, 0, 224, 174));
            QPointer<QWidget> placeholder = window.popoverContentView();
            QCOMPARE(placeholder->geometry(), QRect(12, 12, 200, 150));

            window.setPopoverContentView(first.get());
            QCOMPARE(first->parentWidget(), window.frameView());
            QCOMPARE(first->geometry(), QRect(12, 12, 200, 150));
            QVERIFY2(!placeholder, "the window's own empty view is released when replaced");
            // The same view again is left exactly where it is.
            first->setGeometry(1, 2, 3, 4);
            window.setPopoverContentView(first.get());
            QCOMPARE(first->geometry(), QRect(1, 2, 3, 4));

            window.setContentView(second.get());
            QCOMPARE(window.popoverContentView(), second.get());
            QVERIFY(first->parentWidget() == nullptr);
            // The content keeps its margins as the frame changes.
            window.setFrame(INRect(10, 10, 124, 124), true);
            QCOMPARE(second->geometry(), QRect(12, 12, 100, 100));
        }
        // Not deleted with the window: it belongs to its view controller.
        QVERIFY(second->parentWidget() == nullptr);
    }

    void presentAnimatedPerType() {
        // Pop, fade in, fade out only (nothing to do when opening), fade in and out.
        for (qint64 type : {0, 1, 2, 3}) {
            INPopoverController controller;
            controller.setAnimationType(type);
            INPopoverWindow& window = *controller.popoverWindow();
            window.setFrame(INRect(600, 400, 324, 224), true);
            AlphaRecorder recorder(window);
            window.presentAnimated();
            QCOMPARE(window.zoomWindow() != nullptr, type == 0);
            if (type == 0) { // a snapshot of the popover, growing from a 20 x 20 content size
                QCOMPARE(window.zoomWindow()->geometry().size(), QSize(44, 44));
                QCOMPARE(window.zoomWindow()->snapshot().size(), QSize(324, 224));
            }
            // During the pop only the zoom window is on screen, yet the popover is visible.
            QCOMPARE(window.isVisible(), type != 2);
            QCOMPARE(window.QWidget::isVisible(), type == 1 || type == 3);
            QCOMPARE(type == 0 ? window.zoomWindow()->windowOpacity() : window.alphaValue(),
                     type == 2 ? 1.0 : 0.0);
            if (type == 2) {
                QTest::qWait(60);
                QVERIFY(recorder.alphas.empty());
                continue;
            }
            // The end is reported with the alpha already final.
            QTRY_COMPARE(recorder.alphas, std::vector<double>{1.0});
            QVERIFY(window.QWidget::isVisible() && !window.zoomWindow());
            window.presentAnimated(); // an open window stays as it is
            QVERIFY(!window.zoomWindow());
            window.dismissAnimated();
            QTRY_COMPARE(recorder.alphas, (std::vector<double>{1.0, 0.0}));
        }
    }

    void parentWindowKeyState() {
        INApplicationState::shared()->overrideActive(true);
        INPopoverParentWindow parent;
        parent.setGeometry(100, 100, 300, 200);
        parent.show();
        parent.activateWindow();
        QTRY_VERIFY(parent.isKeyWindow());
        // A popover child keeps the parent looking key while the application is active.
        INPopoverWindow popover(INRect(300, 300, 224, 174));
        popover.setParentWindow(&parent);
        popover.makeKeyAndOrderFront();
        QTRY_VERIFY(popover.isKeyWindow());
        QVERIFY(!parent.isReallyKeyWindow() && parent.isKeyWindow());
        INApplicationState::shared()->overrideActive(false);
        QVERIFY(!parent.isKeyWindow());
        INApplicationState::shared()->overrideActive(true);
        popover.setParentWindow(nullptr);
        QVERIFY(!parent.isKeyWindow());
    }
};

QTEST_MAIN(TestPopoverWindow)
#include "test_popover_window.moc"
