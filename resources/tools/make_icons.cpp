// Draws the application's bitmap icon into resources/images (the tray icons are the SVG files
// beside it, drawn on the same grid). Run once after changing the design:
//   g++ -std=c++20 -fPIC make_icons.cpp $(pkg-config --cflags --libs Qt6Gui) -o make_icons
//   QT_QPA_PLATFORM=offscreen ./make_icons ../images
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

// A memory chip seen from above, on a 22 x 22 grid: a body with a die cut out and four pins
// on each long side.
QImage chip(int size, QColor ink) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 22.0, size / 22.0);

    QPainterPath body;
    body.addRoundedRect(QRectF(4.5, 5.5, 13, 11), 2, 2);
    QPainterPath die;
    die.addRoundedRect(QRectF(7.5, 8.5, 7, 5), 1, 1);
    p.fillPath(body.subtracted(die), ink);
    // The notch that marks pin 1.
    p.setBrush(ink);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(9.5, 11), 0.9, 0.9);

    for (int i = 0; i < 4; ++i) {
        const double x = 5.75 + i * 3.0;
        p.drawRoundedRect(QRectF(x, 2.0, 1.5, 3.0), 0.5, 0.5);
        p.drawRoundedRect(QRectF(x, 17.0, 1.5, 3.0), 0.5, 0.5);
    }
    return image;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    const bool ok = chip(256, QColor(0x2a, 0x6f, 0xe0)).save(dir + "/brimwell.png");
    std::puts(ok ? "icons written" : "cannot write icons");
    return ok ? 0 : 1;
}
