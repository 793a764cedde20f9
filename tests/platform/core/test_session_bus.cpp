// The session bus probe: address parsing, and the bounded handshake against peers that
// misbehave in every way a socket can, and against a real dbus-daemon.

#include "platform/core/session_bus.h"

#include "support/TempDir.h"
#include "support/UnixSocket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stddef.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::BusAddressEntry;
using platform::BusProbe;
using platform::parseBusAddress;
using platform::probeBus;
using platform::sessionBusAddress;
using namespace std::chrono_literals;

namespace {

// ---- Address parsing ---------------------------------------------------------------------

struct AddressRow {
    const char* address;
    bool valid;
    std::vector<std::pair<std::string, std::map<std::string, std::string>>> entries;
};

class BusAddressParsing : public testing::TestWithParam<AddressRow> {};

TEST_P(BusAddressParsing, EntriesTransportsAndUnescapedKeys) {
    const AddressRow& row = GetParam();
    const auto parsed = parseBusAddress(row.address);
    ASSERT_EQ(parsed.has_value(), row.valid) << row.address;
    if (!parsed) {
        return;
    }
    ASSERT_EQ(parsed->size(), row.entries.size()) << row.address;
    for (std::size_t i = 0; i < row.entries.size(); ++i) {
        EXPECT_EQ((*parsed)[i].transport, row.entries[i].first) << row.address;
        EXPECT_EQ((*parsed)[i].keys, row.entries[i].second) << row.address;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, BusAddressParsing,
    testing::Values(
        AddressRow{
            "unix:path=/run/user/1000/bus", true, {{"unix", {{"path", "/run/user/1000/bus"}}}}},
        AddressRow{"unix:path=/tmp/dbus-x,guid=0123abcd",
                   true,
                   {{"unix", {{"path", "/tmp/dbus-x"}, {"guid", "0123abcd"}}}}},
        // Escapes: ',' ';' '=' and '%' inside values; both cases of hex digits.
        AddressRow{
            "unix:path=/tmp/a%2cb%3Bc%3dd%25e", true, {{"unix", {{"path", "/tmp/a,b;c=d%e"}}}}},
        AddressRow{"unix:abstract=/tmp/dbus-Q;tcp:host=localhost,port=4711",
                   true,
                   {{"unix", {{"abstract", "/tmp/dbus-Q"}}},
                    {"tcp", {{"host", "localhost"}, {"port", "4711"}}}}},
        AddressRow{"autolaunch:", true, {{"autolaunch", {}}}},
        // Empty entries between separators are skipped.
        AddressRow{";unix:path=/a;;", true, {{"unix", {{"path", "/a"}}}}}, AddressRow{"", true, {}},
        AddressRow{"garbage", false, {}}, AddressRow{":path=/a", false, {}},
        AddressRow{"unix:path", false, {}}, AddressRow{"unix:=x", false, {}},
        AddressRow{"unix:path=/a,path=/b", false, {}}, AddressRow{"unix:path=/a%2", false, {}},
        AddressRow{"unix:path=/a%zz", false, {}}, AddressRow{"unix:path=/ok;broken", false, {}}));

// ---- Where the session bus is --------------------------------------------------------------

TEST(SessionBusAddress, TheVariableFirstThenTheUsersBusSocketNeverAutolaunch) {
    TempDir runtime;
    // No socket yet: nothing, rather than starting a bus on demand.
    EXPECT_EQ(sessionBusAddress(nullptr, runtime.path().c_str()), "");
    EXPECT_EQ(sessionBusAddress("", runtime.path().c_str()), "");
    EXPECT_EQ(sessionBusAddress(nullptr, nullptr), "");
    EXPECT_EQ(sessionBusAddress("unix:path=/x", runtime.path().c_str()), "unix:path=/x");

    // A regular file named "bus" is no bus.
    runtime.write("bus", "");
    EXPECT_EQ(sessionBusAddress(nullptr, runtime.path().c_str()), "");
    ::unlink((runtime.path() / "bus").c_str());

    // A socket is, with the characters the address syntax reserves escaped.
    const auto folder = runtime.path() / "a,b";
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const std::string socketPath = (folder / "bus").string();
    const int fd = unixSocket(socketPath, true);
    ASSERT_GE(fd, 0);
    const std::string found = sessionBusAddress(nullptr, folder.c_str());
    ::close(fd);
    const std::string escaped = runtime.path().string() + "/a%2cb/bus";
    EXPECT_EQ(found, "unix:path=" + escaped);
    const auto back = parseBusAddress(found);
    ASSERT_TRUE(back && back->size() == 1);
    EXPECT_EQ(back->front().keys.at("path"), socketPath);
    // A relative runtime folder does not count.
    EXPECT_EQ(sessionBusAddress(nullptr, "relative/dir"), "");
}

// ---- Fake peers ----------------------------------------------------------------------------

// A D-Bus message as a peer would send it: a method return or an error for `replySerial`, or
// a signal when there is none, with one string as its body.
std::string message(std::uint8_t type, std::optional<std::uint32_t> replySerial,
                    const std::string& errorName, const std::string& body, bool bigEndian) {
    std::string m;
    auto pad = [&m](std::size_t n) {
        while (m.size() % n != 0) {
            m += '\0';
        }
    };
    auto u32 = [&m, &pad, bigEndian](std::uint32_t v) {
        pad(4);
        for (int i = 0; i < 4; ++i) {
            m += static_cast<char>(v >> (8 * (bigEndian ? 3 - i : i)));
        }
    };
    auto str = [&m, &u32](const std::string& s) {
        u32(static_cast<std::uint32_t>(s.size()));
        m += s;
        m += '\0';
    };
    auto field = [&](std::uint8_t code, char sig, auto write) {
        pad(8);
        m += static_cast<char>(code);
        m += '\1';
        m += sig;
        m += '\0';
        write();
    };
    m += bigEndian ? 'B' : 'l';
    m += static_cast<char>(type);
    m += '\0';
    m += '\1';
    const std::uint32_t bodyLength =
        body.empty() ? 0 : 4 + static_cast<std::uint32_t>(body.size()) + 1;
    u32(bodyLength);
    u32(77); // the peer's own serial
    u32(0);  // fields length, patched below
    const std::size_t fieldsStart = m.size();
    if (type == 4) {
        field(1, 'o', [&] { str("/org/freedesktop/DBus"); });
        field(2, 's', [&] { str("org.freedesktop.DBus"); });
        field(3, 's', [&] { str("NameAcquired"); });
    }
    if (replySerial) {
        field(5, 'u', [&] { u32(*replySerial); });
    }
    if (!errorName.empty()) {
        field(4, 's', [&] { str(errorName); });
    }
    if (!body.empty()) {
        field(8, 'g', [&] {
            m += '\1';
            m += 's';
            m += '\0';
        });
    }
    const auto fieldsLength = static_cast<std::uint32_t>(m.size() - fieldsStart);
    for (int i = 0; i < 4; ++i) {
        m[12 + static_cast<std::size_t>(i)] =
            static_cast<char>(fieldsLength >> (8 * (bigEndian ? 3 - i : i)));
    }
    pad(8);
    if (!body.empty()) {
        str(body);
    }
    return m;
}

constexpr std::uint8_t kReturn = 2;
constexpr std::uint8_t kError = 3;
constexpr std::uint8_t kSignal = 4;

// What the client sent: its authentication line and, once it has sent BEGIN, its messages.
struct Exchange {
    int fd;
    std::atomic<bool>& stop;

    // Reads until `marker` has arrived, or the test ends.
    bool readUntil(const std::string& marker) {
        std::string got;
        while (got.find(marker) == std::string::npos) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) {
                if (stop) {
                    return false;
                }
                continue;
            }
            char chunk[512];
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                return false;
            }
            got.append(chunk, static_cast<std::size_t>(n));
        }
        return true;
    }
    void send(const std::string& bytes) { ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    // Says nothing more until the client closes or the test ends.
    void hold() {
        while (!stop) {
            pollfd p{fd, POLLIN, 0};
            char chunk[512];
            if (::poll(&p, 1, 20) > 0 && ::recv(fd, chunk, sizeof chunk, 0) <= 0) {
                return;
            }
        }
    }
    // Authentication accepted, then everything up to the client's Hello read.
    bool authenticate() {
        if (!readUntil("\r\n")) {
            return false;
        }
        send("OK 0123456789abcdef0123456789abcdef\r\n");
        return readUntil("Hello");
    }
};

// Listens on a unix socket and plays one behaviour with each client.
class Peer {
public:
    Peer(const std::filesystem::path& path, std::function<void(Exchange&)> behaviour,
         bool accept = true)
        : path_(path), fd_(unixSocket(path.string(), true)) {
        if (fd_ < 0) {
            throw std::runtime_error("cannot listen");
        }
        if (accept) {
            thread_ = std::thread([this, behaviour] {
                while (!stop_) {
                    pollfd p{fd_, POLLIN, 0};
                    if (::poll(&p, 1, 20) <= 0) {
                        continue;
                    }
                    const int client = ::accept(fd_, nullptr, nullptr);
                    Exchange exchange{client, stop_};
                    behaviour(exchange);
                    ::close(client);
                }
            });
        }
    }
    ~Peer() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        ::close(fd_);
    }
    std::string address() const { return "unix:path=" + path_.string(); }

private:
    std::filesystem::path path_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Runs the probe on its own thread, so a probe that hangs fails the test instead of
// stalling it: the test waits several times the probe's bound, then gives up.
BusProbe probeWithin(const std::string& address, std::chrono::milliseconds timeout) {
    auto future =
        std::async(std::launch::async, [address, timeout] { return probeBus(address, timeout); });
    if (future.wait_for(timeout * 10 + 2s) != std::future_status::ready) {
        ADD_FAILURE() << "the probe of " << address << " did not return";
        std::abort(); // the thread cannot be abandoned
    }
    return future.get();
}

struct PeerRow {
    const char* name;
    std::function<void(Exchange&)> behaviour;
    bool accept;
    bool usable;
    const char* problemOrName; // a part of the problem, or the unique name when usable
};

class BusProbeAgainstPeers : public testing::TestWithParam<PeerRow> {};

TEST_P(BusProbeAgainstPeers, AnswersWithinTheBoundWhateverThePeerDoes) {
    const PeerRow& row = GetParam();
    TempDir dir;
    Peer peer(dir.path() / "bus", row.behaviour, row.accept);
    const BusProbe probe = probeWithin(peer.address(), 300ms);
    EXPECT_EQ(probe.usable, row.usable) << probe.problem;
    if (row.usable) {
        EXPECT_EQ(probe.uniqueName, row.problemOrName);
        EXPECT_EQ(probe.address, peer.address());
        EXPECT_EQ(probe.problem, "");
    } else {
        EXPECT_NE(probe.problem.find(row.problemOrName), std::string::npos) << probe.problem;
        EXPECT_EQ(probe.address, "");
    }
}

const std::string kHelloReply = message(kReturn, 1, "", ":1.7", false);

INSTANTIATE_TEST_SUITE_P(
    Table, BusProbeAgainstPeers,
    testing::Values(PeerRow{"AcceptsAndNeverAnswers", [](Exchange& e) { e.hold(); }, true, false,
                            "authentication: no answer"},
                    PeerRow{"NeverAccepts", nullptr, false, false, "authentication: no answer"},
                    PeerRow{"ClosesAtOnce", [](Exchange&) {}, true, false, "closed the connection"},
                    PeerRow{"RefusesAuthentication",
                            [](Exchange& e) {
                                e.readUntil("\r\n");
                                e.send("REJECTED EXTERNAL DBUS_COOKIE_SHA1\r\n");
                                e.hold();
                            },
                            true, false, "refused to authenticate us (REJECTED EXTERNAL"},
                    PeerRow{"AuthenticatesThenNeverAnswersHello",
                            [](Exchange& e) {
                                e.authenticate();
                                e.hold();
                            },
                            true, false, "Hello: no answer"},
                    PeerRow{"AnswersAuthenticationEndlessly",
                            [](Exchange& e) {
                                e.readUntil("\r\n");
                                e.send(std::string(2048, 'x'));
                                e.hold();
                            },
                            true, false, "does not speak D-Bus"},
                    PeerRow{"SpeaksHttp",
                            [](Exchange& e) {
                                e.authenticate();
                                e.send("HTTP/1.1 400 Bad Request\r\n\r\n");
                                e.hold();
                            },
                            true, false, "does not speak D-Bus"},
                    PeerRow{"AnnouncesAHugeMessage",
                            [](Exchange& e) {
                                e.authenticate();
                                std::string m = kHelloReply;
                                m[4] = m[5] = m[6] = '\x7f'; // body length of about 8 MB
                                e.send(m);
                                e.hold();
                            },
                            true, false, "oversized"},
                    PeerRow{"AnswersHelloWithAnError",
                            [](Exchange& e) {
                                e.authenticate();
                                e.send(message(kError, 1, "org.freedesktop.DBus.Error.AccessDenied",
                                               "not you", false));
                                e.hold();
                            },
                            true, false,
                            "Hello failed: org.freedesktop.DBus.Error.AccessDenied not you"},
                    PeerRow{"AnswersAnotherCallOnly",
                            [](Exchange& e) {
                                e.authenticate();
                                e.send(message(kReturn, 2, "", ":1.7", false));
                                e.hold();
                            },
                            true, false, "Hello: no answer"},
                    PeerRow{"Answers",
                            [](Exchange& e) {
                                e.authenticate();
                                e.send(kHelloReply);
                                e.hold();
                            },
                            true, true, ":1.7"},
                    PeerRow{"SendsASignalBeforeItsAnswer",
                            [](Exchange& e) {
                                e.authenticate();
                                e.send(message(kSignal, std::nullopt, "", ":1.7", false) +
                                       kHelloReply);
                                e.hold();
                            },
                            true, true, ":1.7"},
                    PeerRow{"AnswersBigEndian",
                            [](Exchange& e) {
                                e.authenticate();
                                e.send(message(kReturn, 1, "", ":1.99", true));
                                e.hold();
                            },
                            true, true, ":1.99"},
                    PeerRow{"AnswersOneByteAtATime",
                            [](Exchange& e) {
                                e.authenticate();
                                for (const char c : kHelloReply) {
                                    e.send(std::string(1, c));
                                    std::this_thread::sleep_for(1ms);
                                }
                                e.hold();
                            },
                            true, true, ":1.7"}),
    [](const testing::TestParamInfo<PeerRow>& row) { return row.param.name; });

TEST(BusProbe, AddressesThatCannotWorkFailAtOnceWithAReason) {
    TempDir dir;
    const struct {
        std::string address;
        const char* problem;
    } rows[] = {
        {"", "no session bus address"},
        {"garbage", "is not a D-Bus address"},
        {"unix:path=" + (dir.path() / "missing").string(), "cannot connect"},
        {"unix:path=/dev/null/x", "cannot connect"},
        {"tcp:host=127.0.0.1,port=1", "transport \"tcp\" is not supported"},
        {"unix:guid=00", "exactly one of path= and abstract="},
        {"unix:path=/" + std::string(200, 'p'), "too long"},
    };
    for (const auto& row : rows) {
        // A bound no test would wait for: these must not need it.
        const BusProbe probe = probeWithin(row.address, 60s);
        EXPECT_FALSE(probe.usable) << row.address;
        EXPECT_NE(probe.problem.find(row.problem), std::string::npos)
            << row.address << ": " << probe.problem;
    }
}

TEST(BusProbe, EntriesAreTriedInOrderAndOnlyTheOneThatAnsweredIsKept) {
    TempDir dir;
    Peer silent(dir.path() / "silent", [](Exchange& e) { e.hold(); });
    Peer good(dir.path() / "good", [](Exchange& e) {
        e.authenticate();
        e.send(kHelloReply);
        e.hold();
    });
    const std::string missing = "unix:path=" + (dir.path() / "missing").string();
    // A missing socket costs nothing; a live bus is found behind it.
    BusProbe probe = probeWithin(missing + ";" + good.address(), 300ms);
    EXPECT_TRUE(probe.usable) << probe.problem;
    EXPECT_EQ(probe.address, good.address());
    // The first entry that answers wins, even when a later one would too.
    probe = probeWithin(good.address() + ";" + missing, 300ms);
    EXPECT_EQ(probe.address, good.address());
    // A silent entry uses the whole bound; nothing after it is tried, and both are reported.
    probe = probeWithin(silent.address() + ";" + good.address(), 200ms);
    EXPECT_FALSE(probe.usable);
    EXPECT_NE(probe.problem.find(silent.address() + ": authentication: no answer"),
              std::string::npos)
        << probe.problem;
    EXPECT_NE(probe.problem.find("gave up after 200 ms"), std::string::npos) << probe.problem;
}

TEST(BusProbe, AbstractSockets) {
    const std::string name = "/brimwell-test-" + std::to_string(::getpid());
    const int fd = unixSocket('\0' + name, true);
    ASSERT_GE(fd, 0);
    std::thread peer([fd] {
        const int client = ::accept(fd, nullptr, nullptr);
        std::atomic<bool> stop{false};
        Exchange e{client, stop};
        if (e.authenticate()) {
            e.send(kHelloReply);
        }
        char c;
        ::recv(client, &c, 1, 0); // until the probe closes
        ::close(client);
    });
    const BusProbe probe = probeWithin("unix:abstract=" + name, 2s);
    peer.join();
    ::close(fd);
    EXPECT_TRUE(probe.usable) << probe.problem;
    EXPECT_EQ(probe.uniqueName, ":1.7");
}

// ---- A real bus ----------------------------------------------------------------------------

TEST(BusProbe, ARealDaemonAnswersWithAUniqueName) {
    if (::access("/usr/bin/dbus-daemon", X_OK) != 0) {
        GTEST_SKIP() << "dbus-daemon is not installed";
    }
    TempDir dir;
    const std::string config = dir.write("bus.conf", R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=)" + dir.path().string() + R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)");
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t daemon = ::fork();
    if (daemon == 0) {
        ::dup2(out[1], 3);
        const int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, STDERR_FILENO); // it complains about fd limits it may not raise
        ::execl("/usr/bin/dbus-daemon", "dbus-daemon", ("--config-file=" + config).c_str(),
                "--nofork", "--print-address=3", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    struct Reaper {
        pid_t pid;
        ~Reaper() {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    } reaper{daemon};
    std::string address;
    char c;
    pollfd p{out[0], POLLIN, 0};
    while (::poll(&p, 1, 10000) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n') {
        address += c;
    }
    ::close(out[0]);
    ASSERT_FALSE(address.empty()) << "dbus-daemon printed no address";

    // Generous: only a hang would exceed it.
    const BusProbe probe = probeWithin(address, 5s);
    EXPECT_TRUE(probe.usable) << probe.problem;
    EXPECT_EQ(probe.address, address);
    EXPECT_EQ(probe.uniqueName.rfind(":1.", 0), 0u) << probe.uniqueName;
    // Each probe is a connection of its own.
    const BusProbe again = probeWithin(address, 5s);
    EXPECT_NE(again.uniqueName, probe.uniqueName);

    // Stopped, the daemon still accepts connections but answers nothing.
    ::kill(daemon, SIGSTOP);
    const BusProbe stopped = probeWithin(address, 200ms);
    EXPECT_FALSE(stopped.usable);
    EXPECT_NE(stopped.problem.find("no answer"), std::string::npos) << stopped.problem;
}

} // namespace
