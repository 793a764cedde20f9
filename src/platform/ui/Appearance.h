#pragma once
// The colours of our own surfaces (the popover's body, the panel's texts, the About window)
// for an application palette. A light palette keeps the application's own light look, whatever
// its exact colours; a dark palette gets a dark look whose background and text come from it.

#include <QColor>
#include <QObject>
#include <QPalette>

#include <functional>
#include <optional>

struct Appearance {
    // WCAG's minimum for body text.
    static constexpr double kMinTextContrast = 4.5;

    bool dark = false;
    QColor popoverFill;      // the popover's translucent body
    QColor windowBackground; // opaque windows: the panel's own window, About
    QColor text;             // headline figures and names
    QColor secondaryText;    // captions
    QColor controlText;      // flat controls (About, Quit) and body text
    QColor tertiaryText;     // fine print
    QColor accent;           // flat controls under the pointer or with the focus
    QColor focusRing;        // the keyboard focus on filled buttons
    // The filled button: gradient top and bottom, border, and its disabled look.
    QColor buttonTop;
    QColor buttonBottom;
    QColor buttonBorder;
    QColor buttonHoverTop;
    QColor buttonHoverBottom;
    QColor buttonDisabledText;
    QColor buttonDisabledFill;
    QColor buttonDisabledBorder;
    // Legend and title of charts; none keeps the chart theme's own colour.
    std::optional<QColor> chartText;

    bool operator==(const Appearance&) const = default;

    static Appearance forPalette(const QPalette& palette);
    // For the application palette now.
    static Appearance current();

    // A palette whose window text is lighter than its window.
    static bool isDark(const QPalette& palette);

    // WCAG relative luminance of an opaque colour, 0 (black) to 1 (white).
    static double relativeLuminance(const QColor& color);
    // WCAG contrast ratio of two opaque colours, 1 to 21.
    static double contrastRatio(const QColor& a, const QColor& b);
    // `over` painted on the opaque `under`, by its alpha.
    static QColor composite(const QColor& over, const QColor& under);
    // `fg` moved towards `bg` by (1 - share), but never so far that it falls below `minimum`
    // contrast against `bg`.
    static QColor legibleBlend(const QColor& fg, const QColor& bg, double share,
                               double minimum = kMinTextContrast);
};

// Calls `changed` on the main thread after every change of the application palette (a switch
// of the desktop's colour scheme), for as long as `context` lives.
void onApplicationPaletteChange(QObject* context, std::function<void()> changed);
