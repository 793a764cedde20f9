#include "chart/framework/CPTTheme.h"

#include "chart/framework/CPTGraph.h"
#include "chart/framework/CPTMutableTextStyle.h"

namespace {
template <typename T>
std::shared_ptr<T> copyOf(const std::shared_ptr<T>& value) {
    return value ? std::make_shared<T>(*value) : nullptr;
}

std::shared_ptr<CPTLineStyle> line(const CPTColor& colour, double width) {
    auto style = CPTLineStyle::lineStyle();
    style->setLineColor(colour);
    style->setLineWidth(width);
    return style;
}

CPTTheme::Look plainWhite() {
    CPTTheme::Look look;
    look.graphFill = CPTFill::fillWithColor(CPTColor::whiteColor());
    look.plotAreaFill = CPTFill::fillWithColor(CPTColor::whiteColor());
    look.plotAreaBorderLineStyle = line(CPTColor::blackColor(), 1.0);
    look.axisLineStyle = line(CPTColor::blackColor(), 1.0);
    look.textColor = CPTColor::colorWithComponentRed(0.15, 0.15, 0.15, 1.0);
    return look;
}

CPTTheme::Look darkGradient() {
    CPTTheme::Look look;
    look.graphFill = CPTFill::fillWithGradient(CPTColor::colorWithComponentRed(0.3, 0.3, 0.3, 1.0),
                                               CPTColor::colorWithComponentRed(0.1, 0.1, 0.1, 1.0));
    look.plotAreaFill =
        CPTFill::fillWithGradient(CPTColor::colorWithComponentRed(0.2, 0.2, 0.22, 1.0),
                                  CPTColor::colorWithComponentRed(0.05, 0.05, 0.07, 1.0));
    look.plotAreaBorderLineStyle = line(CPTColor::lightGrayColor(), 1.0);
    look.plotAreaCornerRadius = 8.0;
    look.axisLineStyle = line(CPTColor::whiteColor(), 1.0);
    look.textColor = CPTColor::colorWithComponentRed(0.95, 0.95, 0.95, 1.0);
    return look;
}
} // namespace

CPTTheme::CPTTheme(QString name, Look look) : name_(std::move(name)), look_(std::move(look)) {}

std::shared_ptr<CPTTheme> CPTTheme::themeNamed(const QString& name) {
    if (name == kCPTPlainWhiteTheme) {
        return std::make_shared<CPTTheme>(name, plainWhite());
    }
    if (name == kCPTDarkGradientTheme) {
        return std::make_shared<CPTTheme>(name, darkGradient());
    }
    return nullptr;
}

void CPTTheme::applyThemeToGraph(CPTGraph& graph) const {
    graph.setFill(copyOf(look_.graphFill));
    graph.plotAreaFrame()->setFill(copyOf(look_.plotAreaFill));
    graph.plotAreaFrame()->setBorderLineStyle(copyOf(look_.plotAreaBorderLineStyle));
    graph.plotAreaFrame()->setCornerRadius(look_.plotAreaCornerRadius);
    if (auto axes = graph.axisSet()) {
        axes->setAxisLineStyle(copyOf(look_.axisLineStyle));
    }
    auto text = CPTMutableTextStyle::textStyle();
    text->setColor(look_.textColor);
    text->setFontSize(look_.textSize);
    graph.setDefaultTextStyle(text);
    graph.setPaddingLeft(look_.paddingLeft);
    graph.setPaddingTop(look_.paddingTop);
    graph.setPaddingRight(look_.paddingRight);
    graph.setPaddingBottom(look_.paddingBottom);
}
