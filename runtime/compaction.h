// Series-frame compaction, the moving half of a collection (collector.cpp
// runs it after marking). Internal to the collector.
//
// Every frame is walked buffer by buffer. Unmarked buffers are dead: their
// nodes go to the freed-node batch. Marked buffers lose their mark and move
// in runs of adjacent buffers: into the free room of the previous frame when
// it has more than 0xCCCC bytes, else down to the first dead byte of their
// own frame. Each moved buffer's node is pointed at its new place, and every
// registered raw address inside a moved run is moved by the same distance.
// Frames are sorted by address and the relocation records too, so one
// forward pass over the records serves the whole compaction.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace vyr::compaction {

// A registered raw address into a series frame and the C++ slot holding it.
struct Relocation {
    uintptr_t address;
    void* slot;
};

// Room in the previous frame counts only above this many bytes.
inline constexpr uint32_t min_useful_room = 0xCCCC;

// Compacts every series frame from the first. `records` are sorted by address.
void compact_series_frames(const std::vector<Relocation>& records);
// Stress mode: copies every live buffer of the frames into other frames, so
// that every movable buffer moves. The frames left behind are poisoned (in
// the sanitizer build) and kept as the next evacuation's destination, which
// spares the OS a map and unmap of the whole heap at every safe point.
void evacuate_series_frames(const std::vector<Relocation>& records);
// Returns the frames kept for the next evacuation.
void release_spares();

// Snapshots the sorted series-frame table for in_series_frames.
void build_frame_table();
// Whether an address lies in the data area of a series frame (binary search
// above 16 frames).
bool in_series_frames(uintptr_t address);

}  // namespace vyr::compaction

namespace vyr::collector {
// Queues a dead node for the freed-node batch (collector.cpp).
void queue_free_node(NodeId node);
}  // namespace vyr::collector
