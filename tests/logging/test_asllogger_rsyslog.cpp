// Writes through the system log logger to a real rsyslogd listening on a private socket and
// reads the entries back from the daemon's output file.
#include "logging/DDASLLogger.h"
#include "logging/DDLog.h"
#include "logging/MCLogFormatter.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>
#include <unistd.h>

namespace {

// Runs the helper script with "start DIR OWNER_PID" or "stop DIR"; true when it succeeded.
bool helper(const std::string& arguments) {
    return std::system(("'" RSYSLOG_HELPER "' " + arguments).c_str()) == 0;
}

// The daemon's output once it holds `count` lines (or what it holds after 10 s).
std::vector<std::string> receivedLines(const std::string& dir, std::size_t count) {
    std::vector<std::string> lines;
    for (int i = 0; i < 1000 && lines.size() < count; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        lines.clear();
        std::ifstream in(dir + "/received.log");
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
    }
    return lines;
}

} // namespace

TEST(DDASLLoggerWithRsyslog, EntriesArriveAtTheirPriorityWithTextUnchangedAcrossARestart) {
    char pattern[] = "/tmp/brimwell-rsyslog-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern, start = "start '" + dir + "' " + std::to_string(::getpid());
    ASSERT_TRUE(helper(start));
    auto logger =
        std::make_shared<DDASLLogger>(DDASLLogger::socketSink(dir + "/log.sock", "brimwell-test"));
    logger->setLogFormatter(std::make_shared<MCLogFormatter>());
    DDLog::addLogger(logger);
    const int errorLine = __LINE__ + 1;
    DDLogError("disk %@ at 100%% and %s", std::string("full"), "%d stays");
    DDLog::flushLog();
    receivedLines(dir, 1);        // received before the daemon stops
    helper("stop '" + dir + "'"); // the client must reconnect to the restarted daemon
    DDLogWarn("lost while the daemon is down");
    DDLog::flushLog();
    ASSERT_TRUE(helper(start));
    DDLog::log(true, LogLevelVerbose, LogFlagVerbose, 0, __FILE__, __func__, __LINE__, {},
               "verbose %d", 8);
    DDLog::removeLogger(logger);
    DDLog::flushLog();
    const auto lines = receivedLines(dir, 2);
    helper("stop '" + dir + "'");
    std::system(("rm -rf '" + dir + "'").c_str());
    ASSERT_EQ(lines.size(), 2u);
    // priority|facility (user)|program|message
    EXPECT_TRUE(lines[0].starts_with("2|1|brimwell-test|") &&
                lines[0].ends_with(", [ERRO], disk full at 100% and %d stays, "
                                   "[test_asllogger_rsyslog.cpp(" +
                                   std::to_string(errorLine) + ")]"))
        << lines[0];
    EXPECT_TRUE(lines[1].starts_with("5|1|brimwell-test|") &&
                lines[1].ends_with(", [VERB], verbose 8"))
        << lines[1];
}
