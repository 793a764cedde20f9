#pragma once
// An HttpFetcher that answers from a script (the last answer repeats; none at all: it throws)
// and records the URLs it was asked for. The hook runs on the fetching thread first.

#include "GoogleAnalytics/HttpFetcher.h"

#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <vector>

class FakeFetcher : public HttpFetcher {
public:
    static FetchResult body(std::string text) { return {true, 200, std::move(text), "", false}; }

    void push(FetchResult result) {
        std::lock_guard lock(mutex_);
        script_.push_back(std::move(result));
    }
    FetchResult fetch(const std::string& url) override {
        std::unique_lock lock(mutex_);
        urls_.push_back(url);
        lock.unlock();
        onFetch();
        lock.lock();
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

    std::function<void()> onFetch = [] {}; // set before the first fetch

private:
    mutable std::mutex mutex_;
    std::deque<FetchResult> script_;
    std::vector<std::string> urls_;
};
