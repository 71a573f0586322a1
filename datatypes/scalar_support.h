// What the scalar types that live wholly in their cell (pair!, tuple!,
// point2D!, point3D!, time!, date!) share for path access and pick: naming
// a field by a word, the cell a path read answers, and storing a value that
// a set-path changed back where it came from.
//
// A set-path such as `size/x: 10`, `obj/size/x: 10` or `blk/2/x: 10`
// changes the scalar held in some cell (a word's value, an object field, a
// block cell). The evaluator walks the path on copies: the type's path
// access changes only the copy, and the evaluator then stores the copy
// back through its holder (one rule for every such type).
#pragma once

#include <cstdint>
#include <initializer_list>

#include "runtime/cell.h"

namespace vyr::scalar_support {

// The types whose values name a field by their symbol (`p/x`, `pick p 'x`).
bool any_word_q(uint32_t type);

// The 1-based position of the element's symbol among the field symbols
// (letter case ignored), or 0 when it is not a word or names none of them.
int32_t word_field(const Cell& element, std::initializer_list<int32_t> fields);

// The cell a path read answers when the value has no cell of its own to
// give (a component of a pair or a point): valid until the next path read,
// the caller copies it at once.
Cell* path_answer(const Cell& value);

// The types whose values live wholly in their cell and whose fields a
// set-path changes (`t/minute: 45`, `d/month: 3`, `p/x: 10`): the evaluator
// walks paths on copies, so a set through one of them must be stored back.
bool held_in_cell_q(uint32_t type);

// Stores `value`, a copy changed by a set-path, back where it was read: into
// the word `key` when there is no holder, else into the holder (an object,
// a series, or a value held in its cell such as a date taking a time) at
// the element `key`. An object runs its on-change* handler; a series cell
// is overwritten and its owner told with `set-path`.
void store_back(Cell* holder, const Cell& key, const Cell& value);

}  // namespace vyr::scalar_support
