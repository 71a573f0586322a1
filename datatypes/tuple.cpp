// tuple!: helpers, actions in slot order, registration (see tuple.h).
#include "datatypes/tuple.h"

#include <algorithm>
#include <cstring>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/number_support.h"
#include "runtime/registry.h"
#include "datatypes/scalar_support.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "datatypes/checks.h"
#include "runtime/collector.h"
#include "datatypes/fixed_words.h"
#include "runtime/numeric.h"

namespace vyr::tuple_t {

using namespace number_support;

namespace {

constexpr int32_t byte_max = 255;

uint32_t header_of(uint32_t count) { return type_tuple | (count << header::tuple_size_shift); }

uint8_t clamp_byte(int32_t v) { return uint8_t(std::clamp(v, 0, byte_max)); }

// A float result as a byte: truncated toward zero, then clamped (a NaN
// counts as 0, a result beyond the 32-bit range as 0 or 255 by its sign).
uint8_t clamp_byte(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= double(byte_max)) return byte_max;
    return uint8_t(numeric::truncate_to_int32(v));
}

// The bytes of a tuple, those past its count read as 0.
struct Bytes {
    uint8_t b[max_bytes];
    uint32_t n;
};
Bytes bytes_in(const Cell& tuple) {
    Bytes out{{}, count_of(tuple)};
    std::memcpy(out.b, bytes_of(tuple), std::min(out.n, max_bytes));
    return out;
}

}  // namespace

// ---- Helpers -----------------------------------------------------------------

Cell cell_of(const uint8_t* bytes, uint32_t count) {
    count = std::min(count, max_bytes);
    Cell c{header_of(std::max(count, min_bytes)), 0, 0, 0};
    if (count) std::memcpy(bytes_of(c), bytes, count);
    return c;
}

Cell* make_at(Cell* cell, const uint8_t* bytes, uint32_t count) {
    uint32_t new_line = cell->header & header::new_line;
    *cell = cell_of(bytes, count);
    cell->header |= new_line;
    return cell;
}

Cell* push(uint32_t count, uint32_t w1, uint32_t w2, uint32_t w3) {
    return stack::push_copy(Cell{header_of(count), w1, w2, w3});
}

Cell* from_ints(uint32_t count, const int32_t* ints) {
    uint8_t bytes[max_bytes] = {};
    count = std::min(count, max_bytes);
    for (uint32_t i = 0; i < count; ++i) bytes[i] = uint8_t(ints[i]);
    return stack::push_copy(cell_of(bytes, count));
}

Cell* from_binary(const Cell& binary, Cell* out) {
    ByteView v = bytes_from_index(binary);
    *out = cell_of(v.bytes, std::min(v.length, max_bytes));
    return out;
}

namespace {

// The value of a hex digit, or -1 (characters outside ASCII included).
int32_t hex_value(uint32_t c) {
    if (c >= '0' && c <= '9') return int32_t(c - '0');
    if (c >= 'A' && c <= 'F') return int32_t(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return int32_t(c - 'a' + 10);
    return -1;
}

}  // namespace

Cell* from_issue(const Cell& issue, Cell* out) {
    Cell spelling{type_string, 0, word_t::symbol_cell(issue)->w2, 0};
    uint32_t n = string_t::buffer_length(spelling);
    if (n != 3 && n != 6 && n != 8) raise_script(script::invalid_data, issue);
    int32_t digits[8];
    for (uint32_t k = 0; k < n; ++k) {
        digits[k] = hex_value(string_t::char_at(spelling, k));
        if (digits[k] < 0) raise_script(script::invalid_data, issue);
    }
    uint8_t bytes[4];
    uint32_t count = n == 3 ? 3 : n / 2;
    for (uint32_t i = 0; i < count; ++i)
        bytes[i] = n == 3 ? uint8_t(digits[i] * 17) : uint8_t(digits[2 * i] * 16 + digits[2 * i + 1]);
    *out = cell_of(bytes, count);
    return out;
}

Cell* make_rgba(Cell* out, int32_t r, int32_t g, int32_t b, int32_t a) {
    uint8_t bytes[4] = {uint8_t(r), uint8_t(g), uint8_t(b), uint8_t(a)};
    *out = cell_of(bytes, a == -1 ? 3 : 4);
    return out;
}

bool zero_q(const Cell& tuple) {
    Bytes t = bytes_in(tuple);
    return std::all_of(t.b, t.b + max_bytes, [](uint8_t b) { return b == 0; });
}

void set_byte(Cell& tuple, int32_t index, const Cell& value) {
    int32_t n = int32_t(count_of(tuple));
    if (index < 1 || index > n) raise_script(script::out_of_range, Cell{type_integer, 0, uint32_t(index), 0});
    uint8_t* bytes = bytes_of(tuple);
    if (type_of(value) != type_none) {
        bytes[index - 1] = clamp_byte(integer_t::get(value));
        return;
    }
    std::memset(bytes + index - 1, 0, size_t(n - index + 1));
    uint32_t count = std::max(uint32_t(index - 1), min_bytes);
    tuple.header = (tuple.header & ~header::tuple_size_mask) | (count << header::tuple_size_shift);
}

namespace {

// One byte combined with an integer by the integer core: an add, subtract
// or multiply that overflows gives 255 for a positive result and 0 for a
// negative one.
uint8_t combine(int32_t byte, int32_t n, int32_t op) {
    int32_t r = 0;
    double wide = 0.0;
    if (!scalar_support::integer_component(byte, n, op, r, &wide)) return wide > 0.0 ? byte_max : 0;
    return clamp_byte(r);
}

const Cell& op_word(int32_t op) { return op == integer_t::op_subtract ? fixed::word_subtract : fixed::word_divide; }

}  // namespace

Cell* do_math(int32_t op) {
    Cell* a = stack::arg_base();
    Cell* b = a + 1;
    if (type_of(*a) != type_tuple) {
        // A number first: only the operations that commute take the tuple first.
        if (op == integer_t::op_subtract || op == integer_t::op_divide) raise_not_related(op_word(op), type_of(*a));
        std::swap(*a, *b);
    }
    Bytes x = bytes_in(*a);
    uint32_t n = x.n;
    uint8_t out[max_bytes] = {};
    switch (type_of(*b)) {
        case type_integer:
            for (uint32_t i = 0; i < n; ++i) out[i] = combine(x.b[i], integer_t::get(*b), op);
            break;
        case type_float:
        case type_percent:
            for (uint32_t i = 0; i < n; ++i) out[i] = clamp_byte(float_t::do_math_op(x.b[i], float_t::get(*b), op));
            break;
        case type_tuple: {
            Bytes y = bytes_in(*b);
            n = std::max(n, y.n);
            for (uint32_t i = 0; i < n; ++i) out[i] = combine(x.b[i], y.b[i], op);
            break;
        }
        default: raise_invalid_type(*b);
    }
    return make_at(a, out, n);
}

// ---- Actions -------------------------------------------------------------------

namespace {

bool block_like_q(uint32_t t) { return t == type_block || t == type_paren || t == type_hash; }

// [r g b ...]: at most 12 integer!, char! or float! values in 0..255.
Cell from_block(const Cell& block) {
    CellView v = cells_from_index(block);
    if (v.length > max_bytes) raise_bad_to_arg(type_tuple, block);
    uint8_t bytes[max_bytes];
    for (uint32_t i = 0; i < v.length; ++i) {
        const Cell& c = v.cells[i];
        int32_t n;
        switch (type_of(c)) {
            case type_integer:
            case type_char: n = integer_t::get(c); break;
            case type_float: n = numeric::truncate_to_int32(float_t::get(c)); break;
            default: raise_bad_to_arg(type_tuple, block);
        }
        if (n < 0 || n > byte_max) raise_bad_to_arg(type_tuple, block);
        bytes[i] = uint8_t(n);
    }
    return cell_of(bytes, v.length);
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, uint32_t) {
    const Cell s = *spec;
    Cell result;
    uint32_t t = type_of(s);
    if (block_like_q(t)) result = from_block(s);
    else if (string_t::string_like_q(t)) result = scalar_support::load_as(s, type_tuple);
    else if (t == type_issue) from_issue(s, &result);
    else if (t == type_tuple) result = s;
    else if (t == type_binary) from_binary(s, &result);
    else raise_bad_to_arg(type_tuple, s);
    result.header &= ~header::new_line;
    *proto = result;
    return proto;
}

// Each byte b becomes a uniform random value in 0..b; /seed seeds the
// generator with the XOR of the three payload words.
Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::random_seed(int32_t(value->w1 ^ value->w2 ^ value->w3));
        *value = Cell{type_unset, 0, 0, 0};
        return value;
    }
    uint8_t* bytes = bytes_of(*value);
    for (uint32_t i = 0, n = count_of(*value); i < n; ++i)
        bytes[i] = uint8_t(random::random_int(secure, bytes[i] + 1) - 1);
    return value;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) {
    const uint8_t* bytes = bytes_of(*value);
    for (uint32_t i = 0, n = count_of(*value); i < n; ++i) {
        if (i > 0) budget = append_ascii(*buffer, ".", budget);
        budget = append_ascii(*buffer, integer_t::to_text(bytes[i]).view(), budget);
    }
    return budget;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form(value, buffer, part, budget);
}

Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool,
                  bool) {
    if (type_of(*element) != type_integer) raise_invalid_type(*element);
    int32_t index = integer_t::get(*element);
    if (!value) {
        Cell copy = *parent;
        return scalar_support::path_answer(*pick(&copy, index, element));
    }
    if (type_of(*value) != type_integer && type_of(*value) != type_none) raise_invalid_type(*value);
    set_byte(*parent, index, *value);
    return value;
}

// Byte by byte up to the longer count, a missing byte counting as 0.
int32_t compare(Cell* a, Cell* b, int32_t) {
    if (type_of(*b) != type_tuple) return registry::not_comparable;
    Bytes x = bytes_in(*a), y = bytes_in(*b);
    uint32_t n = std::max(x.n, y.n);
    for (uint32_t i = 0; i < n; ++i)
        if (x.b[i] != y.b[i]) return x.b[i] < y.b[i] ? -1 : 1;
    return 0;
}

Cell* add() { return tuple_t::do_math(integer_t::op_add); }
Cell* divide() { return tuple_t::do_math(integer_t::op_divide); }
Cell* multiply() { return tuple_t::do_math(integer_t::op_multiply); }
Cell* remainder() { return tuple_t::do_math(integer_t::op_remainder); }
Cell* subtract() { return tuple_t::do_math(integer_t::op_subtract); }
Cell* and_t() { return tuple_t::do_math(integer_t::op_and); }
Cell* or_t() { return tuple_t::do_math(integer_t::op_or); }
Cell* xor_t() { return tuple_t::do_math(integer_t::op_xor); }

Cell* complement(Cell* value) {
    uint8_t* bytes = bytes_of(*value);
    for (uint32_t i = 0, n = count_of(*value); i < n; ++i) bytes[i] = uint8_t(byte_max - bytes[i]);
    return value;
}

int32_t length_q(Cell* value) { return int32_t(count_of(*value)); }

Cell* pick(Cell* value, int32_t index, Cell* index_cell) {
    bool integer = !index_cell || type_of(*index_cell) == type_integer;
    if (!integer || index < 1 || index > int32_t(count_of(*value))) {
        Cell i = index_cell ? *index_cell : Cell{type_integer, 0, uint32_t(index), 0};
        raise_script(script::out_of_range, i);
    }
    *value = Cell{type_integer, 0, bytes_of(*value)[index - 1], 0};
    return value;
}

namespace {

// The integer of a /part or /skip argument, refused when it is not an
// integer! or lies below `least`.
int32_t refinement_count(const char* refinement, const Cell& arg, int32_t least) {
    if (type_of(arg) != type_integer) string_t::raise_invalid_refine_arg(refinement, arg);
    int32_t n = integer_t::get(arg);
    if (n < least) raise_script(script::out_of_range, arg);
    return n;
}

}  // namespace

// Reverses the first bytes (all, or the /part length), one by one or, with
// /skip, record by record (each record keeps its inner order).
Cell* reverse(Cell* value, Cell* part, Cell* skip) {
    uint32_t n = count_of(*value);
    uint32_t length = part ? std::min(uint32_t(refinement_count("part", *part, 0)), n) : n;
    uint32_t record = 1;
    if (skip) {
        record = uint32_t(refinement_count("skip", *skip, 1));
        if (length % record != 0) string_t::raise_invalid_refine_arg("skip", *skip);
    }
    uint8_t* bytes = bytes_of(*value);
    uint8_t old[max_bytes];
    std::memcpy(old, bytes, length);
    uint32_t records = length / record;
    for (uint32_t r = 0; r < records; ++r) std::memcpy(bytes + r * record, old + (records - 1 - r) * record, record);
    return value;
}

void init() {
    using namespace registry;
    Row row;
    row.set(slot_make, make);
    row.set(slot_random, random);
    row.set(slot_to, make);
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_path_access, path_access);
    row.set(slot_compare, compare);
    row.set(slot_add, add);
    row.set(slot_divide, divide);
    row.set(slot_multiply, multiply);
    row.set(slot_remainder, remainder);
    row.set(slot_subtract, subtract);
    row.set(slot_and_t, and_t);
    row.set(slot_complement, complement);
    row.set(slot_or_t, or_t);
    row.set(slot_xor_t, xor_t);
    row.set(slot_length_q, length_q);
    row.set(slot_pick, pick);
    row.set(slot_reverse, reverse);
    row.register_as(type_tuple, 0, "tuple!");
}

}  // namespace vyr::tuple_t
