// The command line: options as parsed, exact output from fixture files, and the real program on
// this machine (a terminal, signals, a full disk, no desktop). Numbers at each edge: memory
// layer, C library locales, and the GUI's QLocale in C, en_US and de_DE.
#include "app/MCCleanReport.h"
#include "app/MCCommandLine.h"
#include "app/MCLocalizedText.h"
#include "memory/MCMemoryController.h"
#include "memory/MCMemoryDetails.h"
#include "memory/MCProcesses.h"
#include "memory/MCUtil.h"
#include "platform/core/number_locale.h"

#include "memory/CleanDoubles.h"
#include "memory/FakeSystem.h"
#include "support/Jq.h"
#include "support/ScopedEnv.h"
#include "support/Shell.h"
#include "support/SilentXServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <clocale>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <map>
#include <pty.h>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// Cleans write at most 16 MiB unless a test says otherwise, even outside ctest: never the whole
// of the machine's memory.
constexpr const char* kCleanCap = "BRIMWELL_CLEAN_MAX_BYTES";

// The real program through the shell and env(1): `env` holds env's arguments, `redirect` follows
// the command. A run still going after 60 s is killed (status 124).
ShellRun brimwell(const std::string& args, const std::string& env = "",
                  const std::string& redirect = "2>/dev/null") {
    return runShell(std::string(kCleanCap) + "=${" + kCleanCap + ":-16M} timeout 60 env " + env +
                    " '" + BRIMWELL_BINARY + "' " + args + " " + redirect);
}

// Starts the real program with its standard output and standard error on the given files; the
// shell execs it, so the pid is the program's.
pid_t spawn(const std::string& args, int out, int err) {
    const std::string command = std::string("exec env ") + kCleanCap + "=${" + kCleanCap +
                                ":-16M} '" + BRIMWELL_BINARY + "' " + args;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
        ::_exit(127);
    }
    return pid;
}

int exitStatus(pid_t pid) {
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), {}};
}

// Every field of a parsed command line in one line, or "error" (with a message for the user).
std::string described(const std::variant<MCCommandLine, MCCommandLine::Error>& parsed) {
    if (const auto* error = std::get_if<MCCommandLine::Error>(&parsed)) {
        return error->message.empty() ? "error without a message" : "error";
    }
    const auto& c = std::get<MCCommandLine>(parsed);
    const char* const modes[] = {"panel", "sample", "clean", "help", "version", "top"};
    std::ostringstream text;
    text << modes[static_cast<int>(c.mode)];
    if (c.topCount != 0) {
        text << " " << c.topCount;
    }
    if (c.watchSeconds) {
        text << " every " << *c.watchSeconds;
    }
    text << (c.json ? " json" : "") << (c.verbose ? " verbose" : "")
         << (c.screenshotPath.empty() ? "" : " to " + c.screenshotPath);
    for (const auto& arg : c.qtArguments) {
        text << " qt:" << arg;
    }
    return text.str();
}

TEST(CommandLineParse, Table) {
    const struct {
        const char* args;
        const char* parsed;
    } cases[] = {
        {"", "panel"},
        {"--sample", "sample"},
        {"--json --sample", "sample json"},
        {"--clean --json", "clean json"},
        {"--sample --sample", "sample"},
        {"-h", "help"},
        {"-V", "version"},
        {"-v", "panel verbose"},
        {"--screenshot=out/p.png", "panel to out/p.png"},
        {"--verbose --screenshot p.png", "panel verbose to p.png"},
        {"--top 5", "top 5"},
        {"--top=12 --json", "top 12 json"},
        {"--top 100000", "top 100000"},
        {"--watch=0.5 --sample --json", "sample every 0.5 json"},
        {"--sample --watch 0.1", "sample every 0.1"},
        // Qt's options go to Qt in panel mode, never the value of an option of our own.
        {"-platform wayland", "panel qt:-platform qt:wayland"},
        {"--verbose --platform xcb --screenshot a.png",
         "panel verbose to a.png qt:--platform qt:xcb"},
        {"-style fusion -reverse --widgetcount -stylesheet s.qss",
         "panel qt:-style qt:fusion qt:-reverse qt:--widgetcount qt:-stylesheet qt:s.qss"},
        {"--style=fusion -stylesheet=a.qss", "panel qt:--style=fusion qt:-stylesheet=a.qss"},
        {"-display :3 -geometry 10x10+0+0 -qwindowgeometry 1x1",
         "panel qt:-display qt::3 qt:-geometry qt:10x10+0+0 qt:-qwindowgeometry qt:1x1"},
        {"-platformtheme gtk3 -plugin p -session s -platformpluginpath /p -qwindowicon i "
         "-qwindowtitle t",
         "panel qt:-platformtheme qt:gtk3 qt:-plugin qt:p qt:-session qt:s "
         "qt:-platformpluginpath qt:/p qt:-qwindowicon qt:i qt:-qwindowtitle qt:t"},
        // A file name that looks like Qt's option stays the file name, and a value that looks
        // like an option is still the value.
        {"--screenshot -style -reverse", "panel to -style qt:-reverse"},
        {"-style -reverse", "panel qt:-style qt:-reverse"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(described(MCCommandLine::parse(words(c.args))), c.parsed) << c.args;
    }
    // Refused, each with a message for the user: unknown options, values missing, counts and
    // seconds out of range, options that do not go together.
    const std::vector<const char*> refused[] = {
        {"--bogus", "-styles x", "---style x", "-platform=xcb"},
        {"--screenshot", "--screenshot=", "--verbose -platform", "--top",
         "--top=", "--sample --watch"},
        {"--top 0", "--top 5x", "--top 100001", "--top 99999999999999999999999"},
        {"--sample --watch 0.05", "--sample --watch nan", "--sample --watch 1e3",
         "--sample --watch 86401"},
        {"--clean --sample", "--json", "--watch 1", "--sample --screenshot a.png",
         "--sample -style fusion"},
    };
    for (const auto& group : refused) {
        for (const char* args : group) {
            EXPECT_EQ(described(MCCommandLine::parse(words(args))), "error") << args;
        }
    }
    // The values of Qt's options, as the desktop check reads them.
    const auto command = std::get<MCCommandLine>(MCCommandLine::parse(
        {"-style", "-platform", "--platform", "wayland", "-reverse", "--display", ":7"}));
    EXPECT_EQ(command.qtOptionValue("style"), "-platform");
    EXPECT_EQ(command.qtOptionValue("platform"), "wayland");
    EXPECT_EQ(command.qtOptionValue("display"), ":7");
    EXPECT_EQ(command.qtOptionValue("reverse"), std::nullopt);
    EXPECT_EQ(command.qtOptionValue("session"), std::nullopt);
}

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

// A fake machine: meminfo, PSI when asked, and a /proc with a few processes.
struct Machine {
    FakeSystem system;
    MCMemoryController memory;
    MCMemoryDetailsReader details;
    MCProcessReader processes;

    explicit Machine(bool psi, const std::string& meminfo = kMeminfo,
                     const std::string& proc = "/proc")
        : memory(prepare(system, psi, meminfo), std::make_shared<MappedBlockAllocator>(),
                 std::nullopt),
          details(system.host()), processes(system.root() + proc, 4096) {}

    static host_t prepare(const FakeSystem& system, bool psi, const std::string& meminfo) {
        system.write("/proc/meminfo", meminfo);
        if (psi) {
            system.write("/proc/pressure/memory",
                         "some avg10=12.50 avg60=3.10 avg300=0.80 total=123456\n"
                         "full avg10=0.75 avg60=0.20 avg300=0.05 total=4567\n");
        }
        // Pid, resident pages, name.
        for (const auto& [pid, pages, comm] :
             {std::tuple{101, 2560, "firefox\n"}, std::tuple{202, 512, "say \"hi\" \\ there\n"},
              std::tuple{303, 1024, "tab\there\n"}, std::tuple{404, 0, "kworker/0:1\n"}}) {
            const std::string folder = "/proc/" + std::to_string(pid);
            system.write(folder + "/statm", "9999 " + std::to_string(pages) + " 1 1 0 1 0\n");
            system.write(folder + "/comm", comm);
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
        auto command = std::get<MCCommandLine>(MCCommandLine::parse(args));
        command.numbers = numbers;
        std::ostringstream out, err;
        const int status = runCommandLine(
            command, MCCommandLineSources{memory, details, processes, wait}, out, err);
        return {status, out.str(), err.str()};
    }
};

// Each output in the C form, and with a German decimal comma, which reaches every fraction of
// the plain text and none of the JSON.
TEST(CommandLineDetails, ExactOutputFromFixtures) {
    const std::string head = "{\"wired\":28672000,\"active\":3072000000,\"inactive\":2048000000,"
                             "\"free\":8192000000,\"freeText\":\"7.63 GB\"";
    const std::string swap = ",\"available\":12288000000,\"swapTotal\":2147483648,"
                             "\"swapFree\":1073741824,\"pressure\":";
    const std::string textHead = "wired:    28672000 bytes\n"
                                 "active:   3072000000 bytes\n"
                                 "inactive: 2048000000 bytes\n"
                                 "free:     8192000000 bytes\n"
                                 "free memory: 7.63 GB\n";
    const std::string textSwap = "available:  12288000000 bytes\n"
                                 "swap total: 2147483648 bytes\n"
                                 "swap free:  1073741824 bytes\n";
    // Before Linux 3.14 (no MemAvailable) the old figures stay and the new ones are unknown. The
    // kernel thread holds no memory; names are escaped or made valid UTF-8.
    const struct {
        const char* name;
        bool psi;
        bool oldKernel;
        const char* args;
        std::string expected;
    } cases[] = {
        {"JSON", true, false, "--sample --json",
         head + swap + "{\"some10\":12.50,\"full10\":0.75}}\n"},
        {"JSON without PSI", false, false, "--sample --json", head + swap + "null}\n"},
        {"text", true, false, "--sample",
         textHead + textSwap + "pressure:   some 12.50 %, full 0.75 % (some)\n"},
        {"text without PSI", false, false, "--sample",
         textHead + textSwap + "pressure:   not reported by this kernel\n"},
        {"old JSON", true, true, "--sample --json",
         head + ",\"available\":null,\"swapTotal\":null,\"swapFree\":null,\"pressure\":null}\n"},
        {"old text", true, true, "--sample",
         textHead + "available:  unknown\nswap total: unknown\nswap free:  unknown\n"
                    "pressure:   unknown\n"},
        {"top JSON", true, false, "--top 5 --json",
         "[{\"pid\":101,\"name\":\"firefox\",\"bytes\":10485760},{\"pid\":303,\"name\":"
         "\"tab\xef\xbf\xbdhere\",\"bytes\":4194304},"
         "{\"pid\":202,\"name\":\"say \\\"hi\\\" \\\\ there\",\"bytes\":2097152}]\n"},
        {"top text", true, false, "--top 2",
         "    PID           BYTES  SIZE        NAME\n"
         "    101        10485760  10.00 MB    firefox\n"
         "    303         4194304  4.00 MB     tab\xef\xbf\xbdhere\n"},
    };
    for (const auto& c : cases) {
        const bool json = std::string(c.args).ends_with("--json");
        for (const char* point : {".", ","}) {
            Machine machine(c.psi, c.oldKernel
                                       ? std::regex_replace(std::string(kMeminfo),
                                                            std::regex("MemAvailable.*\n"), "")
                                       : kMeminfo);
            const auto run = machine.run(words(c.args), {}, MCNumberFormat{point});
            const std::string expected =
                json ? c.expected
                     : std::regex_replace(c.expected, std::regex("([0-9])\\.([0-9])"),
                                          std::string("$1") + point + "$2");
            EXPECT_EQ(run.status, 0) << c.name << point << ": " << run.err;
            EXPECT_EQ(run.out, expected) << c.name << point;
            if (json) {
                EXPECT_TRUE(jq(run.out, "type")) << c.name << ": not JSON";
            }
        }
    }
}

TEST(CommandLineDetails, TopWithoutAProcListFails) {
    Machine machine(true, kMeminfo, "/missing");
    const auto run = machine.run({"--top", "3"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("cannot read the list of processes"), std::string::npos);
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

// Counters that cannot be read are a failure, never "Enjoy your life!" with status 0.
TEST(CommandLineClean, UnreadableCountersExitWithStatusOne) {
    TempDir dir;
    const std::string fifo = (dir.path() / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const MCMemory some = freeAndInactive(1 << 20, 0);
    std::unique_ptr<MCMemoryController> controllers[] = {
        // A reader that waited on the fifo would hang the command.
        std::make_unique<MCMemoryController>(make_host_port(fifo, {}, 4096),
                                             std::make_shared<MappedBlockAllocator>(), 4096),
        // Readable before the clean, gone after it (four samples: before, three passes).
        std::make_unique<ScriptedController>(
            make_host_port((dir.path() / "absent").string()),
            std::make_shared<MappedBlockAllocator>(), 4096,
            std::deque<std::optional<MCMemory>>{some, some, some, some})};
    for (const auto& memory : controllers) {
        MCCommandLine command;
        command.mode = MCCommandLine::Mode::Clean;
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(runCommandLine(command, *memory, out, err, true), 1);
        EXPECT_EQ(out.str(), "");
        EXPECT_NE(err.str().find("cannot read the kernel's memory counters"), std::string::npos)
            << err.str();
    }
}

// No display, no bus, and a private run-time folder, whatever the test runs in.
std::string bareEnvironment(const TempDir& dir) {
    return "-u DISPLAY -u WAYLAND_DISPLAY -u WAYLAND_SOCKET -u QT_QPA_PLATFORM "
           "-u XDG_SESSION_TYPE -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR=" +
           dir.path().string() + " HOME=" + dir.path().string() +
           " XDG_CONFIG_HOME=" + dir.path().string() + "/config BRIMWELL_CLEAN_MAX_BYTES=16M";
}

// The live machine's sample agrees with the kernel's own figures.
TEST(CommandLineBinary, SampleJsonAgreesWithTheKernel) {
    const ShellRun run = brimwell("--sample --json");
    ASSERT_EQ(run.status, 0) << run.out;
    std::map<std::string, long long> mem; // bytes by meminfo's name
    std::ifstream in("/proc/meminfo");
    std::string name;
    for (long long kb = 0; in >> name >> kb; in.ignore(256, '\n')) {
        mem[name.substr(0, name.size() - 1)] = kb * 1024;
    }
    long long free = 0, available = 0, swapTotal = 0, wired = 0;
    std::istringstream fields(jq(run.out, ".free, .available, .swapTotal, .wired").value_or(""));
    ASSERT_TRUE(fields >> free >> available >> swapTotal >> wired) << run.out;
    // The machine keeps living between the two reads: allow some drift.
    constexpr long long kDrift = 256LL << 20;
    EXPECT_NEAR(free, mem.at("MemFree"), kDrift);
    EXPECT_NEAR(available, mem.at("MemAvailable"), kDrift);
    EXPECT_EQ(swapTotal, mem.at("SwapTotal"));
    EXPECT_NEAR(wired,
                mem.at("Unevictable") + mem.at("SUnreclaim") + mem.at("KernelStack") +
                    mem.at("PageTables"),
                kDrift);
}

// A failed write to standard output fails the modes that do work first (reading /proc, cleaning)
// and the watch, with status 1 and one line with the reason; what the fixtures do not reach
// prints what it should.
TEST(CommandLineBinary, OutputsAndFailedWrites) {
    const TempDir dir;
    const std::string env = bareEnvironment(dir);
    for (const char* args : {"--sample", "--clean", "--top 3", "--sample --watch 0.1 --json"}) {
        const ShellRun full = brimwell(args, env, "2>&1 >/dev/full");
        EXPECT_EQ(full.status, 1) << args;
        EXPECT_EQ(full.out.rfind("brimwell: cannot write to standard output: ", 0), 0U) << args;
        EXPECT_EQ(full.out.find('\n'), full.out.size() - 1) << args << "\n" << full.out;
    }
    // A closed standard output is no success either.
    const ShellRun closed = brimwell("--version", env, "2>&1 >&-");
    EXPECT_EQ(closed.status, 1);
    EXPECT_NE(closed.out.find("brimwell: cannot write to standard output"), std::string::npos)
        << closed.out;

    const struct {
        const char* args;
        int status;
        const char* output;
    } runs[] = {
        {"--version", 0, "brimwell " BRIMWELL_VERSION "\n"},
        {"--help", 0, "Usage: brimwell [^]*--sample[^]*"},
        // Without the panel Qt never starts: its options are a usage error there.
        {"--sample -style fusion", 2,
         "brimwell: Qt's option -style goes with the panel only\n\nUsage: brimwell [^]*"},
    };
    for (const auto& r : runs) {
        // What the user asked for on standard output, errors on standard error.
        const ShellRun run =
            brimwell(r.args, env, r.status == 0 ? "2>/dev/null" : "2>&1 >/dev/null");
        EXPECT_EQ(run.status, r.status) << r.args;
        EXPECT_TRUE(std::regex_match(run.out, std::regex(r.output))) << r.args << ": " << run.out;
    }
}

// On a terminal the clean shows "Cleaning...", then its share done, and wipes the line at the
// end; the result goes to standard output alone. Piped, no progress at all.
TEST(CommandLineBinary, CleanShowsProgressOnATerminalOnly) {
    const TempDir dir;
    const std::string outPath = (dir.path() / "out").string();
    int master = -1;
    int slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const pid_t child = spawn("--clean --json", out, slave);
    ::close(out);
    ::close(slave);
    // The terminal reports EIO once its last writer is gone.
    std::string terminal;
    char buf[4096];
    for (ssize_t n = 0; (n = ::read(master, buf, sizeof buf)) > 0;) {
        terminal.append(buf, static_cast<std::size_t>(n));
    }
    ::close(master);
    EXPECT_EQ(exitStatus(child), 0) << terminal;
    EXPECT_TRUE(terminal.starts_with("Cleaning...")) << terminal;
    EXPECT_NE(terminal.find("\rCleaning... 100 %"), std::string::npos) << terminal;
    EXPECT_TRUE(terminal.ends_with("\r")) << terminal;
    EXPECT_TRUE(std::regex_match(readFile(outPath),
                                 std::regex("\\{\"freed\":-?[0-9]+,\"text\":\"[^\"]+\"\\}\n")))
        << readFile(outPath);
    const ShellRun piped = brimwell("--clean", "", "2>&1");
    EXPECT_EQ(piped.status, 0);
    EXPECT_TRUE(std::regex_match(
        piped.out, std::regex("([0-9.]+ (GB|MB|KB|B) memory is cleaned!|Enjoy your life!)\n")))
        << piped.out;
}

// Under a German locale the plain text writes decimal commas, taken from the environment; JSON
// stays in the C form whatever LC_ALL says, so any reader can parse it.
TEST(CommandLineBinary, GermanLocaleInTextNotInJson) {
    if (!platform::numberSymbols("de_DE.UTF-8")) {
        GTEST_SKIP() << "de_DE.UTF-8 is not installed (scripts/install-deps.sh makes it as root)";
    }
    const std::pair<const char*, const char*> texts[] = {
        {"--sample", "\nfree memory: [0-9]+,[0-9]{2} [KMG]B\n"},
        {"--clean",
         "^([0-9]+,[0-9]{2} [KMG]B|[0-9]+ B) memory is cleaned!\n$|^Enjoy your life!\n$"},
    };
    for (const auto& [args, pattern] : texts) {
        const ShellRun text =
            brimwell(args, "-u LC_ALL -u LC_NUMERIC -u LANGUAGE LANG=de_DE.UTF-8");
        EXPECT_EQ(text.status, 0) << args;
        EXPECT_TRUE(std::regex_search(text.out, std::regex(pattern))) << args << ": " << text.out;
    }
    const ShellRun json = brimwell("--sample --json", "LC_ALL=de_DE.UTF-8 LC_NUMERIC=de_DE.UTF-8");
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(jq(json.out, ".freeText|test(\"^[0-9]+\\\\.[0-9]{2} [KMG]B$|^[0-9]+ B$\")"), "true\n")
        << json.out;
}

// A limit that is not understood still means "write nothing", and the user is told once.
TEST(CommandLineBinary, UnclearCleanLimitWarnsOnce) {
    const ShellRun run = brimwell("--clean --verbose", "BRIMWELL_CLEAN_MAX_BYTES=12Q", "2>&1");
    EXPECT_EQ(run.status, 0) << run.out;
    const std::string warning =
        "brimwell: BRIMWELL_CLEAN_MAX_BYTES=\"12Q\" is not a byte count such as 512M or 2G: "
        "cleans write nothing\n";
    const auto first = run.out.find(warning);
    ASSERT_NE(first, std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(warning, first + 1), std::string::npos) << run.out;
    // Nothing written, as the warning says.
    EXPECT_FALSE(std::regex_search(run.out, std::regex("wrote [1-9]"))) << run.out;
}

TEST(CommandLineBinary, WatchEndsWithStatusZeroOnInterruption) {
    for (const int signal : {SIGINT, SIGTERM}) {
        int out[2];
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        const pid_t child = spawn("--sample --json --watch 0.2", out[1], STDERR_FILENO);
        ::close(out[1]);
        // Two whole lines, the signal, then whatever came before it, to the end.
        std::string text;
        bool signalled = false;
        char buf[4096];
        for (ssize_t n = 0; (n = ::read(out[0], buf, sizeof buf)) > 0;) {
            text.append(buf, static_cast<std::size_t>(n));
            if (!signalled && std::count(text.begin(), text.end(), '\n') >= 2) {
                signalled = true;
                EXPECT_EQ(::kill(child, signal), 0);
            }
        }
        ::close(out[0]);
        EXPECT_TRUE(signalled) << text;
        EXPECT_EQ(exitStatus(child), 0);
        // Every line is a whole JSON object: the signal never cuts one.
        EXPECT_EQ(jq(text, "[inputs | fromjson | has(\"pressure\")] | all", true), "true\n")
            << text;
        EXPECT_TRUE(text.ends_with("}\n")) << text;
    }
}

// No desktop is one clear line and status 1 instead of Qt's abort, and no picture; platforms
// without a display, chosen by the user, stand; Qt's options reach Qt, which says so in its own
// words (an unknown style, the widget count at exit).
TEST(CommandLineConventions, DesktopFoundOrNotAndQtOptionsReachQt) {
    const TempDir dir;
    const std::string env = bareEnvironment(dir);
    const std::string picture = dir.path().string() + "/panel.png";
    const std::string shot = " --screenshot " + picture;
    const SilentXServer silent;
    ASSERT_FALSE(silent.display().empty()) << "no free loopback port for a silent X server";
    const struct {
        const char* name;
        std::string env;
        std::string args;
        const char* qtSays; // none: no desktop found
    } cases[] = {
        {"nothing set", "", "", nullptr},
        {"a screenshot needs a desktop too", "", shot, nullptr},
        {"X server that never answers", "DISPLAY=" + silent.display(), "", nullptr},
        {"-display names a missing server", "", "-display :97", nullptr},
        {"no compositor on the socket", "WAYLAND_DISPLAY=wayland-97", "", nullptr},
        {"a style Qt does not know", "", "--platform offscreen -style nosuchstyle" + shot,
         "nosuchstyle"},
        {"the widget count", "QT_QPA_PLATFORM=minimal", "--widgetcount -reverse" + shot,
         "Widgets left"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(picture);
        const ShellRun run = brimwell(c.args, env + " " + c.env, "2>&1 >/dev/null");
        EXPECT_EQ(std::filesystem::exists(picture), c.qtSays != nullptr) << c.name;
        EXPECT_EQ(run.status, c.qtSays != nullptr ? 0 : 1) << c.name << "\n" << run.out;
        if (c.qtSays == nullptr) {
            EXPECT_EQ(run.out, "brimwell: no desktop found; try --sample or --clean\n") << c.name;
        } else {
            EXPECT_NE(run.out.find(c.qtSays), std::string::npos) << c.name << "\n" << run.out;
        }
    }
}

constexpr const char* kGerman = "de_DE.UTF-8";

// A size in each unit, four digits before the point where grouping would show.
const struct Case {
    std::int64_t bytes;
    std::string c;      // the C form, also under en_US
    std::string german; // de_DE
} kCases[] = {
    {0, "0 B", "0 B"},
    {1024, "1024 B", "1024 B"},
    {1048575, "1024.00 KB", "1024,00 KB"},
    {10485760, "10.00 MB", "10,00 MB"},
    {2199023255552, "2048.00 GB", "2048,00 GB"},
};

// The clean's result for a size: what was freed, or a kind word when nothing was.
std::string result(const Case& c, const std::string& size) {
    return c.bytes > 0 ? size + " memory is cleaned!" : "Enjoy your life!";
}

// The same figures from the memory layer (C, or a decimal comma given to it) and from the GUI's
// QLocale ("1,024.00 KB" under en_US would be wrong). The memory layer's C form holds under a
// German process locale too: the GUI's setlocale must not turn JSON and logs German.
TEST(NumberFormat, SizesAndCleanResultsAtEveryEdge) {
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    const bool germanProcess = std::setlocale(LC_NUMERIC, kGerman) != nullptr;
    const MCNumberFormat comma{","};
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QLocale german(QLocale::German, QLocale::Germany);
    for (const Case& k : kCases) {
        EXPECT_EQ(MCUtil::friendlySizeNumber(k.bytes), k.c) << k.bytes;
        EXPECT_EQ(MCUtil::friendlySizeNumber(k.bytes, comma), k.german) << k.bytes;
        EXPECT_EQ(cleanResultText(k.bytes), result(k, k.c)) << k.bytes;
        EXPECT_EQ(cleanResultText(k.bytes, comma), result(k, k.german)) << k.bytes;
        for (const QLocale& locale : {QLocale::c(), english, german}) {
            const std::string& size = locale == german ? k.german : k.c;
            EXPECT_EQ(MCLocalizedText::friendlySize(k.bytes, locale).toStdString(), size)
                << k.bytes;
            EXPECT_EQ(MCLocalizedText::cleanResultText(k.bytes, locale).toStdString(),
                      result(k, size))
                << k.bytes;
        }
    }
    EXPECT_EQ(MCLocalizedText::percent(25, english).toStdString(), "25%");
    EXPECT_EQ(MCLocalizedText::percent(1000, german).toStdString(), "1000%");
    // Figures with two decimals, rounded as printf does in C.
    const struct {
        double value;
        const char* point;
        const char* text;
    } cases[] = {
        {0.125, ".", "0.12"}, // a tie in binary: to even
        {0.375, ",", "0,38"},
        {1.005, ".", "1.00"},               // just below the tie in binary
        {1e6, "\u066b", "1000000\u066b00"}, // a two-byte decimal point
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MCUtil::fixed(c.value, 2, MCNumberFormat{c.point}), c.text) << c.value;
    }
    std::setlocale(LC_NUMERIC, saved.c_str());
    if (!germanProcess) {
        GTEST_SKIP() << kGerman << " is not installed (scripts/install-deps.sh makes it as root)";
    }
}

// The C library's locales, chosen by the environment as the command line chooses them.
TEST(NumberFormat, CLibraryLocaleFromTheEnvironment) {
    EXPECT_EQ(platform::numberSymbols("C")->decimalPoint, ".");
    EXPECT_FALSE(platform::numberSymbols("xx_NOWHERE.UTF-8").has_value());
    if (!platform::numberSymbols(kGerman)) {
        GTEST_SKIP() << kGerman << " is not installed (scripts/install-deps.sh makes it as root)";
    }
    const struct {
        const char* lcAll;
        const char* lcNumeric;
        const char* lang;
        const char* point;
    } cases[] = {
        {nullptr, nullptr, kGerman, ","},
        {nullptr, "C", kGerman, "."},          // LC_NUMERIC before LANG
        {"C", kGerman, kGerman, "."},          // LC_ALL before both
        {nullptr, nullptr, "xx_NOWHERE", "."}, // not installed: the C form
    };
    for (const auto& c : cases) {
        const ScopedEnv env({{"LC_ALL", c.lcAll}, {"LC_NUMERIC", c.lcNumeric}, {"LANG", c.lang}});
        EXPECT_EQ(platform::environmentNumberSymbols().decimalPoint, c.point)
            << "row " << &c - cases;
    }
}

} // namespace
