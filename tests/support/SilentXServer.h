#pragma once
// An X display that hangs: a loopback port 6000+N that accepts connections (the kernel completes
// them) and never answers, named "127.0.0.1:N". Made not listening, the port is taken and
// refuses every connection: a display with no server. Empty display() when no port was free.

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

class SilentXServer {
public:
    enum class Kind { Silent, Refusing };
    explicit SilentXServer(Kind kind = Kind::Silent) {
        for (int display = 40; display < 100 && display_.empty(); ++display) {
            fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<std::uint16_t>(6000 + display));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (fd_ >= 0 &&
                ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                (kind == Kind::Refusing || ::listen(fd_, 8) == 0)) {
                display_ = "127.0.0.1:" + std::to_string(display);
            } else if (fd_ >= 0) {
                ::close(fd_);
                fd_ = -1;
            }
        }
    }
    ~SilentXServer() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    SilentXServer(const SilentXServer&) = delete;
    SilentXServer& operator=(const SilentXServer&) = delete;

    const std::string& display() const { return display_; }

private:
    int fd_ = -1;
    std::string display_;
};
