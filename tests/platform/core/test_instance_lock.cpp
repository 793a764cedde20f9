// One running copy without a bus: the private folder, the lock and the socket beside it, with
// real files, real processes and real sockets.

#include "platform/core/instance_lock.h"

#include "support/TempDir.h"
#include "support/UnixSocket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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

std::string uidText() {
    return std::to_string(::geteuid());
}

// ---- The private folder --------------------------------------------------------------------

struct FolderRow {
    const char* name;
    // Prepares the runtime folder (`runtime`) and the temporary root (`tmp`); returns the
    // value of XDG_RUNTIME_DIR to use (null for unset).
    std::function<std::optional<std::string>(const std::filesystem::path& runtime,
                                             const std::filesystem::path& tmp)>
        prepare;
    bool needsRoot;
    // Where the folder is expected: "runtime" or "tmp" (relative to those), or empty when
    // it must be refused with `problem`.
    const char* expectedIn;
    const char* problem;
};

class PrivateRuntimeFolder : public testing::TestWithParam<FolderRow> {};

TEST_P(PrivateRuntimeFolder, IsTheUsersAloneOrRefused) {
    const FolderRow& row = GetParam();
    if (row.needsRoot && ::geteuid() != 0) {
        GTEST_SKIP() << "making a folder of another user needs root";
    }
    TempDir scratch;
    const auto runtime = scratch.path() / "runtime";
    const auto tmp = scratch.path() / "tmp";
    ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(tmp.c_str(), 01777), 0);
    ASSERT_EQ(::chmod(tmp.c_str(), 01777), 0); // past the umask
    const auto xdg = row.prepare(runtime, tmp);
    const auto folder = privateRuntimeFolder(xdg ? xdg->c_str() : nullptr, "brimwell", tmp);
    if (std::string(row.expectedIn).empty()) {
        EXPECT_TRUE(folder.path.empty()) << folder.path;
        EXPECT_NE(folder.problem.find(row.problem), std::string::npos) << folder.problem;
        return;
    }
    const auto expected = std::string(row.expectedIn) == "runtime"
                              ? runtime / "brimwell"
                              : tmp / ("brimwell-" + uidText());
    EXPECT_EQ(folder.path, expected) << folder.problem;
    EXPECT_EQ(folder.problem, "");
    EXPECT_EQ(modeOf(expected), 0700u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PrivateRuntimeFolder,
    testing::Values(
        FolderRow{"InTheRuntimeFolder",
                  [](auto& runtime, auto&) { return std::optional(runtime.string()); }, false,
                  "runtime", ""},
        FolderRow{"UnsetFallsBackToTmp", [](auto&, auto&) { return std::optional<std::string>(); },
                  false, "tmp", ""},
        FolderRow{"EmptyFallsBackToTmp",
                  [](auto&, auto&) { return std::optional<std::string>(""); }, false, "tmp", ""},
        FolderRow{"RelativeFallsBackToTmp",
                  [](auto&, auto&) { return std::optional<std::string>("run/user"); }, false, "tmp",
                  ""},
        FolderRow{"MissingFallsBackToTmp",
                  [](auto& runtime, auto&) { return std::optional((runtime / "gone").string()); },
                  false, "tmp", ""},
        FolderRow{"GroupWritableRuntimeFolderFallsBackToTmp",
                  [](auto& runtime, auto&) {
                      ::chmod(runtime.c_str(), 0770);
                      return std::optional(runtime.string());
                  },
                  false, "tmp", ""},
        FolderRow{"OurFolderAlreadyThereIsReused",
                  [](auto&, auto& tmp) {
                      ::mkdir((tmp / ("brimwell-" + uidText())).c_str(), 0700);
                      return std::optional<std::string>();
                  },
                  false, "tmp", ""},
        FolderRow{"OpenToOthers",
                  [](auto&, auto& tmp) {
                      const auto f = tmp / ("brimwell-" + uidText());
                      ::mkdir(f.c_str(), 0700);
                      ::chmod(f.c_str(), 0755);
                      return std::optional<std::string>();
                  },
                  false, "", "is open to others (mode 0755)"},
        FolderRow{"ALinkToAPrivateFolder",
                  [](auto& runtime, auto& tmp) {
                      ::symlink(runtime.c_str(), (tmp / ("brimwell-" + uidText())).c_str());
                      return std::optional<std::string>();
                  },
                  false, "", "is not a folder"},
        FolderRow{"AFile",
                  [](auto&, auto& tmp) {
                      std::ofstream(tmp / ("brimwell-" + uidText())) << "x";
                      return std::optional<std::string>();
                  },
                  false, "", "is not a folder"},
        FolderRow{"MadeFirstByAnotherUser",
                  [](auto&, auto& tmp) {
                      const auto f = tmp / ("brimwell-" + uidText());
                      ::mkdir(f.c_str(), 0700);
                      [[maybe_unused]] int r = ::chown(f.c_str(), kNobody, kNobody);
                      return std::optional<std::string>();
                  },
                  true, "", "belongs to user 65534"},
        FolderRow{"RuntimeFolderOfAnotherUserFallsBackToTmp",
                  [](auto& runtime, auto&) {
                      [[maybe_unused]] int r = ::chown(runtime.c_str(), kNobody, kNobody);
                      return std::optional(runtime.string());
                  },
                  true, "tmp", ""}),
    [](const testing::TestParamInfo<FolderRow>& row) { return row.param.name; });

// ---- The lock ------------------------------------------------------------------------------

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
    EXPECT_EQ(second.state(), InstanceLock::State::Acquired);
    EXPECT_TRUE(second.retry()); // still ours
    EXPECT_EQ(InstanceLock::acquire(dir.path()).state(), InstanceLock::State::HeldByOther);

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
    std::ifstream in(target);
    std::string kept;
    in >> kept;
    EXPECT_EQ(kept, "keep");
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

// ---- The socket ----------------------------------------------------------------------------

// The holder's side: answers each request with `answer` (or not at all when empty).
class Holder {
public:
    Holder(const std::filesystem::path& folder, std::string answer,
           std::chrono::milliseconds listenAfter = 0ms)
        : answer_(std::move(answer)) {
        thread_ = std::thread([this, folder, listenAfter] {
            std::this_thread::sleep_for(listenAfter);
            std::string problem;
            listenFd_ = socket_::listenAt(socket_::pathIn(folder), problem);
            while (!stop_) {
                pollfd p{listenFd_, POLLIN, 0};
                if (::poll(&p, 1, 10) <= 0) {
                    continue;
                }
                for (int fd; (fd = socket_::acceptClient(listenFd_)) >= 0;) {
                    serve(fd);
                }
            }
        });
    }
    ~Holder() { stopListening(); }
    void stopListening() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        if (listenFd_ >= 0) {
            ::close(listenFd_);
            listenFd_ = -1;
        }
        for (int fd : kept_) {
            ::close(fd);
        }
        kept_.clear();
    }
    std::vector<std::string> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    void serve(int fd) {
        std::string line;
        char c;
        for (pollfd p{fd, POLLIN, 0};
             ::poll(&p, 1, 1000) > 0 && ::recv(fd, &c, 1, 0) == 1 && c != '\n';) {
            line += c;
        }
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(line);
        }
        if (answer_.empty()) {
            kept_.push_back(fd); // silent: holds the connection open
            return;
        }
        const std::string reply = answer_ + "\n";
        ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
        ::close(fd);
    }

    std::string answer_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    int listenFd_ = -1;
    std::vector<int> kept_;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
};

struct AskRow {
    const char* name;
    const char* answer;                    // the holder's answer; empty: silent
    std::chrono::milliseconds listenAfter; // -1: nobody listens
    socket_::Outcome outcome;
};

class InstanceSocketAsk : public testing::TestWithParam<AskRow> {};

TEST_P(InstanceSocketAsk, GetsTheHoldersAnswerOrGivesUpAtTheDeadline) {
    const AskRow& row = GetParam();
    TempDir dir;
    InstanceLock held = InstanceLock::acquire(dir.path());
    ASSERT_EQ(held.state(), InstanceLock::State::Acquired);
    std::unique_ptr<Holder> holder;
    if (row.listenAfter >= 0ms) {
        holder = std::make_unique<Holder>(dir.path(), row.answer, row.listenAfter);
    }
    InstanceLock asking = InstanceLock::acquire(dir.path());
    ASSERT_EQ(asking.state(), InstanceLock::State::HeldByOther);
    auto reply = std::async(std::launch::async, [&] {
        return socket_::ask(socket_::pathIn(dir.path()), asking, "show",
                            socket_::Clock::now() + 1500ms);
    });
    ASSERT_EQ(reply.wait_for(30s), std::future_status::ready) << "the ask did not return";
    const socket_::Reply r = reply.get();
    EXPECT_EQ(r.outcome, row.outcome);
    if (row.outcome == socket_::Outcome::Answered) {
        EXPECT_EQ(r.answer, row.answer);
    }
    if (holder) {
        holder->stopListening();
        // One request per answer: a holder that was reached is not asked again and again.
        const auto requests = holder->requests();
        if (row.outcome != socket_::Outcome::NoListener) {
            ASSERT_EQ(requests.size(), 1u);
            EXPECT_EQ(requests.front(), "show");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, InstanceSocketAsk,
    testing::Values(AskRow{"Answered", "ok", 0ms, socket_::Outcome::Answered},
                    AskRow{"AnsweredOtherwise", "busy", 0ms, socket_::Outcome::Answered},
                    // The holder took the lock but listens only a moment later.
                    AskRow{"HolderStillStarting", "ok", 300ms, socket_::Outcome::Answered},
                    AskRow{"HolderNeverAnswers", "", 0ms, socket_::Outcome::NoAnswer},
                    AskRow{"NobodyListens", "", -1ms, socket_::Outcome::NoListener}),
    [](const testing::TestParamInfo<AskRow>& row) { return row.param.name; });

TEST(InstanceSocket, WhenTheHolderEndsWhileAskedTheLockIsTakenInstead) {
    TempDir dir;
    auto held = std::make_unique<InstanceLock>(InstanceLock::acquire(dir.path()));
    auto holder = std::make_unique<Holder>(dir.path(), ""); // listens, never answers
    InstanceLock asking = InstanceLock::acquire(dir.path());
    auto reply = std::async(std::launch::async, [&] {
        return socket_::ask(socket_::pathIn(dir.path()), asking, "show",
                            socket_::Clock::now() + 20s);
    });
    // Once the request has arrived, the holder ends: its connections and lock go.
    for (int i = 0; i < 1000 && holder->requests().empty(); ++i) {
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_EQ(holder->requests().size(), 1u);
    holder.reset();
    held.reset();
    // Well before the 20 s deadline: the closed connection sends it back to the lock.
    ASSERT_EQ(reply.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(reply.get().outcome, socket_::Outcome::LockAcquired);
    EXPECT_EQ(asking.state(), InstanceLock::State::Acquired);
}

TEST(InstanceSocket, ANewHolderReplacesWhatAnOldOneLeftBehind) {
    TempDir dir;
    const auto path = socket_::pathIn(dir.path());
    // A socket file whose listener is gone, as a killed holder leaves it.
    {
        std::string problem;
        const int fd = socket_::listenAt(path, problem);
        ASSERT_GE(fd, 0) << problem;
        ::close(fd);
    }
    for (const bool asFile : {false, true}) {
        if (asFile) {
            ::unlink(path.c_str());
            dir.write(path.filename(), "left over");
        }
        std::string problem;
        const int fd = socket_::listenAt(path, problem);
        ASSERT_GE(fd, 0) << problem;
        struct stat st {};
        ASSERT_EQ(::lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISSOCK(st.st_mode));
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
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // One of our own is accepted.
    const int fd = unixSocket(path.native(), false);
    ASSERT_GE(fd, 0);
    const int accepted = socket_::acceptClient(listenFd);
    EXPECT_GE(accepted, 0);
    ::close(accepted);
    ::close(fd);
    ::close(listenFd);
}

} // namespace
