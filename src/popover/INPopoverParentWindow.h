#pragma once

#include <QWidget>

#include <vector>

// A window that hosts a popover: it keeps looking key while its popover child has the
// keyboard focus, as long as the application is active.
class INPopoverParentWindow : public QWidget {
    Q_OBJECT

public:
    explicit INPopoverParentWindow(QWidget* parent = nullptr, Qt::WindowFlags flags = {});

    // Key when the window system says so, or while a popover child is shown and the
    // application is active.
    bool isKeyWindow() const;
    // The window system's own answer, whatever the children do.
    bool isReallyKeyWindow() const;

    // Top-level windows kept above this one, in the order Qt lists top-level widgets.
    std::vector<QWidget*> childWindows() const;
};
