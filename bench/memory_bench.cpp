// Memory manager and collector benchmarks: bump allocation of small series
// against malloc of the same sizes, and one collection over a large live heap.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/resources.h"
#include "runtime/series.h"
#include "tests/fresh_heap.h"

using namespace vyr;
using test::fresh_heap;

namespace {

constexpr int batch = 10000;

// alloc_bytes(n): a node from a free chain and a bump of the frame pointer.
// Every batch the garbage is collected outside the timing.
void BM_SeriesAlloc(benchmark::State& state) {
    fresh_heap();
    auto size = uint32_t(state.range(0));
    int count = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(memory::alloc_bytes(size));
        if (++count == batch) {
            state.PauseTiming();
            collector::recycle();
            count = 0;
            state.ResumeTiming();
        }
    }
    memory::free_all_frames();
}
BENCHMARK(BM_SeriesAlloc)->Arg(16)->Arg(64)->Arg(256);

// malloc(n) of the same data sizes; every batch is freed outside the timing.
void BM_Malloc(benchmark::State& state) {
    auto size = size_t(state.range(0));
    std::vector<void*> blocks;
    blocks.reserve(batch);
    for (auto _ : state) {
        void* p = std::malloc(size);
        benchmark::DoNotOptimize(p);
        blocks.push_back(p);
        if (blocks.size() == batch) {
            state.PauseTiming();
            for (void* b : blocks) std::free(b);
            blocks.clear();
            state.ResumeTiming();
        }
    }
    for (void* b : blocks) std::free(b);
}
BENCHMARK(BM_Malloc)->Arg(16)->Arg(64)->Arg(256);

// malloc and free of each block, both timed.
void BM_MallocFree(benchmark::State& state) {
    auto size = size_t(state.range(0));
    for (auto _ : state) {
        void* p = std::malloc(size);
        benchmark::DoNotOptimize(p);
        std::free(p);
    }
}
BENCHMARK(BM_MallocFree)->Arg(16)->Arg(64)->Arg(256);

// One full cycle over about 100 MB of live small blocks (four cells each,
// 88 bytes with the header), all reachable from one rooted block.
void BM_CollectLiveHeap(benchmark::State& state) {
    fresh_heap();
    constexpr uint32_t block_bytes = 4 * 16 + memory::buffer_overhead;
    constexpr uint32_t blocks = (100u << 20) / block_bytes;
    NodeId holder = memory::alloc_cells(blocks);
    collector::NodeRoot root(holder);
    for (uint32_t i = 0; i < blocks; ++i) {
        NodeId b = memory::alloc_cells(4);
        for (uint32_t j = 0; j < 4; ++j) *series::alloc_tail_cell(b) = Cell{type_integer, 0, i + j, 0};
        *series::alloc_tail_cell(holder) = Cell{type_block, 0, b, 0};
    }
    collector::recycle();  // settles the heap once
    for (auto _ : state) collector::collector_run();
    state.counters["live_MB"] = double(collector::memory_in_use()) / double(1 << 20);
    state.counters["blocks"] = blocks;
    memory::free_all_frames();
}
BENCHMARK(BM_CollectLiveHeap)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
