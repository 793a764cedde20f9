// brimwell: the tray application, or a command-line sample or clean.

#include "Application.h"
#include "DDLog.h"
#include "MCAppDelegate.h"
#include "MCCommandLine.h"
#include "MCContentViewController.h"
#include "MCMemoryController.h"
#include "MCPlatformChoice.h"
#include "MCSingleInstance.h"
#include "WindowSystem.h"

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

// Saves what the screen shows once the panel is up, prints the figures and quits. A panel in
// its own window is up before this is called.
void screenshotWhenShown(MCContentViewController* panel, const QString& path, bool shownAlready) {
    auto take = [panel, path] {
        // Let the opening animation finish and the chart paint.
        QTimer::singleShot(600, panel, [panel, path] {
            QScreen* screen = QGuiApplication::primaryScreen();
            QPixmap picture = screen != nullptr ? screen->grabWindow(0) : QPixmap();
            if (picture.isNull() || WindowSystem::isXWayland()) {
                // Wayland shows no application the screen (XWayland's is black): the panel's
                // own window, then.
                picture = panel->view()->window()->grab();
            }
            if (!picture.save(path, "PNG")) {
                std::cerr << "brimwell: cannot write " << path.toStdString() << "\n";
                QApplication::exit(1);
                return;
            }
            std::cout << "screenshot: " << path.toStdString() << "\n";
            printFigures(*panel->memoryController());
            Application::sharedApplication()->terminate(nullptr);
        });
    };
    if (shownAlready) {
        take();
    } else {
        QObject::connect(panel, &MCContentViewController::popoverShown, panel, take);
    }
}

int runApplication(int argc, char** argv, const MCCommandLine& command) {
    QApplication app(argc, argv);
    MCPlatformChoice::releaseEnvironment();
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
            screenshotWhenShown(delegate.contentViewController(), screenshot,
                                delegate.panelWindow() != nullptr);
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
    const bool platformOnCommandLine = MCPlatformChoice::takePlatformOption(args);
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
        MCPlatformChoice::apply(platformOnCommandLine);
        return runApplication(argc, argv, command);
    }
    setupCommandLineLog();
    MCMemoryController memory;
    const int status =
        runCommandLine(command, memory, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
    DDLog::flushLog();
    return status;
}
