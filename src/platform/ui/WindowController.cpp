#include "WindowController.h"

#include "InterfaceRegistry.h"

WindowController::WindowController(QString windowNibName, QObject* parent)
    : QObject(parent), windowNibName_(std::move(windowNibName)) {}

WindowController::~WindowController() {
    delete window_.data();
}

QWidget* WindowController::window() {
    if (window_) {
        return window_;
    }
    auto builder = InterfaceRegistry::find(windowNibName_);
    if (!builder) {
        return nullptr;
    }
    auto* root = new QWidget(nullptr, Qt::Window);
    builder(root);
    window_ = root;
    windowDidLoad();
    return window_;
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
