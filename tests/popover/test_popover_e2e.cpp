// The popover on a private desktop (scripts/with-desktop.sh): for each arrow direction the
// arrow touches a real anchor, and a screenshot is saved.
#include "platform/ui/WindowSystem.h"
#include "popover/INPopoverController.h"
#include "popover/INPopoverParentWindow.h"
#include "popover/INPopoverWindow.h"

#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QVBoxLayout>

namespace {

std::unique_ptr<QWidget> makeContent() {
    auto view = std::make_unique<QWidget>();
    view->resize(240, 150);
    auto* layout = new QVBoxLayout(view.get());
    layout->addWidget(new QLabel("<b>Memory</b><br>Free: 3.42 GB"));
    layout->addStretch();
    layout->addWidget(new QPushButton("Clean Memory"));
    return view;
}

bool isLight(QColor c) {
    return std::min({c.red(), c.green(), c.blue()}) > 180;
}

} // namespace

class TestPopoverOnX : public QObject {
    Q_OBJECT

private slots:
    void arrowTouchesTheAnchorInEachDirection() {
        // A compositing manager, so translucency and the shadow show as on a desktop.
        QProcess compositor;
        compositor.start(QStringLiteral("xcompmgr"), {QStringLiteral("-c")});
        QTRY_VERIFY(WindowSystem::isCompositing());
        INPopoverParentWindow host(nullptr, Qt::FramelessWindowHint);
        host.setAutoFillBackground(true);
        host.setPalette(QPalette(QColor(0x2b, 0x34, 0x40)));
        host.setGeometry(440, 250, 560, 400);
        QPushButton anchor("Anchor", &host);
        anchor.setGeometry(235, 186, 90, 28);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        const QRect a(anchor.mapToGlobal(QPoint(0, 0)), anchor.size());
        // Each direction's name and the step from its tip into the arrow.
        const std::pair<const char*, QPoint> directions[] = {
            {"right", {-1, 0}}, {"down", {0, -1}}, {"left", {1, 0}}, {"up", {0, 1}}};
        for (quint64 d = 0; d < 4; ++d) {
            INPopoverController controller(std::make_unique<INWidgetViewController>(makeContent()));
            controller.setAnimates(false);
            controller.presentPopoverFromRect(INRect(0, 0, 90, 28), &anchor, d, true);
            INPopoverWindow& window = *controller.popoverWindow();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            const QRect w = window.geometry();
            // The tip's edge meets the anchor's facing edge, centred on it.
            const int gaps[] = {a.left() - w.right() - 1, a.top() - w.bottom() - 1,
                                w.left() - a.right() - 1, w.top() - a.bottom() - 1};
            QCOMPARE(gaps[d], 0);
            const QPoint off = w.center() - a.center();
            QVERIFY(std::abs(d % 2 == 0 ? off.y() : off.x()) <= 1);

            // Look at the screen itself once the compositor has drawn the body and the arrow.
            const auto& [name, in] = directions[d];
            const QPoint inArrow = a.center() + in * ((in.x() ? a.width() : a.height()) / 2 + 4);
            QImage screen;
            QTRY_VERIFY2(
                (screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage(),
                 isLight(screen.pixelColor(inArrow)) && isLight(screen.pixelColor(w.center()))),
                name);
            // Beside the arrow the window is clear: the desk shows through.
            QVERIFY2(!isLight(screen.pixelColor(inArrow + QPoint(in.y(), in.x()) * 20)), name);
            QVERIFY(QDir().mkpath(BRIMWELL_SCREENSHOT_DIR));
            const QRect crop = host.geometry().united(w).adjusted(-20, -20, 20, 20);
            QVERIFY(screen.copy(crop).save(BRIMWELL_SCREENSHOT_DIR "/popover-arrow-" +
                                           QString(name) + ".png"));
        }
        compositor.terminate();
        compositor.waitForFinished();
    }
};

QTEST_MAIN(TestPopoverOnX)
#include "test_popover_e2e.moc"
