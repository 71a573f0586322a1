// float!: the IEEE 754 double (payload words 2-3), and what every floating
// type shares: the float arithmetic core with the mixed-type arithmetic of
// integer!, percent! and time!, near-equality, make/to (percent! inherits
// it), rounding (integer!, time! and the point types call it) and the text of
// a double by kind.
//
// Float arithmetic never raises division errors: a division by zero gives an
// infinity or NaN, written "1.#INF", "-1.#INF" and "1.#NaN".
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/float_text.h"

namespace vyr::float_t {

// ---- Helpers -----------------------------------------------------------------

inline double get(const Cell& c) { return cell_float(c); }
// Writes a float! into the result cell (the argument base).
Cell* box(double value);
// Turns the cell into a float! (flag bits kept).
Cell* make_at(Cell* cell, double value);
// Appends a float! at the tail of the block value.
Cell* load_in(const Cell& block, double value);
Cell* push(double value);
// A double given as its low and high 32-bit words.
Cell* push_words(uint32_t low, uint32_t high);

double float_abs(double x);
bool float_nan_q(double x);
bool float32_nan_q(float x);
bool float_nan_or_inf_q(double x);

// Near-equality of `=`: equal, closer than 2.220446049250313e-16, or at most
// ten units in the last place apart. NaN is never near anything.
bool almost_equal_q(double a, double b);
// The same for 32-bit floats (point types).
bool float32_almost_equal_q(float a, float b);

// `system/options/float/pretty?`: near-zero values form as zero and texts with
// a rounding artefact in the last digits are formed with fewer digits. On at
// start-up. `full_support` is its sibling option, which nothing reads.
extern bool pretty_print;
extern bool full_support;

// float! random: v scaled by a draw of the generator (or the secure source).
double random_int(double v, bool secure);

// The text of a double by kind, under the pretty-print option.
float_text::FloatText format_float(double x, float_text::FloatKind kind);

// x op y for the operation codes 0-4 (integer.h); any other code raises
// script error `cannot-use`.
double do_math_op(double x, double y, int32_t op);

// The action core of add ... remainder with a first argument of integer!,
// float!, percent! or time!; the result is left at the argument base with
// the type of the mix (time! over percent! over float!).
Cell* do_math(int32_t op);

// compare with the first value given as a double of type `type` (integer!
// compare converts its value and asks here).
int32_t compare_number(double x, uint32_t type, const Cell* other, int32_t op);

// The refinements of round.
struct RoundFlags {
    bool even = false, down = false, half_down = false, floor = false, ceiling = false, half_ceiling = false;
};
// x rounded to a multiple of the positive scale s (which must not lie below
// x's precision). A result that overflows raises math error `overflow`.
double round_to_scale(double x, double s, RoundFlags flags);
// float!'s round of the value in `n` (float!, percent!, time!), left in `n`.
// An integer! /to scale makes the result an integer! when
// `integer_scale_gives_integer` is set (time! round keeps its double).
Cell* round_value(Cell* n, const Cell* scale, RoundFlags flags, bool integer_scale_gives_integer);

// ---- Actions -------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint32_t type);  // also to
Cell* random(Cell* value, bool seed, bool secure, bool only);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);
Cell* absolute();
Cell* add();
Cell* divide();
Cell* multiply();
Cell* negate(Cell* value);
Cell* power();
Cell* remainder();
// n may be float!, percent!, time! or (from integer!'s round) a float! made
// from an integer. A time! n answers a time! (time.cpp wraps this).
Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);
Cell* subtract();
bool even_q(Cell* value);
bool odd_q(Cell* value);

void init();

}  // namespace vyr::float_t
