// Sorting 16-byte cells by an integer key: the natural merge sort and the
// quick-sort against std::stable_sort, on random, sorted, reversed and
// run-structured input. Every iteration sorts a fresh copy of the input (the
// copy is timed for all contenders alike).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "runtime/cell.h"
#include "runtime/sort.h"

using namespace vyr;

namespace {

enum Shape { random_keys, sorted_keys, reversed_keys, run_structured };

std::vector<Cell> make_cells(int64_t n, int shape) {
    std::mt19937 rng(42);
    std::vector<Cell> cells(size_t(n), Cell{type_integer, 0, 0, 0});
    for (auto& c : cells) c.w2 = rng() % 1000000;
    auto by_key = [](const Cell& a, const Cell& b) { return int32_t(a.w2) < int32_t(b.w2); };
    switch (shape) {
        case sorted_keys: std::sort(cells.begin(), cells.end(), by_key); break;
        case reversed_keys: std::sort(cells.rbegin(), cells.rend(), by_key); break;
        case run_structured:
            // Ascending and descending runs of 10 to 1000 records.
            for (size_t i = 0; i < cells.size();) {
                size_t end = std::min(cells.size(), i + 10 + rng() % 990);
                if (rng() % 2) std::sort(cells.begin() + i, cells.begin() + end, by_key);
                else std::sort(cells.begin() + i, cells.begin() + end, [&](auto& a, auto& b) { return by_key(b, a); });
                i = end;
            }
            break;
        default: break;
    }
    return cells;
}

int32_t compare_cells(const void* a, const void* b, uintptr_t, uintptr_t) {
    int32_t x = int32_t(static_cast<const Cell*>(a)->w2);
    int32_t y = int32_t(static_cast<const Cell*>(b)->w2);
    return (x > y) - (x < y);
}

void BM_merge_sort(benchmark::State& state) {
    auto input = make_cells(state.range(0), int(state.range(1)));
    for (auto _ : state) {
        auto cells = input;
        sort::merge_sort(cells.data(), uint32_t(cells.size()), sizeof(Cell), 0, 0, compare_cells);
        benchmark::DoNotOptimize(cells.data());
    }
}

void BM_quick_sort(benchmark::State& state) {
    auto input = make_cells(state.range(0), int(state.range(1)));
    for (auto _ : state) {
        auto cells = input;
        sort::quick_sort(cells.data(), uint32_t(cells.size()), sizeof(Cell), 0, 0, compare_cells);
        benchmark::DoNotOptimize(cells.data());
    }
}

// std::stable_sort through the same out-of-line comparison, so the two
// differ only in the algorithm.
void BM_std_stable_sort(benchmark::State& state) {
    auto input = make_cells(state.range(0), int(state.range(1)));
    sort::CompareFn compare = compare_cells;
    benchmark::DoNotOptimize(compare);
    for (auto _ : state) {
        auto cells = input;
        std::stable_sort(cells.begin(), cells.end(),
                         [compare](const Cell& a, const Cell& b) { return compare(&a, &b, 0, 0) < 0; });
        benchmark::DoNotOptimize(cells.data());
    }
}

void shapes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"n", "shape"});
    for (int shape : {random_keys, sorted_keys, reversed_keys, run_structured}) b->Args({100000, shape});
}

}  // namespace

BENCHMARK(BM_merge_sort)->Apply(shapes);
BENCHMARK(BM_std_stable_sort)->Apply(shapes);
BENCHMARK(BM_quick_sort)->Apply(shapes);
