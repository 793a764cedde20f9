#include "platform/core/kernel_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int open_kernel_file(const std::string& path) {
    if (path.empty()) {
        return -1;
    }
    // Looked at before opening: opening some devices already does something (a tape rewinds,
    // a modem line drops).
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0 || !S_ISREG(before.st_mode)) {
        return -1;
    }
    // Non-blocking, so a FIFO swapped in between the two looks cannot hold the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return -1;
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

ssize_t pread_kernel_file(int fd, char* buf, std::size_t capacity) {
    for (;;) {
        const ssize_t n = ::pread(fd, buf, capacity, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        // Kernel files hand all their text to one read that is large enough, so a short read
        // is the whole file; asking again for the 0 that says so would double a sample's cost.
        // A full buffer means the file is larger than any counters file: not one.
        return n < 0 || static_cast<std::size_t>(n) >= capacity ? -1 : n;
    }
}

std::optional<std::string> read_kernel_file(const std::string& path, std::size_t limit) {
    const int fd = open_kernel_file(path);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text;
    char chunk[4096];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ok = false;
            break;
        }
        if (n == 0) {
            break;
        }
        if (text.size() + static_cast<std::size_t>(n) > limit) {
            ok = false;
            break;
        }
        text.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ok ? std::optional(std::move(text)) : std::nullopt;
}

std::string path_under_root(std::string_view root, std::string_view absolute) {
    while (!root.empty() && root.back() == '/') {
        root.remove_suffix(1);
    }
    std::string path(root);
    if (absolute.empty() || absolute.front() != '/') {
        path += '/';
    }
    path += absolute;
    return path;
}

bool path_exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}
