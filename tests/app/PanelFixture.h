#pragma once
// Shared pieces for the panel tests: kernel counters in a file, a clean that waits for the test,
// and doubles for the collaborators that own or serve the panel.

#include "app/MCAppServices.h"
#include "app/MCContentViewController.h"
#include "platform/ui/UserNotificationCenter.h"

#include "GoogleAnalytics/FakeFetcher.h"
#include "support/TempDir.h"

#include "GoogleAnalytics/AnalyticsHelper.h"
#include "GoogleAnalytics/GoogleTracking.h"
#include "memory/MCMemoryDetails.h"
#include "memory/MCProcesses.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

inline std::string meminfoText(long freeKb, long activeKb = 2000, long inactiveKb = 3000) {
    return "MemTotal: 16777216 kB\nMemFree: " + std::to_string(freeKb) +
           " kB\nMemAvailable: 8388608 kB\nActive: " + std::to_string(activeKb) +
           " kB\nInactive: " + std::to_string(inactiveKb) +
           " kB\nUnevictable: 4 kB\nSUnreclaim: 8 kB\nKernelStack: 12 kB\nPageTables: 16 kB\n";
}

// Details chosen by the test; none until set.
class FakeDetailsReader : public MCMemoryDetailsReader {
public:
    std::optional<MCMemoryDetails> currentDetails() const override {
        std::lock_guard lock(mutex_);
        return details_;
    }
    void set(std::optional<MCMemoryDetails> details) {
        std::lock_guard lock(mutex_);
        details_ = std::move(details);
    }

private:
    mutable std::mutex mutex_;
    std::optional<MCMemoryDetails> details_;
};

// `usedPercent` of 16 GB (decimal, so every percent is a whole byte count) in use; swap and
// pressure as given.
inline MCMemoryDetails detailsWith(int usedPercent, std::int64_t swapTotal = 0,
                                   std::int64_t swapFree = 0,
                                   std::optional<MCPressure> pressure = std::nullopt) {
    MCMemoryDetails d;
    d.totalMemory = 16'000'000'000;
    d.availableMemory = d.totalMemory / 100 * (100 - usedPercent);
    d.swapTotal = swapTotal;
    d.swapFree = swapFree;
    d.pressure = pressure;
    return d;
}

// The processes the test lists, biggest first, counting how often it was asked (from the
// thread pool).
class CountingProcessReader : public MCProcessReader {
public:
    CountingProcessReader() : MCProcessReader("/nonexistent") {}
    std::vector<MCProcess> biggest(std::size_t count, MCProcessScan* = nullptr) const override {
        ++reads;
        return {processes.begin(),
                processes.begin() + static_cast<std::ptrdiff_t>(std::min(count, processes.size()))};
    }
    std::vector<MCProcess> processes;
    mutable std::atomic<int> reads{0};
};

// Holds every clean pass until the test opens the gate, counting the passes.
class GatedAllocator : public BlockAllocator {
public:
    void* allocate(std::size_t size) override {
        {
            std::unique_lock lock(mutex_);
            ++passes_;
            changed_.notify_all();
            changed_.wait(lock, [this] { return open_; });
        }
        return real_.allocate(size);
    }
    void release(void* block, std::size_t size) override { real_.release(block, size); }

    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    int passes() {
        std::lock_guard lock(mutex_);
        return passes_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    int passes_ = 0;
    MappedBlockAllocator real_;
};

class RecordingNotificationCenter : public UserNotificationCenter {
public:
    void deliverNotification(const UserNotification& notification) override {
        delivered.push_back(notification);
    }
    std::vector<UserNotification> delivered;
};

// A real analytics helper whose hits go to a recording fetcher, at once and in order; the calls
// from the panel recorded in one list so their order can be checked.
class AppDelegateDouble : public MCAppServices {
public:
    AppDelegateDouble() {
        fetcher->push(FakeFetcher::body("GIF89a"));
        auto transport = std::make_shared<TrackingTransport>();
        transport->fetcher = fetcher;
        transport->publicIPAddress = [] { return std::optional<std::string>("127.0.0.1"); };
        transport->startDelay = std::chrono::milliseconds(0);
        AnalyticsHelper::Dependencies deps;
        deps.config.collectionHost = "collector.invalid";
        deps.queue = std::make_shared<OperationQueue>();
        deps.transport = transport;
        analytics_ = std::make_unique<AnalyticsHelper>(std::move(deps));
        analytics_->setDomainName("brimwell.app");
        analytics_->setAnalyticsAccountCode("UA-12345678-1");
    }
    void showAboutWindow() override {
        calls.push_back("showAboutWindow");
        if (onShowAbout) {
            onShowAbout();
        }
    }
    AnalyticsHelper* analyticsHelper() const override { return analytics_.get(); }

    // The event names of the hits sent so far, in order: the action between the first two
    // stars of each hit's event.
    std::vector<std::string> events() const {
        std::vector<std::string> names;
        for (const std::string& url : fetcher->urls()) {
            const std::size_t start = url.find('*', url.find("utme=")) + 1;
            names.push_back(url.substr(start, url.find('*', start) - start));
        }
        return names;
    }

    std::shared_ptr<FakeFetcher> fetcher = std::make_shared<FakeFetcher>();
    std::vector<std::string> calls;
    std::function<void()> onShowAbout; // run after the call is logged

private:
    std::unique_ptr<AnalyticsHelper> analytics_;
};
