#pragma once

#include "popover/INBezierPath.h"
#include "popover/INGeometry.h"
#include "popover/INPopoverTypes.h"

#include <vector>

// The popover's shape and placement as plain arithmetic, shared by the frame view, the
// window and the controller so that each number can be checked without a window system.

// The rounded body inset by the arrow height on every side, with the arrow centred on the
// edge named by `direction`; its tip touches the edge of `rect`. Runs counter-clockwise.
INBezierPath INPopoverOutlinePath(const INRect& rect, double cornerRadius, INSize arrowSize,
                                  INPopoverArrowDirection direction, double arrowOffset = 0.0);

// The rectangle the outline is built for: the bounds, moved half a point in when the border
// width truncates to an odd number so the stroke falls on whole pixels.
INRect INPopoverOutlineRect(const INRect& bounds, double borderWidth);

// True when the truncated border width is odd. Negative widths draw no stroke and count as 0.
bool INPopoverBorderWidthIsOdd(double borderWidth);

// The one-point highlight line under the top edge: one rectangle, or two around the arrow's
// base when the arrow is on the top edge.
std::vector<INRect> INPopoverTopHighlightRects(const INRect& bounds, double borderWidth,
                                               double cornerRadius, INSize arrowSize,
                                               INPopoverArrowDirection direction,
                                               double arrowOffset = 0.0);

// The content view's frame inside a window frame of that size; the frame's origin is ignored.
INRect INPopoverContentRectForFrameRect(const INRect& frame, double arrowHeight);
// The content rectangle grown by the arrow height on every side, origin included.
INRect INPopoverFrameRectForContentRect(const INRect& content, double arrowHeight);

// The window frame for a content size, placed so the arrow's tip meets the middle of the
// anchor's facing edge. Directions outside 0 to 3 give the zero rectangle.
INRect INPopoverFrameForContentSize(INSize contentSize, INPopoverArrowDirection direction,
                                    const INRect& anchor, double arrowHeight);

// The preferred direction if its frame fits on the screen, else the opposite one, else the
// side with more room above or below; failing all three, the preferred direction.
INPopoverArrowDirection INPopoverChooseArrowDirection(INPopoverArrowDirection preferred,
                                                      const INRect& screenFrame,
                                                      const INRect& anchor, INSize contentSize,
                                                      double arrowHeight);

// A popover frame slid along the edge that carries its arrow so that its body stays on the screen,
// and how far the arrow must then move from the middle of that edge to keep pointing at the
// anchor. A frame that fits, or a direction without an edge, comes back unchanged.
struct INPopoverPlacement {
    INRect frame;
    double arrowOffset = 0.0;
};
INPopoverPlacement INPopoverKeepOnScreen(const INRect& frame, INPopoverArrowDirection direction,
                                         const INRect& screen, double cornerRadius,
                                         INSize arrowSize);

// The direction chosen above when its frame fits. Where it would not (a tray icon in a screen
// corner, or on a panel along the left or right edge), the candidates are judged again with the
// frame as it will finally stand, slid along its arrow's edge: the preferred direction, its
// opposite, then the two across, the one with more room first. None fitting even so keeps the
// choice above.
INPopoverArrowDirection INPopoverChooseArrowDirectionToPlace(INPopoverArrowDirection preferred,
                                                             const INRect& screenFrame,
                                                             const INRect& anchor,
                                                             INSize contentSize,
                                                             double cornerRadius, INSize arrowSize);

// True when the frame for `direction`, once slid along its arrow's edge, keeps its body on the
// screen and its arrow side entirely on it.
bool INPopoverFitsWhenPlaced(INPopoverArrowDirection direction, const INRect& screenFrame,
                             const INRect& anchor, INSize contentSize, double cornerRadius,
                             INSize arrowSize);
