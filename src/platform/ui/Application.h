#pragma once
// The application object: one per process, with a delegate that hears about launch and quit.

#include <QObject>

class QSocketNotifier;

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
    // True from the first request to end on.
    bool isTerminating() const { return terminating_; }

    // From now on SIGTERM, SIGINT and SIGHUP end the application the way terminate() does,
    // from the event loop; one that arrives before the loop runs is handled once it does, and
    // one that arrives while the application is already ending changes nothing. Needs the
    // QApplication; calling it again does nothing more.
    static void terminateOnSignals();

signals:
    void terminateRequested();
    // A termination signal arrived and the application is about to end because of it.
    void terminationSignalReceived(int signalNumber);

private:
    Application();
    void watchSignals();
    void readSignals();

    ApplicationDelegate* delegate_ = nullptr;
    QSocketNotifier* signalNotifier_ = nullptr;
    bool terminating_ = false;
};
