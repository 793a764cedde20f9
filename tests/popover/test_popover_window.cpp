// The popover window: content geometry, content replacement, opening and closing animations,
// and the parent window's key state.
#include "INApplicationState.h"
#include "INPopoverController.h"
#include "INPopoverParentWindow.h"
#include "INPopoverWindow.h"
#include "INPopoverWindowFrame.h"
#include "INScreenGeometry.h"
#include "PopoverTestPrinting.h"

#include <QPointer>
#include <QTest>

#include <chrono>
#include <memory>
#include <vector>

using namespace std::chrono_literals;

namespace {

// Records each alpha animation end with the alpha the window had at that moment.
struct AlphaRecorder : INAnimationDelegate {
    explicit AlphaRecorder(INPopoverWindow* w) : window(w) {}
    void animationDidStop(INAnimation*, bool finished) override {
        alphas.push_back(window->alphaValue());
        QVERIFY(finished);
    }
    INPopoverWindow* window;
    std::vector<double> alphas;
};

void useShortAnimations(INPopoverWindow& window) {
    if (!window.alphaValueAnimation()) {
        window.setAlphaValueAnimation(std::make_unique<INAnimation>());
    }
    window.alphaValueAnimation()->setDuration(30ms);
    window.setPopDuration(30ms);
}

} // namespace

class TestPopoverWindow : public QObject {
    Q_OBJECT

private slots:
    void init() { INApplicationState::shared()->overrideActive(true); }
    void cleanup() { INApplicationState::shared()->overrideActive(std::nullopt); }

    void constructionInstallsFrameAndEmptyContent() {
        INPopoverWindow window(INRect(100, 100, 224, 174));
        QVERIFY(window.frameView());
        QCOMPARE(window.frameView()->parentWidget(), &window);
        QCOMPARE(window.frameView()->geometry(), QRect(0, 0, 224, 174));
        QVERIFY(window.popoverContentView());
        QCOMPARE(window.popoverContentView()->parentWidget(), window.frameView());
        QCOMPARE(window.popoverContentView()->geometry(), QRect(12, 12, 200, 150));
        QVERIFY(window.testAttribute(Qt::WA_TranslucentBackground));
        QVERIFY(window.windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(!window.isVisible());
        QCOMPARE(window.frame(), INRect(100, 100, 224, 174));
    }

    void frameAndContentRectangles_data() {
        QTest::addColumn<double>("arrowHeight");
        QTest::addColumn<INRect>("content");
        QTest::addColumn<INRect>("frame");
        QTest::newRow("default arrow")
            << 12.0 << INRect(0, 0, 200, 150) << INRect(-12, -12, 224, 174);
        QTest::newRow("offset content")
            << 12.0 << INRect(30, 40, 200, 150) << INRect(18, 28, 224, 174);
        QTest::newRow("shallow arrow") << 8.0 << INRect(0, 0, 200, 150) << INRect(-8, -8, 216, 166);
    }

    void frameAndContentRectangles() {
        QFETCH(double, arrowHeight);
        QFETCH(INRect, content);
        QFETCH(INRect, frame);
        INPopoverWindow window;
        window.frameView()->setArrowSize({23, arrowHeight});
        QCOMPARE(window.frameRectForContentRect(content), frame);
        // The frame's position is dropped on the way back.
        const INRect back =
            window.contentRectForFrameRect(INRect(500, 300, frame.width(), frame.height()));
        QCOMPARE(back, INRect(arrowHeight, arrowHeight, content.width(), content.height()));
    }

    void contentViewReplacement() {
        INPopoverWindow window(INRect(0, 0, 224, 174));
        QPointer<QWidget> placeholder = window.popoverContentView();
        auto first = std::make_unique<QWidget>();
        auto second = std::make_unique<QWidget>();
        QPointer<QWidget> firstGuard = first.get();

        window.setPopoverContentView(first.get());
        QCOMPARE(first->parentWidget(), window.frameView());
        QCOMPARE(first->geometry(), QRect(12, 12, 200, 150));
        QVERIFY2(!placeholder, "the window's own empty view is released when replaced");

        // The same view again is left exactly where it is.
        first->setGeometry(1, 2, 3, 4);
        window.setPopoverContentView(first.get());
        QCOMPARE(first->geometry(), QRect(1, 2, 3, 4));
        QCOMPARE(first->parentWidget(), window.frameView());

        window.setContentView(second.get());
        QCOMPARE(window.popoverContentView(), second.get());
        QCOMPARE(second->geometry(), QRect(12, 12, 200, 150));
        QVERIFY(first->parentWidget() == nullptr);
        QVERIFY(firstGuard);

        window.setPopoverContentView(nullptr);
        QVERIFY(!window.popoverContentView());
        QVERIFY(second->parentWidget() == nullptr);
        QVERIFY(window.frameView()->findChildren<QWidget*>().isEmpty());
    }

    void contentFollowsTheFrameWithFixedMargins() {
        // A window made at the zero size still gives its content the right margins later.
        INPopoverWindow window;
        auto content = std::make_unique<QWidget>();
        window.setPopoverContentView(content.get());
        window.setFrame(INRect(10, 10, 324, 224), true);
        QCOMPARE(window.frameView()->geometry(), QRect(0, 0, 324, 224));
        QCOMPARE(content->geometry(), QRect(12, 12, 300, 200));
        window.setFrame(INRect(10, 10, 124, 124), true);
        QCOMPARE(content->geometry(), QRect(12, 12, 100, 100));
    }

    void contentIsNotDeletedWithTheWindow() {
        auto content = std::make_unique<QWidget>();
        {
            INPopoverWindow window(INRect(0, 0, 224, 174));
            window.setPopoverContentView(content.get());
        }
        QVERIFY(content->parentWidget() == nullptr);
    }

    void presentAnimatedPerType_data() {
        QTest::addColumn<qint64>("type");
        QTest::addColumn<bool>("pops");
        QTest::addColumn<bool>("fades");
        QTest::newRow("pop") << qint64(0) << true << false;
        QTest::newRow("fade in") << qint64(1) << false << true;
        QTest::newRow("fade out only") << qint64(2) << false << false;
        QTest::newRow("fade in and out") << qint64(3) << false << true;
        QTest::newRow("unknown") << qint64(9) << false << false;
    }

    void presentAnimatedPerType() {
        QFETCH(qint64, type);
        QFETCH(bool, pops);
        QFETCH(bool, fades);
        INPopoverController controller;
        controller.setAnimationType(type);
        INPopoverWindow& window = *controller.popoverWindow();
        useShortAnimations(window);
        window.setFrame(INRect(600, 400, 324, 224), true);
        AlphaRecorder recorder(&window);
        window.alphaValueAnimation()->setDelegate(&recorder);

        window.presentAnimated();
        QCOMPARE(window.zoomWindow() != nullptr, pops);
        if (pops) {
            // Only the zoom window is on screen, yet the popover counts as visible.
            QVERIFY(!window.QWidget::isVisible());
            QVERIFY(window.isVisible());
            QCOMPARE(window.zoomWindow()->windowOpacity(), 0.0);
        }
        if (fades) {
            QVERIFY(window.QWidget::isVisible());
            QCOMPARE(window.alphaValue(), 0.0);
        }
        if (!pops && !fades) {
            QVERIFY(!window.isVisible());
            QTest::qWait(60);
            QVERIFY(recorder.alphas.empty());
            return;
        }
        QTRY_COMPARE(recorder.alphas.size(), size_t(1));
        QCOMPARE(recorder.alphas.front(), 1.0);
        QVERIFY(window.QWidget::isVisible());
        QVERIFY(!window.zoomWindow());
        QCOMPARE(window.alphaValue(), 1.0);
    }

    void popStartsSmallAgainstTheAnchor() {
        INPopoverController controller;
        INPopoverWindow& window = *controller.popoverWindow();
        useShortAnimations(window);
        window.frameView()->setArrowDirection(INPopoverArrowDirectionUp);
        window.setFrame(controller.popoverFrameWithSize({300, 200}, INPopoverArrowDirectionUp),
                        true);
        window.presentWithPopAnimation();
        QVERIFY(window.zoomWindow());
        const INRect start = controller.popoverFrameWithSize({20, 20}, INPopoverArrowDirectionUp);
        QCOMPARE(start.size, (INSize{44, 44}));
        QCOMPARE(window.zoomWindow()->geometry(), INScreenGeometry::toQt(start));
        QCOMPARE(window.zoomWindow()->snapshot().size(), QSize(324, 224));
        QTRY_VERIFY(!window.zoomWindow());
    }

    void snapshotShowsFrameAndContent() {
        INPopoverWindow window(INRect(0, 0, 224, 174));
        window.frameView()->setColor(QColor(255, 0, 0));
        window.frameView()->setArrowDirection(INPopoverArrowDirectionUp);
        QWidget content;
        content.setAutoFillBackground(true);
        content.setPalette(QPalette(QColor(0, 0, 255)));
        window.setPopoverContentView(&content);
        const QImage image = window.snapshot();
        QCOMPARE(image.size(), QSize(224, 174));
        QCOMPARE(image.pixelColor(112, 87), QColor(0, 0, 255));
        // The content covers the body; the fill shows in the arrow, the corners stay clear.
        QCOMPARE(image.pixelColor(112, 5), QColor(255, 0, 0));
        QCOMPARE(image.pixelColor(0, 173).alpha(), 0);
    }

    void dismissWithoutZoomWindowFadesOnlyThePopover() {
        INPopoverWindow window(INRect(600, 400, 224, 174));
        useShortAnimations(window);
        AlphaRecorder recorder(&window);
        window.alphaValueAnimation()->setDelegate(&recorder);
        window.setAlphaValue(1.0);
        window.makeKeyAndOrderFront();
        window.dismissAnimated();
        QVERIFY(!window.zoomWindow());
        QTRY_COMPARE(recorder.alphas, std::vector<double>{0.0});
        // Ordering out is the controller's business.
        QVERIFY(window.QWidget::isVisible());
    }

    void dismissDuringThePopReportsOnlyTheClose() {
        INPopoverController controller;
        INPopoverWindow& window = *controller.popoverWindow();
        useShortAnimations(window);
        window.setPopDuration(200ms);
        window.setFrame(INRect(600, 400, 324, 224), true);
        AlphaRecorder recorder(&window);
        window.alphaValueAnimation()->setDelegate(&recorder);
        window.presentAnimated();
        QVERIFY(window.zoomWindow());
        window.dismissAnimated();
        QTRY_COMPARE(recorder.alphas, std::vector<double>{0.0});
        QTest::qWait(250);
        QCOMPARE(recorder.alphas, std::vector<double>{0.0});
        QVERIFY(!window.QWidget::isVisible());
        QTRY_VERIFY(!window.zoomWindow());
    }

    void orderOutStopsAFadeInFromReporting() {
        INPopoverWindow window(INRect(600, 400, 224, 174));
        useShortAnimations(window);
        AlphaRecorder recorder(&window);
        window.alphaValueAnimation()->setDelegate(&recorder);
        window.presentWithFadeAnimation();
        window.orderOut();
        QTest::qWait(80);
        QVERIFY(recorder.alphas.empty());
        QVERIFY(!window.isVisible());
    }

    void presentAnimatedOnAVisibleWindowDoesNothing() {
        INPopoverWindow window(INRect(600, 400, 224, 174));
        useShortAnimations(window);
        window.setAlphaValue(1.0);
        window.makeKeyAndOrderFront();
        window.presentAnimated();
        QVERIFY(!window.zoomWindow());
        QCOMPARE(window.alphaValue(), 1.0);
    }

    void parentWindowKeyState() {
        INPopoverParentWindow parent;
        parent.setGeometry(100, 100, 300, 200);
        parent.show();
        parent.activateWindow();
        QTRY_VERIFY(parent.isReallyKeyWindow());
        QVERIFY(parent.isKeyWindow());

        // A plain child window that takes the focus: the parent is not key.
        QWidget plain(nullptr, Qt::Tool);
        plain.winId();
        plain.windowHandle()->setTransientParent(parent.windowHandle());
        plain.setGeometry(150, 150, 50, 50);
        plain.show();
        plain.activateWindow();
        QTRY_VERIFY(plain.isActiveWindow());
        QCOMPARE(parent.childWindows(), std::vector<QWidget*>{&plain});
        QVERIFY(!parent.isKeyWindow());

        // A popover child keeps the parent looking key while the application is active.
        INPopoverWindow popover(INRect(300, 300, 224, 174));
        popover.setParentWindow(&parent);
        popover.makeKeyAndOrderFront();
        QTRY_VERIFY(popover.isKeyWindow());
        QVERIFY(!parent.isReallyKeyWindow());
        QVERIFY(parent.isKeyWindow());
        INApplicationState::shared()->overrideActive(false);
        QVERIFY(!parent.isKeyWindow());
        INApplicationState::shared()->overrideActive(true);
        popover.setParentWindow(nullptr);
        QVERIFY(!parent.isKeyWindow());
    }

    void losingFocusIsAnnounced() {
        INPopoverWindow popover(INRect(300, 300, 224, 174));
        QWidget other;
        other.setGeometry(10, 10, 50, 50);
        other.show();
        int resigned = 0;
        connect(&popover, &INPopoverWindow::didResignKey, this, [&] { ++resigned; });
        popover.makeKeyAndOrderFront();
        QTRY_VERIFY(popover.isKeyWindow());
        QCOMPARE(resigned, 0);
        other.activateWindow();
        QTRY_COMPARE(resigned, 1);
    }
};

QTEST_MAIN(TestPopoverWindow)
#include "test_popover_window.moc"
