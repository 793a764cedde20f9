// The popover controller: placement, direction choice, open and close rules, following the
// anchor and what the delegate hears, on a 1440 x 900 offscreen screen.
#include "popover/INApplicationState.h"
#include "popover/INPopoverController.h"
#include "popover/INPopoverParentWindow.h"
#include "popover/INPopoverWindow.h"
#include "popover/PopoverTestPrinting.h"

#include <QTest>

#include <chrono>
#include <memory>
#include <tuple>

using namespace std::chrono_literals;

namespace {

struct Recorder : INPopoverControllerDelegate {
    std::optional<bool> popoverShouldClose(INPopoverController*) override {
        ++shouldCloseAsked;
        return shouldClose;
    }
    void popoverWillShow(INPopoverController* c) override {
        calls << "willShow";
        frameAtWillShow = c->popoverWindow()->frame(); // placed before it is shown
    }
    void popoverDidShow(INPopoverController*) override { calls << "didShow"; }
    void popoverWillClose(INPopoverController*) override { calls << "willClose"; }
    void popoverDidClose(INPopoverController* c) override {
        calls << "didClose";
        orderedOutAtDidClose = !c->popoverWindow()->QWidget::isVisible();
    }
    QStringList calls;
    std::optional<bool> shouldClose;
    int shouldCloseAsked = 0;
    INRect frameAtWillShow;
    bool orderedOutAtDidClose = false;
};

const QStringList kOneCycle{"willShow", "didShow", "willClose", "didClose"};

} // namespace

class TestPopoverController : public QObject {
    Q_OBJECT

    std::unique_ptr<INPopoverParentWindow> host_;
    QWidget* anchor_ = nullptr;
    std::unique_ptr<INPopoverController> controller_;
    Recorder recorder_;

    // A controller for content of `size`, presenting against the anchor unless `show` is false.
    void open(INPopoverAnimationType type, bool animates = true, QSize size = {300, 200},
              INPopoverArrowDirection preferred = 3, bool show = true) {
        recorder_ = Recorder();
        auto view = std::make_unique<QWidget>();
        view->resize(size);
        controller_ = std::make_unique<INPopoverController>(
            std::make_unique<INWidgetViewController>(std::move(view)));
        controller_->setAnimates(animates);
        controller_->setAnimationType(type);
        controller_->setDelegate(&recorder_);
        window().alphaValueAnimation()->setDuration(20ms);
        window().setPopDuration(20ms);
        if (show) {
            present(preferred);
        }
    }
    void present(INPopoverArrowDirection preferred = 3) {
        controller_->presentPopoverFromRect(INRect(0, 0, 30, 22), anchor_, preferred, true);
    }
    INPopoverWindow& window() { return *controller_->popoverWindow(); }

private slots:
    void init() {
        INApplicationState::shared()->overrideActive(true);
        // The anchor's screen rectangle is (1000, 878, 30, 22): its top touches the screen's.
        host_ = std::make_unique<INPopoverParentWindow>(nullptr, Qt::FramelessWindowHint);
        host_->setGeometry(900, 0, 300, 200);
        anchor_ = new QWidget(host_.get());
        anchor_->setGeometry(100, 0, 30, 22);
        host_->show();
        host_->activateWindow();
        QTRY_VERIFY(host_->isActiveWindow());
    }

    void cleanup() {
        controller_.reset();
        host_.reset();
        INApplicationState::shared()->overrideActive(std::nullopt);
    }

    void placement() {
        open(INPopoverAnimationTypePop, false, {301, 201});
        QCOMPARE(window().frame(), INRect(853, 653, 325, 225));
        QCOMPARE(recorder_.frameAtWillShow, window().frame());
        // Anchor rectangles are in the view's own coordinates, growing up from its bottom-left.
        controller_->forceClosePopover();
        controller_->presentPopoverFromRect(INRect(20, 14, 10, 8), anchor_, 3, true);
        QCOMPARE(controller_->anchorScreenRect(), INRect(1020, 892, 10, 8));
        QCOMPARE(window().frame(), INRect(1025 - 162, 892 - 225, 325, 225));
    }

    void repositionChoosesTheDirectionAgain() {
        // A tray host that places its icon after the popover opened, on another edge: the
        // popover goes with it, its direction chosen again, and stays on the screen.
        open(INPopoverAnimationTypePop, false, {300, 340});
        QCOMPARE(controller_->arrowDirection(), INPopoverArrowDirectionUp);
        anchor_->move(100, 200 - 22); // the host's bottom edge: (1000, 700, 30, 22) on screen
        host_->move(900, 900 - 200);
        controller_->repositionPopover(INRect(0, 0, 30, 22), INPopoverArrowDirectionUp);
        QCOMPARE(controller_->anchorScreenRect(), INRect(1000, 0, 30, 22));
        QCOMPARE(controller_->arrowDirection(), INPopoverArrowDirectionDown);
        QCOMPARE(window().frame(), INRect(853, 22, 324, 364));
        // Closed, nothing moves.
        controller_->forceClosePopover();
        controller_->repositionPopover(INRect(0, 0, 30, 22), INPopoverArrowDirectionLeft);
        QCOMPARE(controller_->arrowDirection(), INPopoverArrowDirectionRight);
        QCOMPARE(controller_->anchorScreenRect(), INRect());
    }

    void directionChoice() {
        // Down would leave the screen; up fits.
        open(INPopoverAnimationTypePop, false, {300, 200}, INPopoverArrowDirectionDown);
        QCOMPARE(controller_->arrowDirection(), INPopoverArrowDirectionUp);
        QCOMPARE(window().frame(), INRect(853, 654, 324, 224));
    }

    void closeRules() {
        // Closes on resign key, closes when inactive, closed by leaving the application.
        const std::tuple<bool, bool, bool> cases[] = {
            {false, false, false}, {false, true, true}, {true, false, false}};
        for (const auto& [onResignKey, onInactive, closes] : cases) {
            INApplicationState::shared()->overrideActive(true);
            host_->activateWindow();
            open(INPopoverAnimationTypePop, false);
            controller_->setClosesWhenPopoverResignsKey(onResignKey);
            controller_->setClosesWhenApplicationBecomesInactive(onInactive);
            // Leaving the application: it turns inactive, then the popover loses the focus.
            QTRY_VERIFY(window().isKeyWindow());
            INApplicationState::shared()->overrideActive(false);
            host_->activateWindow();
            QTRY_VERIFY(host_->isReallyKeyWindow());
            QCOMPARE(!controller_->popoverIsVisible(), closes);
        }
        // Back in the application the popover takes the focus again, on a later turn.
        INApplicationState::shared()->overrideActive(true);
        QVERIFY(!window().isKeyWindow());
        QTRY_VERIFY(window().isKeyWindow());
        // Losing the focus to another window of the active application closes.
        host_->activateWindow();
        QTRY_VERIFY(!controller_->popoverIsVisible());
        QCOMPARE(recorder_.calls, kOneCycle);
    }

    void delegateVetoesAllButAForcedClose() {
        for (std::optional<bool> answer :
             {std::optional(false), std::optional(true), std::optional<bool>()}) {
            open(INPopoverAnimationTypePop, false);
            recorder_.shouldClose = answer;
            controller_->closePopover();
            QCOMPARE(controller_->popoverIsVisible(), answer == false);
            controller_->forceClosePopover();
            QCOMPARE(recorder_.shouldCloseAsked, 1);
            QCOMPARE(recorder_.calls, kOneCycle);
        }
    }

    void delegateOrderPerCycle() {
        // Still (-1), then each animation type: all but the fade out open slowly, all but the
        // fade in close slowly.
        for (qint64 type = -1; type <= 3; ++type) {
            open(std::max<qint64>(type, 0), type >= 0);
            QCOMPARE(recorder_.calls.size(), type == 0 || type == 1 || type == 3 ? 1 : 2);
            for (int cycle = 1; cycle <= 2; ++cycle) {
                QTRY_COMPARE(recorder_.calls.count("didShow"), cycle);
                QCOMPARE(host_->childWindows(), std::vector<QWidget*>{&window()});
                controller_->closePopover();
                QCOMPARE(recorder_.calls.count("didClose"),
                         cycle - (type >= 0 && type != 1 ? 1 : 0));
                QTRY_COMPARE(recorder_.calls.count("didClose"), cycle);
                QVERIFY(recorder_.orderedOutAtDidClose);
                // Reset after the close: no arrow direction, anchor or child window.
                QCOMPARE(controller_->arrowDirection(), INPopoverArrowDirectionRight);
                QVERIFY(!controller_->positionView() && host_->childWindows().empty());
                if (cycle == 1) {
                    present(); // at once after the close
                }
            }
            QTest::qWait(40);
            QCOMPARE(recorder_.calls, kOneCycle + kOneCycle);
        }
    }

    void exactlyOneCloseEvenWhenInterrupted() {
        for (qint64 type : {INPopoverAnimationTypePop, INPopoverAnimationTypeFadeInOut}) {
            open(type, true, {300, 200}, 3, false);
            // Long enough that the opening is surely still running when the close comes.
            window().setPopDuration(400ms);
            window().alphaValueAnimation()->setDuration(400ms);
            present();
            QTest::qWait(10);
            window().alphaValueAnimation()->setDuration(20ms);
            controller_->closePopover();
            controller_->forceClosePopover(); // a second close during the fade is ignored
            QTRY_COMPARE(recorder_.calls.count("didClose"), 1);
            // Past the end the opening would have had: nothing more arrives, nothing reopens.
            QTest::qWait(450);
            QCOMPARE(recorder_.calls, (QStringList{"willShow", "willClose", "didClose"}));
            QVERIFY(!controller_->popoverIsVisible() && !window().zoomWindow());
        }
    }

    void followsTheAnchor() {
        open(INPopoverAnimationTypePop, false);
        anchor_->move(50, 10);
        QCOMPARE(controller_->anchorScreenRect(), INRect(950, 868, 30, 22));
        QCOMPARE(window().frame(), INRect(803, 644, 324, 224));
        controller_->setContentSize({200, 100});
        QCOMPARE(window().frame(), INRect(853, 744, 224, 124));
        QCOMPARE(controller_->contentView()->geometry(), QRect(12, 12, 200, 100));
        // Touching the parent's edge is still inside.
        anchor_->setGeometry(270, 178, 30, 22);
        QVERIFY(controller_->popoverIsVisible());
    }

    void anchorLeavingItsParentCloses() {
        for (const QRect& geometry : {QRect(290, 0, 30, 22), QRect(100, 0, 0, 22)}) {
            anchor_->setGeometry(100, 0, 30, 22);
            open(INPopoverAnimationTypeFadeInOut);
            QTRY_VERIFY(recorder_.calls.contains("didShow"));
            anchor_->setGeometry(geometry);
            QVERIFY(recorder_.calls.contains("willClose"));
            QTRY_COMPARE(recorder_.calls, kOneCycle);
        }
        // A destroyed anchor closes.
        open(INPopoverAnimationTypePop, false);
        delete anchor_;
        QCOMPARE(recorder_.calls, kOneCycle);
    }
};

QTEST_MAIN(TestPopoverController)
#include "test_popover_controller.moc"
