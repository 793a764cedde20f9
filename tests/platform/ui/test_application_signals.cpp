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

struct ChildRun {
    std::string said;
    int status = 0;

    int count(const std::string& line) const {
        int n = 0;
        for (std::size_t at = 0; (at = said.find(line + "\n", at)) != std::string::npos;
             at += line.size()) {
            ++n;
        }
        return n;
    }
};

// Runs `scenario` in a forked child, sends it `sent` one after another once its loop runs, and
// collects what it says until it ends.
ChildRun runInChild(const char* scenario, const std::vector<int>& sent) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        throw std::runtime_error("pipe");
    }
    std::fflush(stdout); // nothing of the test's own output goes to the child's pipe
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::close(pipeFds[0]);
        ::_exit(runChild(scenario));
    }
    ::close(pipeFds[1]);
    ChildRun run;
    for (bool signalled = sent.empty();;) {
        if (!signalled && run.said.find("ready\n") != std::string::npos) {
            for (const int s : sent) {
                ::kill(pid, s);
            }
            signalled = true;
        }
        pollfd p{pipeFds[0], POLLIN, 0};
        char chunk[256];
        const ssize_t n = ::poll(&p, 1, 10000) > 0 ? ::read(pipeFds[0], chunk, sizeof chunk) : -1;
        if (n < 0) {
            ::kill(pid, SIGKILL); // silent for 10 s without ending
        }
        if (n <= 0) {
            ::waitpid(pid, &run.status, 0);
            break;
        }
        run.said.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    return run;
}

TEST(TerminationSignals, EndTheApplicationOnceThroughItsDelegate) {
    std::vector<int> storm;
    for (int i = 0; i < 300; ++i) {
        storm.push_back(i % 3 == 0 ? SIGTERM : i % 3 == 1 ? SIGINT : SIGHUP);
    }
    // A single TERM, INT or HUP ending the real program is checked by signals_e2e
    // (tests/app/test_single_instance_e2e.cpp).
    struct Row {
        const char* scenario;  // what the child does; see runChild
        std::vector<int> sent; // once the loop runs
        int reported;          // termination signals its listeners hear of
        int first;             // the one reported, when known
    };
    const Row rows[] = {
        // The first counts; the next changes nothing.
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
        const ChildRun run = runInChild(row.scenario, row.sent);
        // Ended normally with status 0 through the loop, heard applicationWillTerminate once.
        ASSERT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0)
            << "status " << run.status << "; it said:\n"
            << run.said;
        EXPECT_EQ(run.count("will-terminate"), 1) << run.said;
        EXPECT_EQ(run.count("exec returned 0"), 1) << run.said;
        int reported = 0;
        for (const int s : {SIGTERM, SIGINT, SIGHUP}) {
            reported += run.count("signal " + std::to_string(s));
        }
        EXPECT_EQ(reported, row.reported) << run.said;
        if (row.first != 0) {
            EXPECT_EQ(run.count("signal " + std::to_string(row.first)), 1) << run.said;
        }
        EXPECT_EQ(run.count("still-ending"), row.scenario == std::string("again-while-ending"))
            << run.said;
    }
}

} // namespace
