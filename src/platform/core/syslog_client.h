#pragma once
// A client of the host's system log daemon. It speaks the local syslog datagram protocol on
// /dev/log, as syslog(3) does (so journald or rsyslog receive it), but keeps its own connection
// and takes the socket path as a parameter, so a test can point it at a private daemon.

#include <cstdarg>
#include <mutex>
#include <string>

namespace syslog_client {

inline constexpr const char* DEFAULT_SOCKET = "/dev/log";

class Connection {
public:
    // ident: the name written before each entry, empty for the process name. facility: the
    // syslog facility code already shifted (LOG_USER is 8).
    Connection(std::string ident, int facility, std::string socketPath = DEFAULT_SOCKET);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Writes one entry at priority 0..7, printf-style. Delivery failures are not reported, as
    // with syslog(3).
    void log(int priority, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void vlog(int priority, const char* format, va_list args);

    const std::string& ident() const { return ident_; }
    const std::string& socketPath() const { return socketPath_; }

private:
    bool connectLocked();
    void closeLocked();

    std::string ident_;
    int facility_;
    std::string socketPath_;
    std::mutex mutex_;
    int fd_ = -1;
};

// The entry as it goes on the wire: "<PRI>Mmm dd hh:mm:ss ident: text" in local time.
std::string formatEntry(int facility, int priority, const std::string& ident, long epochSeconds,
                        const std::string& text);

} // namespace syslog_client
