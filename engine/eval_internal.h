// What the evaluator's modules (eval.cpp, eval_call.cpp, eval_trace.cpp)
// share, and the loop natives read for their bodies (natives_loops.cpp);
// nothing else uses it.
#pragma once

#include <cstdint>

#include "datatypes/context.h"
#include "engine/fast_paths.h"
#include "runtime/memory.h"
#include "engine/eval.h"

namespace vyr::eval::detail {

// Evaluates one expression at the cursor and pushes its value (the core of
// eval_expression, which moves a value that is not pushed into the result).
// `how`: expr::no_infix, expr::callables_as_values.
Status eval_value(Cursor& at, uint32_t how);

// The code a cursor reads: the cells of its block (valid until the next
// allocation or safe point) and where they end (the cursor's end or the
// block's tail, whichever comes first).
struct QuietCode {
    const Cell* cells;
    uint32_t end;
};

// The cells of a block from its head, ending at `end` or at the tail,
// whichever comes first.
[[gnu::always_inline]] inline QuietCode quiet_code(NodeId block, uint32_t end) {
    memory::SeriesBuffer* b = memory::buffer_of(block);
    uint32_t length = uint32_t(b->cells_end() - b->cells());
    return {b->cells(), end < length ? end : length};
}

// The cell at the cursor (null at the end, as Cursor::peek) and the code it
// stands in, in one look at the buffer.
[[gnu::always_inline]] inline const Cell* peek_code(const Cursor& at, QuietCode& code) {
    if (at.pos >= at.tail) return nullptr;
    code = quiet_code(at.code.w2, at.tail);
    return at.pos < code.end ? code.cells + at.pos : nullptr;
}

// Pushes the value of the expression at the cursor and moves past it when
// it needs no evaluation step: a value that evaluates to itself (a block, a
// string...) with no operator after it, or a quiet expression (numbers and
// words holding them, with infix arithmetic), as eval_value would without a
// trace; answers false, doing nothing, otherwise.
// `code`, `v`: what peek_code gave for the cursor (`v` not null).
bool push_inert(Cursor& at, QuietCode code, const Cell* v);

// The value of the quiet expression at `pos` (numbers and words holding
// them, with infix arithmetic or comparisons that cannot fail), moving past
// it; false, nothing done, when it is not quiet or a trace is on.
bool quiet_value(QuietCode code, uint32_t& pos, Cell& out);

// A statement of `if`, `unless` or `either` (the word `first` at the
// cursor) whose condition is a quiet expression and whose branches stand as
// literal blocks with no operator after them, taken without the native's
// call: nothing in it can fail, so the native's frame opens only when a
// branch runs that is not one quiet expression itself. Its value is pushed
// and the cursor moved past it (`status`: the branch run's); false, nothing
// done, for any other statement.
bool quick_conditional(Cursor& at, QuietCode code, const Cell& first, Status& status);

// Evaluates a paren! (or block) in its own interpreter frame; the value is
// pushed.
Status eval_paren(const Cell& paren);

// Where the arguments of a call come from: the code at a cursor, or cells
// laid out by C++ code (call_value), taken as they are.
struct ArgSource {
    Cursor* at = nullptr;
    const Cell* cells = nullptr;  // on the argument stack, below the frame
    uint32_t count = 0;
};

// Calls a callable (its op! already retyped). With `infix` the left operand
// is the top cell and becomes the first argument. The result is pushed at
// the top as it was before the call (infix: in place of the left operand).
Status call_callable(const Cell& callable, ArgSource& src, const Cell& name, const Cell* path, uint32_t path_index,
                     uint32_t mode, bool infix);

// call_callable from the code at the cursor, not infix, not through a path.
Status call_from_code(const Cell& callable, Cursor& at, const Cell& name);

// Completes the call of an infix operator whose frame the evaluator opened
// and filled (its two operands), when the in-place answer did not apply:
// the operands' types are checked and the callable runs; its result is the
// top cell, the frame closed.
Status finish_operator(const Cell& callable, const Cell& name);

// Evaluates a path: `kind` is type_path (read, callables called),
// type_get_path (no calls) or type_set_path (stores `*value`). The result is
// pushed.
Status eval_path(const Cell& path, Cursor* at, uint32_t kind, const Cell* value);

// The value cell of a bound word, or null when it has none to read (the
// caller then goes through word_t::get, which raises the right error).
[[gnu::always_inline]] inline const Cell* word_value_fast(const Cell& word) {
    if (!word.w1 || int32_t(word.w3) < 0) return nullptr;
    Cell* base = word.w1 == context_t::global_context ? context_t::global_values() : context_t::values_base(word.w1);
    return base ? base + word.w3 : nullptr;
}

// The op! that a word in operator position (`next`, null at the end) names,
// or null.
[[gnu::always_inline]] inline const Cell* operator_at(const Cell* next) {
    if (!next || type_of(*next) != type_word) return nullptr;
    const Cell* v = word_value_fast(*next);
    return v && type_of(*v) == type_op ? v : nullptr;
}

// The infix operators after the value pushed at `start`, applied left to
// right; the answer replaces it.
Status infix_after(Cursor& at, Cell* start);

// A statement led by a word holding a callable (`callable`, the word
// `name`, the cursor at the word), called as eval_value would call it: its
// safe point having nothing to do, the call starts at once, its infix
// operators after it. Kept out of line: eval_block's loop stays small.
Status call_statement(Cursor& at, const Cell& callable, const Cell& name);

// The form of a call of `if`, `unless` or `either`, from the native's
// compiled arguments.
struct ConditionalForm {
    uint64_t condition_types[2];  // the condition's accepted types, one bit per type id
    uint32_t branches;            // 2 for either
    bool either;
    bool runs_when;               // if/unless: the truth that runs the branch
    bool takes_blocks;            // every branch argument accepts block!
    bool accepts(uint32_t t) const { return t < 128 && ((condition_types[t >> 6] >> (t & 63)) & 1); }
};
// Whether `native` is if, unless or either whose arguments take blocks as
// branches, its arguments compiled (its first call compiles them), and its
// form.
bool conditional_form(const Cell& native, ConditionalForm& form);
// The same, for the loop natives (natives_loops.cpp).
bool loop_conditional_form(const Cell& native, ConditionalForm& form);
// Whether the conditional's branches stand at `pos` as literal blocks with
// no operator after them, so that fetching them cannot fail or run anything.
[[gnu::always_inline]] inline bool literal_branches(const ConditionalForm& form, QuietCode code, uint32_t pos) {
    if (pos + form.branches > code.end) return false;
    for (uint32_t k = 0; k < form.branches; ++k)
        if (type_of(code.cells[pos + k]) != type_block) return false;
    uint32_t after = pos + form.branches;
    if (after < code.end && type_of(code.cells[after]) == type_word) {
        const Cell* v = word_value_fast(code.cells[after]);
        if (!v || type_of(*v) == type_op) return false;  // an operator would take the last branch as its operand
    }
    return true;
}
// The branch taken for the condition's truth: its cell in the code, or
// null when no branch runs.
[[gnu::always_inline]] inline const Cell* chosen_branch(const ConditionalForm& form, QuietCode code, uint32_t pos,
                                                        bool truth) {
    if (form.either) return &code.cells[truth ? pos : pos + 1];
    return truth == form.runs_when ? &code.cells[pos] : nullptr;
}

// The types a quiet expression computes with.
inline bool number_type(uint32_t t) { return t == type_integer || t == type_float || t == type_char; }

// Whether a block or paren opens with a number, a word holding one or (with
// `paren`) a paren: one that does not (most open with a call) cannot hold a
// quiet expression, which this tells without walking it. A branch block
// opening with a paren mostly holds a call there, so branches leave `paren`
// off.
[[gnu::always_inline]] inline bool opens_quiet(const Cell& code, bool paren) {
    memory::SeriesBuffer* b = memory::buffer_of(code.w2);
    const Cell* first = b->cells() + code.w1;
    if (first >= b->cells_end()) return false;
    uint32_t t = type_of(*first);
    if (t == type_word) {
        const Cell* v = word_value_fast(*first);
        if (!v) return false;
        t = type_of(*v);
    }
    return (paren && t == type_paren) || number_type(t);
}

// The value of an expression of two operands and one operator at `pos`,
// `left` the value of the first (a number standing there or held by its
// word), when the second is a number standing or held by a word and no
// operator follows: most conditions and arguments. Computed as the quiet
// walk computes it, without the walk's set-up; false, nothing done, for any
// other shape or when it is not quiet (the walk then has the last word).
[[gnu::always_inline]] inline bool quiet_pair(QuietCode code, uint32_t& pos, const Cell& left, Cell& out) {
    uint32_t p = pos + 1;
    if (p + 1 >= code.end) return false;
    const Cell* op = operator_at(code.cells + p);
    if (!op) return false;
    fast_paths::InPlace how = fast_paths::op_kind(*op);
    if (how.kind == fast_paths::InPlace::none) return false;
    const Cell* right = code.cells + p + 1;
    if (type_of(*right) == type_word && !(right = word_value_fast(*right))) return false;
    uint32_t rt = type_of(*right);
    if (!number_type(rt)) return false;
    uint32_t after = p + 2;
    if (after < code.end && operator_at(code.cells + after)) return false;
    // Two integers, or two chars compared, inline (as answer_quietly answers them).
    uint32_t lt = type_of(left);
    bool done = lt == rt && (lt == type_integer || (lt == type_char && how.kind == fast_paths::InPlace::compare)) &&
                fast_paths::answer_integers(how, int32_t(left.w2), int32_t(right->w2), out);
    if (!done && !fast_paths::answer_quietly(how, left, *right, out)) return false;
    pos = after;
    return true;
}

// An op! as the callable it wraps (the type kept in its header bits 16-23;
// the op! shares that callable's argument block and record).
inline Cell unwrap_op(const Cell& op) {
    Cell c = op;
    set_type(c, (c.header & header::op_type_mask) >> header::op_type_shift);
    c.header &= ~header::op_type_mask;
    return c;
}

// Tracing state, read on the hot path: whether events are delivered now.
extern bool tracing;
// Whether a trace asks for its events (`interpreter/tracing?`): tracing is
// this flag outside library code.
extern bool trace_requested;

// ---- Library code -----------------------------------------------------------
// Code decoded from the boot image (the library and the console) runs as
// compiled code would: it fires no trace events, the frames it opens carry
// no interpreter bit, and an error raised in it is placed (its near) where
// the user's code called into it. A block that the user hands to a library
// function is the user's own and runs as such.

// Whether the innermost block being evaluated is library code.
extern bool in_library;

inline bool library_block_q(const Cell& block) {
    return memory::buffer_of(block.w2)->flags & memory::flag::boot_origin;
}

// Enters library code (or the user's code) for one block's evaluation and
// puts the former state back however the block ends.
class OriginCrossing {
public:
    explicit OriginCrossing(bool library);
    ~OriginCrossing();
    OriginCrossing(const OriginCrossing&) = delete;
    OriginCrossing& operator=(const OriginCrossing&) = delete;

private:
    bool former_;
    collector::Held caller_position_;  // the former one, when entering library code
};

// Switches between the two kinds of code (frame bits, trace delivery).
void set_in_library(bool library);

// eval_block of a block of the other kind than the code running: the
// crossing and back, kept out of eval_block's own body.
[[gnu::noinline]] Status eval_block_crossing(const Cell& word, const Cell& block, bool copy_result);

}  // namespace vyr::eval::detail
