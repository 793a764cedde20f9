#include "platform/core/instance_lock.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <stddef.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

namespace {

std::string octal(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Why `st` is not a private folder of this user; empty when it is.
std::string notPrivate(const std::filesystem::path& path, const struct stat& st) {
    if (!S_ISDIR(st.st_mode)) {
        return path.string() + " is not a folder";
    }
    if (st.st_uid != ::geteuid()) {
        return path.string() + " belongs to user " + std::to_string(st.st_uid);
    }
    if ((st.st_mode & 07777) != 0700) {
        return path.string() + " is open to others (mode " + octal(st.st_mode) + ")";
    }
    return {};
}

bool usableRuntimeDir(const char* dir) {
    if (dir == nullptr || dir[0] != '/') {
        return false;
    }
    struct stat st {};
    return ::stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

int millisecondsLeft(instance_socket::Clock::time_point deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - instance_socket::Clock::now())
            .count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void pause(int milliseconds) {
    pollfd none{-1, 0, 0};
    ::poll(&none, 1, milliseconds);
}

bool fillAddress(const std::filesystem::path& path, sockaddr_un& address) {
    const std::string& text = path.native();
    address = {};
    address.sun_family = AF_UNIX;
    if (text.empty() || text.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, text.data(), text.size());
    return true;
}

} // namespace

RuntimeFolder privateRuntimeFolder(const char* xdgRuntimeDir, std::string_view name,
                                   const std::filesystem::path& temporaryRoot) {
    RuntimeFolder result;
    const std::filesystem::path folder =
        usableRuntimeDir(xdgRuntimeDir)
            ? std::filesystem::path(xdgRuntimeDir) / name
            : temporaryRoot / (std::string(name) + "-" + std::to_string(::geteuid()));
    if (::mkdir(folder.c_str(), 0700) == 0) {
        ::chmod(folder.c_str(), 0700); // whatever the umask took away
    } else if (errno != EEXIST) {
        result.problem = "cannot create " + folder.string() + ": " + std::strerror(errno);
        return result;
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) {
        result.problem = "cannot look at " + folder.string() + ": " + std::strerror(errno);
        return result;
    }
    result.problem = notPrivate(folder, st);
    if (result.problem.empty()) {
        result.path = folder;
    }
    return result;
}

InstanceLock InstanceLock::acquire(const std::filesystem::path& folder) {
    InstanceLock lock;
    const std::filesystem::path file = folder / "instance.lock";
    lock.fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (lock.fd_ < 0) {
        lock.problem_ = "cannot open " + file.string() + ": " + std::strerror(errno);
        return lock;
    }
    struct stat st {};
    if (::fstat(lock.fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        lock.problem_ = file.string() + " is not a file of this user";
        ::close(lock.fd_);
        lock.fd_ = -1;
        return lock;
    }
    lock.state_ = State::HeldByOther;
    lock.take();
    return lock;
}

bool InstanceLock::take() {
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) {
            continue;
        }
        if (errno != EWOULDBLOCK) {
            state_ = State::Unavailable;
            problem_ = std::string("cannot lock: ") + std::strerror(errno);
        }
        return false;
    }
    state_ = State::Acquired;
    // Name the holder, for the message of a later start that gets no answer.
    // A failed write costs only the number in that message; the lock holds all the same.
    const std::string pid = std::to_string(::getpid()) + "\n";
    [[maybe_unused]] const bool named =
        ::ftruncate(fd_, 0) == 0 &&
        ::pwrite(fd_, pid.data(), pid.size(), 0) == static_cast<ssize_t>(pid.size());
    return true;
}

bool InstanceLock::retry() {
    return state_ == State::Acquired || (state_ == State::HeldByOther && take());
}

std::optional<pid_t> InstanceLock::holder() const {
    if (fd_ < 0 || state_ != State::HeldByOther) {
        return std::nullopt;
    }
    char text[24] = {};
    const ssize_t n = ::pread(fd_, text, sizeof text - 1, 0);
    if (n <= 0) {
        return std::nullopt;
    }
    char* end = nullptr;
    const long pid = std::strtol(text, &end, 10);
    if (pid <= 0 || end == text || (*end != '\n' && *end != '\0')) {
        return std::nullopt;
    }
    return static_cast<pid_t>(pid);
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), state_(other.state_), problem_(std::move(other.problem_)) {
    other.state_ = State::Unavailable;
}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
        state_ = std::exchange(other.state_, State::Unavailable);
        problem_ = std::move(other.problem_);
    }
    return *this;
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

namespace instance_socket {

std::filesystem::path pathIn(const std::filesystem::path& folder) {
    return folder / "instance.socket";
}

int listenAt(const std::filesystem::path& path, std::string& problem) {
    sockaddr_un address{};
    if (!fillAddress(path, address)) {
        problem = "the socket path " + path.string() + " is too long";
        return -1;
    }
    // Whatever is there was left by a process that no longer holds the lock.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        problem = "cannot remove the old " + path.string() + ": " + std::strerror(errno);
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        problem = std::string("no socket: ") + std::strerror(errno);
        return -1;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 16) != 0) {
        problem = "cannot listen on " + path.string() + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

int acceptClient(int listenFd) {
    for (;;) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            return -1;
        }
        ucred peer{};
        socklen_t length = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
            peer.uid == ::geteuid()) {
            return fd;
        }
        ::close(fd);
    }
}

bool clientHasGone(int fd) {
    pollfd p{fd, POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

namespace {

enum class Attempt { Answered, NoListener, Dropped, TimedOut };

// One connection: connect, send, read one line.
Attempt askOnce(const sockaddr_un& address, std::string_view request, Clock::time_point deadline,
                std::string& answer) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return Attempt::NoListener;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        // ENOENT, ECONNREFUSED: not listening yet or any more; EAGAIN: its queue is full.
        return Attempt::NoListener;
    }
    const std::string line = std::string(request) + "\n";
    if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
        return Attempt::Dropped;
    }
    std::string received;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, millisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return Attempt::TimedOut;
        }
        char chunk[256];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            return Attempt::Dropped;
        }
        received.append(chunk, static_cast<std::size_t>(n));
        const std::size_t end = received.find('\n');
        if (end != std::string::npos) {
            answer = received.substr(0, end);
            return Attempt::Answered;
        }
        if (received.size() > 1024) {
            return Attempt::Dropped;
        }
    }
}

} // namespace

Reply ask(const std::filesystem::path& path, InstanceLock& lock, std::string_view request,
          Clock::time_point deadline) {
    Reply reply;
    sockaddr_un address{};
    const bool addressable = fillAddress(path, address);
    bool everConnected = false;
    for (;;) {
        if (lock.retry()) {
            reply.outcome = Outcome::LockAcquired;
            return reply;
        }
        const Attempt attempt =
            addressable ? askOnce(address, request, deadline, reply.answer) : Attempt::NoListener;
        switch (attempt) {
        case Attempt::Answered:
            reply.outcome = Outcome::Answered;
            return reply;
        case Attempt::TimedOut:
            reply.outcome = Outcome::NoAnswer;
            return reply;
        case Attempt::Dropped:
            everConnected = true;
            break;
        case Attempt::NoListener:
            break;
        }
        if (millisecondsLeft(deadline) == 0) {
            reply.outcome = everConnected ? Outcome::NoAnswer : Outcome::NoListener;
            return reply;
        }
        // The holder is still starting, or has just gone: look again shortly.
        pause(std::min(20, millisecondsLeft(deadline)));
    }
}

} // namespace instance_socket

} // namespace platform
