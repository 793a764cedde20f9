#pragma once
// Font and colour of drawn text. Font names follow the "Family-Bold" / "Family-Italic" form.

#include "chart/framework/CPTColor.h"

#include <QFont>
#include <QString>
#include <memory>

class CPTMutableTextStyle {
public:
    // 12-point black "Helvetica".
    static std::shared_ptr<CPTMutableTextStyle> textStyle();

    CPTColor color() const { return color_; }
    void setColor(const CPTColor& color) { color_ = color; }
    QString fontName() const { return fontName_; }
    void setFontName(const QString& name) { fontName_ = name; }
    double fontSize() const { return fontSize_; }
    void setFontSize(double size) { fontSize_ = size; }

    // The toolkit font; one point is one device-independent pixel.
    QFont font() const;

private:
    CPTColor color_ = CPTColor::blackColor();
    QString fontName_ = QStringLiteral("Helvetica");
    double fontSize_ = 12.0;
};
