#include "ViewController.h"

#include "InterfaceRegistry.h"

ViewController::ViewController(QString nibName, QObject* parent)
    : QObject(parent), nibName_(std::move(nibName)) {}

ViewController::~ViewController() {
    // The view is a top-level widget until someone reparents it; then its new parent owns it.
    if (view_ && view_->parent() == nullptr) {
        delete view_.data();
    }
}

QWidget* ViewController::view() {
    if (view_) {
        return view_;
    }
    auto builder = InterfaceRegistry::find(nibName_);
    if (!builder) {
        return nullptr;
    }
    auto* root = new QWidget;
    builder(root);
    view_ = root;
    viewDidLoad();
    return view_;
}
