#pragma once
// A real HTTP server on 127.0.0.1 for the analytics tests, with a record of what it received.

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

struct ReceivedRequest {
    std::string path;
    std::string target;                             // path and query exactly as sent
    std::multimap<std::string, std::string> params; // decoded
    std::chrono::steady_clock::time_point arrival;
};

class LocalHttpServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    // On a free port, or on `port` when it is given.
    explicit LocalHttpServer(int port = 0) {
        server_.set_keep_alive_max_count(1);
        if (port == 0) {
            port_ = server_.bind_to_any_port("127.0.0.1");
        } else if (server_.bind_to_port("127.0.0.1", port)) {
            port_ = port;
        }
        if (port_ <= 0) {
            throw std::runtime_error("cannot listen on 127.0.0.1");
        }
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // stop() before the accept loop runs would be lost.
        while (!server_.is_running()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    ~LocalHttpServer() {
        server_.stop();
        thread_.join();
    }

    // Answers GET `path` with `handler` after recording the request.
    void route(const std::string& path, Handler handler) {
        server_.Get(path, [this, handler](const httplib::Request& req, httplib::Response& res) {
            {
                std::lock_guard lock(mutex_);
                ++active_;
                maxActive_ = std::max(maxActive_, active_);
                ReceivedRequest r{req.path, req.target, {}, std::chrono::steady_clock::now()};
                for (const auto& p : req.params) {
                    r.params.insert(p);
                }
                received_.push_back(std::move(r));
            }
            arrived_.notify_all();
            handler(req, res);
            std::lock_guard lock(mutex_);
            --active_;
        });
    }

    // Answers GET `path` with a fixed status and body.
    void reply(const std::string& path, int status, std::string body,
               std::string type = "text/html") {
        route(path, [status, body, type](const httplib::Request&, httplib::Response& res) {
            res.status = status;
            res.set_content(body, type.c_str());
        });
    }

    int port() const { return port_; }
    std::string hostAndPort() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string url(const std::string& path) const { return "http://" + hostAndPort() + path; }

    std::vector<ReceivedRequest> received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }

    // Waits until `count` requests have arrived; false when `limit` passed first.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return arrived_.wait_for(lock, limit, [&] { return received_.size() >= count; });
    }

    int maxConcurrentRequests() const {
        std::lock_guard lock(mutex_);
        return maxActive_;
    }

private:
    httplib::Server server_;
    int port_ = -1;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<ReceivedRequest> received_;
    int active_ = 0;
    int maxActive_ = 0;
};

// A released-on-demand gate for handlers that must hang.
class Gate {
public:
    void open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        cv_.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = false;
};
