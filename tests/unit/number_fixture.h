// Helpers of the number tests: value cells, calls of the arithmetic actions
// through an argument frame, and the errors they raise by name.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "datatypes/registry.h"
#include "datatypes/string_buffer.h"
#include "engine/stack.h"
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
inline constexpr ErrorId zero_divide{4, 2};
inline constexpr ErrorId overflow{4, 3};
inline constexpr ErrorId expect_arg{3, 7};
inline constexpr ErrorId cannot_use{3, 10};
inline constexpr ErrorId invalid_arg{3, 11};
inline constexpr ErrorId invalid_type{3, 12};
inline constexpr ErrorId not_related{3, 22};
inline constexpr ErrorId invalid_path{3, 33};
inline constexpr ErrorId out_of_range{3, 43};
inline constexpr ErrorId type_limit{3, 48};
inline constexpr ErrorId bad_to_arg{3, 56};
inline constexpr ErrorId not_done{9, 11};
}  // namespace report

}  // namespace vyr::test

// Expects `statement` to raise the error named by an ErrorId.
#define EXPECT_ERROR(statement, error) EXPECT_RAISES(statement, (error).category, (error).id)
