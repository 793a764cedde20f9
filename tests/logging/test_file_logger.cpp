#include "../support/TempDir.h"
#include "DDFileLogger.h"
#include "log_file_test_support.h"

#include <gtest/gtest.h>

#include <mutex>
#include <sys/xattr.h>

namespace fs = std::filesystem;
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

DDLogMessagePtr
message(const std::string& text,
        std::chrono::system_clock::time_point when = std::chrono::system_clock::now()) {
    DDLogOrigin origin;
    origin.timestamp = when;
    return std::make_shared<const DDLogMessage>(std::make_shared<const std::string>(text),
                                                LogLevelVerbose, LogFlagInfo, 0, "f.cpp", "fn", 1,
                                                DDLogTag(), 0, origin);
}

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

TEST(DDLogFileFormatterDefault, DateTwoBlanksAndText) {
    // 2014-03-05 07:08:09.012 UTC (the test runs with TZ=UTC).
    const auto when = std::chrono::system_clock::time_point(1394003289012ms);
    DDLogFileFormatterDefault formatter;
    EXPECT_EQ(*formatter.formatLogMessage(*message("x", when)), "2014/03/05 07:08:09:012  x");
}

TEST(DDFileLogger, FirstMessageCreatesAFileWithTheLine) {
    TempDir tmp;
    Fixture f(tmp.path() / "logs", false);
    const auto when = std::chrono::system_clock::time_point(1394003289012ms);
    dispatch::sync(f.logger->loggerQueue(), [&] {
        f.logger->logMessage(message("first", when));
        f.logger->logMessage(message("second\n", when)); // keeps its one line feed
    });
    const auto names = logfiles::sortedNames(tmp.path() / "logs");
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(DDLogFileManagerDefault::isLogFile(names[0]));
    EXPECT_EQ(logfiles::read((tmp.path() / "logs" / names[0]).string()),
              "2014/03/05 07:08:09:012  first\n2014/03/05 07:08:09:012  second\n");
}

TEST(DDFileLogger, ChoosesTheNewestFileOnlyWhenUnarchivedSmallAndYoung) {
    struct Case {
        const char* what;
        std::string contents;
        bool archived;
        bool reused;
    };
    const Case cases[] = {
        {"young, small, unarchived", "old\n", false, true},
        {"archived", "old\n", true, false},
        {"too big", std::string(2 * 1024 * 1024, 'x') + "\n", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir tmp;
        logfiles::createInOrder(tmp.path(), {"log-00000A.txt", "log-00000B.txt"}, c.contents);
        const std::string newest = (tmp.path() / "log-00000B.txt").string();
        DDLogFileInfo(newest).setIsArchived(c.archived);
        Fixture f(tmp.path());
        f.log("new");

        if (c.reused) {
            EXPECT_EQ(f.currentPath(), newest);
            EXPECT_EQ(logfiles::read(newest), c.contents + "new\n");
            EXPECT_TRUE(f.manager->events().empty());
        } else {
            EXPECT_NE(f.currentPath(), newest);
            EXPECT_EQ(logfiles::read(f.currentPath()), "new\n");
            EXPECT_EQ(logfiles::read(newest), c.contents);
            EXPECT_TRUE(archived(newest));
            // Only a file found unfit is archived here and reported.
            EXPECT_EQ(f.manager->events(), c.archived
                                               ? std::vector<std::string>{}
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
    EXPECT_EQ(logfiles::read(first), line + "\n" + line + "\n");
    EXPECT_TRUE(archived(first));
    EXPECT_EQ(f.manager->events(), std::vector<std::string>{"rolled " + first});

    f.log("third");
    const std::string second = f.currentPath();
    EXPECT_NE(second, first);
    EXPECT_EQ(logfiles::read(second), "third\n");
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
    EXPECT_EQ(logfiles::read(first), "early\n");
    EXPECT_EQ(logfiles::read(f.currentPath()), "late\n");
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
    EXPECT_EQ(logfiles::read(second), "b\n");
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
    const std::string contents = logfiles::read(path);
    EXPECT_GT(contents.size(), 0u);
    EXPECT_LT(contents.size(), 400u * 100u);
    EXPECT_EQ(contents.size() % 100, 0u) << "a partial line was left in the file";

    fs::remove(dir / "filler");
    f.log("after");
    const std::string now = logfiles::read(path);
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
    EXPECT_EQ(logfiles::read(path), "via core\n");
    EXPECT_EQ(f.manager->events(), std::vector<std::string>{"rolled " + path});
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

        EXPECT_EQ(logfiles::read(target), "keep me\n");
        EXPECT_FALSE(DDLogFileInfo(target).isArchived());
        std::vector<std::string> written;
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (entry.path() != planted) {
                written.push_back(logfiles::read(entry.path().string()));
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
