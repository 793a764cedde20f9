#pragma once
// A controller that owns one top-level window built from a named interface resource,
// loaded the first time it is needed.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

class WindowController : public QObject {
    Q_OBJECT
public:
    explicit WindowController(QString windowNibName, QObject* parent = nullptr);
    ~WindowController() override;

    const QString& windowNibName() const { return windowNibName_; }

    // The window, loaded on first use. Null when no interface of that name exists.
    QWidget* window();
    bool isWindowLoaded() const { return !window_.isNull(); }

    // Loads the window if needed, shows it and brings it to the front.
    void showWindow(QObject* sender = nullptr);

protected:
    // Called once, right after the window was loaded.
    virtual void windowDidLoad() {}

    template <typename T>
    T* outlet(const char* name) {
        QWidget* root = window();
        return root ? root->findChild<T*>(QString::fromLatin1(name)) : nullptr;
    }

private:
    QString windowNibName_;
    QPointer<QWidget> window_;
};
