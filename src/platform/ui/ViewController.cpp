#include "platform/ui/ViewController.h"

ViewController::ViewController(QString nibName, QObject* parent)
    : QObject(parent), nibName_(std::move(nibName)) {}

ViewController::~ViewController() = default;

QWidget* ViewController::view() {
    if (!view_) {
        view_ = loadView();
        if (view_) {
            viewDidLoad();
        }
    }
    return view_.get();
}
