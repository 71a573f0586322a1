// The lexer over a source text of about 1 MB mixing the common literal forms:
// the automaton alone, and loading the values (words, integers, floats,
// strings, blocks and paths). Bytes per second are reported.
#include <benchmark/benchmark.h>

#include <string>

#include "datatypes/context.h"
#include "datatypes/datatypes.h"
#include "runtime/registry.h"
#include "datatypes/word.h"
#include "engine/lexer.h"
#include "runtime/stack.h"
#include "runtime/case_tables.h"
#include "runtime/collector.h"
#include "datatypes/fixed_words.h"
#include "datatypes/owners.h"
#include "boot/startup.h"
#include "runtime/symbols.h"
#include "tests/fresh_heap.h"

using namespace vyr;

namespace {

const std::string& source() {
    static const std::string text = [] {
        std::string s;
        for (int i = 0; s.size() < (1u << 20); ++i) {
            s += "item-" + std::to_string(i % 500) + ": [name \"entry number " + std::to_string(i) + "\" size ";
            s += std::to_string(i * 37) + " ratio " + std::to_string(i % 97) + ".25 path: a/b/c]\n";
            s += "    if x > " + std::to_string(i) + " [print {multi\nline} ; a comment\n]\n";
        }
        return s;
    }();
    return text;
}

void start() {
    static bool started = false;
    if (started) return;
    started = true;
    test::fresh_runtime();
    lexer::lexer_init();
}

void BM_automaton(benchmark::State& state) {
    const std::string& s = source();
    for (auto _ : state) {
        const auto* p = reinterpret_cast<const uint8_t*>(s.data());
        const auto* end = p + s.size();
        uint32_t tokens = 0;
        while (p < end) {
            lexer::Token t = lexer::next_token(p, end, lexer::start_normal);
            p = t.end > p ? t.end : p + 1;
            ++tokens;
        }
        benchmark::DoNotOptimize(tokens);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.size()));
}

void BM_load(benchmark::State& state) {
    start();
    const std::string& s = source();
    lexer::Request rq;
    rq.text = reinterpret_cast<const uint8_t*>(s.data());
    rq.length = uint32_t(s.size());
    for (auto _ : state) {
        Cell result{};
        lexer::lexer_scan(&result, rq, nullptr);
        benchmark::DoNotOptimize(result);
        state.PauseTiming();
        collector::recycle();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.size()));
}


}  // namespace

BENCHMARK(BM_automaton)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_load)->Unit(benchmark::kMillisecond);
