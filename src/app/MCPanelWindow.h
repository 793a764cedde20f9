#pragma once
// Shows the memory panel in an ordinary desktop window, for desktops without a tray.

#include "AXStatusItemPopupDelegate.h"

#include <QWidget>

class MCContentViewController;

class MCPanelWindow : public QWidget, public AXStatusItemPopupControl {
    Q_OBJECT
public:
    // Not owned: the controller outlives the window.
    explicit MCPanelWindow(MCContentViewController* panel);

    // Shows the window and tells the panel, as a popover would.
    void showPanel();
    void hidePopover() override;
    bool active() const override { return isVisible(); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // The window's background follows the desktop's light or dark palette.
    void applyAppearance();

    MCContentViewController* panel_;
};
