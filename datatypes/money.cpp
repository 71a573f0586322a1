// money!: digits, currencies, text, number conversions, comparison, the
// single-value actions and registration. The arithmetic and round are in
// money_math.cpp.
#include "datatypes/money.h"

#include <cstring>
#include <string>

#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/none.h"
#include "datatypes/number_support.h"
#include "datatypes/object.h"
#include "datatypes/scalar_support.h"
#include "runtime/registry.h"
#include "datatypes/string_buffer.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "datatypes/text_readers.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/errors.h"
#include "datatypes/fixed_words.h"
#include "runtime/float_text.h"
#include "runtime/series.h"

namespace vyr::money_t {

using namespace number_support;
using namespace registry;

namespace {

constexpr int32_t default_money_digits = 2;
constexpr double overflow_magnitude = 1e17;
constexpr double underflow_magnitude = 1e-5;
constexpr uint32_t currency_code_length = 3;
// More digits than a double has: from_float reads the shortest text.
constexpr int float_digits_asked = 22;
constexpr uint32_t pick_code = 1, pick_amount = 2;
// The generator draws that may reach a digit's own value must agree modulo
// this, so that the largest amount is drawn rarely.
constexpr int32_t top_draw_modulus = 1000;

uint8_t* bytes_of(Cell& c) { return reinterpret_cast<uint8_t*>(&c); }
const uint8_t* bytes_of(const Cell& c) { return reinterpret_cast<const uint8_t*>(&c); }

Cell datatype_money() { return datatype_t::value_of(type_money); }

[[noreturn]] void raise_bad_make_arg(const Cell& spec) { raise_script(script::bad_make_arg, datatype_money(), spec); }

bool word_type_q(uint32_t t) { return t >= type_word && t <= type_refinement; }

// system/locale/currencies/list, or null when it is not a block.
const Cell* currency_list() {
    const Cell* list = object_t::system_field({"locale", "currencies", "list"});
    return list && type_of(*list) == type_block ? list : nullptr;
}

bool same_symbol_q(int32_t a, int32_t b) { return symbol_t::resolve_alias(a) == symbol_t::resolve_alias(b); }

}  // namespace

// ---- Sign and currency -----------------------------------------------------------

Cell* set_sign(Cell* c, uint32_t s) {
    c->header = (c->header & ~sign_bit) | (s ? sign_bit : 0);
    return c;
}
Cell* flip_sign(Cell* c) {
    c->header ^= sign_bit;
    return c;
}
Cell* make_positive(Cell* c) {
    c->header &= ~sign_bit;
    return c;
}
uint32_t currency(const Cell& c) { return bytes_of(c)[currency_byte]; }
Cell* set_currency(Cell* c, uint32_t index) {
    bytes_of(*c)[currency_byte] = uint8_t(index);
    return c;
}

int32_t currency_index(int32_t symbol) {
    const Cell* list = currency_list();
    if (!list) return -1;
    uint32_t length = memory::series_length(list->w2);
    for (uint32_t i = list->w1; i < length; ++i) {
        const Cell& w = *memory::cell_at(list->w2, i);
        if (word_type_q(type_of(w)) && same_symbol_q(int32_t(w.w2), symbol)) return int32_t(i - list->w1 + 1);
    }
    return -1;
}

Cell currency_word(uint32_t index) {
    const Cell* list = currency_list();
    if (!list || index == 0 || list->w1 + index > memory::series_length(list->w2)) return none_t::value;
    return *memory::cell_at(list->w2, list->w1 + index - 1);
}

Cell* push_currency_word(uint32_t index) { return stack::push_copy(currency_word(index)); }

Cell* push_currency(const Cell& c) {
    return currency(c) ? push_currency_word(currency(c)) : stack::push_copy(none_t::value);
}

Cell* push_amount(const Cell& c) { return set_currency(stack::push_copy(c), 0); }

bool same_currency_q(const Cell& a, const Cell& b, bool strict) {
    uint32_t x = currency(a), y = currency(b);
    if (strict) return x == y;
    return x == 0 || y == 0 || x == y;
}

// ---- Digits ------------------------------------------------------------------------

uint8_t* digits(Cell& c) { return bytes_of(c) + digits_byte; }
const uint8_t* digits(const Cell& c) { return bytes_of(c) + digits_byte; }

Cell* set_digits(Cell* c, const uint8_t* src) {
    std::memcpy(digits(*c), src, digit_bytes);
    return c;
}

uint32_t get_digit(const uint8_t* run, uint32_t n) {
    uint8_t byte = run[(n - 1) >> 1];
    return n & 1 ? byte >> 4 : byte & 15;
}

void set_digit(uint8_t* run, uint32_t n, uint32_t value) {
    uint8_t& byte = run[(n - 1) >> 1];
    byte = n & 1 ? uint8_t((byte & 0x0F) | value << 4) : uint8_t((byte & 0xF0) | (value & 15));
}

bool digits_zero_q(const uint8_t* run) {
    for (uint32_t i = 0; i < digit_bytes; ++i)
        if (run[i]) return false;
    return true;
}

int32_t compare_digits(const uint8_t* a, const uint8_t* b) {
    int d = std::memcmp(a, b, digit_bytes);
    return (d > 0) - (d < 0);
}

Cell* clear_payload(Cell* c) {
    c->w1 = c->w2 = c->w3 = 0;
    return c;
}

uint8_t* shift_left(uint8_t* run, uint32_t bytes, uint32_t n) {
    uint32_t count = bytes * 2;
    for (uint32_t i = 1; i <= count; ++i) set_digit(run, i, i + n <= count ? get_digit(run, i + n) : 0);
    return run;
}

uint8_t* shift_right(uint8_t* run, uint32_t bytes, uint32_t n) {
    for (uint32_t i = bytes * 2; i >= 1; --i) set_digit(run, i, i > n ? get_digit(run, i - n) : 0);
    return run;
}

uint32_t digit_count(const uint8_t* run) {
    uint32_t count = digit_count_max;
    for (uint32_t i = 0; i < digit_bytes; ++i) {
        if (run[i] == 0) {
            count -= 2;
            continue;
        }
        if ((run[i] >> 4) == 0) --count;
        break;
    }
    return count ? count : 1;
}

Units units_of(const Cell& c) {
    Units u = 0;
    for (uint32_t n = 1; n <= digit_count_max; ++n) u = u * 10 + get_digit(digits(c), n);
    return u;
}

void set_units(Cell& c, Units u) {
    for (uint32_t n = digit_count_max; n >= 1; --n) {
        set_digit(digits(c), n, uint32_t(u % 10));
        u /= 10;
    }
}

int32_t sign_of(const Cell& c) {
    if (digits_zero_q(digits(c))) return 0;
    return sign(c) ? -1 : 1;
}

// ---- Making ----------------------------------------------------------------------

Cell* load(Cell* c, uint32_t s, uint32_t cur, const uint8_t* src) {
    c->header = type_money;
    clear_payload(c);
    set_sign(c, s);
    set_currency(c, cur);
    return set_digits(c, src);
}

Cell* push(uint32_t s, uint32_t cur, const uint8_t* src) { return load(stack::push_cell(), s, cur, src); }

Cell* from_text_parts(Cell* c, bool negative, const uint8_t* code, const uint8_t* start, const uint8_t* point,
                      const uint8_t* end) {
    c->header = type_money;
    clear_payload(c);
    set_sign(c, negative);
    if (code) {
        int32_t index = currency_index(symbol_t::intern_text(code, currency_code_length));
        if (index < 0) return nullptr;
        set_currency(c, uint32_t(index));
    }
    // Integral digits, from the units digit leftwards.
    uint32_t n = units_digit;
    for (const uint8_t* p = point ? point : end; n >= 1 && p > start + 1;) {
        --p;
        if (*p == '\'') continue;
        set_digit(digits(*c), n--, uint32_t(*p - '0'));
    }
    // Fractional digits, from the tenths rightwards; beyond the fifth they
    // are ignored.
    if (point) {
        n = units_digit + 1;
        for (const uint8_t* p = point + 1; p < end && n <= digit_count_max; ++p) {
            if (*p == '\'') continue;
            set_digit(digits(*c), n++, uint32_t(*p - '0'));
        }
    }
    return c;
}

// ---- Text --------------------------------------------------------------------------

int32_t money_digits() {
    const Cell* d = object_t::system_field({"options", "money-digits"});
    return d && type_of(*d) == type_integer ? int32_t(d->w2) : default_money_digits;
}

namespace {

// The digits of the amount without sign, currency and "$": the integral
// part (grouped by "'" with `group`), then "." and `decimals` decimals
// (none when it is 0 or less).
std::string amount_text(const Cell& c, int32_t decimals, bool group) {
    std::string out;
    const uint8_t* run = digits(c);
    int32_t count = int32_t(digit_count(run));
    if (count - int32_t(fraction_digits) > 0) {
        for (uint32_t n = uint32_t(digit_count_max - count + 1); n <= units_digit; ++n) {
            out += char('0' + get_digit(run, n));
            if (group && (n + 1) % 3 == 0 && n != units_digit) out += '\'';
        }
    } else {
        out += '0';
    }
    if (decimals > 0) {
        out += '.';
        for (uint32_t n = units_digit + 1; n <= units_digit + uint32_t(decimals); ++n) out += char('0' + get_digit(run, n));
    }
    return out;
}

}  // namespace

int32_t form_text(const Cell& c, Cell* buffer, int32_t budget, bool all, bool group) {
    if (sign_of(c) < 0) budget = append_ascii(*buffer, "-", budget);
    if (currency(c)) {
        Cell word = currency_word(currency(c));
        if (word_type_q(type_of(word))) {
            std::string_view name = symbol_t::name(int32_t(word.w2));
            string_t::append_utf8(string_t::node_of(*buffer), name.data(), name.size());
        }
        budget -= int32_t(currency_code_length);
    }
    budget = append_ascii(*buffer, "$", budget);
    int32_t decimals = money_digits();
    if (all || decimals > int32_t(fraction_digits)) decimals = int32_t(fraction_digits);
    return append_ascii(*buffer, amount_text(c, decimals, group), budget);
}

// ---- Numbers -----------------------------------------------------------------------

int32_t to_integer(const Cell& c) {
    Units whole = units_of(c) / units_per_one;
    bool negative = sign(c) != 0;
    if (whole > (negative ? Units(2147483648u) : Units(2147483647u)))
        raise_script(script::type_limit, datatype_t::value_of(type_integer));
    return int32_t(int64_t(whole) * sign_of(c));
}

Cell from_integer(int32_t value) {
    Cell c{type_money, 0, 0, 0};
    if (value != 0) {
        set_sign(&c, value < 0);
        int64_t magnitude = value < 0 ? -int64_t(value) : int64_t(value);
        set_units(c, Units(magnitude) * units_per_one);
    }
    return c;
}

double to_float(const Cell& c) {
    int32_t s = sign_of(c);
    if (s == 0) return 0.0;
    std::string text = amount_text(c, int32_t(fraction_digits), false);
    return float_text::text_to_float(text.data(), text.data() + text.size()) * s;
}

bool float_overflow_q(double x) { return x >= overflow_magnitude || x <= -overflow_magnitude; }
bool float_underflow_q(double x) { return x != 0.0 && x > -underflow_magnitude && x < underflow_magnitude; }

namespace {

// The text from_float reads: the shortest digits of x in plain notation,
// with a ".", or none when x cannot be an amount (infinities, NaN, out of
// range, more than 5 decimals under `strict`).
struct FloatAmount {
    float_text::FloatText text;
    int32_t point;  // offset of the ".", -1 when x cannot be an amount
};
FloatAmount float_amount(double x, bool strict) {
    FloatAmount f{float_text::format_float_digits(x, float_digits_asked, true), -1};
    const char* dot = static_cast<const char*>(std::memchr(f.text.text, '.', f.text.length));
    if (!dot || dot[1] == '#' || float_overflow_q(x) || float_underflow_q(x)) return f;
    int32_t point = int32_t(dot - f.text.text);
    if (strict && int32_t(f.text.length) - point - 1 > int32_t(fraction_digits)) return f;
    f.point = point;
    return f;
}

bool float_fits_q(double x, bool strict) { return float_amount(x, strict).point >= 0; }

}  // namespace

Cell from_float(double x, bool strict) {
    FloatAmount f = float_amount(x, strict);
    if (f.point < 0) {
        Cell fx{type_float, 0, 0, 0};
        set_cell_float(fx, x);
        raise_bad_make_arg(fx);
    }
    // One byte in front, so that "one before the text" is an address.
    uint8_t text[sizeof f.text.text + 1];
    text[0] = ' ';
    std::memcpy(text + 1, f.text.text, f.text.length);
    bool negative = f.text.text[0] == '-';
    Cell c;
    from_text_parts(&c, negative, nullptr, negative ? text + 1 : text, text + 1 + f.point, text + 1 + f.text.length);
    return c;
}

int32_t compare_number(const Cell& number, const Cell& money, int32_t op) {
    Cell m = money, n = number;
    int32_t r = compare(&m, &n, op);
    return r == not_comparable ? r : -r;
}

// ---- make, to ------------------------------------------------------------------------

namespace {

// make money! [code amount fraction]: an optional currency word, an integer!
// or float! amount, and for an integer! amount an optional integer! of
// hundred-thousandths (0-99999).
Cell make_from_block(const Cell& block) {
    CellView v = cells_from_index(block);
    if (v.length < 1 || v.length > 3) raise_bad_make_arg(block);
    uint32_t i = 0, cur = 0;
    if (word_type_q(type_of(v.cells[0]))) {
        int32_t index = currency_index(int32_t(v.cells[0].w2));
        if (index < 0 || v.length == 1) raise_bad_make_arg(block);
        cur = uint32_t(index);
        i = 1;
    }
    Cell amount;
    const Cell& a = v.cells[i];
    if (type_of(a) == type_integer) {
        amount = from_integer(int32_t(a.w2));
    } else if (type_of(a) == type_float && float_fits_q(cell_float(a), true)) {
        amount = from_float(cell_float(a), true);
    } else {
        raise_bad_make_arg(block);
    }
    if (++i < v.length) {
        const Cell& f = v.cells[i];
        int32_t n = int32_t(f.w2);
        if (type_of(a) == type_float || type_of(f) != type_integer || n < 0 || n > largest_fraction ||
            i + 1 != v.length)
            raise_bad_make_arg(block);
        Cell fraction{type_money, 0, 0, 0};
        set_units(fraction, Units(uint32_t(n)));
        set_sign(&fraction, sign(amount));
        amount = add_values(amount, fraction);
    }
    set_currency(&amount, cur);
    return amount;
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    uint32_t t = type_of(*spec);
    if (t == type_word) {
        int32_t index = currency_index(int32_t(spec->w2));
        if (index < 0) raise_bad_make_arg(*spec);
        Cell c{type_money, 0, 0, 0};
        *proto = *set_currency(&c, uint32_t(index));
        return proto;
    }
    if (t == type_block) {
        *proto = make_from_block(*spec);
        return proto;
    }
    return to(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, uint32_t) {
    Cell s = *spec;
    uint32_t t = type_of(s);
    Cell result;
    if (t == type_money) {
        result = s;
    } else if (t == type_integer) {
        result = from_integer(int32_t(s.w2));
    } else if (t == type_float) {
        result = from_float(cell_float(s), true);
    } else if (string_t::string_like_q(t)) {
        TextView text = text_from_index(s);
        int32_t error = 0;
        text_readers::readers.string_to_money(text.units, text.count, text.unit, error, &result);
        if (error != 0) raise_bad_to_arg(type_money, s);
    } else {
        raise_bad_to_arg(type_money, s);
    }
    *proto = result;
    return proto;
}

// ---- random ------------------------------------------------------------------------

namespace {
int32_t draw(bool secure) { return secure ? random::random_secure() : random::random_next(); }
}  // namespace

// The digits are drawn from the first significant one down: while the draws
// equal the value's own digits each digit is bounded by that digit (its
// top value only when two further draws agree), after the first smaller
// digit every later one is free. Sign and currency stay.
Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::random_seed(int32_t(value->w1 ^ value->w2 ^ value->w3 ^ (value->header & sign_bit)));
        *value = Cell{type_unset, 0, 0, 0};
        return value;
    }
    uint8_t* run = digits(*value);
    bool bounded = true;
    for (uint32_t n = digit_count_max - digit_count(run) + 1; n <= digit_count_max; ++n) {
        if (!bounded) {
            set_digit(run, n, uint32_t(draw(secure) % 10));
            continue;
        }
        int32_t d = int32_t(get_digit(run, n));
        int32_t r;
        for (;;) {
            r = draw(secure) % (d + 1);
            if (r < d || draw(secure) % top_draw_modulus == draw(secure) % top_draw_modulus) break;
        }
        set_digit(run, n, uint32_t(r));
        bounded = r == d;
    }
    return value;
}

// ---- form, mold --------------------------------------------------------------------

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) { return form_text(*value, buffer, budget, false, true); }

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int32_t budget, int32_t) {
    return form_text(*value, buffer, budget, all, false);
}

// ---- path access and pick ----------------------------------------------------------------

namespace {

// The field a word names: `code` 1, `amount` 2, any other 0.
uint32_t word_field(const Cell& word) {
    return uint32_t(scalar_support::word_field(word, {symbol_t::make("code"), fixed::sym_amount}));
}

// The field's value: the currency word (none without one), or the amount
// without its currency.
Cell field_value(const Cell& money, uint32_t field) {
    if (field == pick_code) return currency(money) ? currency_word(currency(money)) : none_t::value;
    Cell amount = money;
    return *set_currency(&amount, 0);
}

}  // namespace

Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool,
                  bool) {
    Cell p = path ? *path : none_t::value;
    if (value) raise_script(script::bad_path_set, p, *element);
    int32_t field = scalar_support::path_field(*element, &p, {symbol_t::make("code"), fixed::sym_amount});
    return stack::push_copy(field_value(*parent, uint32_t(field)));
}

Cell* pick(Cell* value, int32_t index, Cell* index_cell) {
    uint32_t field =
        index_cell && scalar_support::any_word_q(type_of(*index_cell)) ? word_field(*index_cell) : uint32_t(index);
    if (field != pick_code && field != pick_amount) {
        Cell i = index_cell ? *index_cell : Cell{type_integer, 0, uint32_t(index), 0};
        raise_script(script::out_of_range, i);
    }
    *value = field_value(*value, field);
    return value;
}

// ---- compare -----------------------------------------------------------------------

namespace {

bool strict_op_q(int32_t op) { return op == op_strict_equal || op == op_same || op == op_find; }
bool ordering_op_q(int32_t op) { return op >= op_lesser && op <= op_greater_or_equal; }

// The order of two values by currency: none before any currency, two
// currencies as their words compare.
int32_t compare_currencies(const Cell& a, const Cell& b, int32_t op) {
    uint32_t x = currency(a), y = currency(b);
    if (x == y) return 0;
    if (x == 0 || y == 0) return x == 0 ? -1 : 1;
    Cell wa = currency_word(x), wb = currency_word(y);
    if (!word_type_q(type_of(wa)) || !word_type_q(type_of(wb))) return x < y ? -1 : 1;
    return symbol_t::compare_spellings(int32_t(wa.w2), int32_t(wb.w2), op);
}

// A float! too small or too large for an amount, against the amount a:
// the number's sign decides, as for any amount it could stand beside.
int32_t compare_out_of_range(const Cell& a, double y) {
    if (float_overflow_q(y)) return y > 0 ? -1 : 1;
    int32_t s = sign_of(a);
    if (s != 0) return s;
    return y > 0 ? -1 : 1;
}

}  // namespace

int32_t compare(Cell* a_cell, Cell* b_cell, int32_t op) {
    const Cell& a = *a_cell;
    Cell b = *b_cell;
    uint32_t bt = type_of(b);
    if (strict_op_q(op) && bt != type_money) return 1;
    if (bt == type_money) {
        if (op == op_sort || op == op_case_sort) {
            if (int32_t c = compare_currencies(a, b, op)) return c;
        } else if (ordering_op_q(op)) {
            if (!same_currency_q(a, b, false)) {
                series::cycle_reset();
                raise_script(script::wrong_denom, a, b);
            }
        } else {
            if (!same_currency_q(a, b, false)) return 1;
            if ((op == op_strict_equal || op == op_same) && currency(a) != currency(b)) return 1;
            if (op == op_find && currency(b) && currency(a) != currency(b)) return 1;
        }
    } else if (bt == type_integer) {
        b = from_integer(int32_t(b.w2));
    } else if (bt == type_float) {
        double y = cell_float(b);
        if (float_underflow_q(y) || float_overflow_q(y)) return compare_out_of_range(a, y);
        b = from_float(y, true);
    } else {
        return not_comparable;
    }
    return compare_values(a, b);
}

// ---- Single-value actions --------------------------------------------------------------

Cell* absolute() { return make_positive(stack::arg_base()); }
Cell* negate(Cell* value) { return flip_sign(value); }
Cell* add() { return do_math(op_add); }
Cell* subtract() { return do_math(op_subtract); }
Cell* multiply() { return do_math(op_multiply); }
Cell* divide() { return do_math(op_divide); }
Cell* remainder() { return do_math(op_remainder); }

// Only the units digit decides; the decimals are not looked at.
bool odd_q(Cell* value) { return get_digit(digits(*value), units_digit) & 1; }
bool even_q(Cell* value) { return !odd_q(value); }

// ---- Registration ----------------------------------------------------------------------

void init() {
    Row row;
    row.set(slot_make, make);
    row.set(slot_random, random);
    row.set(slot_to, to);
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_path_access, path_access);
    row.set(slot_compare, compare);
    row.set(slot_absolute, absolute);
    row.set(slot_add, add);
    row.set(slot_divide, divide);
    row.set(slot_multiply, multiply);
    row.set(slot_negate, negate);
    row.set(slot_remainder, remainder);
    row.set(slot_round, round);
    row.set(slot_subtract, subtract);
    row.set(slot_even_q, even_q);
    row.set(slot_odd_q, odd_q);
    row.set(slot_pick, pick);
    row.register_as(type_money, 0, "money!");
}

}  // namespace vyr::money_t
