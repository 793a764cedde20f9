#pragma once
// Shows the memory panel in an ordinary desktop window, for desktops without a tray.

#include "AXStatusItemPopup/AXStatusItemPopupDelegate.h"

#include <QWidget>

#include <memory>

class MCContentViewController;

class MCPanelWindow : public QWidget, public AXStatusItemPopupControl {
    Q_OBJECT
public:
    // Keeps the panel, whose view fills the window.
    explicit MCPanelWindow(std::unique_ptr<MCContentViewController> panel);
    ~MCPanelWindow() override;

    // Shows the window and tells the panel, as a popover would.
    void showPanel();
    void hidePopover() override;
    bool isActive() const override { return isVisible(); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // The window's background follows the desktop's light or dark palette.
    void applyAppearance();

    // The panel's view is a child of this window until the panel, and with it the view, goes.
    std::unique_ptr<MCContentViewController> panel_;
};
