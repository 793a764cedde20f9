// The popover on a real X server: placement against a real anchor, the arrow touching it,
// the opening and closing animations, focus rules, and screenshots for each arrow direction.
#include "INApplicationState.h"
#include "INPopoverController.h"
#include "INPopoverParentWindow.h"
#include "INPopoverWindow.h"
#include "INScreenGeometry.h"
#include "PopoverTestPrinting.h"
#include "PrivateDisplay.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

struct Recorder : INPopoverControllerDelegate {
    void popoverWillShow(INPopoverController*) override { calls << "willShow"; }
    void popoverDidShow(INPopoverController*) override { calls << "didShow"; }
    void popoverWillClose(INPopoverController*) override { calls << "willClose"; }
    void popoverDidClose(INPopoverController*) override { calls << "didClose"; }
    QStringList calls;
};

const QColor kDesk(0x2b, 0x34, 0x40);

std::unique_ptr<QWidget> makeContent() {
    auto view = std::make_unique<QWidget>();
    view->resize(240, 150);
    auto* layout = new QVBoxLayout(view.get());
    auto* title = new QLabel("Memory");
    QFont font = title->font();
    font.setPointSize(font.pointSize() + 3);
    font.setBold(true);
    title->setFont(font);
    layout->addWidget(title);
    layout->addWidget(new QLabel("Free: 3.42 GB"));
    layout->addWidget(new QLabel("Wired 1.10 GB \u00b7 Active 2.75 GB"));
    layout->addStretch();
    layout->addWidget(new QPushButton("Clean Memory"));
    return view;
}

bool isLight(const QColor& c) {
    return c.red() > 180 && c.green() > 180 && c.blue() > 180;
}

} // namespace

class TestPopoverOnX : public QObject {
    Q_OBJECT

    std::unique_ptr<INPopoverParentWindow> host_;
    QPushButton* anchor_ = nullptr;
    std::unique_ptr<INPopoverController> controller_;
    Recorder recorder_;

    QRect anchorGlobal() const {
        return QRect(anchor_->mapToGlobal(QPoint(0, 0)), anchor_->size());
    }

private slots:
    void init() {
        host_ = std::make_unique<INPopoverParentWindow>(nullptr, Qt::FramelessWindowHint);
        host_->setAutoFillBackground(true);
        host_->setPalette(QPalette(kDesk));
        host_->setGeometry(440, 250, 560, 400);
        anchor_ = new QPushButton("Anchor", host_.get());
        anchor_->setGeometry(235, 186, 90, 28);
        host_->show();
        QVERIFY(QTest::qWaitForWindowExposed(host_.get()));
        host_->activateWindow();
        QTRY_VERIFY(host_->isActiveWindow());
        controller_ = std::make_unique<INPopoverController>(
            std::make_shared<INWidgetViewController>(makeContent()));
        controller_->setDelegate(&recorder_);
        recorder_ = Recorder();
    }

    void cleanup() {
        controller_.reset();
        host_.reset();
    }

    void arrowTouchesTheAnchor_data() {
        QTest::addColumn<quint64>("direction");
        QTest::addColumn<QString>("name");
        QTest::newRow("right") << quint64(0) << "right";
        QTest::newRow("down") << quint64(1) << "down";
        QTest::newRow("left") << quint64(2) << "left";
        QTest::newRow("up") << quint64(3) << "up";
    }

    void arrowTouchesTheAnchor() {
        QFETCH(quint64, direction);
        QFETCH(QString, name);
        controller_->setAnimates(false);
        controller_->presentPopoverFromRect(INRect(0, 0, anchor_->width(), anchor_->height()),
                                            anchor_, direction, true);
        QCOMPARE(controller_->arrowDirection(), direction);
        INPopoverWindow& window = *controller_->popoverWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.geometry(), INScreenGeometry::toQt(controller_->popoverFrameWithSize(
                                        controller_->contentSize(), direction)));
        QCOMPARE(window.geometry().size(), QSize(264, 174));

        // The tip in global coordinates, and one step back into the arrow.
        const QRect a = anchorGlobal();
        const QRect w = window.geometry();
        QPoint tip;
        QPoint inward;
        switch (direction) {
        case 0:
            tip = {w.right() + 1, w.top() + w.height() / 2};
            inward = {-1, 0};
            break;
        case 1:
            tip = {w.left() + w.width() / 2, w.bottom() + 1};
            inward = {0, -1};
            break;
        case 2:
            tip = {w.left(), w.top() + w.height() / 2};
            inward = {1, 0};
            break;
        default:
            tip = {w.left() + w.width() / 2, w.top()};
            inward = {0, 1};
            break;
        }
        // The tip lies on the anchor's facing edge, at its middle.
        switch (direction) {
        case 0:
            QCOMPARE(tip.x(), a.left());
            QVERIFY(std::abs(tip.y() - a.center().y()) <= 1);
            break;
        case 1:
            QCOMPARE(tip.y(), a.top());
            QVERIFY(std::abs(tip.x() - a.center().x()) <= 1);
            break;
        case 2:
            QCOMPARE(tip.x(), a.right() + 1);
            QVERIFY(std::abs(tip.y() - a.center().y()) <= 1);
            break;
        default:
            QCOMPARE(tip.y(), a.bottom() + 1);
            QVERIFY(std::abs(tip.x() - a.center().x()) <= 1);
            break;
        }

        // Let the compositor draw, then look at the screen itself.
        QTest::qWait(150);
        const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        const QPoint inArrow = tip + inward * 4;
        const QPoint sideways = QPoint(inward.y(), inward.x()) * 20;
        QVERIFY2(isLight(screen.pixelColor(inArrow)), "the arrow is drawn next to its tip");
        // Beside the arrow the window is clear: the desk shows through, or black without a
        // compositing manager.
        QVERIFY2(!isLight(screen.pixelColor(inArrow + sideways)),
                 "nothing is drawn beside the arrow");
        QVERIFY2(isLight(screen.pixelColor(w.center())), "the body is drawn");

        const QString dir = QStringLiteral(BRIMWELL_SCREENSHOT_DIR);
        QVERIFY(QDir().mkpath(dir));
        const QRect crop = host_->geometry().united(w).adjusted(-20, -20, 20, 20);
        QVERIFY(screen.copy(crop).save(dir + "/popover-arrow-" + name + ".png"));
    }

    void popOpensAndFadeCloses() {
        INPopoverWindow& window = *controller_->popoverWindow();
        controller_->presentPopoverFromRect(INRect(0, 0, anchor_->width(), anchor_->height()),
                                            anchor_, INPopoverArrowDirectionUp, true);
        QVERIFY(window.zoomWindow());
        QVERIFY(window.isVisible());
        QVERIFY(!window.QWidget::isVisible());
        QTRY_COMPARE(recorder_.calls, (QStringList{"willShow", "didShow"}));
        QVERIFY(!window.zoomWindow());
        QCOMPARE(window.alphaValue(), 1.0);
        QCOMPARE(host_->childWindows(), std::vector<QWidget*>{&window});
        controller_->closePopover();
        QVERIFY(window.isVisible());
        QTRY_COMPARE(recorder_.calls,
                     (QStringList{"willShow", "didShow", "willClose", "didClose"}));
        QVERIFY(!window.isVisible());
    }

    void clickingTheHostWindowCloses() {
        controller_->setAnimates(false);
        controller_->presentPopoverFromRect(INRect(0, 0, anchor_->width(), anchor_->height()),
                                            anchor_, INPopoverArrowDirectionUp, true);
        INPopoverWindow& window = *controller_->popoverWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY(window.isKeyWindow());
        QVERIFY(host_->isKeyWindow());
        host_->activateWindow();
        QTRY_VERIFY(!controller_->popoverIsVisible());
        QCOMPARE(recorder_.calls, (QStringList{"willShow", "didShow", "willClose", "didClose"}));
    }

    void directionFollowsTheRoomOnTheScreen() {
        // An anchor at the bottom of a 1440 x 900 screen opens upwards although down was asked.
        controller_->setAnimates(false);
        host_->move(440, 900 - 400);
        QTRY_COMPARE(host_->geometry().bottom(), 899);
        anchor_->move(235, 400 - 28);
        controller_->presentPopoverFromRect(INRect(0, 0, anchor_->width(), anchor_->height()),
                                            anchor_, INPopoverArrowDirectionUp, true);
        QCOMPARE(controller_->arrowDirection(), INPopoverArrowDirectionDown);
        QCOMPARE(controller_->popoverWindow()->geometry().bottom() + 1, anchorGlobal().top());
    }
};

int main(int argc, char** argv) {
    PrivateDisplay display(1440, 900);
    if (display.name().empty()) {
        std::fprintf(stderr, "could not start Xvfb\n");
        return 1;
    }
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication app(argc, argv);
    TestPopoverOnX test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_popover_e2e.moc"
