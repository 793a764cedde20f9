#include "popover/INPopoverParentWindow.h"

#include "popover/INApplicationState.h"
#include "popover/INPopoverWindow.h"

#include <QApplication>
#include <QWindow>

INPopoverParentWindow::INPopoverParentWindow(QWidget* parent, Qt::WindowFlags flags)
    : QWidget(parent, flags | Qt::Window) {}

bool INPopoverParentWindow::isReallyKeyWindow() const {
    return isActiveWindow();
}

bool INPopoverParentWindow::isKeyWindow() const {
    if (isReallyKeyWindow()) {
        return true;
    }
    for (QWidget* child : childWindows()) {
        if (qobject_cast<INPopoverWindow*>(child)) {
            return INApplicationState::shared()->isActive();
        }
    }
    return false;
}

std::vector<QWidget*> INPopoverParentWindow::childWindows() const {
    std::vector<QWidget*> children;
    const QWindow* handle = windowHandle();
    if (!handle) {
        return children;
    }
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w != this && w->windowHandle() && w->windowHandle()->transientParent() == handle) {
            children.push_back(w);
        }
    }
    return children;
}
