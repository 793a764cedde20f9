#include "logging/DDFileLogger.h"
#include "logging/DDLog.h"
#include "logging/log_file_test_support.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <iterator>
#include <mutex>
#include <optional>
#include <sys/xattr.h>

namespace fs = std::filesystem;
using logfiles::message;
using namespace std::chrono_literals;

namespace {

// Records what the logger tells its manager.
class RecordingManager : public DDLogFileManagerDefault {
public:
    using DDLogFileManagerDefault::DDLogFileManagerDefault;
    bool implements(DDLogFileManagerOperation) const override { return true; }
    void didArchiveLogFile(const std::string& path) override { record("archived " + path); }
    void didRollAndArchiveLogFile(const std::string& path) override { record("rolled " + path); }
    std::vector<std::string> events() {
        std::lock_guard lock(mutex_);
        return events_;
    }

private:
    void record(const std::string& event) {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
    }
    std::mutex mutex_;
    std::vector<std::string> events_;
};

// A logger on a directory, writing messages' text as they are (no date) unless told otherwise.
struct Fixture {
    explicit Fixture(const fs::path& dir, bool plain = true)
        : manager(std::make_shared<RecordingManager>(dir.string())),
          logger(std::make_shared<DDFileLogger>(manager)) {
        if (plain) {
            logger->setLogFormatter(nullptr);
        }
        settle();
    }
    // Earlier setting changes have taken effect once a reader returns.
    void settle() { (void)logger->maximumFileSize(); }
    void log(const std::string& text) {
        dispatch::sync(logger->loggerQueue(), [&] { logger->logMessage(message(text)); });
    }
    template <class F>
    auto onQueue(F&& f) {
        decltype(f()) result{};
        dispatch::sync(logger->loggerQueue(), [&] { result = f(); });
        return result;
    }
    std::string currentPath() {
        return onQueue([&] {
            const auto& info = logger->currentLogFileInfoIfOpen();
            return info ? info->filePath() : std::string();
        });
    }

    std::shared_ptr<RecordingManager> manager;
    std::shared_ptr<DDFileLogger> logger;
};

bool archived(const std::string& path) {
    return DDLogFileInfo(path).isArchived();
}

template <class Pred>
bool eventually(Pred&& pred) {
    for (auto deadline = std::chrono::steady_clock::now() + 10s;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(2ms)) {
        if (pred()) {
            return true;
        }
    }
    return pred();
}

} // namespace

TEST(DDFileLogger, FirstMessageCreatesAFileWithTheDefaultLayout) {
    TempDir tmp;
    Fixture f(tmp.path() / "logs", false);
    // 2014-03-05 07:08:09.012 UTC (the test runs with TZ=UTC): date, two blanks, text.
    const auto when = std::chrono::system_clock::time_point(1394003289012ms);
    dispatch::sync(f.logger->loggerQueue(), [&] {
        f.logger->logMessage(message("first", when));
        f.logger->logMessage(message("second\n", when)); // keeps its one line feed
    });
    const auto names = logfiles::sortedNames(tmp.path() / "logs");
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(DDLogFileManagerDefault::isLogFile(names[0]));
    EXPECT_EQ(readFile((tmp.path() / "logs" / names[0]).string()),
              "2014/03/05 07:08:09:012  first\n2014/03/05 07:08:09:012  second\n");
}

namespace {

// A log file that tells a fixed age instead of the time since its creation.
class AgedInfo : public DDLogFileInfo {
public:
    AgedInfo(std::string path, double age) : DDLogFileInfo(std::move(path)), age_(age) {}
    double age() override { return age_; }

private:
    double age_;
};

// Lists the newest file with a given age.
class AgingManager : public RecordingManager {
public:
    AgingManager(const fs::path& dir, std::optional<double> newestAge)
        : RecordingManager(dir.string()), newestAge_(newestAge) {}
    std::vector<DDLogFileInfoPtr> sortedLogFileInfos() override {
        auto infos = RecordingManager::sortedLogFileInfos();
        if (newestAge_ && !infos.empty()) {
            infos.front() = std::make_shared<AgedInfo>(infos.front()->filePath(), *newestAge_);
        }
        return infos;
    }

private:
    std::optional<double> newestAge_;
};

} // namespace

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
        auto manager = std::make_shared<AgingManager>(tmp.path(), c.age);
        auto logger = std::make_shared<DDFileLogger>(manager);
        logger->setLogFormatter(nullptr);
        logger->setMaximumFileSize(c.maximumFileSize);
        logger->setRollingFrequency(c.rollingFrequency);
        (void)logger->maximumFileSize(); // the changes above have taken effect
        dispatch::sync(logger->loggerQueue(), [&] { logger->logMessage(message("new")); });

        const auto names = logfiles::sortedNames(tmp.path());
        const auto events = manager->events();
        if (c.reused) {
            EXPECT_EQ(readFile(newest), contents + "new\n");
            EXPECT_EQ(names.size(), 2u) << "a new file was made";
            // Reaching the size limit with this very line rolls it; nothing else is reported.
            for (const auto& event : events) {
                EXPECT_EQ(event, "rolled " + newest);
            }
        } else {
            EXPECT_EQ(readFile(newest), contents);
            EXPECT_TRUE(archived(newest));
            std::vector<std::string> made;
            std::copy_if(names.begin(), names.end(), std::back_inserter(made),
                         [](const std::string& name) {
                             return name != "log-00000A.txt" && name != "log-00000B.txt";
                         });
            ASSERT_EQ(made.size(), 1u);
            EXPECT_EQ(readFile((tmp.path() / made[0]).string()), "new\n");
            // Only a file found unfit is archived here and reported.
            EXPECT_EQ(events, c.archived ? std::vector<std::string>{}
                                         : std::vector<std::string>{"archived " + newest});
        }
    }
}

TEST(DDFileLogger, RollsBySizeAfterTheLineThatReachesTheLimit) {
    TempDir tmp;
    Fixture f(tmp.path());
    f.logger->setMaximumFileSize(100);
    f.settle();
    const std::string line(59, 'a'); // 60 bytes with its line feed
    f.log(line);
    const std::string first = f.currentPath();
    f.log(line);
    EXPECT_EQ(f.currentPath(), ""); // rolled, nothing open until the next message
    EXPECT_EQ(readFile(first), line + "\n" + line + "\n");
    EXPECT_TRUE(archived(first));
    EXPECT_EQ(f.manager->events(), std::vector<std::string>{"rolled " + first});

    f.log("third");
    const std::string second = f.currentPath();
    EXPECT_NE(second, first);
    EXPECT_EQ(readFile(second), "third\n");
    EXPECT_FALSE(archived(second));
}

TEST(DDFileLogger, ZeroLimitsNeverRollAndArmNoTimer) {
    TempDir tmp;
    Fixture f(tmp.path());
    f.logger->setMaximumFileSize(0);
    f.logger->setRollingFrequency(0);
    f.settle();
    for (int i = 0; i < 200; ++i) {
        f.log(std::string(1000, 'z'));
    }
    EXPECT_EQ(logfiles::sortedNames(tmp.path()).size(), 1u);
    EXPECT_EQ(fs::file_size(f.currentPath()), 200u * 1001u);
    EXPECT_FALSE(f.onQueue([&] { return f.logger->hasRollingTimer(); }));
}

TEST(DDFileLogger, LoweringTheLimitRollsAtOnce) {
    TempDir tmp;
    Fixture f(tmp.path());
    f.log("one");
    f.log("two");
    const std::string path = f.currentPath();
    EXPECT_TRUE(f.onQueue([&] { return f.logger->hasRollingTimer(); })); // a day by default
    f.logger->setMaximumFileSize(8);
    EXPECT_EQ(f.logger->maximumFileSize(), 8u);
    EXPECT_EQ(f.currentPath(), "");
    EXPECT_TRUE(archived(path));
    EXPECT_FALSE(f.onQueue([&] { return f.logger->hasRollingTimer(); }));
}

TEST(DDFileLogger, RollsByAgeOnItsTimer) {
    TempDir tmp;
    Fixture f(tmp.path());
    f.logger->setRollingFrequency(0.2);
    EXPECT_EQ(f.logger->rollingFrequency(), 0.2);
    f.log("early");
    const std::string first = f.currentPath();
    EXPECT_TRUE(f.onQueue([&] { return f.logger->hasRollingTimer(); }));
    // No message comes: the timer alone rolls the file.
    EXPECT_TRUE(eventually([&] { return archived(first); }));
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
    const std::string second = f.currentPath();
    EXPECT_NE(second, first);
    EXPECT_FALSE(fs::exists(first));
    EXPECT_EQ(readFile(second), "b\n");
}

TEST(DDFileLogger, AFullDiskKeepsWholeLinesAndWritingResumesWhenSpaceReturns) {
    const fs::path dir = logfiles::mountedDir("BRIMWELL_TEST_FULL_DIR");
    ASSERT_FALSE(dir.empty());
    {
        // Most of the 64 KiB taken by something else.
        std::ofstream filler(dir / "filler");
        filler << std::string(40 * 1024, 'f');
    }
    Fixture f(dir / "logs");
    f.logger->setMaximumFileSize(0);
    f.settle();
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
    const std::string now = readFile(path);
    EXPECT_EQ(now.substr(contents.size()), "after\n");
    f.logger.reset();
    fs::remove_all(dir / "logs");
}

TEST(DDFileLogger, RemovalFromTheCoreArchivesTheFile) {
    TempDir tmp;
    Fixture f(tmp.path());
    DDLog::addLogger(f.logger);
    DDLog::logText(true, LogLevelVerbose, LogFlagInfo, 0, "f.cpp", "fn", 1, DDLogTag(), "via core");
    DDLog::flushLog();
    const std::string path = f.currentPath();
    ASSERT_FALSE(path.empty());
    DDLog::removeLogger(f.logger);
    DDLog::flushLog();
    EXPECT_EQ(f.currentPath(), ""); // after the removal's own call on the logger's queue
    EXPECT_TRUE(archived(path));
    EXPECT_EQ(readFile(path), "via core\n");
    EXPECT_EQ(f.manager->events(), std::vector<std::string>{"rolled " + path});
}

namespace {

// Stands in for fsync(2) and notes, per call, which file it was for: the file's path, or
// "(closed)" when the descriptor was no longer open.
class SyncRecorder {
public:
    static DDFileLogger::FileSync into(const std::shared_ptr<SyncRecorder>& recorder) {
        return [recorder](int fd) { recorder->record(fd); };
    }
    // The files synced so far, once at least count calls came (waiting a bounded time: the
    // sync at a roll runs on a shared queue).
    std::vector<std::string> synced(std::size_t count) {
        std::unique_lock lock(mutex_);
        arrived_.wait_for(lock, 10s, [&] { return paths_.size() >= count; });
        return paths_;
    }

private:
    void record(int fd) {
        std::error_code error;
        const fs::path path = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
        ::fsync(fd);
        std::lock_guard lock(mutex_);
        paths_.push_back(error ? "(closed)" : path.string());
        arrived_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::string> paths_;
};

} // namespace

TEST(DDFileLogger, EveryFileIsSyncedToDiskBeforeItIsClosed) {
    enum Trigger { Roll, SizeLimit, Removal, Teardown };
    const std::pair<const char*, Trigger> cases[] = {
        {"rollLogFile", Roll},
        {"the size limit reached", SizeLimit},
        {"removal from the core", Removal},
        {"the logger's end", Teardown},
    };
    for (const auto& [what, trigger] : cases) {
        SCOPED_TRACE(what);
        TempDir tmp;
        auto recorder = std::make_shared<SyncRecorder>();
        auto manager = std::make_shared<RecordingManager>(tmp.path().string());
        auto logger = std::make_shared<DDFileLogger>(manager, SyncRecorder::into(recorder));
        logger->setLogFormatter(nullptr);
        logger->setMaximumFileSize(trigger == SizeLimit ? 8 : 0);
        (void)logger->maximumFileSize(); // the changes above have taken effect
        dispatch::sync(logger->loggerQueue(), [&] { logger->logMessage(message("one")); });
        const auto names = logfiles::sortedNames(tmp.path());
        ASSERT_EQ(names.size(), 1u);
        const std::string path = fs::canonical(tmp.path() / names[0]).string();
        EXPECT_TRUE(recorder->synced(0).empty()) << "synced while still being written";
        switch (trigger) {
        case Roll:
            logger->rollLogFile();
            (void)logger->maximumFileSize(); // the roll has run
            break;
        case SizeLimit:
            dispatch::sync(logger->loggerQueue(), [&] { logger->logMessage(message("two")); });
            break;
        case Removal:
            dispatch::sync(logger->loggerQueue(), [&] { logger->willRemoveLogger(); });
            break;
        case Teardown:
            logger.reset();
            break;
        }
        EXPECT_EQ(recorder->synced(1), std::vector<std::string>{path});
        EXPECT_EQ(readFile(path), trigger == SizeLimit ? "one\ntwo\n" : "one\n");
    }
}

namespace {

// Hands the logger a planted entry, as a manager that does not check its folder would: either
// listed as the newest file, or returned as the new file (as if swapped in right after it was
// made).
class PlantingManager : public DDLogFileManagerDefault {
public:
    PlantingManager(const fs::path& dir, std::string planted, bool asNewFile)
        : DDLogFileManagerDefault(dir.string()), planted_(std::move(planted)),
          asNewFile_(asNewFile) {}
    std::vector<DDLogFileInfoPtr> sortedLogFileInfos() override {
        auto infos = DDLogFileManagerDefault::sortedLogFileInfos();
        if (!asNewFile_) {
            infos.insert(infos.begin(), DDLogFileInfo::logFileWithPath(planted_));
        }
        return infos;
    }
    std::string createNewLogFile() override {
        return asNewFile_ ? planted_ : DDLogFileManagerDefault::createNewLogFile();
    }

private:
    std::string planted_;
    bool asNewFile_;
};

} // namespace

TEST(DDFileLogger, NeverWritesThroughWhatWasPlantedInTheLogFolder) {
    enum Kind { Symlink, HardLink, Fifo };
    struct Case {
        const char* what;
        Kind kind;
        bool asNewFile;
    };
    const Case cases[] = {
        {"newest is a link", Symlink, false},
        {"newest is a second name", HardLink, false},
        {"newest is a FIFO", Fifo, false},
        {"new file is a link", Symlink, true},
        {"new file is a second name", HardLink, true},
        {"new file is a FIFO", Fifo, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir tmp;
        const fs::path dir = tmp.path() / "logs";
        fs::create_directory(dir);
        const std::string target = tmp.write("precious", "keep me\n");
        const std::string planted = (dir / "log-AAAAAA.txt").string();
        if (c.kind == Symlink) {
            fs::create_symlink(target, planted);
        } else if (c.kind == HardLink) {
            fs::create_hard_link(target, planted);
        } else {
            ASSERT_EQ(::mkfifo(planted.c_str(), 0600), 0);
        }
        auto manager = std::make_shared<PlantingManager>(dir, planted, c.asNewFile);
        auto logger = std::make_shared<DDFileLogger>(manager);
        logger->setLogFormatter(nullptr);
        (void)logger->maximumFileSize(); // the change above has taken effect
        testing::internal::CaptureStderr();
        for (const char* text : {"one", "two"}) {
            dispatch::sync(logger->loggerQueue(),
                           [&] { logger->logMessage(message(text)); }); // a FIFO would hang here
        }
        const std::string err = testing::internal::GetCapturedStderr();

        EXPECT_EQ(readFile(target), "keep me\n");
        EXPECT_FALSE(DDLogFileInfo(target).isArchived());
        std::vector<std::string> written;
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (entry.path() != planted) {
                written.push_back(readFile(entry.path().string()));
            }
        }
        if (c.asNewFile) {
            // Nothing else to write to: the lines are dropped, and that is said once.
            EXPECT_TRUE(written.empty());
            EXPECT_EQ(err, "DDFileLogger: " + planted +
                               " is not a regular file of this user; skipped\n");
        } else {
            // Passed over, unmarked, for a file of the logger's own.
            EXPECT_EQ(written, std::vector<std::string>{"one\ntwo\n"});
            EXPECT_EQ(err, "");
        }
    }
}
