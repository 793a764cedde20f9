#include "platform/core/file_mark.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace file_mark {

namespace {

std::string attributeName(const std::string& name) {
    return "user." + name;
}

bool unsupported(int error) {
    return error == ENOTSUP || error == EOPNOTSUPP;
}

} // namespace

std::string sidecarPath(const std::string& path, const std::string& name) {
    const std::size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    return directory + "." + file + "." + name;
}

ssize_t size(const std::string& path, const std::string& name) {
    const ssize_t result = ::lgetxattr(path.c_str(), attributeName(name).c_str(), nullptr, 0);
    if (result >= 0 || !unsupported(errno)) {
        return result;
    }
    struct stat st {};
    if (::lstat(sidecarPath(path, name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        return 0;
    }
    // The marked file itself must exist, as for an attribute.
    errno = ::access(path.c_str(), F_OK) == 0 ? ENODATA : errno;
    return -1;
}

int set(const std::string& path, const std::string& name) {
    const int result = ::lsetxattr(path.c_str(), attributeName(name).c_str(), nullptr, 0, 0);
    if (result == 0 || !unsupported(errno)) {
        return result;
    }
    if (::access(path.c_str(), F_OK) != 0) {
        return -1;
    }
    // Never through a link planted under the sidecar's name.
    const int fd = ::open(sidecarPath(path, name).c_str(),
                          O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        return -1;
    }
    ::close(fd);
    return 0;
}

int remove(const std::string& path, const std::string& name) {
    const int result = ::lremovexattr(path.c_str(), attributeName(name).c_str());
    if (result == 0 || !unsupported(errno)) {
        return result;
    }
    if (::unlink(sidecarPath(path, name).c_str()) == 0) {
        return 0;
    }
    if (errno == ENOENT) {
        errno = ::access(path.c_str(), F_OK) == 0 ? ENODATA : ENOENT;
    }
    return -1;
}

void moveSidecar(const std::string& from, const std::string& to, const std::string& name) {
    const std::string sidecar = sidecarPath(from, name);
    if (::access(sidecar.c_str(), F_OK) == 0) {
        ::rename(sidecar.c_str(), sidecarPath(to, name).c_str());
    }
}

void removeSidecar(const std::string& path, const std::string& name) {
    ::unlink(sidecarPath(path, name).c_str());
}

} // namespace file_mark
