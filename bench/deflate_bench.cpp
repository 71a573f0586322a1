// Compression and decompression throughput of our DEFLATE against zlib, on
// text-like data, random data and 50 MB of mixed text and binary. Speed is
// counted in uncompressed bytes; `ratio` is compressed size / input size.
//
// Our compressor writes one fixed-Huffman block from the first 3-byte match it
// finds, so it is compared with zlib at level 1 (fastest) and level 6 (the
// default). Decompression is compared on the same stream: zlib's level-6
// output, and our own output.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "io/deflate.h"

namespace dfl = vyr::deflate;
using Bytes = std::vector<uint8_t>;

namespace {

// Pseudo-words drawn with a Zipf-like law, with punctuation and line ends.
Bytes text_like(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::string> vocab;
    for (int i = 0; i < 3000; i++) {
        std::string w;
        for (int k = 2 + int(rng() % 8); k > 0; k--) w += char('a' + rng() % 26);
        vocab.push_back(w);
    }
    std::vector<double> weights;
    for (size_t i = 1; i <= vocab.size(); i++) weights.push_back(1.0 / double(i));
    std::discrete_distribution<size_t> pick(weights.begin(), weights.end());
    Bytes b;
    b.reserve(n + 16);
    while (b.size() < n) {
        const std::string& w = vocab[pick(rng)];
        b.insert(b.end(), w.begin(), w.end());
        uint32_t r = rng() % 20;
        b.push_back(r == 0 ? '\n' : r == 1 ? ',' : r == 2 ? '.' : ' ');
    }
    b.resize(n);
    return b;
}

Bytes random_data(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = uint8_t(rng());
    return b;
}

// Records of little-endian integers that change slowly, with some noise:
// the shape of tables, images and executables.
Bytes binary_records(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b;
    b.reserve(n + 16);
    uint32_t a = 1000, c = 7;
    while (b.size() < n) {
        a += rng() % 16;
        c = rng() % 8 == 0 ? rng() : c;
        for (uint32_t v : {a, c, uint32_t(b.size() / 64)})
            for (int i = 0; i < 4; i++) b.push_back(uint8_t(v >> (8 * i)));
    }
    b.resize(n);
    return b;
}

// 50 MB of 64 KB chunks: text, binary records and now and then random bytes.
Bytes mixed(size_t n) {
    constexpr size_t chunk = 65536;
    Bytes b;
    b.reserve(n);
    for (uint32_t i = 0; b.size() < n; i++) {
        Bytes p = i % 8 == 7 ? random_data(chunk, i) : i % 2 ? binary_records(chunk, i) : text_like(chunk, i);
        b.insert(b.end(), p.begin(), p.end());
    }
    b.resize(n);
    return b;
}

enum Data { text, random, mixed50 };

const Bytes& data(Data d) {
    static const Bytes t = text_like(4 << 20, 1);
    static const Bytes r = random_data(4 << 20, 2);
    static const Bytes m = mixed(50 << 20);
    return d == text ? t : d == random ? r : m;
}

const char* data_name(Data d) { return d == text ? "text 4MB" : d == random ? "random 4MB" : "mixed 50MB"; }

Bytes zlib_compress_level(const Bytes& in, int level) {
    uLongf n = compressBound(uLong(in.size()));
    Bytes out(n);
    compress2(out.data(), &n, in.data(), uLong(in.size()), level);
    out.resize(n);
    return out;
}

void finish(benchmark::State& state, const Bytes& in, size_t compressed) {
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
    state.counters["ratio"] = double(compressed) / double(in.size());
    state.SetLabel(data_name(Data(state.range(0))));
}

void BM_CompressOurs(benchmark::State& state) {
    const Bytes& in = data(Data(state.range(0)));
    size_t size = 0;
    for (auto _ : state) {
        Bytes out = dfl::zlib_compress(in);
        size = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    finish(state, in, size);
}

void BM_CompressZlib(benchmark::State& state) {
    const Bytes& in = data(Data(state.range(0)));
    size_t size = 0;
    for (auto _ : state) {
        Bytes out = zlib_compress_level(in, int(state.range(1)));
        size = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    finish(state, in, size);
    state.SetLabel(std::string(data_name(Data(state.range(0)))) + ", level " + std::to_string(state.range(1)));
}

// The stream both decompressors read: zlib's level 6 (range 1 = 6) or ours (0).
const Bytes& stream(Data d, bool ours) {
    static Bytes cache[3][2];
    Bytes& s = cache[d][ours];
    if (s.empty()) s = ours ? dfl::zlib_compress(data(d)) : zlib_compress_level(data(d), 6);
    return s;
}

void BM_DecompressOurs(benchmark::State& state) {
    const Bytes& in = data(Data(state.range(0)));
    const Bytes& packed = stream(Data(state.range(0)), state.range(1) == 0);
    for (auto _ : state) {
        dfl::Decoded r = dfl::zlib_decompress(packed);
        if (r.status != dfl::Status::ok || r.bytes.size() != in.size()) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(r.bytes.data());
    }
    finish(state, in, packed.size());
    state.SetLabel(std::string(data_name(Data(state.range(0)))) + (state.range(1) ? ", zlib-6 stream" : ", our stream"));
}

void BM_DecompressZlib(benchmark::State& state) {
    const Bytes& in = data(Data(state.range(0)));
    const Bytes& packed = stream(Data(state.range(0)), state.range(1) == 0);
    for (auto _ : state) {
        Bytes out(in.size());
        uLongf n = uLongf(out.size());
        if (uncompress(out.data(), &n, packed.data(), uLong(packed.size())) != Z_OK) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(out.data());
    }
    finish(state, in, packed.size());
    state.SetLabel(std::string(data_name(Data(state.range(0)))) + (state.range(1) ? ", zlib-6 stream" : ", our stream"));
}

void all_data(benchmark::internal::Benchmark* b, std::initializer_list<int64_t> second) {
    for (int64_t d : {text, random, mixed50})
        for (int64_t s : second) b->Args({d, s});
    b->Unit(benchmark::kMillisecond)->MinTime(1.0);
}

}  // namespace

BENCHMARK(BM_CompressOurs)->Apply([](auto* b) { all_data(b, {0}); });
BENCHMARK(BM_CompressZlib)->Apply([](auto* b) { all_data(b, {1, 6}); });
BENCHMARK(BM_DecompressOurs)->Apply([](auto* b) { all_data(b, {6, 0}); });
BENCHMARK(BM_DecompressZlib)->Apply([](auto* b) { all_data(b, {6, 0}); });
