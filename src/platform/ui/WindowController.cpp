#include "platform/ui/WindowController.h"

WindowController::WindowController(QString windowNibName, QObject* parent)
    : QObject(parent), windowNibName_(std::move(windowNibName)) {}

WindowController::~WindowController() = default;

QWidget* WindowController::window() {
    if (!window_) {
        window_ = loadWindow();
        if (window_) {
            windowDidLoad();
        }
    }
    return window_.get();
}

void WindowController::showWindow(QObject* /*sender*/) {
    QWidget* w = window();
    if (w == nullptr) {
        return;
    }
    w->show();
    w->raise();
    w->activateWindow();
}
