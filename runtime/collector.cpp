// The collector (see collector.h): timing, roots, marking, node-frame
// compaction, sweeps and statistics. Series-frame compaction is in
// compaction.cpp.
#include "runtime/collector.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "runtime/compaction.h"
#include "runtime/errors.h"
#include "runtime/memory_frames.h"
#include "runtime/platform.h"
#include "runtime/resources.h"
#include "runtime/series.h"

namespace vyr::collector {

using memory::buffer_of;
using memory::mem;
using memory::NodeFrame;
using memory::SeriesBuffer;
namespace flag = memory::flag;

namespace detail {
bool gate = false;
uint32_t moves = 0;
}  // namespace detail

namespace {

// ---- State -------------------------------------------------------------------

struct State {
    bool collecting = false;
    bool enabled = false;
    bool node_compaction = true;
    bool pending = false;
    bool stress = false;
    uint32_t holds = 0;
    uint32_t cycles = 0;
    uint32_t nodes_cycles = 0;
    uint32_t window = 5;  // a node frame must be stable for window + 1 collections
};
State st;

void update_gate() { detail::gate = st.pending || st.stress; }

// ---- Node renumbering ------------------------------------------------------
// A node moved by node-frame compaction leaves its new id in its old slot,
// tagged in bit 0 (buffer addresses and free-chain links have it clear).
// The emptied frame stays mapped until the end of the cycle, so marking
// forwards every reference it meets with one load, the one that reaches the
// buffer anyway.

constexpr uintptr_t forwarded_tag = 1;
inline uintptr_t forwarding(NodeId to) { return (uintptr_t(to) << 1) | forwarded_tag; }
bool nodes_moved = false;  // this cycle renumbered nodes

// ---- Roots and hooks ----------------------------------------------------------

struct PermanentRoot {
    NodeId* slot;
    RootKind kind;
};
struct RootCells {
    Cell* cells;
    size_t count;
};
std::vector<PermanentRoot> permanent_roots;
std::vector<RootCells> root_cells;
std::vector<MarkCallback> mark_callbacks;
HashTableMarker hash_table_marker = nullptr;
ImageMarker image_marker = nullptr;
PurgeHook owners_purge = nullptr;

detail::RootLink* registry = nullptr;  // the scoped roots, newest first

// Blocks whose cells are still to be marked.
std::vector<NodeId> work;

// Nodes of dead buffers, freed in sorted batches.
constexpr size_t freed_batch_size = 20000;
std::vector<NodeId> freed_batch;

// Registered raw addresses found in the series frames, sorted by address.
std::vector<compaction::Relocation> relocations;

}  // namespace

// ---- Timing ------------------------------------------------------------------

void request_collection() {
    st.pending = true;
    update_gate();
}
bool collection_pending() { return st.pending; }

void set_enabled(bool on) { st.enabled = on; }
bool enabled() { return st.enabled; }

void set_stress(bool on) {
    st.stress = on;
    update_gate();
}
bool stress_mode() { return st.stress; }

bool is_collecting() { return st.collecting; }
uint32_t cycles() { return st.cycles; }
uint32_t nodes_cycles() { return st.nodes_cycles; }

bool set_node_compaction(bool on) {
    bool former = st.node_compaction;
    st.node_compaction = on;
    return former;
}

CollectionHold::CollectionHold() { ++st.holds; }
CollectionHold::~CollectionHold() { --st.holds; }

void collect_if_enabled() {
    if (st.enabled && !st.holds && !st.collecting) collector_run();
}

void detail::safe_point_slow() {
    if (st.pending || st.stress) collect_if_enabled();
}

bool recycle() {
    if (st.holds || st.collecting) {
        request_collection();
        return false;
    }
    collector_run();
    return true;
}

void collector_reset() {
    st.cycles = 0;
    st.nodes_cycles = 0;
    st.window = 5;
    const char* stress = std::getenv("VYR_GC_STRESS");
    st.stress = stress && std::strcmp(stress, "1") == 0;
    update_gate();
}

// ---- Registration ------------------------------------------------------------

void detail::link_root(RootLink* link) {
    link->prev = nullptr;
    link->next = registry;
    if (registry) registry->prev = link;
    registry = link;
}

void detail::unlink_root(RootLink* link) {
    if (link->prev) link->prev->next = link->next;
    else registry = link->next;
    if (link->next) link->next->prev = link->prev;
}

void add_root(NodeId* slot, RootKind kind) { permanent_roots.push_back({slot, kind}); }
void add_root_cells(Cell* cells, size_t count) { root_cells.push_back({cells, count}); }

void add_mark_callback(MarkCallback fn) {
    if (fn) mark_callbacks.push_back(fn);
}
void remove_mark_callback(MarkCallback fn) {
    for (MarkCallback& c : mark_callbacks)
        if (c == fn) c = nullptr;
}

void set_hash_table_marker(HashTableMarker fn) { hash_table_marker = fn; }
void set_image_marker(ImageMarker fn) { image_marker = fn; }
void set_owners_purge(PurgeHook fn) { owners_purge = fn; }

uint32_t generation = 0;

uint32_t heap_generation() { return generation; }

Cell detail::held_cells[detail::held_capacity];
uint32_t detail::held_top = 0;

void detail::held_overflow() { raise_error(err_cat::internal, err_id::internal::stack_overflow); }

void forget_roots() {
    ++generation;
    detail::held_top = 0;
    permanent_roots.clear();
    root_cells.clear();
    mark_callbacks.clear();
}

// ---- Marking -----------------------------------------------------------------

NodeId forward_node(NodeId node) {
    if (!nodes_moved || !node) return node;
    uintptr_t content = *memory::slot_of(node);
    return (content & forwarded_tag) ? NodeId(content >> 1) : node;
}

bool mark_node(NodeId* ref) {
    NodeId id = *ref;
    if (!id) return false;
    uintptr_t content = *memory::slot_of(id);
    if (content & forwarded_tag) {
        *ref = id = NodeId(content >> 1);
        content = *memory::slot_of(id);
    }
    auto* b = reinterpret_cast<SeriesBuffer*>(content);
    if (b->flags & flag::mark) return false;
    b->flags |= flag::mark;
    return true;
}

void mark_block(NodeId* ref) {
    if (mark_node(ref) && buffer_of(*ref)->unit() == memory::cell_width) work.push_back(*ref);
}

void mark_hash_table(NodeId* table) {
    if (!*table) return;
    if (hash_table_marker) hash_table_marker(table);
    else mark_block(table);
}

void unmark_node(NodeId node) { buffer_of(forward_node(node))->flags &= ~flag::mark; }
bool is_marked(NodeId node) { return node && (buffer_of(forward_node(node))->flags & flag::mark); }

namespace {

// Marks the series in a payload word when it is set.
inline void mark_word(uint32_t& w) {
    if (w) mark_block(&w);
}

// Which payload words of a cell hold nodes, by type.
void mark_cell(Cell& c) {
    switch (type_of(c)) {
        case type_word:
        case type_set_word:
        case type_lit_word:
        case type_get_word:
        case type_refinement:
        case type_issue:      // shares the word layout (bound to the global context)
            mark_word(c.w1);  // the context (a plain block for `self`)
            break;
        case type_block:
        case type_paren:
        case type_path:
        case type_lit_path:
        case type_set_path:
        case type_get_path:
        case type_bitset:
        case type_vector:
        case type_binary:
            mark_word(c.w2);
            break;
        case type_symbol:
        case type_string:
        case type_file:
        case type_url:
        case type_tag:
        case type_email:
        case type_ref:
            mark_word(c.w2);  // symbol: the cached string; strings: the text
            mark_word(c.w3);  // symbol: the UTF-8 name; strings: the cached UTF-8 text
            break;
        case type_object:
        case type_error:
        case type_port:
            mark_word(c.w1);  // the context
            mark_word(c.w3);
            break;
        case type_context:
            mark_hash_table(&c.w1);  // the word table
            if (!(c.header & header::context_on_stack)) mark_word(c.w2);
            break;
        case type_hash:
        case type_map:
            mark_word(c.w2);
            mark_hash_table(&c.w3);
            break;
        case type_function:
        case type_routine:
            mark_word(c.w1);  // context
            mark_word(c.w2);  // spec
            mark_word(c.w3);  // record
            break;
        case type_native:
        case type_action:
            mark_word(c.w2);
            mark_word(c.w3);
            break;
        case type_op: {
            mark_word(c.w2);
            mark_word(c.w3);
            uint32_t wrapped = (c.header & header::op_type_mask) >> header::op_type_shift;
            if (wrapped == type_function || wrapped == type_routine) mark_word(c.w1);
            break;
        }
        case type_image:
            if (c.w2) {
                mark_node(&c.w2);
                if (image_marker) image_marker(c.w2);
            }
            break;
        case type_handle:
            if (int32_t(c.w3) >= 0) resources::mark_external_resource(int32_t(c.w3), nullptr);
            break;
        case type_event:
            if (c.header & header::event_in_block) mark_word(c.w2);
            break;
        default:
            break;
    }
}

// Marks the cells of every block on the work stack until it is empty.
void drain() {
    while (!work.empty()) {
        NodeId id = work.back();
        work.pop_back();
        SeriesBuffer* b = buffer_of(id);
        mark_cells(b->cells(), b->cells_end());
    }
}

}  // namespace

void mark_cells(Cell* first, Cell* end) {
    for (Cell* c = first; c < end; ++c) mark_cell(*c);
}

namespace {

void mark_roots() {
    mark_block(&series::root_block);
    for (const PermanentRoot& r : permanent_roots) {
        switch (r.kind) {
            case RootKind::node_only: mark_node(r.slot); break;
            case RootKind::series: mark_block(r.slot); break;
            case RootKind::hash_table: mark_hash_table(r.slot); break;
        }
    }
    for (const RootCells& r : root_cells) mark_cells(r.cells, r.cells + r.count);
    mark_cells(detail::held_cells, detail::held_cells + detail::held_top);
    mark_block(resources::extref_root());
    for (MarkCallback fn : mark_callbacks)
        if (fn) fn();
    for (detail::RootLink* l = registry; l; l = l->next) {
        if (l->kind == detail::SlotKind::node) mark_block(static_cast<NodeId*>(l->slot));
        else if (l->kind == detail::SlotKind::cells) {
            auto* cells = static_cast<Cell*>(l->slot);
            mark_cells(cells, cells + l->count);
        }
    }
    drain();
}

// The registered raw addresses that point into the series frames, sorted.
void collect_relocations() {
    relocations.clear();
    compaction::build_frame_table();
    for (detail::RootLink* l = registry; l; l = l->next) {
        if (l->kind != detail::SlotKind::address) continue;
        uintptr_t a;
        std::memcpy(&a, l->slot, sizeof a);
        if (compaction::in_series_frames(a)) relocations.push_back({a, l->slot});
    }
    std::sort(relocations.begin(), relocations.end(),
              [](const compaction::Relocation& x, const compaction::Relocation& y) { return x.address < y.address; });
}

// ---- Node-frame compaction ---------------------------------------------------

bool has_room(const NodeFrame* f) { return f->free_head && !f->do_not_use; }

// A frame to take a moved node: the current one while it has room, then the
// next with room after it (wrapping), never `from`; with `fresh_only` a new
// frame instead of any existing one.
NodeFrame* target_frame(NodeFrame* from, bool fresh_only) {
    NodeFrame* cur = mem.node_current;
    if (cur && cur != from && has_room(cur)) return cur;
    NodeFrame* found = nullptr;
    if (!fresh_only) {
        for (NodeFrame* f = cur ? cur->next : nullptr; f && !found; f = f->next)
            if (f != from && has_room(f)) found = f;
        for (NodeFrame* f = mem.node_first; f && f != cur && !found; f = f->next)
            if (f != from && has_room(f)) found = f;
    }
    if (!found) found = memory::new_node_frame();
    mem.node_current = found;
    return found;
}

// Moves every node of the frame to other frames, recording old -> new in the
// map and in each buffer's node word; the frame is then left to the sweep.
void empty_node_frame(NodeFrame* f, bool fresh_only) {
    nodes_moved = true;
    uintptr_t* slots = f->slots();
    for (uint32_t i = 0; i < f->slot_count && f->used > 0; ++i) {
        uintptr_t content = slots[i];
        if (!content || f->owns_address(content)) continue;  // free slot
        NodeFrame* t = target_frame(f, fresh_only);
        uintptr_t* to = t->free_head;
        t->free_head = reinterpret_cast<uintptr_t*>(*to);
        *to = content;
        ++t->used;
        t->received = 1;
        NodeId fresh = memory::node_id(to);
        slots[i] = forwarding(fresh);
        reinterpret_cast<SeriesBuffer*>(content)->node = fresh;
        --f->used;
    }
    f->do_not_use = 1;
}

// Empties the node frames that stayed stable for window + 1 collections and
// are less than half used, while enough free slots remain elsewhere. Under
// stress every frame is emptied into new ones, so every node is renumbered.
void compact_node_frames() {
    for (NodeFrame* f = mem.node_first; f; f = f->next) f->received = 0;
    bool moved = false;
    if (st.stress) {
        NodeFrame* last_old = mem.node_last;
        mem.node_current = nullptr;
        for (NodeFrame* f = mem.node_first; f;) {
            NodeFrame* next = f == last_old ? nullptr : f->next;
            if (f->used) {
                empty_node_frame(f, true);
                moved = true;
            } else {
                f->do_not_use = 1;
            }
            f = next;
        }
    } else {
        NodeFrame* cur = mem.node_first;
        while (cur && !cur->free_head) cur = cur->next;
        if (!cur) return;
        mem.node_current = cur;
        uint32_t mask = (1u << (st.window + 1)) - 1;
        int64_t free = 0;
        for (NodeFrame* f = mem.node_first; f; f = f->next)
            if (has_room(f)) free += f->slot_count - f->used;
        for (NodeFrame* f = mem.node_last; f; f = f->prev) {
            bool stable = (f->history & mask) == mask;
            bool sparse = f->used > 0 && f->used < f->slot_count / 2;
            bool room_elsewhere = free > int64_t(f->slot_count);
            bool movable = f != mem.node_current && !f->received && !f->do_not_use;
            if (!stable || !sparse || !room_elsewhere || !movable) continue;
            free -= f->slot_count;
            empty_node_frame(f, false);
            moved = true;
        }
    }
    if (moved) ++st.nodes_cycles;
}

// ---- Sweeps --------------------------------------------------------------------

void flush_freed_batch() {
    std::sort(freed_batch.begin(), freed_batch.end());
    for (NodeId n : freed_batch) memory::free_node(memory::node_frame_of(n), memory::slot_of(n));
    freed_batch.clear();
}

void sweep_big_blocks() {
    memory::BigBlock* prev = nullptr;
    for (memory::BigBlock* b = mem.big_first; b;) {
        memory::BigBlock* next = b->next;
        SeriesBuffer* buf = b->buffer();
        if (buf->flags & flag::mark) {
            buf->flags &= ~flag::mark;
            prev = b;
        } else {
            if (buf->node) queue_free_node(buf->node);
            memory::free_big_block(b, prev);
        }
        b = next;
    }
}

// Frees emptied node frames and empty ones but one, kept in reserve so that
// a heap hovering at a frame boundary does not map and unmap a frame at
// every cycle; ages the history of the others.
void sweep_node_frames() {
    NodeFrame* with_room = nullptr;
    bool spare_kept = false;
    for (NodeFrame* f = mem.node_first; f;) {
        NodeFrame* next = f->next;
        bool spare = f->used == 0 && !f->do_not_use && !spare_kept;
        if (f->do_not_use || (f->used == 0 && !spare)) {
            memory::free_node_frame(f, st.stress);
        } else {
            spare_kept |= spare;
            if (!with_room && f->free_head) with_room = f;
            f->history = (f->history << 1) | (f->used == f->last_used ? 1u : 0u);
            f->last_used = f->used;
        }
        f = next;
    }
    mem.node_current = with_room ? with_room : mem.node_first;
}

void clear_fixed_marks() {
    for (size_t i = 0; i < memory::fixed_count(); ++i) memory::fixed_at(i)->flags &= ~flag::mark;
}

}  // namespace

void queue_free_node(NodeId node) {
    if (freed_batch.size() >= freed_batch_size) flush_freed_batch();
    freed_batch.push_back(node);
}

namespace {
// Leaves the collector usable when an error (a failed OS call) ends a cycle.
struct CycleScope {
    CycleScope() {
        st.collecting = true;
        std::atomic_thread_fence(std::memory_order_seq_cst);
    }
    ~CycleScope() {
        nodes_moved = false;
        work.clear();
        relocations.clear();
        st.collecting = false;
        std::atomic_thread_fence(std::memory_order_seq_cst);
    }
};
}  // namespace

void collector_run() {
    if (st.collecting) return;
    CycleScope scope;
    if (st.node_compaction) compact_node_frames();
    mark_roots();
    collect_relocations();
    if (nodes_moved) series::cycle_forward(forward_node);
    resources::sweep_external_resources();
    if (owners_purge) owners_purge();
    if (st.stress) compaction::evacuate_series_frames(relocations);
    else compaction::compact_series_frames(relocations);
    sweep_big_blocks();
    flush_freed_batch();
    sweep_node_frames();
    clear_fixed_marks();
    ++st.cycles;
    ++detail::moves;
    memory::layout_changed();
    st.pending = false;
    update_gate();
}

// ---- Statistics ------------------------------------------------------------------

double memory_in_use() {
    double bytes = 0;
    for (NodeFrame* f = mem.node_first; f; f = f->next) bytes += double(f->used) * sizeof(uintptr_t);
    for (memory::SeriesFrame* f = mem.series_first; f; f = f->next) bytes += double(f->bump - f->data());
    for (memory::BigBlock* b = mem.big_first; b; b = b->next) bytes += b->size;
    return bytes;
}

MemoryStats memory_stats() {
    MemoryStats s{};
    for (NodeFrame* f = mem.node_first; f; f = f->next)
        s.node_frames.push_back({f->slot_count - f->used, f->used, f->slot_count});
    for (memory::SeriesFrame* f = mem.series_first; f; f = f->next) {
        auto used = uint32_t(f->bump - f->data());
        auto total = uint32_t(f->end - f->data());
        s.series_frames.push_back({total - used, used, total});
    }
    for (memory::BigBlock* b = mem.big_first; b; b = b->next) s.big_blocks.push_back(b->size);
    s.allocator = platform::allocation_bytes();
    s.reserved = mem.total + s.allocator;
    return s;
}

namespace {
Cell integer_cell(int32_t v, bool new_line) {
    return Cell{type_integer | (new_line ? header::new_line : 0u), 0, uint32_t(v), 0};
}

// integer!, or float! when it does not fit.
Cell count_cell(uint64_t v) {
    if (v <= 2147483647u) return integer_cell(int32_t(v), false);
    Cell c{type_float, 0, 0, 0};
    set_cell_float(c, double(v));
    return c;
}

void append(NodeId block, const Cell& c) { *series::alloc_tail_cell(block) = c; }

// A block of [free used total] entries, each on a new line.
NodeId frame_block(const std::vector<FrameUse>& frames) {
    NodeId outer = memory::alloc_cells(uint32_t(frames.size()));
    for (const FrameUse& u : frames) {
        NodeId entry = memory::alloc_cells(3);
        append(entry, integer_cell(int32_t(u.free), false));
        append(entry, integer_cell(int32_t(u.used), false));
        append(entry, integer_cell(int32_t(u.total), false));
        append(outer, Cell{type_block | header::new_line, 0, entry, 0});
    }
    return outer;
}
}  // namespace

void memory_stats_block(NodeId result) {
    bool was_enabled = st.enabled;
    st.enabled = false;
    MemoryStats s = memory_stats();
    NodeId nodes = frame_block(s.node_frames);
    append(result, Cell{type_block, 0, nodes, 0});
    NodeId frames = frame_block(s.series_frames);
    append(result, Cell{type_block, 0, frames, 0});
    NodeId bigs = memory::alloc_cells(uint32_t(s.big_blocks.size()));
    for (uint32_t size : s.big_blocks) append(bigs, integer_cell(int32_t(size), true));
    append(result, Cell{type_block, 0, bigs, 0});
    append(result, count_cell(s.reserved));
    append(result, count_cell(s.allocator));
    st.enabled = was_enabled;
}

}  // namespace vyr::collector
