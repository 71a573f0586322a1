// hash!: a block whose cells are indexed by a hash table, so that find and
// select look cells up instead of scanning.
//
// Cell: w1 the index, w2 the node of the cell series (as for block!), w3 the
// node of a block-kind hash table (runtime/hash.h) that indexes every cell
// of the series. hash! inherits block!'s actions, which keep the table in
// step with each change of the cells; its own actions make, convert, mold
// and copy it, and re-index the table after sort and trim.
//
// Invariant: a table belongs to one series; a copy never shares it.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::hash_t {

// The cell becomes a hash! over the block value's series (its type and
// index kept apart, it is indexed from its head), with a new table.
Cell* make_at(Cell* cell, const Cell& block);

// ---- Actions --------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse, bool stable);
Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);

void init();

}  // namespace vyr::hash_t
