#pragma once
// A controller that owns one top-level window, built from its interface resource the first
// time it is needed.

#include <QObject>
#include <QString>
#include <QWidget>

#include <memory>

class WindowController : public QObject {
    Q_OBJECT
public:
    explicit WindowController(QString windowNibName, QObject* parent = nullptr);
    ~WindowController() override;

    const QString& windowNibName() const { return windowNibName_; }

    // The window, loaded on first use.
    QWidget* window();
    bool isWindowLoaded() const { return window_ != nullptr; }

    // Loads the window if needed, shows it and brings it to the front.
    void showWindow(QObject* sender = nullptr);

protected:
    // Builds the window; called once, by the first window().
    virtual std::unique_ptr<QWidget> loadWindow() = 0;
    // Called once, right after the window was loaded.
    virtual void windowDidLoad() {}

private:
    QString windowNibName_;
    std::unique_ptr<QWidget> window_;
};
