// Series-frame compaction (see compaction.h).
#include "runtime/compaction.h"

#include <algorithm>
#include <cstring>

#include "runtime/memory_frames.h"

namespace vyr::compaction {

using memory::extent_of;
using memory::mem;
using memory::SeriesBuffer;
using memory::SeriesFrame;
namespace flag = memory::flag;

namespace {

std::vector<SeriesFrame*> frame_table;
constexpr size_t linear_search_limit = 16;

// The next relocation record to consider; records are consumed in address
// order, as the runs are.
struct Cursor {
    const std::vector<Relocation>& records;
    size_t next = 0;
};

// Points the node of every buffer of a moved run at its new place, then
// moves each registered address inside the run's old extent by the same
// distance (records below the run are skipped: they point into dead room).
void fix_moved_run(uint8_t* from, uint8_t* to, size_t length, Cursor& cur) {
    for (uint8_t* q = to; q < to + length;) {
        auto* b = reinterpret_cast<SeriesBuffer*>(q);
        *memory::slot_of(b->node) = uintptr_t(q);
        q += extent_of(b);
    }
    const auto& recs = cur.records;
    uintptr_t lo = uintptr_t(from), hi = uintptr_t(from + length);
    while (cur.next < recs.size() && recs[cur.next].address < lo) ++cur.next;
    for (; cur.next < recs.size() && recs[cur.next].address < hi; ++cur.next) {
        uintptr_t moved = recs[cur.next].address - lo + uintptr_t(to);
        std::memcpy(recs[cur.next].slot, &moved, sizeof moved);
    }
}

void move_run(uint8_t* from, uint8_t* to, size_t length, Cursor& cur) {
    VYR_UNPOISON_RANGE(to, length);
    std::memmove(to, from, length);
    fix_moved_run(from, to, length, cur);
}

bool marked(const SeriesBuffer* b) { return b->flags & flag::mark; }

// Queues the node of a dead buffer (abandoned buffers have none).
void bury(const SeriesBuffer* b) {
    if (b->node) collector::queue_free_node(b->node);
}

// Takes the run of marked buffers that starts at p, clearing their marks and
// advancing p past it. With `cut`, the run stops before a buffer that would
// make its length reach `limit` (its first buffer is always taken).
size_t take_live_run(uint8_t*& p, uint8_t* top, bool cut, size_t limit) {
    size_t length = 0;
    while (p < top) {
        auto* b = reinterpret_cast<SeriesBuffer*>(p);
        if (!marked(b)) break;
        size_t size = extent_of(b);
        if (cut && length > 0 && length + size >= limit) break;
        b->flags &= ~flag::mark;
        length += size;
        p += size;
    }
    return length;
}

// Compacts one frame into the room of the previous frame and then in place.
void compact_frame(SeriesFrame* f, Cursor& cur) {
    SeriesFrame* prev = f->prev;
    size_t room = prev ? prev->room() : 0;
    if (room <= min_useful_room) room = 0;
    bool cutting = room > 0;  // runs are cut so that they fit the room
    uint8_t* p = f->data();
    uint8_t* top = f->bump;
    uint8_t* gap = nullptr;   // first free byte; [gap, p) is free once set
    while (p < top) {
        auto* b = reinterpret_cast<SeriesBuffer*>(p);
        if (!marked(b)) {
            bury(b);
            if (!gap) gap = p;
            p += extent_of(b);
            continue;
        }
        uint8_t* start = p;
        size_t length = take_live_run(p, top, cutting, room);
        if (room > 0 && length < room) {  // the previous frame's bump must stay below its end
            uint8_t* to = prev->bump;
            prev->bump += length;
            room -= length;
            if (room <= min_useful_room) room = 0, cutting = false;
            if (!gap) gap = start;
            move_run(start, to, length, cur);
        } else if (gap) {
            move_run(start, gap, length, cur);
            gap += length;
        } else {
            cutting = false;  // a run with nothing free below it stays
        }
    }
    if (gap) {
        VYR_POISON_RANGE(gap, size_t(top - gap));
        f->bump = gap;
    }
    if (f->bump == f->data() && f != mem.series_last) memory::free_series_frame(f);
}

}  // namespace

void compact_series_frames(const std::vector<Relocation>& records) {
    release_spares();
    Cursor cur{records};
    for (SeriesFrame* f = mem.series_first; f;) {
        SeriesFrame* next = f->next;  // compaction may free f
        compact_frame(f, cur);
        f = next;
    }
}

namespace {
// Frames left behind by the last evacuation, all of the largest size.
std::vector<SeriesFrame*> spares;

SeriesFrame* take_frame() {
    if (spares.empty()) return memory::new_series_frame();
    SeriesFrame* f = spares.back();
    spares.pop_back();
    f->bump = f->data();
    memory::link_series_frame(f);
    return f;
}

// Keeps a frame left behind for the next evacuation, poisoned, or returns it.
void leave_frame(SeriesFrame* f, size_t keep_at_most) {
    bool full_size = size_t(f->end - f->data()) == memory::max_frame_size;
    if (!full_size || spares.size() >= keep_at_most) {
        memory::os_free_frame(f);
        return;
    }
    VYR_POISON_RANGE(f->data(), size_t(f->end - f->data()));
    f->next = f->prev = nullptr;
    spares.push_back(f);
}
}  // namespace

void release_spares() {
    for (SeriesFrame* f : spares) memory::os_free_frame(f);
    spares.clear();
}

void evacuate_series_frames(const std::vector<Relocation>& records) {
    SeriesFrame* old = mem.series_first;
    mem.series_first = mem.series_last = mem.series_current = nullptr;
    mem.next_frame_size = memory::max_frame_size;
    SeriesFrame* to = take_frame();
    size_t frames_used = 1;
    Cursor cur{records};
    std::vector<SeriesFrame*> left;
    while (old) {
        SeriesFrame* next_old = old->next;
        uint8_t* p = old->data();
        uint8_t* top = old->bump;
        while (p < top) {
            auto* b = reinterpret_cast<SeriesBuffer*>(p);
            if (!marked(b)) {
                bury(b);
                p += extent_of(b);
                continue;
            }
            uint8_t* start = p;
            size_t length = take_live_run(p, top, true, to->room());
            if (length >= to->room()) {  // every buffer fits an empty frame
                to = take_frame();
                ++frames_used;
            }
            uint8_t* dest = to->bump;
            to->bump += length;
            move_run(start, dest, length, cur);
        }
        left.push_back(old);
        old = next_old;
    }
    for (SeriesFrame* f : left) leave_frame(f, frames_used + 1);
    mem.series_current = to;
}

void build_frame_table() {
    frame_table.clear();
    for (SeriesFrame* f = mem.series_first; f; f = f->next) frame_table.push_back(f);
}

bool in_series_frames(uintptr_t a) {
    auto inside = [a](SeriesFrame* f) { return a >= uintptr_t(f->data()) && a < uintptr_t(f->end); };
    if (frame_table.size() <= linear_search_limit)
        return std::any_of(frame_table.begin(), frame_table.end(), inside);
    auto it = std::upper_bound(frame_table.begin(), frame_table.end(), a,
                               [](uintptr_t x, SeriesFrame* f) { return x < uintptr_t(f); });
    return it != frame_table.begin() && inside(*(it - 1));
}

}  // namespace vyr::compaction
