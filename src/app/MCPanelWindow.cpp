#include "app/MCPanelWindow.h"

#include "app/MCContentViewController.h"
#include "platform/ui/Appearance.h"
#include "platform/ui/Application.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QVBoxLayout>

MCPanelWindow::MCPanelWindow(std::unique_ptr<MCContentViewController> panel)
    : panel_(std::move(panel)) {
    setWindowTitle(tr("Brimwell", "the title of the panel's window on desktops without a tray"));
    setAttribute(Qt::WA_QuitOnClose, true);
    setAutoFillBackground(true);
    applyAppearance();
    onApplicationPaletteChange(this, [this] { applyAppearance(); });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(panel_->view());
    panel_->setStatusItemPopup(this);
    // A section opened or closed: the window fits the panel again.
    connect(panel_.get(), &ViewController::preferredContentSizeChanged, this,
            [this] { adjustSize(); });
}

MCPanelWindow::~MCPanelWindow() = default;

void MCPanelWindow::applyAppearance() {
    QPalette p = QGuiApplication::palette();
    p.setColor(QPalette::Window, Appearance::current().windowBackground);
    setPalette(p);
}

void MCPanelWindow::showPanel() {
    show();
    raise();
    panel_->popoverDidShow();
}

void MCPanelWindow::hidePopover() {
    if (isVisible()) {
        panel_->popoverWillClose();
        hide();
    }
}

void MCPanelWindow::closeEvent(QCloseEvent* event) {
    panel_->popoverWillClose();
    event->accept();
    // Without a tray there is nothing left to reopen the panel from.
    Application::sharedApplication()->terminate(nullptr);
}
