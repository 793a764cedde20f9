// Costs on the analytics road: what the main thread pays per event (fireEvent up to the
// queue), and what the background operation pays to build a hit and read the echo page.

#include "GoogleAnalytics/AnalyticsHelper.h"
#include "GoogleAnalytics/JFUrlUtil.h"
#include "GoogleAnalytics/PublicIP.h"
#include "GoogleAnalytics/RequestFactory.h"
#include "GoogleAnalytics/TrackingRequest.h"

#include "platform/core/preferences.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <malloc.h>
#include <string>

namespace {

void BM_EncodeUrlCookie(benchmark::State& state) {
    const std::string cookie =
        "__utma=0.123456789.1400000000.1400000000.1400000000.2;+__utmz=0.1400000000.1.1."
        "utmcsr=(direct)|utmccn=(direct)|utmcmd=(none);";
    for (auto _ : state) {
        benchmark::DoNotOptimize(JFUrlUtil::encodeUrl(cookie));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(cookie.size()));
}
BENCHMARK(BM_EncodeUrlCookie);

void BM_EncodeUrlLong(benchmark::State& state) {
    std::string text;
    while (text.size() < static_cast<std::size_t>(state.range(0))) {
        text += "path/to a;file?query=va.lue&x=%41|~";
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(JFUrlUtil::encodeUrl(text));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_EncodeUrlLong)->Arg(1 << 10)->Arg(1 << 16);

void BM_TrackingGifURL(benchmark::State& state) {
    RequestFactory factory("collect.example", TrackingRequest::systemRandomSource(),
                           TrackingRequest::systemClock());
    auto request = factory.buildRequest(
        GoogleEvent::initWithParams("brimwell.example", "Linux 0.1.0", "PopoverShown",
                                    "0F8FAD5B-D9CB-469F-A165-70867728950E", 0),
        "UA-12345-1");
    request->setRequestedByIpAddress("203.0.113.7");
    for (auto _ : state) {
        benchmark::DoNotOptimize(request->trackingGifURL());
    }
}
BENCHMARK(BM_TrackingGifURL);

void BM_ScrapeEchoPage(benchmark::State& state) {
    const std::string page = "<html><head><title>Current IP Check</title></head><body>Current "
                             "IP Address: 203.0.113.7</body></html>\r\n";
    for (auto _ : state) {
        benchmark::DoNotOptimize(PublicIP::scrapeAddress(page));
    }
}
BENCHMARK(BM_ScrapeEchoPage);

// The worst page the lookup accepts: as many tags as fit.
void BM_ScrapeLargestTagSoup(benchmark::State& state) {
    std::string page = "IP Address: 203.0.113.7 ";
    for (int i = 0; page.size() + 16 < PublicIPLookup::kMaxPageBytes; ++i) {
        page += "<t" + std::to_string(i % state.range(0)) + ">";
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(PublicIP::scrapeAddress(page));
    }
}
BENCHMARK(BM_ScrapeLargestTagSoup)->Arg(1)->Arg(100)->Arg(100000)->Unit(benchmark::kMillisecond);

// Answers every hit at once without any network, so only the main thread's share is measured.
class ImmediateFetcher : public HttpFetcher {
public:
    FetchResult fetch(const std::string&) override {
        FetchResult r;
        r.ok = true;
        r.status = 200;
        r.body = "GIF89a";
        return r;
    }
};

std::shared_ptr<TrackingTransport> offlineTransport() {
    auto t = std::make_shared<TrackingTransport>();
    t->fetcher = std::make_shared<ImmediateFetcher>();
    t->startDelay = std::chrono::milliseconds(0);
    t->publicIPAddress = [] { return std::optional<std::string>("203.0.113.7"); };
    return t;
}

void BM_FireEventOnTheCallingThread(benchmark::State& state) {
    AnalyticsHelper::Dependencies d;
    d.config.collectionHost = "collect.example";
    d.queue = std::make_shared<OperationQueue>();
    d.transport = offlineTransport();
    d.shortVersion = "0.1.0";
    AnalyticsHelper helper(d);
    helper.setDomainName("brimwell.example");
    helper.setAnalyticsAccountCode("UA-12345-1");
    for (auto _ : state) {
        benchmark::DoNotOptimize(helper.fireEvent("PopoverShown", 0));
        if (d.queue->operationCount() > 1000) {
            state.PauseTiming();
            d.queue->waitUntilAllOperationsAreFinished();
            state.ResumeTiming();
        }
    }
    d.queue->waitUntilAllOperationsAreFinished();
}
BENCHMARK(BM_FireEventOnTheCallingThread);

// A collection host that never answers: every fetch waits until the benchmark lets it go.
class StuckFetcher : public HttpFetcher {
public:
    explicit StuckFetcher(std::shared_future<void> release) : release_(std::move(release)) {}
    FetchResult fetch(const std::string&) override {
        release_.wait();
        return {};
    }

private:
    std::shared_future<void> release_;
};

// 100,000 events while the first hit hangs: the heap the waiting hits hold, with the
// process-wide bound (range 1) and without any (range 0).
void BM_FloodAgainstASilentHost(benchmark::State& state) {
    const std::size_t bound = state.range(0) != 0 ? AnalyticsHelper::kMaxQueuedHits : 0;
    constexpr int kEvents = 100000;
    double heapGrowth = 0;
    std::size_t waiting = 0;
    for (auto _ : state) {
        std::promise<void> release;
        AnalyticsHelper::Dependencies d;
        d.config.collectionHost = "collect.example";
        d.queue = std::make_shared<OperationQueue>(bound);
        auto transport = offlineTransport();
        transport->fetcher = std::make_shared<StuckFetcher>(release.get_future().share());
        d.transport = transport;
        d.shortVersion = "0.1.0";
        AnalyticsHelper helper(d);
        helper.setDomainName("brimwell.example");
        helper.setAnalyticsAccountCode("UA-12345-1");
        const auto before = static_cast<double>(mallinfo2().uordblks);
        for (int i = 0; i < kEvents; ++i) {
            helper.fireEvent("PopoverShown", i);
        }
        heapGrowth = static_cast<double>(mallinfo2().uordblks) - before;
        waiting = d.queue->operationCount();
        release.set_value();
        state.PauseTiming();
        d.queue.reset(); // drops what still waits
        state.ResumeTiming();
    }
    state.counters["heap_MiB"] = heapGrowth / (1024.0 * 1024.0);
    state.counters["queued"] = static_cast<double>(waiting);
}
BENCHMARK(BM_FloodAgainstASilentHost)
    ->ArgName("bounded")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Reading the preferences at the first event: a usual file, one at the size limit, and a
// 219 MB one (sparse), which is refused unread.
void BM_LoadPreferences(benchmark::State& state) {
    char dir[] = "/tmp/brimwell-bench-XXXXXX";
    if (::mkdtemp(dir) == nullptr) {
        state.SkipWithError("mkdtemp failed");
        return;
    }
    const std::string file = std::string(dir) + "/preferences";
    {
        std::ofstream out(file, std::ios::binary);
        out << "# Brimwell preferences 1\nUserUUID=0F8FAD5B-D9CB-469F-A165-70867728950E\n";
        const auto size = static_cast<std::size_t>(state.range(0));
        for (std::size_t written = 80; written + 20 <= size; written += 20) {
            out << "Key" << written % 1000000 << "=value\n";
        }
    }
    if (state.range(0) > static_cast<std::int64_t>(platform::UserDefaults::kMaxFileBytes)) {
        std::filesystem::resize_file(file, static_cast<std::uintmax_t>(state.range(0)));
    }
    for (auto _ : state) {
        platform::UserDefaults defaults(file);
        benchmark::DoNotOptimize(defaults.stringForKey("UserUUID"));
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_LoadPreferences)->Arg(100)->Arg(64 * 1024)->Arg(219 * 1000 * 1000);

} // namespace

BENCHMARK_MAIN();
