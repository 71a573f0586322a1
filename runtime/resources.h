// Host objects that values stand for, and values parked by number.
//
// External-resource registry: a host object (an image's bitmap and platform
// interfaces) gets a slot, a 0-based index that stays stable while the table
// grows. A value holding the object marks the slot while the collector
// marks; after marking every unmarked slot is released once through the
// release callback of its resource kind and freed. Slots live in two lists
// threaded through the table, used (newest first) and free; the table
// doubles before it would hand out its last free entry.
//
// External-reference table: a block whose cells park values by 1-based
// number; the collector marks it as a root. Free cells are integer! cells
// chained through payload word 2.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::resources {

// Bits of an entry's flags word.
namespace res_flag {
inline constexpr uint32_t kind_mask = 0xFF;     // resource kind, 0 = none
inline constexpr uint32_t free = 0x40000000;    // entry on the free list
inline constexpr uint32_t mark = 0x80000000;    // collector mark
}  // namespace res_flag

inline constexpr uint32_t max_kinds = 20;
inline constexpr uint32_t initial_entries = 1000;
inline constexpr uint32_t extref_initial_cells = 100;

using ReleaseFn = void (*)(void* object);

// Makes the kind table and the resource table (all entries free).
void resource_tables_init();
// A new kind; answers its number (from 1), or 0 when the 20 rows are taken.
uint32_t register_resource_kind(const char* name, ReleaseFn release);
// Puts the object in a slot with the given flags-and-kind word; answers the slot.
int32_t add_external_resource(void* object, uint32_t flags);
// Frees the slot, first releasing the object when `release` is set; answers
// -1. A slot that is not in use is left alone.
int32_t remove_external_resource(int32_t slot, bool release);
// Marks the slot (a nonzero object replaces the stored one); answers whether
// it was unmarked before. False for a slot not in use.
bool mark_external_resource(int32_t slot, void* object);
// Stores a new object, releasing the old one when it differs.
void replace_external_object(int32_t slot, void* object);
// Calls the release callback of the kind in `flags`, if it has one.
void release_external_object(uint32_t flags, void* object);
// Calls fn with the object of every used entry of that kind.
void for_each_external_resource(uint32_t kind, void (*fn)(void* object));
// The collector's sweep: releases and frees every unmarked used entry and
// clears the marks of the others.
void sweep_external_resources();
// The object in a used slot, or null.
void* external_object(int32_t slot);
uint32_t external_entry_count();  // entries of the table, used or free

// Makes the external-reference block (100 cells, all free).
void extref_init();
// Copies the value into a free cell (the block doubles when none is free);
// answers its 1-based number.
uint32_t extref_add(const Cell& value);
// The cell with that number, or null when out of range. Moves with the block.
Cell* extref_get(uint32_t index);
// Frees the cell; 0 and numbers out of range are ignored.
void extref_remove(uint32_t index);
// The node of the block (for the collector).
NodeId* extref_root();

}  // namespace vyr::resources
