// The tray application on real panels (scripts/with-desktop.sh --host trayer|xfce4-panel),
// launched afresh in each cell of MATRIX_CELLS ("top-start bottom-end ..."), the panel moved
// there first. Each cell: the popover wholly on the screen with its arrow on the icon (or at the
// panel's tray end at launch where the host does not tell where the icon is), a click on the
// icon toggles, a click elsewhere and Escape close, the closed icon stands out from the panel,
// and a right click brings the menu. MATRIX_PALETTE=light|dark: a Fusion palette and a panel to
// match. Pictures:
// build/screenshots/matrix/<host>-<edge>-<position>-<scale>[-<palette>][-closed].png

#include "app/TrayApp.h"
#include "popover/INPopoverWindowFrame.h"

#include <QApplication>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QTemporaryDir>

#include <functional>
#include <map>

namespace {

const int kTolerance = 2; // pixels, device-independent

const QString kHost = qEnvironmentVariable("BRIMWELL_TRAY_HOST", QStringLiteral("trayer"));
const QString kPalette = qEnvironmentVariable("MATRIX_PALETTE");
const int kScale = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1")).toInt();

// xdotool speaks device pixels.
bool clickAtLogical(QPoint logical, int button = 1) {
    return clickAt(logical * kScale, button);
}
QRect toDevice(const QRect& r) {
    return {r.topLeft() * kScale, r.size() * kScale};
}
QRect toLogical(const QRect& r) {
    const int s = kScale;
    return {r.x() / s, r.y() / s, (r.width() + s - 1) / s, (r.height() + s - 1) / s};
}
QString text(const QRect& r) {
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// The panel's window as the X server has it, in device-independent pixels.
QRect panelWindow() {
    for (const QRect& g : visibleWindows({QStringLiteral("--class"), kHost})) {
        if (g.width() > 10 && g.height() > 10) {
            return toLogical(g);
        }
    }
    return {};
}

// Pixels on the screen inside `area` that differ clearly from the commonest colour inside
// `panel` (the panel's own), and the box around them (device pixels). Both areas are logical.
struct Ink {
    int count = 0;
    QRect box;
};
Ink inkIn(const QRect& logicalArea, const QRect& panel) {
    const QImage image = QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(
        QImage::Format_RGB32);
    std::map<QRgb, int> counts;
    const QRect around = toDevice(panel).intersected(image.rect());
    for (int y = around.top(); y <= around.bottom(); ++y) {
        for (int x = around.left(); x <= around.right(); ++x) {
            ++counts[image.pixel(x, y)];
        }
    }
    const QRgb background = std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) {
                                return a.second < b.second;
                            })->first;
    const QRect area = toDevice(logicalArea).intersected(image.rect());
    Ink ink;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (std::abs(qRed(p) - qRed(background)) + std::abs(qGreen(p) - qGreen(background)) +
                    std::abs(qBlue(p) - qBlue(background)) >
                120) {
                ++ink.count;
                ink.box |= QRect(x, y, 1, 1);
            }
        }
    }
    return ink;
}

// A panel's edge, and where the arrow points on it: away from the panel.
const std::map<QString, std::pair<Qt::Edge, INPopoverArrowDirection>> kEdges{
    {QStringLiteral("top"), {Qt::TopEdge, INPopoverArrowDirectionUp}},
    {QStringLiteral("bottom"), {Qt::BottomEdge, INPopoverArrowDirectionDown}},
    {QStringLiteral("left"), {Qt::LeftEdge, INPopoverArrowDirectionLeft}},
    {QStringLiteral("right"), {Qt::RightEdge, INPopoverArrowDirectionRight}}};

bool vertical(Qt::Edge edge) {
    return edge == Qt::LeftEdge || edge == Qt::RightEdge;
}

} // namespace

class DesktopMatrix : public QObject {
    Q_OBJECT

    QTemporaryDir config_;
    std::unique_ptr<TrayApp> app_;

    // Where the arrow's tip is, in Qt's global coordinates.
    QPointF arrowTip() const {
        const QRectF g = app_->window()->geometry();
        const double offset = app_->window()->frameView()->arrowOffset();
        switch (app_->popover()->arrowDirection()) {
        case INPopoverArrowDirectionUp:
            return {g.center().x() + offset, g.top()};
        case INPopoverArrowDirectionDown:
            return {g.center().x() + offset, g.bottom()};
        case INPopoverArrowDirectionLeft:
            return {g.left(), g.center().y() - offset};
        default:
            return {g.right(), g.center().y() - offset};
        }
    }

    // The popover's body (without the see-through band around it) lies on the screen, the arrow
    // points away from the panel, and its tip ends on the slot's facing edge, in the middle of
    // the slot along it; a tray host may still be settling the icon's place, which the popover
    // then follows.
    void checkPlaced(const std::function<QRect()>& slot, Qt::Edge edge,
                     INPopoverArrowDirection away) {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const int band = static_cast<int>(app_->popover()->arrowSize().height);
        const QRect body =
            app_->window()->geometry().marginsRemoved(QMargins(band, band, band, band));
        QVERIFY2(screen.contains(body), qPrintable("body off the screen: " + text(body)));
        QCOMPARE(app_->popover()->arrowDirection(), away);
        QString why;
        auto tipOnSlot = [&] {
            const QRect s = slot();
            const QPointF tip = arrowTip();
            const double facing = edge == Qt::TopEdge      ? s.y() + s.height()
                                  : edge == Qt::BottomEdge ? s.y()
                                  : edge == Qt::LeftEdge   ? s.x() + s.width()
                                                           : s.x();
            const double across = (vertical(edge) ? tip.x() : tip.y()) - facing;
            const double along = vertical(edge) ? tip.y() - (s.y() + s.height() / 2.0)
                                                : tip.x() - (s.x() + s.width() / 2.0);
            why = QStringLiteral("tip %1,%2; slot %3").arg(tip.x()).arg(tip.y()).arg(text(s));
            return std::abs(across) <= kTolerance && std::abs(along) <= kTolerance;
        };
        QTRY_VERIFY2_WITH_TIMEOUT(tipOnSlot(), qPrintable(why), 5000);
    }

    // The icon's slot: where the tray host says it is, else found on the screen inside the
    // panel (across the panel's whole thickness, as the host gives it).
    QRect iconSlot(const QRect& panel, Qt::Edge edge) {
        const QRect reported = app_->popup()->statusItem()->geometry();
        if (!reported.isEmpty()) {
            return reported;
        }
        const Ink ink = inkIn(panel, panel);
        if (ink.count == 0) {
            return {};
        }
        const QRect box = toLogical(ink.box);
        return vertical(edge) ? QRect(panel.x(), box.y(), panel.width(), box.height())
                              : QRect(box.x(), panel.y(), box.width(), panel.height());
    }

    void screenshot(const QString& name) {
        QVERIFY(saveScreen(screenshotPath("matrix/" + name + ".png")));
    }

    bool clickToggles(const QRect& slot, bool expectOpen) {
        // Generous: a busy machine runs several desktops at once.
        return clickAtLogical(slot.center()) &&
               QTest::qWaitFor([&] { return expectOpen ? app_->settled() : !app_->open(); }, 15000);
    }

    bool pressEscape() { return xdotool({"key", "Escape"}); }

private slots:
    void initTestCase() {
        ::setenv("XDG_CONFIG_HOME", config_.path().toLocal8Bit().constData(), 1);
        ::unsetenv("BRIMWELL_ANALYTICS_HOST");
        QApplication::setQuitOnLastWindowClosed(false);
        if (!kPalette.isEmpty()) {
            QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
            QApplication::setPalette(kPalette == QStringLiteral("dark")
                                         ? darkPalette()
                                         : QApplication::style()->standardPalette());
        }
    }

    void cell_data() {
        QTest::addColumn<QString>("edge");
        QTest::addColumn<QString>("position");
        for (const QString& cell : qEnvironmentVariable("MATRIX_CELLS", QStringLiteral("top-end"))
                                       .split(' ', Qt::SkipEmptyParts)) {
            QTest::newRow(qPrintable(cell)) << cell.section('-', 0, 0) << cell.section('-', 1);
        }
    }

    void cell() {
        QFETCH(QString, edge);
        QFETCH(QString, position);
        const auto [panelEdge, away] = kEdges.at(edge);
        const QString name = QStringLiteral("%1-%2-%3-%4").arg(kHost, edge, position).arg(kScale) +
                             (kPalette.isEmpty() ? QString() : "-" + kPalette);

        // The panel moves before the application starts, as after a log-in. It matches the
        // application's palette where one is given; dark otherwise.
        QVERIFY(runTool(qEnvironmentVariable("BRIMWELL_DESKTOP_PANEL"),
                        {"--host", kHost, "--edge", edge, "--position", position, "--scale",
                         QString::number(kScale), "--panel",
                         kPalette == QStringLiteral("light") ? kPalette : QStringLiteral("dark")},
                        nullptr, 30000));
        const QRect panel = panelWindow();
        QVERIFY(!panel.isEmpty());

        app_ = std::make_unique<TrayApp>();
        app_->launch();
        auto done = qScopeGuard([this] {
            app_.reset();
            // Let the tray host see the icon go before the next cell's arrives.
            QTest::qWait(50);
        });
        QVERIFY(app_->popup() != nullptr);

        // Launch: the popover opens by itself, at the icon, or at the panel's tray end where
        // the host does not tell where the icon is.
        QTRY_VERIFY_WITH_TIMEOUT(app_->settled(), 20000);
        QVERIFY(QTest::qWaitForWindowExposed(app_->window()));
        QTest::qWait(50);
        const int t = vertical(panelEdge) ? panel.width() : panel.height();
        const QRect end = vertical(panelEdge) ? QRect(panel.x(), panel.bottom() + 1 - t, t, t)
                                              : QRect(panel.right() + 1 - t, panel.y(), t, t);
        const bool told = !app_->popup()->statusItem()->geometry().isEmpty();
        checkPlaced([&] { return told ? app_->popup()->statusItem()->geometry() : end; }, panelEdge,
                    away);
        screenshot(name);
        if (QTest::currentTestFailed()) {
            return;
        }

        // A click on the icon closes, the next opens again, with the arrow on the icon.
        const QRect slot = iconSlot(panel, panelEdge);
        QVERIFY2(!slot.isEmpty(), "the icon cannot be found on the panel");
        QVERIFY(clickToggles(slot, false));
        QVERIFY(!app_->popup()->isActive());

        // Closed, the icon stands out from the panel, and it fills its slot rather than sitting
        // small in a corner.
        QTest::qWait(100);
        screenshot(name + "-closed");
        const Ink ink = inkIn(slot, panel);
        const QRect inside = slot.intersected(QGuiApplication::primaryScreen()->geometry());
        const int slotSide = std::min(inside.width(), inside.height()) * kScale;
        QVERIFY2(ink.count >= 20 * kScale * kScale && ink.box.height() >= slotSide / 2 &&
                     ink.box.width() >= slotSide / 3,
                 qPrintable(QString::number(ink.count) + " icon pixels in " + text(ink.box) +
                            ", slot side " + QString::number(slotSide)));

        QVERIFY2(clickToggles(slot, true), qPrintable("no opening after a click on " + text(slot)));
        checkPlaced([slot] { return slot; }, panelEdge, away);

        // A click elsewhere closes.
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const QRect open = app_->window()->geometry();
        QPoint elsewhere;
        for (QPoint p : {screen.center(), QPoint(screen.width() / 5, screen.height() / 2),
                         QPoint(screen.width() * 4 / 5, screen.height() / 2)}) {
            if (!open.contains(p) && !panel.contains(p)) {
                elsewhere = p;
                break;
            }
        }
        QVERIFY(clickAtLogical(elsewhere));
        QTRY_VERIFY_WITH_TIMEOUT(!app_->open(), 15000);

        // Escape closes, as a click elsewhere does.
        QVERIFY(clickToggles(slot, true));
        QTRY_VERIFY_WITH_TIMEOUT(app_->window()->isActiveWindow(), 15000);
        QVERIFY(pressEscape());
        QTRY_VERIFY_WITH_TIMEOUT(!app_->open(), 15000);
        QVERIFY(!app_->popup()->isActive());

        // A right click brings up the menu, whichever protocol the host speaks (a
        // StatusNotifierItem host draws it itself from ours, asking for it first).
        QSignalSpy menuAsked(app_->delegate->trayMenu(), &QMenu::aboutToShow);
        QVERIFY(clickAtLogical(slot.center(), 3));
        QTRY_VERIFY_WITH_TIMEOUT(menuAsked.size() >= 1, 15000);
        QTest::qWait(100);
        QVERIFY(pressEscape());
        QTRY_VERIFY_WITH_TIMEOUT(!app_->delegate->trayMenu()->isVisible(), 15000);
        QVERIFY(!app_->open());
    }
};

QTEST_MAIN(DesktopMatrix)
#include "test_desktop_matrix.moc"
