// Float <-> text throughput against the C library on the same inputs:
// text_to_float against strtod, the mold text against std::to_chars, and the
// form text against snprintf("%.16g").
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/float_text.h"

namespace {

using namespace vyr::float_text;

constexpr size_t sample_count = 4096;

// Doubles with random bit patterns over the whole finite range.
const std::vector<double>& any_doubles() {
    static std::vector<double> v = [] {
        std::vector<double> out;
        std::mt19937_64 rng(1);
        while (out.size() < sample_count) {
            uint64_t bits = rng();
            double d;
            std::memcpy(&d, &bits, sizeof d);
            if (std::isfinite(d)) out.push_back(d);
        }
        return out;
    }();
    return v;
}

// Everyday numbers: a few digits, a moderate exponent ("12.375", "0.0625").
const std::vector<double>& short_doubles() {
    static std::vector<double> v = [] {
        std::vector<double> out;
        std::mt19937_64 rng(2);
        for (size_t i = 0; i < sample_count; ++i) out.push_back(double(rng() % 100000) / double(1 << (rng() % 12)));
        return out;
    }();
    return v;
}

std::vector<std::string> shortest_texts(const std::vector<double>& values) {
    std::vector<std::string> out;
    for (double d : values) {
        char buf[64];
        auto res = std::to_chars(buf, buf + sizeof buf, d);
        out.emplace_back(buf, res.ptr);
    }
    return out;
}

void BM_TextToFloat(benchmark::State& state, const std::vector<double>& (*values)()) {
    static std::vector<std::string> texts;
    texts = shortest_texts(values());
    size_t i = 0;
    for (auto _ : state) {
        const std::string& t = texts[i++ % texts.size()];
        benchmark::DoNotOptimize(text_to_float(t.data(), t.data() + t.size()));
    }
}

void BM_Strtod(benchmark::State& state, const std::vector<double>& (*values)()) {
    static std::vector<std::string> texts;
    texts = shortest_texts(values());
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(std::strtod(texts[i++ % texts.size()].c_str(), nullptr));
}

void BM_MoldText(benchmark::State& state, const std::vector<double>& (*values)()) {
    const auto& v = values();
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(format_float_digits(v[i++ % v.size()], 0, true));
}

void BM_ToChars(benchmark::State& state, const std::vector<double>& (*values)()) {
    const auto& v = values();
    size_t i = 0;
    char buf[64];
    for (auto _ : state) {
        auto res = std::to_chars(buf, buf + sizeof buf, v[i++ % v.size()]);
        benchmark::DoNotOptimize(res.ptr);
    }
}

void BM_FormText(benchmark::State& state, const std::vector<double>& (*values)()) {
    const auto& v = values();
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(format_float(v[i++ % v.size()], FloatKind::float64, true));
}

void BM_Snprintf16g(benchmark::State& state, const std::vector<double>& (*values)()) {
    const auto& v = values();
    size_t i = 0;
    char buf[64];
    for (auto _ : state) benchmark::DoNotOptimize(std::snprintf(buf, sizeof buf, "%.16g", v[i++ % v.size()]));
}

}  // namespace

BENCHMARK_CAPTURE(BM_TextToFloat, any, any_doubles);
BENCHMARK_CAPTURE(BM_Strtod, any, any_doubles);
BENCHMARK_CAPTURE(BM_TextToFloat, short, short_doubles);
BENCHMARK_CAPTURE(BM_Strtod, short, short_doubles);
BENCHMARK_CAPTURE(BM_MoldText, any, any_doubles);
BENCHMARK_CAPTURE(BM_ToChars, any, any_doubles);
BENCHMARK_CAPTURE(BM_MoldText, short, short_doubles);
BENCHMARK_CAPTURE(BM_ToChars, short, short_doubles);
BENCHMARK_CAPTURE(BM_FormText, any, any_doubles);
BENCHMARK_CAPTURE(BM_Snprintf16g, any, any_doubles);
