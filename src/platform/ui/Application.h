#pragma once
// The application object: one per process, with a delegate that hears about launch and quit.

#include <QObject>

class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual void applicationDidFinishLaunching() {}
    virtual void applicationWillTerminate() {}
};

class Application : public QObject {
    Q_OBJECT
public:
    // Created on first use; needs the QApplication to exist already.
    static Application* sharedApplication();

    // Not owned: the delegate lives as long as the application runs.
    void setDelegate(ApplicationDelegate* delegate) { delegate_ = delegate; }
    ApplicationDelegate* delegate() const { return delegate_; }

    // Asks the event loop to end; the delegate hears applicationWillTerminate on the way out.
    void terminate(QObject* sender = nullptr);

signals:
    void terminateRequested();

private:
    Application();
    ApplicationDelegate* delegate_ = nullptr;
};
