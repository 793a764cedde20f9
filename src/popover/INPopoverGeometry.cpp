#include "popover/INPopoverGeometry.h"

#include <algorithm>

#include <cmath>

namespace {

// 0 <-> 2, 1 <-> 3; anything else has no opposite and turns into 0.
INPopoverArrowDirection oppositeDirection(INPopoverArrowDirection d) {
    switch (d) {
    case INPopoverArrowDirectionRight:
        return INPopoverArrowDirectionLeft;
    case INPopoverArrowDirectionDown:
        return INPopoverArrowDirectionUp;
    case INPopoverArrowDirectionLeft:
        return INPopoverArrowDirectionRight;
    case INPopoverArrowDirectionUp:
        return INPopoverArrowDirectionDown;
    default:
        return INPopoverArrowDirectionRight;
    }
}

bool isVertical(INPopoverArrowDirection d) {
    return d == INPopoverArrowDirectionUp || d == INPopoverArrowDirectionDown;
}

} // namespace

INBezierPath INPopoverOutlinePath(const INRect& rect, double cornerRadius, INSize arrowSize,
                                  INPopoverArrowDirection direction, double arrowOffset) {
    const double r = cornerRadius;
    const double aw = arrowSize.width;
    const double ah = arrowSize.height;
    const INRect inner = INInsetRect(rect, ah + r, ah + r);
    const double minX = inner.minX();
    const double minY = inner.minY();
    const double maxX = inner.maxX();
    const double maxY = inner.maxY();
    // The arrow sits at the middle of its edge unless the popover had to slide along it.
    const double midX = inner.midX() + arrowOffset;
    const double midY = inner.midY() + arrowOffset;

    INBezierPath path;
    path.setLineJoinStyle(INBezierPath::LineJoin::Round);
    path.appendArc({minX, minY}, r, 180.0, 270.0);
    if (direction == INPopoverArrowDirectionDown) {
        path.appendPoints({{std::floor(midX - aw * 0.5), minY - r},
                           {std::floor(midX), minY - r - ah},
                           {std::floor(midX + aw * 0.5), minY - r}});
    }
    path.appendArc({maxX, minY}, r, 270.0, 360.0);
    if (direction == INPopoverArrowDirectionRight) {
        path.appendPoints({{maxX + r, std::floor(midY - aw * 0.5)},
                           {maxX + r + ah, std::floor(midY)},
                           {maxX + r, std::floor(midY + aw * 0.5)}});
    }
    path.appendArc({maxX, maxY}, r, 0.0, 90.0);
    if (direction == INPopoverArrowDirectionUp) {
        path.appendPoints({{std::floor(midX + aw * 0.5), maxY + r},
                           {std::floor(midX), maxY + r + ah},
                           {std::floor(midX - aw * 0.5), maxY + r}});
    }
    path.appendArc({minX, maxY}, r, 90.0, 180.0);
    if (direction == INPopoverArrowDirectionLeft) {
        path.appendPoints({{minX - r, std::floor(midY + aw * 0.5)},
                           {minX - r - ah, std::floor(midY)},
                           {minX - r, std::floor(midY - aw * 0.5)}});
    }
    path.closePath();
    return path;
}

bool INPopoverBorderWidthIsOdd(double borderWidth) {
    // Truncating a negative or non-finite width to an unsigned integer is undefined; such
    // widths stroke nothing, so they count as 0.
    if (!std::isfinite(borderWidth) || borderWidth < 1.0) {
        return false;
    }
    return std::fmod(std::trunc(borderWidth), 2.0) == 1.0;
}

INRect INPopoverOutlineRect(const INRect& bounds, double borderWidth) {
    return INPopoverBorderWidthIsOdd(borderWidth) ? INInsetRect(bounds, 0.5, 0.5) : bounds;
}

std::vector<INRect> INPopoverTopHighlightRects(const INRect& bounds, double borderWidth,
                                               double cornerRadius, INSize arrowSize,
                                               INPopoverArrowDirection direction,
                                               double arrowOffset) {
    const double ah = arrowSize.height;
    const double aw = arrowSize.width;
    const INRect h = INInsetRect(bounds, ah, ah);
    const double x0 = std::floor(h.x() + cornerRadius * 0.5);
    const double y0 = (h.y() + h.height()) - borderWidth - 1.0;
    const double w0 = h.width() - cornerRadius;
    if (direction == INPopoverArrowDirectionUp) {
        const double s = std::floor(w0 * 0.5 + arrowOffset - aw * 0.5);
        const double t = std::floor(w0 * 0.5 - arrowOffset - aw * 0.5);
        return {INRect(x0, y0, s, 1.0),
                INRect(std::floor(w0 * 0.5 + arrowOffset + x0 + aw * 0.5), y0, t, 1.0)};
    }
    return {INRect(x0, y0, w0, 1.0)};
}

INRect INPopoverContentRectForFrameRect(const INRect& frame, double arrowHeight) {
    return INInsetRect(INRect(0.0, 0.0, frame.width(), frame.height()), arrowHeight, arrowHeight);
}

INRect INPopoverFrameRectForContentRect(const INRect& content, double arrowHeight) {
    return INInsetRect(content, -arrowHeight, -arrowHeight);
}

INRect INPopoverFrameForContentSize(INSize contentSize, INPopoverArrowDirection direction,
                                    const INRect& anchor, double arrowHeight) {
    const INRect frame =
        INPopoverFrameRectForContentRect(INRect({0.0, 0.0}, contentSize), arrowHeight);
    const double fw = frame.width();
    const double fh = frame.height();
    const double midX = anchor.midX();
    const double midY = anchor.midY();
    switch (direction) {
    case INPopoverArrowDirectionRight:
        return {anchor.x() - fw, midY - std::floor(fh * 0.5), fw, fh};
    case INPopoverArrowDirectionDown:
        return {midX - std::floor(fw * 0.5), anchor.y() + anchor.height(), fw, fh};
    case INPopoverArrowDirectionLeft:
        return {anchor.x() + anchor.width(), midY - std::floor(fh * 0.5), fw, fh};
    case INPopoverArrowDirectionUp:
        return {midX - std::floor(fw * 0.5), anchor.y() - fh, fw, fh};
    default:
        return {};
    }
}

INPopoverArrowDirection INPopoverChooseArrowDirection(INPopoverArrowDirection preferred,
                                                      const INRect& screenFrame,
                                                      const INRect& anchor, INSize contentSize,
                                                      double arrowHeight) {
    auto fits = [&](INPopoverArrowDirection d) {
        return INContainsRect(screenFrame,
                              INPopoverFrameForContentSize(contentSize, d, anchor, arrowHeight));
    };
    if (fits(preferred)) {
        return preferred;
    }
    const INPopoverArrowDirection opposite = oppositeDirection(preferred);
    if (fits(opposite)) {
        return opposite;
    }
    INPopoverArrowDirection third = opposite;
    if (preferred <= INPopoverArrowDirectionUp) {
        // Measured from the screen's own edges so a screen beside or above the primary one
        // compares the real room; on the primary screen this is the anchor's y against the
        // screen height less the anchor's top.
        const double roomBelow = anchor.minY() - screenFrame.minY();
        const double roomAbove = screenFrame.maxY() - anchor.maxY();
        third = roomBelow > roomAbove ? INPopoverArrowDirectionUp : INPopoverArrowDirectionDown;
    }
    if (fits(third)) {
        return third;
    }
    return preferred;
}

INPopoverPlacement INPopoverKeepOnScreen(const INRect& frame, INPopoverArrowDirection direction,
                                         const INRect& screen, double /*cornerRadius*/,
                                         INSize arrowSize) {
    INPopoverPlacement placed{frame, 0.0};
    const bool horizontal =
        direction == INPopoverArrowDirectionUp || direction == INPopoverArrowDirectionDown;
    const bool vertical =
        direction == INPopoverArrowDirectionLeft || direction == INPopoverArrowDirectionRight;
    if ((!horizontal && !vertical) || screen.isEmpty()) {
        return placed;
    }
    // How far the arrow may leave the middle: its base may run into the body's rounded corner
    // (an icon in the screen's very corner needs that), never past the body's side.
    const double length = horizontal ? frame.width() : frame.height();
    const double room = std::max(0.0, length * 0.5 - arrowSize.height - arrowSize.width * 0.5);
    // The frame's outer band, as deep as the arrow is long, is see-through: the body is what
    // must stay on the screen.
    const double start = horizontal ? frame.minX() : frame.minY();
    const double low = (horizontal ? screen.minX() : screen.minY()) - arrowSize.height;
    const double high = (horizontal ? screen.maxX() : screen.maxY()) + arrowSize.height;
    double shift = 0.0;
    if (start + length > high) {
        shift = high - (start + length);
    }
    if (start + shift < low) {
        shift = low - start;
    }
    shift = std::clamp(shift, -room, room);
    if (horizontal) {
        placed.frame.origin.x += shift;
    } else {
        placed.frame.origin.y += shift;
    }
    placed.arrowOffset = -shift;
    return placed;
}

bool INPopoverFitsWhenPlaced(INPopoverArrowDirection direction, const INRect& screenFrame,
                             const INRect& anchor, INSize contentSize, double cornerRadius,
                             INSize arrowSize) {
    if (direction > INPopoverArrowDirectionUp || screenFrame.isEmpty()) {
        return false;
    }
    const double ah = arrowSize.height;
    const INPopoverPlacement placed =
        INPopoverKeepOnScreen(INPopoverFrameForContentSize(contentSize, direction, anchor, ah),
                              direction, screenFrame, cornerRadius, arrowSize);
    // Along the arrow's edge the see-through band may leave the screen; across it, nothing may.
    const INRect allowed = isVertical(direction) ? INInsetRect(screenFrame, -ah, 0.0)
                                                 : INInsetRect(screenFrame, 0.0, -ah);
    return INContainsRect(allowed, placed.frame);
}

INPopoverArrowDirection
INPopoverChooseArrowDirectionToPlace(INPopoverArrowDirection preferred, const INRect& screenFrame,
                                     const INRect& anchor, INSize contentSize, double cornerRadius,
                                     INSize arrowSize) {
    const double ah = arrowSize.height;
    const INPopoverArrowDirection chosen =
        INPopoverChooseArrowDirection(preferred, screenFrame, anchor, contentSize, ah);
    if (preferred > INPopoverArrowDirectionUp ||
        INContainsRect(screenFrame,
                       INPopoverFrameForContentSize(contentSize, chosen, anchor, ah))) {
        return chosen;
    }
    // The two directions across the preferred one, the side with more room first.
    INPopoverArrowDirection across[2];
    if (isVertical(preferred)) {
        const bool moreRight =
            screenFrame.maxX() - anchor.maxX() >= anchor.minX() - screenFrame.minX();
        across[0] = moreRight ? INPopoverArrowDirectionLeft : INPopoverArrowDirectionRight;
    } else {
        const bool moreBelow =
            anchor.minY() - screenFrame.minY() > screenFrame.maxY() - anchor.maxY();
        across[0] = moreBelow ? INPopoverArrowDirectionUp : INPopoverArrowDirectionDown;
    }
    across[1] = oppositeDirection(across[0]);
    // A direction across that fits without sliding beats one that must slide.
    for (INPopoverArrowDirection d : across) {
        if (INContainsRect(screenFrame, INPopoverFrameForContentSize(contentSize, d, anchor, ah))) {
            return d;
        }
    }
    for (INPopoverArrowDirection d :
         {preferred, oppositeDirection(preferred), across[0], across[1]}) {
        if (INPopoverFitsWhenPlaced(d, screenFrame, anchor, contentSize, cornerRadius, arrowSize)) {
            return d;
        }
    }
    return chosen;
}
