// The real program cleans inside a real memory cgroup of 600 MiB: it must end normally, never
// meet the OOM killer, and never even touch the limit. The cgroup is made below the test's own
// (v1, or v2 with the memory controller delegated) and removed afterwards, whatever happened.

#include "platform/core/cgroup_memory.h"
#include "platform/core/kernel_file.h"
#include "support/Shell.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr std::uint64_t kLimit = 600ULL * 1024 * 1024;

std::uint64_t number(const std::string& path) {
    return std::stoull(read_kernel_file(path).value_or("0"));
}

// "key value" lines (memory.events, memory.oom_control).
std::map<std::string, std::uint64_t> keyed(const std::string& path) {
    std::map<std::string, std::uint64_t> values;
    std::istringstream in(read_kernel_file(path).value_or(""));
    std::string key;
    std::uint64_t value = 0;
    while (in >> key >> value) {
        values[key] = value;
    }
    return values;
}

// A fresh memory cgroup below the test's own, removed when the guard goes.
class TestCgroup {
public:
    // Empty when it could be made; otherwise why not.
    std::string create() {
        const memory_cgroups own = find_memory_cgroups("/");
        const std::string name = "/brimwell-clean-test-" + std::to_string(::getpid());
        if (!own.v1.empty()) {
            v1_ = true;
            path_ = own.v1.front() + name;
        } else if (!own.v2.empty()) {
            const auto controllers = read_kernel_file(own.v2.front() + "/cgroup.controllers");
            if (!controllers || controllers->find("memory") == std::string::npos) {
                return "the cgroup v2 folder " + own.v2.front() + " has no memory controller";
            }
            path_ = own.v2.front() + name;
        } else {
            return "no memory cgroup hierarchy is mounted";
        }
        if (::mkdir(path_.c_str(), 0755) != 0) {
            const std::string why = "cannot create " + path_ + ": " + std::strerror(errno);
            path_.clear();
            return why;
        }
        const std::string limitFile = path_ + (v1_ ? "/memory.limit_in_bytes" : "/memory.max");
        if (!v1_ && !path_exists(limitFile)) {
            // Children get the controller only when the parent hands it down, and a parent
            // that holds processes itself cannot.
            return "the memory controller is not delegated below " + own.v2.front();
        }
        if (!(std::ofstream(limitFile) << kLimit << std::flush)) {
            return "cannot set " + limitFile + ": " + std::strerror(errno);
        }
        return {};
    }
    ~TestCgroup() {
        if (path_.empty()) {
            return;
        }
        // A task that just ended can keep the folder busy for a moment.
        for (int attempt = 0; attempt < 100 && ::rmdir(path_.c_str()) != 0 && errno == EBUSY;
             ++attempt) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (path_exists(path_)) {
            ADD_FAILURE() << "could not remove " << path_ << ": " << std::strerror(errno);
        }
    }

    // What would show that the limit was hit or the OOM killer came.
    std::map<std::string, std::uint64_t> troubleCounters() const {
        if (v1_) {
            auto oom = keyed(path_ + "/memory.oom_control");
            return {{"failcnt", number(path_ + "/memory.failcnt")}, {"oom_kill", oom["oom_kill"]}};
        }
        auto events = keyed(path_ + "/memory.events");
        return {{"max", events["max"]}, {"oom", events["oom"]}, {"oom_kill", events["oom_kill"]}};
    }
    // The most the cgroup ever held, where the kernel tells.
    std::optional<std::uint64_t> peak() const {
        const std::string file = path_ + (v1_ ? "/memory.max_usage_in_bytes" : "/memory.peak");
        return path_exists(file) ? std::optional(number(file)) : std::nullopt;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    bool v1_ = false;
};

TEST(CleanInACgroup, StaysUnderTheLimitAndIsNotKilled) {
    TestCgroup cgroup;
    if (const std::string why = cgroup.create(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const auto before = cgroup.troubleCounters();

    // Into the cgroup first, then the program: everything it does is charged there, and the
    // cgroup alone must hold the clean back. `timeout` stays outside and ends it well before
    // CTest would kill this test and leave the cgroup behind.
    const ShellRun run =
        runShell("timeout -s KILL 90 sh -c 'echo $$ > \"" + cgroup.path() +
                 "/cgroup.procs\" && exec env -u BRIMWELL_CLEAN_MAX_BYTES " BRIMWELL_BINARY
                 " --clean --json'");
    // 137: killed (by the OOM killer, or at the deadline).
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(
        std::regex_match(run.out, std::regex("\\{\"freed\":-?[0-9]+,\"text\":\"[^\"]+\"\\}\n")))
        << run.out;
    EXPECT_EQ(cgroup.troubleCounters(), before);
    // The clean used the room it had (it did not just give up), yet kept clear of the limit.
    if (const auto peak = cgroup.peak()) {
        EXPECT_GT(*peak, kLimit / 2) << "peak " << *peak;
        EXPECT_LT(*peak, kLimit) << "peak " << *peak;
    }
}

} // namespace
