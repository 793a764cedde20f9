#pragma once
// A unix stream socket listening on `path`, or connected to it; -1 on failure. A path that
// starts with '\0' names an abstract socket.

#include <cstddef>
#include <string_view>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

inline int unixSocket(std::string_view path, bool listening) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    path.copy(a.sun_path, sizeof a.sun_path - 1);
    const auto length = static_cast<socklen_t>(
        path.starts_with('\0') ? offsetof(sockaddr_un, sun_path) + path.size() : sizeof a);
    const auto* address = reinterpret_cast<const sockaddr*>(&a);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool ok = fd >= 0 && (listening ? ::bind(fd, address, length) == 0 && ::listen(fd, 4) == 0
                                          : ::connect(fd, address, length) == 0);
    if (!ok && fd >= 0) {
        ::close(fd);
    }
    return ok ? fd : -1;
}
