// Runs the meminfo fuzz target without libFuzzer on deterministic random inputs built from the
// pieces of real meminfo lines.

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main() {
    const std::vector<std::string> tokens = {"MemTotal:",
                                             "MemFree:",
                                             "MemAvailable:",
                                             "Active:",
                                             "Inactive:",
                                             "Unevictable:",
                                             "SUnreclaim:",
                                             "KernelStack:",
                                             "PageTables:",
                                             "Active(anon):",
                                             "HugePages_Total:",
                                             "MemFree",
                                             ":",
                                             " ",
                                             "    ",
                                             "\n",
                                             "kB",
                                             " kB",
                                             " MB",
                                             "0",
                                             "7",
                                             "1024",
                                             "24386036",
                                             "18014398509481983",
                                             "18014398509481984",
                                             "18446744073709551615",
                                             "99999999999999999999999",
                                             "-",
                                             "\t",
                                             "\r",
                                             "\xc2\xa0",
                                             std::string(1, '\0')};
    // Whole plausible files, with one token swapped in somewhere, keep every field in play.
    const std::string base = "MemTotal: 100 kB\nMemFree: 1 kB\nMemAvailable: 50 kB\nActive: 2 kB\n"
                             "Inactive: 3 kB\nUnevictable: 4 kB\nSUnreclaim: 5 kB\n"
                             "KernelStack: 6 kB\nPageTables: 7 kB\n";
    std::mt19937 rng(20260101);
    for (int round = 0; round < 20000; ++round) {
        std::string input;
        if (round % 2 == 0) {
            input = base;
            for (int k = static_cast<int>(rng() % 3) + 1; k > 0; --k) {
                input.insert(rng() % (input.size() + 1), tokens[rng() % tokens.size()]);
            }
        } else {
            for (int k = static_cast<int>(rng() % 40); k > 0; --k) {
                input += rng() % 8 == 0 ? std::string(1, static_cast<char>(rng()))
                                        : tokens[rng() % tokens.size()];
            }
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
    }
    std::printf("20000 inputs passed\n");
    return 0;
}
