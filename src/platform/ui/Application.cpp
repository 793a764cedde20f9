#include "Application.h"

#include <QCoreApplication>

Application::Application() : QObject(QCoreApplication::instance()) {
    // Every way out of the event loop passes here, not only terminate().
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
        if (delegate_ != nullptr) {
            delegate_->applicationWillTerminate();
        }
    });
}

Application* Application::sharedApplication() {
    static Application* shared = new Application; // owned by the QCoreApplication
    return shared;
}

void Application::terminate(QObject* /*sender*/) {
    emit terminateRequested();
    QCoreApplication::quit();
}
