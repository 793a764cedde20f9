#pragma once
// An operation that keeps a queue's worker busy until it is let go.

#include "GoogleAnalytics/OperationQueue.h"

#include <future>

class Holder : public Operation {
public:
    // Adds a holder to `queue` and returns once it runs on the worker.
    static std::shared_ptr<Holder> start(OperationQueue& queue) {
        auto holder = std::make_shared<Holder>();
        auto started = holder->started_.get_future();
        queue.addOperation(holder);
        started.wait();
        return holder;
    }
    void main() override {
        started_.set_value();
        release_.get_future().wait();
    }
    void letGo() { release_.set_value(); }

private:
    std::promise<void> started_, release_;
};
