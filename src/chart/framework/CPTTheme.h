#pragma once
// A named look that a graph takes on: fills, frame and axis lines, text colour, paddings.

#include "chart/framework/CPTColor.h"
#include "chart/framework/CPTFill.h"
#include "chart/framework/CPTLineStyle.h"

#include <QString>
#include <memory>

class CPTGraph;

// Built-in theme names.
inline const QString kCPTPlainWhiteTheme = QStringLiteral("Plain White");
inline const QString kCPTDarkGradientTheme = QStringLiteral("Dark Gradient");

class CPTTheme {
public:
    struct Look {
        std::shared_ptr<CPTFill> graphFill;
        std::shared_ptr<CPTFill> plotAreaFill;
        std::shared_ptr<CPTLineStyle> plotAreaBorderLineStyle; // none: no border
        double plotAreaCornerRadius = 0.0;
        std::shared_ptr<CPTLineStyle> axisLineStyle; // none: hidden axes
        CPTColor textColor = CPTColor::blackColor();
        double textSize = 12.0;
        double paddingLeft = 20.0;
        double paddingTop = 20.0;
        double paddingRight = 20.0;
        double paddingBottom = 20.0;
    };

    CPTTheme(QString name, Look look);

    // A theme for one of the built-in names; none for any other name.
    static std::shared_ptr<CPTTheme> themeNamed(const QString& name);

    QString name() const { return name_; }
    const Look& look() const { return look_; }

    // The graph gets its own copies, so changing them later leaves the theme alone.
    void applyThemeToGraph(CPTGraph& graph) const;

private:
    QString name_;
    Look look_;
};
