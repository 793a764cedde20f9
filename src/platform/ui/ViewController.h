#pragma once
// A controller that owns one view built from a named interface resource.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

class ViewController : public QObject {
    Q_OBJECT
public:
    explicit ViewController(QString nibName, QObject* parent = nullptr);
    ~ViewController() override;

    const QString& nibName() const { return nibName_; }

    // The view, built on first use. Null when no interface of that name exists.
    QWidget* view();
    bool isViewLoaded() const { return !view_.isNull(); }

protected:
    // Called once, right after the view was built: connect outlets and actions here.
    virtual void viewDidLoad() {}

    // The child of the view with the given object name (an outlet), or null.
    template <typename T>
    T* outlet(const char* name) {
        QWidget* root = view();
        return root ? root->findChild<T*>(QString::fromLatin1(name)) : nullptr;
    }

private:
    QString nibName_;
    QPointer<QWidget> view_;
};
