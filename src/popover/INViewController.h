#pragma once

#include <QPointer>
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
    explicit INWidgetViewController(std::unique_ptr<QWidget> view) : view_(view.release()) {}
    ~INWidgetViewController() override { delete view_.data(); }
    INWidgetViewController(const INWidgetViewController&) = delete;
    INWidgetViewController& operator=(const INWidgetViewController&) = delete;

    QWidget* view() override { return view_; }

private:
    // Guarded: a widget still parented elsewhere may be deleted by that parent first.
    QPointer<QWidget> view_;
};
