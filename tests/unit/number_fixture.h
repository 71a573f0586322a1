// Helpers of the number tests: value cells, calls of the arithmetic actions
// through an argument frame, and the errors they raise by name.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/registry.h"
#include "datatypes/string_buffer.h"
#include "runtime/stack.h"
#include "runtime/error_catalog.h"
#include "datatypes/errors.h"
#include "runtime/errors.h"
#include "tests/unit/fixture.h"

namespace vyr::test {

inline Cell int_cell(int32_t v, uint32_t type = type_integer) { return Cell{type, 0, uint32_t(v), 0}; }
inline Cell char_cell(int32_t cp) { return int_cell(cp, type_char); }
inline Cell float_cell(double d, uint32_t type = type_float) {
    Cell c{type, 0, 0, 0};
    set_cell_float(c, d);
    return c;
}
inline Cell percent_cell(double d) { return float_cell(d, type_percent); }
inline Cell time_cell(double seconds) { return float_cell(seconds, type_time); }
inline Cell typed_cell(uint32_t type) { return Cell{type, 0, 0, 0}; }

// Calls an action that reads its operands at the argument base (and the next
// cell) and answers the cell left there.
inline Cell call_direct(Cell* (*fn)(), const Cell& a, const Cell& b) {
    Cell* base = stack::push_copy(a);
    stack::push_copy(b);
    stack::set_arg_base(base);
    Cell result = *fn();
    stack::stack_reset();
    return result;
}
inline Cell call_unary(Cell* (*fn)(), const Cell& a) {
    Cell* base = stack::push_copy(a);
    stack::set_arg_base(base);
    Cell result = *fn();
    stack::stack_reset();
    return result;
}

// Forms (or molds) the value through its type's action into a new mold
// buffer and answers the text; `budget_left` receives the budget the action
// answered when it started from 1000.
inline std::string formed(const Cell& value, bool mold = false, int32_t* budget_left = nullptr) {
    Cell v = value, buffer{};
    string_t::make_at(buffer, 16);
    int32_t left;
    if (mold)
        left = registry::action<registry::action_sig::mold>(type_of(v), registry::slot_mold)(&v, &buffer, false, false,
                                                                                          false, nullptr, 1000, 0);
    else
        left = registry::action<registry::action_sig::form>(type_of(v), registry::slot_form)(&v, &buffer, nullptr, 1000);
    if (budget_left) *budget_left = left;
    std::string text;
    for (uint32_t i = 0; i < string_t::buffer_length(buffer); ++i) text += char(string_t::char_at(buffer, i));
    return text;
}
inline std::string molded(const Cell& value) { return formed(value, true); }

// An error of the catalog by category and id.
struct ErrorId {
    int category;
    int id;
};

namespace report {
inline constexpr ErrorId zero_divide{err_cat::math, err_id::math::zero_divide};
inline constexpr ErrorId overflow{err_cat::math, err_id::math::overflow};
inline constexpr ErrorId expect_arg{err_cat::script, err_id::script::expect_arg};
inline constexpr ErrorId cannot_use{err_cat::script, err_id::script::cannot_use};
inline constexpr ErrorId invalid_arg{err_cat::script, err_id::script::invalid_arg};
inline constexpr ErrorId invalid_type{err_cat::script, err_id::script::invalid_type};
inline constexpr ErrorId not_related{err_cat::script, err_id::script::not_related};
inline constexpr ErrorId invalid_path{err_cat::script, err_id::script::invalid_path};
inline constexpr ErrorId out_of_range{err_cat::script, err_id::script::out_of_range};
inline constexpr ErrorId type_limit{err_cat::script, err_id::script::type_limit};
inline constexpr ErrorId bad_to_arg{err_cat::script, err_id::script::bad_to_arg};
inline constexpr ErrorId invalid_data{err_cat::script, err_id::script::invalid_data};
inline constexpr ErrorId not_done{err_cat::internal, err_id::internal::not_done};
}  // namespace report

// Argument n (1..3) of the last error raised.
inline const Cell& error_arg(int n) { return errors::last_error().args[n - 1]; }
// Whether the cell is the datatype! naming `type`.
inline bool names_type(const Cell& c, uint32_t type) { return type_of(c) == type_datatype && c.w1 == type; }

}  // namespace vyr::test

// Expects `statement` to raise the error named by an ErrorId.
#define EXPECT_ERROR(statement, error) EXPECT_RAISES(statement, (error).category, (error).id)

namespace vyr::test {
// A string! value holding UTF-8 text (on the argument stack, so it stays rooted).
inline Cell text_cell(const char* utf8) { return *string_t::push_text(utf8, uint32_t(std::strlen(utf8)), 0); }
}  // namespace vyr::test
