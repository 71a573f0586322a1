// The math natives: the sign and zero predicates, NaN?, complement?, shift,
// the trigonometric functions, the logarithms, exp and square-root.
//
// They work in place on the result cell (the first argument's cell) and
// change its type. float!, percent! and time! hold a double in payload words
// 2-3, so the predicates read all three alike; a percent! becomes a float! by
// relabelling its cell. The host's math library gives infinities and NaNs
// where a function leaves its domain: no domain error is raised.
#include <algorithm>
#include <cmath>
#include <limits>

#include "datatypes/bitset.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include "datatypes/tuple.h"
#include "engine/natives.h"
#include "engine/natives_support.h"
#include "runtime/stack.h"
#include "datatypes/checks.h"
#include "runtime/errors.h"
#include "runtime/platform.h"

namespace vyr::natives {

namespace {

inline constexpr double machine_epsilon = 2.220446049250313e-16;
inline constexpr double pi = 3.141592653589793;
inline constexpr double half_turn_degrees = 180.0;
inline constexpr double ln_2 = 0.6931471805599453;
inline constexpr double euler_e = 2.718281828459045;

// The folding modes of platform::angle_to_radians.
enum AngleMode : int { angle_tangent = 0, angle_cosine = 1, angle_sine = 2 };

bool float_layout_q(uint32_t type) { return type == type_float || type == type_percent || type == type_time; }

// Makes an integer! or percent! cell a float! of the same value and answers
// the double.
double to_float_in_place(Cell* c) {
    if (type_of(*c) == type_integer) float_t::make_at(c, double(integer_t::get(*c)));
    else set_type(*c, type_float);
    return float_t::get(*c);
}

// The sign of a number argument: -1, 0 or 1 (NaN counts as 0); other types
// are refused naming the argument.
int32_t number_sign(const Cell& n) {
    uint32_t type = type_of(n);
    if (type == type_integer) return integer_t::sign(integer_t::get(n));
    if (float_layout_q(type)) {
        double d = float_t::get(n);
        return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
    }
    if (type == type_money) return money_t::sign_of(n);
    checks::raise_expect_arg(0, n);
}

// The trigonometric natives: the argument in radians, from degrees unless
// /radians was used (folded into range by the function's kind first).
double angle_arg(const int32_t* refs, AngleMode mode) {
    double x = to_float_in_place(stack::arg_base());
    return refs[0] >= 0 ? x : platform::angle_to_radians(x, mode);
}
// An inverse function's answer in degrees unless /radians was used.
Status angle_result(const int32_t* refs, double radians) {
    return answer_float(refs[0] >= 0 ? radians : radians * half_turn_degrees / pi);
}
// A sine or cosine whose magnitude lies below the machine epsilon is 0.0, so
// that `sine 180` is exactly zero.
Status cut_result(double v) { return answer_float(std::fabs(v) < machine_epsilon ? 0.0 : v); }

Status unary_float(double (*fn)(double)) { return answer_float(fn(to_float_in_place(stack::arg_base()))); }

}  // namespace

// ---- Predicates ---------------------------------------------------------------------

Status negative_q(bool, const int32_t*) { return answer_logic(number_sign(*stack::arg_base()) < 0); }
Status positive_q(bool, const int32_t*) { return answer_logic(number_sign(*stack::arg_base()) > 0); }
Status sign_q(bool, const int32_t*) { return answer_integer(number_sign(*stack::arg_base())); }

// zero?: a value of a type without a zero is never zero.
Status zero_q(bool, const int32_t*) {
    const Cell& v = *stack::arg_base();
    uint32_t type = type_of(v);
    if (type == type_integer || type == type_char) return answer_logic(v.w2 == 0);
    if (float_layout_q(type)) return answer_logic(float_t::get(v) == 0.0);
    switch (type) {
        case type_pair: return answer_logic(v.w2 == 0 && v.w3 == 0);
        case type_tuple: return answer_logic(tuple_t::zero_q(v));
        case type_money: return answer_logic(money_t::zero_q(v));
        case type_point2d: return answer_logic(point2d_t::x_of(v) == 0.0f && point2d_t::y_of(v) == 0.0f);
        case type_point3d:
            return answer_logic(point3d_t::x_of(v) == 0.0f && point3d_t::y_of(v) == 0.0f && point3d_t::z_of(v) == 0.0f);
        default: return answer_logic(false);
    }
}

Status nan_q(bool, const int32_t*) {
    const Cell& v = *stack::arg_base();
    uint32_t type = type_of(v);
    return answer_logic((type == type_float || type == type_percent) && std::isnan(float_t::get(v)));
}

Status complement_q(bool, const int32_t*) {
    const Cell& v = *stack::arg_base();
    if (type_of(v) != type_bitset) checks::raise_expect_arg(0, v);
    return answer_logic(bitset_t::complemented_q(v));
}

// ---- shift --------------------------------------------------------------------------

// shift data bits /left /logical: a count below 0 counts as 0; shifting 32
// places or more empties the word (an arithmetic right shift keeps the sign).
// /left wins over /logical.
Status shift(bool, const int32_t* refs) {
    Cell* args = stack::arg_base();
    int32_t data = integer_t::get(args[0]);
    int32_t bits = std::max(integer_t::get(args[1]), 0);
    bool wide = bits > 31;
    int32_t r;
    if (refs[0] >= 0) r = wide ? 0 : int32_t(uint32_t(data) << bits);
    else if (refs[1] >= 0) r = wide ? 0 : int32_t(uint32_t(data) >> bits);
    else r = wide ? (data < 0 ? -1 : 0) : data >> bits;
    return answer_integer(r);
}

// ---- Trigonometry ---------------------------------------------------------------------

Status sine(bool, const int32_t* refs) { return cut_result(std::sin(angle_arg(refs, angle_sine))); }
Status cosine(bool, const int32_t* refs) { return cut_result(std::cos(angle_arg(refs, angle_cosine))); }

// An angle of exactly a quarter turn has an infinite tangent, which the host
// function misses by the rounding of pi / 2.
Status tangent(bool, const int32_t* refs) {
    double x = angle_arg(refs, angle_tangent);
    if (x == pi / 2) return answer_float(std::numeric_limits<double>::infinity());
    if (x == -pi / 2) return answer_float(-std::numeric_limits<double>::infinity());
    return answer_float(std::tan(x));
}

Status arcsine(bool, const int32_t* refs) { return angle_result(refs, std::asin(to_float_in_place(stack::arg_base()))); }
Status arccosine(bool, const int32_t* refs) {
    return angle_result(refs, std::acos(to_float_in_place(stack::arg_base())));
}
Status arctangent(bool, const int32_t* refs) {
    return angle_result(refs, std::atan(to_float_in_place(stack::arg_base())));
}

// arctangent2 y x: the angle of the point (x, y), written into x's cell and
// handed on as the result.
Status arctangent2(bool, const int32_t* refs) {
    Cell* args = stack::arg_base();
    double y = to_float_in_place(args);
    double x = to_float_in_place(args + 1);
    float_t::make_at(args + 1, std::atan2(y, x));
    return angle_result(refs, float_t::get(args[1]));
}

// ---- Logarithms and powers --------------------------------------------------------------

Status log_2(bool, const int32_t*) { return answer_float(std::log(to_float_in_place(stack::arg_base())) / ln_2); }
Status log_10(bool, const int32_t*) { return unary_float([](double x) { return std::log10(x); }); }
Status log_e(bool, const int32_t*) { return unary_float([](double x) { return std::log(x); }); }
Status exp(bool, const int32_t*) { return unary_float([](double x) { return std::pow(euler_e, x); }); }
Status square_root(bool, const int32_t*) { return unary_float([](double x) { return std::sqrt(x); }); }

}  // namespace vyr::natives
