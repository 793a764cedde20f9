#pragma once

#include <QWidget>

#include <memory>

// Supplies the popover's content: a view created on first request and kept by its controller.
class INViewController {
public:
    virtual ~INViewController() = default;
    // Loads the view when needed; may be null when there is none.
    virtual QWidget* view() = 0;
};

// A view controller around a ready-made widget, which it owns.
class INWidgetViewController : public INViewController {
public:
    explicit INWidgetViewController(std::unique_ptr<QWidget> view) : view_(std::move(view)) {}

    QWidget* view() override { return view_.get(); }

private:
    // The popover window only lends the view a place: it lets go of it before it goes.
    std::unique_ptr<QWidget> view_;
};
