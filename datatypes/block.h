// block!: the series of value cells, the language's code and data. Also the
// base of paren!, the four path types and hash!, which inherit its actions.
//
// A block value is a series value (series.h) whose buffer has a unit width of
// 16: payload word 1 is the index in cells, word 2 the node. hash! adds its
// table's node in word 3.
//
// Invariants:
//  - an action never reads or writes cells outside head..tail, whatever its
//    index or count arguments say;
//  - a source that lies in the buffer being changed (append b b, change at
//    an overlapping position) is read as it was before the change;
//  - walks over nested blocks (mold, form, compare, copy /deep, clone) keep
//    the cycle-detection stack balanced, also when an error unwinds them,
//    and never loop on a block that contains itself;
//  - every sort owns its scratch: a sort run from inside a /compare
//    function never disturbs the sort that called it.
#pragma once

#include <cstdint>

#include "runtime/catch_codes.h"
#include "runtime/cell.h"

namespace vyr::block_t {

// ---- Helpers on block values ---------------------------------------------------

int32_t length_at(const Cell& b);                // cells from the index to the tail (0 past it)
bool advance(Cell& b);                           // index + 1 while it stays within the tail; true at the tail
Cell* cell_at_index(Cell& b);                    // the cell at the index (an index past the tail is set to it)
Cell* tail_cell(const Cell& b);                  // one past the last cell
bool at_tail_q(const Cell& b);                   // the index is exactly at the tail
Cell* cell_at(const Cell& b, uint32_t i);        // cell i from the head
void truncate(const Cell& b);                    // tail = head + index
void set_tail(const Cell& b, uint32_t n);        // tail = head + n cells
void drop_last(Cell& b);                         // removes the last cell; pulls the index back to the tail
Cell* append_value(const Cell& b, const Cell& v);   // appends a copy; answers it (the buffer may move)
void append_values(const Cell& b, const Cell& src);  // appends copies of src's cells from its index
// The cell after the first cell equal to v (code 12), or none when there is
// none or the match is the last cell.
Cell select_value(const Cell& b, const Cell& v);
// Removes the first cell equal to v (code 12), searching from the head or
// from the index; answers true when the removed cell lay before the index.
bool remove_value(const Cell& b, const Cell& v, bool from_head);
// Pushes a new block of b's type holding copies of b's cells from its index
// (room for at least 1 cell). With `deep` every nested block! is cloned the
// same way, with `paths` also paren! and the path types. A block that
// contains itself raises internal `no-cycle`.
Cell* clone(const Cell& b, bool deep, bool paths);
// Replaces each series, bitset!, object!, error! or map! cell from `first`
// to `end` (every `step` cells) whose type is in `types` (a typeset! or a
// datatype!) by its copy; /deep and, when deep, the types are passed on.
void copy_nested(Cell* first, Cell* end, uint32_t step, bool deep, const Cell& types);
// Inserts a copy of v at the index (at the head with `at_head`); with
// `advance` the index moves past it. A full buffer grows to twice the
// needed size.
void insert_value(Cell& b, const Cell& v, bool advance, bool at_head);
// Inserts each cell of src from its index, advancing.
void insert_values(Cell& b, const Cell& src);
// Stack forms: the block is the cell below the argument base and the value
// the argument base (insert_last, append_last), or the block is the first
// argument and the value the second (append_arg).
void insert_last();
void append_arg();
void append_last();
// The cell after the first word-type cell (word!, set-word!, lit-word!,
// get-word!) with the word's symbol, or none when there is none or it is the
// last cell.
Cell find_word(const Cell& b, const Cell& word, bool strict);

// ---- Making blocks ---------------------------------------------------------------

// The cell becomes an empty block! with room for n cells (n below 1 gives 1).
Cell* make_at(Cell& cell, int32_t n);
// An empty block of n cells (n below 1 gives 1): with `fixed` a buffer
// outside the collected frames, else one whose cells are preset to unset!.
Cell* make_sized_at(Cell& cell, int32_t n, bool fixed);
// A new fixed-size block of n cells in a new cell appended to the parent
// block, or with no parent in the module's static cell. Start-up only.
Cell* make_fixed_in(Cell* parent, uint32_t n);
// A new empty block with room for n cells appended to the parent (a
// block-family value), or with no parent in the module's static cell.
Cell* make_in(Cell* parent, uint32_t n);
Cell* push(const Cell& b);  // pushes a copy of the value
Cell* push_new(int32_t n);  // pushes a new empty block (room for n cells, at least 1)

// ---- Mold -------------------------------------------------------------------------

// The item rules of every block-family mold: spaces, new-line flags,
// indentation, the part budget. Answers the budget left.
int32_t mold_items(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget,
                   int32_t indent);

// ---- Calling user functions ---------------------------------------------------------
// Runs a compare function (sort/compare of any series) through the
// evaluator's hook and reads its answer as sort::read_compare_answer does; a
// catch code other than normal is thrown on.
int32_t call_compare_function(const Cell& function, Cell* args, uint32_t count);

// ---- Sorting and set operations --------------------------------------------------

// Flags word of the sort comparators: bit 0 reverse, bit 1 whole records,
// bits 2 and up the field offset (or the record width with whole records).
namespace sort_flag {
inline constexpr uintptr_t reverse = 1;
inline constexpr uintptr_t all = 2;
inline constexpr uint32_t field_shift = 2;
}  // namespace sort_flag
// Records compared by the compare slot with the operator code in context1.
int32_t sort_compare(const void* a, const void* b, uintptr_t op, uintptr_t flags);
// Records compared by a user function; context1 points at the sort's own
// state (the function and its scratch record blocks).
int32_t sort_compare_func(const void* a, const void* b, uintptr_t state, uintptr_t flags);

// Set operation codes handed over by the set-operation natives.
enum SetOp : int32_t { set_unique = 8, set_union = 9, set_intersect = 10, set_exclude = 11, set_difference = 12 };
// The block side of unique, union, intersect, exclude and difference: the
// series are the first (and for the binary operations the second) argument
// cells from `first`; the result replaces the first.
Cell* set_operation(Cell* first, bool case_, Cell* skip, int32_t op);

// ---- Actions (argument orders as the action table gives them) ------------------------

Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* previous,
                  int32_t index, bool case_, bool get, bool tail, bool event);
int32_t compare(Cell* a, Cell* b, int32_t op);
Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);  // append too
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with, Cell* skip,
           bool last, bool reverse, bool tail, bool match);
Cell* put(Cell* series, Cell* key, Cell* value, bool case_);
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
             Cell* skip, bool last, bool reverse);
Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse, bool stable);
Cell* swap(Cell* a, Cell* b);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);

void init();

}  // namespace vyr::block_t
