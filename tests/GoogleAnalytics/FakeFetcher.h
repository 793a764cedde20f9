#pragma once
// An HttpFetcher that answers from a script and records the URLs it was asked for.

#include "HttpFetcher.h"

#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

class FakeFetcher : public HttpFetcher {
public:
    static FetchResult body(std::string text, long status = 200) {
        FetchResult r;
        r.ok = true;
        r.status = status;
        r.body = std::move(text);
        return r;
    }
    static FetchResult failure(std::string why = "could not connect") {
        FetchResult r;
        r.error = std::move(why);
        return r;
    }

    // Answers the next fetch; when the script runs out, the last answer repeats.
    void push(FetchResult result) {
        std::lock_guard lock(mutex_);
        script_.push_back(std::move(result));
    }
    // Runs on the fetching thread before the answer is given.
    void onFetch(std::function<void(const std::string&)> hook) {
        std::lock_guard lock(mutex_);
        hook_ = std::move(hook);
    }

    FetchResult fetch(const std::string& url) override {
        std::function<void(const std::string&)> hook;
        {
            std::lock_guard lock(mutex_);
            urls_.push_back(url);
            hook = hook_;
        }
        if (hook) {
            hook(url);
        }
        std::lock_guard lock(mutex_);
        if (script_.empty()) {
            throw std::runtime_error("no scripted answer");
        }
        FetchResult r = script_.front();
        if (script_.size() > 1) {
            script_.pop_front();
        }
        return r;
    }

    std::vector<std::string> urls() const {
        std::lock_guard lock(mutex_);
        return urls_;
    }
    std::size_t count() const { return urls().size(); }

private:
    mutable std::mutex mutex_;
    std::deque<FetchResult> script_;
    std::vector<std::string> urls_;
    std::function<void(const std::string&)> hook_;
};
