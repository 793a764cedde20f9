// The frame view: when it asks to be redrawn and what it paints.
#include "INPopoverWindowFrame.h"

#include <QImage>
#include <QPainter>
#include <QTest>

#include <functional>
#include <map>

namespace {

const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);

QImage paint(INPopoverWindowFrame& frame) {
    QImage image(frame.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    frame.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// Pixels are read in the view's own coordinates (origin bottom-left, y up).
QColor pixelAt(const QImage& image, int x, int y) {
    return image.pixelColor(x, image.height() - 1 - y);
}

} // namespace

class TestPopoverFrame : public QObject {
    Q_OBJECT

private slots:
    void defaults() {
        INPopoverWindowFrame frame(INRect(0, 0, 300, 200));
        QCOMPARE(frame.color(), std::optional<QColor>(QColor::fromRgbF(0, 0, 0, 0.8f)));
        QVERIFY(!frame.borderColor());
        QVERIFY(!frame.topHighlightColor());
        QCOMPARE(frame.borderWidth(), 0.0);
        QCOMPARE(frame.cornerRadius(), 4.0);
        QCOMPARE(frame.arrowDirection(), INPopoverArrowDirectionLeft);
        QCOMPARE(frame.arrowSize(), (INSize{23, 12}));
        QCOMPARE(frame.size(), QSize(300, 200));
        QVERIFY(!frame.needsDisplay());
    }

    void redisplayRules_data() {
        QTest::addColumn<QString>("property");
        QTest::addColumn<bool>("changeValue");
        QTest::addColumn<bool>("redraws");
        for (const char* p : {"color", "borderColor", "borderWidth", "cornerRadius", "arrowSize",
                              "arrowSizeHeightOnly", "arrowDirection"}) {
            QTest::addRow("%s new value", p) << QString(p) << true << true;
            QTest::addRow("%s same value", p) << QString(p) << false << false;
        }
        // The highlight colour shows only at a redraw that something else causes.
        QTest::addRow("topHighlightColor new value") << "topHighlightColor" << true << false;
        QTest::addRow("topHighlightColor same value") << "topHighlightColor" << false << false;
    }

    void redisplayRules() {
        QFETCH(QString, property);
        QFETCH(bool, changeValue);
        QFETCH(bool, redraws);
        INPopoverWindowFrame frame(INRect(0, 0, 300, 200));
        frame.setBorderColor(kBlue);
        frame.setTopHighlightColor(kBlue);
        const std::map<QString, std::function<void(bool)>> setters{
            {"color", [&](bool c) { frame.setColor(c ? kRed : *frame.color()); }},
            {"borderColor", [&](bool c) { frame.setBorderColor(c ? kRed : kBlue); }},
            {"topHighlightColor", [&](bool c) { frame.setTopHighlightColor(c ? kRed : kBlue); }},
            {"borderWidth", [&](bool c) { frame.setBorderWidth(c ? 1.5 : 0.0); }},
            {"cornerRadius", [&](bool c) { frame.setCornerRadius(c ? 4.0001 : 4.0); }},
            {"arrowSize",
             [&](bool c) {
                 frame.setArrowSize(c ? INSize{24, 12} : INSize{23, 12});
             }},
            {"arrowSizeHeightOnly",
             [&](bool c) {
                 frame.setArrowSize(c ? INSize{23, 11} : INSize{23, 12});
             }},
            {"arrowDirection", [&](bool c) { frame.setArrowDirection(c ? 3 : 2); }},
        };
        frame.setNeedsDisplay(false);
        setters.at(property)(changeValue);
        QCOMPARE(frame.needsDisplay(), redraws);
    }

    void removingTheFillColourRedraws() {
        INPopoverWindowFrame frame(INRect(0, 0, 300, 200));
        frame.setNeedsDisplay(false);
        frame.setColor(std::nullopt);
        QVERIFY(frame.needsDisplay());
        frame.setNeedsDisplay(false);
        frame.setColor(std::nullopt);
        QVERIFY(!frame.needsDisplay());
    }

    void paintingClearsTheRedrawRequest() {
        INPopoverWindowFrame frame(INRect(0, 0, 300, 200));
        frame.setArrowDirection(3);
        QVERIFY(frame.needsDisplay());
        paint(frame);
        QVERIFY(!frame.needsDisplay());
    }

    void arrowIsFilledOnItsEdgeOnly_data() {
        QTest::addColumn<quint64>("direction");
        QTest::addColumn<QPoint>("nearTip");     // inside the arrow, next to its tip
        QTest::addColumn<QPoint>("oppositeTip"); // where an arrow on the other edge would be
        QTest::newRow("right") << quint64(0) << QPoint(297, 100) << QPoint(2, 100);
        QTest::newRow("down") << quint64(1) << QPoint(150, 2) << QPoint(150, 197);
        QTest::newRow("left") << quint64(2) << QPoint(2, 100) << QPoint(297, 100);
        QTest::newRow("up") << quint64(3) << QPoint(150, 197) << QPoint(150, 2);
    }

    void arrowIsFilledOnItsEdgeOnly() {
        QFETCH(quint64, direction);
        QFETCH(QPoint, nearTip);
        QFETCH(QPoint, oppositeTip);
        INPopoverWindowFrame frame(INRect(0, 0, 300, 200));
        frame.setColor(kRed);
        frame.setArrowDirection(direction);
        const QImage image = paint(frame);
        QCOMPARE(pixelAt(image, 150, 100), kRed);
        QCOMPARE(pixelAt(image, nearTip.x(), nearTip.y()), kRed);
        QCOMPARE(pixelAt(image, oppositeTip.x(), oppositeTip.y()).alpha(), 0);
        // Outside the rounded corner nothing is painted.
        QCOMPARE(pixelAt(image, 12, 12).alpha(), 0);
        QCOMPARE(pixelAt(image, 287, 187).alpha(), 0);
    }

    void noArrowForUnknownDirections() {
        INPopoverWindowFrame frame(INRect(0, 0, 300, 200));
        frame.setColor(kRed);
        frame.setArrowDirection(7);
        const QImage image = paint(frame);
        for (const QPoint p :
             {QPoint(297, 100), QPoint(150, 2), QPoint(2, 100), QPoint(150, 197)}) {
            QCOMPARE(pixelAt(image, p.x(), p.y()).alpha(), 0);
        }
        QCOMPARE(pixelAt(image, 150, 100), kRed);
    }

    void withoutColourOnlyTheBorderIsDrawn() {
        INPopoverWindowFrame frame(INRect(0, 0, 300, 200));
        frame.setColor(std::nullopt);
        frame.setArrowDirection(3);
        QImage image = paint(frame);
        QCOMPARE(image, [] {
            QImage empty(300, 200, QImage::Format_ARGB32);
            empty.fill(Qt::transparent);
            return empty;
        }());
        frame.setBorderWidth(2.0);
        frame.setBorderColor(kBlue);
        image = paint(frame);
        QCOMPARE(pixelAt(image, 150, 100).alpha(), 0);
        // The stroke straddles the body's left edge at x 12.
        QCOMPARE(pixelAt(image, 12, 100), kBlue);
        QCOMPARE(pixelAt(image, 11, 100), kBlue);
    }

    void strokeIsDrawnOverTheFill() {
        INPopoverWindowFrame frame(INRect(0, 0, 300, 200));
        frame.setColor(kRed);
        frame.setBorderWidth(4.0);
        frame.setBorderColor(kBlue);
        const QImage image = paint(frame);
        // Away from the arrow, which sits on the left edge by default.
        QCOMPARE(pixelAt(image, 13, 50), kBlue);
        QCOMPARE(pixelAt(image, 20, 50), kRed);
    }

    void highlightReplacesThePixelsUnderIt_data() {
        QTest::addColumn<quint64>("direction");
        QTest::addColumn<bool>("gapAtCentre");
        QTest::newRow("up leaves a gap") << quint64(3) << true;
        QTest::newRow("down is one line") << quint64(1) << false;
        QTest::newRow("no arrow is one line") << quint64(7) << false;
    }

    void highlightReplacesThePixelsUnderIt() {
        QFETCH(quint64, direction);
        QFETCH(bool, gapAtCentre);
        INPopoverWindowFrame frame(INRect(0, 0, 300, 200));
        frame.setColor(kRed);
        frame.setBorderWidth(1.0);
        frame.setBorderColor(kRed);
        frame.setArrowDirection(direction);
        const QColor highlight(0, 255, 0, 64);
        frame.setTopHighlightColor(highlight);
        const QImage image = paint(frame);
        // Row y 186: copied, not blended over the red fill.
        const QColor line = pixelAt(image, 50, 186);
        QCOMPARE(line.alpha(), 64);
        QCOMPARE(line.red(), 0);
        QCOMPARE(pixelAt(image, 50, 185), kRed);
        QCOMPARE(pixelAt(image, 150, 186) == kRed, gapAtCentre);
        // The line starts at x 14; a single line ends at 286, the piece right of the gap at 285.
        QCOMPARE(pixelAt(image, 13, 186).alpha() == 64, false);
        QCOMPARE(pixelAt(image, 14, 186).alpha(), 64);
        QCOMPARE(pixelAt(image, 284, 186).alpha(), 64);
        QCOMPARE(pixelAt(image, 285, 186).alpha() == 64, !gapAtCentre);
        QCOMPARE(pixelAt(image, 286, 186).alpha() == 64, false);
    }
};

QTEST_MAIN(TestPopoverFrame)
#include "test_popover_frame.moc"
