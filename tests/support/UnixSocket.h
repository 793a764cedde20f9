#pragma once
// Unix stream sockets for tests: a listener on a path, a client connected to one. A path that
// starts with '\0' names an abstract socket.

#include <cstddef>
#include <string_view>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace unix_socket {

struct Address {
    sockaddr_un address{};
    socklen_t length = sizeof address;
    sockaddr* get() { return reinterpret_cast<sockaddr*>(&address); }
};

inline Address addressOf(std::string_view path) {
    Address a;
    a.address.sun_family = AF_UNIX;
    path.copy(a.address.sun_path, sizeof a.address.sun_path - 1);
    if (!path.empty() && path[0] == '\0') {
        a.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
    }
    return a;
}

// A bound, listening socket; -1 when either step fails.
inline int listenAt(std::string_view path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    Address a = addressOf(path);
    if (fd >= 0 && (::bind(fd, a.get(), a.length) != 0 || ::listen(fd, 4) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A connected socket; -1 when the connection is refused.
inline int connectTo(std::string_view path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    Address a = addressOf(path);
    if (fd >= 0 && ::connect(fd, a.get(), a.length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace unix_socket
