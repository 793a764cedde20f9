// brimwell: the tray application, or a command-line sample or clean.

#include "app/MCAppDelegate.h"
#include "app/MCCommandLine.h"
#include "app/MCContentViewController.h"
#include "app/MCLocalizedText.h"
#include "app/MCPlatformChoice.h"
#include "app/MCSingleInstance.h"
#include "logging/DDLog.h"
#include "memory/MCMemoryController.h"
#include "platform/core/number_locale.h"
#include "platform/core/session_bus.h"
#include "platform/ui/Application.h"
#include "platform/ui/WindowSystem.h"

#include <QApplication>
#include <QScreen>
#include <QTimer>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <streambuf>
#include <unistd.h>

namespace {

constexpr int kScreenshotTimeoutMs = 20000;
// An X server gets as long to answer as a running copy does.
constexpr std::chrono::milliseconds kDisplayTimeout{3000};

void printFigures(MCMemoryController& memory) {
    MCCommandLine sample;
    sample.mode = MCCommandLine::Mode::Sample;
    sample.numbers.decimalPoint = platform::environmentNumberSymbols().decimalPoint;
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

int runApplication(char* program, const MCCommandLine& command) {
    // Before Qt starts: it connects to the session bus from this thread during its own start-up
    // (accessibility, the tray, the first D-Bus call) and would wait without end for a bus that
    // accepts and then stays silent. A bus that fails a bounded handshake is hidden from it.
    const platform::BusProbe& bus = platform::SessionBus::status();
    platform::SessionBus::exposeOnlyWhatAnswered();

    // Qt gets its own options only: a file name given to --screenshot is never read as one.
    std::vector<char*> qtArgv{program};
    for (const std::string& arg : command.qtArguments) {
        qtArgv.push_back(const_cast<char*>(arg.c_str()));
    }
    qtArgv.push_back(nullptr);
    int qtArgc = static_cast<int>(qtArgv.size()) - 1;
    QApplication app(qtArgc, qtArgv.data());
    // The user's language (LANGUAGE, LC_ALL, LC_MESSAGES, LANG) before any window is built.
    const MCTranslations translations;
    MCPlatformChoice::releaseEnvironment();
    QApplication::setApplicationName(QStringLiteral("Brimwell"));
    QApplication::setApplicationVersion(QStringLiteral(BRIMWELL_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("brimwell"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/brimwell.png")));
    const QString screenshot = QString::fromStdString(command.screenshotPath);

    // Logged once the loggers exist, at launch.
    std::vector<std::string> warnings;
    if (!bus.usable) {
        warnings.push_back("No usable session bus (" + bus.problem +
                           "): running without it, so without desktop notifications");
    }
    MCSingleInstance instance;
    if (screenshot.isEmpty()) {
        switch (instance.claim()) {
        case MCSingleInstance::Role::AlreadyRunning:
            std::cout << "Brimwell is already running: showing its panel.\n";
            return 0;
        case MCSingleInstance::Role::NotResponding:
            std::cerr << "brimwell: " << instance.problem() << "\n";
            return 1;
        case MCSingleInstance::Role::First:
            break;
        }
        warnings.insert(warnings.end(), instance.warnings().begin(), instance.warnings().end());
    }

    // Closing the About window must not end a tray application.
    QApplication::setQuitOnLastWindowClosed(false);
    MCAppDelegate delegate;
    Application::sharedApplication()->setDelegate(&delegate);
    // TERM, INT and HUP (logout, Ctrl+C, a closed terminal) end the app as Quit does.
    Application::terminateOnSignals();
    QObject::connect(Application::sharedApplication(), &Application::terminationSignalReceived,
                     [](int signalNumber) {
                         const char* name = sigabbrev_np(signalNumber);
                         DDLogInfo("Quitting on SIG%s", name != nullptr ? name : "?");
                     });
    instance.setShowHandler([&delegate] { delegate.showPanel(); });
    QTimer::singleShot(0, &app, [&delegate, screenshot, warnings] {
        delegate.applicationDidFinishLaunching();
        for (const std::string& warning : warnings) {
            DDLogWarn("%@", warning);
        }
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

// Qt aborts when its platform finds no display; say what to do instead.
bool desktopFound(const MCCommandLine& command) {
    std::string platforms = command.qtOptionValue("platform").value_or("");
    if (platforms.empty()) {
        const char* environment = std::getenv("QT_QPA_PLATFORM");
        platforms = environment != nullptr ? environment : "";
    }
    return MCPlatformChoice::desktopFound(platforms, command.qtOptionValue("display").value_or(""),
                                          kDisplayTimeout);
}

// Standard output of the command-line modes. It remembers why a write failed (a full disk, a
// closed pipe), which the C library's buffered stream forgets, so that no failure passes for
// success.
class StandardOutput final : public std::streambuf {
public:
    StandardOutput() { setp(buffer_.data(), buffer_.data() + buffer_.size()); }
    StandardOutput(const StandardOutput&) = delete;
    StandardOutput& operator=(const StandardOutput&) = delete;
    ~StandardOutput() override { sync(); }

    // The first write's errno that failed; 0 while none did.
    int error() const { return error_; }

protected:
    int_type overflow(int_type c) override {
        if (sync() != 0) {
            return traits_type::eof();
        }
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

    int sync() override {
        const char* next = pbase();
        while (next < pptr() && error_ == 0) {
            const ssize_t written =
                ::write(STDOUT_FILENO, next, static_cast<size_t>(pptr() - next));
            if (written > 0) {
                next += written;
            } else if (written < 0 && errno != EINTR) {
                error_ = errno;
            }
        }
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        return error_ == 0 ? 0 : -1;
    }

private:
    std::array<char, 4096> buffer_{};
    int error_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    auto parsed = MCCommandLine::parse(args);
    if (auto* error = std::get_if<MCCommandLine::Error>(&parsed)) {
        std::cerr << "brimwell: " << error->message << "\n\n" << MCCommandLine::usage("brimwell");
        return 2;
    }
    auto& command = std::get<MCCommandLine>(parsed);
    // Plain text follows the user's locale for numbers; its words stay English.
    command.numbers.decimalPoint = platform::environmentNumberSymbols().decimalPoint;
    if (command.verbose) {
        appLogLevel = LogLevelVerbose;
    }
    if (command.mode == MCCommandLine::Mode::Panel) {
        MCPlatformChoice::apply(command.qtOptionValue("platform").has_value());
        if (!desktopFound(command)) {
            std::cerr << "brimwell: no desktop found; try --sample or --clean\n";
            return 1;
        }
        return runApplication(argv[0], command);
    }
    setupCommandLineLog();
    MCMemoryController memory;
    StandardOutput output;
    std::ostream out(&output);
    const int status =
        runCommandLine(command, memory, out, std::cerr, ::isatty(STDERR_FILENO) == 1);
    DDLog::flushLog();
    out.flush();
    if (output.error() != 0) {
        std::cerr << "brimwell: cannot write to standard output: " << std::strerror(output.error())
                  << "\n";
        return 1;
    }
    return status;
}
