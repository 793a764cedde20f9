#pragma once
// A session bus that accepts every connection on a Unix socket and never says a word.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

class SilentBus {
public:
    explicit SilentBus(const std::string& path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        ::unlink(path.c_str());
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd_, 64) != 0) {
            std::fprintf(stderr, "the silent bus cannot listen on %s\n", path.c_str());
            std::abort();
        }
        address_ = "unix:path=" + path;
        thread_ = std::thread([this] {
            while (!stop_) {
                pollfd p{fd_, POLLIN, 0};
                if (::poll(&p, 1, 20) > 0) {
                    held_.push_back(::accept(fd_, nullptr, nullptr));
                    ++connections_;
                }
            }
        });
    }
    ~SilentBus() {
        stop_ = true;
        thread_.join();
        for (int fd : held_) {
            ::close(fd);
        }
        ::close(fd_);
    }
    SilentBus(const SilentBus&) = delete;
    SilentBus& operator=(const SilentBus&) = delete;

    // What DBUS_SESSION_BUS_ADDRESS names it by.
    const std::string& address() const { return address_; }
    int connections() const { return connections_; }

private:
    int fd_ = -1;
    std::string address_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
    std::vector<int> held_; // the thread's until it is joined
};
