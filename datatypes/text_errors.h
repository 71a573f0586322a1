// Short raising helpers of the text datatypes (string!, char!, file!, url!,
// bitset! and the string-buffer layer): each builds the argument cells of
// one error of the catalog.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/errors.h"

namespace vyr::text_errors {

// A datatype! value for a type id (payload word 1 holds the id).
inline Cell datatype_cell(uint32_t type) { return Cell{type_datatype, type, 0, 0}; }
inline Cell integer_cell(int32_t n) { return Cell{type_integer, 0, uint32_t(n), 0}; }

[[noreturn]] inline void raise_not_done() { raise_error(err_cat::internal, err_id::internal::not_done); }
[[noreturn]] inline void raise_no_memory() { raise_error(err_cat::internal, err_id::internal::no_memory); }
[[noreturn]] inline void raise_out_of_range(const Cell& value) {
    raise_error(err_cat::script, err_id::script::out_of_range, &value);
}
[[noreturn]] inline void raise_invalid_arg(const Cell& value) {
    raise_error(err_cat::script, err_id::script::invalid_arg, &value);
}
[[noreturn]] inline void raise_bad_refines() { raise_error(err_cat::script, err_id::script::bad_refines); }
// `bad-to-arg` / `bad-make-arg`: the datatype asked for, then the value it
// was to be made from.
[[noreturn]] inline void raise_bad_to_arg(uint32_t type, const Cell& spec) {
    Cell dt = datatype_cell(type);
    raise_error(err_cat::script, err_id::script::bad_to_arg, &dt, &spec);
}
[[noreturn]] inline void raise_bad_make_arg(uint32_t type, const Cell& spec) {
    Cell dt = datatype_cell(type);
    raise_error(err_cat::script, err_id::script::bad_make_arg, &dt, &spec);
}
// `invalid-type` names the datatype of the offending value.
[[noreturn]] inline void raise_invalid_type(const Cell& value) {
    Cell dt = datatype_cell(type_of(value));
    raise_error(err_cat::script, err_id::script::invalid_type, &dt);
}

}  // namespace vyr::text_errors
