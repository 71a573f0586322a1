// The owners table and change notification.
//
// An object with an on-deep-change* handler owns the series its fields reach:
// each such series is flagged owned (bit 17 of its buffer flags; an image!
// cell carries bit 16 of its header) and recorded here with its owner object
// and the field word that leads to it. Series actions call `notify_owner`
// around each change; for an owned series whose owner has an event record,
// that runs the owner's on-deep-change* handler.
//
// The table is a kind-4 hash table keyed by node (the series node; the
// bitmap node of an image!; the context node of an object!), three value
// cells per entry: the owned value, the owner (an object! cell), the field
// word.
//
// Entries are strong: the collector marks every live entry (its key series,
// the owned value, the owner and the word), so an owned series and its owner
// live as long as the entry, that is until `clear_owned`. The purge after
// marking is still installed and drops an entry whose key or owner was not
// reached, which with strong marking cannot happen; it keeps the table sound
// should marking of the table ever become weak.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::owners {

inline constexpr int32_t owners_table_size = 1000;
inline constexpr int32_t entry_values = 3;  // owned value, owner, field word

extern NodeId owners_table;

// Creates the table and installs the collector's purge (start-up).
void owners_table_init();

// Makes the value and everything it holds owned by the owner through the
// word, then sets the owner flag on the owner's context cell. Values of
// types that cannot be owned are left alone. An image! cell is flagged in
// place.
void set_owned(Cell& value, const Cell& owner, const Cell& word);
// Removes ownership from the value and everything it holds.
void clear_owned(Cell& value);
// clear_owned on `count` cells of the block from `index`.
void clear_owned_range(NodeId block, uint32_t index, uint32_t count);
// The owner cell of a node's entry (the field word cell follows it), or null.
Cell* find_owner(NodeId node);
// When the value is owned and its owner has an event record, runs the
// owner's on-deep-change* handler and answers true; else answers false.
bool notify_owner(const Cell& value, const Cell& action, const Cell* new_value, int32_t position, int32_t part);

// The call into the object's on-deep-change* handler (object! installs it):
// owner, field word, the changed value, the action word, the new value (none
// when there is none), the position and the part.
using DeepChangeHook = void (*)(Cell* owner, Cell* word, Cell* target, Cell* action, Cell* value, int32_t index,
                                int32_t part);
void set_fire_on_deep_change(DeepChangeHook fn);

}  // namespace vyr::owners
