// Runs a fuzz target without libFuzzer: fixed seeds, then deterministic random pages built
// from the tokens that matter to the encoder and the scraper.

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void run(const std::string& input) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

} // namespace

int main() {
    const std::vector<std::string> seeds = {
        "",
        "a b;c|d",
        "%41%af%4%G1100%",
        "/a.b?c/d.e-f?x{y}",
        "<html><head><title>Current IP Check</title></head><body>Current IP Address: "
        "203.0.113.7</body></html>",
        "<html><body>Address: 203.0.113.7</body></html>",
        "<p>x</p> IP Address:",
        " \t\r\n\xc2\xa0",
        std::string("\0<\0>\0", 5),
    };
    const std::vector<std::string> tokens = {"<",
                                             ">",
                                             "</",
                                             "<b>",
                                             "</b>",
                                             "Address:",
                                             "Address",
                                             " ",
                                             "  ",
                                             "\n",
                                             "\t",
                                             "%",
                                             "%4",
                                             "%41",
                                             "%zz",
                                             "?",
                                             "?",
                                             ".",
                                             "-",
                                             "/",
                                             ":",
                                             "{",
                                             "}",
                                             ";",
                                             "@",
                                             "^",
                                             "|",
                                             "~",
                                             "a",
                                             "203.0.113.7",
                                             "\xc3\xa9",
                                             "\xf0\x9f\x98\x80",
                                             "\xe3\x80\x80",
                                             "\xc2",
                                             "\xff",
                                             "="};
    for (const auto& seed : seeds) {
        run(seed);
    }
    std::mt19937 rng(20260101);
    const int rounds = 20000;
    for (int round = 0; round < rounds; ++round) {
        std::string input;
        const int pieces = static_cast<int>(rng() % 40);
        for (int k = 0; k < pieces; ++k) {
            if (rng() % 8 == 0) {
                input += static_cast<char>(rng() & 0xFF);
            } else {
                input += tokens[rng() % tokens.size()];
            }
        }
        run(input);
    }
    std::printf("%zu seeds and %d generated inputs passed\n", seeds.size(), rounds);
    return 0;
}
