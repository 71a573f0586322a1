// The errors the text datatypes raise (string!, char!, file!, url!, bitset!
// and the string-buffer layer), named by their positions in the error
// catalog, plus short raising helpers that build the argument cells.
//
// An id is the 0-based position of the error's word in its category's
// context: 0 is `code`, 1 is `type`, the first error is 2.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/errors.h"

namespace vyr::text_errors {

// script
inline constexpr int invalid_arg = 11;
inline constexpr int invalid_type = 12;
inline constexpr int invalid_part = 19;
inline constexpr int bad_refines = 27;
inline constexpr int invalid_path = 33;
inline constexpr int bad_path_set = 38;
inline constexpr int past_end = 41;
inline constexpr int missing_arg = 42;
inline constexpr int out_of_range = 43;
inline constexpr int invalid_refine_arg = 47;
inline constexpr int bad_make_arg = 55;
inline constexpr int bad_to_arg = 56;
inline constexpr int invalid_char = 62;
// math
inline constexpr int zero_divide = 2;
inline constexpr int overflow = 3;
// access
inline constexpr int invalid_utf8 = 4;
inline constexpr int no_connect = 6;
// internal
inline constexpr int no_memory = 4;
inline constexpr int not_done = 11;

// A datatype! value for a type id (payload word 1 holds the id).
inline Cell datatype_cell(uint32_t type) { return Cell{type_datatype, type, 0, 0}; }
inline Cell integer_cell(int32_t n) { return Cell{type_integer, 0, uint32_t(n), 0}; }

[[noreturn]] inline void raise_not_done() { raise_error(err_cat::internal, not_done); }
[[noreturn]] inline void raise_no_memory() { raise_error(err_cat::internal, no_memory); }
[[noreturn]] inline void raise_out_of_range(const Cell& value) { raise_error(err_cat::script, out_of_range, &value); }
[[noreturn]] inline void raise_invalid_arg(const Cell& value) { raise_error(err_cat::script, invalid_arg, &value); }
[[noreturn]] inline void raise_bad_refines() { raise_error(err_cat::script, bad_refines); }
// `bad-to-arg` / `bad-make-arg`: the datatype that was asked for, then the spec.
[[noreturn]] inline void raise_bad_to_arg(uint32_t type, const Cell& spec) {
    Cell dt = datatype_cell(type);
    raise_error(err_cat::script, bad_to_arg, &dt, &spec);
}
[[noreturn]] inline void raise_bad_make_arg(uint32_t type, const Cell& spec) {
    Cell dt = datatype_cell(type);
    raise_error(err_cat::script, bad_make_arg, &dt, &spec);
}
// `invalid-type` names the datatype of the offending value.
[[noreturn]] inline void raise_invalid_type(const Cell& value) {
    Cell dt = datatype_cell(type_of(value));
    raise_error(err_cat::script, invalid_type, &dt);
}

}  // namespace vyr::text_errors
