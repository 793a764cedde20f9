// The frame view: when it asks to be redrawn and what it paints.
#include "popover/INPopoverWindowFrame.h"

#include <QImage>
#include <QTest>

#include <tuple>

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

} // namespace

class TestPopoverFrame : public QObject {
    Q_OBJECT

private slots:
    void redisplayRules() {
        using F = INPopoverWindowFrame;
        // Each setter is called with a new value, then with the same value again.
        const std::tuple<const char*, void (*)(F&), bool> cases[] = {
            {"color", [](F& f) { f.setColor(kRed); }, true},
            {"no color", [](F& f) { f.setColor(std::nullopt); }, true},
            {"borderColor", [](F& f) { f.setBorderColor(kRed); }, true},
            {"borderWidth", [](F& f) { f.setBorderWidth(1.5); }, true},
            {"cornerRadius", [](F& f) { f.setCornerRadius(4.0001); }, true},
            {"arrow height",
             [](F& f) {
                 f.setArrowSize({23, 11});
             },
             true},
            {"arrow width",
             [](F& f) {
                 f.setArrowSize({24, 12});
             },
             true},
            {"arrowDirection", [](F& f) { f.setArrowDirection(3); }, true},
            // The highlight colour shows only at a redraw that something else causes.
            {"topHighlightColor", [](F& f) { f.setTopHighlightColor(kRed); }, false},
        };
        for (const auto& [name, set, redraws] : cases) {
            F frame(INRect(0, 0, 300, 200));
            frame.setNeedsDisplay(false);
            set(frame);
            QVERIFY2(frame.needsDisplay() == redraws, name);
            frame.setNeedsDisplay(false);
            set(frame);
            QVERIFY2(!frame.needsDisplay(), name);
            frame.setArrowDirection(1);
            Painted{frame};
            QVERIFY2(!frame.needsDisplay(), "painting clears the request");
        }
    }

    void arrowAndHighlightPerDirection() {
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
            // Outside the rounded corners nothing is painted.
            QCOMPARE(p.at(12, 12).alpha(), 0);
            QCOMPARE(p.at(287, 187).alpha(), 0);
            // The highlight on row 186 is copied, not blended over the red fill, and leaves a
            // gap under an arrow on the top edge.
            QCOMPARE(p.at(50, 186), QColor(0, 255, 0, 64));
            QCOMPARE(p.at(50, 185), kRed);
            QCOMPARE(p.at(150, 186) == kRed, direction == 3);
        }
    }

    void strokeStraddlesTheEdgeOverTheFill() {
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
};

QTEST_MAIN(TestPopoverFrame)
#include "test_popover_frame.moc"
