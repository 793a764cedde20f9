// Runs a fuzz target without libFuzzer on deterministic random inputs built from the tokens that
// matter to the encoder and the scraper.

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main() {
    // The tokens, separated by '#'.
    const std::string list =
        "<#>#</#<b>#</b>#Address:# #  #\n#%#%4#%41#%zz#?#.#-#/#:#{#}#;#@#|#~#a#"
        "203.0.113.7#\xc3\xa9#\xf0\x9f\x98\x80#\xe3\x80\x80#\xc2#\xff";
    std::vector<std::string> tokens;
    for (std::size_t at = 0, end = 0; end != std::string::npos; at = end + 1) {
        end = list.find('#', at);
        tokens.push_back(list.substr(at, end - at));
    }
    std::mt19937 rng(20260101);
    for (int round = 0; round < 20000; ++round) {
        std::string input;
        for (int k = static_cast<int>(rng() % 40); k > 0; --k) {
            input += rng() % 8 == 0 ? std::string(1, static_cast<char>(rng()))
                                    : tokens[rng() % tokens.size()];
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
    }
    std::printf("20000 inputs passed\n");
    return 0;
}
