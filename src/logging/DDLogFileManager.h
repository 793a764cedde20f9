#pragma once
// Log files on disk: what a file logger needs from whoever names and keeps its files
// (DDLogFileManager), the standard keeper of one directory (DDLogFileManagerDefault) and the
// description of one file with lazily read attributes and its "archived" mark (DDLogFileInfo).
//
//     auto manager = std::make_shared<DDLogFileManagerDefault>(); // ~/.local/state/Logs/<process>
//     manager->setMaximumNumberOfLogFiles(7);
//     DDLog::addLogger(std::make_shared<DDFileLogger>(manager));  // DDFileLogger.h
//
// Folders it makes are private (0700) and so are its files (0600). Only regular files of the
// running user with a single link count as log files, so a link or a file planted by someone
// else in a shared directory is never written, marked or deleted.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// What the file system says about a file.
struct DDFileAttributes {
    std::string fileType; // "regular", "directory", "symlink" or "other"
    std::uint64_t size = 0;
    std::uint32_t permissions = 0;
    std::uint32_t ownerID = 0;
    std::uint64_t linkCount = 0;
    std::optional<std::chrono::system_clock::time_point> creationDate;
    std::chrono::system_clock::time_point modificationDate;
};

// Describes one log file. Attributes are read on first use and kept; reset() forgets them. Not
// thread-safe: one queue at a time uses an instance.
class DDLogFileInfo {
public:
    using Date = std::chrono::system_clock::time_point;

    explicit DDLogFileInfo(std::string filePath);
    virtual ~DDLogFileInfo() = default;
    static std::shared_ptr<DDLogFileInfo> logFileWithPath(const std::string& filePath);

    const std::string& filePath() const { return filePath_; }
    const std::string& fileName();
    const std::optional<DDFileAttributes>& fileAttributes();
    std::optional<Date> creationDate();
    std::optional<Date> modificationDate();
    // 0 counts as not read yet, so an empty file is asked again.
    std::uint64_t fileSize();
    // Seconds since the creation date; 0 when it is unknown. A subclass may tell another age
    // (tests of the file logger's choice of file).
    virtual double age();

    bool isArchived();
    void setIsArchived(bool flag);
    // A regular file (not a link) of the running user, with no other name: one that is safe to
    // write. From the cached attributes.
    bool isOwnRegularFile();

    void reset();
    void renameFile(const std::string& newFileName);

    bool hasExtendedAttributeWithName(const std::string& attrName);
    void addExtendedAttributeWithName(const std::string& attrName);
    void removeExtendedAttributeWithName(const std::string& attrName);

    bool isEqual(const DDLogFileInfo& other) const;
    // Newest first: an earlier own date answers "descending" (1), a later one "ascending" (-1).
    int reverseCompareByCreationDate(DDLogFileInfo& other);
    int reverseCompareByModificationDate(DDLogFileInfo& other);

    std::string description();

    // The mark's name; it lives in the user namespace of the file's extended attributes.
    static constexpr const char* archivedAttributeName = "lumberjack.log.archived";

private:
    std::string filePath_;
    std::optional<std::string> fileName_;
    bool attributesRead_ = false;
    std::optional<DDFileAttributes> fileAttributes_;
    bool creationDateRead_ = false;
    std::optional<Date> creationDate_;
    bool modificationDateRead_ = false;
    std::optional<Date> modificationDate_;
    std::uint64_t fileSize_ = 0;
};
using DDLogFileInfoPtr = std::shared_ptr<DDLogFileInfo>;

enum class DDLogFileManagerOperation { didArchiveLogFile, didRollAndArchiveLogFile };

class DDLogFileManager {
public:
    virtual ~DDLogFileManager() = default;

    virtual std::string logsDirectory() = 0;
    virtual std::vector<std::string> unsortedLogFilePaths() = 0;
    virtual std::vector<std::string> unsortedLogFileNames() = 0;
    virtual std::vector<DDLogFileInfoPtr> unsortedLogFileInfos() = 0;
    // Newest creation date first.
    virtual std::vector<std::string> sortedLogFilePaths() = 0;
    virtual std::vector<std::string> sortedLogFileNames() = 0;
    virtual std::vector<DDLogFileInfoPtr> sortedLogFileInfos() = 0;
    // Creates an empty log file and returns its full path.
    virtual std::string createNewLogFile() = 0;
    virtual std::uint64_t maximumNumberOfLogFiles() const = 0;
    virtual void setMaximumNumberOfLogFiles(std::uint64_t maximum) = 0;

    // Optional notifications from the file logger; sent only when implements() says so.
    virtual bool implements(DDLogFileManagerOperation) const { return false; }
    virtual void didArchiveLogFile(const std::string& /*logFilePath*/) {}
    virtual void didRollAndArchiveLogFile(const std::string& /*logFilePath*/) {}
};
using DDLogFileManagerPtr = std::shared_ptr<DDLogFileManager>;

// One directory of files named "log-XXXXXX.txt" (six upper-case hex digits), keeping the newest
// maximumNumberOfLogFiles archived files. Hold it in a shared_ptr: a change of the maximum prunes
// later, on the global logging queue, and only while the manager is still alive.
class DDLogFileManagerDefault : public DDLogFileManager,
                                public std::enable_shared_from_this<DDLogFileManagerDefault> {
public:
    // Null: the default logs directory.
    explicit DDLogFileManagerDefault(std::optional<std::string> logsDirectory = std::nullopt);

    // "$XDG_STATE_HOME/Logs/<process name>" (default ~/.local/state). Without a home the
    // user's private $XDG_RUNTIME_DIR stands in, else a folder of the user's own in the
    // temporary directory, "<tmp>/Logs-<uid>", made 0700 and checked to be the user's and
    // private before anything is written below it.
    static std::string defaultLogsDirectory();
    // The same for given environment values (any may be null), process name and user id.
    static std::string defaultLogsDirectory(const char* xdgStateHome, const char* home,
                                            const char* xdgRuntimeDir, const char* tmpDir,
                                            const std::string& processName, uid_t uid);

    std::string logsDirectory() override;
    static bool isLogFile(const std::string& fileName);

    std::vector<std::string> unsortedLogFilePaths() override;
    std::vector<std::string> unsortedLogFileNames() override;
    std::vector<DDLogFileInfoPtr> unsortedLogFileInfos() override;
    std::vector<std::string> sortedLogFilePaths() override;
    std::vector<std::string> sortedLogFileNames() override;
    std::vector<DDLogFileInfoPtr> sortedLogFileInfos() override;

    std::string createNewLogFile() override;
    // Six upper-case hexadecimal digits of a random UUID.
    virtual std::string generateShortUUID();
    void deleteOldLogFiles();

    std::uint64_t maximumNumberOfLogFiles() const override;
    // A different value prunes asynchronously on the global logging queue.
    void setMaximumNumberOfLogFiles(std::uint64_t maximum) override;

private:
    DDLogFileManagerDefault(std::string logsDirectory, bool useDefault);
    // Creates what is missing of the directory; false when it cannot be used.
    bool prepareLogsDirectory();

    std::atomic<std::uint64_t> maximumNumberOfLogFiles_{5};
    const std::string logsDirectory_;
    // A folder that must be the user's and private (empty: none), with the logs below it.
    const std::string privateRoot_;
    std::atomic<bool> reportedUnsafe_{false};
};
