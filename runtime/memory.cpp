// The memory manager: OS blocks, node frames, series frames, big blocks and
// fixed series; making, growing and copying series.
#include "runtime/memory.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

#include "runtime/catch_codes.h"
#include "runtime/collector.h"
#include "runtime/compaction.h"
#include "runtime/errors.h"
#include "runtime/memory_frames.h"
#include "runtime/platform.h"

namespace vyr::memory {

namespace detail {
uintptr_t* node_slots = nullptr;
uint32_t layout_epoch = 0;
}  // namespace detail

MemoryRecord mem;

namespace {

// Internal error ids (category internal).
constexpr int err_no_memory = 4;
constexpr int err_wrong_mem = 5;

constexpr size_t page_size = 4096;
constexpr size_t os_header = 16;  // the size word in front of every OS block, padded for alignment
constexpr uint32_t fixed_lead = 4;  // puts a fixed buffer's data 8-byte aligned in a 16-aligned block

[[noreturn]] void no_memory() { raise_error(err_cat::internal, err_no_memory); }

constexpr size_t round_up(size_t n, size_t m) { return (n + m - 1) & ~(m - 1); }

bool is_memory_code(uint32_t code) {
    return code >= catch_code::frame_release_failed && code <= catch_code::memory_site;
}

// Runs an OS call; true when the OS refused it. The caller raises the error
// after the handler has ended.
template <class Call>
bool refused_by_os(Call call) {
    try {
        call();
    } catch (const Unwind& u) {
        if (!is_memory_code(u.code)) throw;
        return true;
    }
    return false;
}

// Fixed buffers, for clearing their marks and for clean-up.
std::vector<SeriesBuffer*> fixed_buffers;

#if defined(VYR_POISON) && VYR_POISON
// Freed OS blocks stay mapped and poisoned until this many bytes wait.
constexpr size_t quarantine_limit = size_t(64) << 20;
struct Quarantined {
    void* base;
    size_t size;
};
std::deque<Quarantined> quarantine;
size_t quarantined_bytes = 0;

void unmap(void* base, size_t size) {
    VYR_UNPOISON_RANGE(base, size);
    platform::os_virtual_free(base, size);
}

void release_os_block(void* base, size_t size) {
    VYR_POISON_RANGE(base, size);
    quarantine.push_back({base, size});
    quarantined_bytes += size;
    while (quarantined_bytes > quarantine_limit) {
        Quarantined q = quarantine.front();
        quarantine.pop_front();
        quarantined_bytes -= q.size;
        unmap(q.base, q.size);
    }
}

void flush_quarantine() {
    for (const Quarantined& q : quarantine) unmap(q.base, q.size);
    quarantine.clear();
    quarantined_bytes = 0;
}
#else
void release_os_block(void* base, size_t size) { platform::os_virtual_free(base, size); }
void flush_quarantine() {}
#endif

}  // namespace

// ---- OS blocks -------------------------------------------------------------

void* os_alloc_frame(size_t size, bool populate) {
    size_t rounded = round_up(size + os_header, page_size);
    void* base = nullptr;
    if (refused_by_os([&] { base = platform::os_virtual_alloc(rounded, false, populate); })) no_memory();
    mem.total += rounded;
    *static_cast<size_t*>(base) = rounded;
    return static_cast<uint8_t*>(base) + os_header;
}

void os_free_frame(void* block) {
    void* base = static_cast<uint8_t*>(block) - os_header;
    size_t size = *static_cast<size_t*>(base);
    mem.total -= size;
    if (refused_by_os([&] { release_os_block(base, size); })) raise_error(err_cat::internal, err_wrong_mem);
}

size_t os_total() { return mem.total; }

// ---- Node frames -----------------------------------------------------------

namespace {
constexpr size_t window_bytes = (size_t(1) << node_slot_bits) * sizeof(uintptr_t);
// The mapped part of a frame's window: its slots, then its header.
constexpr size_t node_frame_bytes = round_up(node_frame_slots * sizeof(uintptr_t) + sizeof(NodeFrame), page_size);
static_assert(node_frame_bytes <= window_bytes, "a node frame fits its window");

// Frame number -> its frame; null for a number not in use.
NodeFrame* node_frames[node_frame_numbers];
// The frame numbers whose windows the reserved range covers: all of them,
// unless the address space is limited (ulimit -v), where the range is
// reserved smaller and fewer frames can be made.
uint32_t reserved_frame_numbers = node_frame_numbers;

// A free frame number, searched from the cursor onwards so that a freed
// number is reused as late as possible (a stale node id then meets an
// unmapped window rather than another frame).
uint32_t take_frame_number() {
    uint32_t n = mem.number_cursor;
    for (uint32_t tries = 1; tries < reserved_frame_numbers; ++tries) {
        if (n == 0 || n >= reserved_frame_numbers) n = 1;
        if (!node_frames[n]) {
            mem.number_cursor = n + 1;
            return n;
        }
        ++n;
    }
    no_memory();
}

// Stress mode frees and makes every node frame at each safe point: the pages
// of freed frames are kept, as many as this, and moved to the next new ones.
constexpr size_t spare_window_limit = 64;
std::vector<uintptr_t*> spare_windows;

// Gives a new frame's window spare pages; false when there are none. A spare
// is poisoned while it waits, so that a stale node id into it is reported.
bool take_spare_window(uintptr_t* slots) {
    if (spare_windows.empty()) return false;
    auto same = std::find(spare_windows.begin(), spare_windows.end(), slots);
    if (same != spare_windows.end()) {  // the number came round again: the pages are in place
        spare_windows.erase(same);
        VYR_UNPOISON_RANGE(slots, node_frame_bytes);
        return true;
    }
    uintptr_t* from = spare_windows.back();
    VYR_UNPOISON_RANGE(from, node_frame_bytes);
    if (refused_by_os([&] { platform::os_virtual_move(from, slots, node_frame_bytes); })) no_memory();
    spare_windows.pop_back();
    return true;
}

void decommit_window(uintptr_t* slots) {
    mem.total -= node_frame_bytes;
    if (refused_by_os([&] { platform::os_virtual_decommit(slots, node_frame_bytes); }))
        raise_error(err_cat::internal, err_wrong_mem);
}

void release_spare_windows() {
    for (uintptr_t* w : spare_windows) {
        VYR_UNPOISON_RANGE(w, node_frame_bytes);
        decommit_window(w);
    }
    spare_windows.clear();
}

// Reserved once and kept across heaps: it is address space only. Where
// the address space is limited (ulimit -v) the range is halved until it
// fits, then taken a quarter as large, so that the series heap keeps room
// to grow beside it.
constexpr uint32_t fewest_frame_numbers = 16;
void reserve_node_range() {
    void* range = nullptr;
    uint32_t numbers = node_frame_numbers;
    auto reserve = [&] {
        return !refused_by_os([&] { range = platform::os_virtual_reserve(size_t(numbers) * window_bytes); });
    };
    while (!reserve()) {
        if (numbers <= fewest_frame_numbers) no_memory();
        numbers /= 2;
    }
    if (numbers < node_frame_numbers && numbers > fewest_frame_numbers) {
        platform::os_virtual_free(range, size_t(numbers) * window_bytes);
        numbers = std::max(numbers / 4, fewest_frame_numbers);
        if (!reserve()) no_memory();
    }
    reserved_frame_numbers = numbers;
    detail::node_slots = static_cast<uintptr_t*>(range);
}
}  // namespace

NodeFrame* new_node_frame() {
    constexpr uint32_t slot_count = node_frame_slots;
    if (!detail::node_slots) reserve_node_range();
    uint32_t number = take_frame_number();
    uintptr_t* slots = detail::node_slots + (size_t(number) << node_slot_bits);
    if (!take_spare_window(slots)) {
        if (refused_by_os([&] { platform::os_virtual_commit(slots, node_frame_bytes); })) no_memory();
        mem.total += node_frame_bytes;
    }
    auto* f = reinterpret_cast<NodeFrame*>(slots + slot_count);
    *f = NodeFrame{};
    f->slot_count = slot_count;
    f->number = number;
    f->creation_cycle = collector::cycles();
    for (uint32_t i = 0; i + 1 < slot_count; ++i) slots[i] = uintptr_t(slots + i + 1);
    slots[slot_count - 1] = 0;
    f->free_head = slots;
    node_frames[number] = f;
    f->prev = mem.node_last;
    if (mem.node_last) mem.node_last->next = f;
    else mem.node_first = mem.node_current = f;
    mem.node_last = f;
    return f;
}

NodeId alloc_node() {
    NodeFrame* f = mem.node_current;
    if (!f || !f->free_head || f->do_not_use) {
        f = nullptr;
        for (NodeFrame* g = mem.node_first; g; g = g->next) {
            if (g->free_head && !g->do_not_use) {
                f = g;
                break;
            }
        }
        if (!f) f = new_node_frame();
        mem.node_current = f;
    }
    uintptr_t* slot = f->free_head;
    f->free_head = reinterpret_cast<uintptr_t*>(*slot);
    *slot = 0;
    ++f->used;
    return node_id(slot);
}

void free_node(NodeFrame* frame, uintptr_t* slot) {
    *slot = uintptr_t(frame->free_head);
    frame->free_head = slot;
    --frame->used;
}

NodeFrame* node_frame_of(NodeId n) { return node_frames[n >> node_slot_bits]; }

void free_node_frame(NodeFrame* f, bool keep_for_reuse) {
    if (f->prev) f->prev->next = f->next;
    else mem.node_first = f->next;
    if (f->next) f->next->prev = f->prev;
    else mem.node_last = f->prev;
    if (mem.node_current == f) mem.node_current = mem.node_first;
    node_frames[f->number] = nullptr;
    uintptr_t* slots = f->slots();
    if (keep_for_reuse && spare_windows.size() < spare_window_limit) {
        VYR_POISON_RANGE(slots, node_frame_bytes);
        spare_windows.push_back(slots);
    } else {
        decommit_window(slots);
    }
}

// ---- Series frames -----------------------------------------------------------

void link_series_frame(SeriesFrame* f) {
    SeriesFrame* after = nullptr;  // the last frame below f
    for (SeriesFrame* g = mem.series_first; g && g < f; g = g->next) after = g;
    f->prev = after;
    f->next = after ? after->next : mem.series_first;
    if (f->next) f->next->prev = f;
    else mem.series_last = f;
    if (after) after->next = f;
    else mem.series_first = f;
    if (!mem.series_current) mem.series_current = f;
}

SeriesFrame* new_series_frame(bool populate) {
    uint32_t size = mem.next_frame_size;
    if (mem.next_frame_size < max_frame_size) mem.next_frame_size = std::min(mem.next_frame_size * 2, max_frame_size);
    auto* f = static_cast<SeriesFrame*>(os_alloc_frame(series_frame_header + size, populate));
    f->size = uint32_t(series_frame_header + size);
    f->bump = f->data();
    f->end = f->data() + size;
    VYR_POISON_RANGE(f->data(), size);
    link_series_frame(f);
    return f;
}

SeriesFrame* find_series_frame(size_t need) {
    for (SeriesFrame* f = mem.series_first; f; f = f->next)
        if (f->room() > need) return f;
    return nullptr;
}

void free_series_frame(SeriesFrame* f) {
    if (f->prev) f->prev->next = f->next;
    else mem.series_first = f->next;
    if (f->next) f->next->prev = f->prev;
    else mem.series_last = f->prev;
    if (mem.series_current == f) mem.series_current = mem.series_last;
    os_free_frame(f);
}

// ---- Buffers -------------------------------------------------------------------

namespace {
// Capacity of a request of units x width bytes; `no-memory` when too large.
uint32_t capacity_for(uint64_t units, uint32_t width) {
    uint64_t bytes = units * (width ? width : 1);
    if (bytes > max_series_bytes) no_memory();
    return uint32_t(round_up(bytes, 16));
}

void init_header(SeriesBuffer* b, uint32_t capacity, uint32_t width, int32_t head_offset, uint32_t extra) {
    uint32_t flags = width | flag::in_use | extra;
    uint32_t offset;
    if (head_offset == head_at_middle) {
        uint32_t w = width ? width : 1;
        offset = capacity / 2 / w * w;  // on an element boundary
        flags |= flag::head_middle | flag::allocated;
    } else {
        offset = std::min(uint32_t(std::max(head_offset, 0)), capacity);
        flags |= flag::allocated;
    }
    b->flags = flags;
    b->node = no_node;
    b->capacity = capacity;
    b->head = offset;
    b->tail = offset;
}

// Bumps `need` bytes out of a frame that has room for them.
uint8_t* bump(SeriesFrame* f, size_t need) {
    uint8_t* p = f->bump;
    f->bump += need;
    VYR_UNPOISON_RANGE(p, need);
    return p;
}

SeriesBuffer* new_fixed_buffer(uint32_t units, uint32_t width, int32_t head_offset) {
    uint32_t capacity = capacity_for(units, width);
    auto* raw = static_cast<uint8_t*>(platform::allocate(fixed_lead + buffer_overhead + size_t(capacity)));
    auto* b = reinterpret_cast<SeriesBuffer*>(raw + fixed_lead);
    init_header(b, capacity, width, head_offset, flag::fixed);
    fixed_buffers.push_back(b);
    return b;
}

void release_fixed_buffer(SeriesBuffer* b) {
    auto it = std::find(fixed_buffers.begin(), fixed_buffers.end(), b);
    if (it != fixed_buffers.end()) fixed_buffers.erase(it);
    platform::release(reinterpret_cast<uint8_t*>(b) - fixed_lead);
}

NodeId attach_node(SeriesBuffer* b) {
    NodeId n = alloc_node();
    *slot_of(n) = uintptr_t(b);
    b->node = n;
    return n;
}
}  // namespace

SeriesBuffer* alloc_big_block(size_t need) {
    auto* block = static_cast<BigBlock*>(os_alloc_frame(big_block_header + need));
    block->next = nullptr;
    block->reserved = 0;
    block->size = uint32_t(need);
    if (mem.big_last) mem.big_last->next = block;
    else mem.big_first = block;
    mem.big_last = block;
    return block->buffer();
}

void free_big_block(BigBlock* block, BigBlock* prev) {
    if (prev) prev->next = block->next;
    else mem.big_first = block->next;
    if (mem.big_last == block) mem.big_last = prev;
    os_free_frame(block);
}

SeriesBuffer* alloc_series_buffer(uint32_t units, uint32_t width, int32_t head_offset) {
    uint32_t capacity = capacity_for(units, width);
    size_t need = size_t(capacity) + buffer_overhead;
    SeriesBuffer* b;
    uint32_t extra = 0;
    if (need >= max_frame_size) {
        collector::request_collection();
        b = alloc_big_block(need);
        extra = flag::big;
    } else {
        SeriesFrame* f = mem.series_current;
        if (!f || f->room() <= need) {
            f = find_series_frame(need);
            if (!f) {
                collector::request_collection();
                if (need >= mem.next_frame_size) mem.next_frame_size = max_frame_size;
                f = new_series_frame();
            }
            mem.series_current = f;
        }
        b = reinterpret_cast<SeriesBuffer*>(bump(f, need));
    }
    init_header(b, capacity, width, head_offset, extra);
    return b;
}

size_t fixed_count() { return fixed_buffers.size(); }
SeriesBuffer* fixed_at(size_t i) { return fixed_buffers[i]; }

// ---- Start-up and clean-up -------------------------------------------------

void memory_init() {
    layout_changed();
    mem = MemoryRecord{};
    mem.next_frame_size = first_frame_size;
    mem.number_cursor = 1;
}

void first_frames() {
    new_node_frame();
    mem.series_current = new_series_frame();
}

void reserve_series_room(size_t bytes) {
    size_t room = 0;
    for (SeriesFrame* f = mem.series_first; f; f = f->next) room += f->room();
    // Reserved room is seldom used up: its pages fault in as they are reached.
    while (room < bytes) room += new_series_frame(false)->room();
}

void free_all_frames() {
    collector::forget_roots();
    compaction::release_spares();
    release_spare_windows();
    while (mem.node_first) free_node_frame(mem.node_first);
    while (mem.series_first) free_series_frame(mem.series_first);
    while (mem.big_first) free_big_block(mem.big_first, nullptr);
    for (SeriesBuffer* b : fixed_buffers) platform::release(reinterpret_cast<uint8_t*>(b) - fixed_lead);
    fixed_buffers.clear();
    flush_quarantine();
    memory_init();
}

// ---- Making series -----------------------------------------------------------

NodeId alloc_series(uint32_t units, uint32_t width, int32_t head_offset) {
    return attach_node(alloc_series_buffer(units, width, head_offset));
}

NodeId alloc_fixed_series(uint32_t units, uint32_t width, int32_t head_offset) {
    return attach_node(new_fixed_buffer(units, width, head_offset));
}

NodeId alloc_cells(uint32_t n) { return alloc_series(n, cell_width, 0); }

NodeId alloc_unset_cells(uint32_t n) {
    NodeId node = alloc_cells(n);
    SeriesBuffer* b = buffer_of(node);
    auto* c = reinterpret_cast<Cell*>(b->data());
    for (uint32_t i = 0; i < b->capacity / cell_width; ++i) c[i] = Cell{type_unset, 0, 0, 0};
    return node;
}

NodeId alloc_bytes(uint32_t n) { return alloc_series(n ? n : 16, 1, 0); }

NodeId alloc_units(uint32_t n, uint32_t width) {
    if (n == 0) n = 16 >> (width >> 1);
    return alloc_series(n, width, 0);
}

NodeId alloc_filled_bytes(uint32_t n, uint8_t byte) {
    NodeId node = alloc_bytes(n);
    SeriesBuffer* b = buffer_of(node);
    std::memset(b->data(), byte, b->capacity);
    return node;
}

namespace {
// Flags for a buffer that takes over from (or copies) `from`: everything but
// the kind of storage and the mark, which belong to the new buffer itself.
uint32_t inherited_flags(uint32_t from, uint32_t fresh) {
    constexpr uint32_t storage = flag::fixed | flag::big | flag::mark;
    return (from & ~storage) | (fresh & (flag::fixed | flag::big));
}
}  // namespace

NodeId copy_series_buffer(NodeId node) {
    SeriesBuffer* src = buffer_of(node);
    uint32_t width = src->unit() ? src->unit() : 1;
    SeriesBuffer* b = alloc_series_buffer(src->capacity / width, width, 0);
    std::memcpy(b->data(), src->data(), src->capacity);
    b->flags = inherited_flags(src->flags, b->flags);
    b->head = src->head;
    b->tail = src->tail;
    return attach_node(b);
}

// ---- Flags -----------------------------------------------------------------------

void set_series_flags(NodeId node, uint32_t bits) { buffer_of(node)->flags |= bits; }
void clear_series_flags(NodeId node, uint32_t bits) { buffer_of(node)->flags &= ~bits; }
void set_unit_width(NodeId node, uint32_t width) {
    SeriesBuffer* b = buffer_of(node);
    b->flags = (b->flags & ~flag::unit_mask) | (width & flag::unit_mask);
}

// ---- Growing -------------------------------------------------------------------

namespace {
// Leaves the old buffer to the collector: no node, not in use. A fixed one is
// given back to the general allocator at once; the data area of another is
// poisoned until compaction reuses its room.
void abandon(SeriesBuffer* old) {
    old->node = no_node;
    old->flags &= ~flag::in_use;
    if (old->flags & flag::fixed) release_fixed_buffer(old);
    else VYR_POISON_RANGE(old->data(), size_t(old->capacity) + 4);
}

SeriesBuffer* relocate(NodeId node, uint32_t new_size, bool copy, int fill) {
    SeriesBuffer* old = buffer_of(node);
    uint32_t width = old->unit() ? old->unit() : 1;
    uint64_t size = new_size ? new_size : (old->capacity ? 2ull * old->capacity : 16);
    if (size > max_series_bytes) no_memory();
    uint32_t units = uint32_t((size + width - 1) / width);
    SeriesBuffer* fresh = (old->flags & flag::fixed) ? new_fixed_buffer(units, width, 0)
                                                     : alloc_series_buffer(units, width, 0);
    fresh->flags = inherited_flags(old->flags, fresh->flags);
    fresh->node = node;
    fresh->head = 0;
    fresh->tail = std::min(old->used(), fresh->capacity);
    uint32_t kept = std::min(old->capacity - old->head, fresh->capacity);
    if (copy) std::memcpy(fresh->data(), old->head_ptr(), kept);
    if (fill >= 0) std::memset(fresh->data() + kept, fill, fresh->capacity - kept);
    *slot_of(node) = uintptr_t(fresh);
    layout_changed();
    abandon(old);
    return fresh;
}
}  // namespace

SeriesBuffer* move_series_buffer(NodeId node, uint32_t new_size) { return relocate(node, new_size, false, -1); }
SeriesBuffer* expand_series(NodeId node, uint32_t new_size) { return relocate(node, new_size, true, -1); }
SeriesBuffer* expand_series_filled(NodeId node, uint32_t new_size, uint8_t byte) {
    return relocate(node, new_size, true, byte);
}

void fill_range(void* start, void* end, uint8_t byte) {
    auto* s = static_cast<uint8_t*>(start);
    auto* e = static_cast<uint8_t*>(end);
    if (e > s) std::memset(s, byte, size_t(e - s));
}

}  // namespace vyr::memory
