// Replays a fuzz target's seed corpus and a fixed series of mutations of it,
// so every build checks (with any compiler) that the target still survives
// what the fuzzer has seen. Deterministic: the same seed gives the same
// inputs, and a failing input is written out for reproduction.
//
//   fuzz_NAME_replay [--mutations N] [--seed S] [--save-failing FILE] CORPUS_DIR_OR_FILE...
//
// Exit status 0 when every input ran, 2 on bad arguments. A crash ends the
// process as crashes do; with --save-failing FILE every input is written to
// FILE before it runs, so FILE then holds the culprit.

#include "tests/fuzz/FuzzTarget.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

bool readFile(const std::filesystem::path &path, Bytes &out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// Values that break parsers more often than random ones: boundaries of
// signed and unsigned bytes and 16-bit fields.
constexpr std::uint8_t kInteresting[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x06, 0x07, 0x0F, 0x10,
                                         0x3F, 0x40, 0x7F, 0x80, 0xFE, 0xFF};

void mutate(Bytes &data, const std::vector<Bytes> &corpus, std::mt19937 &rng)
{
    auto below = [&](std::size_t n) { return n == 0 ? std::size_t(0) : std::size_t(rng() % n); };
    const int steps = 1 + int(rng() % 4);
    for (int s = 0; s < steps; ++s) {
        switch (rng() % 9) {
        case 0: // flip a bit
        case 1:
            if (!data.empty())
                data[below(data.size())] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
            break;
        case 2: // random byte
            if (!data.empty())
                data[below(data.size())] = static_cast<std::uint8_t>(rng());
            break;
        case 3: // interesting byte
            if (!data.empty())
                data[below(data.size())] = kInteresting[below(std::size(kInteresting))];
            break;
        case 4: // interesting 16-bit big-endian value (offsets and sizes)
            if (data.size() >= 2) {
                const std::size_t at = below(data.size() - 1);
                const unsigned v = (rng() % 2) ? unsigned(data.size() + below(8)) - 4 : unsigned(rng() % 0x10000);
                data[at] = static_cast<std::uint8_t>(v >> 8);
                data[at + 1] = static_cast<std::uint8_t>(v);
            }
            break;
        case 5: // truncate
            data.resize(below(data.size() + 1));
            break;
        case 6: { // insert random bytes
            const std::size_t at = below(data.size() + 1);
            Bytes extra(1 + below(16));
            for (auto &b : extra)
                b = static_cast<std::uint8_t>(rng());
            data.insert(data.begin() + std::ptrdiff_t(at), extra.begin(), extra.end());
            break;
        }
        case 7: // erase a range
            if (!data.empty()) {
                const std::size_t at = below(data.size());
                const std::size_t n = 1 + below(std::min<std::size_t>(64, data.size() - at));
                data.erase(data.begin() + std::ptrdiff_t(at), data.begin() + std::ptrdiff_t(at + n));
            }
            break;
        case 8: { // splice: our head, another input's tail
            const Bytes &other = corpus[below(corpus.size())];
            const std::size_t keep = below(data.size() + 1);
            const std::size_t from = below(other.size() + 1);
            data.resize(keep);
            data.insert(data.end(), other.begin() + std::ptrdiff_t(from), other.end());
            break;
        }
        }
    }
    if (data.size() > 1 << 20)
        data.resize(1 << 20);
}

std::string g_saveFailing;

void run(const Bytes &input)
{
    if (!g_saveFailing.empty()) {
        std::ofstream out(g_saveFailing, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(input.data()), std::streamsize(input.size()));
    }
    fuzzOne(input.data(), input.size());
}

} // namespace

int main(int argc, char **argv)
{
    long mutations = 3000;
    unsigned long seed = 20261208;
    std::vector<std::filesystem::path> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--mutations" && i + 1 < argc)
            mutations = std::strtol(argv[++i], nullptr, 10);
        else if (arg == "--seed" && i + 1 < argc)
            seed = std::strtoul(argv[++i], nullptr, 10);
        else if (arg == "--save-failing" && i + 1 < argc)
            g_saveFailing = argv[++i];
        else
            paths.emplace_back(arg);
    }

    std::vector<Bytes> corpus;
    for (const auto &path : paths) {
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec)) {
            std::vector<std::filesystem::path> files;
            for (const auto &entry : std::filesystem::directory_iterator(path, ec))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
            std::sort(files.begin(), files.end()); // same order on every machine
            for (const auto &file : files) {
                Bytes data;
                if (readFile(file, data))
                    corpus.push_back(std::move(data));
            }
        } else {
            Bytes data;
            if (!readFile(path, data)) {
                std::fprintf(stderr, "cannot read %s\n", path.c_str());
                return 2;
            }
            corpus.push_back(std::move(data));
        }
    }
    if (corpus.empty()) {
        std::fprintf(stderr, "no corpus inputs given\n");
        return 2;
    }

    run(Bytes{}); // the empty input is everyone's first edge case
    for (const Bytes &input : corpus)
        run(input);

    std::mt19937 rng(static_cast<std::mt19937::result_type>(seed));
    for (long i = 0; i < mutations; ++i) {
        Bytes data = corpus[std::size_t(i) % corpus.size()];
        mutate(data, corpus, rng);
        run(data);
    }
    std::printf("%zu corpus inputs and %ld mutations ran (seed %lu)\n", corpus.size(), mutations, seed);
    return 0;
}
