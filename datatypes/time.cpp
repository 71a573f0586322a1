#include "datatypes/time.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/number_support.h"
#include "datatypes/scalar_support.h"
#include "runtime/registry.h"
#include "datatypes/symbol.h"
#include "runtime/stack.h"
#include "datatypes/checks.h"
#include "runtime/collector.h"
#include "datatypes/fixed_words.h"
#include "runtime/float_text.h"
#include "runtime/memory.h"
#include "runtime/numeric.h"
#include "runtime/series.h"

namespace vyr::time_t {

using namespace number_support;

// ---- Helpers -----------------------------------------------------------------

int32_t hours(double x) { return numeric::truncate_to_int32(x / seconds_per_hour); }

int32_t minutes(double x) {
    return numeric::truncate_to_int32(std::floor(std::fmod(std::fabs(x), seconds_per_hour) / seconds_per_minute));
}

Cell* get_field(Cell* out, double x, int32_t field) {
    switch (field) {
        case field_hour: *out = Cell{type_integer, 0, uint32_t(hours(x)), 0}; break;
        case field_minute: *out = Cell{type_integer, 0, uint32_t(minutes(x)), 0}; break;
        default:
            *out = Cell{type_float, 0, 0, 0};
            set_cell_float(*out, std::fmod(x, seconds_per_minute));
            break;
    }
    return out;
}

namespace {
Cell time_cell(double seconds) {
    Cell c{type_time, 0, 0, 0};
    set_cell_float(c, seconds);
    return c;
}
}  // namespace

Cell* make_at(Cell* cell, double seconds) {
    set_type(*cell, type_time);
    set_cell_float(*cell, seconds);
    return cell;
}

Cell* load_in(const Cell& block, double seconds) {
    Cell* c = series::append_cell(block);
    *c = time_cell(seconds);
    return c;
}

Cell* push(double seconds) { return stack::push_copy(time_cell(seconds)); }

namespace {

struct TextWriter {
    Text& t;
    void put(char c) {
        if (t.length < sizeof t.chars) t.chars[t.length++] = c;
    }
    void put(std::string_view s) {
        for (char c : s) put(c);
    }
};

// The hours of a time: its decimal text while it fits in 32 bits; past that
// (a time of more than 245000 years) the whole number's shortest text, so
// that a huge time does not print as a wrong count of hours.
void put_hours(TextWriter& w, double h) {
    if (h < 2147483648.0) {
        w.put(integer_t::to_text(numeric::truncate_to_int32(h)).view());
        return;
    }
    w.put(float_text::format_float_digits(h, 0, false).view());
}

}  // namespace

Text to_text(double x) {
    Text t{};
    TextWriter w{t};
    if (x < 0.0) {
        w.put('-');
        x = -x;
    }
    if (float_t::float_nan_or_inf_q(x)) {
        // A time divided by zero: no hours or minutes to write.
        w.put(float_t::format_float(x, float_text::FloatKind::time_seconds).view());
        return t;
    }
    put_hours(w, std::floor(x / seconds_per_hour));
    w.put(':');
    int32_t m = minutes(x);
    if (m < 10) w.put('0');
    w.put(integer_t::to_text(m).view());
    w.put(':');
    double s = std::fmod(x, seconds_per_minute);
    if (s < smallest_seconds) {
        w.put("00");
        return t;
    }
    float_text::FloatText st = float_t::format_float(s, float_text::FloatKind::time_seconds);
    if (st.length == 1 || st.text[1] == '.') w.put('0');
    w.put(st.view());
    return t;
}

// ---- Actions -------------------------------------------------------------------

namespace {

// [hours minutes seconds]: at most three values, integers but for a float!
// seconds; only the hours may be negative, and then negate the whole time.
double from_block(const Cell& block) {
    CellView v = cells_from_index(block);
    if (v.length > 3) raise_bad_to_arg(type_time, block);
    const double unit[3] = {seconds_per_hour, seconds_per_minute, 1.0};
    double total = 0.0;
    bool negative = false;
    for (uint32_t i = 0; i < v.length; ++i) {
        const Cell& c = v.cells[i];
        uint32_t t = type_of(c);
        if (t != type_integer && !(i == 2 && t == type_float)) raise_bad_to_arg(type_time, block);
        double n = t == type_integer ? double(integer_t::get(c)) : float_t::get(c);
        if (n < 0.0) {
            if (i > 0) raise_bad_to_arg(type_time, block);
            negative = true;
            n = -n;
        }
        total += n * unit[i];
    }
    return negative ? -total : total;
}

double to_value(const Cell& spec) {
    switch (type_of(spec)) {
        case type_time:
        case type_float:
        case type_percent: return float_t::get(spec);
        case type_integer: return double(integer_t::get(spec));
        case type_block:
        case type_paren:
        case type_hash: return from_block(spec);
        case type_string:
        case type_file:
        case type_url:
        case type_tag:
        case type_email:
        case type_ref: {
            // The text is loaded as a value, which must be a time!.
            Cell loaded;
            collector::CellRoot root(&loaded);
            const Cell v = checks::scan_single_value(spec, &loaded);
            if (type_of(v) != type_time) raise_bad_to_arg(type_time, spec);
            return float_t::get(v);
        }
        default: raise_bad_to_arg(type_time, spec);
    }
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, uint32_t) {
    double x = to_value(*spec);
    *proto = time_cell(x);
    return proto;
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    return form_text(float_t::get(*value), buffer, budget);
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form_text(float_t::get(*value), buffer, budget);
}

int32_t form_text(double seconds, Cell* buffer, int32_t budget) {
    return append_ascii(*buffer, to_text(seconds).view(), budget);
}

namespace {

// x with one field replaced; the new value's type must suit the field.
double set_field(double x, int32_t field, const Cell& value) {
    uint32_t t = type_of(value);
    bool whole = t == type_integer;
    if (!whole && !(field == field_second && t == type_float)) raise_script(script::invalid_arg, value);
    double n = whole ? double(integer_t::get(value)) : float_t::get(value);
    switch (field) {
        case field_hour: return x - (std::floor(x / seconds_per_hour) - n) * seconds_per_hour;
        case field_minute:
            return x - (std::floor(std::fmod(x, seconds_per_hour) / seconds_per_minute) - n) * seconds_per_minute;
        default: return x - (std::fmod(x, seconds_per_minute) - n);
    }
}

}  // namespace

Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool,
                  bool) {
    int32_t field = scalar_support::path_field(*element, path, {fixed::sym_hour, fixed::sym_minute, fixed::sym_second});
    if (value == nullptr) return get_field(stack::push_cell(), float_t::get(*parent), field);
    double x = set_field(float_t::get(*parent), field, *value);
    set_cell_float(*parent, x);
    return value;
}

Cell* pick(Cell* value, int32_t index, Cell* index_cell) {
    return get_field(value, float_t::get(*value), scalar_support::pick_field(*value, index, index_cell, {fixed::sym_hour, fixed::sym_minute, fixed::sym_second}));
}

Cell* add() {
    Cell* left = stack::arg_base();
    if (type_of(left[1]) == type_date) {  // time + date is date + time
        std::swap(left[0], left[1]);
        return date_t::do_math(left, left[1], integer_t::op_add);
    }
    return float_t::do_math(integer_t::op_add);
}

Cell* subtract() {
    if (type_of(stack::arg_base()[1]) == type_date) raise_not_related(word_arg("subtract"), type_time);
    return float_t::do_math(integer_t::op_subtract);
}

Cell* multiply() {
    if (type_of(stack::arg_base()[1]) == type_time) raise_not_related(word_arg("multiply"), type_time);
    return float_t::do_math(integer_t::op_multiply);
}

// A time divided by a time is their ratio, a float!.
Cell* divide() {
    bool ratio = type_of(stack::arg_base()[1]) == type_time;
    Cell* result = float_t::do_math(integer_t::op_divide);
    if (ratio) set_type(*result, type_float);
    return result;
}

Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    float_t::RoundFlags flags{even, down, half_down, floor, ceiling, half_ceiling};
    float_t::round_value(value, scale, flags, false);
    set_type(*value, type_time);
    return value;
}

namespace {
// The whole seconds of a time, nudged away from zero so that a time a hair
// below a whole second counts as that second.
int32_t whole_seconds(double x) {
    double nudged = x >= 0.0 ? x + smallest_seconds : x - smallest_seconds;
    return numeric::truncate_to_int32(std::fmod(nudged, seconds_per_minute));
}
}  // namespace

bool even_q(Cell* value) { return (whole_seconds(float_t::get(*value)) & 1) == 0; }
bool odd_q(Cell* value) { return (whole_seconds(float_t::get(*value)) & 1) != 0; }

void init() {
    using namespace registry;
    Row row;
    row.inherit({slot_random, slot_compare, slot_absolute, slot_negate, slot_remainder});
    row.set(slot_make, make).set(slot_to, make).set(slot_form, form).set(slot_mold, mold);
    row.set(slot_path_access, path_access);
    row.set(slot_add, add).set(slot_divide, divide).set(slot_multiply, multiply).set(slot_round, round);
    row.set(slot_subtract, subtract).set(slot_even_q, even_q).set(slot_odd_q, odd_q);
    row.set(slot_pick, pick);
    row.register_as(type_time, type_float, "time!");
}

}  // namespace vyr::time_t
