// Pieces shared by the series!, block!, paren! and path modules only: the
// small value cells they answer, the errors they raise, the calls they make
// through the action table, the mold-buffer writers, the hash! table
// upkeep and the guard of the cycle-detection stack. Not an interface for
// other modules.
#pragma once

#include <cstdint>

#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/unset.h"
#include "runtime/cell.h"
#include "runtime/errors.h"
#include "runtime/series.h"

namespace vyr::series_t {

// The small values the series actions answer.
namespace cells {
inline Cell none() { return none_t::value; }
inline Cell unset() { return unset_t::value; }
inline Cell logic(bool b) { return logic_t::value_of(b); }
inline Cell datatype(uint32_t type) { return datatype_t::value_of(type); }
inline Cell integer(int32_t n) {
    Cell c{};
    integer_t::make_at(&c, n);
    return c;
}
inline int32_t integer_of(const Cell& c) { return integer_t::get(c); }
// char! keeps its code point in payload word 2.
inline Cell character(uint32_t cp) { return Cell{type_char, 0, cp, 0}; }
}  // namespace cells

// The refinement words that errors name.
enum class Refinement : uint32_t { part, skip, compare };
// The word of a refinement, for an error argument.
Cell refinement_word(Refinement r);

[[noreturn]] void raise_not_done();
[[noreturn]] void raise_out_of_range(const Cell& value);
[[noreturn]] void raise_invalid_arg(const Cell& value);
[[noreturn]] void raise_invalid_refine_arg(Refinement r, const Cell& value);
[[noreturn]] void raise_bad_refines();

// ---- Going through the action table -------------------------------------------

// `compare-cells`: logic!, native!, action!, op!, function! and routine! by
// their payload, every other type through its compare slot (-2, not
// comparable, when the type has none).
int32_t compare_cells(Cell a, Cell b, int32_t op);
// The mold and form slots of the value's type.
int32_t mold_value(Cell value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget,
                   int32_t indent);
int32_t form_value(Cell value, Cell* buffer, Cell* part, int32_t budget);
// Copies the series (or bitset!, object!...) in `cell` in place through its
// type's copy slot; types without one are left as they are.
void copy_in_place(Cell& cell, bool deep, Cell* types);

// ---- The mold buffer --------------------------------------------------------------

// Appends ASCII text to the mold buffer (a string! value); answers the
// budget less its length.
int32_t emit(Cell* buffer, const char* text, int32_t budget);
// Appends `level` indentations of four spaces; answers the budget less 4
// per level.
int32_t emit_indent(Cell* buffer, int32_t level, int32_t budget);
// The last code point of the mold buffer, or -1 when it is empty.
int32_t last_char(const Cell& buffer);

// ---- hash! tables -------------------------------------------------------------------
// A hash! keeps a table of its cells (a block-kind hash table, its node in
// payload word 3) in step with every change of the cells. These follow a
// change already made to the cells; each does nothing for other series.

// After n cells were inserted at `at` into a series that had old_len cells.
void hash_inserted(const Cell& series, uint32_t at, uint32_t n, uint32_t old_len);
// After n cells at `at` were removed from a series that had old_len cells.
void hash_removed(const Cell& series, uint32_t at, uint32_t n, uint32_t old_len);
// Before a cell is overwritten, and after.
void hash_unindex(const Cell& series, uint32_t at);
// Indexes cell `at` again; answers true when the table had to be rebuilt,
// which indexed every cell (a caller indexing a run stops there).
bool hash_index(const Cell& series, uint32_t at);
// After any other change: the table indexes the whole block again.
void hash_rebuild(const Cell& series);

}  // namespace vyr::series_t
