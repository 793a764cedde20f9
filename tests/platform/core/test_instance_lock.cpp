// One running copy without a bus: the private folder, the lock and the socket beside it, with
// real files, real processes and real sockets.

#include "platform/core/instance_lock.h"

#include "support/TempDir.h"
#include "support/UnixSocket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <future>
#include <thread>

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::InstanceLock;
using platform::privateRuntimeFolder;
namespace socket_ = platform::instance_socket;
using namespace std::chrono_literals;

namespace {

constexpr uid_t kNobody = 65534;

mode_t modeOf(const std::filesystem::path& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(PrivateRuntimeFolder, IsTheUsersAloneOrRefused) {
    // XDG_RUNTIME_DIR ('@' for the runtime folder; null: unset); what is planted ('g' the runtime
    // folder open to its group, 'r' it of another user; at tmp/brimwell-<uid>: 'd' a folder of
    // ours, 'o' one open to others, 'n' one of another user, 'l' a link); "runtime" or "tmp"
    // where the folder is, else the problem.
    const std::tuple<const char*, char, std::string> rows[] = {
        {"@", '-', "runtime"},
        {nullptr, '-', "tmp"},
        {"run/user", '-', "tmp"},
        {"@/gone", '-', "tmp"},
        {"@", 'g', "tmp"},
        {nullptr, 'd', "tmp"},
        {nullptr, 'o', "is open to others (mode 0755)"},
        {nullptr, 'l', "is not a folder"},
        // Rows that need root come last.
        {nullptr, 'n', "belongs to user 65534"},
        {"@", 'r', "tmp"},
    };
    for (const auto& [xdgRow, planted, expect] : rows) {
        SCOPED_TRACE(std::string(xdgRow ? xdgRow : "(unset)") + ", planted " + planted);
        if ((planted == 'n' || planted == 'r') && ::geteuid() != 0) {
            GTEST_SKIP() << "making a folder of another user needs root";
        }
        TempDir scratch;
        const auto runtime = scratch.path() / "runtime";
        const auto tmp = scratch.path() / "tmp";
        const auto ours = tmp / ("brimwell-" + std::to_string(::geteuid()));
        ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);
        ASSERT_EQ(::mkdir(tmp.c_str(), 0700), 0);
        // Past the umask.
        ASSERT_EQ(::chmod(runtime.c_str(), planted == 'g' ? 0770 : 0700), 0);
        ASSERT_EQ(::chmod(tmp.c_str(), 01777), 0);
        if (planted == 'd' || planted == 'o' || planted == 'n') {
            ASSERT_EQ(::mkdir(ours.c_str(), 0700), 0);
            ASSERT_EQ(::chmod(ours.c_str(), planted == 'o' ? 0755 : 0700), 0);
        }
        if (planted == 'n' || planted == 'r') {
            ASSERT_EQ(::chown((planted == 'r' ? runtime : ours).c_str(), kNobody, kNobody), 0);
        }
        if (planted == 'l') {
            ASSERT_EQ(::symlink(runtime.c_str(), ours.c_str()), 0);
        }
        std::string xdg = xdgRow ? xdgRow : "";
        if (xdg.starts_with('@')) {
            xdg.replace(0, 1, runtime.string());
        }
        const auto folder = privateRuntimeFolder(xdgRow ? xdg.c_str() : nullptr, "brimwell", tmp);
        if (expect == "runtime" || expect == "tmp") {
            const auto where = expect == "runtime" ? runtime / "brimwell" : ours;
            EXPECT_EQ(folder.path, where) << folder.problem;
            EXPECT_EQ(folder.problem, "");
            EXPECT_EQ(modeOf(where), 0700u);
        } else {
            EXPECT_TRUE(folder.path.empty()) << folder.path;
            EXPECT_NE(folder.problem.find(expect), std::string::npos) << folder.problem;
        }
    }
}

TEST(InstanceLock, OneHolderAtATimeNamedInTheFileAndFreedWhenItLetsGo) {
    TempDir dir;
    auto first = std::make_unique<InstanceLock>(InstanceLock::acquire(dir.path()));
    ASSERT_EQ(first->state(), InstanceLock::State::Acquired) << first->problem();
    EXPECT_EQ(modeOf(dir.path() / "instance.lock"), 0600u);
    EXPECT_EQ(first->holder(), std::nullopt); // it is ours: no other holder

    // A second open of the file is another claimant, even in this process.
    InstanceLock second = InstanceLock::acquire(dir.path());
    EXPECT_EQ(second.state(), InstanceLock::State::HeldByOther);
    EXPECT_EQ(second.holder(), ::getpid());
    EXPECT_FALSE(second.retry());

    first.reset();
    EXPECT_TRUE(second.retry());
    EXPECT_TRUE(second.retry()); // still ours

    // Moving keeps the lock held; the moved-from object holds nothing.
    InstanceLock moved = std::move(second);
    EXPECT_EQ(moved.state(), InstanceLock::State::Acquired);
    EXPECT_EQ(InstanceLock::acquire(dir.path()).state(), InstanceLock::State::HeldByOther);
}

TEST(InstanceLock, AKilledHolderLeavesNoStaleLockAndAStaleNumberIsReplaced) {
    TempDir dir;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        InstanceLock lock = InstanceLock::acquire(dir.path());
        const char c = lock.state() == InstanceLock::State::Acquired ? 'y' : 'n';
        [[maybe_unused]] auto w = ::write(ready[1], &c, 1);
        ::pause();
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    InstanceLock waiting = InstanceLock::acquire(dir.path());
    EXPECT_EQ(waiting.state(), InstanceLock::State::HeldByOther);
    EXPECT_EQ(waiting.holder(), child);

    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(waiting.retry());
    // The file names the new holder, not the dead one, and has nothing left of the old text.
    EXPECT_EQ(readFile(dir.path() / "instance.lock"), std::to_string(::getpid()) + "\n");
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(InstanceLock, PlantedOrForeignLockFilesAreNotUsed) {
    TempDir dir;
    // A link, wherever it points, is not followed.
    const std::string target = dir.write("elsewhere", "keep");
    ASSERT_EQ(::symlink(target.c_str(), (dir.path() / "instance.lock").c_str()), 0);
    InstanceLock link = InstanceLock::acquire(dir.path());
    EXPECT_EQ(link.state(), InstanceLock::State::Unavailable);
    EXPECT_NE(link.problem().find("cannot open"), std::string::npos) << link.problem();
    EXPECT_FALSE(link.retry());
    EXPECT_EQ(readFile(target), "keep");
    ::unlink((dir.path() / "instance.lock").c_str());

    // A FIFO does not block the start and is refused.
    ASSERT_EQ(::mkfifo((dir.path() / "instance.lock").c_str(), 0600), 0);
    auto fifo =
        std::async(std::launch::async, [&dir] { return InstanceLock::acquire(dir.path()); });
    ASSERT_EQ(fifo.wait_for(10s), std::future_status::ready) << "blocked on a FIFO";
    EXPECT_EQ(fifo.get().state(), InstanceLock::State::Unavailable);
    ::unlink((dir.path() / "instance.lock").c_str());

    if (::geteuid() != 0) {
        GTEST_SKIP() << "a file of another user needs root";
    }
    dir.write("instance.lock", "");
    ASSERT_EQ(::chown((dir.path() / "instance.lock").c_str(), kNobody, kNobody), 0);
    InstanceLock foreign = InstanceLock::acquire(dir.path());
    EXPECT_EQ(foreign.state(), InstanceLock::State::Unavailable);
    EXPECT_NE(foreign.problem().find("not a file of this user"), std::string::npos);
}

// The holder's side, on a thread of its own until it ends: listens after `listenAfter`, answers
// each request with `answer` (or holds the connection open, silent, when it is empty).
struct Holder {
    std::atomic<bool> stop{false};
    std::atomic<int> arrived{0};
    std::future<std::vector<std::string>> requests; // once it has ended

    Holder(const std::filesystem::path& folder, const std::string& answer,
           std::chrono::milliseconds listenAfter = 0ms) {
        requests = std::async(std::launch::async, [this, folder, answer, listenAfter] {
            std::this_thread::sleep_for(listenAfter);
            std::string problem;
            std::vector<int> open{socket_::listenAt(socket_::pathIn(folder), problem)};
            std::vector<std::string> got;
            for (pollfd p{open.front(), POLLIN, 0}; !stop;) {
                for (int fd; ::poll(&p, 1, 10) > 0 && (fd = socket_::acceptClient(p.fd)) >= 0;) {
                    std::string line;
                    char c;
                    for (pollfd q{fd, POLLIN, 0};
                         ::poll(&q, 1, 1000) > 0 && ::recv(fd, &c, 1, 0) == 1 && c != '\n';) {
                        line += c;
                    }
                    got.push_back(line);
                    ++arrived;
                    const std::string reply = answer + "\n";
                    if (!answer.empty()) {
                        ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
                    }
                    open.push_back(fd);
                }
            }
            for (const int fd : open) {
                ::close(fd);
            }
            return got;
        });
    }
    ~Holder() { stop = true; }
    std::vector<std::string> end() {
        stop = true;
        return requests.get();
    }
};

TEST(InstanceSocket, AskGetsTheHoldersAnswerOrGivesUpAtTheDeadline) {
    using socket_::Outcome;
    // The answer ("": silent), when the holder listens (-1 ms: never), whether it ends once asked.
    const std::tuple<const char*, std::chrono::milliseconds, bool, Outcome> rows[] = {
        {"ok", 0ms, false, Outcome::Answered},
        // The holder took the lock but listens only a moment later.
        {"ok", 300ms, false, Outcome::Answered},
        {"", 0ms, false, Outcome::NoAnswer},
        {"", -1ms, false, Outcome::NoListener},
        // Its connections and lock go: well before the deadline, the lock is taken instead.
        {"", 0ms, true, Outcome::LockAcquired},
    };
    for (const auto& [answer, listenAfter, holderEnds, outcome] : rows) {
        SCOPED_TRACE(std::string(answer) + " after " + std::to_string(listenAfter.count()) + " ms");
        TempDir dir;
        auto held = std::make_unique<InstanceLock>(InstanceLock::acquire(dir.path()));
        ASSERT_EQ(held->state(), InstanceLock::State::Acquired);
        std::unique_ptr<Holder> holder;
        if (listenAfter >= 0ms) {
            holder = std::make_unique<Holder>(dir.path(), answer, listenAfter);
        }
        InstanceLock asking = InstanceLock::acquire(dir.path());
        ASSERT_EQ(asking.state(), InstanceLock::State::HeldByOther);
        auto reply = std::async(std::launch::async, [&] {
            return socket_::ask(socket_::pathIn(dir.path()), asking, "show",
                                socket_::Clock::now() + 1500ms);
        });
        for (int i = 0; holderEnds && i < 1000 && holder->arrived == 0; ++i) {
            std::this_thread::sleep_for(5ms);
        }
        if (holderEnds) {
            EXPECT_EQ(holder->end(), std::vector<std::string>{"show"});
            holder.reset();
            held.reset();
        }
        ASSERT_EQ(reply.wait_for(30s), std::future_status::ready) << "the ask did not return";
        const socket_::Reply r = reply.get();
        EXPECT_EQ(r.outcome, outcome);
        EXPECT_EQ(r.answer, outcome == Outcome::Answered ? answer : "");
        EXPECT_EQ(asking.state() == InstanceLock::State::Acquired, holderEnds);
        if (holder) {
            // One request per answer: a holder that was reached is not asked again and again.
            EXPECT_EQ(holder->end(), std::vector<std::string>{"show"});
        }
    }
}

TEST(InstanceSocket, ANewHolderReplacesWhatAnOldOneLeftBehind) {
    TempDir dir;
    const auto path = socket_::pathIn(dir.path());
    // Each round leaves a socket file whose listener is gone, as a killed holder leaves it.
    for (const std::string leftOver : {"nothing", "a socket", "a file"}) {
        SCOPED_TRACE(leftOver);
        if (leftOver == "a file") {
            ::unlink(path.c_str());
            dir.write(path.filename(), "left over");
        }
        std::string problem;
        const int fd = socket_::listenAt(path, problem);
        ASSERT_GE(fd, 0) << problem;
        EXPECT_TRUE(std::filesystem::is_socket(std::filesystem::symlink_status(path)));
        ::close(fd);
    }
    // A path longer than a socket address holds is refused with a reason.
    std::string problem;
    EXPECT_LT(socket_::listenAt(dir.path() / std::string(120, 'x'), problem), 0);
    EXPECT_NE(problem.find("too long"), std::string::npos) << problem;
}

TEST(InstanceSocket, AClientThatGaveUpIsSeenAsGone) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    ::send(pair[1], "show\n", 5, 0);
    EXPECT_FALSE(socket_::clientHasGone(pair[0])); // still waiting for its answer
    ::close(pair[1]);
    EXPECT_TRUE(socket_::clientHasGone(pair[0])); // even with its request still unread
    ::close(pair[0]);
}

TEST(InstanceSocket, ConnectionsOfOtherUsersAreClosedUnanswered) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "connecting as another user needs root";
    }
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0); // reachable for the other user
    const auto path = dir.path() / "instance.socket";
    std::string problem;
    const int listenFd = socket_::listenAt(path, problem);
    ASSERT_GE(listenFd, 0) << problem;
    ASSERT_EQ(::chmod(path.c_str(), 0777), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setresgid(kNobody, kNobody, kNobody) != 0 ||
            ::setresuid(kNobody, kNobody, kNobody) != 0) {
            ::_exit(2);
        }
        const int fd = unixSocket(path.native(), false);
        if (fd < 0) {
            ::_exit(3);
        }
        ::send(fd, "show\n", 5, MSG_NOSIGNAL);
        char c;
        // Closed without an answer: end of stream, or a reset as the request went unread.
        const ssize_t n = ::recv(fd, &c, 1, 0);
        ::_exit(n == 0 || (n < 0 && errno == ECONNRESET) ? 0 : 4);
    }
    pollfd p{listenFd, POLLIN, 0};
    ASSERT_GT(::poll(&p, 1, 10000), 0);
    EXPECT_EQ(socket_::acceptClient(listenFd), -1);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(status, 0); // exited with 0
    ::close(listenFd);
}

} // namespace
