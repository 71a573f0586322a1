// map!: the dictionary, key/value pairs in one block indexed by a hash table.
//
// Cell: w1 the index (only foreach moves it; the map's own actions ignore
// it), w2 the node of the backing block, w3 the node of a map-kind hash
// table (runtime/hash.h) over that block.
//
// The backing block alternates keys and values, keys at even offsets. A
// removed pair stays where it is with its value cell's header set to 0;
// every action skips such pairs, and setting the key again revives the pair
// in place. The table's count is the number of live pairs.
//
// Keys are stored normalised: text and binary keys are copies (so changing
// the caller's string does not change the key), and word!, lit-word! and
// get-word! keys are stored as set-word!, so a, 'a, :a and a: are one key.
// Lookups are case-insensitive unless /case (or strict, for remove/key).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::map_t {

// The removed mark of a pair: its value cell's header.
inline constexpr uint32_t removed_header = 0;

// The cell becomes a map! over the block (its pairs from its index; later
// duplicates of a key replace the earlier value), or over a new empty block
// with room for `size` cells when `block` is null. Answers the cell.
Cell* make_at(Cell* cell, const Cell* block, int32_t size);
// The number of live pairs.
uint32_t count(const Cell& map);
// Whether values of the type may be keys.
bool key_type_q(uint32_t type);
// Turns a key into its stored form in place; a type that may not be a key
// raises script `invalid-path` naming the context value and the key's type.
void normalize_key(Cell* key, const Cell& context);
// Adds the block's key/value pairs (an odd count raises `invalid-arg`).
void add_pairs(Cell* map, const Cell& block, bool case_);
// Sets the loop words to the next cells from the map's index (set-word keys
// given as word!), skipping removed pairs; words past the end get none.
// Answers whether a word was set from the map.
bool foreach_step(const Cell& words, Cell* map, int32_t word_count);
Cell* push(const Cell& map);

// ---- Actions ------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* reflect(Cell* value, Cell* field);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* previous,
                  int32_t index, bool case_, bool get, bool tail, bool event);
int32_t compare(Cell* a, Cell* b, int32_t op);
Cell* clear(Cell* map);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with, Cell* skip,
           bool last, bool reverse, bool tail, bool match);
int32_t length_q(Cell* value);
Cell* put(Cell* series, Cell* key, Cell* value, bool case_);
Cell* remove(Cell* series, Cell* part, Cell* key);
// select of a key (/case and /same are the only refinements a map reads):
// the value under it, or none when absent or removed, over the map's cell.
Cell* select_key(Cell* map, const Cell& key, bool case_, bool same);
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
             Cell* skip, bool last, bool reverse);

void init();

}  // namespace vyr::map_t
