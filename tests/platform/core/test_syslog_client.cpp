#include "syslog_client.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A datagram socket standing where a syslog daemon listens.
class FakeDaemon {
public:
    explicit FakeDaemon(std::string path) : path_(std::move(path)) { bindSocket(); }
    ~FakeDaemon() { stop(); }
    void stop() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
            ::unlink(path_.c_str());
        }
    }
    void bindSocket() {
        ::unlink(path_.c_str());
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        path_.copy(addr.sun_path, path_.size());
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        timeval tv{2, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    std::string receive() {
        char buffer[8192];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        return n < 0 ? std::string("<nothing>") : std::string(buffer, static_cast<std::size_t>(n));
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

std::string tempSocketPath(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/" + name + "." + std::to_string(::getpid());
}

} // namespace

TEST(SyslogClient, EntryLayoutCarriesFacilityPriorityStampAndIdent) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    struct Case {
        int facility, priority;
        long when;
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {8, 2, 1394028429, "boom", "<10>Mar  5 14:07:09 app: boom"},
        {8, 5, 1394028429, "", "<13>Mar  5 14:07:09 app: "},
        {16 << 3, 3, 1700000000, "x", "<131>Nov 14 22:13:20 app: x"},
        {8, 7 + 8, 1394028429, "masked", "<15>Mar  5 14:07:09 app: masked"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(syslog_client::formatEntry(c.facility, c.priority, "app", c.when, c.text),
                  c.expected);
    }
}

TEST(SyslogClient, SendsTheTextVerbatimAndReconnectsAfterTheDaemonRestarts) {
    FakeDaemon daemon(tempSocketPath("syslog-client"));
    syslog_client::Connection connection("ident", 8, daemon.path());
    connection.log(3, "%s", "100% %s %d literal");
    const std::string first = daemon.receive();
    EXPECT_EQ(first.rfind("<11>", 0), 0u) << first;
    EXPECT_NE(first.find(" ident: 100% %s %d literal"), std::string::npos) << first;
    EXPECT_EQ(first.back(), 'l');

    daemon.stop();
    connection.log(3, "%s", "lost while down"); // must not hang or crash
    daemon.bindSocket();
    connection.log(4, "%s", "after restart");
    const std::string second = daemon.receive();
    EXPECT_NE(second.find("after restart"), std::string::npos) << second;
    EXPECT_EQ(second.rfind("<12>", 0), 0u) << second;
}

TEST(SyslogClient, EmptyIdentMeansTheProcessName) {
    syslog_client::Connection connection("", 8, "/nonexistent/socket");
    EXPECT_EQ(connection.ident(), "test_syslog_client");
    connection.log(2, "%s", "nobody listens"); // silently dropped
}
