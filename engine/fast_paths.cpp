#include "engine/fast_paths.h"

#include <array>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "runtime/registry.h"
#include "datatypes/actions.h"
#include "datatypes/frames.h"
#include "engine/natives.h"
#include "runtime/stack.h"
#include "runtime/memory.h"
#include "runtime/runtime_error.h"

namespace vyr::fast_paths {

using namespace registry;

namespace {

Cell integer_cell(int32_t n) { return Cell{type_integer, 0, uint32_t(n), 0}; }
Cell float_cell(double d) {
    Cell c{type_float, 0, 0, 0};
    set_cell_float(c, d);
    return c;
}

[[noreturn]] void bad_code() { runtime_error_quit(runtime_error_no::no_switch_match, VYR_CODE_POSITION()); }

uint32_t math_slot(int32_t op) {
    switch (op) {
        case integer_t::op_add: return slot_add;
        case integer_t::op_subtract: return slot_subtract;
        case integer_t::op_multiply: return slot_multiply;
        case integer_t::op_divide: return slot_divide;
        case integer_t::op_remainder: return slot_remainder;
        case integer_t::op_or: return slot_or_t;
        case integer_t::op_and: return slot_and_t;
        case integer_t::op_xor: return slot_xor_t;
        default: bad_code();
    }
}

bool float_like(uint32_t t) { return t == type_float || t == type_integer; }
double number(const Cell& c) { return type_of(c) == type_integer ? double(integer_t::get(c)) : cell_float(c); }

// The common cases of the arithmetic ops; false when the generic action
// must run. An integer! pair computes through the integer core (overflow
// to float!, its divisor checks), anything with a float! in float!.
bool math_core(int32_t op, const Cell& left, const Cell& right, Cell& out) {
    uint32_t tl = type_of(left), tr = type_of(right);
    if (tl == type_integer && tr == type_integer) {
        int32_t a = integer_t::get(left), b = integer_t::get(right), r;
        // The three most frequent ops without overflow answer here; the rest
        // (and an overflow, which gives a float!) take the integer core.
        bool done = (op == integer_t::op_add && !__builtin_add_overflow(a, b, &r)) ||
                    (op == integer_t::op_subtract && !__builtin_sub_overflow(a, b, &r)) ||
                    (op == integer_t::op_multiply && !__builtin_mul_overflow(a, b, &r)) ||
                    (op == integer_t::op_remainder && b != 0 && b != -1 && ((r = a % b), true));
        if (done) {
            out = integer_cell(r);
            return true;
        }
        out = integer_cell(0);
        integer_t::do_math_op(integer_t::get(left), integer_t::get(right), op, &out);
        return true;
    }
    if (op > integer_t::op_remainder || !float_like(tl) || !float_like(tr)) return false;
    out = float_cell(float_t::do_math_op(number(left), number(right), op));
    return true;
}

bool integer_truth(int32_t op, int32_t a, int32_t b) {
    switch (op) {
        case op_equal: case op_strict_equal: return a == b;
        case op_not_equal: return a != b;
        case op_lesser: return a < b;
        case op_lesser_or_equal: return a <= b;
        case op_greater: return a > b;
        default: return a >= b;
    }
}

// The common cases of the comparisons: two integer!s or two char!s (by
// code point), or the orderings of two float!s (float equality has its
// near-equality rule: generic).
bool compare_core(int32_t op, const Cell& left, const Cell& right, bool& truth) {
    uint32_t tl = type_of(left), tr = type_of(right);
    if (tl != tr) return false;
    if (tl == type_integer || tl == type_char) {
        truth = integer_truth(op, int32_t(left.w2), int32_t(right.w2));
        return true;
    }
    if (tl != type_float || op < op_lesser) return false;
    double x = cell_float(left), y = cell_float(right);
    switch (op) {
        case op_lesser: truth = x < y; break;
        case op_lesser_or_equal: truth = x <= y; break;
        case op_greater: truth = x > y; break;
        default: truth = x >= y; break;
    }
    return true;
}

bool math_in_place(int32_t op, const Cell& left, const Cell& right, Cell& out) {
    math_slot(op);  // an unknown code stops here
    if (op == integer_t::op_divide || op == integer_t::op_remainder) bad_code();
    return math_core(op, left, right, out);
}

// Runs `call` on the two operands inside a plain call frame named by the
// word; the result is left as the new top cell and answered.
template <typename Call>
Cell* in_frame(const Cell& word, const Cell& left, const Cell& right, Call call) {
    Cell l = left, r = right;  // the pushes may land on the operands' cells
    frames::frame_open(word);
    stack::push_copy(l);
    stack::push_copy(r);
    call();
    frames::frame_close();
    return stack::top_cell();
}

Cell* math_pushed(const Cell& word, int32_t op, const Cell& left, const Cell& right) {
    Cell out;
    if (math_in_place(op, left, right, out)) return stack::push_copy(out);
    uint32_t slot = math_slot(op);
    return in_frame(word, left, right, [slot] { actions::entry(slot)(nullptr); });
}

void check_compare_code(int32_t op) {
    if (op < op_equal || op > op_greater_or_equal) bad_code();
}

// Pushes the logic! answer.
Cell* compare_pushed(const Cell& word, int32_t op, const Cell& left, const Cell& right) {
    check_compare_code(op);
    bool truth;
    if (compare_core(op, left, right, truth)) return stack::push_copy(logic_t::value_of(truth));
    return in_frame(word, left, right, [op] { actions::compare_op(op); });
}

// The truth alone; nothing stays pushed.
bool truth_of(const Cell& word, int32_t op, const Cell& left, const Cell& right) {
    check_compare_code(op);
    bool truth;
    if (compare_core(op, left, right, truth)) return truth;
    truth = compare_pushed(word, op, left, right)->w1 != 0;
    stack::pop_cells(1);
    return truth;
}

// Replaces the top cell (the left operand) by what `pushed` answers for it.
template <typename Pushed>
Cell* over_top(Pushed pushed) {
    Cell left = *stack::top_cell();
    stack::pop_cells(1);
    return pushed(left);
}

// Values from a block's index to its tail (negative when the index is past it).
int32_t remaining(const Cell& block) { return int32_t(memory::series_length(block.w2)) - int32_t(block.w1); }

Cell* step_in_frame(const Cell& word, const Cell& series, uint32_t slot) {
    Cell s = series;
    frames::frame_open(word);
    stack::push_copy(s);
    actions::entry(slot)(nullptr);
    frames::frame_close();
    return stack::top_cell();
}

uint32_t step_slot(int32_t code) {
    switch (code) {
        case step::length_q: return slot_length_q;
        case step::index_q: return slot_index_q;
        case step::head_q: return slot_head_q;
        case step::tail_q: return slot_tail_q;
        case step::next: return slot_next;
        case step::back: return slot_back;
        case step::head: return slot_head;
        case step::tail: return slot_tail;
        default: bad_code();
    }
}

Cell block_step(const Cell& block, int32_t code) {
    int32_t r = remaining(block);
    int32_t index = int32_t(block.w1);
    Cell moved = block;
    switch (code) {
        case step::length_q: return integer_cell(r < 0 ? 0 : r);
        case step::index_q: return integer_cell(index + 1);
        case step::head_q: return logic_t::value_of(index == 0);
        case step::tail_q: return logic_t::value_of(r < 1);
        case step::next: moved.w1 = uint32_t(r >= 1 ? index + 1 : index); return moved;
        case step::back: moved.w1 = uint32_t(index > 0 ? index - 1 : 0); return moved;
        case step::head: moved.w1 = 0; return moved;
        case step::tail: moved.w1 = uint32_t(index + r); return moved;
        default: bad_code();
    }
}
}  // namespace

// ---- The evaluator's operators ---------------------------------------------------

namespace {
// The in-place operations by slot: the arithmetic actions and the comparison
// natives each lie in one short run of low slots, so one table row for each
// kind of callable answers.
constexpr uint32_t first_math_slot = slot_add, math_slots = slot_xor_t - slot_add + 1;
constexpr uint32_t first_compare_native = natives::no::equal_q,
                   compare_natives = natives::no::greater_or_equal_q - natives::no::equal_q + 1;

constexpr InPlace math_of_slot(uint32_t slot) {
    switch (slot) {
        case slot_add: return {InPlace::math, integer_t::op_add};
        case slot_subtract: return {InPlace::math, integer_t::op_subtract};
        case slot_multiply: return {InPlace::math, integer_t::op_multiply};
        case slot_divide: return {InPlace::math, integer_t::op_divide};
        case slot_remainder: return {InPlace::math, integer_t::op_remainder};
        case slot_or_t: return {InPlace::math, integer_t::op_or};
        case slot_and_t: return {InPlace::math, integer_t::op_and};
        case slot_xor_t: return {InPlace::math, integer_t::op_xor};
        default: return {};
    }
}

constexpr InPlace compare_of_native(uint32_t no) {
    switch (no) {
        case natives::no::equal_q: return {InPlace::compare, op_equal};
        case natives::no::not_equal_q: return {InPlace::compare, op_not_equal};
        case natives::no::strict_equal_q: return {InPlace::compare, op_strict_equal};
        case natives::no::lesser_q: return {InPlace::compare, op_lesser};
        case natives::no::lesser_or_equal_q: return {InPlace::compare, op_lesser_or_equal};
        case natives::no::greater_q: return {InPlace::compare, op_greater};
        case natives::no::greater_or_equal_q: return {InPlace::compare, op_greater_or_equal};
        default: return {};
    }
}

static_assert(first_math_slot + math_slots <= detail::op_slots &&
              first_compare_native + compare_natives <= detail::op_slots);

constexpr std::array<InPlace, detail::op_slots> op_row(bool native) {
    std::array<InPlace, detail::op_slots> row{};
    for (uint32_t i = 0; i < detail::op_slots; ++i) row[i] = native ? compare_of_native(i) : math_of_slot(i);
    return row;
}
}  // namespace

constinit const std::array<std::array<InPlace, detail::op_slots>, 2> detail::op_table = {op_row(true), op_row(false)};

InPlace infix_op(const Cell& callable) {
    uint32_t t = type_of(callable);
    uint32_t slot = callable.w1 + 1;
    if (slot >= detail::op_slots || (t != type_action && t != type_native)) return {};
    return detail::op_table[t - type_native][slot];
}

bool apply_in_place(InPlace op, const Cell& left, const Cell& right, Cell& out) {
    if (op.kind == InPlace::math) return math_core(op.code, left, right, out);
    bool truth;
    if (op.kind != InPlace::compare || !compare_core(op.code, left, right, truth)) return false;
    out = logic_t::value_of(truth);
    return true;
}

bool answer_other_quietly(InPlace op, const Cell& left, const Cell& right, Cell& out) {
    bool divides = op.kind == InPlace::math && (op.code == integer_t::op_divide || op.code == integer_t::op_remainder);
    if (divides && type_of(right) == type_integer && (right.w2 == 0 || int32_t(right.w2) == -1)) return false;
    return apply_in_place(op, left, right, out);
}

// ---- Arithmetic -------------------------------------------------------------------

Cell* fast_math(const Cell& word, int32_t op, const Cell& left, const Cell& right) {
    return math_pushed(word, op, left, right);
}
Cell* fast_math_imm(const Cell& word, int32_t op, const Cell& left, int32_t n) {
    return math_pushed(word, op, left, integer_cell(n));
}
Cell* fast_math_top(const Cell& word, int32_t op, const Cell& right) {
    Cell r = right;
    return over_top([&](const Cell& left) { return math_pushed(word, op, left, r); });
}
Cell* fast_math_top_imm(const Cell& word, int32_t op, int32_t n) {
    return over_top([&](const Cell& left) { return math_pushed(word, op, left, integer_cell(n)); });
}

// ---- Comparison -------------------------------------------------------------------

Cell* fast_compare(const Cell& word, int32_t op, const Cell& left, const Cell& right) {
    return compare_pushed(word, op, left, right);
}
Cell* fast_compare_imm(const Cell& word, int32_t op, const Cell& left, int32_t n) {
    return compare_pushed(word, op, left, integer_cell(n));
}
Cell* fast_compare_top(const Cell& word, int32_t op, const Cell& right) {
    Cell r = right;
    return over_top([&](const Cell& left) { return compare_pushed(word, op, left, r); });
}
Cell* fast_compare_top_imm(const Cell& word, int32_t op, int32_t n) {
    return over_top([&](const Cell& left) { return compare_pushed(word, op, left, integer_cell(n)); });
}
bool fast_compare_test(const Cell& word, int32_t op, const Cell& left, const Cell& right, bool expected) {
    return truth_of(word, op, left, right) != expected;
}
bool fast_compare_test_imm(const Cell& word, int32_t op, const Cell& left, int32_t n, bool expected) {
    return truth_of(word, op, left, integer_cell(n)) != expected;
}
bool fast_compare_set(const Cell& word, int32_t op, const Cell& left, const Cell& right) {
    bool truth = truth_of(word, op, left, right);
    stack::set_result(logic_t::value_of(truth));
    return truth;
}
bool fast_compare_set_imm(const Cell& word, int32_t op, const Cell& left, int32_t n) {
    return fast_compare_set(word, op, left, integer_cell(n));
}

// ---- Blocks -------------------------------------------------------------------------

Cell* fast_pick(const Cell& word, const Cell& series, int32_t n) {
    if (type_of(series) == type_block) {
        if (n < 1 || n > remaining(series)) return none_t::push();
        return stack::push_copy(*memory::cell_at(series.w2, series.w1 + uint32_t(n) - 1));
    }
    return in_frame(word, series, integer_cell(n), [] {
        const int32_t no_value = -1;
        actions::entry(slot_path_access)(&no_value);
    });
}

Cell* fast_series_step(const Cell& word, const Cell& series, int32_t code) {
    uint32_t slot = step_slot(code);
    if (type_of(series) == type_block) return stack::push_copy(block_step(series, code));
    return step_in_frame(word, series, slot);
}

}  // namespace vyr::fast_paths
