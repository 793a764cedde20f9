#include "platform/core/proc_tree.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

proc_tree::proc_tree(std::string root) : root_(std::move(root)) {
    fd_ = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ >= 0) {
        struct statfs fs {};
        procfs_ = ::fstatfs(fd_, &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
    }
}

proc_tree::~proc_tree() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::vector<pid_t> proc_tree::pids() const {
    std::vector<pid_t> pids;
    if (fd_ < 0) {
        return pids;
    }
    // A descriptor of its own: a DIR owns and moves the one it is given.
    const int dir_fd = ::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0) {
        return pids;
    }
    DIR* dir = ::fdopendir(dir_fd);
    if (dir == nullptr) {
        ::close(dir_fd);
        return pids;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] < '1' || name[0] > '9') {
            continue;
        }
        long long value = 0;
        bool digits = true;
        for (const char* c = name; *c != '\0'; ++c) {
            if (*c < '0' || *c > '9' || value > 0x3fffffff) {
                digits = false;
                break;
            }
            value = value * 10 + (*c - '0');
        }
        if (digits && value > 0 && value <= 0x3fffffff) {
            pids.push_back(static_cast<pid_t>(value));
        }
    }
    ::closedir(dir);
    return pids;
}

ssize_t proc_tree::read(pid_t pid, const char* name, char* buf, std::size_t capacity) const {
    if (fd_ < 0 || pid <= 0 || capacity == 0) {
        return -EINVAL;
    }
    char path[64];
    const int len = std::snprintf(path, sizeof path, "%d/%s", static_cast<int>(pid), name);
    if (len < 0 || static_cast<std::size_t>(len) >= sizeof path) {
        return -EINVAL;
    }
    // Non-blocking and without following a last link: a FIFO or a link planted in a fake tree
    // cannot hold or redirect the read.
    const int fd = ::openat(fd_, path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0) {
        return errno == ELOOP ? -EINVAL : -errno;
    }
    ssize_t result = 0;
    struct stat info {};
    if (!procfs_ && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        result = -EINVAL;
    } else {
        do {
            result = ::pread(fd, buf, capacity, 0);
        } while (result < 0 && errno == EINTR);
        if (result < 0) {
            result = -errno;
        } else if (static_cast<std::size_t>(result) >= capacity) {
            result = -EFBIG; // a full buffer: more may follow
        }
    }
    ::close(fd);
    return result;
}
