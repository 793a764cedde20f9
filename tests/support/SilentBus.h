#pragma once
// A session bus that accepts every connection on a Unix socket and never says a word.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

class SilentBus {
public:
    explicit SilentBus(const QString& path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray native = QFile::encodeName(path);
        qstrncpy(address.sun_path, native.constData(), sizeof address.sun_path);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd_, 16) != 0) {
            std::fprintf(stderr, "the silent bus cannot listen on %s\n", native.constData());
            std::abort();
        }
        address_ = QStringLiteral("unix:path=") + path;
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
    QString address() const { return address_; }
    int connections() const { return connections_; }

private:
    int fd_ = -1;
    QString address_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
    std::vector<int> held_; // the thread's until it is joined
};
