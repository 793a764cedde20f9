// Termination signals end the application through its event loop, as terminate() does. Each
// case runs in a forked child process of this test, which gets real signals from the test and
// reports on standard output what it saw.

#include "platform/ui/Application.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// ---- The child -----------------------------------------------------------------------------

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

class ReportingDelegate : public ApplicationDelegate {
public:
    bool signalAgainWhileEnding = false;
    void applicationWillTerminate() override {
        say("will-terminate");
        if (signalAgainWhileEnding) {
            // More signals while the application ends: from a user who presses Ctrl+C twice,
            // or a session manager that sends TERM and then HUP.
            std::raise(SIGTERM);
            std::raise(SIGINT);
            std::raise(SIGHUP);
            say("still-ending");
        }
    }
};

int runChild(const std::string& scenario) {
    int argc = 1;
    char name[] = "child";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    ReportingDelegate delegate;
    delegate.signalAgainWhileEnding = scenario == "again-while-ending";
    Application* application = Application::sharedApplication();
    application->setDelegate(&delegate);
    Application::terminateOnSignals();
    Application::terminateOnSignals(); // a second call changes nothing
    QObject::connect(application, &Application::terminationSignalReceived,
                     [](int signalNumber) { say("signal " + std::to_string(signalNumber)); });
    if (scenario == "before-loop") {
        std::raise(SIGHUP);
    }
    QTimer::singleShot(0, [scenario, application] {
        if (scenario == "quit-then-signal") {
            application->terminate(nullptr);
            std::raise(SIGTERM);
        }
        say("ready");
    });
    const int result = QCoreApplication::exec();
    say("exec returned " + std::to_string(result));
    return result;
}

// ---- The test's side -----------------------------------------------------------------------

struct Child {
    pid_t pid = -1;
    int out = -1;
    std::string received;

    explicit Child(const char* scenario) {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) {
            throw std::runtime_error("pipe");
        }
        std::fflush(stdout); // nothing of the test's own output goes to the child's pipe
        pid = ::fork();
        if (pid == 0) {
            ::dup2(pipeFds[1], STDOUT_FILENO);
            ::close(pipeFds[0]);
            ::_exit(runChild(scenario));
        }
        ::close(pipeFds[1]);
        out = pipeFds[0];
    }
    ~Child() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        ::close(out);
    }

    // Reads what the child says until `line` has come, or for an empty `line` until it has
    // closed its output by ending; false when it falls silent for 10 s first.
    bool read(const std::string& line) {
        while (line.empty() || received.find(line + "\n") == std::string::npos) {
            pollfd p{out, POLLIN, 0};
            char chunk[256];
            const ssize_t n = ::poll(&p, 1, 10000) > 0 ? ::read(out, chunk, sizeof chunk) : -1;
            if (n <= 0) {
                return line.empty() && n == 0;
            }
            received.append(chunk, static_cast<std::size_t>(n));
        }
        return true;
    }

    // The exit status once the child has ended; -1 when it did not.
    int waitForExit() {
        int status = -1;
        if (read("")) {
            ::waitpid(pid, &status, 0);
            pid = -1;
        }
        return status;
    }

    int count(const std::string& line) const {
        int n = 0;
        for (std::size_t at = 0; (at = received.find(line + "\n", at)) != std::string::npos;
             at += line.size()) {
            ++n;
        }
        return n;
    }
};

// Ended normally with status 0, heard applicationWillTerminate once, and reported `sent`
// termination signals to its listeners.
void expectCleanEnd(Child& child, int status, int sent) {
    ASSERT_NE(status, -1) << "still running; it said:\n" << child.received;
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << "; it said:\n"
                                   << child.received;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(child.count("will-terminate"), 1) << child.received;
    EXPECT_EQ(child.count("exec returned 0"), 1) << child.received;
    int reported = 0;
    for (const int s : {SIGTERM, SIGINT, SIGHUP}) {
        reported += child.count("signal " + std::to_string(s));
    }
    EXPECT_EQ(reported, sent) << child.received;
}

TEST(TerminationSignals, EndTheApplicationOnceThroughItsDelegate) {
    std::vector<int> storm;
    for (int i = 0; i < 300; ++i) {
        storm.push_back(i % 3 == 0 ? SIGTERM : i % 3 == 1 ? SIGINT : SIGHUP);
    }
    struct Row {
        const char* scenario;  // what the child does; see runChild
        std::vector<int> sent; // one after another once the loop runs
        int reported;          // termination signals its listeners hear of
        int first;             // the one reported, when known
    };
    const Row rows[] = {
        {"wait", {SIGTERM}, 1, SIGTERM},
        {"wait", {SIGINT}, 1, SIGINT},
        {"wait", {SIGHUP}, 1, SIGHUP},
        {"wait", {SIGTERM, SIGTERM}, 1, SIGTERM},
        {"wait", {SIGINT, SIGTERM}, 1, SIGINT},
        // Pending signals arrive lowest number first, so which one is reported is not known.
        {"wait", storm, 1, 0},
        // One that came before the loop ran is handled once it runs.
        {"before-loop", {}, 1, SIGHUP},
        // More while the application ends change nothing.
        {"again-while-ending", {SIGTERM}, 1, SIGTERM},
        // After quit was asked for, a signal changes nothing.
        {"quit-then-signal", {}, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.scenario) + ", " + std::to_string(row.sent.size()) + " sent");
        Child child(row.scenario);
        if (!row.sent.empty()) {
            ASSERT_TRUE(child.read("ready")) << child.received;
        }
        for (const int s : row.sent) {
            ::kill(child.pid, s);
        }
        expectCleanEnd(child, child.waitForExit(), row.reported);
        if (row.first != 0) {
            EXPECT_EQ(child.count("signal " + std::to_string(row.first)), 1) << child.received;
        }
        EXPECT_EQ(child.count("still-ending"), row.scenario == std::string("again-while-ending"))
            << child.received;
    }
}

} // namespace
