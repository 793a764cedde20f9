// Throughput of the logging facility beside spdlog, in one run. Prints figures and ratios.
//   (a) cost of a call filtered out at the call site
//   (b) delivered messages per second from 1 and 4 threads, two loggers writing to /dev/null
#include "logging/DDASLLogger.h"
#include "logging/DDLog.h"
#include "logging/DDTTYLogger.h"
#include "logging/MCLogFormatter.h"

#include <spdlog/async.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

// Writes each line to /dev/null, as the system log would take it.
class DevNullSink : public DDSystemLogSink {
public:
    DevNullSink() : fd_(::open("/dev/null", O_WRONLY | O_CLOEXEC)) {}
    ~DevNullSink() override { ::close(fd_); }
    void log(int, const char*, const char* text) override {
        const std::size_t n = std::strlen(text);
        if (::write(fd_, text, n) < 0) {
            std::abort();
        }
    }

private:
    int fd_;
};

// spdlog's counterpart of the system log sink: one write per formatted line, as syslog(3) sends
// one datagram per entry.
class PerLineSink : public spdlog::sinks::base_sink<std::mutex> {
public:
    PerLineSink() : fd_(::open("/dev/null", O_WRONLY | O_CLOEXEC)) {}
    ~PerLineSink() override { ::close(fd_); }

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        spdlog::memory_buf_t line;
        formatter_->format(msg, line);
        if (::write(fd_, line.data(), line.size()) < 0) {
            std::abort();
        }
    }
    void flush_() override {}

private:
    int fd_;
};

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

template <class F>
double nsPerCall(F&& f, long iterations) {
    const auto start = Clock::now();
    for (long i = 0; i < iterations; ++i) {
        f(i);
    }
    return seconds(Clock::now() - start) * 1e9 / static_cast<double>(iterations);
}

template <class Produce, class Drain>
double messagesPerSecond(int threads, long perThread, Produce&& produce, Drain&& drain) {
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
    return static_cast<double>(threads * perThread) / seconds(Clock::now() - start);
}

} // namespace

int main(int argc, char** argv) {
    const long perRun = argc > 1 ? std::atol(argv[1]) : 400000;
    // A second argument of "ours" skips the filtered calls and spdlog (for profiling).
    const bool oursOnly = argc > 2 && std::strcmp(argv[2], "ours") == 0;
    const long filteredIterations = oursOnly ? 1 : 200000000;

    // Both libraries' terminal output goes to /dev/null.
    const int devnull = ::open("/dev/null", O_WRONLY);
    ::dup2(devnull, STDERR_FILENO);
    FILE* out = stdout;

    // --- ours
    auto formatter = std::make_shared<MCLogFormatter>();
    auto asl = std::make_shared<DDASLLogger>(std::make_shared<DevNullSink>());
    auto tty = std::make_shared<DDTTYLogger>(DDTTYColorMode::none);
    asl->setLogFormatter(formatter);
    tty->setLogFormatter(formatter);
    DDLog::addLogger(asl);
    DDLog::addLogger(tty);
    DDLog::flushLog();

    // --- spdlog: async loggers (one worker, blocking when its queue is full), two sinks each
    // formatting the same line. "Equivalent" sinks make one system call per line per sink as
    // ours do (stderr flushed per line, and a per-line write standing for syslog); "buffered"
    // sinks are stdio file sinks, for reference.
    spdlog::init_thread_pool(8192, 1);
    auto makeLogger = [](const char* name, std::vector<spdlog::sink_ptr> sinks) {
        auto logger = std::make_shared<spdlog::async_logger>(name, sinks.begin(), sinks.end(),
                                                             spdlog::thread_pool(),
                                                             spdlog::async_overflow_policy::block);
        logger->set_pattern("%Y/%m/%d %H:%M:%S:%e, [ERRO], %v");
        logger->set_level(spdlog::level::warn);
        return logger;
    };
    auto spd = makeLogger("equivalent", {std::make_shared<spdlog::sinks::stderr_sink_mt>(),
                                         std::make_shared<PerLineSink>()});
    auto spdBuffered =
        makeLogger("buffered", {std::make_shared<spdlog::sinks::basic_file_sink_mt>("/dev/null"),
                                std::make_shared<spdlog::sinks::basic_file_sink_mt>("/dev/null")});

    // (a) filtered-out calls
    const double oursFiltered =
        nsPerCall([](long i) { DDLogVerbose("value %ld", i); }, filteredIterations);
    const double spdFiltered = nsPerCall(
        [&](long i) { spd->debug("value {}, [{}({})]", i, "bench_logging.cpp", __LINE__); },
        filteredIterations);
    std::fprintf(out, "filtered call: ours %.2f ns, spdlog %.2f ns, ratio (spdlog/ours) %.2f\n",
                 oursFiltered, spdFiltered, spdFiltered / oursFiltered);

    // (b) delivered messages per second
    for (int threads : {1, 4}) {
        const long perThread = perRun / threads;
        const double ours = messagesPerSecond(
            threads, perThread, [](int t, long i) { DDLogError("thread %d message %ld", t, i); },
            [] { DDLog::flushLog(); });
        auto spdRate = [&](const std::shared_ptr<spdlog::async_logger>& logger) {
            return messagesPerSecond(
                threads, oursOnly ? 1 : perThread,
                [&](int t, long i) {
                    logger->error("thread {} message {}, [{}({})]", t, i, "bench_logging.cpp",
                                  __LINE__);
                },
                // flush() on an async logger queues a flush behind the messages and waits.
                [&] { logger->flush(); });
        };
        const double theirs = spdRate(spd);
        const double theirsBuffered = spdRate(spdBuffered);
        std::fprintf(out,
                     "%d thread(s): ours %.3f M msg/s | spdlog equivalent sinks %.3f M msg/s, "
                     "ratio (ours/spdlog) %.2f | spdlog buffered sinks %.3f M msg/s, ratio %.2f\n",
                     threads, ours / 1e6, theirs / 1e6, ours / theirs, theirsBuffered / 1e6,
                     ours / theirsBuffered);
    }
    DDLog::removeAllLoggers();
    DDLog::flushLog();
    spdlog::shutdown();
    return 0;
}
