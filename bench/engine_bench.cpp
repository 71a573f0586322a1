// The engine's per-call costs: opening and closing a call frame, the integer
// fast paths, and a break landing at its loop as a status code, next to an
// error travelling as an exception.
#include <benchmark/benchmark.h>

#include "runtime/registry.h"
#include "datatypes/integer.h"
#include "engine/fast_paths.h"
#include "datatypes/frames.h"
#include "runtime/stack.h"
#include "datatypes/unwind.h"
#include "runtime/errors.h"
#include "tests/fresh_heap.h"

namespace {

using namespace vyr;

const Cell word{type_word, 0, 10, 0};

void engine_heap() {
    test::fresh_heap();
    stack::make_stack_block();
    stack::stack_init();
    frames::make_frame_block();
    frames::frames_init();
    stack::push_cell();
}

Cell integer(int32_t n) { return Cell{type_integer, 0, uint32_t(n), 0}; }

void BM_FrameOpenClose(benchmark::State& state) {
    engine_heap();
    Cell* base = stack::top();
    for (auto _ : state) {
        frames::frame_open(word);
        stack::push_copy(integer(1));
        frames::frame_close();
        stack::set_top(base);
    }
}
BENCHMARK(BM_FrameOpenClose);

void BM_FastMathInteger(benchmark::State& state) {
    engine_heap();
    Cell a = integer(20), b = integer(22);
    for (auto _ : state) {
        benchmark::DoNotOptimize(fast_paths::fast_math(word, integer_t::op_add, a, b));
        stack::pop_cells(1);
    }
}
BENCHMARK(BM_FastMathInteger);

void BM_FastCompareInteger(benchmark::State& state) {
    engine_heap();
    Cell a = integer(20);
    for (auto _ : state)
        benchmark::DoNotOptimize(fast_paths::fast_compare_test_imm(word, registry::op_lesser, a, 22, true));
}
BENCHMARK(BM_FastCompareInteger);

// A loop frame, a function frame and the break's own frame; the break
// lands at the loop and answers its status.
void BM_BreakAsStatus(benchmark::State& state) {
    engine_heap();
    frames::frame_open_loop(word);
    Cell* loop_base = stack::arg_base();
    for (auto _ : state) {
        stack::set_top(loop_base);
        frames::frame_open_function(word, no_node);
        frames::frame_open(word);
        benchmark::DoNotOptimize(unwind::throw_break(false, false));
    }
}
BENCHMARK(BM_BreakAsStatus);

// The same depth left by an error, caught by a catch site.
void BM_ErrorAsException(benchmark::State& state) {
    engine_heap();
    frames::frame_open_try(word);
    for (auto _ : state) {
        try {
            unwind::Site site;
            frames::frame_open_function(word, no_node);
            frames::frame_open(word);
            raise_error(err_cat::math, err_id::math::zero_divide);
        } catch (const Unwind& u) {
            benchmark::DoNotOptimize(u.code);
        }
    }
}
BENCHMARK(BM_ErrorAsException);

}  // namespace
