// brimwell: the tray application, or a command-line sample or clean.

#include "Application.h"
#include "DDLog.h"
#include "MCAppDelegate.h"
#include "MCCommandLine.h"
#include "MCContentViewController.h"
#include "MCMemoryController.h"
#include "MCSingleInstance.h"

#include <QApplication>
#include <QScreen>
#include <QTimer>

#include <iostream>
#include <unistd.h>

namespace {

constexpr int kScreenshotTimeoutMs = 20000;

void printFigures(MCMemoryController& memory) {
    MCCommandLine sample;
    sample.mode = MCCommandLine::Mode::Sample;
    runCommandLine(sample, memory, std::cout, std::cerr);
}

// Saves what the screen shows once the panel is up, prints the figures and quits.
void screenshotWhenShown(MCContentViewController* panel, const QString& path) {
    QObject::connect(panel, &MCContentViewController::popoverShown, panel, [panel, path] {
        // Let the opening animation finish and the chart paint.
        QTimer::singleShot(600, panel, [panel, path] {
            QScreen* screen = QGuiApplication::primaryScreen();
            if (screen == nullptr || !screen->grabWindow(0).save(path, "PNG")) {
                std::cerr << "brimwell: cannot write " << path.toStdString() << "\n";
                QApplication::exit(1);
                return;
            }
            std::cout << "screenshot: " << path.toStdString() << "\n";
            printFigures(*panel->memoryController());
            Application::sharedApplication()->terminate(nullptr);
        });
    });
}

int runApplication(int argc, char** argv, const MCCommandLine& command) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brimwell"));
    QApplication::setApplicationVersion(QStringLiteral(BRIMWELL_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("brimwell"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/brimwell.png")));
    const QString screenshot = QString::fromStdString(command.screenshotPath);

    MCSingleInstance instance;
    if (screenshot.isEmpty() && instance.claim() == MCSingleInstance::Role::AlreadyRunning) {
        std::cout << "Brimwell is already running: showing its panel.\n";
        return 0;
    }

    // Closing the About window must not end a tray application.
    QApplication::setQuitOnLastWindowClosed(false);
    MCAppDelegate delegate;
    Application::sharedApplication()->setDelegate(&delegate);
    instance.setShowHandler([&delegate] { delegate.showPanel(); });
    QTimer::singleShot(0, &app, [&delegate, screenshot] {
        delegate.applicationDidFinishLaunching();
        if (screenshot.isEmpty()) {
            return;
        }
        if (delegate.contentViewController() != nullptr) {
            screenshotWhenShown(delegate.contentViewController(), screenshot);
        }
        // A picture that cannot be taken must not leave a script waiting forever.
        QTimer::singleShot(kScreenshotTimeoutMs, qApp, [] {
            std::cerr << "brimwell: the panel did not open; no screenshot taken\n";
            QApplication::exit(1);
        });
    });
    return QApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    auto parsed = MCCommandLine::parse(args);
    if (auto* error = std::get_if<MCCommandLine::Error>(&parsed)) {
        std::cerr << "brimwell: " << error->message << "\n\n" << MCCommandLine::usage("brimwell");
        return 2;
    }
    const auto& command = std::get<MCCommandLine>(parsed);
    if (command.verbose) {
        appLogLevel = LogLevelVerbose;
    }
    if (command.mode == MCCommandLine::Mode::Panel) {
        return runApplication(argc, argv, command);
    }
    setupCommandLineLog();
    MCMemoryController memory;
    const int status =
        runCommandLine(command, memory, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
    DDLog::flushLog();
    return status;
}
