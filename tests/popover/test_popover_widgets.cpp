// The popover's frame view, window and controller on a 1440 x 900 offscreen screen.
#include "popover/INApplicationState.h"
#include "popover/INPopoverController.h"
#include "popover/INPopoverParentWindow.h"
#include "popover/INPopoverWindow.h"
#include "popover/INPopoverWindowFrame.h"

#include <QImage>
#include <QPointer>
#include <QTest>

#include <chrono>
#include <memory>
#include <sstream>
#include <tuple>
#include <vector>

using namespace std::chrono_literals;

// Lets QCOMPARE print the popover's rectangles on failure.
char* toString(const INRect& rect) {
    std::ostringstream os;
    os << rect;
    return qstrdup(os.str().c_str());
}

namespace {

const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);

// A 300 x 200 frame painted into an image, read in the view's own coordinates (y up).
struct Painted {
    QImage image;
    explicit Painted(INPopoverWindowFrame& frame) : image(frame.size(), QImage::Format_ARGB32) {
        image.fill(Qt::transparent);
        frame.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    }
    QColor at(int x, int y) const { return image.pixelColor(x, image.height() - 1 - y); }
};

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

struct Recorder : INPopoverControllerDelegate {
    std::optional<bool> popoverShouldClose(INPopoverController*) override { return shouldClose; }
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
    INRect frameAtWillShow;
    bool orderedOutAtDidClose = false;
};

const QStringList kOneCycle{"willShow", "didShow", "willClose", "didClose"};

} // namespace

class TestPopoverWidgets : public QObject {
    Q_OBJECT

    std::unique_ptr<INPopoverParentWindow> host_;
    QWidget* anchor_ = nullptr;
    std::unique_ptr<INPopoverController> controller_;
    Recorder recorder_;

    // A controller for content of `size`, presenting against the anchor unless `show` is false.
    void open(INPopoverAnimationType type, bool animates = true, QSize size = {300, 200},
              bool show = true) {
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
            present();
        }
    }
    void present(INPopoverArrowDirection preferred = 3, INRect rect = INRect(0, 0, 30, 22)) {
        controller_->presentPopoverFromRect(rect, anchor_, preferred, true);
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

    void frameRedrawsAndPaints() {
        using F = INPopoverWindowFrame;
        // Each setter called with a new value asks for a redraw.
        const std::tuple<const char*, void (*)(F&), bool> cases[] = {
            {"color", [](F& f) { f.setColor(kRed); }, true},
            {"no color", [](F& f) { f.setColor(std::nullopt); }, true},
            {"borderColor", [](F& f) { f.setBorderColor(kRed); }, true},
            {"borderWidth", [](F& f) { f.setBorderWidth(1.5); }, true},
            {"cornerRadius", [](F& f) { f.setCornerRadius(4.0001); }, true},
            {"arrow height", [](F& f) { f.setArrowSize(INSize(23, 11)); }, true},
            {"arrow width", [](F& f) { f.setArrowSize(INSize(24, 12)); }, true},
            {"arrowDirection", [](F& f) { f.setArrowDirection(3); }, true},
            // The highlight colour shows only at a redraw that something else causes.
            {"topHighlightColor", [](F& f) { f.setTopHighlightColor(kRed); }, false},
        };
        for (const auto& [name, set, redraws] : cases) {
            F frame(INRect(0, 0, 300, 200));
            frame.setNeedsDisplay(false);
            set(frame);
            QVERIFY2(frame.needsDisplay() == redraws, name);
        }
        // Inside each arrow next to its tip: right, down, left, up.
        const QPoint tips[] = {{297, 100}, {150, 2}, {2, 100}, {150, 197}};
        for (quint64 direction : {0, 1, 2, 3, 7}) {
            INPopoverWindowFrame frame(INRect(0, 0, 300, 200));
            frame.setColor(kRed);
            frame.setBorderWidth(1.0);
            frame.setBorderColor(kRed);
            frame.setArrowDirection(direction);
            frame.setTopHighlightColor(QColor(0, 255, 0, 64));
            const Painted p(frame);
            QCOMPARE(p.at(150, 100), kRed);
            for (quint64 d = 0; d < 4; ++d) {
                QCOMPARE(p.at(tips[d].x(), tips[d].y()).alpha() != 0, d == direction);
            }
            // The highlight on row 186 is copied, not blended over the red fill, and leaves a
            // gap under an arrow on the top edge.
            QCOMPARE(p.at(50, 186), QColor(0, 255, 0, 64));
            QCOMPARE(p.at(50, 185), kRed);
            QCOMPARE(p.at(150, 186) == kRed, direction == 3);
        }
        // A stroke without a fill, then a wider one over a fill.
        INPopoverWindowFrame frame(INRect(0, 0, 300, 200));
        frame.setColor(std::nullopt);
        frame.setArrowDirection(3);
        frame.setBorderWidth(2.0);
        frame.setBorderColor(kBlue);
        Painted p(frame);
        QCOMPARE(p.at(150, 100).alpha(), 0); // no fill without a colour
        QCOMPARE(p.at(12, 100), kBlue);      // the stroke straddles the body's edge at x 12
        QCOMPARE(p.at(11, 100), kBlue);
        frame.setColor(kRed);
        frame.setBorderWidth(4.0);
        p = Painted(frame);
        QCOMPARE(p.at(13, 50), kBlue);
        QCOMPARE(p.at(20, 50), kRed);
    }

    void windowRectanglesAndContentViewReplacement() {
        // The arrow height (8 here) comes from the frame view.
        INPopoverWindow plain;
        plain.frameView()->setArrowSize({23, 8});
        QCOMPARE(plain.frameRectForContentRect(INRect(30, 40, 200, 150)), INRect(22, 32, 216, 166));
        // The frame's position is dropped on the way back.
        QCOMPARE(plain.contentRectForFrameRect(INRect(500, 300, 216, 166)), INRect(8, 8, 200, 150));

        auto first = std::make_unique<QWidget>();
        auto second = std::make_unique<QWidget>();
        {
            INPopoverWindow window(INRect(0, 0, 224, 174));
            QPointer<QWidget> placeholder = window.popoverContentView();
            window.setPopoverContentView(first.get());
            QCOMPARE(first->parentWidget(), window.frameView());
            QCOMPARE(first->geometry(), QRect(12, 12, 200, 150));
            QVERIFY2(!placeholder, "the window's own empty view is released when replaced");
            window.setContentView(second.get());
            QVERIFY(first->parentWidget() == nullptr);
            // The content keeps its margins as the frame changes.
            window.setFrame(INRect(10, 10, 124, 124), true);
            QCOMPARE(second->geometry(), QRect(12, 12, 100, 100));
        }
        // Not deleted with the window: it belongs to its view controller.
        QVERIFY(second->parentWidget() == nullptr);
    }

    void windowPresentAnimatedPerType() {
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
        QTRY_VERIFY(host_->isKeyWindow());
        // A popover child keeps the parent looking key while the application is active.
        INPopoverWindow popover(INRect(300, 300, 224, 174));
        popover.setParentWindow(host_.get());
        popover.makeKeyAndOrderFront();
        QTRY_VERIFY(popover.isKeyWindow());
        QVERIFY(!host_->isReallyKeyWindow() && host_->isKeyWindow());
        INApplicationState::shared()->overrideActive(false);
        QVERIFY(!host_->isKeyWindow());
        INApplicationState::shared()->overrideActive(true);
        popover.setParentWindow(nullptr);
        QVERIFY(!host_->isKeyWindow());
    }

    void placementAndRepositionChooseTheDirection() {
        // Anchor rectangles are in the view's own coordinates, growing up from its bottom-left.
        // Down would leave the screen; up fits.
        open(INPopoverAnimationTypePop, false, {301, 201}, false);
        present(INPopoverArrowDirectionDown, INRect(20, 14, 10, 8));
        QCOMPARE(controller_->anchorScreenRect(), INRect(1020, 892, 10, 8));
        QCOMPARE(controller_->arrowDirection(), INPopoverArrowDirectionUp);
        QCOMPARE(window().frame(), INRect(1025 - 162, 892 - 225, 325, 225));
        QCOMPARE(recorder_.frameAtWillShow, window().frame());
        // A tray host that places its icon after the popover opened, on another edge: the
        // popover goes with it, its direction chosen again, and stays on the screen.
        anchor_->move(100, 200 - 22); // the host's bottom edge: (1000, 700, 30, 22) on screen
        host_->move(900, 900 - 200);
        controller_->repositionPopover(INRect(0, 0, 30, 22), INPopoverArrowDirectionUp);
        QCOMPARE(controller_->anchorScreenRect(), INRect(1000, 0, 30, 22));
        QCOMPARE(controller_->arrowDirection(), INPopoverArrowDirectionDown);
        QCOMPARE(window().frame(), INRect(853, 22, 325, 225));
        // Closed, nothing moves.
        controller_->forceClosePopover();
        controller_->repositionPopover(INRect(0, 0, 30, 22), INPopoverArrowDirectionLeft);
        QCOMPARE(controller_->arrowDirection(), INPopoverArrowDirectionRight);
        QCOMPARE(controller_->anchorScreenRect(), INRect());
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
        // The delegate may veto any close but a forced one.
        for (std::optional<bool> answer :
             {std::optional(false), std::optional(true), std::optional<bool>()}) {
            open(INPopoverAnimationTypePop, false);
            recorder_.shouldClose = answer;
            controller_->closePopover();
            QCOMPARE(controller_->popoverIsVisible(), answer == false);
            controller_->forceClosePopover();
            QCOMPARE(recorder_.calls, kOneCycle);
        }
    }

    void delegateHearsEachCycleOnceInOrder() {
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
                // Reset after the close: no anchor or child window.
                QVERIFY(!controller_->positionView() && host_->childWindows().empty());
                if (cycle == 1) {
                    present(); // at once after the close
                }
            }
            QTest::qWait(40);
            QCOMPARE(recorder_.calls, kOneCycle + kOneCycle);
        }
        // A close during the opening: exactly one close, even when interrupted.
        for (qint64 type : {INPopoverAnimationTypePop, INPopoverAnimationTypeFadeInOut}) {
            open(type, true, {300, 200}, false);
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

    void followsTheAnchorAndClosesWhenItLeaves() {
        // Leaving the parent or shrinking to nothing closes, the fade out starting at once.
        for (const QRect& geometry : {QRect(290, 0, 30, 22), QRect(100, 0, 0, 22)}) {
            anchor_->setGeometry(100, 0, 30, 22);
            open(INPopoverAnimationTypeFadeInOut);
            QTRY_VERIFY(recorder_.calls.contains("didShow"));
            anchor_->setGeometry(geometry);
            QVERIFY(recorder_.calls.contains("willClose"));
            QTRY_COMPARE(recorder_.calls, kOneCycle);
        }
        anchor_->setGeometry(100, 0, 30, 22);
        open(INPopoverAnimationTypePop, false);
        anchor_->move(50, 10);
        QCOMPARE(controller_->anchorScreenRect(), INRect(950, 868, 30, 22));
        QCOMPARE(window().frame(), INRect(803, 644, 324, 224));
        controller_->setContentSize({200, 100});
        QCOMPARE(window().frame(), INRect(853, 744, 224, 124));
        // Touching the parent's edge is still inside; a destroyed anchor closes.
        anchor_->setGeometry(270, 178, 30, 22);
        QVERIFY(controller_->popoverIsVisible());
        delete anchor_;
        QCOMPARE(recorder_.calls, kOneCycle);
    }
};

QTEST_MAIN(TestPopoverWidgets)
#include "test_popover_widgets.moc"
