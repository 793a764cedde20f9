// The session bus probe: address parsing, and the bounded handshake against peers that
// misbehave in every way a socket can. A real dbus-daemon answers it in single_instance_e2e
// (tests/app/test_single_instance_e2e.cpp: a live bus, copies of different run-time folders).

#include "platform/core/session_bus.h"

#include "support/TempDir.h"
#include "support/UnixSocket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::BusProbe;
using platform::parseBusAddress;
using platform::probeBus;
using platform::sessionBusAddress;
using namespace std::chrono_literals;

namespace {

TEST(BusAddressParsing, EntriesTransportsAndUnescapedKeys) {
    using Entries = std::vector<std::pair<std::string, std::map<std::string, std::string>>>;
    const std::pair<const char*, Entries> rows[] = {
        // Escapes: ',' ';' '=' and '%' inside values; both cases of hex digits.
        {"unix:path=/tmp/a%2cb%3Bc%3dd%25e", {{"unix", {{"path", "/tmp/a,b;c=d%e"}}}}},
        {"unix:abstract=/tmp/dbus-Q;tcp:host=localhost,port=4711",
         {{"unix", {{"abstract", "/tmp/dbus-Q"}}},
          {"tcp", {{"host", "localhost"}, {"port", "4711"}}}}},
        {"autolaunch:", {{"autolaunch", {}}}},
        // Empty entries between separators are skipped.
        {";unix:path=/a;;", {{"unix", {{"path", "/a"}}}}},
        {"", {}},
    };
    for (const auto& [address, entries] : rows) {
        SCOPED_TRACE(address);
        const auto parsed = parseBusAddress(address);
        ASSERT_TRUE(parsed.has_value());
        Entries seen;
        for (const auto& entry : *parsed) {
            seen.emplace_back(entry.transport, entry.keys);
        }
        EXPECT_EQ(seen, entries);
    }
    for (const char* malformed :
         {"garbage", ":path=/a", "unix:path", "unix:=x", "unix:path=/a,path=/b", "unix:path=/a%2",
          "unix:path=/a%zz", "unix:path=/ok;broken"}) {
        EXPECT_FALSE(parseBusAddress(malformed).has_value()) << malformed;
    }
}

TEST(SessionBusAddress, TheVariableFirstThenTheUsersBusSocketNeverAutolaunch) {
    TempDir runtime;
    // No socket yet: nothing, rather than starting a bus on demand.
    EXPECT_EQ(sessionBusAddress(nullptr, runtime.path().c_str()), "");
    EXPECT_EQ(sessionBusAddress(nullptr, nullptr), "");
    EXPECT_EQ(sessionBusAddress("unix:path=/x", runtime.path().c_str()), "unix:path=/x");
    // A regular file named "bus" is no bus.
    runtime.write("bus", "");
    EXPECT_EQ(sessionBusAddress(nullptr, runtime.path().c_str()), "");
    // A socket is, with the characters the address syntax reserves escaped.
    const auto folder = runtime.path() / "a,b";
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const int fd = unixSocket((folder / "bus").string(), true);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(sessionBusAddress(nullptr, folder.c_str()),
              "unix:path=" + runtime.path().string() + "/a%2cb/bus");
    ::close(fd);
    // A relative runtime folder does not count.
    EXPECT_EQ(sessionBusAddress(nullptr, "relative/dir"), "");
}

enum : std::uint8_t { kReturn = 2, kError = 3 }; // message types

// A D-Bus message as a peer would send it: a method return or an error for `replySerial`, with
// one string as its body.
std::string message(std::uint8_t type, std::uint32_t replySerial, const std::string& errorName,
                    const std::string& body, bool bigEndian = false) {
    const auto bytes = [bigEndian](std::uint32_t v) {
        std::string b(4, '\0');
        for (std::size_t i = 0; i < 4; ++i) {
            b[i] = static_cast<char>(v >> (8 * (bigEndian ? 3 - i : i)));
        }
        return b;
    };
    std::string m;
    auto pad = [&m](std::size_t n) { m.resize((m.size() + n - 1) / n * n, '\0'); };
    auto u32 = [&](std::uint32_t v) {
        pad(4);
        m += bytes(v);
    };
    auto str = [&](const std::string& s) {
        u32(static_cast<std::uint32_t>(s.size()));
        m += s + '\0';
    };
    // A header field: code, signature and value, aligned to 8.
    auto field = [&](char code, char sig, auto write) {
        pad(8);
        m += {code, '\1', sig, '\0'};
        write();
    };
    m += {bigEndian ? 'B' : 'l', static_cast<char>(type), '\0', '\1'};
    u32(body.empty() ? 0 : 4 + static_cast<std::uint32_t>(body.size()) + 1);
    u32(77); // the peer's own serial
    u32(0);  // fields length, patched below
    field(5, 'u', [&] { u32(replySerial); });
    if (!errorName.empty()) {
        field(4, 's', [&] { str(errorName); });
    }
    if (!body.empty()) {
        field(8, 'g', [&] { m += {'\1', 's', '\0'}; });
    }
    m.replace(12, 4, bytes(static_cast<std::uint32_t>(m.size() - 16)));
    pad(8);
    if (!body.empty()) {
        str(body);
    }
    return m;
}

const std::string kHelloReply = message(kReturn, 1, "", ":1.7");

// What a fake peer does with each client. Answers go after the client's authentication line
// (AnswerAuth) or after its Hello (the others); then the peer says nothing more.
enum class Script { Close, Hold, AnswerAuth, AnswerHello, AnswerHelloByteByByte };

// Listens on a unix socket (abstract when `socket` starts with '\0') and plays one script with
// each client.
class Peer {
public:
    Peer(const std::string& socket, Script script, const std::string& answer = "")
        : socket_(socket), fd_(unixSocket(socket, true)) {
        if (fd_ < 0) {
            throw std::runtime_error("cannot listen");
        }
        thread_ = std::thread([this, script, answer] {
            for (pollfd p{fd_, POLLIN, 0}; !stop_;) {
                if (::poll(&p, 1, 20) > 0) {
                    client_ = ::accept(fd_, nullptr, nullptr);
                    play(script, answer);
                    ::close(client_);
                }
            }
        });
    }
    ~Peer() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    std::string address() const {
        return socket_[0] == '\0' ? "unix:abstract=" + socket_.substr(1) : "unix:path=" + socket_;
    }

private:
    // Reads what the client sends until `marker` has arrived (an empty one never does); false
    // once the client has closed or the test ends.
    bool readUntil(const std::string& marker) {
        for (std::string got; marker.empty() || got.find(marker) == std::string::npos;) {
            pollfd p{client_, POLLIN, 0};
            char chunk[512];
            const int ready = ::poll(&p, 1, 20);
            const ssize_t n = ready > 0 ? ::recv(client_, chunk, sizeof chunk, 0) : 0;
            if (stop_ || n < 0 || (ready > 0 && n == 0)) {
                return false;
            }
            got.append(chunk, static_cast<std::size_t>(n));
        }
        return true;
    }
    void send(const std::string& bytes) {
        ::send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    void play(Script script, const std::string& answer) {
        if (script == Script::AnswerAuth && readUntil("\r\n")) {
            send(answer);
        }
        if (script >= Script::AnswerHello && readUntil("\r\n")) {
            send("OK 0123456789abcdef0123456789abcdef\r\n");
            readUntil("Hello");
            const std::size_t step = script == Script::AnswerHello ? answer.size() : 1;
            for (std::size_t i = 0; i < answer.size(); i += step) {
                send(answer.substr(i, step));
                std::this_thread::sleep_for(1ms);
            }
        }
        if (script != Script::Close) {
            readUntil(""); // says nothing more until the client closes or the test ends
        }
    }

    std::string socket_;
    int fd_ = -1;
    int client_ = -1;
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

TEST(BusProbe, AnswersWithinTheBoundWhateverThePeerDoes) {
    struct Row {
        const char* name;
        Script script;
        std::string answer;
        bool usable;
        const char* problemOrName; // a part of the problem, or the unique name when usable
        bool abstract = false;
    };
    std::string huge = kHelloReply;
    huge[4] = huge[5] = huge[6] = '\x7f'; // body length of about 8 MB
    const Row rows[] = {
        {"accepts and never answers", Script::Hold, "", false, "authentication: no answer"},
        {"closes at once", Script::Close, "", false, "closed the connection"},
        {"refuses authentication", Script::AnswerAuth, "REJECTED EXTERNAL DBUS_COOKIE_SHA1\r\n",
         false, "refused to authenticate us (REJECTED EXTERNAL"},
        {"never answers Hello", Script::AnswerHello, "", false, "Hello: no answer"},
        {"answers authentication endlessly", Script::AnswerAuth, std::string(2048, 'x'), false,
         "does not speak D-Bus"},
        {"speaks HTTP", Script::AnswerHello, "HTTP/1.1 400 Bad Request\r\n\r\n", false,
         "does not speak D-Bus"},
        {"announces a huge message", Script::AnswerHello, huge, false, "oversized"},
        {"answers Hello with an error", Script::AnswerHello,
         message(kError, 1, "org.freedesktop.DBus.Error.AccessDenied", "not you"), false,
         "Hello failed: org.freedesktop.DBus.Error.AccessDenied not you"},
        {"answers another call only", Script::AnswerHello, message(kReturn, 2, "", ":1.8"), false,
         "Hello: no answer"},
        {"answers", Script::AnswerHello, kHelloReply, true, ":1.7"},
        {"answers another call first", Script::AnswerHello,
         message(kReturn, 2, "", ":1.8") + kHelloReply, true, ":1.7"},
        {"answers big-endian", Script::AnswerHello, message(kReturn, 1, "", ":1.99", true), true,
         ":1.99"},
        {"answers one byte at a time", Script::AnswerHelloByteByByte, kHelloReply, true, ":1.7"},
        {"answers on an abstract socket", Script::AnswerHello, kHelloReply, true, ":1.7", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string socket = row.abstract
                                       ? '\0' + ("/brimwell-test-" + std::to_string(::getpid()))
                                       : (dir.path() / "bus").string();
        Peer peer(socket, row.script, row.answer);
        const BusProbe probe = probeWithin(peer.address(), 300ms);
        EXPECT_EQ(probe.usable, row.usable) << probe.problem;
        EXPECT_EQ(probe.uniqueName, row.usable ? row.problemOrName : "");
        EXPECT_EQ(probe.address, row.usable ? peer.address() : "");
        EXPECT_TRUE(row.usable ? probe.problem.empty()
                               : probe.problem.find(row.problemOrName) != std::string::npos)
            << probe.problem;
    }
}

TEST(BusProbe, AddressesThatCannotWorkFailAtOnceWithAReason) {
    TempDir dir;
    const std::pair<std::string, const char*> rows[] = {
        {"", "no session bus address"},
        {"garbage", "is not a D-Bus address"},
        {"unix:path=" + (dir.path() / "missing").string(), "cannot connect"},
        {"tcp:host=127.0.0.1,port=1", "transport \"tcp\" is not supported"},
        {"unix:guid=00", "exactly one of path= and abstract="},
        {"unix:path=/" + std::string(200, 'p'), "too long"},
    };
    for (const auto& [address, problem] : rows) {
        // A bound no test would wait for: these must not need it.
        const BusProbe probe = probeWithin(address, 60s);
        EXPECT_FALSE(probe.usable) << address;
        EXPECT_NE(probe.problem.find(problem), std::string::npos)
            << address << ": " << probe.problem;
    }
}

TEST(BusProbe, EntriesAreTriedInOrderAndOnlyTheOneThatAnsweredIsKept) {
    TempDir dir;
    Peer silent((dir.path() / "silent").string(), Script::Hold);
    Peer good((dir.path() / "good").string(), Script::AnswerHello, kHelloReply);
    const std::string missing = "unix:path=" + (dir.path() / "missing").string();
    // A missing socket costs nothing; a live bus is found behind it.
    BusProbe probe = probeWithin(missing + ";" + good.address(), 300ms);
    EXPECT_TRUE(probe.usable) << probe.problem;
    EXPECT_EQ(probe.address, good.address());
    // A silent entry uses the whole bound; nothing after it is tried, and both are reported.
    probe = probeWithin(silent.address() + ";" + good.address(), 200ms);
    EXPECT_FALSE(probe.usable);
    EXPECT_NE(probe.problem.find(silent.address() + ": authentication: no answer"),
              std::string::npos)
        << probe.problem;
    EXPECT_NE(probe.problem.find("gave up after 200 ms"), std::string::npos) << probe.problem;
}

} // namespace
