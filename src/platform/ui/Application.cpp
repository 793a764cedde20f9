#include "platform/ui/Application.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The self-pipe: the handler only writes the signal's number; the event loop reads it. Both
// ends stay open until the process ends, so a late signal never writes to a reused descriptor.
int signalPipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int signalNumber) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    // Non-blocking: should the pipe ever fill, the signals already in it suffice.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

Application::Application() : QObject(QCoreApplication::instance()) {
    // Every way out of the event loop passes here, not only terminate().
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
        terminating_ = true;
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
    terminating_ = true;
    emit terminateRequested();
    QCoreApplication::quit();
}

void Application::terminateOnSignals() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            qWarning("No pipe for termination signals: they end the process unhandled");
            return;
        }
        struct sigaction action {};
        action.sa_handler = onTerminationSignal;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        for (const int signalNumber : kTerminationSignals) {
            sigaddset(&action.sa_mask, signalNumber);
        }
        for (const int signalNumber : kTerminationSignals) {
            ::sigaction(signalNumber, &action, nullptr);
        }
        sharedApplication()->watchSignals();
    });
}

void Application::watchSignals() {
    signalNotifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(signalNotifier_, &QSocketNotifier::activated, this, &Application::readSignals);
}

void Application::readSignals() {
    unsigned char received[64];
    for (;;) {
        const ssize_t n = ::read(signalPipe[0], received, sizeof received);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        if (terminating_) {
            continue; // already on the way out: a second signal changes nothing
        }
        emit terminationSignalReceived(received[0]);
        terminate(nullptr);
    }
}
