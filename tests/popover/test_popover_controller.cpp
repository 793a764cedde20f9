// The popover controller: placement, direction choice, open and close rules, following the
// anchor and what the delegate hears, on a 1440 x 900 offscreen screen.
#include "INApplicationState.h"
#include "INPopoverController.h"
#include "INPopoverParentWindow.h"
#include "INPopoverWindow.h"
#include "INPopoverWindowFrame.h"
#include "PopoverTestPrinting.h"

#include <QPointer>
#include <QTest>

#include <chrono>
#include <memory>

using namespace std::chrono_literals;

namespace {

struct Recorder : INPopoverControllerDelegate {
    std::optional<bool> popoverShouldClose(INPopoverController*) override {
        ++shouldCloseAsked;
        return shouldClose;
    }
    void popoverWillShow(INPopoverController* c) override {
        calls << "willShow";
        // The window has its frame before it is shown.
        frameAtWillShow = c->popoverWindow()->frame();
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

    // A content view controller whose view has the given size.
    static std::shared_ptr<INViewController> contentOfSize(int w, int h) {
        auto view = std::make_unique<QWidget>();
        view->resize(w, h);
        return std::make_shared<INWidgetViewController>(std::move(view));
    }

    void makeController(QSize content, bool animates, INPopoverAnimationType type) {
        controller_ =
            std::make_unique<INPopoverController>(contentOfSize(content.width(), content.height()));
        controller_->setAnimates(animates);
        controller_->setAnimationType(type);
        controller_->setDelegate(&recorder_);
        controller_->popoverWindow()->alphaValueAnimation()->setDuration(20ms);
        controller_->popoverWindow()->setPopDuration(20ms);
    }

    void present(INPopoverArrowDirection preferred, bool anchors = true) {
        controller_->presentPopoverFromRect(INRect(0, 0, 30, 22), anchor_, preferred, anchors);
    }

    INPopoverWindow& window() { return *controller_->popoverWindow(); }

private slots:
    void init() {
        INApplicationState::shared()->overrideActive(true);
        // The anchor's screen rectangle is (1000, 878, 30, 22): its top touches the screen's.
        // Frameless, so the offscreen platform adds no decoration margins to it.
        host_ = std::make_unique<INPopoverParentWindow>(nullptr, Qt::FramelessWindowHint);
        host_->setGeometry(900, 0, 300, 200);
        anchor_ = new QWidget(host_.get());
        anchor_->setGeometry(100, 0, 30, 22);
        host_->show();
        host_->activateWindow();
        QTRY_VERIFY(host_->isActiveWindow());
        recorder_ = Recorder();
    }

    void cleanup() {
        controller_.reset();
        host_.reset();
        INApplicationState::shared()->overrideActive(std::nullopt);
    }

    void anchorIsConvertedToTheScreen_data() {
        QTest::addColumn<INRect>("inView");
        QTest::addColumn<INRect>("onScreen");
        QTest::newRow("whole view") << INRect(0, 0, 30, 22) << INRect(1000, 878, 30, 22);
        // View coordinates grow upwards from the view's bottom-left corner too.
        QTest::newRow("lower left part") << INRect(0, 0, 10, 8) << INRect(1000, 878, 10, 8);
        QTest::newRow("upper right part") << INRect(20, 14, 10, 8) << INRect(1020, 892, 10, 8);
        QTest::newRow("inner part") << INRect(5, 2, 10, 8) << INRect(1005, 880, 10, 8);
    }

    void anchorIsConvertedToTheScreen() {
        QFETCH(INRect, inView);
        QFETCH(INRect, onScreen);
        makeController({300, 200}, false, INPopoverAnimationTypePop);
        controller_->presentPopoverFromRect(inView, anchor_, INPopoverArrowDirectionUp, true);
        QCOMPARE(controller_->anchorScreenRect(), onScreen);
        QCOMPARE(controller_->anchorViewRect(), inView);
        QCOMPARE(controller_->positionView(), anchor_);
        // The window lands below that part of the view, centred on it.
        QCOMPARE(window().frame(), INRect(onScreen.midX() - 162, onScreen.y() - 224, 324, 224));
    }

    void placement_data() {
        QTest::addColumn<QSize>("content");
        QTest::addColumn<quint64>("direction");
        QTest::addColumn<INRect>("frame");
        QTest::newRow("300x200 up") << QSize(300, 200) << quint64(3) << INRect(853, 654, 324, 224);
        QTest::newRow("300x200 down")
            << QSize(300, 200) << quint64(1) << INRect(853, 900, 324, 224);
        QTest::newRow("300x200 right")
            << QSize(300, 200) << quint64(0) << INRect(676, 777, 324, 224);
        QTest::newRow("300x200 left")
            << QSize(300, 200) << quint64(2) << INRect(1030, 777, 324, 224);
        QTest::newRow("301x201 up") << QSize(301, 201) << quint64(3) << INRect(853, 653, 325, 225);
        QTest::newRow("301x201 down")
            << QSize(301, 201) << quint64(1) << INRect(853, 900, 325, 225);
        QTest::newRow("301x201 right")
            << QSize(301, 201) << quint64(0) << INRect(675, 777, 325, 225);
        QTest::newRow("301x201 left")
            << QSize(301, 201) << quint64(2) << INRect(1030, 777, 325, 225);
    }

    void placement() {
        QFETCH(QSize, content);
        QFETCH(quint64, direction);
        QFETCH(INRect, frame);
        makeController(content, false, INPopoverAnimationTypePop);
        QCOMPARE(controller_->contentSize(),
                 (INSize{double(content.width()), double(content.height())}));
        present(INPopoverArrowDirectionUp);
        QCOMPARE(controller_->popoverFrameWithSize(controller_->contentSize(), direction), frame);
        if (direction == INPopoverArrowDirectionUp) {
            QCOMPARE(window().frame(), frame);
            QCOMPARE(recorder_.frameAtWillShow, frame);
        }
    }

    void directionChoice_data() {
        QTest::addColumn<QSize>("content");
        QTest::addColumn<quint64>("preferred");
        QTest::addColumn<quint64>("chosen");
        QTest::newRow("up fits") << QSize(300, 200) << quint64(3) << quint64(3);
        QTest::newRow("down leaves the screen") << QSize(300, 200) << quint64(1) << quint64(3);
        QTest::newRow("sideways goes below") << QSize(300, 200) << quint64(0) << quint64(3);
        QTest::newRow("too tall keeps up") << QSize(300, 900) << quint64(3) << quint64(3);
        QTest::newRow("too tall keeps down") << QSize(300, 900) << quint64(1) << quint64(1);
    }

    void directionChoice() {
        QFETCH(QSize, content);
        QFETCH(quint64, preferred);
        QFETCH(quint64, chosen);
        makeController(content, false, INPopoverAnimationTypePop);
        present(preferred);
        QCOMPARE(controller_->arrowDirection(), chosen);
        QCOMPARE(window().frame(),
                 controller_->popoverFrameWithSize(controller_->contentSize(), chosen));
    }

    void recalculatingTheDirectionDoesNotMoveTheWindow() {
        makeController({300, 200}, false, INPopoverAnimationTypePop);
        present(INPopoverArrowDirectionUp);
        const INRect frame = window().frame();
        controller_->popoverWindow()->frameView()->setArrowDirection(INPopoverArrowDirectionDown);
        controller_->recalculateAndResetArrowDirection();
        QCOMPARE(controller_->arrowDirection(), INPopoverArrowDirectionUp);
        QCOMPARE(window().frame(), frame);
    }

    void resignKeyWhileTheApplicationIsInactiveKeepsItOpen() {
        makeController({300, 200}, false, INPopoverAnimationTypePop);
        present(INPopoverArrowDirectionUp);
        QTRY_VERIFY(window().isKeyWindow());
        INApplicationState::shared()->overrideActive(false);
        host_->activateWindow();
        QTRY_VERIFY(!window().isKeyWindow());
        QVERIFY(controller_->popoverIsVisible());
        const INNotification resign{INNotification::Name::WindowDidResignKey};
        controller_->closePopover(&resign);
        QVERIFY(controller_->popoverIsVisible());
        // The same while the application is active closes it.
        INApplicationState::shared()->overrideActive(true);
        controller_->closePopover(&resign);
        QVERIFY(!controller_->popoverIsVisible());
        QCOMPARE(recorder_.calls, kOneCycle);
    }

    void losingFocusToAnotherWindowCloses() {
        makeController({300, 200}, false, INPopoverAnimationTypePop);
        present(INPopoverArrowDirectionUp);
        QTRY_VERIFY(window().isKeyWindow());
        host_->activateWindow();
        QTRY_VERIFY(!controller_->popoverIsVisible());
        QCOMPARE(recorder_.calls, kOneCycle);
    }

    void delegateVeto_data() {
        QTest::addColumn<std::optional<bool>>("answer");
        QTest::addColumn<bool>("politeCloseCloses");
        QTest::newRow("says no") << std::optional<bool>(false) << false;
        QTest::newRow("says yes") << std::optional<bool>(true) << true;
        QTest::newRow("does not answer") << std::optional<bool>() << true;
    }

    void delegateVeto() {
        QFETCH(std::optional<bool>, answer);
        QFETCH(bool, politeCloseCloses);
        makeController({300, 200}, false, INPopoverAnimationTypePop);
        recorder_.shouldClose = answer;
        present(INPopoverArrowDirectionUp);
        controller_->closePopover();
        QCOMPARE(controller_->popoverIsVisible(), !politeCloseCloses);
        controller_->forceClosePopover();
        QVERIFY(!controller_->popoverIsVisible());
        QCOMPARE(recorder_.shouldCloseAsked, 1);
        QCOMPARE(recorder_.calls.count("didClose"), 1);
    }

    void worksWithoutADelegate() {
        makeController({300, 200}, true, INPopoverAnimationTypePop);
        controller_->setDelegate(nullptr);
        present(INPopoverArrowDirectionUp);
        QTRY_VERIFY(window().QWidget::isVisible() && !window().zoomWindow());
        QCOMPARE(host_->childWindows(), std::vector<QWidget*>{&window()});
        controller_->closePopover();
        QTRY_VERIFY(!controller_->popoverIsVisible());
        QVERIFY(!controller_->positionView());
        QVERIFY(recorder_.calls.isEmpty());
    }

    void fadeInOpensSlowlyAndClosesAtOnce() {
        makeController({300, 200}, true, INPopoverAnimationTypeFadeIn);
        present(INPopoverArrowDirectionUp);
        QCOMPARE(recorder_.calls, QStringList{"willShow"});
        QVERIFY(controller_->popoverIsVisible());
        QTRY_COMPARE(recorder_.calls, (QStringList{"willShow", "didShow"}));
        QCOMPARE(window().alphaValue(), 1.0);
        controller_->closePopover();
        QCOMPARE(recorder_.calls, kOneCycle);
        QVERIFY(!controller_->popoverIsVisible());
    }

    void fadeOutOpensAtOnceAndClosesSlowly() {
        makeController({300, 200}, true, INPopoverAnimationTypeFadeOut);
        present(INPopoverArrowDirectionUp);
        QCOMPARE(recorder_.calls, (QStringList{"willShow", "didShow"}));
        controller_->closePopover();
        QCOMPARE(recorder_.calls, (QStringList{"willShow", "didShow", "willClose"}));
        QVERIFY(controller_->popoverIsVisible());
        QTRY_COMPARE(recorder_.calls, kOneCycle);
        QVERIFY(recorder_.orderedOutAtDidClose);
        QCOMPARE(window().alphaValue(), 0.0);
    }

    void delegateOrderPerCycle_data() {
        QTest::addColumn<bool>("animates");
        QTest::addColumn<qint64>("type");
        for (qint64 type = 0; type <= 3; ++type) {
            QTest::addRow("animated type %lld", static_cast<long long>(type)) << true << type;
            QTest::addRow("still type %lld", static_cast<long long>(type)) << false << type;
        }
    }

    void delegateOrderPerCycle() {
        QFETCH(bool, animates);
        QFETCH(qint64, type);
        makeController({300, 200}, animates, type);
        for (int cycle = 1; cycle <= 2; ++cycle) {
            present(INPopoverArrowDirectionUp);
            QTRY_COMPARE(recorder_.calls.count("didShow"), cycle);
            controller_->closePopover();
            QTRY_COMPARE(recorder_.calls.count("didClose"), cycle);
        }
        QTest::qWait(40);
        QCOMPARE(recorder_.calls, kOneCycle + kOneCycle);
        QVERIFY(recorder_.orderedOutAtDidClose);
    }

    void stateAfterClose() {
        makeController({300, 200}, true, INPopoverAnimationTypePop);
        present(INPopoverArrowDirectionUp);
        QTRY_VERIFY(recorder_.calls.contains("didShow"));
        QCOMPARE(host_->childWindows(), std::vector<QWidget*>{&window()});
        controller_->closePopover();
        QTRY_VERIFY(recorder_.calls.contains("didClose"));
        QCOMPARE(controller_->arrowDirection(), INPopoverArrowDirectionRight);
        QVERIFY(!controller_->positionView());
        QCOMPARE(controller_->anchorScreenRect(), INRect());
        QCOMPARE(controller_->anchorViewRect(), INRect());
        QVERIFY(!window().isVisible());
        QVERIFY(host_->childWindows().empty());
        QTRY_VERIFY(!window().alphaValueAnimation()->delegate());
    }

    void closeInterruptingTheOpeningClosesOnce_data() {
        QTest::addColumn<qint64>("type");
        QTest::newRow("pop") << qint64(0);
        QTest::newRow("fade in and out") << qint64(3);
    }

    void closeInterruptingTheOpeningClosesOnce() {
        QFETCH(qint64, type);
        makeController({300, 200}, true, type);
        // Long enough that the opening is surely still running when the close comes.
        window().setPopDuration(400ms);
        window().alphaValueAnimation()->setDuration(400ms);
        present(INPopoverArrowDirectionUp);
        QTest::qWait(10);
        window().alphaValueAnimation()->setDuration(20ms);
        controller_->closePopover();
        QTRY_COMPARE(recorder_.calls.count("didClose"), 1);
        // Past the end the opening would have had: nothing more arrives, nothing reopens.
        QTest::qWait(450);
        QCOMPARE(recorder_.calls, (QStringList{"willShow", "willClose", "didClose"}));
        QVERIFY(!controller_->popoverIsVisible());
        QVERIFY(!window().zoomWindow());
    }

    void aSecondCloseDuringTheFadeOutIsIgnored() {
        makeController({300, 200}, true, INPopoverAnimationTypeFadeOut);
        window().alphaValueAnimation()->setDuration(80ms);
        present(INPopoverArrowDirectionUp);
        controller_->closePopover();
        controller_->forceClosePopover();
        QTRY_COMPARE(recorder_.calls.count("didClose"), 1);
        QTest::qWait(100);
        QCOMPARE(recorder_.calls, kOneCycle);
    }

    void presentingAgainRightAfterAnInstantCloseStillFinishesOpening() {
        makeController({300, 200}, true, INPopoverAnimationTypeFadeIn);
        present(INPopoverArrowDirectionUp);
        QTRY_COMPARE(recorder_.calls.count("didShow"), 1);
        controller_->closePopover();
        present(INPopoverArrowDirectionUp);
        QTRY_COMPARE(recorder_.calls.count("didShow"), 2);
        QVERIFY(controller_->popoverIsVisible());
    }

    void presentingWhileVisibleIsIgnored() {
        makeController({300, 200}, false, INPopoverAnimationTypePop);
        present(INPopoverArrowDirectionUp);
        const INRect frame = window().frame();
        controller_->presentPopoverFromRect(INRect(0, 0, 10, 10), host_.get(),
                                            INPopoverArrowDirectionLeft, true);
        QCOMPARE(window().frame(), frame);
        QCOMPARE(controller_->positionView(), anchor_);
        QCOMPARE(recorder_.calls, (QStringList{"willShow", "didShow"}));
    }

    void followsTheAnchor() {
        makeController({300, 200}, false, INPopoverAnimationTypePop);
        present(INPopoverArrowDirectionUp);
        const INRect before = window().frame();
        anchor_->move(50, 10);
        QCOMPARE(controller_->anchorScreenRect(), INRect(950, 868, 30, 22));
        QCOMPARE(window().frame(), INRect(before.x() - 50, before.y() - 10, 324, 224));
        // The direction is not chosen again and the size stays.
        QCOMPARE(controller_->arrowDirection(), INPopoverArrowDirectionUp);
        QVERIFY(controller_->popoverIsVisible());
    }

    void anchorLeavingItsParentCloses_data() {
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("moved partly out") << QRect(290, 0, 30, 22);
        QTest::newRow("made empty") << QRect(100, 0, 0, 22);
        QTest::newRow("moved above the top") << QRect(100, -1, 30, 22);
    }

    void anchorLeavingItsParentCloses() {
        QFETCH(QRect, geometry);
        makeController({300, 200}, true, INPopoverAnimationTypeFadeInOut);
        present(INPopoverArrowDirectionUp);
        QTRY_VERIFY(recorder_.calls.contains("didShow"));
        anchor_->setGeometry(geometry);
        QVERIFY(recorder_.calls.contains("willClose"));
        QTRY_COMPARE(recorder_.calls, kOneCycle);
    }

    void anchorTouchingItsParentsEdgeStays() {
        makeController({300, 200}, false, INPopoverAnimationTypePop);
        present(INPopoverArrowDirectionUp);
        anchor_->setGeometry(270, 178, 30, 22);
        QVERIFY(controller_->popoverIsVisible());
    }

    void withoutAnchoringMovesAreIgnored() {
        makeController({300, 200}, false, INPopoverAnimationTypePop);
        present(INPopoverArrowDirectionUp, false);
        const INRect before = window().frame();
        anchor_->setGeometry(290, 0, 30, 22);
        QCOMPARE(window().frame(), before);
        QVERIFY(controller_->popoverIsVisible());
    }

    void anchorDestroyedWhileOpenCloses() {
        makeController({300, 200}, false, INPopoverAnimationTypePop);
        present(INPopoverArrowDirectionUp);
        delete anchor_;
        anchor_ = nullptr;
        QVERIFY(!controller_->popoverIsVisible());
        QCOMPARE(recorder_.calls, kOneCycle);
    }

    void closeFlags_data() {
        QTest::addColumn<bool>("onResignKey");
        QTest::addColumn<bool>("onInactive");
        QTest::addColumn<bool>("closedByLeavingTheApplication");
        QTest::newRow("neither") << false << false << false;
        QTest::newRow("inactive only") << false << true << true;
        // Losing focus because the application was left never closes by the key rule alone.
        QTest::newRow("resign key only") << true << false << false;
        QTest::newRow("both") << true << true << true;
    }

    void closeFlags() {
        QFETCH(bool, onResignKey);
        QFETCH(bool, onInactive);
        QFETCH(bool, closedByLeavingTheApplication);
        makeController({300, 200}, false, INPopoverAnimationTypePop);
        controller_->setClosesWhenPopoverResignsKey(onResignKey);
        controller_->setClosesWhenApplicationBecomesInactive(onInactive);
        present(INPopoverArrowDirectionUp);
        QTRY_VERIFY(window().isKeyWindow());
        // Leaving the application: it turns inactive, then the popover loses the focus.
        INApplicationState::shared()->overrideActive(false);
        host_->activateWindow();
        QTRY_VERIFY(!window().isKeyWindow());
        QCOMPARE(!controller_->popoverIsVisible(), closedByLeavingTheApplication);
    }

    void keyFocusReturnsToThePopoverWhenTheApplicationComesBack() {
        makeController({300, 200}, false, INPopoverAnimationTypePop);
        present(INPopoverArrowDirectionUp);
        QTRY_VERIFY(window().isKeyWindow());
        INApplicationState::shared()->overrideActive(false);
        host_->activateWindow();
        QTRY_VERIFY(host_->isReallyKeyWindow());
        QVERIFY(controller_->popoverIsVisible());
        INApplicationState::shared()->overrideActive(true);
        // Deferred to a later turn of the event loop.
        QVERIFY(!window().isKeyWindow());
        QTRY_VERIFY(window().isKeyWindow());
        QVERIFY(controller_->popoverIsVisible());
    }

    void contentViewController() {
        auto first = contentOfSize(300, 200);
        auto second = contentOfSize(120, 80);
        INPopoverController controller(first);
        QCOMPARE(controller.contentView(), first->view());
        controller.setContentSize({50, 50});
        controller.setContentViewController(first);
        QCOMPARE(controller.contentSize(), (INSize{50, 50}));
        controller.setContentViewController(second);
        QCOMPARE(controller.contentSize(), (INSize{120, 80}));
        QCOMPARE(controller.contentView(), second->view());
        QVERIFY(first->view() && !first->view()->parentWidget());
        controller.setContentViewController(nullptr);
        QCOMPARE(controller.contentSize(), (INSize{0, 0}));
        QVERIFY(!controller.contentView());
    }

    void contentSizeResizesTheWindow() {
        makeController({300, 200}, false, INPopoverAnimationTypePop);
        present(INPopoverArrowDirectionUp);
        controller_->setContentSize({200, 100});
        QCOMPARE(window().frame(), INRect(903, 754, 224, 124));
        QCOMPARE(controller_->contentView()->geometry(), QRect(12, 12, 200, 100));
    }

    void theContentOutlivesTheController() {
        auto content = contentOfSize(300, 200);
        QPointer<QWidget> view = content->view();
        auto controller = std::make_unique<INPopoverController>(content);
        controller.reset();
        QVERIFY(view);
        content.reset();
        QVERIFY(!view);
    }

    void lookDefaults() {
        INPopoverController controller;
        QCOMPARE(controller.color(),
                 std::optional<QColor>(QColor::fromRgbF(0.94f, 0.94f, 0.94f, 0.92f)));
        QCOMPARE(controller.borderColor(), std::optional<QColor>(QColor::fromRgbF(1, 1, 1, 0.92f)));
        QCOMPARE(controller.borderWidth(), 1.0);
        QCOMPARE(controller.cornerRadius(), 4.0);
        QCOMPARE(controller.arrowSize(), (INSize{23, 12}));
        QCOMPARE(controller.arrowDirection(), INPopoverArrowDirectionLeft);
        QVERIFY(!controller.topHighlightColor());
        QVERIFY(controller.closesWhenPopoverResignsKey());
        QVERIFY(!controller.closesWhenApplicationBecomesInactive());
        QVERIFY(controller.animates());
        QCOMPARE(controller.animationType(), INPopoverAnimationTypePop);
        QCOMPARE(controller.popoverWindow()->popoverController(), &controller);
        controller.setCornerRadius(8);
        QCOMPARE(controller.popoverWindow()->frameView()->cornerRadius(), 8.0);
    }
};

QTEST_MAIN(TestPopoverController)
#include "test_popover_controller.moc"
