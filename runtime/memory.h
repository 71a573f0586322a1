// The memory manager: nodes, series buffers, and the frames they come from.
//
// Every series (block, string, binary, the arrays behind contexts and hash
// tables) lives in a series buffer: a 20-byte header, a data area of
// `capacity` bytes and 4 spare bytes. Values never hold a buffer address.
// They hold a node: a 32-bit handle naming a slot of a node frame, and that
// slot holds the buffer's current address. Buffers are served from
//   - series frames (1 MB, then 2 MB each) by bumping a pointer,
//   - big blocks, one OS block per buffer of 2 MB or more,
//   - the general allocator for fixed series, which never move.
//
// Invariants:
//   - head and tail are byte offsets from the data start, so moving a buffer
//     is a plain copy;
//   - a live buffer's `node` names the node whose slot holds its address; a
//     buffer abandoned by a move has node 0 and its in-use bit clear;
//   - allocation never collects. When the frames are full it takes a new
//     frame and asks for a collection, which the next safe point runs
//     (collector.h).
//
// What may move, and when:
//   - a raw address into a buffer (SeriesBuffer*, Cell*, uint8_t*) is valid
//     until that series grows (expand, alloc_tail_*) or a safe point runs;
//   - a node id stays valid across growth; across a safe point it stays valid
//     when it is reachable from a root or registered (collector.h), since the
//     collector may renumber nodes and rewrites only the references it sees.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace vyr::memory {

// Flag bits of a series buffer (its first header word).
namespace flag {
inline constexpr uint32_t unit_mask = 0x1F;          // bytes per element: 1, 2, 4 or 16 (cells)
inline constexpr uint32_t owned = 0x20000;           // watched for change notification
inline constexpr uint32_t from_utf16 = 0x40000;      // text made from UTF-16 input
inline constexpr uint32_t fixed = 0x100000;          // buffer outside the frames; never moves
inline constexpr uint32_t boot_private = 0x200000;   // decoded from the boot image, held by nothing else yet
inline constexpr uint32_t boot_origin = 0x400000;    // decoded from the boot image
inline constexpr uint32_t big = 0x1000000;           // buffer is a big block
inline constexpr uint32_t mark = 0x08000000;         // collector mark (set only during a cycle)
inline constexpr uint32_t head_middle = 0x10000000;  // head was placed in the middle at allocation
inline constexpr uint32_t allocated = 0x20000000;    // set on every buffer at allocation
inline constexpr uint32_t in_use = 0x80000000;       // cleared when a move abandons the buffer
}  // namespace flag

inline constexpr uint32_t cell_width = 16;               // unit width of a block of cells
inline constexpr uint32_t node_frame_slots = 10000;      // nodes per node frame
inline constexpr uint32_t first_frame_size = 0x100000;   // the first series frame: 1 MB
inline constexpr uint32_t max_frame_size = 0x200000;     // later frames: 2 MB; big-block threshold
inline constexpr uint32_t buffer_overhead = 24;          // header (20) + spare bytes (4)
inline constexpr uint32_t max_series_bytes = 0x7FFFFFF0; // largest data area served
inline constexpr int32_t head_at_middle = -1;            // head offset argument: place it in the middle

// The header of a series buffer; the data area follows it directly.
struct SeriesBuffer {
    uint32_t flags;     // unit width and the flag bits above
    NodeId node;        // the node that owns the buffer; 0 once abandoned
    uint32_t capacity;  // bytes in the data area, a multiple of 16
    uint32_t head;      // byte offset of the first element from the data start
    uint32_t tail;      // byte offset just after the last element

    uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
    const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(this + 1); }
    uint8_t* head_ptr() { return data() + head; }
    uint8_t* tail_ptr() { return data() + tail; }
    uint8_t* end_ptr() { return data() + capacity; }
    uint32_t unit() const { return flags & flag::unit_mask; }
    uint32_t used() const { return tail - head; }              // bytes from head to tail
    uint32_t length() const { return used() / (unit() ? unit() : 1); }  // elements from head to tail
    Cell* cells() { return reinterpret_cast<Cell*>(head_ptr()); }       // first cell (blocks)
    Cell* cells_end() { return reinterpret_cast<Cell*>(tail_ptr()); }
};
static_assert(sizeof(SeriesBuffer) == 20, "a buffer header is five 32-bit words");

// ---- Reaching a buffer through its node ----------------------------------

// A node id is (node frame number << node_slot_bits) | slot index. Frame
// number 0 is never used, so no valid node is 0.
inline constexpr uint32_t node_slot_bits = 14;
inline constexpr uint32_t node_frame_numbers = 1u << (32 - node_slot_bits);

namespace detail {
// The slots of every node frame, indexed by node id: one address range with
// room for all ids, reserved with the first node frame. Frame number f owns
// the window of ids from f << node_slot_bits; only the windows of frames in
// use are mapped, the rest of the range is address space alone.
extern uintptr_t* node_slots;
extern uint32_t layout_epoch;
}  // namespace detail

// Changes whenever a buffer may have moved to another address or a node been
// renumbered (a series relocated, a collection cycle, a reset): an address
// read from a node stays valid while the epoch is unchanged, as long as
// nothing changes that series' head.
inline uint32_t layout_epoch() { return detail::layout_epoch; }
inline void layout_changed() { ++detail::layout_epoch; }

// The slot of a node: it holds the current address of the node's buffer.
inline uintptr_t* slot_of(NodeId n) { return detail::node_slots + n; }

// The current buffer of a node. Valid until the series grows or a safe point.
inline SeriesBuffer* buffer_of(NodeId n) { return reinterpret_cast<SeriesBuffer*>(*slot_of(n)); }

// The cells of a block from its head, and the cell at a 0-based index from
// the head (no bound check). Same lifetime as buffer_of.
inline Cell* cell_head(NodeId n) { return buffer_of(n)->cells(); }
inline Cell* cell_tail(NodeId n) { return buffer_of(n)->cells_end(); }
inline Cell* cell_at(NodeId n, uint32_t index) { return buffer_of(n)->cells() + index; }
// Elements between head and tail.
inline uint32_t series_length(NodeId n) { return buffer_of(n)->length(); }

// ---- Start-up and clean-up -------------------------------------------------

// Fills the memory record; no frame exists yet.
void memory_init();
// The first node frame (10000 slots) and the first series frame (1 MB).
void first_frames();
// Adds series frames, sized as frames taken later are, until the frames have
// room for `bytes` in all; their pages are mapped as they are first used.
// Taking them asks for no collection: start-up sizes the heap for the boot
// code this way, which would otherwise fill the first frame and collect once
// with little to free.
void reserve_series_room(size_t bytes);
// Returns every frame, big block and fixed series; forgets the collector's
// permanent roots and mark callbacks, since they name nodes of this heap.
// After it, memory_init and first_frames start a new heap.
void free_all_frames();

// ---- Making series ---------------------------------------------------------
// None of these collects or moves an existing buffer; each may take a new
// frame from the OS and then asks for a collection at the next safe point.
// Failure raises internal `no-memory`.

// A new series of `units` elements of `width` bytes (1, 2, 4 or 16), the
// capacity rounded up to 16 bytes. The head is placed `head_offset` bytes
// into the data area, or in the middle for head_at_middle; tail = head.
NodeId alloc_series(uint32_t units, uint32_t width, int32_t head_offset = 0);
// The same with a buffer from the general allocator: never moved, never
// freed by the collector (root block, argument stack, call-frame stack).
NodeId alloc_fixed_series(uint32_t units, uint32_t width, int32_t head_offset = 0);
// A block with room for n cells.
NodeId alloc_cells(uint32_t n);
// A block with room for n cells, every cell of the capacity set to unset!.
NodeId alloc_unset_cells(uint32_t n);
// A byte series of n bytes (n = 0 gives 16).
NodeId alloc_bytes(uint32_t n);
// A series of n units of `width` (n = 0 gives 16 bytes' worth).
NodeId alloc_units(uint32_t n, uint32_t width);
// alloc_bytes(n) with the whole capacity filled with `byte`.
NodeId alloc_filled_bytes(uint32_t n, uint8_t byte);
// A new series with the same flags, capacity, head, tail and data.
NodeId copy_series_buffer(NodeId node);

// ---- Flags -----------------------------------------------------------------

void set_series_flags(NodeId node, uint32_t bits);    // ORs bits into the flags
void clear_series_flags(NodeId node, uint32_t bits);  // clears bits
// Sets the unit width (1, 2, 4, 16); used by raw arrays and text widening.
void set_unit_width(NodeId node, uint32_t width);

// ---- Growing ---------------------------------------------------------------
// `new_size` is in bytes; 0 means twice the capacity (16 when it is 0). The
// node gets a new buffer with head offset 0 and the old flags; the old buffer
// is abandoned (its room is reclaimed by the next compaction; under the
// sanitizer build its data area is poisoned at once). Raw addresses into the
// old buffer are stale afterwards. No collection happens.

// A new buffer for the node, tail at the same distance from the head; the
// data is NOT copied. Answers the new buffer.
SeriesBuffer* move_series_buffer(NodeId node, uint32_t new_size);
// move_series_buffer, then the data from the old head to the old end copied
// to the new head (cut to the new capacity). Answers the new buffer.
SeriesBuffer* expand_series(NodeId node, uint32_t new_size);
// expand_series, then the room after the copied data filled with `byte`.
SeriesBuffer* expand_series_filled(NodeId node, uint32_t new_size, uint8_t byte);

// Fills the bytes from start up to end.
void fill_range(void* start, void* end, uint8_t byte);

// ---- Queries ---------------------------------------------------------------

// Bytes obtained from the OS and not yet returned.
size_t os_total();

}  // namespace vyr::memory
