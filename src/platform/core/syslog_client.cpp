#include "platform/core/syslog_client.h"

#include "platform/core/thread_info.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace syslog_client {

std::string formatEntry(int facility, int priority, const std::string& ident, long epochSeconds,
                        const std::string& text) {
    const std::time_t t = static_cast<std::time_t>(epochSeconds);
    std::tm local{};
    ::localtime_r(&t, &local);
    char stamp[32];
    const std::size_t n = std::strftime(stamp, sizeof stamp, "%b %e %T", &local);
    std::string entry = "<" + std::to_string((facility & ~7) | (priority & 7)) + ">";
    entry.append(stamp, n);
    entry += ' ';
    entry += ident;
    entry += ": ";
    entry += text;
    return entry;
}

Connection::Connection(std::string ident, int facility, std::string socketPath)
    : ident_(ident.empty() ? thread_info::processName() : std::move(ident)), facility_(facility),
      socketPath_(std::move(socketPath)) {}

Connection::~Connection() {
    std::lock_guard lock(mutex_);
    closeLocked();
}

bool Connection::connectLocked() {
    if (fd_ >= 0) {
        return true;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath_.size() >= sizeof addr.sun_path) {
        return false;
    }
    socketPath_.copy(addr.sun_path, socketPath_.size());
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        return false;
    }
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        closeLocked();
        return false;
    }
    return true;
}

void Connection::closeLocked() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void Connection::log(int priority, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vlog(priority, format, args);
    va_end(args);
}

void Connection::vlog(int priority, const char* format, va_list args) {
    if (format == nullptr) {
        return;
    }
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed < 0) {
        return;
    }
    std::vector<char> text(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    const std::string entry =
        formatEntry(facility_, priority, ident_, ::time(nullptr),
                    std::string(text.data(), static_cast<std::size_t>(needed)));

    std::lock_guard lock(mutex_);
    // Like syslog(3): one reconnect when the daemon went away or restarted.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!connectLocked()) {
            return;
        }
        if (::send(fd_, entry.data(), entry.size(), MSG_NOSIGNAL) >= 0) {
            return;
        }
        closeLocked();
    }
}

} // namespace syslog_client
