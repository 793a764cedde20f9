#pragma once
// A real HTTP server on 127.0.0.1 for the analytics tests, with a record of what it received.

#include <httplib.h> // brings the standard headers used here

struct ReceivedRequest {
    std::string path;
    std::string target;                             // path and query exactly as sent
    std::multimap<std::string, std::string> params; // decoded
    std::chrono::steady_clock::time_point arrival;
    std::string param(const std::string& key) const {
        auto it = params.find(key);
        return it == params.end() ? "<absent>" : it->second;
    }
};

class LocalHttpServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    LocalHttpServer() {
        server_.set_keep_alive_max_count(1);
        port_ = server_.bind_to_any_port("127.0.0.1");
        if (port_ <= 0) {
            throw std::runtime_error("cannot listen on 127.0.0.1");
        }
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) { // a stop() before the accept loop runs would be lost
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
            ReceivedRequest r{req.path, req.target, {}, std::chrono::steady_clock::now()};
            r.params.insert(req.params.begin(), req.params.end());
            std::unique_lock lock(mutex_);
            received_.push_back(std::move(r));
            lock.unlock();
            handler(req, res);
        });
    }
    void reply(const std::string& path, int status, std::string body,
               std::string type = "text/html") {
        route(path, [=](const httplib::Request&, httplib::Response& res) {
            res.status = status;
            res.set_content(body, type);
        });
    }

    std::string hostAndPort() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string url(const std::string& path) const { return "http://" + hostAndPort() + path; }
    // All requests so far, or those for `path`.
    std::vector<ReceivedRequest> received(const std::string& path = "") const {
        std::lock_guard lock(mutex_);
        std::vector<ReceivedRequest> out;
        std::copy_if(received_.begin(), received_.end(), std::back_inserter(out),
                     [&](const auto& r) { return path.empty() || r.path == path; });
        return out;
    }

private:
    httplib::Server server_;
    int port_ = -1;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<ReceivedRequest> received_;
};
