// The command line's details, biggest processes and watch: exact output from fixture files,
// JSON read back by jq, the real program
// interrupted while watching, and values that must be refused.
#include "app/MCCommandLine.h"
#include "memory/MCMemoryController.h"
#include "memory/MCMemoryDetails.h"
#include "memory/MCProcesses.h"

#include "memory/FakeSystem.h"
#include "support/Jq.h"
#include "support/Shell.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// 4 KiB pages; every figure a whole number of kB.
constexpr const char* kMeminfo = "MemTotal:       16000000 kB\n"
                                 "MemFree:         8000000 kB\n"
                                 "MemAvailable:   12000000 kB\n"
                                 "Active:          3000000 kB\n"
                                 "Inactive:        2000000 kB\n"
                                 "Unevictable:        1000 kB\n"
                                 "SwapTotal:       2097152 kB\n"
                                 "SwapFree:        1048576 kB\n"
                                 "SUnreclaim:        20000 kB\n"
                                 "KernelStack:        4000 kB\n"
                                 "PageTables:         3000 kB\n";

constexpr const char* kPsi = "some avg10=12.50 avg60=3.10 avg300=0.80 total=123456\n"
                             "full avg10=0.75 avg60=0.20 avg300=0.05 total=4567\n";

// A fake machine: meminfo, PSI when asked, and a /proc with a few processes.
struct Machine {
    FakeSystem system;
    MCMemoryController memory;
    MCMemoryDetailsReader details;
    MCProcessReader processes;

    explicit Machine(bool psi, const std::string& meminfo = kMeminfo)
        : memory(prepare(system, psi, meminfo), std::make_shared<MappedBlockAllocator>(),
                 std::nullopt),
          details(system.host()), processes(system.root() + "/proc", 4096) {}

    static host_t prepare(const FakeSystem& system, bool psi, const std::string& meminfo) {
        system.write("/proc/meminfo", meminfo);
        if (psi) {
            system.write("/proc/pressure/memory", kPsi);
        }
        const struct {
            int pid;
            long long pages;
            const char* comm;
        } processes[] = {{101, 2560, "firefox\n"},
                         {202, 512, "say \"hi\" \\ there\n"},
                         {303, 1024, "tab\there\n"},
                         {404, 0, "kworker/0:1\n"}};
        for (const auto& p : processes) {
            const std::string folder = "/proc/" + std::to_string(p.pid);
            system.write(folder + "/statm", "9999 " + std::to_string(p.pages) + " 1 1 0 1 0\n");
            system.write(folder + "/comm", p.comm);
        }
        return system.host();
    }

    struct Output {
        int status;
        std::string out, err;
    };
    Output run(const std::vector<std::string>& args,
               std::function<bool(std::chrono::steady_clock::time_point)> wait = {},
               const MCNumberFormat& numbers = {}) {
        auto parsed = MCCommandLine::parse(args);
        if (!std::holds_alternative<MCCommandLine>(parsed)) {
            return {2, "", std::get<MCCommandLine::Error>(parsed).message};
        }
        std::get<MCCommandLine>(parsed).numbers = numbers;
        std::ostringstream out, err;
        const int status =
            runCommandLine(std::get<MCCommandLine>(parsed),
                           MCCommandLineSources{memory, details, processes, wait}, out, err);
        return {status, out.str(), err.str()};
    }
};

TEST(CommandLineDetails, ExactOutputFromFixtures) {
    const std::string head = "{\"wired\":28672000,\"active\":3072000000,\"inactive\":2048000000,"
                             "\"free\":8192000000,\"freeText\":\"7.63 GB\"";
    const std::string textHead = "wired:    28672000 bytes\n"
                                 "active:   3072000000 bytes\n"
                                 "inactive: 2048000000 bytes\n"
                                 "free:     8192000000 bytes\n"
                                 "free memory: 7.63 GB\n";
    const struct {
        const char* name;
        bool psi;
        std::string meminfo;
        std::vector<std::string> args;
        std::string expected;
    } cases[] = {
        {"JSON with PSI",
         true,
         kMeminfo,
         {"--sample", "--json"},
         head + ",\"available\":12288000000,\"swapTotal\":2147483648,\"swapFree\":1073741824,"
                "\"pressure\":{\"some10\":12.50,\"full10\":0.75}}\n"},
        {"JSON without PSI",
         false,
         kMeminfo,
         {"--sample", "--json"},
         head + ",\"available\":12288000000,\"swapTotal\":2147483648,\"swapFree\":1073741824,"
                "\"pressure\":null}\n"},
        {"text with PSI",
         true,
         kMeminfo,
         {"--sample"},
         textHead + "available:  12288000000 bytes\n"
                    "swap total: 2147483648 bytes\n"
                    "swap free:  1073741824 bytes\n"
                    "pressure:   some 12.50 %, full 0.75 % (some)\n"},
        {"text without PSI",
         false,
         kMeminfo,
         {"--sample"},
         textHead + "available:  12288000000 bytes\n"
                    "swap total: 2147483648 bytes\n"
                    "swap free:  1073741824 bytes\n"
                    "pressure:   not reported by this kernel\n"},
        // Before Linux 3.14: the old figures stay, the new ones are unknown.
        {"JSON without MemAvailable",
         true,
         std::regex_replace(std::string(kMeminfo), std::regex("MemAvailable.*\n"), ""),
         {"--sample", "--json"},
         head + ",\"available\":null,\"swapTotal\":null,\"swapFree\":null,\"pressure\":null}\n"},
        {"text without MemAvailable",
         true,
         std::regex_replace(std::string(kMeminfo), std::regex("MemAvailable.*\n"), ""),
         {"--sample"},
         textHead + "available:  unknown\nswap total: unknown\nswap free:  unknown\n"
                    "pressure:   unknown\n"},
    };
    for (const auto& c : cases) {
        Machine machine(c.psi, c.meminfo);
        const auto run = machine.run(c.args);
        EXPECT_EQ(run.status, 0) << c.name << ": " << run.err;
        EXPECT_EQ(run.out, c.expected) << c.name;
        if (c.args.size() == 2) {
            EXPECT_EQ(jq(run.out, "type"), "\"object\"\n") << c.name;
        }
    }
}

// A German decimal comma reaches every fraction of the plain text and none of the JSON.
TEST(CommandLineDetails, LocaleNumbersInTextOnly) {
    const MCNumberFormat german{","};
    const struct {
        std::vector<std::string> args;
        std::string expected;
    } cases[] = {
        {{"--sample"},
         "wired:    28672000 bytes\n"
         "active:   3072000000 bytes\n"
         "inactive: 2048000000 bytes\n"
         "free:     8192000000 bytes\n"
         "free memory: 7,63 GB\n"
         "available:  12288000000 bytes\n"
         "swap total: 2147483648 bytes\n"
         "swap free:  1073741824 bytes\n"
         "pressure:   some 12,50 %, full 0,75 % (some)\n"},
        {{"--sample", "--json"},
         "{\"wired\":28672000,\"active\":3072000000,\"inactive\":2048000000,"
         "\"free\":8192000000,\"freeText\":\"7.63 GB\",\"available\":12288000000,"
         "\"swapTotal\":2147483648,\"swapFree\":1073741824,"
         "\"pressure\":{\"some10\":12.50,\"full10\":0.75}}\n"},
        {{"--top", "2"},
         "    PID           BYTES  SIZE        NAME\n"
         "    101        10485760  10,00 MB    firefox\n"
         "    303         4194304  4,00 MB     tab\xef\xbf\xbdhere\n"},
        {{"--top", "1", "--json"}, "[{\"pid\":101,\"name\":\"firefox\",\"bytes\":10485760}]\n"},
    };
    for (const auto& c : cases) {
        Machine machine(true);
        const auto run = machine.run(c.args, {}, german);
        EXPECT_EQ(run.status, 0) << c.args[0] << ": " << run.err;
        EXPECT_EQ(run.out, c.expected) << c.args[0];
    }
}

TEST(CommandLineDetails, TopFromAFakeProc) {
    Machine machine(true);
    const auto json = machine.run({"--top", "5", "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out,
              "[{\"pid\":101,\"name\":\"firefox\",\"bytes\":10485760},"
              "{\"pid\":303,\"name\":\"tab\xef\xbf\xbdhere\",\"bytes\":4194304},"
              "{\"pid\":202,\"name\":\"say \\\"hi\\\" \\\\ there\",\"bytes\":2097152}]\n");
    // The kernel thread holds no memory; the escapes read back to the name.
    EXPECT_EQ(jq(json.out, "[length, .[2].name]"), "[3,\"say \\\"hi\\\" \\\\ there\"]\n");

    EXPECT_EQ(machine.run({"--top=1", "--json"}).out,
              "[{\"pid\":101,\"name\":\"firefox\",\"bytes\":10485760}]\n");

    const auto text = machine.run({"--top", "2"});
    EXPECT_EQ(text.out, "    PID           BYTES  SIZE        NAME\n"
                        "    101        10485760  10.00 MB    firefox\n"
                        "    303         4194304  4.00 MB     tab\xef\xbf\xbdhere\n");

    FakeSystem empty;
    MCMemoryController memory(empty.host(), std::make_shared<MappedBlockAllocator>(), std::nullopt);
    MCMemoryDetailsReader details(empty.host());
    MCProcessReader none(empty.root() + "/missing");
    std::ostringstream out, err;
    MCCommandLine top;
    top.mode = MCCommandLine::Mode::Top;
    top.topCount = 3;
    EXPECT_EQ(runCommandLine(top, MCCommandLineSources{memory, details, none, {}}, out, err), 1);
    EXPECT_EQ(out.str(), "");
    EXPECT_NE(err.str().find("cannot read the list of processes"), std::string::npos);
}

// Samples come every interval counted from the first, one JSON object per line, until the wait
// is interrupted, which ends the watch with status 0.
TEST(CommandLineDetails, WatchSamplesOnAFixedBeat) {
    Machine machine(true);
    std::vector<std::chrono::steady_clock::time_point> deadlines;
    const auto run = machine.run({"--sample", "--json", "--watch", "0.25"}, [&](auto deadline) {
        deadlines.push_back(deadline);
        return deadlines.size() < 3;
    });
    EXPECT_EQ(run.status, 0) << run.err;
    // One whole object per line.
    EXPECT_EQ(jq(run.out, "[inputs | fromjson | .available]", true),
              "[12288000000,12288000000,12288000000]\n")
        << run.out;
    ASSERT_EQ(deadlines.size(), 3u);
    EXPECT_EQ(deadlines[1] - deadlines[0], 250ms);
    EXPECT_EQ(deadlines[2] - deadlines[1], 250ms);

    // Text samples are set apart by a blank line.
    int waits = 0;
    const auto text = machine.run({"--watch=1", "--sample"}, [&](auto) { return ++waits < 2; });
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), 9 * 2 + 1) << text.out;
    EXPECT_NE(text.out.find("(some)\n\nwired:"), std::string::npos) << text.out;
}

TEST(CommandLineDetails, ParseTable) {
    using M = MCCommandLine::Mode;
    const struct {
        std::vector<std::string> args;
        bool ok;
        M mode;
        std::size_t top;
        std::optional<double> watch;
    } cases[] = {
        {{"--top", "5"}, true, M::Top, 5, {}},
        {{"--top=12", "--json"}, true, M::Top, 12, {}},
        {{"--top", "100000"}, true, M::Top, 100000, {}},
        {{"--sample", "--watch", "2"}, true, M::Sample, 0, 2.0},
        {{"--watch=0.5", "--sample", "--json"}, true, M::Sample, 0, 0.5},
        {{"--sample", "--watch", "0.1"}, true, M::Sample, 0, 0.1},
        {{"--top", "0"}, false, M::Panel, 0, {}},
        {{"--top", "x"}, false, M::Panel, 0, {}},
        {{"--top", "-1"}, false, M::Panel, 0, {}},
        {{"--top", "5x"}, false, M::Panel, 0, {}},
        {{"--top", "100001"}, false, M::Panel, 0, {}},
        {{"--top", "99999999999999999999999"}, false, M::Panel, 0, {}},
        {{"--top"}, false, M::Panel, 0, {}},
        {{"--top="}, false, M::Panel, 0, {}},
        {{"--top", "3", "--sample"}, false, M::Panel, 0, {}},
        {{"--sample", "--watch", "-1"}, false, M::Panel, 0, {}},
        {{"--sample", "--watch", "0"}, false, M::Panel, 0, {}},
        {{"--sample", "--watch", "0.05"}, false, M::Panel, 0, {}},
        {{"--sample", "--watch", "nan"}, false, M::Panel, 0, {}},
        {{"--sample", "--watch", "1e3"}, false, M::Panel, 0, {}},
        {{"--sample", "--watch", "86401"}, false, M::Panel, 0, {}},
        {{"--sample", "--watch"}, false, M::Panel, 0, {}},
        {{"--watch", "1"}, false, M::Panel, 0, {}},
        {{"--clean", "--watch", "1"}, false, M::Panel, 0, {}},
        {{"--top", "3", "--watch", "1"}, false, M::Panel, 0, {}},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const auto& a : c.args) {
            joined += a + " ";
        }
        const auto parsed = MCCommandLine::parse(c.args);
        ASSERT_EQ(std::holds_alternative<MCCommandLine>(parsed), c.ok) << joined;
        if (c.ok) {
            const auto& command = std::get<MCCommandLine>(parsed);
            EXPECT_EQ(command.mode, c.mode) << joined;
            EXPECT_EQ(command.topCount, c.top) << joined;
            EXPECT_EQ(command.watchSeconds, c.watch) << joined;
        } else {
            EXPECT_FALSE(std::get<MCCommandLine::Error>(parsed).message.empty()) << joined;
        }
    }
}

struct Child {
    pid_t pid = -1;
    int out = -1;
};

Child start(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return {};
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        std::vector<char*> argv{const_cast<char*>(BRIMWELL_BINARY)};
        for (const auto& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(BRIMWELL_BINARY, argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    return {pid, pipeFds[0]};
}

// Reads from `fd` until `lines` whole lines have come (or 20 s pass).
std::string readLines(int fd, int lines) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::count(text.begin(), text.end(), '\n') < lines &&
           std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0) {
            continue;
        }
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        text.append(buf, static_cast<std::size_t>(n));
    }
    return text;
}

TEST(CommandLineBinary, WatchEndsWithStatusZeroOnInterruption) {
    for (const int signal : {SIGINT, SIGTERM}) {
        Child child = start({"--sample", "--json", "--watch", "0.2"});
        ASSERT_GT(child.pid, 0);
        std::string text = readLines(child.out, 2);
        ASSERT_GE(std::count(text.begin(), text.end(), '\n'), 2) << text;
        ASSERT_EQ(::kill(child.pid, signal), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(child.pid, &status, 0), child.pid);
        text += readLines(child.out, 1000); // whatever came before the signal, to the end
        ::close(child.out);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0);
        // Every line is a whole JSON object: the signal never cuts one.
        EXPECT_EQ(jq(text, "[inputs | fromjson | has(\"pressure\")] | all", true), "true\n")
            << text;
        EXPECT_TRUE(text.ends_with("}\n")) << text;
    }
}

std::string shell(const std::string& command, int* status) {
    ShellRun run = runShell(command);
    *status = run.status;
    return std::move(run.out);
}

// The real machine's JSON, read back by jq: the fields and their types, the first five sample
// keys in their old order, and the biggest processes first.
TEST(CommandLineBinary, JsonOfTheRealMachine) {
    const std::string binary = std::string("'") + BRIMWELL_BINARY + "'";
    const struct {
        std::string args;
        std::string filter;
    } cases[] = {
        {"--sample --json",
         "(.wired|type==\"number\") and (.freeText|type==\"string\") and "
         "(.available|type==\"number\") and (.swapTotal|type==\"number\") and "
         "(.swapFree|type==\"number\") and (.pressure==null or "
         "((.pressure.some10|type==\"number\") and (.pressure.full10|type==\"number\"))) and "
         "(keys_unsorted[:5]==[\"wired\",\"active\",\"inactive\",\"free\",\"freeText\"])"},
        // This test, its shell and brimwell at least.
        {"--top 3 --json",
         "length==3 and all(.[]; keys_unsorted==[\"pid\",\"name\",\"bytes\"] and "
         "(.pid|type==\"number\" and . > 0 and floor==.) and (.name|type==\"string\") and "
         "(.bytes|floor==.)) and ([.[].bytes]==([.[].bytes]|sort|reverse))"},
    };
    for (const auto& c : cases) {
        int status = 0;
        const std::string out = shell(binary + " " + c.args, &status);
        EXPECT_EQ(status, 0) << c.args;
        EXPECT_EQ(jq(out, c.filter), "true\n") << c.args << ": " << out;
    }
}

TEST(CommandLineBinary, BadValuesPrintUsageAndExitTwo) {
    for (const char* args :
         {"--top 0", "--top x", "--top", "--watch -1 --sample", "--sample --watch 0", "--watch 1",
          "--sample --watch", "--top 2 --watch 1", "--top 2 --sample"}) {
        int status = 0;
        const std::string out =
            shell(std::string("'") + BRIMWELL_BINARY + "' " + args + " 2>&1", &status);
        EXPECT_EQ(status, 2) << args;
        EXPECT_NE(out.find("Usage: brimwell"), std::string::npos) << args << ": " << out;
    }
}

} // namespace
