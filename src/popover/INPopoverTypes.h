#pragma once

#include <cstdint>

// The way the arrow points; the popover lies on the opposite side of its anchor.
// Any other value draws no arrow.
using INPopoverArrowDirection = std::uint64_t;
inline constexpr INPopoverArrowDirection INPopoverArrowDirectionRight = 0;
inline constexpr INPopoverArrowDirection INPopoverArrowDirectionDown = 1;
inline constexpr INPopoverArrowDirection INPopoverArrowDirectionLeft = 2;
inline constexpr INPopoverArrowDirection INPopoverArrowDirectionUp = 3;

// How the popover opens and closes when animating.
using INPopoverAnimationType = std::int64_t;
inline constexpr INPopoverAnimationType INPopoverAnimationTypePop = 0;
inline constexpr INPopoverAnimationType INPopoverAnimationTypeFadeIn = 1;
inline constexpr INPopoverAnimationType INPopoverAnimationTypeFadeOut = 2;
inline constexpr INPopoverAnimationType INPopoverAnimationTypeFadeInOut = 3;
