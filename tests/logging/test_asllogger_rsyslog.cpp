// Writes through the system log logger to a real rsyslogd listening on a private socket and
// reads the entries back from the daemon's output file.
#include "DDASLLogger.h"
#include "MCLogFormatter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

std::string shellQuote(const std::string& s) {
    return "'" + s + "'";
}

class PrivateSyslogDaemon {
public:
    PrivateSyslogDaemon() {
        char pattern[] = "/tmp/brimwell-rsyslog-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (made == nullptr) {
            return;
        }
        dir_ = made;
        const std::string command = shellQuote(RSYSLOG_HELPER) + " start " + shellQuote(dir_) +
                                    " " + std::to_string(::getpid());
        started_ = std::system(command.c_str()) == 0;
    }
    ~PrivateSyslogDaemon() {
        if (!dir_.empty()) {
            std::system((shellQuote(RSYSLOG_HELPER) + " stop " + shellQuote(dir_)).c_str());
            std::system(("rm -rf " + shellQuote(dir_)).c_str());
        }
    }
    bool started() const { return started_; }
    std::string socketPath() const { return dir_ + "/log.sock"; }

    // Waits until the daemon has written at least `lines` lines (or gives up after 10 s).
    std::string received(std::size_t lines) const {
        std::string content;
        for (int i = 0; i < 1000; ++i) {
            std::ifstream in(dir_ + "/received.log");
            std::stringstream buffer;
            buffer << in.rdbuf();
            content = buffer.str();
            if (static_cast<std::size_t>(std::count(content.begin(), content.end(), '\n')) >=
                lines) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return content;
    }

private:
    std::string dir_;
    bool started_ = false;
};

} // namespace

TEST(DDASLLoggerWithRsyslog, EntriesArriveAtTheirPriorityWithTextUnchanged) {
    PrivateSyslogDaemon daemon;
    ASSERT_TRUE(daemon.started());
    auto logger = std::make_shared<DDASLLogger>(
        DDASLLogger::socketSink(daemon.socketPath(), "brimwell-test"));
    logger->setLogFormatter(std::make_shared<MCLogFormatter>());
    DDLog::addLogger(logger);
    DDLogError("disk %@ at 100%% and %s", std::string("full"), "%d stays");
    DDLogWarn("careful");
    DDLogInfo("filtered out at level 3");
    DDLog::log(true, LogLevelVerbose, LogFlagVerbose, 0, __FILE__, __func__, __LINE__, {},
               "verbose %d", 8);
    DDLog::flushLog();
    DDLog::removeLogger(logger);
    DDLog::flushLog();

    const std::string got = daemon.received(3);
    std::istringstream lines(got);
    std::string error, warn, verbose, extra;
    std::getline(lines, error);
    std::getline(lines, warn);
    std::getline(lines, verbose);
    EXPECT_FALSE(std::getline(lines, extra)) << got;
    // priority|facility (user)|program|message
    EXPECT_EQ(error.rfind("2|1|brimwell-test|", 0), 0u) << got;
    EXPECT_NE(error.find(", [ERRO], disk full at 100% and %d stays, [test_asllogger_rsyslog.cpp("),
              std::string::npos)
        << got;
    EXPECT_EQ(warn.rfind("3|1|brimwell-test|", 0), 0u) << got;
    EXPECT_NE(warn.find(", [WARN], careful, ["), std::string::npos) << got;
    EXPECT_EQ(verbose.rfind("5|1|brimwell-test|", 0), 0u) << got;
    EXPECT_NE(verbose.find(", [VERB], verbose 8"), std::string::npos) << got;
}
