#include "MCCommandLine.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace {

struct ProcessResult {
    int status = -1;
    std::string out;
};

// Runs the real binary through the shell; stderr is folded into the output when asked.
ProcessResult runBrimwell(const std::string& args, bool withStderr = false) {
    std::string command = std::string("'") + BRIMWELL_BINARY + "' " + args;
    if (withStderr) {
        command += " 2>&1";
    } else {
        command += " 2>/dev/null";
    }
    ProcessResult run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    std::array<char, 4096> buf{};
    std::size_t n = 0;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) {
        run.out.append(buf.data(), n);
    }
    int raw = ::pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
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
    ASSERT_EQ(json.size(), 4u) << run.out;
    EXPECT_TRUE(std::regex_search(run.out, std::regex("\"freeText\":\"[0-9.]+ (GB|MB|KB|B)\"")));
    // The machine keeps living between the two reads: allow some drift.
    constexpr long long kDrift = 256LL << 20;
    EXPECT_NEAR(json.at("free"), mem.at("MemFree"), kDrift);
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
             friendly + "\n"},
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
