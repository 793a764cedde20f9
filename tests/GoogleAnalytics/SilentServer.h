#pragma once
// A server on 127.0.0.1 that takes connections and reads requests but never answers, as a
// collection host that has stopped working would. Records each request's first line.

#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

class SilentServer {
public:
    SilentServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 || ::pipe2(wake_, O_CLOEXEC) != 0 ||
            ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 64) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("cannot listen on 127.0.0.1");
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~SilentServer() {
        (void)::write(wake_[1], "x", 1);
        thread_.join();
        ::close(listener_);
        ::close(wake_[0]);
        ::close(wake_[1]);
    }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    std::string hostAndPort() const { return "127.0.0.1:" + std::to_string(port_); }

    std::vector<std::string> requestLines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // True once `count` requests have arrived, false after `timeout`.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
        std::unique_lock lock(mutex_);
        return arrived_.wait_for(lock, timeout, [&] { return lines_.size() >= count; });
    }

private:
    void serve() {
        std::map<int, std::string> clients; // what each has sent until its first line ended
        for (;;) {
            std::vector<pollfd> fds = {{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
            for (const auto& [fd, text] : clients) {
                fds.push_back({fd, POLLIN, 0});
            }
            if (::poll(fds.data(), fds.size(), -1) < 0) {
                continue;
            }
            if (fds[0].revents != 0) {
                break;
            }
            if (fds[1].revents & POLLIN) {
                const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                if (client >= 0) {
                    clients[client];
                }
            }
            for (std::size_t i = 2; i < fds.size(); ++i) {
                if (fds[i].revents == 0) {
                    continue;
                }
                char buffer[4096];
                const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                if (n <= 0) { // the client gave up waiting
                    ::close(fds[i].fd);
                    clients.erase(fds[i].fd);
                    continue;
                }
                std::string& text = clients[fds[i].fd];
                const bool hadLine = text.find("\r\n") != std::string::npos;
                text.append(buffer, static_cast<std::size_t>(n));
                const std::size_t end = text.find("\r\n");
                if (!hadLine && end != std::string::npos) {
                    std::lock_guard lock(mutex_);
                    lines_.push_back(text.substr(0, end));
                    arrived_.notify_all();
                }
            }
        }
        for (const auto& [fd, text] : clients) {
            ::close(fd);
        }
    }

    int listener_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<std::string> lines_;
};
