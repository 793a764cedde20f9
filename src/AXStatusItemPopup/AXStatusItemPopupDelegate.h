#pragma once

// Told by the status item popup when its popover has opened and before it closes.
// Both are optional: the defaults do nothing.
class AXStatusItemPopupDelegate {
public:
    virtual ~AXStatusItemPopupDelegate() = default;
    virtual void popoverDidShow() {}
    virtual void popoverWillClose() {}
};

// What the content of a popover may ask of the status item popup that shows it.
class AXStatusItemPopupControl {
public:
    virtual ~AXStatusItemPopupControl() = default;
    virtual void hidePopover() = 0;
    // True while the popover is open.
    virtual bool isActive() const = 0;
};
