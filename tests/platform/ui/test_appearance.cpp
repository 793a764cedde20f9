// Colours for light and dark palettes: legible texts on dark bodies whatever the palette and
// the desktop behind the translucent popover, one unchanged look on light palettes.

#include "platform/ui/Appearance.h"

#include <QApplication>
#include <QTest>

namespace {

QPalette palette(QColor window, QColor text) {
    QPalette p(window);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    return p;
}

} // namespace

class AppearanceTest : public QObject {
    Q_OBJECT

private slots:
    void contrastRatio_data() {
        QTest::addColumn<QColor>("a");
        QTest::addColumn<QColor>("b");
        QTest::addColumn<double>("ratio");
        QTest::newRow("black on white") << QColor(Qt::black) << QColor(Qt::white) << 21.0;
        QTest::newRow("same") << QColor(0x556677) << QColor(0x556677) << 1.0;
        // The lightest grey that still passes on white, and the next that does not.
        QTest::newRow("#767676") << QColor(0x767676) << QColor(Qt::white) << 4.54;
        QTest::newRow("#777777") << QColor(0x777777) << QColor(Qt::white) << 4.48;
        // Green weighs most: pure green on black is far brighter than pure blue.
        QTest::newRow("green") << QColor(Qt::green) << QColor(Qt::black) << 15.3;
        QTest::newRow("blue") << QColor(Qt::blue) << QColor(Qt::black) << 2.44;
    }

    void contrastRatio() {
        QFETCH(QColor, a);
        QFETCH(QColor, b);
        QFETCH(double, ratio);
        QVERIFY2(std::abs(Appearance::contrastRatio(a, b) - ratio) < 0.01,
                 qPrintable(QString::number(Appearance::contrastRatio(a, b))));
    }

    void darkPalettesGiveLegibleTexts_data() {
        QTest::addColumn<QPalette>("dark");
        QTest::addColumn<bool>("bodyIsTheWindowColour");
        QTest::newRow("breeze dark") << palette(QColor(0x2a2e32), QColor(0xfcfcfc)) << true;
        QTest::newRow("dim text") << palette(QColor(0x303030), QColor(0x707070)) << true;
        QTest::newRow("tinted") << palette(QColor(0x1e1e2e), QColor(0xcdd6f4)) << true;
        QTest::newRow("mid grey") << palette(QColor(0x5a5a5a), QColor(0xf0f0f0)) << false;
    }

    void darkPalettesGiveLegibleTexts() {
        QFETCH(QPalette, dark);
        QFETCH(bool, bodyIsTheWindowColour);
        const Appearance a = Appearance::forPalette(dark);
        QVERIFY(a.dark);
        const QColor window = dark.color(QPalette::Window);
        if (bodyIsTheWindowColour) {
            QCOMPARE(a.popoverFill.rgb(), window.rgb());
        } else {
            // Darker, and of the same hue.
            QVERIFY(Appearance::relativeLuminance(a.popoverFill) <
                    Appearance::relativeLuminance(window));
            QCOMPARE(a.popoverFill.hslHue(), window.hslHue());
        }
        QCOMPARE(a.popoverFill.alphaF(), 0.92f);
        QCOMPARE(a.windowBackground, dark.color(QPalette::Window));
        QVERIFY(a.chartText.has_value());
        // The body is translucent: whatever desktop lies behind it, the texts stay legible.
        for (QColor desktop : {QColor(Qt::white), QColor(Qt::black), QColor(0x3a4150)}) {
            const QColor body = Appearance::composite(a.popoverFill, desktop);
            QVERIFY(Appearance::contrastRatio(a.text, body) >= 7.0);
            for (const QColor& text :
                 {a.secondaryText, a.controlText, a.tertiaryText, a.accent, *a.chartText}) {
                QVERIFY2(Appearance::contrastRatio(text, body) >= 4.5,
                         qPrintable(text.name() + " on " + body.name()));
            }
        }
        // White button titles on the filled button, top to bottom of its gradient.
        QVERIFY(Appearance::contrastRatio(Qt::white, a.buttonTop) >= 4.5);
        QVERIFY(Appearance::contrastRatio(Qt::white, a.buttonBottom) >= 4.5);
        QVERIFY(Appearance::contrastRatio(a.buttonDisabledText, a.buttonDisabledFill) >= 4.5);
        // Captions are quieter than headlines, not the same colour: the blends towards the body
        // stop at the legible minimum, not at the full text colour.
        QVERIFY(Appearance::contrastRatio(a.secondaryText, a.windowBackground) <
                Appearance::contrastRatio(a.text, a.windowBackground));
    }

    void lightPalettesKeepOneLook_data() {
        QTest::addColumn<QPalette>("light");
        QTest::newRow("breeze") << palette(QColor(0xeff0f1), QColor(0x232629));
        QTest::newRow("mid grey, dark text") << palette(QColor(0x909090), Qt::black);
        QTest::newRow("equal luminance") << palette(QColor(0x808080), QColor(0x808080));
    }

    void lightPalettesKeepOneLook() {
        QFETCH(QPalette, light);
        const Appearance a = Appearance::forPalette(light);
        QVERIFY(!a.dark);
        QCOMPARE(a, Appearance::forPalette(palette(QColor(0xefefef), Qt::black)));
        QCOMPARE(a.popoverFill, QColor::fromRgbF(0.94f, 0.94f, 0.94f, 0.92f));
        QVERIFY(!a.chartText.has_value()); // the chart theme's own text colour
    }

    void paletteChangesReachTheirWatchers() {
        int calls = 0;
        auto context = std::make_unique<QObject>();
        onApplicationPaletteChange(context.get(), [&calls] { ++calls; });
        QApplication::setPalette(palette(Qt::black, Qt::white));
        QCOMPARE(calls, 1);
        QApplication::setPalette(QPalette());
        QCOMPARE(calls, 2);
        context.reset();
        QApplication::setPalette(palette(Qt::black, Qt::white));
        QCOMPARE(calls, 2); // gone with its context
        QApplication::setPalette(QPalette());
    }
};

QTEST_MAIN(AppearanceTest)
#include "test_appearance.moc"
