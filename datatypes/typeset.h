// typeset!: a set of datatypes held inside the value cell itself.
//
// The three payload words form a 96-bit map in cell byte order: type id t is
// a member when payload byte t >> 3 (counted from the first payload byte)
// has bit 0x80 >> (t & 7). Bit 0 and the bits above the highest registered
// type id name no type: they are kept (complement sets them) but never
// listed or counted. A typeset is a plain value; copying the cell copies
// the set.
//
// Typesets check the argument types of functions (the type block of an argument
// becomes a typeset), name pseudo-types such as number!, and take part in
// the logic actions and the set operations.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::typeset_t {

inline constexpr uint32_t map_bits = 96;

// ---- Members ---------------------------------------------------------------------

// The one membership test: argument checks, find and remove-each by type,
// and the type predicates all come here.
inline bool has(const Cell& typeset, uint32_t type) {
    if (type >= map_bits) return false;
    const uint32_t words[3] = {typeset.w1, typeset.w2, typeset.w3};
    // Payload byte type >> 3 is byte (type >> 3) & 3 of its little-endian word.
    uint32_t byte = words[type >> 5] >> (8 * ((type >> 3) & 3));
    return byte & (0x80u >> (type & 7));
}
void set(Cell& typeset, uint32_t type);
// All three payload words become 0.
void clear(Cell& typeset);
// The number of members from 1 to the highest registered type id.
int32_t count(const Cell& typeset);
// Adds a datatype's bit or ORs a typeset in; a word stands for its value.
// Anything else raises script `invalid-arg` with the value.
void add(Cell& typeset, const Cell& value);

// ---- Making ----------------------------------------------------------------------

inline Cell make_cell(uint32_t w1 = 0, uint32_t w2 = 0, uint32_t w3 = 0) { return Cell{type_typeset, w1, w2, w3}; }
Cell* push(const Cell& typeset);
// Appends a typeset! with the given map to the block value.
Cell* load_in(const Cell& block, uint32_t w1, uint32_t w2, uint32_t w3);
// Appends the typeset of an argument declared without types: every bit
// except unset!'s.
Cell* load_all_in(const Cell& block);
// Appends the typeset built from an argument's type block: words stand for their
// values; a datatype! sets its bit, a typeset! is ORed in, a word whose
// value is a word adds object!, a block is skipped; anything else raises
// script `invalid-type-spec`.
Cell* load_from_block(const Cell& block, const Cell& spec);
// Makes the cell a block of the members' type-name words, in id order.
Cell* to_block(const Cell& typeset, Cell& out);
// The text of mold: "make typeset! [integer! float!]" ("integer! float!"
// with only); answers the budget less the characters written.
int32_t mold_types(const Cell& typeset, Cell* buffer, bool only, bool part, int32_t budget);

// The logic and set-operation core, on the argument base (a typeset) and
// the cell after it (a typeset! or datatype!): codes 5/9 OR, 6/10 AND, 7/12
// XOR, 11 first AND NOT second, 8 (unique) answers the first. The result
// replaces the first argument.
Cell* do_bitwise(int32_t code);

// ---- Actions ---------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint32_t type);  // also `to`
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
int32_t compare(Cell* a, Cell* b, int32_t op);
Cell* and_t();
Cell* complement(Cell* value);
Cell* or_t();
Cell* xor_t();
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with, Cell* skip,
           bool last, bool reverse, bool tail, bool match);

void init();

}  // namespace vyr::typeset_t
