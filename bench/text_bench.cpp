// Text throughput: appending to a mold buffer, UTF-8 in and out, molding a
// long text, and case-insensitive search.
#include <benchmark/benchmark.h>

#include <string>

#include "runtime/registry.h"
#include "datatypes/string.h"
#include "datatypes/text_codec.h"
#include "runtime/case_tables.h"
#include "runtime/collector.h"
#include "tests/fresh_heap.h"

using namespace vyr;

namespace {

constexpr uint32_t text_units = 1 << 20;

// A text of n units cycling through ASCII, Latin-1 and BMP characters.
Cell mixed_text(uint32_t n, bool wide) {
    Cell s;
    string_t::make_at(s, n);
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t cp = 'a' + i % 26;
        if (wide && i % 7 == 0) cp = 0x20AC;
        string_t::append_code_point(s, cp);
    }
    return s;
}

void start() {
    test::fresh_heap();
    case_tables::init_case_tables();
}

// append_code_point into a buffer that starts small: growth must stay
// amortised (doubling).
void BM_AppendCodePoint(benchmark::State& state) {
    start();
    for (auto _ : state) {
        state.PauseTiming();
        collector::recycle();
        Cell s;
        string_t::make_at(s, 16);
        state.ResumeTiming();
        for (uint32_t i = 0; i < text_units; ++i) string_t::append_code_point(s, 'a' + i % 26);
        benchmark::DoNotOptimize(s);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * text_units);
    memory::free_all_frames();
}
BENCHMARK(BM_AppendCodePoint);

void BM_ToUtf8(benchmark::State& state) {
    start();
    Cell s = mixed_text(text_units, state.range(0) != 0);
    collector::CellRoot root(&s);
    for (auto _ : state) {
        int32_t length = -1;
        benchmark::DoNotOptimize(text_codec::to_utf8(s, length));
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * text_units);
    memory::free_all_frames();
}
BENCHMARK(BM_ToUtf8)->Arg(0)->Arg(1);

void BM_Utf8ToString(benchmark::State& state) {
    start();
    Cell s = mixed_text(text_units, true);
    int32_t length = -1;
    const uint8_t* p = text_codec::to_utf8(s, length);
    std::string bytes(reinterpret_cast<const char*>(p), size_t(length));
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            text_codec::utf8_to_new_string(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
        state.PauseTiming();
        collector::recycle();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * length);
    memory::free_all_frames();
}
BENCHMARK(BM_Utf8ToString);

void BM_MoldLongText(benchmark::State& state) {
    start();
    Cell s = mixed_text(text_units, false);
    collector::CellRoot root(&s);
    for (auto _ : state) {
        state.PauseTiming();
        collector::recycle();
        Cell out;
        string_t::make_at(out, 16);
        Cell v = s;
        state.ResumeTiming();
        string_t::mold(&v, &out, false, false, false, nullptr, INT32_MAX, 0);
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * text_units);
    memory::free_all_frames();
}
BENCHMARK(BM_MoldLongText);

// find of a text that is not there, folding case: one table read per unit.
void BM_FindFoldingCase(benchmark::State& state) {
    start();
    Cell s = mixed_text(text_units, true);
    Cell needle;
    string_t::make_at(needle, 8);
    string_t::append_text(needle, "ABCDX");
    collector::CellRoot root_s(&s), root_needle(&needle);
    for (auto _ : state) {
        Cell series = s;
        string_t::find(&series, &needle, nullptr, false, false, false, false, nullptr, nullptr, false, false, false,
                       false);
        benchmark::DoNotOptimize(series);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * text_units);
    memory::free_all_frames();
}
BENCHMARK(BM_FindFoldingCase);

}  // namespace
