#pragma once
// One running copy per user without any bus: a lock file that the first copy holds for as long
// as it runs (the kernel drops it when the process ends, however it ends), and a socket beside
// it on which that copy takes requests from later starts. Both live in a private folder of the
// user: $XDG_RUNTIME_DIR/<name>, or /tmp/<name>-<uid> where there is no runtime folder.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace platform {

struct RuntimeFolder {
    std::filesystem::path path; // empty when there is no usable folder
    std::string problem;        // why not, for a person to read
};

// Finds or makes the folder. `xdgRuntimeDir` counts only when it is an absolute path to a
// folder of this user that others cannot write to. The folder itself is created 0700 and is
// accepted only as a real folder (not a link) owned by this user with mode 0700, so nobody
// else can have made it first or can plant anything in it.
RuntimeFolder privateRuntimeFolder(const char* xdgRuntimeDir, std::string_view name,
                                   const std::filesystem::path& temporaryRoot = "/tmp");

class InstanceLock {
public:
    enum class State {
        Acquired,    // this process holds the lock
        HeldByOther, // another process holds it
        Unavailable, // the lock file cannot be used; see problem()
    };

    // Takes `folder`/instance.lock without waiting. On success the file names this process.
    static InstanceLock acquire(const std::filesystem::path& folder);

    InstanceLock(InstanceLock&& other) noexcept;
    InstanceLock& operator=(InstanceLock&& other) noexcept;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock(); // releases the lock

    State state() const { return state_; }
    const std::string& problem() const { return problem_; }
    // The process named in the file, when another holds the lock.
    std::optional<pid_t> holder() const;
    // Tries once more to take a lock another held: true when it is ours now.
    bool retry();

private:
    InstanceLock() = default;
    bool take();

    int fd_ = -1;
    State state_ = State::Unavailable;
    std::string problem_;
};

namespace instance_socket {

using Clock = std::chrono::steady_clock;

// Where the lock holder listens, beside the lock file.
std::filesystem::path pathIn(const std::filesystem::path& folder);

// Listens on `path` (non-blocking), replacing whatever an earlier holder of the lock left
// there. Only the holder of the lock may call it. -1 with `problem` set on failure.
int listenAt(const std::filesystem::path& path, std::string& problem);

// The next waiting connection of a process of this user, non-blocking; -1 when none is left.
// Connections of other users are closed unanswered.
int acceptClient(int listenFd);

// True once the client at the other end has closed or shut down its side.
bool clientHasGone(int fd);

enum class Outcome {
    Answered,     // the holder answered with one line
    LockAcquired, // the holder has gone and the lock is ours now
    NoListener,   // nothing ever listened before the deadline
    NoAnswer,     // connected, but no answer before the deadline
};

struct Reply {
    Outcome outcome = Outcome::NoListener;
    std::string answer; // Answered: the line, without its '\n'
};

// Sends `request` and a newline to whoever holds `lock`, and waits for its one-line answer
// until `deadline`. While nobody listens yet (the holder is still starting) it asks again;
// when the holder ends meanwhile, it takes the lock instead.
Reply ask(const std::filesystem::path& path, InstanceLock& lock, std::string_view request,
          Clock::time_point deadline);

} // namespace instance_socket

} // namespace platform
