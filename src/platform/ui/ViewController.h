#pragma once
// A controller that owns one view, built from its interface resource on first use.

#include <QObject>
#include <QString>
#include <QWidget>

#include <memory>

class ViewController : public QObject {
    Q_OBJECT
public:
    explicit ViewController(QString nibName, QObject* parent = nullptr);
    ~ViewController() override;

    const QString& nibName() const { return nibName_; }

    // The view, built on first use. The controller owns it: whoever shows it (a popover, a
    // window) lends it a place and gives it back before going.
    QWidget* view();
    bool isViewLoaded() const { return view_ != nullptr; }

signals:
    // The view wants another size (a section opened or closed); whoever shows it follows.
    void preferredContentSizeChanged(QSize size);

protected:
    // Builds the view; called once, by the first view().
    virtual std::unique_ptr<QWidget> loadView() = 0;
    // Called once, right after the view was built: connect actions here.
    virtual void viewDidLoad() {}

private:
    QString nibName_;
    std::unique_ptr<QWidget> view_;
};
