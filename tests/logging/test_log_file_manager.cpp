#include "logging/DDLog.h"
#include "logging/DDLogFileManager.h"
#include "logging/log_file_test_support.h"
#include "platform/core/thread_info.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <regex>
#include <semaphore>
#include <sys/stat.h>
#include <sys/xattr.h>

namespace fs = std::filesystem;
using logfiles::createInOrder;
using logfiles::sortedNames;
using Names = std::vector<std::string>;

namespace {

// Hands out the given short names first, then random ones.
class ScriptedManager : public DDLogFileManagerDefault {
public:
    ScriptedManager(std::string dir, std::deque<std::string> names)
        : DDLogFileManagerDefault(std::move(dir)), names_(std::move(names)) {}
    std::string generateShortUUID() override {
        if (names_.empty()) {
            return DDLogFileManagerDefault::generateShortUUID();
        }
        std::string next = names_.front();
        names_.pop_front();
        return next;
    }

private:
    std::deque<std::string> names_;
};

std::string captureStderr(const std::function<void()>& work) {
    testing::internal::CaptureStderr();
    work();
    return testing::internal::GetCapturedStderr();
}

mode_t modeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

std::string numbered(std::size_t i) {
    return "log-00000" + std::to_string(i) + ".txt";
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
    auto manager = std::make_shared<ScriptedManager>(dir, std::deque<std::string>{"AAAAAA"});
    const std::string first = manager->createNewLogFile();
    ::umask(mask);
    EXPECT_EQ(first, dir + "/log-AAAAAA.txt");
    EXPECT_EQ(modeOf(tmp.path() / "a"), 0700u);
    EXPECT_EQ(modeOf(dir), 0700u);
    std::ofstream(first) << "kept\n";

    // The same name again is taken: the next one is used and the old file is left alone.
    manager = std::make_shared<ScriptedManager>(dir, std::deque<std::string>{"AAAAAA", "AAAAAA"});
    const std::string second = manager->createNewLogFile();
    EXPECT_NE(second, first);
    EXPECT_TRUE(
        std::regex_match(fs::path(second).filename().string(), std::regex("log-[0-9A-F]{6}\\.txt")))
        << second;
    EXPECT_EQ(readFile(first), "kept\n");
    EXPECT_EQ(fs::file_size(second), 0u);
    for (const std::string& path : {first, second}) {
        EXPECT_EQ(modeOf(path), 0600u) << path;
    }
    EXPECT_EQ(manager->unsortedLogFileNames().size(), 2u);

    const std::string blocker = tmp.write("file", "");
    DDLogFileManagerDefault blocked(blocker + "/logs");
    std::string blockedDir;
    const std::string err = captureStderr([&] { blockedDir = blocked.logsDirectory(); });
    EXPECT_EQ(blockedDir, blocker + "/logs");
    EXPECT_EQ(err.rfind("DDFileLogManagerDefault: Error creating logsDirectory: ", 0), 0u) << err;
    EXPECT_TRUE(blocked.unsortedLogFilePaths().empty());
}

TEST(DDLogFileManager, ListsNewestFirstAndPrunesOnlyArchivedFilesBeyondTheMaximum) {
    struct Case {
        const char* what;
        std::uint64_t maximum;
        std::vector<bool> archivedNewestFirst;
        std::vector<int> keptNewestFirst; // indexes into the list
    };
    const Case cases[] = {
        {"unarchived newest", 2, {false, true, true, true, true}, {0, 1, 2}},
        {"all archived", 2, {true, true, true, true, true}, {0, 1}},
        {"no limit", 0, {true, true, true, true, true}, {0, 1, 2, 3, 4}},
        {"unarchived not newest", 1, {true, false, true}, {0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir tmp;
        Names all, kept; // newest first
        for (std::size_t i = 0; i < c.archivedNewestFirst.size(); ++i) {
            all.push_back(numbered(i));
        }
        createInOrder(tmp.path(), Names(all.rbegin(), all.rend()));
        for (std::size_t i = 0; i < all.size(); ++i) {
            DDLogFileInfo((tmp.path() / all[i]).string()).setIsArchived(c.archivedNewestFirst[i]);
        }
        auto manager = std::make_shared<DDLogFileManagerDefault>(tmp.path().string());
        EXPECT_EQ(manager->sortedLogFileNames(), all);

        manager->setMaximumNumberOfLogFiles(c.maximum);
        manager->deleteOldLogFiles();
        DDLog::flushLog(); // and the change's own pruning
        for (int i : c.keptNewestFirst) {
            kept.push_back(numbered(static_cast<std::size_t>(i)));
        }
        EXPECT_EQ(manager->sortedLogFileNames(), kept);
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
}

TEST(DDLogFileManager, ChangingTheMaximumPrunesLaterOnTheLoggingQueue) {
    TempDir tmp;
    Names names;
    for (std::size_t i = 7; i-- > 0;) {
        names.push_back(numbered(i));
    }
    createInOrder(tmp.path(), names);
    auto manager = std::make_shared<DDLogFileManagerDefault>(tmp.path().string());
    for (const auto& info : manager->unsortedLogFileInfos()) {
        info->setIsArchived(true);
    }

    manager->setMaximumNumberOfLogFiles(5); // unchanged: nothing happens
    DDLog::flushLog();
    EXPECT_EQ(manager->unsortedLogFilePaths().size(), 7u);

    // Hold the logging queue: the pruning is queued behind, not done in the setter.
    std::binary_semaphore release(0);
    dispatch::async(DDLog::loggingQueue(), [&] { release.acquire(); });
    manager->setMaximumNumberOfLogFiles(3);
    EXPECT_EQ(manager->unsortedLogFilePaths().size(), 7u);
    release.release();
    DDLog::flushLog();
    EXPECT_EQ(manager->sortedLogFileNames(), (Names{numbered(0), numbered(1), numbered(2)}));

    // A manager gone before its pruning ran prunes nothing and does not crash.
    dispatch::async(DDLog::loggingQueue(), [&] { release.acquire(); });
    manager->setMaximumNumberOfLogFiles(1);
    manager.reset();
    release.release();
    DDLog::flushLog();
    EXPECT_EQ(sortedNames(tmp.path()).size(), 3u);
}

TEST(DDLogFileInfo, ArchivedMarkIsARealExtendedAttribute) {
    TempDir tmp;
    const std::string path = tmp.write("log-0A1B2C.txt", "x\n");
    const auto marked = [&] {
        return ::getxattr(path.c_str(), "user.lumberjack.log.archived", nullptr, 0) == 0;
    };
    DDLogFileInfo info(path);
    EXPECT_FALSE(info.isArchived());
    // Removing a mark that is not there is no error worth a line.
    EXPECT_EQ(captureStderr([&] { info.setIsArchived(false); }), "");

    info.setIsArchived(true);
    EXPECT_TRUE(marked());
    EXPECT_TRUE(DDLogFileInfo(path).isArchived());
    EXPECT_FALSE(fs::exists(tmp.path() / ".log-0A1B2C.txt.lumberjack.log.archived"));

    info.setIsArchived(false);
    EXPECT_FALSE(marked());
    EXPECT_FALSE(DDLogFileInfo(path).isArchived());

    // A mark on a file that is gone fails with the documented line.
    fs::remove(path);
    const std::string err = captureStderr([&] { info.setIsArchived(true); });
    EXPECT_EQ(err,
              "DDLogFileInfo: setxattr(lumberjack.log.archived, log-0A1B2C.txt): error = -1\n");
    EXPECT_FALSE(info.isArchived());
}

TEST(DDLogFileInfo, WithoutExtendedAttributesASidecarMarkTravelsWithTheFile) {
    const fs::path dir = logfiles::mountedDir("BRIMWELL_TEST_NOXATTR_DIR");
    ASSERT_FALSE(dir.empty());
    const std::string path = (dir / "log-0A1B2C.txt").string();
    std::ofstream(path) << "x\n";
    ASSERT_EQ(::setxattr(path.c_str(), "user.probe", nullptr, 0, 0), -1); // really none here

    auto info = DDLogFileInfo::logFileWithPath(path);
    EXPECT_EQ(captureStderr([&] { info->setIsArchived(false); }), "");
    EXPECT_FALSE(info->isArchived());
    info->setIsArchived(true);
    EXPECT_TRUE(DDLogFileInfo(path).isArchived());
    EXPECT_TRUE(fs::exists(dir / ".log-0A1B2C.txt.lumberjack.log.archived"));

    info->renameFile("log-0A1B2D.txt");
    EXPECT_EQ(info->filePath(), (dir / "log-0A1B2D.txt").string());
    EXPECT_TRUE(info->isArchived());
    auto manager = std::make_shared<DDLogFileManagerDefault>(dir.string());
    EXPECT_EQ(manager->unsortedLogFileNames(), Names{"log-0A1B2D.txt"});

    // Pruned files take their marks with them; a new unmarked file is not archived.
    manager->setMaximumNumberOfLogFiles(1);
    DDLog::flushLog();
    const std::string newer = manager->createNewLogFile();
    EXPECT_FALSE(DDLogFileInfo(newer).isArchived());
    DDLogFileInfo(newer).setIsArchived(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(5)); // a later creation date
    manager->createNewLogFile();
    EXPECT_EQ(manager->unsortedLogFilePaths().size(), 2u);
    EXPECT_FALSE(fs::exists(dir / "log-0A1B2D.txt"));
    EXPECT_FALSE(fs::exists(dir / ".log-0A1B2D.txt.lumberjack.log.archived"));
    for (const auto& entry : fs::directory_iterator(dir)) {
        fs::remove(entry.path());
    }
}

TEST(DDLogFileInfo, ReadsAttributesOnceAndDescribesMissingFilesAsEmpty) {
    TempDir tmp;
    const std::string path = tmp.write("log-0A1B2C.txt", "12345");
    DDLogFileInfo info(path);
    EXPECT_EQ(info.fileName(), "log-0A1B2C.txt");
    EXPECT_EQ(info.fileSize(), 5u);
    ASSERT_TRUE(info.creationDate());
    EXPECT_GE(info.age(), 0.0);
    EXPECT_LT(info.age(), 60.0);
    std::ofstream(path, std::ios::app) << "678";
    EXPECT_EQ(info.fileSize(), 5u); // kept
    const std::string text = info.description();
    for (const char* key :
         {"filePath = ", "fileName = log-0A1B2C.txt", "fileAttributes = {",
          "creationDate = ", "modificationDate = ", "fileSize = 5", "age = ", "isArchived = 0"}) {
        EXPECT_NE(text.find(key), std::string::npos) << key << " in " << text;
    }

    info.renameFile("log-FFFFFF.txt");
    EXPECT_EQ(info.fileName(), "log-FFFFFF.txt");
    EXPECT_TRUE(info.isEqual(DDLogFileInfo((tmp.path() / "log-FFFFFF.txt").string())));
    EXPECT_FALSE(info.isEqual(DDLogFileInfo(path)));
    EXPECT_EQ(readFile(tmp.path() / "log-FFFFFF.txt"), "12345678");

    DDLogFileInfo missing((tmp.path() / "log-000000.txt").string());
    EXPECT_FALSE(missing.fileAttributes());
    EXPECT_FALSE(missing.creationDate());
    EXPECT_EQ(missing.fileSize(), 0u);
    EXPECT_EQ(missing.age(), 0.0);
    EXPECT_NE(missing.description().find("creationDate = ;"), std::string::npos);
    // A missing date sorts as the oldest.
    EXPECT_EQ(missing.reverseCompareByCreationDate(info), 1);
    EXPECT_EQ(info.reverseCompareByCreationDate(missing), -1);

    const std::string err = captureStderr([&] { missing.renameFile("log-111111.txt"); });
    EXPECT_EQ(err.rfind("DDLogFileInfo: Error renaming file (log-000000.txt): ", 0), 0u) << err;
    EXPECT_EQ(missing.fileName(), "log-111111.txt");
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
    const std::string uid = std::to_string(::geteuid());
    enum Kind { Nothing, Folder, Link, File };
    const std::tuple<const char*, Kind, fs::perms, bool> cases[] = {
        {"made afresh", Nothing, fs::perms::none, true},
        {"already there and private", Folder, fs::perms::owner_all, true},
        {"open to others", Folder, fs::perms::all, false},
        {"a link to a private folder", Link, fs::perms::owner_all, false},
        {"a file", File, fs::perms::none, false},
    };
    for (const auto& [what, kind, perms, usable] : cases) {
        SCOPED_TRACE(what);
        TempDir tmp;
        const fs::path root = tmp.path() / ("Logs-" + uid), elsewhere = tmp.path() / "elsewhere";
        if (kind == Folder || kind == Link) {
            fs::create_directory(kind == Folder ? root : elsewhere);
            fs::permissions(kind == Folder ? root : elsewhere, perms);
        }
        if (kind == Link) {
            fs::create_directory_symlink(elsewhere, root);
        } else if (kind == File) {
            std::ofstream(root.string());
        }
        const auto manager = [&] {
            const ScopedEnv env({{"XDG_STATE_HOME", nullptr},
                                 {"HOME", nullptr},
                                 {"XDG_RUNTIME_DIR", nullptr},
                                 {"TMPDIR", tmp.path().c_str()}});
            return std::make_shared<DDLogFileManagerDefault>();
        }();
        std::string path;
        const std::string err = captureStderr([&] {
            EXPECT_EQ(manager->logsDirectory(), (root / process).string());
            path = manager->createNewLogFile();
            manager->createNewLogFile(); // reported once
        });
        EXPECT_EQ(fs::exists(path), usable) << path;
        EXPECT_EQ(manager->unsortedLogFilePaths().size(), usable ? 2u : 0u);
        if (usable) {
            EXPECT_EQ(err, "");
            EXPECT_EQ(modeOf(root), 0700u);
        } else {
            EXPECT_EQ(err,
                      "DDFileLogManagerDefault: Error creating logsDirectory: " + root.string() +
                          " is not a private folder of this user; no log files are written\n");
            EXPECT_FALSE(fs::exists(elsewhere / process));
        }
    }
}

// Links and FIFOs are not log files, however they are named: they are not listed, so they are
// never reused, marked or pruned.
TEST(DDLogFileManager, ListsOnlyRegularFilesWithASingleLink) {
    TempDir tmp;
    const fs::path dir = tmp.path() / "logs";
    fs::create_directory(dir);
    const std::string target = tmp.write("precious", "keep me\n");
    createInOrder(dir, {"log-000001.txt", "log-000002.txt", "log-000003.txt"});
    fs::create_symlink(target, dir / "log-AAAAAA.txt");
    fs::create_hard_link(dir / "log-000003.txt", tmp.path() / "second-name");
    ASSERT_EQ(::mkfifo((dir / "log-BBBBBB.txt").c_str(), 0600), 0);
    fs::create_directory(dir / "log-CCCCCC.txt");
    for (const std::string name : {"log-000001.txt", "log-000002.txt"}) {
        DDLogFileInfo((dir / name).string()).setIsArchived(true);
    }

    auto manager = std::make_shared<DDLogFileManagerDefault>(dir.string());
    EXPECT_EQ(manager->sortedLogFileNames(), (Names{"log-000002.txt", "log-000001.txt"}));
    manager->setMaximumNumberOfLogFiles(1);
    manager->deleteOldLogFiles();
    DDLog::flushLog();
    EXPECT_EQ(sortedNames(dir), (Names{"log-000002.txt", "log-000003.txt", "log-AAAAAA.txt",
                                       "log-BBBBBB.txt", "log-CCCCCC.txt"}));
    EXPECT_EQ(readFile(target), "keep me\n");
    EXPECT_FALSE(DDLogFileInfo((dir / "log-AAAAAA.txt").string()).isOwnRegularFile());
    EXPECT_FALSE(DDLogFileInfo((dir / "log-000003.txt").string()).isOwnRegularFile());
    EXPECT_TRUE(DDLogFileInfo((dir / "log-000002.txt").string()).isOwnRegularFile());
}
