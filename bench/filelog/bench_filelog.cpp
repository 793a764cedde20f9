// Lines per second into rolling log files (1 MiB each, 5 kept), ours beside spdlog's rotating
// file sink, in one run. Prints figures and ratios.
//
// Ours writes every line to the file as it comes (one write per line), from its own queue. The
// like-for-like spdlog setup is an asynchronous logger whose sink is flushed after every line;
// spdlog's usual buffered setups are printed for reference.
#include "logging/DDFileLogger.h"
#include "logging/DDLog.h"

#include <spdlog/async.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kMaxSize = 1024 * 1024;
constexpr std::size_t kMaxFiles = 5;

template <class Produce, class Drain>
double linesPerSecond(int threads, long perThread, Produce&& produce, Drain&& drain) {
    const auto start = Clock::now();
    std::vector<std::thread> producers;
    for (int t = 0; t < threads; ++t) {
        producers.emplace_back([&, t] {
            for (long i = 0; i < perThread; ++i) {
                produce(t, i);
            }
        });
    }
    for (auto& p : producers) {
        p.join();
    }
    drain();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return static_cast<double>(threads * perThread) / seconds;
}

fs::path freshDir(const fs::path& base, const char* name) {
    const fs::path dir = base / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

} // namespace

int main(int argc, char** argv) {
    const long lines = argc > 1 ? std::atol(argv[1]) : 400000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    char pattern[] = "/tmp/brimwell-bench-filelog-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        return 1;
    }
    const fs::path base = pattern;

    auto manager = std::make_shared<DDLogFileManagerDefault>(freshDir(base, "ours").string());
    auto fileLogger = std::make_shared<DDFileLogger>(manager);
    fileLogger->setMaximumFileSize(kMaxSize);
    DDLog::addLogger(fileLogger);
    DDLog::flushLog();

    spdlog::init_thread_pool(8192, 1);
    auto makeAsync = [&](const char* name, bool flushEachLine) {
        auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
            (freshDir(base, name) / "log.txt").string(), kMaxSize, kMaxFiles);
        auto logger = std::make_shared<spdlog::async_logger>(name, sink, spdlog::thread_pool(),
                                                             spdlog::async_overflow_policy::block);
        logger->set_pattern("%Y/%m/%d %H:%M:%S:%e  %v");
        if (flushEachLine) {
            logger->flush_on(spdlog::level::trace);
        }
        return logger;
    };
    auto equivalent = makeAsync("spdlog-async-flushed", true);
    auto asyncBuffered = makeAsync("spdlog-async-buffered", false);
    auto syncSink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
        (freshDir(base, "spdlog-sync-buffered") / "log.txt").string(), kMaxSize, kMaxFiles);
    auto syncBuffered = std::make_shared<spdlog::logger>("spdlog-sync-buffered", syncSink);
    syncBuffered->set_pattern("%Y/%m/%d %H:%M:%S:%e  %v");

    std::printf("%ld lines of ~60 bytes per run, rolling at 1 MiB, best of %d runs\n", lines,
                rounds);
    for (int threads : {1, 4}) {
        const long perThread = lines / threads;
        double ours = 0, theirs = 0, theirsAsync = 0, theirsSync = 0;
        for (int r = 0; r < rounds; ++r) {
            ours = std::max(ours, linesPerSecond(
                                      threads, perThread,
                                      [](int t, long i) { DDLogError("thread %d line %ld", t, i); },
                                      [] { DDLog::flushLog(); }));
            auto spd = [&](const std::shared_ptr<spdlog::logger>& logger) {
                return linesPerSecond(
                    threads, perThread,
                    [&](int t, long i) {
                        logger->error("thread {} line {}, [{}({})]", t, i, "bench_filelog.cpp",
                                      __LINE__);
                    },
                    [&] { logger->flush(); });
            };
            theirs = std::max(theirs, spd(equivalent));
            theirsAsync = std::max(theirsAsync, spd(asyncBuffered));
            theirsSync = std::max(theirsSync, spd(syncBuffered));
        }
        std::printf("%d thread(s): ours %.3f M lines/s | spdlog async, flushed per line %.3f M "
                    "lines/s, ratio (ours/spdlog) %.2f | for reference: spdlog async buffered "
                    "%.3f (ratio %.2f), sync buffered %.3f (ratio %.2f)\n",
                    threads, ours / 1e6, theirs / 1e6, ours / theirs, theirsAsync / 1e6,
                    ours / theirsAsync, theirsSync / 1e6, ours / theirsSync);
    }
    std::printf(
        "files kept: ours %zu, spdlog %zu\n", manager->unsortedLogFilePaths().size(),
        static_cast<std::size_t>(std::distance(
            fs::directory_iterator(base / "spdlog-async-flushed"), fs::directory_iterator())));
    DDLog::removeAllLoggers();
    DDLog::flushLog();
    spdlog::shutdown();
    fs::remove_all(base);
    return 0;
}
