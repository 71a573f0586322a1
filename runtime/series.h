// Series primitives shared by every module: appending cells and bytes, the
// root block and its root cells, raw arrays, and the cycle-detection stack.
//
// A series value is a cell whose payload word 1 (w1) is its index in units
// from the buffer's head and whose payload word 2 (w2) is its node; w3 is
// free for the type. Objects, contexts and functions keep a context node in
// w1 instead.
//
// A raw array is a byte series whose unit width is set to its element width
// (1 for bytes, 4 for 32-bit words); indices are 1-based unless noted. It
// lives in a series buffer so that the collector can move it: hold its node,
// never its address.
//
// The cycle-detection stack holds the nodes of the series and contexts that
// a recursive walk (mold, form, compare, copy, bind, ownership) is inside,
// so that self-containing data does not loop. At most 999 entries.
//
// Growth never collects; see memory.h for what may move.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyr::series {

// ---- Cells -----------------------------------------------------------------

// A new cell at the tail of the block (header unset!, payload as it was);
// a full buffer doubles first, so the block may move. Answers its address.
Cell* alloc_tail_cell(NodeId block);
// n new cells at the tail, grown as n calls of alloc_tail_cell would grow it.
Cell* alloc_tail_cells(NodeId block, uint32_t n);
// alloc_tail_cell on the buffer of a block value (its node, w2).
Cell* append_cell(const Cell& block_value);
// Reserves n bytes at the tail and answers their address. When they do not
// fit, the buffer grows first: to 2 x n bytes when n exceeds the capacity,
// else to twice the capacity (so the series may move).
uint8_t* alloc_tail_bytes(NodeId node, uint32_t n);

// ---- The root block --------------------------------------------------------

// The root block: a fixed series of cells that the collector marks first.
extern NodeId root_block;
inline constexpr uint32_t root_block_cells = 8731;
// Makes the root block (start-up).
void make_root_block();
// Root cell i is the cell `base + i` of the root block; the boot decoder sets
// the base to the index of the first cell it appends.
void set_root_base(uint32_t first_cell_index);
Cell* get_root_cell(uint32_t i);
// Payload word 1 of root cell i (the context node of a root object or context).
NodeId get_root_node(uint32_t i);

// A new byte series holding `length` units from `offset` units after the
// head, with the source's flags less the owned bit. Answers its node.
NodeId copy_series_part(NodeId node, uint32_t offset, uint32_t length);

// ---- Raw arrays --------------------------------------------------------------

NodeId make_array(uint32_t count, uint32_t width);  // room for count elements, empty
uint32_t array_length(NodeId a);                     // elements
uint8_t* array_head(NodeId a);                       // address of the first element (may move)
void array_clear(NodeId a);
void array_truncate(NodeId a, uint32_t n);           // keeps the first n - 1 elements
NodeId array_copy(NodeId a);
void array_append_byte(NodeId a, uint8_t byte);
// Appends `length` bytes read from `source` (which may lie in the array
// itself); answers their address in the array.
uint8_t* array_append_bytes(NodeId a, const void* source, uint32_t length);
void array_append_int(NodeId a, int32_t value);
// Inserts before the 0-based element `index` (at the end when past it).
void array_insert_int(NodeId a, int32_t value, uint32_t index);
// Byte offset of the first 32-bit element equal to value, or -1.
int32_t array_find_int(NodeId a, int32_t value);
// Element i (1-based); pick and poke do not check i.
int32_t array_pick_int(NodeId a, uint32_t i);
void array_poke_int(NodeId a, uint32_t i, int32_t value);
uint8_t array_pick_byte(NodeId a, uint32_t i);
// Removes the first element equal to value; nothing when absent.
void array_remove_int(NodeId a, int32_t value);
// Removes n bytes at a byte offset from the head, moving the rest down.
void array_remove_at(NodeId a, uint32_t byte_offset, uint32_t n);

// ---- Cycle-detection stack ---------------------------------------------------

inline constexpr uint32_t cycle_stack_size = 1000;
// Pushes the node; the push that would hold the 1000th entry empties the
// stack and raises internal `too-deep`.
void cycle_push(NodeId node);
void cycle_pop();               // nothing when empty
void cycle_pop_n(uint32_t n);
void cycle_reset();
bool cycle_find(NodeId node);   // linear search from the base
uint32_t cycle_depth();
// The key of a value on the stack: the context node (w1) for object!,
// error! and port!, the series node (w2) for every other type.
NodeId cycle_key(const Cell& value);
// When the value is already being walked, appends its placeholder ("[...]",
// "(...)", "#[...]", "make object! [...]" when molding; "..." when forming or
// for paths) to the string `out`, lowers the budget by its length and
// answers true; otherwise answers false.
bool mold_cycle(const Cell& value, NodeId out, int32_t& budget, bool mold);
// Rewrites the entries through a node renumbering (the collector's).
void cycle_forward(NodeId (*forward)(NodeId));

// Keeps the cycle-detection stack balanced: whatever a walk pushed is popped
// when the guard ends, also when an error unwinds through the walk.
class CycleGuard {
public:
    CycleGuard() : depth_(cycle_depth()) {}
    ~CycleGuard() {
        uint32_t now = cycle_depth();
        if (now > depth_) cycle_pop_n(now - depth_);
    }
    CycleGuard(const CycleGuard&) = delete;
    CycleGuard& operator=(const CycleGuard&) = delete;

private:
    uint32_t depth_;
};

}  // namespace vyr::series
