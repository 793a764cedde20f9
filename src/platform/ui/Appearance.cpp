#include "platform/ui/Appearance.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double kPopoverAlpha = 0.92;
// Headline text on a dark body is held to more than the minimum.
constexpr double kMinHeadlineContrast = 7.0;
const QColor kNearWhite(0xf1, 0xf3, 0xf4);

double channel(double c) {
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

QColor mix(const QColor& a, const QColor& b, double share) {
    auto m = [share](double x, double y) { return x * share + y * (1.0 - share); };
    return QColor::fromRgbF(static_cast<float>(m(a.redF(), b.redF())),
                            static_cast<float>(m(a.greenF(), b.greenF())),
                            static_cast<float>(m(a.blueF(), b.blueF())));
}

Appearance lightAppearance() {
    Appearance a;
    a.dark = false;
    a.popoverFill = QColor::fromRgbF(0.94f, 0.94f, 0.94f, static_cast<float>(kPopoverAlpha));
    a.windowBackground = QColor(0xf6, 0xf7, 0xf9);
    a.text = QColor(0x1d, 0x1f, 0x23);
    a.secondaryText = QColor(0x6b, 0x6f, 0x76);
    a.controlText = QColor(0x4a, 0x4e, 0x55);
    a.tertiaryText = QColor(0x8a, 0x8f, 0x97);
    a.accent = QColor(0x2a, 0x6f, 0xe0);
    a.focusRing = a.text;
    a.buttonTop = QColor(0x3d, 0x8b, 0xfd);
    a.buttonBottom = QColor(0x2a, 0x6f, 0xe0);
    a.buttonBorder = QColor(0x22, 0x63, 0xc9);
    a.buttonHoverTop = QColor(0x5a, 0x9d, 0xff);
    a.buttonHoverBottom = QColor(0x34, 0x7b, 0xf0);
    a.buttonDisabledText = QColor(0xee, 0xf2, 0xf8);
    a.buttonDisabledFill = QColor(0x9d, 0xb8, 0xe0);
    a.buttonDisabledBorder = QColor(0x8e, 0xab, 0xd6);
    return a;
}

Appearance darkAppearance(const QPalette& palette) {
    Appearance a;
    a.dark = true;
    QColor base = palette.color(QPalette::Active, QPalette::Window);
    base.setAlphaF(1.0f);
    a.windowBackground = base;
    QColor text = palette.color(QPalette::Active, QPalette::WindowText);
    text.setAlphaF(1.0f);
    if (Appearance::contrastRatio(text, base) < kMinHeadlineContrast) {
        text = kNearWhite;
    }
    a.text = text;
    // Texts are measured on the body as it looks over a white desktop, its lightest case. A
    // body too light for that (a mid-grey palette) is darkened until the headline reads well.
    auto bodyFor = [](QColor fill) {
        fill.setAlphaF(static_cast<float>(kPopoverAlpha));
        return fill;
    };
    a.popoverFill = bodyFor(base);
    for (int step = 0; step < 20 && Appearance::contrastRatio(
                                        text, Appearance::composite(a.popoverFill, Qt::white)) <
                                        kMinHeadlineContrast;
         ++step) {
        a.popoverFill = bodyFor(mix(a.popoverFill, Qt::black, 0.9));
    }
    const QColor body = Appearance::composite(a.popoverFill, Qt::white);

    a.secondaryText = Appearance::legibleBlend(text, body, 0.70);
    a.controlText = Appearance::legibleBlend(text, body, 0.82);
    a.tertiaryText = Appearance::legibleBlend(text, body, 0.60);
    a.accent = QColor(0x8a, 0xb4, 0xf8);
    if (Appearance::contrastRatio(a.accent, body) < Appearance::kMinTextContrast) {
        a.accent = text;
    }
    a.focusRing = text;
    // A deeper blue than on light bodies, so white text on it stays legible.
    a.buttonTop = QColor(0x2f, 0x6f, 0xd6);
    a.buttonBottom = QColor(0x1f, 0x57, 0xb8);
    a.buttonBorder = QColor(0x1a, 0x4c, 0xa3);
    a.buttonHoverTop = QColor(0x3a, 0x7b, 0xe3);
    a.buttonHoverBottom = QColor(0x27, 0x63, 0xc8);
    a.buttonDisabledText = QColor(0xae, 0xb8, 0xc8);
    a.buttonDisabledFill = QColor(0x34, 0x44, 0x5e);
    a.buttonDisabledBorder = QColor(0x3d, 0x50, 0x70);
    a.chartText = Appearance::legibleBlend(text, body, 0.90);
    return a;
}

// One filter on the application object for every watcher: it sees each event of the process,
// so it only compares the event's type before anything else.
class PaletteWatcher final : public QObject {
public:
    static PaletteWatcher* instance() {
        static QPointer<PaletteWatcher> watcher;
        if (!watcher) {
            watcher = new PaletteWatcher(QCoreApplication::instance()); // owned by the app
        }
        return watcher;
    }

    void add(QObject* context, std::function<void()> changed) {
        entries_.push_back({context, std::move(changed)});
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::ApplicationPaletteChange ||
            watched != QCoreApplication::instance()) {
            return false;
        }
        std::erase_if(entries_, [](const Entry& e) { return e.context.isNull(); });
        // A callback may add watchers or end other contexts: work on a copy.
        const std::vector<Entry> entries = entries_;
        for (const Entry& entry : entries) {
            if (!entry.context.isNull()) {
                entry.changed();
            }
        }
        return false;
    }

private:
    explicit PaletteWatcher(QObject* application) : QObject(application) {
        application->installEventFilter(this);
    }

    struct Entry {
        QPointer<QObject> context;
        std::function<void()> changed;
    };
    std::vector<Entry> entries_;
};

} // namespace

bool Appearance::isDark(const QPalette& palette) {
    return relativeLuminance(palette.color(QPalette::Active, QPalette::WindowText)) >
           relativeLuminance(palette.color(QPalette::Active, QPalette::Window));
}

Appearance Appearance::forPalette(const QPalette& palette) {
    return isDark(palette) ? darkAppearance(palette) : lightAppearance();
}

Appearance Appearance::current() {
    return forPalette(QGuiApplication::palette());
}

double Appearance::relativeLuminance(const QColor& color) {
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) +
           0.0722 * channel(color.blueF());
}

double Appearance::contrastRatio(const QColor& a, const QColor& b) {
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor Appearance::composite(const QColor& over, const QColor& under) {
    return mix(over, under, over.alphaF());
}

QColor Appearance::legibleBlend(const QColor& fg, const QColor& bg, double share, double minimum) {
    for (double s = std::clamp(share, 0.0, 1.0); s < 1.0; s += 0.02) {
        const QColor c = mix(fg, bg, s);
        if (contrastRatio(c, bg) >= minimum) {
            return c;
        }
    }
    QColor opaque = fg;
    opaque.setAlphaF(1.0f);
    return opaque;
}

void onApplicationPaletteChange(QObject* context, std::function<void()> changed) {
    if (context == nullptr || !changed || QCoreApplication::instance() == nullptr) {
        return;
    }
    PaletteWatcher::instance()->add(context, std::move(changed));
}
