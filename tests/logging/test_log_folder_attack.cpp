// Another user prepares the temporary directory before a root process without a home starts
// logging to files. Run as root; the other user is played by nobody through setpriv.

#include "logging/DDFileLogger.h"
#include "logging/DDLogLevel.h"
#include "platform/core/thread_info.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

// Runs a shell script as nobody; true when it succeeded.
bool asNobody(const std::string& script) {
    const std::string command =
        "setpriv --reuid=nobody --regid=nogroup --clear-groups -- sh -euc " + quoted(script);
    return std::system(command.c_str()) == 0;
}

DDLogMessagePtr line(const char* text) {
    return std::make_shared<const DDLogMessage>(std::make_shared<const std::string>(text),
                                                LogLevelVerbose, LogFlagInfo, 0, "f.cpp", "fn", 1,
                                                DDLogTag(), 0);
}

// Every file and folder below `dir` that root owns, with its mode.
std::vector<std::pair<fs::path, mode_t>> ownedByRoot(const fs::path& dir) {
    std::vector<std::pair<fs::path, mode_t>> found;
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(dir, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) == 0 && st.st_uid == 0) {
            found.emplace_back(it->path(), st.st_mode & 07777);
        }
    }
    return found;
}

class LogFolderAttack : public testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root, to play another user with setpriv (running as uid "
                         << ::geteuid() << ")";
        }
        if (::getpwnam("nobody") == nullptr ||
            std::system("command -v setpriv >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "needs the user nobody and setpriv (util-linux)";
        }
        // Like /tmp: everyone may make things in it, and only root may read the secret.
        fs::permissions(base.path(), fs::perms(0711));
        fs::create_directory(shared);
        fs::permissions(shared, fs::perms(01777));
        std::ofstream(secret) << "root only\n";
        fs::permissions(secret, fs::perms(0600));
        ASSERT_TRUE(asNobody("test -w " + quoted(shared.string())))
            << "nobody cannot reach the shared folder";
    }

    // A file logger with the default folder of a process without a home, the temporary
    // directory being the shared folder; logs two lines.
    std::string logWithoutAHome(std::optional<std::string> logsDirectory = std::nullopt) {
        auto manager = [&] {
            const ScopedEnv env({{"HOME", nullptr},
                                 {"XDG_STATE_HOME", nullptr},
                                 {"XDG_RUNTIME_DIR", nullptr},
                                 {"TMPDIR", shared.c_str()}});
            return std::make_shared<DDLogFileManagerDefault>(logsDirectory);
        }();
        auto logger = std::make_shared<DDFileLogger>(manager);
        logger->setLogFormatter(nullptr);
        (void)logger->maximumFileSize(); // the change above has taken effect
        testing::internal::CaptureStderr();
        for (const char* text : {"first line", "second line"}) {
            dispatch::sync(logger->loggerQueue(), [&] { logger->logMessage(line(text)); });
        }
        EXPECT_EQ(readFile(secret), "root only\n");
        return testing::internal::GetCapturedStderr();
    }

    TempDir base;
    const fs::path shared = base.path() / "tmp";
    const fs::path secret = base.path() / "secret";
    const std::string process = thread_info::processName();
};

// The per-user folder itself made first by the other user, private to them, with a link to the
// secret inside: refused; nothing is written anywhere below it.
TEST_F(LogFolderAttack, APerUserFolderMadeBySomeoneElseIsRefused) {
    const fs::path own = shared / "Logs-0";
    ASSERT_TRUE(asNobody("mkdir -p " + quoted((own / process).string()) + " && ln -s " +
                         quoted(secret.string()) + " " +
                         quoted((own / process / "log-AAAAAA.txt").string()) + " && chmod 700 " +
                         quoted(own.string()) + " " + quoted((own / process).string())));
    EXPECT_EQ(logWithoutAHome(),
              "DDFileLogManagerDefault: Error creating logsDirectory: " + own.string() +
                  " is not a private folder of this user; no log files are written\n");
    EXPECT_TRUE(ownedByRoot(own).empty());
}

// A shared folder given on purpose: another user's newer file is passed over for a new file of
// root's own.
TEST_F(LogFolderAttack, InASharedFolderOnlyOwnFilesAreWritten) {
    const fs::path logs = shared / "applogs";
    const std::string theirs = (logs / "log-BBBBBB.txt").string();
    ASSERT_TRUE(
        asNobody("mkdir -m 777 " + quoted(logs.string()) + " && echo theirs > " + quoted(theirs)));
    EXPECT_EQ(logWithoutAHome(logs.string()), "");
    EXPECT_EQ(readFile(theirs), "theirs\n");
    const auto made = ownedByRoot(logs);
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0].second, 0600u);
    EXPECT_EQ(readFile(made[0].first), "first line\nsecond line\n");
    EXPECT_FALSE(DDLogFileInfo(theirs).isArchived());
}

} // namespace
