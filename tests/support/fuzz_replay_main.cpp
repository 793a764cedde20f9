// Runs a fuzz target without libFuzzer, on deterministic random inputs built from the tokens of
// its libFuzzer dictionary (BRIMWELL_FUZZ_DICT, or the first argument) and random bytes.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// The quoted values of a dictionary: one `name="value"` or `"value"` per line, with the escapes
// \\, \" and \xAB; lines starting with '#' are comments.
std::vector<std::string> readDictionary(const char* path) {
    std::vector<std::string> tokens;
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "cannot read the dictionary %s\n", path);
        std::exit(2);
    }
    for (std::string line; std::getline(in, line);) {
        const std::size_t open = line.find('"');
        const std::size_t close = line.rfind('"');
        if (line.empty() || line[0] == '#' || open == std::string::npos || close <= open) {
            continue;
        }
        std::string token;
        for (std::size_t i = open + 1; i < close; ++i) {
            unsigned char byte = 0;
            if (line[i] == '\\' && i + 3 < close && line[i + 1] == 'x' &&
                std::from_chars(&line[i + 2], &line[i + 4], byte, 16).ptr == &line[i + 4]) {
                token += static_cast<char>(byte);
                i += 3;
            } else if (line[i] == '\\' && i + 1 < close) {
                token += line[++i];
            } else {
                token += line[i];
            }
        }
        tokens.push_back(token);
    }
    return tokens;
}

} // namespace

int main(int argc, char** argv) {
    const char* dictionary = argc > 1 ? argv[1] : std::getenv("BRIMWELL_FUZZ_DICT");
    std::vector<std::string> tokens = {" ", "\n", "\r\n", "=", "\\", "#", "<", ">", "\xc3\xa9"};
    if (dictionary != nullptr) {
        tokens = readDictionary(dictionary);
    }
    if (tokens.empty()) {
        std::fprintf(stderr, "the dictionary %s holds no token\n", dictionary);
        return 2;
    }
    const int rounds = 20000;
    std::mt19937 rng(20260101);
    for (int round = 0; round < rounds; ++round) {
        std::string input;
        for (int k = static_cast<int>(rng() % 40); k > 0; --k) {
            input += rng() % 8 == 0 ? std::string(1, static_cast<char>(rng()))
                                    : tokens[rng() % tokens.size()];
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
    }
    std::printf("%d inputs from %zu tokens passed\n", rounds, tokens.size());
    return 0;
}
