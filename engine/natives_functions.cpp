// The function makers: func, function, does and has.
//
// Each builds an argument block for the new function to keep (a copy of its own, so
// that changing the block written in the code later does not change the
// function's arguments under its context), checks it, and makes the
// function: its context comes from that block, its body is a deep copy
// bound to that context. A refused argument block raises before anything is
// made.
#include "datatypes/block.h"
#include "datatypes/function.h"
#include "engine/natives.h"
#include "runtime/stack.h"
#include "datatypes/fixed_words.h"
#include "runtime/memory.h"

namespace vyr::natives {

namespace {

// A block value whose index is cut to its tail.
Cell clipped(const Cell& block) {
    Cell b = block;
    uint32_t n = memory::series_length(b.w2);
    if (b.w1 > n) b.w1 = n;
    return b;
}

// Pushes a shallow copy of the block from its index.
Cell* push_copy_of(const Cell& block) { return block_t::clone(clipped(block), false, false); }

// Checks a function's argument block (its own copy, on the stack) and makes
// the function of it and the body; the function becomes the result.
Status make_from(const Cell* spec, const Cell& body_in) {
    Cell s = *spec;
    uint32_t flags = function_t::check_spec(s);
    Cell body = clipped(body_in);
    function_t::make_function(s, &body, no_node, 0, 0, flags);
    stack::reset_with_result(*stack::top_cell());
    return Status::ok;
}

}  // namespace

// func spec body
Status func(bool, const int32_t*) {
    Cell* base = stack::arg_base();
    return make_from(push_copy_of(base[0]), base[1]);
}

// function spec body /extern
Status function(bool, const int32_t*) {
    Cell* base = stack::arg_base();
    Cell* spec = push_copy_of(base[0]);
    function_t::collect_locals(*spec, base[1]);
    return make_from(spec, base[1]);
}

// does body
Status does(bool, const int32_t*) {
    Cell* base = stack::arg_base();
    return make_from(block_t::push_new(1), base[0]);
}

// has vars body
Status has(bool, const int32_t*) {
    Cell* base = stack::arg_base();
    Cell* spec = push_copy_of(base[0]);
    block_t::insert_value(*spec, fixed::ref_local, false, true);
    return make_from(spec, base[1]);
}

}  // namespace vyr::natives
