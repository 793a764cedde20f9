#include "app/MCCommandLine.h"
#include "memory/MCMemoryController.h"
#include "platform/core/number_locale.h"

#include "memory/CleanDoubles.h"
#include "support/Jq.h"
#include "support/Shell.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <poll.h>
#include <pty.h>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct ProcessResult {
    int status = -1;
    std::string out;
};

// Runs the real binary through the shell; stderr is folded into the output when asked.
// `env` is put before the command ("NAME=value ").
ProcessResult runBrimwell(const std::string& args, bool withStderr = false,
                          const std::string& env = {}) {
    std::string command = env + "'" + BRIMWELL_BINARY + "' " + args;
    if (withStderr) {
        command += " 2>&1";
    } else {
        command += " 2>/dev/null";
    }
    ShellRun run = runShell(command);
    return {run.status, std::move(run.out)};
}

std::map<std::string, long long> jsonNumbers(const std::string& json) {
    std::map<std::string, long long> values;
    std::regex field("\"(\\w+)\":(-?\\d+)");
    for (std::sregex_iterator it(json.begin(), json.end(), field), end; it != end; ++it) {
        values[(*it)[1]] = std::stoll((*it)[2]);
    }
    return values;
}

std::map<std::string, long long> meminfoBytes() {
    std::map<std::string, long long> values;
    std::ifstream in("/proc/meminfo");
    std::string name;
    long long kb = 0;
    std::string unit;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        if (fields >> name >> kb) {
            values[name.substr(0, name.size() - 1)] = kb * 1024;
        }
    }
    return values;
}

TEST(CommandLineBinary, SampleJsonAgreesWithTheKernel) {
    const ProcessResult run = runBrimwell("--sample --json");
    ASSERT_EQ(run.status, 0) << run.out;
    const auto mem = meminfoBytes();
    const auto json = jsonNumbers(run.out);
    // The first five keys stay as they always were, in their order; what was added comes after.
    EXPECT_TRUE(std::regex_search(run.out, std::regex("^\\{\"wired\":[0-9]+,\"active\":[0-9]+,"
                                                      "\"inactive\":[0-9]+,\"free\":[0-9]+,"
                                                      "\"freeText\":\"[0-9.]+ (GB|MB|KB|B)\"[,}]")))
        << run.out;
    // The machine keeps living between the two reads: allow some drift.
    constexpr long long kDrift = 256LL << 20;
    EXPECT_NEAR(json.at("free"), mem.at("MemFree"), kDrift);
    EXPECT_NEAR(json.at("available"), mem.at("MemAvailable"), kDrift);
    EXPECT_EQ(json.at("swapTotal"), mem.at("SwapTotal"));
    EXPECT_NEAR(json.at("swapFree"), mem.at("SwapFree"), kDrift);
    EXPECT_NEAR(json.at("active"), mem.at("Active"), kDrift);
    EXPECT_NEAR(json.at("inactive"), mem.at("Inactive"), kDrift);
    EXPECT_NEAR(json.at("wired"),
                mem.at("Unevictable") + mem.at("SUnreclaim") + mem.at("KernelStack") +
                    mem.at("PageTables"),
                kDrift);
}

// What each mode prints, as a pattern over the whole output, and how it exits.
TEST(CommandLineBinary, OutputsAndExitStatus) {
    const std::string friendly = "[0-9.]+ (GB|MB|KB|B)";
    const struct {
        const char* args;
        int status;
        std::string pattern;
    } cases[] = {
        {"--sample", 0,
         "wired: +[0-9]+ bytes\nactive: +[0-9]+ bytes\ninactive: +[0-9]+ bytes\n"
         "free: +[0-9]+ bytes\nfree memory: " +
             friendly +
             "\navailable: +[0-9]+ bytes\nswap total: [0-9]+ bytes\nswap free: +[0-9]+ bytes\n"
             "pressure: +(some [0-9.]+ %, full [0-9.]+ % \\((none|some|high)\\)|not reported by "
             "this kernel)\n"},
        {"--clean", 0, "(" + friendly + " memory is cleaned!|Enjoy your life!)\n"},
        {"--clean --json", 0, "\\{\"freed\":-?[0-9]+,\"text\":\"[^\"]+\"\\}\n"},
        {"--version", 0, std::string("brimwell ") + BRIMWELL_VERSION + "\n"},
        {"--help", 0, "Usage: brimwell [^]*--sample[^]*"},
    };
    for (const auto& c : cases) {
        const ProcessResult run = runBrimwell(c.args);
        EXPECT_EQ(run.status, c.status) << c.args;
        EXPECT_TRUE(std::regex_match(run.out, std::regex(c.pattern))) << c.args << "\n" << run.out;
    }
    for (const char* args : {"--bogus", "--sample --clean", "--json", "-x", "--screenshot",
                             "--sample --screenshot a.png"}) {
        const ProcessResult run = runBrimwell(args, true);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_NE(run.out.find("Usage: brimwell"), std::string::npos) << args;
    }
}

struct TerminalRun {
    int status = -1;
    std::string out;      // standard output, through a pipe
    std::string terminal; // standard error, on a pseudo-terminal
};

// Runs the real binary with its standard error on a pseudo-terminal, as in an interactive shell.
TerminalRun runOnTerminal(const std::vector<std::string>& args) {
    TerminalRun run;
    int master = -1;
    int slave = -1;
    int out[2];
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0 || ::pipe(out) != 0) {
        ADD_FAILURE() << "no pseudo-terminal";
        return run;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(slave, STDERR_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        ::close(master);
        ::close(slave);
        std::vector<char*> argv{const_cast<char*>(BRIMWELL_BINARY)};
        for (const auto& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(BRIMWELL_BINARY, argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(slave);
    // Read both until the program ends; the terminal reports EIO once its last writer is gone.
    pollfd fds[2] = {{out[0], POLLIN, 0}, {master, POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.terminal};
    int open = 2;
    while (open > 0 && ::poll(fds, 2, 30000) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    ::close(out[0]);
    ::close(master);
    int raw = 0;
    ::waitpid(child, &raw, 0);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

// On a terminal the clean shows "Cleaning...", then its share done, and wipes the line at the
// end; the result, plain or JSON, goes to standard output alone.
TEST(CommandLineBinary, CleanShowsProgressOnATerminalOnly) {
    for (const bool json : {false, true}) {
        std::vector<std::string> args{"--clean"};
        if (json) {
            args.emplace_back("--json");
        }
        const TerminalRun run = runOnTerminal(args);
        EXPECT_EQ(run.status, 0) << run.terminal;
        EXPECT_TRUE(run.terminal.starts_with("Cleaning...")) << run.terminal;
        EXPECT_NE(run.terminal.find("\rCleaning... 100 %"), std::string::npos) << run.terminal;
        EXPECT_TRUE(run.terminal.ends_with("\r")) << run.terminal;
        const std::string pattern =
            json ? "\\{\"freed\":-?[0-9]+,\"text\":\"[^\"]+\"\\}\n"
                 : "([0-9.]+ (GB|MB|KB|B) memory is cleaned!|Enjoy your life!)\n";
        EXPECT_TRUE(std::regex_match(run.out, std::regex(pattern))) << run.out;
    }
    // Piped, standard error carries no progress at all.
    const ProcessResult piped = runBrimwell("--clean --json", true);
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.out.find("Cleaning"), std::string::npos) << piped.out;
}

// Under a German locale the plain text writes decimal commas and keeps its English words; JSON
// stays in the C form whatever LC_ALL says, so any reader can parse it.
TEST(CommandLineBinary, GermanLocaleInTextNotInJson) {
    if (!platform::numberSymbols("de_DE.UTF-8")) {
        GTEST_SKIP() << "de_DE.UTF-8 is not installed (scripts/install-deps.sh makes it as root)";
    }
    const std::string lang = "env -u LC_ALL -u LC_NUMERIC -u LANGUAGE LANG=de_DE.UTF-8 ";
    const std::string size = "([0-9]+,[0-9][0-9] (GB|MB|KB)|[0-9]+ B)";

    const ProcessResult sample = runBrimwell("--sample", false, lang);
    EXPECT_EQ(sample.status, 0);
    EXPECT_TRUE(std::regex_search(sample.out, std::regex("\nfree memory: " + size + "\n")))
        << sample.out;
    EXPECT_TRUE(
        std::regex_search(sample.out, std::regex("\npressure: +(some [0-9]+,[0-9][0-9] %, full "
                                                 "[0-9]+,[0-9][0-9] %|not reported)")))
        << sample.out;
    EXPECT_FALSE(std::regex_search(sample.out, std::regex("[0-9]\\.[0-9]"))) << sample.out;

    const ProcessResult clean = runBrimwell("--clean", false, lang);
    EXPECT_EQ(clean.status, 0);
    EXPECT_TRUE(std::regex_match(
        clean.out, std::regex("(" + size + " memory is cleaned!|Enjoy your life!)\n")))
        << clean.out;

    const std::string cSize = "([0-9]+\\\\.[0-9]{2} [KMG]B|-?[0-9]+ B)";
    const struct {
        const char* args;
        std::string filter;
    } json[] = {
        {"--sample --json", "[(.freeText | test(\"^" + cSize +
                                "$\")), (.pressure == null or (.pressure.some10 | type) == "
                                "\"number\")]"},
        {"--clean --json", "[(.text | test(\"^(" + cSize +
                               " memory is cleaned!|Enjoy your life!)$\")), "
                               "(.freed | type) == \"number\"]"},
    };
    for (const auto& c : json) {
        const ProcessResult run =
            runBrimwell(c.args, false, "env LC_ALL=de_DE.UTF-8 LC_NUMERIC=de_DE.UTF-8 ");
        EXPECT_EQ(run.status, 0) << c.args;
        EXPECT_EQ(jq(run.out, c.filter), "[true,true]\n") << c.args << ": " << run.out;
    }
}

// A limit that is not understood still means "write nothing", and the user is told once.
TEST(CommandLineBinary, UnclearCleanLimitWarnsOnce) {
    const ProcessResult run =
        runBrimwell("--clean --verbose", true, "BRIMWELL_CLEAN_MAX_BYTES=12Q ");
    EXPECT_EQ(run.status, 0) << run.out;
    const std::string warning =
        "brimwell: BRIMWELL_CLEAN_MAX_BYTES=\"12Q\" is not a byte count such as 512M or 2G: "
        "cleans write nothing\n";
    const auto first = run.out.find(warning);
    ASSERT_NE(first, std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(warning, first + 1), std::string::npos) << run.out;
    // Every pass says why it wrote nothing.
    EXPECT_NE(run.out.find("clean: pass 1 wrote 0 B of "), std::string::npos) << run.out;
    EXPECT_EQ(std::regex_search(run.out, std::regex("wrote [1-9]")), false) << run.out;

    const ProcessResult quiet = runBrimwell("--clean", true, "BRIMWELL_CLEAN_MAX_BYTES=4M ");
    EXPECT_EQ(quiet.out.find("BRIMWELL_CLEAN_MAX_BYTES"), std::string::npos) << quiet.out;
}

// Counters that cannot be read are a failure, never "Enjoy your life!" with status 0.
TEST(CommandLineClean, UnreadableCountersExitWithStatusOne) {
    TempDir dir;
    const std::string fifo = (dir.path() / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const MCMemory some = freeAndInactive(1 << 20, 0);
    const struct {
        const char* name;
        std::function<std::unique_ptr<MCMemoryController>()> memory;
    } cases[] = {
        {"missing_file",
         [&] {
             return std::make_unique<MCMemoryController>(
                 make_host_port((dir.path() / "absent").string(), {}, 4096),
                 std::make_shared<MappedBlockAllocator>(), 4096);
         }},
        {"fifo_in_place_of_meminfo",
         [&] {
             return std::make_unique<MCMemoryController>(
                 make_host_port(fifo, {}, 4096), std::make_shared<MappedBlockAllocator>(), 4096);
         }},
        {"garbage",
         [&] {
             return std::make_unique<MCMemoryController>(
                 make_host_port(dir.write("garbage", "MemFree: lots\n"), {}, 4096),
                 std::make_shared<MappedBlockAllocator>(), 4096);
         }},
        // Readable before the clean, gone after it (four samples: before, three passes).
        {"unreadable_after_the_clean",
         [&] {
             return std::make_unique<ScriptedController>(
                 make_host_port((dir.path() / "absent").string()),
                 std::make_shared<MappedBlockAllocator>(), 4096,
                 std::deque<std::optional<MCMemory>>{some, some, some, some});
         }},
    };
    for (const auto& c : cases) {
        for (const bool json : {false, true}) {
            MCCommandLine command;
            command.mode = MCCommandLine::Mode::Clean;
            command.json = json;
            auto memory = c.memory();
            std::ostringstream out;
            std::ostringstream err;
            EXPECT_EQ(runCommandLine(command, *memory, out, err, true), 1) << c.name;
            EXPECT_EQ(out.str(), "") << c.name;
            EXPECT_NE(err.str().find("cannot read the kernel's memory counters"), std::string::npos)
                << c.name << ": " << err.str();
        }
    }
}

struct ParseCase {
    std::vector<std::string> args;
    bool ok;
    MCCommandLine::Mode mode;
    bool json;
    std::string screenshot;
};

TEST(CommandLineParse, Table) {
    using M = MCCommandLine::Mode;
    const std::vector<ParseCase> cases = {
        {{}, true, M::Panel, false, ""},
        {{"--sample"}, true, M::Sample, false, ""},
        {{"--json", "--sample"}, true, M::Sample, true, ""},
        {{"--clean", "--json"}, true, M::Clean, true, ""},
        {{"--sample", "--sample"}, true, M::Sample, false, ""},
        {{"-h"}, true, M::Help, false, ""},
        {{"-V"}, true, M::Version, false, ""},
        {{"--screenshot", "p.png"}, true, M::Panel, false, "p.png"},
        {{"--screenshot=out/p.png"}, true, M::Panel, false, "out/p.png"},
        {{"--screenshot="}, false, M::Panel, false, ""},
        {{"--clean", "--sample"}, false, M::Panel, false, ""},
        {{"--help", "--version"}, false, M::Panel, false, ""},
        {{"--json"}, false, M::Panel, false, ""},
        {{"sample"}, false, M::Panel, false, ""},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const auto& a : c.args) {
            joined += a + " ";
        }
        auto parsed = MCCommandLine::parse(c.args);
        ASSERT_EQ(std::holds_alternative<MCCommandLine>(parsed), c.ok) << joined;
        if (c.ok) {
            const auto& command = std::get<MCCommandLine>(parsed);
            EXPECT_EQ(command.mode, c.mode) << joined;
            EXPECT_EQ(command.json, c.json) << joined;
            EXPECT_EQ(command.screenshotPath, c.screenshot) << joined;
            EXPECT_FALSE(command.verbose) << joined;
        }
    }
    // Verbose goes with any mode and changes nothing else.
    for (const std::vector<std::string>& args : {std::vector<std::string>{"-v"},
                                                 {"--clean", "--verbose"},
                                                 {"--verbose", "--screenshot", "p.png"}}) {
        auto parsed = MCCommandLine::parse(args);
        ASSERT_TRUE(std::holds_alternative<MCCommandLine>(parsed)) << args.back();
        const auto& command = std::get<MCCommandLine>(parsed);
        EXPECT_TRUE(command.verbose);
        EXPECT_EQ(command.mode,
                  args[0] == "--clean" ? MCCommandLine::Mode::Clean : MCCommandLine::Mode::Panel);
    }
}

} // namespace
