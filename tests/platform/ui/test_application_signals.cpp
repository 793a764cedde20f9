// Termination signals end the application through its event loop, as terminate() does. Each
// case runs in a child process of this test (the same program, started with --child), which
// gets real signals from the test and reports on standard output what it saw.

#include "platform/ui/Application.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;

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
        pid = ::fork();
        if (pid == 0) {
            ::dup2(pipeFds[1], STDOUT_FILENO);
            ::close(pipeFds[0]);
            ::execl("/proc/self/exe", "test_application_signals", "--child", scenario,
                    static_cast<char*>(nullptr));
            ::_exit(127);
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

    // Reads what the child says until `line` has come, or 10 s have passed.
    bool waitForLine(const std::string& line) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (received.find(line + "\n") == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{out, POLLIN, 0};
            if (left <= 0ms || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                return false;
            }
            char chunk[256];
            const ssize_t n = ::read(out, chunk, sizeof chunk);
            if (n <= 0) {
                return false;
            }
            received.append(chunk, static_cast<std::size_t>(n));
        }
        return true;
    }

    // The exit status, once the child has ended within 10 s; -1 when it did not.
    int waitForExit() {
        for (int i = 0; i < 1000; ++i) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                char chunk[256];
                for (ssize_t n; (n = ::read(out, chunk, sizeof chunk)) > 0;) {
                    received.append(chunk, static_cast<std::size_t>(n));
                }
                return status;
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
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

struct SignalRow {
    const char* name;
    std::vector<int> sent; // one after another once the loop runs
};

class TerminationSignals : public testing::TestWithParam<SignalRow> {};

TEST_P(TerminationSignals, EndTheApplicationOnceThroughItsDelegate) {
    const SignalRow& row = GetParam();
    Child child("wait");
    ASSERT_TRUE(child.waitForLine("ready")) << child.received;
    for (const int s : row.sent) {
        ::kill(child.pid, s);
    }
    const int status = child.waitForExit();
    expectCleanEnd(child, status, 1);
    // The first signal is the one reported (pending signals arrive lowest number first, so
    // in a storm it may be another).
    if (row.sent.size() < 3) {
        EXPECT_EQ(child.count("signal " + std::to_string(row.sent.front())), 1) << child.received;
    }
}

std::vector<int> storm() {
    std::vector<int> sent;
    for (int i = 0; i < 300; ++i) {
        sent.push_back(i % 3 == 0 ? SIGTERM : i % 3 == 1 ? SIGINT : SIGHUP);
    }
    return sent;
}

INSTANTIATE_TEST_SUITE_P(
    Table, TerminationSignals,
    testing::Values(SignalRow{"Term", {SIGTERM}}, SignalRow{"Int", {SIGINT}},
                    SignalRow{"Hup", {SIGHUP}}, SignalRow{"TermTwice", {SIGTERM, SIGTERM}},
                    SignalRow{"IntThenTerm", {SIGINT, SIGTERM}}, SignalRow{"Storm", storm()}),
    [](const testing::TestParamInfo<SignalRow>& row) { return row.param.name; });

TEST(TerminationSignals, OneThatCameBeforeTheLoopRanIsHandledOnceItRuns) {
    Child child("before-loop");
    const int status = child.waitForExit();
    expectCleanEnd(child, status, 1);
    EXPECT_EQ(child.count("signal " + std::to_string(SIGHUP)), 1) << child.received;
}

TEST(TerminationSignals, MoreWhileTheApplicationEndsChangeNothing) {
    Child child("again-while-ending");
    ASSERT_TRUE(child.waitForLine("ready")) << child.received;
    ::kill(child.pid, SIGTERM);
    const int status = child.waitForExit();
    expectCleanEnd(child, status, 1);
    EXPECT_EQ(child.count("still-ending"), 1) << child.received;
}

TEST(TerminationSignals, AfterQuitWasAskedForASignalChangesNothing) {
    Child child("quit-then-signal");
    const int status = child.waitForExit();
    expectCleanEnd(child, status, 0);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--child") == 0) {
        return runChild(argv[2]);
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
