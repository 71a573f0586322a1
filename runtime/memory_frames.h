// The frames behind the memory manager, as the collector and compaction see
// them. Other modules use memory.h; this header is for memory.cpp,
// collector.cpp, compaction.cpp and their tests.
//
// Layout (64-bit):
//   - every frame and big block is one OS block: a 16-byte size header, then
//     the frame;
//   - a node frame is the mapped start of its window in the node slot range
//     (memory.h): `slot_count` 8-byte slots, then its header. A used slot
//     holds a buffer address; a free slot holds the address of the next free
//     slot of the same frame, or 0 for the last;
//   - a series frame: a 44-byte header, then buffers back to back from the
//     data start up to the bump pointer. The header size makes every buffer
//     start at 4 mod 8, so every data area starts 8-byte aligned (each buffer
//     takes capacity + 24 bytes, a multiple of 8);
//   - a big block: a 20-byte header, then one buffer.
// The series-frame list is kept sorted by address, which lets one forward
// pass over the sorted relocation records serve the whole compaction.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/memory.h"

#if defined(VYR_POISON) && VYR_POISON
#include <sanitizer/asan_interface.h>
#define VYR_POISON_RANGE(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define VYR_UNPOISON_RANGE(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define VYR_POISON_RANGE(p, n) ((void)(p), (void)(n))
#define VYR_UNPOISON_RANGE(p, n) ((void)(p), (void)(n))
#endif

namespace vyr::memory {

struct NodeFrame {
    NodeFrame* next;
    NodeFrame* prev;
    uint32_t slot_count;
    uint32_t number;          // frame number: the high bits of its node ids
    uintptr_t* free_head;     // first free slot, null when none
    uint32_t used;            // slots holding a node
    uint32_t creation_cycle;  // collector cycle count when made
    uint32_t last_used;       // used count at the last collection
    uint32_t history;         // bit 0: used count unchanged at the last collection; shifted each cycle
    uint32_t do_not_use;      // nonzero once emptied by node compaction; freed at the cycle's end
    uint32_t received;        // nonzero when this cycle's node compaction moved nodes into it

    uintptr_t* slots() { return reinterpret_cast<uintptr_t*>(this) - slot_count; }
    bool owns_address(uintptr_t a) {
        return a >= uintptr_t(slots()) && a < uintptr_t(slots() + slot_count);
    }
};
static_assert(sizeof(NodeFrame) % 8 == 0);

inline constexpr size_t series_frame_header = 44;

struct SeriesFrame {
    SeriesFrame* next;
    SeriesFrame* prev;
    uint8_t* bump;  // first free byte
    uint8_t* end;   // end of the data area
    uint32_t size;  // bytes of the frame, header included

    uint8_t* data() { return reinterpret_cast<uint8_t*>(this) + series_frame_header; }
    size_t room() const { return size_t(end - bump); }
};
static_assert(sizeof(SeriesFrame) <= series_frame_header);

inline constexpr size_t big_block_header = 20;

struct BigBlock {
    BigBlock* next;
    uint32_t reserved;
    uint32_t size;  // bytes of the buffer (header, data and spare bytes)

    SeriesBuffer* buffer() {
        return reinterpret_cast<SeriesBuffer*>(reinterpret_cast<uint8_t*>(this) + big_block_header);
    }
};

// The memory record: one per process.
struct MemoryRecord {
    size_t total;  // bytes obtained from the OS, size headers included
    NodeFrame* node_first;
    NodeFrame* node_last;
    NodeFrame* node_current;
    SeriesFrame* series_first;
    SeriesFrame* series_current;
    SeriesFrame* series_last;
    uint32_t next_frame_size;
    BigBlock* big_first;
    BigBlock* big_last;
    uint32_t number_cursor;  // where the search for a free frame number starts
};
extern MemoryRecord mem;

// Bytes a buffer takes in a frame.
inline size_t extent_of(const SeriesBuffer* b) { return size_t(b->capacity) + buffer_overhead; }

// ---- OS blocks -------------------------------------------------------------
// One block of at least `size` bytes; `no-memory` on failure. Without
// `populate` its pages fault in as they are first used.
void* os_alloc_frame(size_t size, bool populate = true);
// Returns a block; `wrong-mem` on failure. Under the sanitizer build the
// block is poisoned and kept for a while, so a stale address into it is
// reported instead of landing in a later frame mapped at the same place.
void os_free_frame(void* block);

// ---- Nodes -----------------------------------------------------------------
NodeFrame* new_node_frame();
NodeId alloc_node();
void free_node(NodeFrame* frame, uintptr_t* slot);
// Unlinks a frame and unmaps its window; with keep_for_reuse (stress mode)
// its pages are kept for a later new_node_frame.
void free_node_frame(NodeFrame* frame, bool keep_for_reuse = false);
inline NodeId node_id(const uintptr_t* slot) { return NodeId(slot - detail::node_slots); }
NodeFrame* node_frame_of(NodeId n);

// ---- Series frames and big blocks -----------------------------------------
SeriesFrame* new_series_frame(bool populate = true);
// Links a frame into the address-sorted list (a new one, or a spare reused).
void link_series_frame(SeriesFrame* frame);
SeriesFrame* find_series_frame(size_t need);
void free_series_frame(SeriesFrame* frame);
// A buffer without a node yet (the node word is 0).
SeriesBuffer* alloc_series_buffer(uint32_t units, uint32_t width, int32_t head_offset);
SeriesBuffer* alloc_big_block(size_t need);
// Unlinks the block (prev is its predecessor in the list, or null).
void free_big_block(BigBlock* block, BigBlock* prev);

// The fixed series made so far (their marks are cleared after each cycle).
size_t fixed_count();
SeriesBuffer* fixed_at(size_t i);

}  // namespace vyr::memory
