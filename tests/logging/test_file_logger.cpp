#include "logging/DDFileLogger.h"
#include "logging/DDLog.h"
#include "logging/log_file_test_support.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <optional>

namespace fs = std::filesystem;
using logfiles::message;
using namespace std::chrono_literals;
using Events = std::vector<std::string>;

namespace {

// A log file that tells a fixed age instead of the time since its creation.
class AgedInfo : public DDLogFileInfo {
public:
    AgedInfo(std::string path, double age) : DDLogFileInfo(std::move(path)), age_(age) {}
    double age() override { return age_; }

private:
    double age_;
};

// Records what the logger tells its manager; lists the newest file with a given age if asked.
class RecordingManager : public DDLogFileManagerDefault {
public:
    explicit RecordingManager(const fs::path& dir, std::optional<double> newestAge = {})
        : DDLogFileManagerDefault(dir.string()), newestAge_(newestAge) {}
    bool implements(DDLogFileManagerOperation) const override { return true; }
    void didArchiveLogFile(const std::string& path) override { record("archived " + path); }
    void didRollAndArchiveLogFile(const std::string& path) override { record("rolled " + path); }
    std::vector<DDLogFileInfoPtr> sortedLogFileInfos() override {
        auto infos = DDLogFileManagerDefault::sortedLogFileInfos();
        if (newestAge_ && !infos.empty()) {
            infos.front() = std::make_shared<AgedInfo>(infos.front()->filePath(), *newestAge_);
        }
        return infos;
    }
    Events events() {
        std::lock_guard lock(mutex_);
        return events_;
    }

private:
    void record(const std::string& event) {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
    }
    std::optional<double> newestAge_;
    std::mutex mutex_;
    Events events_;
};

// Stands in for fsync(2) and notes, per call, the path of the file it was for ("(closed)" when
// the descriptor was no longer open).
class SyncRecorder {
public:
    // The files synced so far, once at least count calls came (the sync at a roll runs on a
    // shared queue).
    Events synced(std::size_t count) {
        std::unique_lock lock(mutex_);
        arrived_.wait_for(lock, 10s, [&] { return paths_.size() >= count; });
        return paths_;
    }
    void record(int fd) {
        std::error_code error;
        const fs::path path = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
        ::fsync(fd);
        std::lock_guard lock(mutex_);
        paths_.push_back(error ? "(closed)" : path.string());
        arrived_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    Events paths_;
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

TEST(DDFileLogger, FirstMessageCreatesAFileWithTheDefaultLayout) {
    TempDir tmp;
    Fixture f(std::make_shared<RecordingManager>(tmp.path() / "logs"), false);
    // 2014-03-05 07:08:09.012 UTC (the test runs with TZ=UTC): date, two blanks, text.
    const auto when = std::chrono::system_clock::time_point(1394003289012ms);
    dispatch::sync(f.logger->loggerQueue(), [&] {
        f.logger->logMessage(message("first", when));
        f.logger->logMessage(message("second\n", when)); // keeps its one line feed
    });
    const auto names = logfiles::sortedNames(tmp.path() / "logs");
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(DDLogFileManagerDefault::isLogFile(names[0]));
    EXPECT_EQ(readFile(tmp.path() / "logs" / names[0]),
              "2014/03/05 07:08:09:012  first\n2014/03/05 07:08:09:012  second\n");
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
        {"young, small, unarchived", 4, std::nullopt, false, 1000, kDay, true},
        {"archived", 4, std::nullopt, true, 1000, kDay, false},
        {"one byte below the size limit", 999, std::nullopt, false, 1000, kDay, true},
        {"at the size limit", 1000, std::nullopt, false, 1000, kDay, false},
        {"one byte above the size limit", 1001, std::nullopt, false, 1000, kDay, false},
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
        logfiles::createInOrder(tmp.path(), {"log-00000A.txt", "log-00000B.txt"}, contents);
        const std::string newest = (tmp.path() / "log-00000B.txt").string();
        DDLogFileInfo(newest).setIsArchived(c.archived);
        Fixture f(std::make_shared<RecordingManager>(tmp.path(), c.age));
        f.logger->setMaximumFileSize(c.maximumFileSize);
        f.logger->setRollingFrequency(c.rollingFrequency);
        f.log("new");

        auto made = logfiles::sortedNames(tmp.path());
        std::erase(made, "log-00000A.txt");
        std::erase(made, "log-00000B.txt");
        EXPECT_EQ(readFile(newest), c.reused ? contents + "new\n" : contents);
        if (c.reused) {
            EXPECT_TRUE(made.empty()) << "a new file was made";
            // Reaching the size limit with this very line rolls it; nothing else is reported.
            for (const auto& event : f.manager->events()) {
                EXPECT_EQ(event, "rolled " + newest);
            }
        } else {
            EXPECT_TRUE(archived(newest));
            ASSERT_EQ(made.size(), 1u);
            EXPECT_EQ(readFile(tmp.path() / made[0]), "new\n");
            // Only a file found unfit is archived here and reported.
            EXPECT_EQ(f.manager->events(), c.archived ? Events{} : Events{"archived " + newest});
        }
    }
}

// However a file ends, it is synced to disk first (through the seam, once); all but the logger's
// end also archive and report it, and the next message goes to a new file.
TEST(DDFileLogger, EveryFileIsSyncedBeforeItIsClosedAndARolledOneArchived) {
    enum Trigger { Roll, SizeLimit, Removal, Teardown };
    const std::pair<const char*, Trigger> cases[] = {
        {"rollLogFile", Roll},
        {"the line that reaches the size limit", SizeLimit},
        {"removal from the core", Removal},
        {"the logger's end", Teardown},
    };
    for (const auto& [what, trigger] : cases) {
        SCOPED_TRACE(what);
        TempDir tmp;
        Fixture f(tmp.path());
        f.logger->setMaximumFileSize(trigger == SizeLimit ? 8 : 0);
        f.log("one"); // four bytes: below the limit of eight
        const std::string path = f.currentPath();
        EXPECT_TRUE(f.syncs->synced(0).empty()) << "synced while still being written";
        switch (trigger) {
        case Roll:
            f.logger->rollLogFile();
            f.settle();
            break;
        case SizeLimit:
            f.log("two");
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
        EXPECT_EQ(f.syncs->synced(1), Events{fs::canonical(path).string()});
        EXPECT_EQ(readFile(path), trigger == SizeLimit ? "one\ntwo\n" : "one\n");
        if (trigger == Teardown) {
            continue;
        }
        EXPECT_EQ(f.currentPath(), ""); // nothing open until the next message
        EXPECT_TRUE(archived(path));
        EXPECT_EQ(f.manager->events(), Events{"rolled " + path});
        f.log("next");
        const std::string next = f.currentPath();
        EXPECT_NE(next, path);
        EXPECT_EQ(readFile(next), "next\n");
        EXPECT_FALSE(archived(next));
    }
}

TEST(DDFileLogger, LoweringTheSizeLimitRollsAtOnceAndZeroLimitsNeverRollNorArmATimer) {
    TempDir tmp;
    Fixture f(tmp.path());
    f.log("one");
    const std::string first = f.currentPath();
    EXPECT_TRUE(f.hasTimer()); // a day by default
    f.logger->setMaximumFileSize(2);
    EXPECT_EQ(f.logger->maximumFileSize(), 2u);
    EXPECT_EQ(f.currentPath(), "");
    EXPECT_TRUE(archived(first));
    EXPECT_FALSE(f.hasTimer());

    f.logger->setMaximumFileSize(0);
    f.logger->setRollingFrequency(0);
    for (int i = 0; i < 200; ++i) {
        f.log(std::string(1000, 'z'));
    }
    EXPECT_EQ(logfiles::sortedNames(tmp.path()).size(), 2u);
    EXPECT_EQ(fs::file_size(f.currentPath()), 200u * 1001u);
    EXPECT_FALSE(f.hasTimer());
}

TEST(DDFileLogger, RollsByAgeOnItsTimer) {
    TempDir tmp;
    Fixture f(tmp.path());
    f.logger->setRollingFrequency(0.2);
    EXPECT_EQ(f.logger->rollingFrequency(), 0.2);
    f.log("early");
    const std::string first = f.currentPath();
    EXPECT_TRUE(f.hasTimer());
    // No message comes: the timer alone rolls the file.
    for (auto deadline = std::chrono::steady_clock::now() + 10s;
         !archived(first) && std::chrono::steady_clock::now() < deadline;) {
        std::this_thread::sleep_for(2ms);
    }
    EXPECT_TRUE(archived(first));
    EXPECT_EQ(f.currentPath(), "");
    f.log("late");
    EXPECT_NE(f.currentPath(), first);
    EXPECT_EQ(readFile(first), "early\n");
    EXPECT_EQ(readFile(f.currentPath()), "late\n");
}

TEST(DDFileLogger, AFileDeletedUnderneathLosesNoLine) {
    TempDir tmp;
    Fixture f(tmp.path());
    f.log("a");
    const std::string first = f.currentPath();
    fs::remove(first);
    f.log("b");
    EXPECT_NE(f.currentPath(), first);
    EXPECT_FALSE(fs::exists(first));
    EXPECT_EQ(readFile(f.currentPath()), "b\n");
}

TEST(DDFileLogger, AFullDiskKeepsWholeLinesAndWritingResumesWhenSpaceReturns) {
    const fs::path dir = logfiles::mountedDir("BRIMWELL_TEST_FULL_DIR");
    ASSERT_FALSE(dir.empty());
    std::ofstream(dir / "filler") << std::string(40 * 1024, 'f'); // most of the 64 KiB
    Fixture f(dir / "logs");
    f.logger->setMaximumFileSize(0);
    const std::string line(99, 'l'); // 100 bytes
    for (int i = 0; i < 400; ++i) {  // far more than fits
        f.log(line);
    }
    const auto names = logfiles::sortedNames(dir / "logs");
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

namespace {

// Hands the logger a planted entry, as a manager that does not check its folder would: either
// listed as the newest file, or returned as the new file (as if swapped in right after it was
// made).
class PlantingManager : public RecordingManager {
public:
    PlantingManager(const fs::path& dir, std::string planted, bool asNewFile)
        : RecordingManager(dir), planted_(std::move(planted)), asNewFile_(asNewFile) {}
    std::vector<DDLogFileInfoPtr> sortedLogFileInfos() override {
        auto infos = RecordingManager::sortedLogFileInfos();
        if (!asNewFile_) {
            infos.insert(infos.begin(), DDLogFileInfo::logFileWithPath(planted_));
        }
        return infos;
    }
    std::string createNewLogFile() override {
        return asNewFile_ ? planted_ : RecordingManager::createNewLogFile();
    }

private:
    std::string planted_;
    bool asNewFile_;
};

} // namespace

TEST(DDFileLogger, NeverWritesThroughWhatWasPlantedInTheLogFolder) {
    enum Kind { Symlink, HardLink, Fifo };
    const std::tuple<const char*, Kind, bool> cases[] = {
        {"newest is a link", Symlink, false},
        {"newest is a second name", HardLink, false},
        {"newest is a FIFO", Fifo, false},
        {"new file is a link", Symlink, true},
        {"new file is a second name", HardLink, true},
        {"new file is a FIFO", Fifo, true},
    };
    for (const auto& [what, kind, asNewFile] : cases) {
        SCOPED_TRACE(what);
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
        Fixture f(std::make_shared<PlantingManager>(dir, planted, asNewFile));
        testing::internal::CaptureStderr();
        f.log("one"); // a FIFO would hang here
        f.log("two");
        const std::string err = testing::internal::GetCapturedStderr();

        EXPECT_EQ(readFile(target), "keep me\n");
        EXPECT_FALSE(archived(target));
        Events written;
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (entry.path() != planted) {
                written.push_back(readFile(entry.path()));
            }
        }
        // Passed over, unmarked, for a file of the logger's own; with nothing else to write to,
        // the lines are dropped, and that is said once.
        EXPECT_EQ(written, asNewFile ? Events{} : Events{"one\ntwo\n"});
        EXPECT_EQ(err, asNewFile ? "DDFileLogger: " + planted +
                                       " is not a regular file of this user; skipped\n"
                                 : "");
    }
}
