#include "platform/core/session_bus.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <poll.h>
#include <stddef.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left before `deadline`, never negative.
int millisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on `fd` until the deadline. False on timeout or error.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, millisecondsLeft(deadline));
        if (n > 0) {
            return true;
        }
        if (n == 0 || errno != EINTR) {
            return false;
        }
    }
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// The byte stream of one probe connection, every read and write bounded by one deadline.
class Connection {
public:
    Connection(int fd, Clock::time_point deadline) : fd_(fd), deadline_(deadline) {}

    bool send(std::string_view bytes, std::string& problem) {
        while (!bytes.empty()) {
            const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && (errno == EPIPE || errno == ECONNRESET)) {
                problem = "the bus closed the connection";
                return false;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!waitFor(fd_, POLLOUT, deadline_)) {
                    problem = "no room to write within the time allowed";
                    return false;
                }
                continue;
            }
            problem = std::string("write failed: ") + std::strerror(errno);
            return false;
        }
        return true;
    }

    // Makes at least `count` bytes available in the buffer.
    bool fill(std::size_t count, std::string& problem) {
        while (buffer_.size() < count) {
            char chunk[4096];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n > 0) {
                buffer_.append(chunk, static_cast<std::size_t>(n));
                continue;
            }
            if (n == 0 || errno == ECONNRESET) {
                problem = "the bus closed the connection";
                return false;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                problem = std::string("read failed: ") + std::strerror(errno);
                return false;
            }
            if (!waitFor(fd_, POLLIN, deadline_)) {
                problem = "no answer within the time allowed";
                return false;
            }
        }
        return true;
    }

    // One authentication line, without its "\r\n".
    bool readLine(std::string& line, std::string& problem) {
        constexpr std::size_t kMaxLine = 512;
        for (;;) {
            const std::size_t end = buffer_.find("\r\n");
            if (end != std::string::npos) {
                line = buffer_.substr(0, end);
                buffer_.erase(0, end + 2);
                return true;
            }
            if (buffer_.size() > kMaxLine) {
                problem = "the bus does not speak D-Bus";
                return false;
            }
            if (!fill(buffer_.size() + 1, problem)) {
                return false;
            }
        }
    }

    std::string& buffer() { return buffer_; }

private:
    int fd_;
    Clock::time_point deadline_;
    std::string buffer_;
};

// Message encoding, as much of it as a method call without arguments needs.
class Writer {
public:
    void align(std::size_t n) {
        while (bytes_.size() % n != 0) {
            bytes_ += '\0';
        }
    }
    void byte(std::uint8_t b) { bytes_ += static_cast<char>(b); }
    void u32(std::uint32_t v) {
        align(4);
        for (int i = 0; i < 4; ++i) {
            byte(static_cast<std::uint8_t>(v >> (8 * i))); // little endian
        }
    }
    void string(std::string_view s) {
        u32(static_cast<std::uint32_t>(s.size()));
        bytes_.append(s);
        byte(0);
    }
    void headerField(std::uint8_t code, char type, std::string_view value) {
        align(8);
        byte(code);
        byte(1); // signature of one type
        byte(static_cast<std::uint8_t>(type));
        byte(0);
        string(value);
    }
    std::string& bytes() { return bytes_; }

private:
    std::string bytes_;
};

constexpr std::uint8_t kMethodCall = 1;
constexpr std::uint8_t kMethodReturn = 2;
constexpr std::uint8_t kError = 3;
constexpr std::uint8_t kNoAutoStart = 0x2;
constexpr std::uint8_t kFieldPath = 1;
constexpr std::uint8_t kFieldInterface = 2;
constexpr std::uint8_t kFieldMember = 3;
constexpr std::uint8_t kFieldErrorName = 4;
constexpr std::uint8_t kFieldReplySerial = 5;
constexpr std::uint8_t kFieldDestination = 6;
// Far more than any reply to Hello; a peer that announces more is not a bus we want.
constexpr std::uint32_t kMaxMessagePart = 64 * 1024;

std::string helloCall(std::uint32_t serial) {
    Writer w;
    w.byte('l');
    w.byte(kMethodCall);
    w.byte(kNoAutoStart);
    w.byte(1); // protocol version
    w.u32(0);  // no body
    w.u32(serial);
    w.u32(0); // header field array length, filled in below
    const std::size_t fieldsStart = w.bytes().size();
    w.headerField(kFieldPath, 'o', "/org/freedesktop/DBus");
    w.headerField(kFieldDestination, 's', "org.freedesktop.DBus");
    w.headerField(kFieldInterface, 's', "org.freedesktop.DBus");
    w.headerField(kFieldMember, 's', "Hello");
    const auto length = static_cast<std::uint32_t>(w.bytes().size() - fieldsStart);
    for (int i = 0; i < 4; ++i) {
        w.bytes()[12 + static_cast<std::size_t>(i)] = static_cast<char>(length >> (8 * i));
    }
    w.align(8);
    return w.bytes();
}

class Reader {
public:
    // Alignment counts from the start of `bytes`; reading begins at `from`.
    Reader(std::string_view bytes, bool bigEndian, std::size_t from = 0)
        : bytes_(bytes), bigEndian_(bigEndian), at_(from) {}

    bool align(std::size_t n) {
        while (at_ % n != 0) {
            if (at_ >= bytes_.size()) {
                return false;
            }
            ++at_;
        }
        return true;
    }
    bool byte(std::uint8_t& v) {
        if (at_ >= bytes_.size()) {
            return false;
        }
        v = static_cast<std::uint8_t>(bytes_[at_++]);
        return true;
    }
    bool u32(std::uint32_t& v) {
        if (!align(4) || bytes_.size() - at_ < 4) {
            return false;
        }
        v = 0;
        for (int i = 0; i < 4; ++i) {
            const auto b = static_cast<std::uint8_t>(bytes_[at_ + static_cast<std::size_t>(i)]);
            v |= static_cast<std::uint32_t>(b) << (8 * (bigEndian_ ? 3 - i : i));
        }
        at_ += 4;
        return true;
    }
    bool string(std::string& s) {
        std::uint32_t length = 0;
        if (!u32(length) || bytes_.size() - at_ < std::size_t{length} + 1) {
            return false;
        }
        s.assign(bytes_.substr(at_, length));
        at_ += std::size_t{length} + 1;
        return true;
    }
    bool signature(std::string& s) {
        std::uint8_t length = 0;
        if (!byte(length) || bytes_.size() - at_ < std::size_t{length} + 1) {
            return false;
        }
        s.assign(bytes_.substr(at_, length));
        at_ += std::size_t{length} + 1;
        return true;
    }
    std::size_t at() const { return at_; }

private:
    std::string_view bytes_;
    bool bigEndian_;
    std::size_t at_;
};

std::uint32_t u32At(std::string_view bytes, std::size_t at, bool bigEndian) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        const auto b = static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
        v |= static_cast<std::uint32_t>(b) << (8 * (bigEndian ? 3 - i : i));
    }
    return v;
}

// Reads the next whole message from the connection.
bool readMessage(Connection& connection, BusMessage& message, std::string& problem) {
    for (;;) {
        std::size_t size = 0;
        switch (parseBusMessage(connection.buffer(), message, size)) {
        case BusParse::Complete:
            connection.buffer().erase(0, size);
            return true;
        case BusParse::Malformed:
            problem = "the bus does not speak D-Bus";
            return false;
        case BusParse::Oversized:
            problem = "the bus sent an oversized message";
            return false;
        case BusParse::Incomplete:
            if (!connection.fill(connection.buffer().size() + 1, problem)) {
                return false;
            }
            break;
        }
    }
}

std::string hexOfDecimal(unsigned long value) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (char c : std::to_string(value)) {
        hex += digits[static_cast<unsigned char>(c) >> 4];
        hex += digits[static_cast<unsigned char>(c) & 0xf];
    }
    return hex;
}

// Opens a non-blocking stream socket to a unix-transport entry.
int connectUnix(const BusAddressEntry& entry, Clock::time_point deadline, std::string& problem) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socklen_t length = 0;
    const auto path = entry.keys.find("path");
    const auto abstract = entry.keys.find("abstract");
    if (path != entry.keys.end() && abstract == entry.keys.end()) {
        if (path->second.empty() || path->second.size() >= sizeof address.sun_path) {
            problem = "the socket path is empty or too long";
            return -1;
        }
        std::memcpy(address.sun_path, path->second.data(), path->second.size());
        length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path->second.size() + 1);
    } else if (abstract != entry.keys.end() && path == entry.keys.end()) {
        if (abstract->second.size() + 1 > sizeof address.sun_path) {
            problem = "the abstract socket name is too long";
            return -1;
        }
        std::memcpy(address.sun_path + 1, abstract->second.data(), abstract->second.size());
        length =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + abstract->second.size());
    } else {
        problem = "a unix address needs exactly one of path= and abstract=";
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        problem = std::string("no socket: ") + std::strerror(errno);
        return -1;
    }
    // A listener with a full queue refuses a non-blocking connect for now; ask again.
    for (;;) {
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
            return fd;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN && millisecondsLeft(deadline) > 0) {
            pollfd none{-1, 0, 0};
            ::poll(&none, 1, std::min(10, millisecondsLeft(deadline)));
            continue;
        }
        problem = errno == EAGAIN ? std::string("the bus accepts no connection")
                                  : std::string("cannot connect: ") + std::strerror(errno);
        ::close(fd);
        return -1;
    }
}

BusProbe probeEntry(const BusAddressEntry& entry, Clock::time_point deadline) {
    BusProbe result;
    if (entry.transport != "unix") {
        result.problem = "the transport \"" + entry.transport + "\" is not supported";
        return result;
    }
    Fd fd(connectUnix(entry, deadline, result.problem));
    if (fd.get() < 0) {
        return result;
    }
    Connection connection(fd.get(), deadline);
    std::string line;
    const std::string auth =
        std::string(1, '\0') + "AUTH EXTERNAL " + hexOfDecimal(::geteuid()) + "\r\n";
    if (!connection.send(auth, result.problem) || !connection.readLine(line, result.problem)) {
        result.problem = "authentication: " + result.problem;
        return result;
    }
    if (line.rfind("OK ", 0) != 0) {
        result.problem = "the bus refused to authenticate us (" + line.substr(0, 80) + ")";
        return result;
    }
    constexpr std::uint32_t kSerial = 1;
    if (!connection.send("BEGIN\r\n" + helloCall(kSerial), result.problem)) {
        return result;
    }
    for (;;) {
        BusMessage message;
        if (!readMessage(connection, message, result.problem)) {
            result.problem = "Hello: " + result.problem;
            return result;
        }
        if (message.replySerial != kSerial) {
            continue; // a signal such as NameAcquired
        }
        if (message.type == kMethodReturn && !message.firstString.empty()) {
            result.usable = true;
            result.address = entry.text;
            result.uniqueName = message.firstString;
            return result;
        }
        result.problem = message.type == kError
                             ? "Hello failed: " + message.errorName + " " + message.firstString
                             : std::string("Hello: the bus sent an unexpected reply");
        return result;
    }
}

} // namespace

BusParse parseBusMessage(std::string_view bytes, BusMessage& message, std::size_t& size) {
    if (bytes.size() < 16) {
        return BusParse::Incomplete;
    }
    const char endian = bytes[0];
    if ((endian != 'l' && endian != 'B') || bytes[3] != 1) {
        return BusParse::Malformed;
    }
    const bool bigEndian = endian == 'B';
    const std::uint32_t bodyLength = u32At(bytes, 4, bigEndian);
    const std::uint32_t fieldsLength = u32At(bytes, 12, bigEndian);
    if (bodyLength > kMaxMessagePart || fieldsLength > kMaxMessagePart) {
        return BusParse::Oversized;
    }
    const std::size_t headerEnd = (16 + std::size_t{fieldsLength} + 7) / 8 * 8;
    const std::size_t total = headerEnd + bodyLength;
    if (bytes.size() < total) {
        return BusParse::Incomplete;
    }
    message = BusMessage{};
    message.type = static_cast<std::uint8_t>(bytes[1]);

    Reader fields(bytes.substr(0, 16 + fieldsLength), bigEndian, 16);
    while (fields.at() < 16 + std::size_t{fieldsLength}) {
        std::uint8_t code = 0;
        std::string type;
        if (!fields.align(8) || !fields.byte(code) || !fields.signature(type) || type.size() != 1) {
            return BusParse::Malformed;
        }
        bool read = false;
        std::string text;
        std::uint32_t number = 0;
        switch (type[0]) {
        case 'u':
            read = fields.u32(number);
            break;
        case 's':
        case 'o':
            read = fields.string(text);
            break;
        case 'g':
            read = fields.signature(text);
            break;
        default:
            break;
        }
        if (!read) {
            return BusParse::Malformed;
        }
        if (code == kFieldReplySerial && type[0] == 'u') {
            message.replySerial = number;
        } else if (code == kFieldErrorName && type[0] == 's') {
            message.errorName = text;
        }
    }
    if (bodyLength >= 4) {
        Reader body(bytes.substr(headerEnd, bodyLength), bigEndian);
        if (!body.string(message.firstString)) {
            message.firstString.clear();
        }
    }
    size = total;
    return BusParse::Complete;
}

BusProbe probeBus(std::string_view address, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    BusProbe result;
    const auto entries = parseBusAddress(address);
    if (!entries) {
        result.problem =
            "the address \"" + std::string(address.substr(0, 200)) + "\" is not a D-Bus address";
        return result;
    }
    if (entries->empty()) {
        result.problem = "no session bus address";
        return result;
    }
    std::string problems;
    for (const auto& entry : *entries) {
        BusProbe tried = probeEntry(entry, deadline);
        if (tried.usable) {
            return tried;
        }
        if (!problems.empty()) {
            problems += "; ";
        }
        problems += entry.text + ": " + tried.problem;
        if (millisecondsLeft(deadline) == 0) {
            break;
        }
    }
    result.problem = problems;
    if (millisecondsLeft(deadline) == 0) {
        result.problem += " (gave up after " + std::to_string(timeout.count()) + " ms)";
    }
    return result;
}

const BusProbe& SessionBus::status() {
    static const BusProbe probe = [] {
        const std::string address = sessionBusAddress(std::getenv("DBUS_SESSION_BUS_ADDRESS"),
                                                      std::getenv("XDG_RUNTIME_DIR"));
        return probeBus(address, kProbeTimeout);
    }();
    return probe;
}

void SessionBus::exposeOnlyWhatAnswered() {
    const BusProbe& probe = status();
    ::setenv("DBUS_SESSION_BUS_ADDRESS",
             probe.usable ? probe.address.c_str() : kUnreachableBusAddress, 1);
}

} // namespace platform
