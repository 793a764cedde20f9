// The tray icon as the tray host receives it: filling its slot at any size, dark ink on light
// panels and light ink on dark ones, the open (highlighted) state clearly apart from both.
#include "AXStatusItemPopup/AXStatusItemPopup.h"
#include "platform/ui/Appearance.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTest>

#include <cmath>

namespace {

QIcon image(const char* name) {
    return QIcon(QStringLiteral(BRIMWELL_IMAGES "/%1.svg").arg(QLatin1String(name)));
}

// The item drawn into a `side`-pixel square slot filled with `panel`, as a host composes it.
QImage onPanel(AXStatusItemPopup& popup, int side, QColor panel, qreal dpr = 1.0) {
    QImage slot(QSize(side, side) * dpr, QImage::Format_ARGB32_Premultiplied);
    slot.fill(panel);
    QPainter p(&slot);
    p.drawPixmap(0, 0, popup.statusItem()->renderedIcon(QSize(side, side) * dpr));
    return slot;
}

// WCAG contrast between the panel and the ink most unlike it.
double inkContrast(const QImage& slot, QColor panel) {
    double best = 1.0;
    for (int y = 0; y < slot.height(); ++y) {
        for (int x = 0; x < slot.width(); ++x) {
            best = std::max(best, Appearance::contrastRatio(slot.pixelColor(x, y), panel));
        }
    }
    return best;
}

// The box of pixels that differ from `panel`.
QRect inkBox(const QImage& slot, QColor panel) {
    QRect box;
    for (int y = 0; y < slot.height(); ++y) {
        for (int x = 0; x < slot.width(); ++x) {
            const QColor c = slot.pixelColor(x, y);
            if (std::abs(c.red() - panel.red()) + std::abs(c.green() - panel.green()) +
                    std::abs(c.blue() - panel.blue()) >
                60) {
                box |= QRect(x, y, 1, 1);
            }
        }
    }
    return box;
}

} // namespace

class TestStatusItemIcon : public QObject {
    Q_OBJECT

    std::unique_ptr<AXStatusItemPopup> popup_;

private slots:
    void init() {
        popup_ = std::make_unique<AXStatusItemPopup>(nullptr);
        popup_->setScalableImages(image("StatusBarIcon"), image("StatusBarIcon-OnLight"),
                                  image("StatusBarIcon-H"));
    }
    void cleanup() { popup_.reset(); }

    void fillsItsSlotAtEveryScale_data() {
        QTest::addColumn<int>("side");
        QTest::addColumn<qreal>("dpr");
        for (int side : {16, 22, 24, 28, 44}) {
            for (qreal dpr : {1.0, 1.5, 2.0}) {
                QTest::addRow("%d px at %.1f", side, dpr) << side << dpr;
            }
        }
    }
    void fillsItsSlotAtEveryScale() {
        QFETCH(int, side);
        QFETCH(qreal, dpr);
        const QColor panel(0x25, 0x28, 0x2d);
        const QImage slot = onPanel(*popup_, side, panel, dpr);
        const QRect box = inkBox(slot, panel);
        // The chip spans 18 of the 22 grid points high and 13 wide, whatever the size.
        const int pixels = static_cast<int>(side * dpr);
        QCOMPARE_GE(box.height(), pixels * 0.75);
        QCOMPARE_GE(box.width(), pixels * 0.5);
        QCOMPARE_LE(std::abs(box.center().x() - slot.width() / 2.0), pixels * 0.1);

        // The level bar, the used share under the chip. Across its middle row the groove is
        // everything unlike the panel, the level the pixels in the full ink.
        for (double fraction : {0.2, 0.6, 0.95}) {
            popup_->setLevel(StatusItemLevel{fraction, StatusItemLevel::Tint::Normal});
            const QImage bar = onPanel(*popup_, side, panel, dpr);
            const int row = static_cast<int>(pixels * 19.25 / 22);
            int groove = 0;
            int filled = 0;
            int firstFilled = -1;
            for (int x = 0; x < bar.width(); ++x) {
                const QColor c = bar.pixelColor(x, row);
                groove += c != panel;
                if (c == QColor(0xe8, 0xea, 0xed)) {
                    filled += 1;
                    firstFilled = firstFilled < 0 ? x : firstFilled;
                }
            }
            QCOMPARE_GE(groove, pixels * 0.6);
            QCOMPARE_LE(std::abs(filled - fraction * groove), 1.0);
            // It fills from the left end of the groove, under the chip and clear of its body.
            QVERIFY(firstFilled >= 0 && firstFilled <= pixels * 0.2);
        }
    }

    void standsOutOnLightAndDarkPanels_data() {
        QTest::addColumn<QColor>("panel");
        QTest::addColumn<bool>("light");
        QTest::newRow("dark grey") << QColor(0x25, 0x28, 0x2d) << false;
        QTest::newRow("xfce light") << QColor(0xee, 0xef, 0xf1) << true;
        QTest::newRow("white") << QColor(Qt::white) << true;
        QTest::newRow("mid blue") << QColor(0x3d, 0x6f, 0xb6) << false;
        QTest::newRow("amber") << QColor(0xf0, 0xb4, 0x29) << true;
    }
    void standsOutOnLightAndDarkPanels() {
        QFETCH(QColor, panel);
        QFETCH(bool, light);
        popup_->setPanelBackground(panel);
        QCOMPARE(popup_->panelIsLight(), light);
        const double chosen = inkContrast(onPanel(*popup_, 22, panel), panel);
        // The other variant, drawn on the same panel, stands out less.
        const char* otherInk = light ? "StatusBarIcon" : "StatusBarIcon-OnLight";
        popup_->setScalableImages(image(otherInk), image(otherInk), image("StatusBarIcon-H"));
        const double other = inkContrast(onPanel(*popup_, 22, panel), panel);
        // 3:1 is what a picture that carries meaning needs (WCAG 1.4.11).
        QCOMPARE_GE(chosen, 3.0);
        QCOMPARE_GT(chosen, other);
    }

    void openStateAndPressureTintsStandOut() {
        const QColor highlight = QPalette().color(QPalette::Active, QPalette::Highlight);
        using T = StatusItemLevel::Tint;
        for (const QColor panel : {QColor(0x25, 0x28, 0x2d), QColor(0xee, 0xef, 0xf1)}) {
            popup_->setPanelBackground(panel);
            // Open, the highlight fills the slot: its corner shows the selection colour.
            popup_->setActive(true);
            const QImage open = onPanel(*popup_, 22, panel);
            QCOMPARE(open.pixelColor(0, 0), highlight);
            QCOMPARE_GE(inkContrast(open, highlight), 3.0);
            popup_->setActive(false);
            QCOMPARE(onPanel(*popup_, 22, panel).pixelColor(0, 0), panel);
            // A full bar in amber and in red.
            for (const T tint : {T::Warning, T::Critical}) {
                popup_->setLevel(StatusItemLevel{1.0, tint});
                const QImage slot = onPanel(*popup_, 44, panel);
                const QColor bar = slot.pixelColor(22, 38);
                const QString what = bar.name() + QStringLiteral(" on ") + panel.name();
                QVERIFY2(tint == T::Warning
                             ? bar.red() > bar.blue() + 100 && bar.green() > bar.blue() + 40
                             : bar.red() > bar.green() + 80 && bar.red() > bar.blue() + 60,
                         qPrintable(what));
                QVERIFY2(Appearance::contrastRatio(bar, panel) >= 3.0, qPrintable(what));
                // The chip above keeps the panel's own ink.
                QVERIFY2(inkContrast(slot.copy(0, 0, 44, 30), panel) >= 3.0, qPrintable(what));
            }
        }
    }

    void iconIsRedrawnOnlyWhenTheBarMovesAPixel() {
        // The tray is given a new icon (a new cache key) only for a visible change: at the
        // usual 22 pixels the bar is 16 long, one pixel per 6.25 %.
        auto key = [this] { return popup_->statusItem()->icon().cacheKey(); };
        using T = StatusItemLevel::Tint;
        qint64 shown = key();
        // The level (none: the plain icon), and whether the tray gets a new icon.
        const std::pair<std::optional<StatusItemLevel>, bool> steps[] = {
            {StatusItemLevel{0.50, T::Normal}, true},
            {StatusItemLevel{0.53, T::Normal}, false},
            {StatusItemLevel{0.54, T::Normal}, true},
            {StatusItemLevel{0.54, T::Warning}, true},
            {StatusItemLevel{0.55, T::Warning}, false},
            {StatusItemLevel{0.49, T::Warning}, true},
            {std::nullopt, true},
            {std::nullopt, false},
        };
        for (const auto& [level, redrawn] : steps) {
            QCOMPARE(popup_->setLevel(level), redrawn);
            QCOMPARE(key() != shown, redrawn);
            shown = key();
        }
    }

    void withoutScalableImagesThePixmapsAreScaledToTheSlot() {
        AXStatusItemPopup plain(nullptr);
        QPixmap glyph(22, 22);
        glyph.fill(Qt::white);
        plain.setImage(glyph);
        const QImage slot = onPanel(plain, 44, Qt::black);
        // The 30 x 22 item, glyph centred, scaled up to the slot's width.
        QCOMPARE_LE(std::abs(inkBox(slot, Qt::black).height() - 44 * 22 / 30.0), 1.0);
    }
};

QTEST_MAIN(TestStatusItemIcon)
#include "test_status_item_icon.moc"
