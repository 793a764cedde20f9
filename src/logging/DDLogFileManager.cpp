#include "logging/DDLogFileManager.h"

#include "logging/DDLogCore.h"
#include "platform/core/dispatch_queue.h"
#include "platform/core/file_mark.h"
#include "platform/core/thread_info.h"
#include "platform/core/uuid_string.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <typeinfo>
#include <unistd.h>

namespace {

using Date = DDLogFileInfo::Date;

Date toDate(const statx_timestamp& t) {
    return Date(std::chrono::duration_cast<Date::duration>(std::chrono::seconds(t.tv_sec) +
                                                           std::chrono::nanoseconds(t.tv_nsec)));
}

std::optional<DDFileAttributes> readAttributes(const std::string& path) {
    struct statx st {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME,
                &st) != 0) {
        return std::nullopt;
    }
    DDFileAttributes attributes;
    attributes.fileType = S_ISREG(st.stx_mode)   ? "regular"
                          : S_ISDIR(st.stx_mode) ? "directory"
                          : S_ISLNK(st.stx_mode) ? "symlink"
                                                 : "other";
    attributes.size = st.stx_size;
    attributes.permissions = st.stx_mode & 07777;
    attributes.ownerID = st.stx_uid;
    attributes.linkCount = st.stx_nlink;
    attributes.modificationDate = toDate(st.stx_mtime);
    // Every common Linux file system records a birth time; without one the last change stands in.
    attributes.creationDate =
        toDate((st.stx_mask & STATX_BTIME) != 0 ? st.stx_btime : st.stx_mtime);
    return attributes;
}

// A regular file of the running user with no other name. Anything else in a log folder was put
// there by someone else, or links to a file that is not ours to write.
bool isOwnRegular(mode_t mode, uid_t owner, std::uint64_t links) {
    return S_ISREG(mode) && owner == ::geteuid() && links == 1;
}

struct DefaultLocation {
    std::string directory;
    std::string privateRoot;
};

DefaultLocation defaultLocation(const char* xdgStateHome, const char* home,
                                const char* xdgRuntimeDir, const char* tmpDir,
                                const std::string& processName, uid_t uid) {
    // Relative values are ignored, as the base directory rules ask.
    const auto absolute = [](const char* value) { return value != nullptr && value[0] == '/'; };
    if (absolute(xdgStateHome)) {
        return {(std::filesystem::path(xdgStateHome) / "Logs" / processName).string(), {}};
    }
    if (absolute(home)) {
        return {(std::filesystem::path(home) / ".local" / "state" / "Logs" / processName).string(),
                {}};
    }
    // Never a shared "<tmp>/Logs": anyone could make it first and plant links in it.
    if (absolute(xdgRuntimeDir)) {
        return {(std::filesystem::path(xdgRuntimeDir) / "Logs" / processName).string(),
                xdgRuntimeDir};
    }
    const std::filesystem::path root =
        std::filesystem::path(absolute(tmpDir) ? tmpDir : "/tmp") / ("Logs-" + std::to_string(uid));
    return {(root / processName).string(), root.string()};
}

// mkdir -p with private folders. Empty on success, else why not.
std::string makeDirectories(const std::string& path) {
    std::string prefix;
    std::size_t at = 0;
    while (at != std::string::npos) {
        at = path.find('/', at + 1);
        prefix = path.substr(0, at);
        if (!prefix.empty() && ::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            return prefix + ": " + std::strerror(errno);
        }
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return path + ": " + std::strerror(errno);
    }
    if (!S_ISDIR(st.st_mode)) {
        return path + ": " + std::strerror(ENOTDIR);
    }
    return {};
}

int compareNewestFirst(const std::optional<Date>& own, const std::optional<Date>& other) {
    // An unknown date is as old as can be.
    const Date a = own.value_or(Date::min());
    const Date b = other.value_or(Date::min());
    return a < b ? 1 : a > b ? -1 : 0;
}

std::string dateText(const std::optional<Date>& date) {
    if (!date) {
        return "";
    }
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(date->time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(micros / 1000000);
    std::tm fields{};
    ::gmtime_r(&seconds, &fields);
    char buffer[48];
    const std::size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &fields);
    std::snprintf(buffer + n, sizeof buffer - n, ".%06lld +0000",
                  static_cast<long long>(micros % 1000000));
    return buffer;
}

} // namespace

// ---- DDLogFileInfo

DDLogFileInfo::DDLogFileInfo(std::string filePath) : filePath_(std::move(filePath)) {}

std::shared_ptr<DDLogFileInfo> DDLogFileInfo::logFileWithPath(const std::string& filePath) {
    return std::make_shared<DDLogFileInfo>(filePath);
}

const std::string& DDLogFileInfo::fileName() {
    if (!fileName_) {
        fileName_ = std::filesystem::path(filePath_).filename().string();
    }
    return *fileName_;
}

const std::optional<DDFileAttributes>& DDLogFileInfo::fileAttributes() {
    if (!attributesRead_) {
        fileAttributes_ = readAttributes(filePath_);
        attributesRead_ = true;
    }
    return fileAttributes_;
}

std::optional<DDLogFileInfo::Date> DDLogFileInfo::creationDate() {
    if (!creationDateRead_) {
        const auto& attributes = fileAttributes();
        creationDate_ = attributes ? attributes->creationDate : std::nullopt;
        creationDateRead_ = true;
    }
    return creationDate_;
}

std::optional<DDLogFileInfo::Date> DDLogFileInfo::modificationDate() {
    if (!modificationDateRead_) {
        const auto& attributes = fileAttributes();
        modificationDate_ = attributes ? std::optional(attributes->modificationDate) : std::nullopt;
        modificationDateRead_ = true;
    }
    return modificationDate_;
}

std::uint64_t DDLogFileInfo::fileSize() {
    if (fileSize_ == 0) {
        const auto& attributes = fileAttributes();
        fileSize_ = attributes ? attributes->size : 0;
    }
    return fileSize_;
}

double DDLogFileInfo::age() {
    const auto created = creationDate();
    if (!created) {
        return 0.0;
    }
    return std::chrono::duration<double>(std::chrono::system_clock::now() - *created).count();
}

bool DDLogFileInfo::isArchived() {
    return hasExtendedAttributeWithName(archivedAttributeName);
}

void DDLogFileInfo::setIsArchived(bool flag) {
    if (flag) {
        addExtendedAttributeWithName(archivedAttributeName);
    } else {
        removeExtendedAttributeWithName(archivedAttributeName);
    }
}

bool DDLogFileInfo::isOwnRegularFile() {
    const auto& attributes = fileAttributes();
    return attributes && attributes->fileType == "regular" && attributes->ownerID == ::geteuid() &&
           attributes->linkCount == 1;
}

void DDLogFileInfo::reset() {
    fileName_.reset();
    attributesRead_ = false;
    fileAttributes_.reset();
    creationDateRead_ = false;
    creationDate_.reset();
    modificationDateRead_ = false;
    modificationDate_.reset();
}

void DDLogFileInfo::renameFile(const std::string& newFileName) {
    if (newFileName == fileName()) {
        return;
    }
    const std::string newPath =
        (std::filesystem::path(filePath_).parent_path() / newFileName).string();
    if (::rename(filePath_.c_str(), newPath.c_str()) != 0) {
        std::fprintf(stderr, "DDLogFileInfo: Error renaming file (%s): %s\n", fileName().c_str(),
                     std::strerror(errno));
    } else {
        file_mark::moveSidecar(filePath_, newPath, archivedAttributeName);
    }
    filePath_ = newPath;
    reset();
}

bool DDLogFileInfo::hasExtendedAttributeWithName(const std::string& attrName) {
    return file_mark::size(filePath_, attrName) >= 0;
}

void DDLogFileInfo::addExtendedAttributeWithName(const std::string& attrName) {
    const int result = file_mark::set(filePath_, attrName);
    if (result < 0) {
        std::fprintf(stderr, "DDLogFileInfo: setxattr(%s, %s): error = %i\n", attrName.c_str(),
                     fileName().c_str(), result);
    }
}

void DDLogFileInfo::removeExtendedAttributeWithName(const std::string& attrName) {
    const int result = file_mark::remove(filePath_, attrName);
    if (result < 0 && errno != ENODATA) {
        std::fprintf(stderr, "DDLogFileInfo: removexattr(%s, %s): error = %i\n", attrName.c_str(),
                     fileName().c_str(), result);
    }
}

bool DDLogFileInfo::isEqual(const DDLogFileInfo& other) const {
    // Any description equals a plain one; a subclass's only its own kind.
    const bool sameKind = typeid(*this) == typeid(DDLogFileInfo) || typeid(other) == typeid(*this);
    return sameKind && other.filePath_ == filePath_;
}

int DDLogFileInfo::reverseCompareByCreationDate(DDLogFileInfo& other) {
    return compareNewestFirst(creationDate(), other.creationDate());
}

int DDLogFileInfo::reverseCompareByModificationDate(DDLogFileInfo& other) {
    return compareNewestFirst(modificationDate(), other.modificationDate());
}

std::string DDLogFileInfo::description() {
    const auto& attributes = fileAttributes();
    std::string attributeText;
    if (attributes) {
        attributeText = "{type = " + attributes->fileType +
                        "; size = " + std::to_string(attributes->size) + "; permissions = 0" +
                        [&] {
                            char octal[8];
                            std::snprintf(octal, sizeof octal, "%o", attributes->permissions);
                            return std::string(octal);
                        }() +
                        "}";
    }
    char ageText[32];
    std::snprintf(ageText, sizeof ageText, "%g", age());
    return "{\n    filePath = " + filePath_ + ";\n    fileName = " + fileName() +
           ";\n    fileAttributes = " + attributeText +
           ";\n    creationDate = " + dateText(creationDate()) +
           ";\n    modificationDate = " + dateText(modificationDate()) +
           ";\n    fileSize = " + std::to_string(fileSize()) + ";\n    age = " + ageText +
           ";\n    isArchived = " + (isArchived() ? "1" : "0") + ";\n}";
}

// ---- DDLogFileManagerDefault

namespace {

DefaultLocation currentDefaultLocation() {
    return defaultLocation(std::getenv("XDG_STATE_HOME"), std::getenv("HOME"),
                           std::getenv("XDG_RUNTIME_DIR"), std::getenv("TMPDIR"),
                           thread_info::processName(), ::geteuid());
}

} // namespace

DDLogFileManagerDefault::DDLogFileManagerDefault(std::optional<std::string> logsDirectory)
    : DDLogFileManagerDefault(logsDirectory ? std::move(*logsDirectory) : std::string(),
                              !logsDirectory) {}

DDLogFileManagerDefault::DDLogFileManagerDefault(std::string logsDirectory, bool useDefault)
    : logsDirectory_(useDefault ? currentDefaultLocation().directory : std::move(logsDirectory)),
      privateRoot_(useDefault ? currentDefaultLocation().privateRoot : std::string()) {}

std::string DDLogFileManagerDefault::defaultLogsDirectory() {
    return currentDefaultLocation().directory;
}

std::string
DDLogFileManagerDefault::defaultLogsDirectory(const char* xdgStateHome, const char* home,
                                              const char* xdgRuntimeDir, const char* tmpDir,
                                              const std::string& processName, uid_t uid) {
    return defaultLocation(xdgStateHome, home, xdgRuntimeDir, tmpDir, processName, uid).directory;
}

bool DDLogFileManagerDefault::prepareLogsDirectory() {
    if (!privateRoot_.empty()) {
        ::mkdir(privateRoot_.c_str(), 0700); // usually there already
        struct stat st {};
        const bool private_ = ::lstat(privateRoot_.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
                              st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
        if (!private_) {
            if (!reportedUnsafe_.exchange(true)) {
                std::fprintf(stderr,
                             "DDFileLogManagerDefault: Error creating logsDirectory: %s is not a "
                             "private folder of this user; no log files are written\n",
                             privateRoot_.c_str());
            }
            return false;
        }
    }
    struct stat st {};
    if (::stat(logsDirectory_.c_str(), &st) == 0) {
        return true;
    }
    const std::string error = makeDirectories(logsDirectory_);
    if (!error.empty()) {
        std::fprintf(stderr, "DDFileLogManagerDefault: Error creating logsDirectory: %s\n",
                     error.c_str());
        return false;
    }
    return true;
}

std::string DDLogFileManagerDefault::logsDirectory() {
    prepareLogsDirectory();
    return logsDirectory_;
}

bool DDLogFileManagerDefault::isLogFile(const std::string& fileName) {
    if (fileName.size() < 10 || fileName.compare(0, 4, "log-") != 0) {
        return false;
    }
    return std::all_of(fileName.begin() + 4, fileName.begin() + 10,
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

std::vector<std::string> DDLogFileManagerDefault::unsortedLogFilePaths() {
    std::vector<std::string> paths;
    if (!prepareLogsDirectory()) {
        return paths;
    }
    const std::string& directory = logsDirectory_;
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) {
        return paths;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        struct stat st {};
        if (isLogFile(name) &&
            ::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            isOwnRegular(st.st_mode, st.st_uid, st.st_nlink)) {
            paths.push_back(directory + "/" + name);
        }
    }
    ::closedir(dir);
    return paths;
}

std::vector<std::string> DDLogFileManagerDefault::unsortedLogFileNames() {
    std::vector<std::string> names;
    for (const auto& path : unsortedLogFilePaths()) {
        names.push_back(std::filesystem::path(path).filename().string());
    }
    return names;
}

std::vector<DDLogFileInfoPtr> DDLogFileManagerDefault::unsortedLogFileInfos() {
    std::vector<DDLogFileInfoPtr> infos;
    for (const auto& path : unsortedLogFilePaths()) {
        infos.push_back(DDLogFileInfo::logFileWithPath(path));
    }
    return infos;
}

std::vector<DDLogFileInfoPtr> DDLogFileManagerDefault::sortedLogFileInfos() {
    auto infos = unsortedLogFileInfos();
    std::stable_sort(infos.begin(), infos.end(), [](const auto& a, const auto& b) {
        return a->reverseCompareByCreationDate(*b) < 0;
    });
    // File systems stamp creation times from a coarse clock, so a file made right after a roll
    // can share its date with the file just archived. The one being written is the newer: put
    // unarchived files first among equal dates, or pruning could take the file in use.
    for (auto run = infos.begin(); run != infos.end();) {
        auto end = std::find_if(run + 1, infos.end(), [&](const auto& info) {
            return info->reverseCompareByCreationDate(**run) != 0;
        });
        if (end - run > 1) {
            std::stable_partition(run, end, [](const auto& info) { return !info->isArchived(); });
        }
        run = end;
    }
    return infos;
}

std::vector<std::string> DDLogFileManagerDefault::sortedLogFilePaths() {
    std::vector<std::string> paths;
    for (const auto& info : sortedLogFileInfos()) {
        paths.push_back(info->filePath());
    }
    return paths;
}

std::vector<std::string> DDLogFileManagerDefault::sortedLogFileNames() {
    std::vector<std::string> names;
    for (const auto& info : sortedLogFileInfos()) {
        names.push_back(info->fileName());
    }
    return names;
}

std::string DDLogFileManagerDefault::generateShortUUID() {
    return platform::createUUIDString().substr(0, 6);
}

std::string DDLogFileManagerDefault::createNewLogFile() {
    const std::string& directory = logsDirectory_;
    if (!prepareLogsDirectory()) {
        // Nothing is made in a folder that is not safe; the logger cannot open the path.
        return directory + "/log-" + generateShortUUID() + ".txt";
    }
    std::string path;
    for (;;) {
        path = directory + "/log-" + generateShortUUID() + ".txt";
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) {
            continue;
        }
        // Exclusive, so two writers sharing the directory never take the same new name, and
        // never through a link planted under that name.
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
        } else if (errno == EEXIST) {
            continue;
        }
        break;
    }
    deleteOldLogFiles();
    return path;
}

void DDLogFileManagerDefault::deleteOldLogFiles() {
    const std::uint64_t maximum = maximumNumberOfLogFiles();
    if (maximum == 0) {
        return;
    }
    auto infos = sortedLogFileInfos();
    auto first = infos.begin();
    // The newest unarchived file is the one being written; it is never deleted.
    if (first != infos.end() && !(*first)->isArchived()) {
        ++first;
    }
    if (static_cast<std::uint64_t>(infos.end() - first) <= maximum) {
        return;
    }
    for (auto it = first + static_cast<std::ptrdiff_t>(maximum); it != infos.end(); ++it) {
        ::unlink((*it)->filePath().c_str());
        file_mark::removeSidecar((*it)->filePath(), DDLogFileInfo::archivedAttributeName);
    }
}

std::uint64_t DDLogFileManagerDefault::maximumNumberOfLogFiles() const {
    return maximumNumberOfLogFiles_.load();
}

void DDLogFileManagerDefault::setMaximumNumberOfLogFiles(std::uint64_t maximum) {
    if (maximumNumberOfLogFiles_.exchange(maximum) == maximum) {
        return;
    }
    dispatch::async(DDLog::loggingQueue(), [weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->deleteOldLogFiles();
        }
    });
}
