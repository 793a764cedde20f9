// The tray application on real panels: inside scripts/with-desktop.sh --host trayer|xfce4-panel,
// the panel is moved to every edge and position of the cell list and the application is
// launched afresh in each cell. Each cell checks what a user sees: the popover wholly on the
// screen with its arrow on the icon (or at the panel's tray end at launch where the host does
// not tell where the icon is), a click on the icon toggles, a click elsewhere and Escape close,
// and the closed icon stands out from the panel. A screenshot per cell goes to
// build/screenshots/matrix/<host>-<edge>-<position>-<scale>[-light|-dark].png (at launch) and
// ...-closed.png (the closed icon on its panel).
//
// MATRIX_CELLS lists the cells as edge-position pairs ("top-start bottom-end ..."); the desktop
// comes from with-desktop.sh (BRIMWELL_DESKTOP_PANEL moves its panel); MATRIX_PALETTE=light or
// dark gives the application a Fusion palette of that kind and a panel to match.

#include "AXStatusItemPopup/AXStatusItemPopup.h"
#include "app/MCAppDelegate.h"
#include "app/MCContentViewController.h"
#include "logging/DDLog.h"
#include "popover/INPopoverController.h"
#include "popover/INPopoverWindow.h"
#include "popover/INPopoverWindowFrame.h"
#include "support/XTools.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <functional>
#include <map>

namespace {

const int kTolerance = 2; // pixels, device-independent

QString env(const char* name, const char* fallback = "") {
    return qEnvironmentVariable(name, QString::fromLatin1(fallback));
}

QString host() {
    return env("BRIMWELL_TRAY_HOST", "trayer");
}
int scale() {
    return env("QT_SCALE_FACTOR", "1").toInt();
}
// The panel matches the application's palette where one is given; dark otherwise.
QString panelShade() {
    return env("MATRIX_PALETTE") == QStringLiteral("light") ? QStringLiteral("light")
                                                            : QStringLiteral("dark");
}

// xdotool speaks device pixels.
QPoint device(QPoint logical) {
    return logical * scale();
}

bool clickAtLogical(QPoint logical, int button = 1) {
    return clickAt(device(logical), button);
}

// The panel's window as the X server has it, in device-independent pixels.
QRect panelWindow() {
    const QString cls = host() == QStringLiteral("trayer") ? QStringLiteral("trayer")
                                                           : QStringLiteral("xfce4-panel");
    QByteArray ids;
    if (!runTool(QStringLiteral("xdotool"),
                 {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                  QStringLiteral("--class"), cls},
                 &ids)) {
        return {};
    }
    for (const QByteArray& id : ids.split('\n')) {
        QByteArray shell;
        if (id.isEmpty() || !runTool(QStringLiteral("xdotool"),
                                     {QStringLiteral("getwindowgeometry"),
                                      QStringLiteral("--shell"), QString::fromLatin1(id)},
                                     &shell)) {
            continue;
        }
        std::map<QByteArray, int> g;
        for (const QByteArray& line : shell.split('\n')) {
            const auto parts = line.split('=');
            if (parts.size() == 2) {
                g[parts[0]] = parts[1].toInt();
            }
        }
        if (g["WIDTH"] > 10 && g["HEIGHT"] > 10) {
            const int s = scale();
            return {g["X"] / s, g["Y"] / s, g["WIDTH"] / s, g["HEIGHT"] / s};
        }
    }
    return {};
}

QImage grabScreen() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(
        QImage::Format_RGB32);
}

int colourDistance(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
           std::abs(qBlue(a) - qBlue(b));
}

// The commonest colour inside `area` (device pixels): the panel's own.
QRgb commonestColour(const QImage& image, const QRect& area) {
    std::map<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            ++counts[image.pixel(x, y)];
        }
    }
    auto best = counts.begin();
    for (auto it = counts.begin(); it != counts.end(); ++it) {
        if (it->second > best->second) {
            best = it;
        }
    }
    return best == counts.end() ? 0 : best->first;
}

// Pixels in `area` that differ clearly from `background`, and the box around them.
struct Ink {
    int count = 0;
    QRect box; // device pixels
};
Ink inkIn(const QImage& image, const QRect& area, QRgb background) {
    Ink ink;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (colourDistance(image.pixel(x, y), background) > 120) {
                ++ink.count;
                ink.box |= QRect(x, y, 1, 1);
            }
        }
    }
    return ink;
}

QRect toDevice(const QRect& r) {
    return {r.topLeft() * scale(), r.size() * scale()};
}
QRect toLogical(const QRect& r) {
    const int s = scale();
    return {r.x() / s, r.y() / s, (r.width() + s - 1) / s, (r.height() + s - 1) / s};
}

Qt::Edge edgeNamed(const QString& name) {
    if (name == QStringLiteral("bottom")) {
        return Qt::BottomEdge;
    }
    if (name == QStringLiteral("left")) {
        return Qt::LeftEdge;
    }
    if (name == QStringLiteral("right")) {
        return Qt::RightEdge;
    }
    return Qt::TopEdge;
}

QPalette darkPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x2b, 0x2e, 0x33));
    p.setColor(QPalette::WindowText, QColor(0xe8, 0xea, 0xed));
    p.setColor(QPalette::Base, QColor(0x1f, 0x21, 0x25));
    p.setColor(QPalette::AlternateBase, QColor(0x2b, 0x2e, 0x33));
    p.setColor(QPalette::Text, QColor(0xe8, 0xea, 0xed));
    p.setColor(QPalette::Button, QColor(0x35, 0x39, 0x3f));
    p.setColor(QPalette::ButtonText, QColor(0xe8, 0xea, 0xed));
    p.setColor(QPalette::ToolTipBase, QColor(0x35, 0x39, 0x3f));
    p.setColor(QPalette::ToolTipText, QColor(0xe8, 0xea, 0xed));
    p.setColor(QPalette::Highlight, QColor(0x3d, 0x8b, 0xfd));
    p.setColor(QPalette::HighlightedText, Qt::white);
    return p;
}

} // namespace

class DesktopMatrix : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> config_;
    std::unique_ptr<MCAppDelegate> delegate_;

    AXStatusItemPopup* popup() const { return delegate_->statusItemPopup(); }
    INPopoverController* popover() const { return popup()->popoverController(); }
    bool popoverOpen() const { return popover() != nullptr && popover()->popoverIsVisible(); }
    // Open, done animating and painted.
    bool popoverSettled() const {
        return popoverOpen() && popover()->popoverWindow()->QWidget::isVisible() &&
               popover()->popoverWindow()->zoomWindow() == nullptr;
    }

    // Where the arrow's tip is, in Qt's global coordinates.
    QPointF arrowTip() const {
        const QRect g = popover()->popoverWindow()->geometry();
        const double offset = popover()->popoverWindow()->frameView()->arrowOffset();
        switch (popover()->arrowDirection()) {
        case INPopoverArrowDirectionUp:
            return {g.x() + g.width() / 2.0 + offset, double(g.y())};
        case INPopoverArrowDirectionDown:
            return {g.x() + g.width() / 2.0 + offset, double(g.y() + g.height())};
        case INPopoverArrowDirectionLeft:
            return {double(g.x()), g.y() + g.height() / 2.0 - offset};
        default:
            return {double(g.x() + g.width()), g.y() + g.height() / 2.0 - offset};
        }
    }

    // The popover's body (without the see-through band around it) and its arrow tip lie on the
    // screen, and the arrow points away from the panel.
    void checkOnScreen(Qt::Edge edge) {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const int band = static_cast<int>(popover()->arrowSize().height);
        const QRect body =
            popover()->popoverWindow()->geometry().marginsRemoved(QMargins(band, band, band, band));
        QVERIFY2(screen.contains(body), qPrintable(QStringLiteral("body %1,%2 %3x%4 off the screen")
                                                       .arg(body.x())
                                                       .arg(body.y())
                                                       .arg(body.width())
                                                       .arg(body.height())));
        const QPointF tip = arrowTip();
        QVERIFY(tip.x() >= screen.left() && tip.x() <= screen.right() + 1);
        QVERIFY(tip.y() >= screen.top() && tip.y() <= screen.bottom() + 1);
        static const std::map<Qt::Edge, INPopoverArrowDirection> away{
            {Qt::TopEdge, INPopoverArrowDirectionUp},
            {Qt::BottomEdge, INPopoverArrowDirectionDown},
            {Qt::LeftEdge, INPopoverArrowDirectionLeft},
            {Qt::RightEdge, INPopoverArrowDirectionRight}};
        QCOMPARE(popover()->arrowDirection(), away.at(edge));
    }

    // The tip touches the slot's facing edge and stands in the middle of `slot` along it.
    // Empty when the tip touches the slot's facing edge and stands in the middle of `slot`
    // along it; else what is wrong.
    QString tipOffSlot(const QRect& slot, Qt::Edge edge) const {
        const QPointF tip = arrowTip();
        double across = 0.0;
        double along = 0.0;
        switch (edge) {
        case Qt::TopEdge:
            across = tip.y() - (slot.y() + slot.height());
            along = tip.x() - (slot.x() + slot.width() / 2.0);
            break;
        case Qt::BottomEdge:
            across = tip.y() - slot.y();
            along = tip.x() - (slot.x() + slot.width() / 2.0);
            break;
        case Qt::LeftEdge:
            across = tip.x() - (slot.x() + slot.width());
            along = tip.y() - (slot.y() + slot.height() / 2.0);
            break;
        case Qt::RightEdge:
            across = tip.x() - slot.x();
            along = tip.y() - (slot.y() + slot.height() / 2.0);
            break;
        }
        if (std::abs(across) <= kTolerance && std::abs(along) <= kTolerance) {
            return {};
        }
        return QStringLiteral("tip %1,%2; slot %3,%4 %5x%6")
            .arg(tip.x())
            .arg(tip.y())
            .arg(slot.x())
            .arg(slot.y())
            .arg(slot.width())
            .arg(slot.height());
    }

    // The tip ends on the slot; a tray host may still be settling the icon's place, which the
    // popover then follows.
    void checkTipOn(const std::function<QRect()>& slot, Qt::Edge edge) {
        QString why;
        QTRY_VERIFY2_WITH_TIMEOUT((why = tipOffSlot(slot(), edge)).isEmpty(), qPrintable(why),
                                  5000);
    }

    // The icon's slot: where the tray host says it is, else found on the screen inside the
    // panel (across the panel's whole thickness, as the host gives it).
    QRect iconSlot(const QRect& panel, Qt::Edge edge) {
        const QRect reported = popup()->statusItem()->geometry();
        if (!reported.isEmpty()) {
            return reported;
        }
        const QImage image = grabScreen();
        const QRect area = toDevice(panel).intersected(image.rect());
        const Ink ink = inkIn(image, area, commonestColour(image, area));
        if (ink.count == 0) {
            return {};
        }
        const QRect box = toLogical(ink.box);
        const bool vertical = edge == Qt::LeftEdge || edge == Qt::RightEdge;
        return vertical ? QRect(panel.x(), box.y(), panel.width(), box.height())
                        : QRect(box.x(), panel.y(), box.width(), panel.height());
    }

    void screenshot(const QString& name) {
        const QString dir = QStringLiteral(BRIMWELL_SCREENSHOT_DIR "/matrix");
        QDir().mkpath(dir);
        QVERIFY(grabScreen().save(dir + "/" + name + ".png"));
    }

    bool clickToggles(const QRect& slot, bool expectOpen) {
        if (!clickAtLogical(slot.center())) {
            return false;
        }
        // Generous: a busy machine runs several desktops at once.
        return QTest::qWaitFor([&] { return expectOpen ? popoverSettled() : !popoverOpen(); },
                               15000);
    }

private slots:
    void initTestCase() {
        config_ = std::make_unique<QTemporaryDir>();
        ::setenv("XDG_CONFIG_HOME", config_->path().toLocal8Bit().constData(), 1);
        ::unsetenv("BRIMWELL_ANALYTICS_HOST");
        if (qEnvironmentVariableIsSet("MATRIX_VERBOSE")) {
            appLogLevel = LogLevelVerbose;
        }
        QApplication::setQuitOnLastWindowClosed(false);
        const QString palette = env("MATRIX_PALETTE");
        if (!palette.isEmpty()) {
            QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
            QApplication::setPalette(palette == QStringLiteral("dark")
                                         ? darkPalette()
                                         : QApplication::style()->standardPalette());
        }
    }

    void cell_data() {
        QTest::addColumn<QString>("edge");
        QTest::addColumn<QString>("position");
        const QStringList cells = env("MATRIX_CELLS", "top-end").split(' ', Qt::SkipEmptyParts);
        for (const QString& cell : cells) {
            const QStringList parts = cell.split('-');
            QTest::newRow(qPrintable(cell)) << parts.value(0) << parts.value(1);
        }
    }

    void cell() {
        QFETCH(QString, edge);
        QFETCH(QString, position);
        const Qt::Edge panelEdge = edgeNamed(edge);
        QString name = QStringLiteral("%1-%2-%3-%4").arg(host(), edge, position).arg(scale());
        if (!env("MATRIX_PALETTE").isEmpty()) {
            name += "-" + env("MATRIX_PALETTE");
        }

        // The panel moves before the application starts, as after a log-in.
        QVERIFY(runTool(env("BRIMWELL_DESKTOP_PANEL"),
                        {QStringLiteral("--host"), host(), QStringLiteral("--edge"), edge,
                         QStringLiteral("--position"), position, QStringLiteral("--scale"),
                         QString::number(scale()), QStringLiteral("--panel"), panelShade()},
                        nullptr, 30000));
        const QRect panel = panelWindow();
        QVERIFY(!panel.isEmpty());

        delegate_ = std::make_unique<MCAppDelegate>();
        Application::sharedApplication()->setDelegate(delegate_.get());
        delegate_->applicationDidFinishLaunching();
        auto done = qScopeGuard([this] {
            Application::sharedApplication()->setDelegate(nullptr);
            delegate_.reset();
            // Let the tray host see the icon go before the next cell's arrives.
            QTest::qWait(50);
        });
        QVERIFY(popup() != nullptr);

        // Launch: the popover opens by itself.
        QTRY_VERIFY_WITH_TIMEOUT(popoverSettled(), 20000);
        QVERIFY(QTest::qWaitForWindowExposed(popover()->popoverWindow()));
        QTest::qWait(50);
        checkOnScreen(panelEdge);
        const bool reportsGeometry = !popup()->statusItem()->geometry().isEmpty();
        if (reportsGeometry) {
            checkTipOn([this] { return popup()->statusItem()->geometry(); }, panelEdge);
        } else {
            // No word from the host: the tray end of the panel.
            const int t = panelEdge == Qt::LeftEdge || panelEdge == Qt::RightEdge ? panel.width()
                                                                                  : panel.height();
            const QRect end = panelEdge == Qt::LeftEdge || panelEdge == Qt::RightEdge
                                  ? QRect(panel.x(), panel.bottom() + 1 - t, t, t)
                                  : QRect(panel.right() + 1 - t, panel.y(), t, t);
            checkTipOn([end] { return end; }, panelEdge);
        }
        screenshot(name);
        if (QTest::currentTestFailed()) {
            return;
        }

        // A click on the icon closes, the next opens again, with the arrow on the icon.
        const QRect slot = iconSlot(panel, panelEdge);
        QVERIFY2(!slot.isEmpty(), "the icon cannot be found on the panel");
        QVERIFY(clickToggles(slot, false));
        QVERIFY(!popup()->isActive());

        // Closed, the icon stands out from the panel.
        QTest::qWait(100);
        screenshot(name + "-closed");
        {
            const QImage image = grabScreen();
            const QRect area = toDevice(slot).intersected(image.rect());
            const QRgb background =
                commonestColour(image, toDevice(panel).intersected(image.rect()));
            const Ink ink = inkIn(image, area, background);
            QVERIFY2(
                ink.count >= 20 * scale() * scale(),
                qPrintable(
                    QStringLiteral("only %1 icon pixels differ from the panel").arg(ink.count)));
            // And it fills its slot rather than sitting small in a corner.
            const int slotSide = std::min(area.width(), area.height());
            QVERIFY2(ink.box.height() >= slotSide / 2 && ink.box.width() >= slotSide / 3,
                     qPrintable(QStringLiteral("icon drawn %1x%2 in a %3-pixel slot")
                                    .arg(ink.box.width())
                                    .arg(ink.box.height())
                                    .arg(slotSide)));
        }

        QVERIFY2(clickToggles(slot, true),
                 qPrintable(QStringLiteral("no opening after a click at %1,%2")
                                .arg(slot.center().x())
                                .arg(slot.center().y())));
        checkOnScreen(panelEdge);
        checkTipOn([slot] { return slot; }, panelEdge);

        // A click elsewhere closes.
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const QRect open = popover()->popoverWindow()->geometry();
        QPoint elsewhere;
        for (QPoint p : {screen.center(), QPoint(screen.width() / 5, screen.height() / 2),
                         QPoint(screen.width() * 4 / 5, screen.height() / 2)}) {
            if (!open.contains(p) && !panel.contains(p)) {
                elsewhere = p;
                break;
            }
        }
        QVERIFY(clickAtLogical(elsewhere));
        QTRY_VERIFY_WITH_TIMEOUT(!popoverOpen(), 15000);

        // Escape closes, as a click elsewhere does.
        QVERIFY(clickToggles(slot, true));
        QTRY_VERIFY_WITH_TIMEOUT(popover()->popoverWindow()->isActiveWindow(), 15000);
        QVERIFY(
            runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")}));
        QTRY_VERIFY_WITH_TIMEOUT(!popoverOpen(), 15000);
        QVERIFY(!popup()->isActive());

        // A right click brings up the menu, whichever protocol the host speaks (a
        // StatusNotifierItem host draws it itself from ours, asking for it first).
        QSignalSpy menuAsked(delegate_->trayMenu(), &QMenu::aboutToShow);
        QVERIFY(clickAtLogical(slot.center(), 3));
        QTRY_VERIFY_WITH_TIMEOUT(menuAsked.size() >= 1, 15000);
        QTest::qWait(100);
        QVERIFY(
            runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")}));
        QTRY_VERIFY_WITH_TIMEOUT(!delegate_->trayMenu()->isVisible(), 15000);
        QVERIFY(!popoverOpen());
    }
};

QTEST_MAIN(DesktopMatrix)
#include "test_desktop_matrix.moc"
