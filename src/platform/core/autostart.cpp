#include "platform/core/autostart.h"

#include "platform/core/kernel_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::size_t kMaxEntryBytes = 64 * 1024;

std::string errorText(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

// An open descriptor for a folder the user owns and nobody else can write to, or -1 and why.
int openOwnFolder(const std::filesystem::path& folder, bool create, std::string& problem) {
    if (create) {
        // Missing folders are made one by one, closed to others.
        std::filesystem::path partial;
        for (const auto& part : folder) {
            partial /= part;
            if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
                problem = errorText("cannot create " + partial.string(), errno);
                return -1;
            }
        }
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        problem = errorText("cannot open " + folder.string(), errno);
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        problem = errorText("cannot look at " + folder.string(), errno);
        ::close(fd);
        return -1;
    }
    const bool othersWrite = (info.st_mode & S_IWOTH) != 0 ||
                             ((info.st_mode & S_IWGRP) != 0 && info.st_gid != ::getegid());
    if (info.st_uid != ::geteuid() || othersWrite) {
        problem = folder.string() + " belongs to someone else or others may write to it";
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads a desktop entry through `dirfd` (following a link: reading is harmless), bounded and
// regular files only. None when it is missing or cannot be read.
std::optional<std::string> readEntry(int dirfd, const char* name) {
    const int fd = ::openat(dirfd, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat info {};
    std::optional<std::string> text;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<std::uint64_t>(info.st_size) <= kMaxEntryBytes) {
        std::string buf(kMaxEntryBytes + 1, '\0');
        std::size_t size = 0;
        bool ok = true;
        while (size < buf.size()) {
            const ssize_t n = ::read(fd, buf.data() + size, buf.size() - size);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                ok = n == 0;
                break;
            }
            size += static_cast<std::size_t>(n);
        }
        if (ok && size <= kMaxEntryBytes) {
            buf.resize(size);
            text = std::move(buf);
        }
    }
    ::close(fd);
    return text;
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Puts `text` in place of the entry in `dirfd` at once: a new private file renamed over it.
Autostart::Result replaceEntry(int dirfd, const std::filesystem::path& folder,
                               const std::string& text) {
    std::random_device random;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, ".%s.%08x", Autostart::kEntryName, random());
        temp = name;
        fd = ::openat(dirfd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      0600);
        if (fd < 0 && errno != EEXIST) {
            return {false, errorText("cannot write in " + folder.string(), errno)};
        }
    }
    if (fd < 0) {
        return {false, "cannot make a temporary file in " + folder.string()};
    }
    bool ok = ::fchmod(fd, 0600) == 0 && writeAll(fd, text) && ::fsync(fd) == 0;
    int error = errno;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::renameat(dirfd, temp.c_str(), dirfd, Autostart::kEntryName) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlinkat(dirfd, temp.c_str(), 0);
        return {false,
                errorText("cannot write " + (folder / Autostart::kEntryName).string(), error)};
    }
    ::fsync(dirfd); // the rename itself survives a crash
    return {true, {}};
}

// A desktop entry string value: backslashes doubled (read back as one).
std::string escapedValue(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '\\') {
            out += '\\';
        }
    }
    return out;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

} // namespace

Autostart::Autostart(std::filesystem::path userFolder,
                     std::vector<std::filesystem::path> systemFolders, std::string executable)
    : userFolder_(std::move(userFolder)), userEntry_(userFolder_ / kEntryName),
      systemFolders_(std::move(systemFolders)), executable_(std::move(executable)) {}

std::optional<std::filesystem::path> Autostart::userFolderFor(const char* xdgConfigHome,
                                                              const char* home) {
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
        return std::filesystem::path(xdgConfigHome) / "autostart";
    }
    if (home != nullptr && home[0] == '/') {
        return std::filesystem::path(home) / ".config" / "autostart";
    }
    return std::nullopt;
}

std::vector<std::filesystem::path> Autostart::systemFoldersFor(const char* xdgConfigDirs) {
    std::vector<std::filesystem::path> folders;
    std::string_view dirs = xdgConfigDirs != nullptr ? xdgConfigDirs : "";
    while (!dirs.empty()) {
        const std::size_t colon = dirs.find(':');
        const std::string_view dir = dirs.substr(0, colon);
        if (!dir.empty() && dir.front() == '/') {
            folders.push_back(std::filesystem::path(dir) / "autostart");
        }
        dirs = colon == std::string_view::npos ? std::string_view{} : dirs.substr(colon + 1);
    }
    if (folders.empty()) {
        folders.emplace_back("/etc/xdg/autostart");
    }
    return folders;
}

std::string Autostart::runningExecutable() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf) {
        return {};
    }
    std::string path(buf, static_cast<std::size_t>(n));
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.ends_with(kDeleted)) {
        path.resize(path.size() - kDeleted.size());
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            return {};
        }
    }
    return path;
}

std::optional<Autostart> Autostart::standard() {
    auto folder = userFolderFor(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
    if (!folder) {
        return std::nullopt;
    }
    return Autostart(*folder, systemFoldersFor(std::getenv("XDG_CONFIG_DIRS")),
                     runningExecutable());
}

std::optional<std::string> Autostart::entryText(const std::string& executable) {
    if (executable.empty() || executable.front() != '/') {
        return std::nullopt;
    }
    // Always quoted, reserved characters (spaces, quotes, ...) or not.
    std::string quoted = "\"";
    for (char c : executable) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            return std::nullopt;
        }
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        }
        quoted += c == '%' ? "%%" : std::string(1, c);
    }
    quoted += '"';
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Brimwell\n"
           "Comment=Shows how memory is used and frees memory on request\n"
           "Exec=" +
           escapedValue(quoted) +
           "\n"
           "TryExec=" +
           escapedValue(executable) +
           "\n"
           "Icon=brimwell\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool Autostart::entryStarts(const std::string& text) {
    std::string_view rest = text;
    bool inEntry = false;
    bool seenEntry = false;
    while (!rest.empty()) {
        const std::size_t eol = rest.find('\n');
        const std::string_view line = trimmed(rest.substr(0, eol));
        rest = eol == std::string_view::npos ? std::string_view{} : rest.substr(eol + 1);
        if (line.starts_with('[')) {
            inEntry = line == "[Desktop Entry]";
            seenEntry = seenEntry || inEntry;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (!inEntry || eq == std::string_view::npos) {
            continue;
        }
        const std::string_view key = trimmed(line.substr(0, eq));
        const std::string_view value = trimmed(line.substr(eq + 1));
        if ((key == "Hidden" && value == "true") ||
            (key == "X-GNOME-Autostart-enabled" && value == "false")) {
            return false;
        }
    }
    return seenEntry;
}

bool Autostart::isEnabled() const {
    std::string problem;
    const int dirfd = openOwnFolder(userFolder_, false, problem);
    if (dirfd >= 0) {
        struct stat info {};
        const bool present = ::fstatat(dirfd, kEntryName, &info, AT_SYMLINK_NOFOLLOW) == 0;
        const auto text = present ? readEntry(dirfd, kEntryName) : std::nullopt;
        ::close(dirfd);
        if (present) {
            // The user's entry, even one that cannot be read, stands in for the system's.
            return text && entryStarts(*text);
        }
    }
    for (const auto& folder : systemFolders_) {
        if (auto text = read_kernel_file((folder / kEntryName).string(), kMaxEntryBytes)) {
            return entryStarts(*text);
        }
    }
    return false;
}

Autostart::Result Autostart::setEnabled(bool enabled) const {
    std::optional<std::string> text;
    if (enabled) {
        text = entryText(executable_);
        if (!text) {
            return {false, executable_.empty()
                               ? "cannot tell where this program is installed"
                               : "cannot start \"" + executable_ + "\" from a desktop entry"};
        }
    } else {
        for (const auto& folder : systemFolders_) {
            const auto system = read_kernel_file((folder / kEntryName).string(), kMaxEntryBytes);
            if (system && entryStarts(*system)) {
                // Removing ours would leave the system's entry starting Brimwell: hide it.
                text = "[Desktop Entry]\nType=Application\nName=Brimwell\nHidden=true\n";
            }
            if (system) {
                break;
            }
        }
    }
    std::string problem;
    const int dirfd = openOwnFolder(userFolder_, text.has_value(), problem);
    if (dirfd < 0) {
        // Nothing to remove where there is no folder.
        return !text && !path_exists(userFolder_.string()) ? Result{true, {}}
                                                           : Result{false, problem};
    }
    Result result{true, {}};
    struct stat info {};
    const bool present = ::fstatat(dirfd, kEntryName, &info, AT_SYMLINK_NOFOLLOW) == 0;
    if (present && S_ISLNK(info.st_mode) && text) {
        result = {false, userEntry_.string() + " is a symbolic link: not replaced"};
    } else if (present && !S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) {
        result = {false, userEntry_.string() + " is not a regular file: left alone"};
    } else if (text) {
        result = replaceEntry(dirfd, userFolder_, *text);
    } else if (present && ::unlinkat(dirfd, kEntryName, 0) != 0 && errno != ENOENT) {
        // Removing a link removes the link only: nothing is written through it.
        result = {false, errorText("cannot remove " + userEntry_.string(), errno)};
    }
    ::close(dirfd);
    return result;
}

} // namespace platform
