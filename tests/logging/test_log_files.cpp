// Log files: how the manager names, lists, marks and prunes them, and how the file logger
// writes, reuses and rolls them. Runs under with-small-filesystems.sh (a file system without
// extended attributes and a tiny one that fills up).
#include "logging/DDFileLogger.h"
#include "logging/DDLog.h"
#include "logging/DDLogFileManager.h"
#include "platform/core/thread_info.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <semaphore>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Names = std::vector<std::string>;

namespace {

DDLogMessagePtr
message(const std::string& text,
        std::chrono::system_clock::time_point when = std::chrono::system_clock::now()) {
    DDLogOrigin origin;
    origin.timestamp = when;
    return std::make_shared<const DDLogMessage>(std::make_shared<const std::string>(text),
                                                LogLevelVerbose, LogFlagInfo, 0, "f.cpp", "fn", 1,
                                                DDLogTag(), 0, origin);
}

// A directory from the environment (set by with-small-filesystems.sh); fails the test if unset.
fs::path mountedDir(const char* variable) {
    const char* dir = std::getenv(variable);
    EXPECT_NE(dir, nullptr) << variable << " is not set: run under with-small-filesystems.sh";
    return dir ? dir : "";
}

// Creates the named files oldest first, each with a creation date later than the one before
// (file systems stamp creation times from a coarse clock, so this waits for it to tick).
void createInOrder(const fs::path& dir, const Names& names, const std::string& contents = "") {
    std::optional<DDLogFileInfo::Date> previous;
    for (const auto& name : names) {
        const std::string path = (dir / name).string();
        for (;;) {
            std::ofstream(path, std::ios::trunc) << contents;
            const auto created = DDLogFileInfo(path).creationDate();
            if (!previous || *created > *previous) {
                previous = created;
                break;
            }
            fs::remove(path);
            std::this_thread::sleep_for(1ms);
        }
    }
}

Names sortedNames(const fs::path& dir) {
    Names names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

mode_t modeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// A log file that tells a fixed age instead of the time since its creation.
struct AgedInfo : DDLogFileInfo {
    AgedInfo(std::string path, double fixedAge) : DDLogFileInfo(std::move(path)), fixed(fixedAge) {}
    double age() override { return fixed; }
    double fixed;
};

// Records what the logger tells its manager. It can hand out given short names before random
// ones, list the newest file with a given age, and hand the logger a planted entry, as a manager
// that does not check its folder would: either listed as the newest file, or returned as the new
// file (as if swapped in right after it was made).
class RecordingManager : public DDLogFileManagerDefault {
public:
    explicit RecordingManager(const fs::path& dir) : DDLogFileManagerDefault(dir.string()) {}
    bool implements(DDLogFileManagerOperation) const override { return true; }
    void didArchiveLogFile(const std::string& path) override {
        events.push_back("archived " + path);
    }
    void didRollAndArchiveLogFile(const std::string& path) override {
        events.push_back("rolled " + path);
    }
    std::vector<DDLogFileInfoPtr> sortedLogFileInfos() override {
        auto infos = DDLogFileManagerDefault::sortedLogFileInfos();
        if (newestAge && !infos.empty()) {
            infos.front() = std::make_shared<AgedInfo>(infos.front()->filePath(), *newestAge);
        }
        if (!planted.empty() && !plantedAsNewFile) {
            infos.insert(infos.begin(), DDLogFileInfo::logFileWithPath(planted));
        }
        return infos;
    }
    std::string createNewLogFile() override {
        return plantedAsNewFile ? planted : DDLogFileManagerDefault::createNewLogFile();
    }
    std::string generateShortUUID() override {
        if (shortNames.empty()) {
            return DDLogFileManagerDefault::generateShortUUID();
        }
        std::string next = shortNames.front();
        shortNames.pop_front();
        return next;
    }
    Names events; // written on the logger's queue: read after waiting there
    std::deque<std::string> shortNames;
    std::optional<double> newestAge;
    std::string planted;
    bool plantedAsNewFile = false;
};

// Stands in for fsync(2) and notes, per call, the path of the file it was for (empty when the
// descriptor was no longer open).
struct SyncRecorder {
    // The files synced so far, once one came (the sync at a roll runs on a shared queue).
    Names synced() {
        std::unique_lock lock(mutex);
        arrived.wait_for(lock, 10s, [&] { return !paths.empty(); });
        return paths;
    }
    void record(int fd) {
        std::error_code closed; // leaves the path empty
        const fs::path path = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), closed);
        std::lock_guard lock(mutex);
        paths.push_back(path.string());
        arrived.notify_all();
    }
    std::mutex mutex;
    std::condition_variable arrived;
    Names paths;
};

// A logger with a recording manager and sync, writing messages' text as they are (no date)
// unless told otherwise.
struct Fixture {
    explicit Fixture(std::shared_ptr<RecordingManager> m, bool plain = true)
        : manager(std::move(m)),
          logger(std::make_shared<DDFileLogger>(manager, [s = syncs](int fd) { s->record(fd); })) {
        if (plain) {
            logger->setLogFormatter(nullptr);
        }
    }
    explicit Fixture(const fs::path& dir) : Fixture(std::make_shared<RecordingManager>(dir)) {}
    // Earlier setting changes have taken effect once a reader returns.
    void settle() { (void)logger->maximumFileSize(); }
    void log(const std::string& text) {
        settle();
        dispatch::sync(logger->loggerQueue(), [&] { logger->logMessage(message(text)); });
    }
    std::string currentPath() {
        std::string path;
        dispatch::sync(logger->loggerQueue(), [&] {
            const auto& info = logger->currentLogFileInfoIfOpen();
            path = info ? info->filePath() : "";
        });
        return path;
    }
    bool hasTimer() {
        bool armed = false;
        dispatch::sync(logger->loggerQueue(), [&] { armed = logger->hasRollingTimer(); });
        return armed;
    }

    std::shared_ptr<SyncRecorder> syncs = std::make_shared<SyncRecorder>();
    std::shared_ptr<RecordingManager> manager;
    std::shared_ptr<DDFileLogger> logger;
};

bool archived(const std::string& path) {
    return DDLogFileInfo(path).isArchived();
}

} // namespace

TEST(DDLogFileManager, RecognisesLogFileNames) {
    const std::pair<const char*, bool> cases[] = {
        {"log-0A1B2C.txt", true},  {"log-0A1B2C", true},      {"log-ABCDEF.old", true},
        {"log-0a1b2c.txt", false}, {"log-0A1B2.txt", false},  {"LOG-0A1B2C.txt", false},
        {"log-", false},           {"log-0A1B2G.txt", false}, {".log-0A1B2C.txt.mark", false},
    };
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(DDLogFileManagerDefault::isLogFile(name), expected) << name;
    }
}

// Log lines can tell a lot about the user: folders and files are private whatever the umask.
TEST(DDLogFileManager, NewFilesAreEmptyPrivateWithFreshNamesInPrivateFoldersMadeOnDemand) {
    TempDir tmp;
    const std::string dir = (tmp.path() / "a" / "b").string();
    const mode_t mask = ::umask(0);
    auto manager = std::make_shared<RecordingManager>(dir);
    manager->shortNames = {"AAAAAA"};
    const std::string first = manager->createNewLogFile();
    ::umask(mask);
    EXPECT_EQ(first, dir + "/log-AAAAAA.txt");
    EXPECT_EQ(modeOf(tmp.path() / "a"), 0700u);
    EXPECT_EQ(modeOf(dir), 0700u);
    std::ofstream(first) << "kept\n";

    // The same name again is taken: the next one is used and the old file is left alone.
    manager->shortNames = {"AAAAAA", "AAAAAA"};
    const std::string second = manager->createNewLogFile();
    EXPECT_TRUE(DDLogFileManagerDefault::isLogFile(fs::path(second).filename().string())) << second;
    EXPECT_EQ(readFile(first), "kept\n");
    EXPECT_EQ(fs::file_size(second), 0u);
    EXPECT_EQ(modeOf(first), 0600u);
    EXPECT_EQ(modeOf(second), 0600u);

    // A folder that cannot be made lists nothing.
    DDLogFileManagerDefault blocked(tmp.write("file", "") + "/logs");
    EXPECT_TRUE(blocked.unsortedLogFilePaths().empty());
}

TEST(DDLogFileManager, ListsNewestFirstAndPrunesOnlyArchivedFilesBeyondTheMaximum) {
    const std::tuple<const char*, std::uint64_t, std::vector<bool>, std::size_t> cases[] = {
        // maximum number of files, archived marks newest first, how many of the newest are kept
        {"unarchived newest", 2, {false, true, true, true, true}, 3},
        {"all archived", 2, {true, true, true, true, true}, 2},
        {"no limit", 0, {true, true, true, true, true}, 5},
        {"unarchived not newest", 1, {true, false, true}, 1},
    };
    for (const auto& [what, maximum, archivedNewestFirst, kept] : cases) {
        SCOPED_TRACE(what);
        TempDir tmp;
        Names all; // newest first
        for (std::size_t i = 0; i < archivedNewestFirst.size(); ++i) {
            all.push_back("log-00000" + std::to_string(i) + ".txt");
        }
        createInOrder(tmp.path(), Names(all.rbegin(), all.rend()));
        for (std::size_t i = 0; i < all.size(); ++i) {
            DDLogFileInfo((tmp.path() / all[i]).string()).setIsArchived(archivedNewestFirst[i]);
        }
        auto manager = std::make_shared<DDLogFileManagerDefault>(tmp.path().string());
        EXPECT_EQ(manager->sortedLogFileNames(), all);
        manager->setMaximumNumberOfLogFiles(maximum);
        DDLog::flushLog(); // the change prunes on the logging queue
        EXPECT_EQ(manager->sortedLogFileNames(), Names(all.begin(), all.begin() + kept));
    }
}

TEST(DDLogFileManager, AFileMadeRightAfterAnArchivedOneIsNeverPruned) {
    // Creation dates come from a coarse clock: the new file often shares the archived one's.
    TempDir tmp;
    auto manager = std::make_shared<DDLogFileManagerDefault>(tmp.path().string());
    manager->setMaximumNumberOfLogFiles(1);
    DDLog::flushLog();
    for (int round = 0; round < 20; ++round) {
        const std::string current = manager->createNewLogFile();
        ASSERT_EQ(manager->sortedLogFilePaths().front(), current) << "round " << round;
        DDLogFileInfo(current).setIsArchived(true);
    }
    EXPECT_EQ(manager->unsortedLogFilePaths().size(), 2u); // the last one and one kept

    // The pruning a change queues does not outlive its manager.
    std::binary_semaphore release(0);
    dispatch::async(DDLog::loggingQueue(), [&] { release.acquire(); });
    std::make_shared<DDLogFileManagerDefault>(tmp.path().string())->setMaximumNumberOfLogFiles(1);
    release.release();
    DDLog::flushLog();
    EXPECT_EQ(sortedNames(tmp.path()).size(), 2u);
}

// Where the file system keeps no extended attributes (ramfs), a hidden sidecar file holds the
// mark instead. Either way the mark follows a rename and goes when the file is pruned.
TEST(DDLogFileInfo, ArchivedMarkIsAnExtendedAttributeOrWithoutThemASidecarFile) {
    TempDir tmp;
    for (const bool sidecar : {false, true}) {
        SCOPED_TRACE(sidecar ? "no extended attributes" : "extended attributes");
        const fs::path dir = sidecar ? mountedDir("BRIMWELL_TEST_NOXATTR_DIR") : tmp.path();
        ASSERT_FALSE(dir.empty());
        // How the file system shows a file's mark.
        const auto mark = [&](const std::string& name) -> std::string {
            if (::getxattr((dir / name).c_str(), "user.lumberjack.log.archived", nullptr, 0) == 0) {
                return "xattr";
            }
            return fs::exists(dir / ("." + name + ".lumberjack.log.archived")) ? "sidecar" : "";
        };
        createInOrder(dir, {"log-0A1B2C.txt", "log-0A1B2E.txt"});
        const std::string path = (dir / "log-0A1B2C.txt").string();
        auto info = DDLogFileInfo::logFileWithPath(path);
        info->setIsArchived(true);
        EXPECT_EQ(mark("log-0A1B2C.txt"), sidecar ? "sidecar" : "xattr");
        EXPECT_TRUE(DDLogFileInfo(path).isArchived());
        info->setIsArchived(false);
        EXPECT_EQ(mark("log-0A1B2C.txt"), "");

        info->setIsArchived(true);
        info->renameFile("log-0A1B2D.txt");
        EXPECT_EQ(mark("log-0A1B2C.txt"), "");
        EXPECT_EQ(mark("log-0A1B2D.txt"), sidecar ? "sidecar" : "xattr");
        auto manager = std::make_shared<DDLogFileManagerDefault>(dir.string());
        EXPECT_EQ(manager->sortedLogFileNames(), (Names{"log-0A1B2E.txt", "log-0A1B2D.txt"}));

        // Pruned files take their marks with them.
        DDLogFileInfo((dir / "log-0A1B2E.txt").string()).setIsArchived(true);
        manager->setMaximumNumberOfLogFiles(1);
        DDLog::flushLog();
        EXPECT_FALSE(fs::exists(dir / "log-0A1B2D.txt"));
        EXPECT_EQ(mark("log-0A1B2D.txt"), "");
        for (const auto& entry : fs::directory_iterator(dir)) {
            fs::remove(entry.path());
        }
    }
    // A mark on a file that is gone does not take.
    DDLogFileInfo gone((tmp.path() / "log-0A1B2C.txt").string());
    gone.setIsArchived(true);
    EXPECT_FALSE(gone.isArchived());
}

TEST(DDLogFileManager, LogsDirectoryDefaultsNeverUseASharedFolder) {
    const std::tuple<const char*, const char*, const char*, const char*, const char*> cases[] = {
        // state home, home, runtime dir, tmp dir -> logs directory
        {"/state", "/home/u", "/run/user/7", "/scratch", "/state/Logs/brimwell"},
        {"relative", "/home/u", nullptr, nullptr, "/home/u/.local/state/Logs/brimwell"},
        {nullptr, nullptr, "/run/user/7", "/scratch", "/run/user/7/Logs/brimwell"},
        {nullptr, "relative", "relative", "/scratch", "/scratch/Logs-7/brimwell"},
        {nullptr, nullptr, nullptr, nullptr, "/tmp/Logs-7/brimwell"},
    };
    for (const auto& [state, home, runtime, tmpDir, expected] : cases) {
        EXPECT_EQ(DDLogFileManagerDefault::defaultLogsDirectory(state, home, runtime, tmpDir,
                                                                "brimwell", 7),
                  expected);
    }
}

// Without a home the logs go below a per-user folder in the temporary directory, which must be
// a private folder of the user: one made by someone else first is refused, and nothing is
// written below it.
TEST(DDLogFileManager, ThePerUserFallbackFolderMustBePrivate) {
    const std::string process = thread_info::processName();
    enum Kind { Nothing, Folder, Link, File };
    const std::tuple<const char*, Kind, fs::perms, bool> cases[] = {
        {"made afresh", Nothing, fs::perms::none, true},
        {"already there and private", Folder, fs::perms::owner_all, true},
        {"open to others", Folder, fs::perms::all, false},
        {"a link to a private folder", Link, fs::perms::owner_all, false},
        {"a file", File, fs::perms::none, false},
    };
    TempDir tmp;
    const ScopedEnv env({{"XDG_STATE_HOME", nullptr},
                         {"HOME", nullptr},
                         {"XDG_RUNTIME_DIR", nullptr},
                         {"TMPDIR", tmp.path().c_str()}});
    const fs::path root = tmp.path() / ("Logs-" + std::to_string(::geteuid()));
    const fs::path elsewhere = tmp.path() / "elsewhere";
    for (const auto& [what, kind, perms, usable] : cases) {
        SCOPED_TRACE(what);
        fs::remove_all(root);
        fs::remove_all(elsewhere);
        if (kind == Folder || kind == Link) {
            fs::create_directory(kind == Folder ? root : elsewhere);
            fs::permissions(kind == Folder ? root : elsewhere, perms);
        }
        if (kind == Link) {
            fs::create_directory_symlink(elsewhere, root);
        } else if (kind == File) {
            std::ofstream(root.string());
        }
        const auto manager = std::make_shared<DDLogFileManagerDefault>();
        testing::internal::CaptureStderr();
        EXPECT_EQ(manager->logsDirectory(), (root / process).string());
        manager->createNewLogFile();
        manager->createNewLogFile(); // reported once
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  usable
                      ? ""
                      : "DDFileLogManagerDefault: Error creating logsDirectory: " + root.string() +
                            " is not a private folder of this user; no log files are written\n");
        EXPECT_EQ(manager->unsortedLogFilePaths().size(), usable ? 2u : 0u);
        EXPECT_TRUE(usable ? modeOf(root) == 0700u : !fs::exists(elsewhere / process));
    }
}

// A file deleted underneath is not brought back: the next line goes to a new file.
TEST(DDFileLogger, FirstMessageMakesAFileWithTheDefaultLayoutAndOneDeletedLosesNoLine) {
    TempDir tmp;
    Fixture f(std::make_shared<RecordingManager>(tmp.path() / "logs"), false);
    // 2014-03-05 07:08:09.012 UTC (the test runs with TZ=UTC): date, two blanks, text.
    const auto when = std::chrono::system_clock::time_point(1394003289012ms);
    const auto log = [&](const char* text) {
        dispatch::sync(f.logger->loggerQueue(), [&] { f.logger->logMessage(message(text, when)); });
    };
    log("first");
    log("second\n"); // keeps its one line feed
    const auto names = sortedNames(tmp.path() / "logs");
    ASSERT_EQ(names.size(), 1u);
    const std::string first = (tmp.path() / "logs" / names[0]).string();
    EXPECT_EQ(readFile(first), "2014/03/05 07:08:09:012  first\n2014/03/05 07:08:09:012  second\n");
    fs::remove(first);
    log("third");
    EXPECT_NE(f.currentPath(), first);
    EXPECT_EQ(readFile(f.currentPath()), "2014/03/05 07:08:09:012  third\n");
}

TEST(DDFileLogger, ReusesTheNewestFileOnlyWhenUnarchivedBelowTheSizeLimitAndYoungerThanTheAge) {
    constexpr double kDay = 60 * 60 * 24;
    struct Case {
        const char* what;
        std::size_t bytes;             // of the newest file
        std::optional<double> age;     // of the newest file; unset: its real age (moments)
        bool archived;                 // the newest file's mark before the logger starts
        std::uint64_t maximumFileSize; // 0: no size limit
        double rollingFrequency;       // 0 or less: no age limit
        bool reused;
    };
    const Case cases[] = {
        {"archived", 4, std::nullopt, true, 1000, kDay, false},
        {"one byte below the size limit", 999, std::nullopt, false, 1000, kDay, true},
        {"at the size limit", 1000, std::nullopt, false, 1000, kDay, false},
        {"any size without a size limit", 2 * 1024 * 1024, std::nullopt, false, 0, kDay, true},
        {"one second younger than the age limit", 4, kDay - 1, false, 1000, kDay, true},
        {"at the age limit", 4, kDay, false, 1000, kDay, false},
        {"one second older than the age limit", 4, kDay + 1, false, 1000, kDay, false},
        {"any age without an age limit", 4, 100 * kDay, false, 1000, 0, true},
        {"any age with a negative age limit", 4, 100 * kDay, false, 1000, -1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir tmp;
        const std::string contents = std::string(c.bytes - 1, 'x') + "\n";
        createInOrder(tmp.path(), {"log-00000A.txt", "log-00000B.txt"}, contents);
        const std::string newest = (tmp.path() / "log-00000B.txt").string();
        DDLogFileInfo(newest).setIsArchived(c.archived);
        auto manager = std::make_shared<RecordingManager>(tmp.path());
        manager->newestAge = c.age;
        manager->shortNames = {"00000C"};
        Fixture f(manager);
        f.logger->setMaximumFileSize(c.maximumFileSize);
        f.logger->setRollingFrequency(c.rollingFrequency);
        f.log("new");

        const fs::path made = tmp.path() / "log-00000C.txt";
        EXPECT_EQ(readFile(newest), c.reused ? contents + "new\n" : contents);
        EXPECT_EQ(sortedNames(tmp.path()).size(), c.reused ? 2u : 3u);
        if (c.reused) {
            // Reaching the size limit with this very line rolls it; nothing else is reported.
            for (const auto& event : f.manager->events) {
                EXPECT_EQ(event, "rolled " + newest);
            }
        } else {
            EXPECT_TRUE(archived(newest));
            EXPECT_EQ(readFile(made), "new\n");
            // Only a file found unfit is archived here and reported.
            EXPECT_EQ(f.manager->events, c.archived ? Names{} : Names{"archived " + newest});
        }
    }
}

// However a file ends, it is synced to disk first (through the seam, once); all but the logger's
// end also archive and report it and stop its age timer, and the next message goes to a new file.
TEST(DDFileLogger, EveryFileIsSyncedBeforeItIsClosedAndARolledOneArchived) {
    // rollLogFile, the line that reaches the size limit, the size limit lowered to the file's size,
    // the age limit's timer with no message coming, removal from the core, the logger's end
    enum Trigger { Roll, SizeLimit, Lowered, Age, Removal, Teardown };
    for (const Trigger trigger : {Roll, SizeLimit, Lowered, Age, Removal, Teardown}) {
        SCOPED_TRACE(trigger);
        TempDir tmp;
        Fixture f(tmp.path());
        f.logger->setMaximumFileSize(trigger == SizeLimit ? 8 : 0);
        if (trigger == Age) {
            f.logger->setRollingFrequency(0.2);
        }
        f.log("one"); // four bytes: below the limit of eight
        const std::string path = f.currentPath();
        EXPECT_TRUE(f.hasTimer()); // a day by default
        switch (trigger) {
        case Roll:
            f.logger->rollLogFile();
            f.settle();
            break;
        case SizeLimit:
            f.log("two");
            break;
        case Lowered:
            f.logger->setMaximumFileSize(4);
            break;
        case Age:
            break;
        case Removal:
            DDLog::addLogger(f.logger);
            DDLog::removeLogger(f.logger);
            DDLog::flushLog();
            break;
        case Teardown:
            f.logger.reset();
            break;
        }
        EXPECT_EQ(f.syncs->synced(), Names{fs::canonical(path).string()});
        EXPECT_EQ(readFile(path), trigger == SizeLimit ? "one\ntwo\n" : "one\n");
        if (trigger == Teardown) {
            continue;
        }
        EXPECT_EQ(f.currentPath(), ""); // nothing open until the next message
        EXPECT_FALSE(f.hasTimer());
        EXPECT_TRUE(archived(path));
        EXPECT_EQ(f.manager->events, Names{"rolled " + path});
        // Zero limits: the next file neither rolls at once nor times out.
        f.logger->setMaximumFileSize(0);
        f.logger->setRollingFrequency(0);
        f.log("next");
        const std::string next = f.currentPath();
        EXPECT_EQ(readFile(next), "next\n");
        EXPECT_FALSE(archived(next));
        EXPECT_FALSE(f.hasTimer());
    }
}

TEST(DDFileLogger, AFullDiskKeepsWholeLinesAndWritingResumesWhenSpaceReturns) {
    const fs::path dir = mountedDir("BRIMWELL_TEST_FULL_DIR");
    ASSERT_FALSE(dir.empty());
    std::ofstream(dir / "filler") << std::string(40 * 1024, 'f'); // most of the 64 KiB
    Fixture f(dir / "logs");
    f.logger->setMaximumFileSize(0);
    const std::string line(99, 'l'); // 100 bytes
    for (int i = 0; i < 400; ++i) {  // far more than fits
        f.log(line);
    }
    const auto names = sortedNames(dir / "logs");
    ASSERT_EQ(names.size(), 1u); // no flood of empty files while full
    const std::string path = (dir / "logs" / names[0]).string();
    const std::string contents = readFile(path);
    EXPECT_GT(contents.size(), 0u);
    EXPECT_LT(contents.size(), 400u * 100u);
    EXPECT_EQ(contents.size() % 100, 0u) << "a partial line was left in the file";

    fs::remove(dir / "filler");
    f.log("after");
    EXPECT_EQ(readFile(path).substr(contents.size()), "after\n");
    f.logger.reset();
    fs::remove_all(dir / "logs");
}

TEST(DDFileLogger, NeverWritesThroughWhatWasPlantedInTheLogFolder) {
    enum Kind { Symlink, HardLink, Fifo };
    for (int row = 0; row < 6; ++row) {
        // Each kind listed as the newest file, then each returned as the new file.
        const Kind kind = static_cast<Kind>(row % 3);
        const bool asNewFile = row >= 3;
        SCOPED_TRACE(row);
        TempDir tmp;
        const fs::path dir = tmp.path() / "logs";
        fs::create_directory(dir);
        const std::string target = tmp.write("precious", "keep me\n");
        const std::string planted = (dir / "log-AAAAAA.txt").string();
        if (kind == Symlink) {
            fs::create_symlink(target, planted);
        } else if (kind == HardLink) {
            fs::create_hard_link(target, planted);
        } else {
            ASSERT_EQ(::mkfifo(planted.c_str(), 0600), 0);
        }
        // However it is named, the manager never lists it, so never reuses, marks or prunes it.
        EXPECT_TRUE(DDLogFileManagerDefault(dir.string()).unsortedLogFileNames().empty());
        auto manager = std::make_shared<RecordingManager>(dir);
        manager->planted = planted;
        manager->plantedAsNewFile = asNewFile;
        manager->shortNames = {"00000C"};
        Fixture f(manager);
        testing::internal::CaptureStderr();
        f.log("one"); // a FIFO would hang here
        f.log("two");
        const std::string err = testing::internal::GetCapturedStderr();

        EXPECT_EQ(readFile(target), "keep me\n");
        EXPECT_FALSE(archived(target));
        // Passed over, unmarked, for a file of the logger's own; with nothing else to write to,
        // the lines are dropped, and that is said once.
        EXPECT_EQ(sortedNames(dir).size(), asNewFile ? 1u : 2u);
        EXPECT_EQ(readFile(dir / "log-00000C.txt"), asNewFile ? "" : "one\ntwo\n");
        EXPECT_EQ(err, asNewFile ? "DDFileLogger: " + planted +
                                       " is not a regular file of this user; skipped\n"
                                 : "");
    }
}
