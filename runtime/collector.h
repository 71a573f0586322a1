// The collector: a stop-the-world mark-and-compact collector that runs only
// at safe points.
//
// The rule every caller keeps: never hold a raw pointer or reference into a
// series buffer (a cell of a block, a context's value, a byte of a string)
// across anything that can evaluate Vyr code (a callback, a trace event, a
// change handler, a paren) or allocate. Any of them may reach a safe point,
// which moves buffers and renumbers nodes. Copy the value onto the argument
// stack (or into a rooted cell), keep positions as indexes, and read the
// buffer again afterwards.
//
// When it runs:
//   - `safe_point()` runs a cycle when one is pending (an allocation found the
//     frames full) or always under VYR_GC_STRESS=1, provided collection is
//     enabled and no CollectionHold is alive. The evaluator calls it before
//     each expression and on function entry;
//   - `recycle()` runs a cycle even when collection is disabled.
// An allocation never collects.
//
// What a cycle does: empties sparse node frames (renumbering their nodes),
// marks from the roots with an explicit work stack (no recursion, so nesting
// depth costs heap, not machine stack), releases unmarked external
// resources, compacts the series frames (moving live buffers down or into
// the previous frame), frees unmarked big blocks, nodes and empty frames.
// Under stress it moves every live buffer of the frames and renumbers every
// node, so a stale address or node id shows up at once.
//
// What survives a cycle: everything reachable from a root. Roots are the
// root block, the permanent roots that modules register (`add_root`,
// `add_root_cells`, mark callbacks), the external-reference table, and the
// slots registered for the duration of a C++ scope with NodeRoot, CellRoot
// and AddressRoot, and the cells held on the scoped cell stack (Held). A
// node id held anywhere else may be renumbered or freed;
// a raw buffer address held anywhere but an AddressRoot may go stale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace vyr::collector {

// ---- Running ---------------------------------------------------------------

namespace detail {
extern bool gate;  // a cycle is pending, or stress mode is on
extern uint32_t moves;  // cycles run so far (never reset): each may move buffers and renumber nodes
void safe_point_slow();
}  // namespace detail

// Changes with every cycle: an address read from a buffer that only a cycle
// moves (one that nothing writes to) stays valid while it is unchanged.
inline uint32_t moves() { return detail::moves; }

// A point where the caller holds no unregistered node id or buffer address.
// Runs a cycle when one is pending (or always under stress) and collection is
// enabled and not held. Everything may move here.
inline void safe_point() {
    if (detail::gate) detail::safe_point_slow();
}
// Runs a cycle now, even with collection disabled; when a CollectionHold is
// alive the cycle is only made pending. Answers whether it ran.
bool recycle();
// One cycle, unconditionally (the cycle of `recycle`; for tests).
void collector_run();
// Runs a cycle when collection is enabled and not held.
void collect_if_enabled();
// Asks for a cycle at the next safe point (the memory manager calls it when
// it takes a new frame or a big block).
void request_collection();
bool collection_pending();

// The collector-enable flag: false during start-up; `recycle/on` and `/off`.
void set_enabled(bool on);
bool enabled();
// Stress mode: read from VYR_GC_STRESS=1 by collector_reset; tests may set it.
void set_stress(bool on);
bool stress_mode();

// Counters 0, stability window 5, stress mode from the environment. The
// last step of the runtime start-up.
void collector_reset();
bool is_collecting();
// Drops the permanent roots, root cells and mark callbacks (the heap they
// named is gone); called by memory::free_all_frames.
void forget_roots();
// Counts forget_roots calls: a module that keeps node ids of a heap compares
// it with the count it saw to know whether that heap still exists.
uint32_t heap_generation();
uint32_t cycles();        // completed cycles
uint32_t nodes_cycles();  // cycles that renumbered nodes (hash tables keyed by node re-index)

// Node compaction (renumbering nodes) on or off; answers the former state.
// A hash-table operation that must not see node ids change turns it off.
bool set_node_compaction(bool on);

// Holds collection off for its lifetime: safe points and recycle only make
// the cycle pending. For C++ code that keeps raw addresses it cannot register.
class CollectionHold {
public:
    CollectionHold();
    ~CollectionHold();
    CollectionHold(const CollectionHold&) = delete;
    CollectionHold& operator=(const CollectionHold&) = delete;
};

// Keeps node ids stable (no node compaction) for its lifetime.
class NodeMoveHold {
public:
    NodeMoveHold() : former_(set_node_compaction(false)) {}
    ~NodeMoveHold() { set_node_compaction(former_); }
    NodeMoveHold(const NodeMoveHold&) = delete;
    NodeMoveHold& operator=(const NodeMoveHold&) = delete;

private:
    bool former_;
};

// ---- The relocation registry: roots for the lifetime of a C++ scope --------
// Guards link themselves into one list; destroy them in any order. They
// cannot be copied or moved (the collector holds their address).

namespace detail {
enum class SlotKind : uint32_t { node, cells, address };
struct RootLink {
    RootLink* prev;
    RootLink* next;
    SlotKind kind;
    void* slot;
    size_t count;
};
void link_root(RootLink* link);
void unlink_root(RootLink* link);
}  // namespace detail

// The node held in `slot` is a root (its cells too, for a block); a cycle
// that renumbers the node rewrites the slot. The slot may be 0.
class NodeRoot {
public:
    explicit NodeRoot(NodeId& slot) : link_{nullptr, nullptr, detail::SlotKind::node, &slot, 1} {
        detail::link_root(&link_);
    }
    ~NodeRoot() { detail::unlink_root(&link_); }
    NodeRoot(const NodeRoot&) = delete;
    NodeRoot& operator=(const NodeRoot&) = delete;

private:
    detail::RootLink link_;
};

// C++-owned cells (locals, module globals; not cells inside a series) are
// roots; node references in them are rewritten when nodes are renumbered.
class CellRoot {
public:
    explicit CellRoot(Cell* cells, size_t count = 1) : link_{nullptr, nullptr, detail::SlotKind::cells, cells, count} {
        detail::link_root(&link_);
    }
    ~CellRoot() { detail::unlink_root(&link_); }
    CellRoot(const CellRoot&) = delete;
    CellRoot& operator=(const CellRoot&) = delete;

private:
    detail::RootLink link_;
};

// A raw address into a series buffer held in `slot` (any pointer type) is
// moved with its buffer by compaction. It does not keep the buffer alive:
// root the node as well. Addresses outside the series frames are left alone.
class AddressRoot {
public:
    template <typename T>
    explicit AddressRoot(T*& slot) : link_{nullptr, nullptr, detail::SlotKind::address, &slot, 1} {
        detail::link_root(&link_);
    }
    ~AddressRoot() { detail::unlink_root(&link_); }
    AddressRoot(const AddressRoot&) = delete;
    AddressRoot& operator=(const AddressRoot&) = delete;

private:
    detail::RootLink link_;
};

// ---- Cells held for a C++ scope --------------------------------------------
// A fixed stack of cells that the collector marks up to its top: Held takes
// n cells for the lifetime of a scope (set to none), and the collector
// rewrites their nodes when it renumbers them. Cheaper than a CellRoot (a
// bump of the top instead of a list link); the evaluator keeps here the
// blocks it walks and the callables it calls. Scopes nest, so the cells are
// given back in the reverse order, by destructors, also when an error
// unwinds through.

namespace detail {
inline constexpr uint32_t held_capacity = 1u << 17;
extern Cell held_cells[held_capacity];
extern uint32_t held_top;
[[noreturn]] void held_overflow();  // internal error stack-overflow
}  // namespace detail

class Held {
public:
    explicit Held(uint32_t n) : at_(detail::held_top) {
        if (detail::held_capacity - at_ < n) detail::held_overflow();
        detail::held_top = at_ + n;
        for (uint32_t i = 0; i < n; ++i) detail::held_cells[at_ + i] = Cell{type_none, 0, 0, 0};
    }
    // One cell, set to `value` (no none first).
    explicit Held(const Cell& value) : at_(detail::held_top) {
        if (detail::held_capacity == at_) detail::held_overflow();
        detail::held_cells[at_] = value;
        detail::held_top = at_ + 1;
    }
    // Two cells, set to `a` and `b`.
    Held(const Cell& a, const Cell& b) : at_(detail::held_top) {
        if (detail::held_capacity - at_ < 2) detail::held_overflow();
        detail::held_cells[at_] = a;
        detail::held_cells[at_ + 1] = b;
        detail::held_top = at_ + 2;
    }
    ~Held() { detail::held_top = at_; }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    Cell& operator[](uint32_t i) const { return detail::held_cells[at_ + i]; }

private:
    uint32_t at_;
};

// ---- Permanent roots and hooks for other modules ---------------------------

enum class RootKind : uint32_t {
    node_only,   // the buffer only (argument and call-frame stack blocks)
    series,      // the buffer and, for a block or context, its cells
    hash_table,  // marked by the hash-table marker (symbol table, owners table)
};
// Registers a module global holding a node (0 allowed). Marked every cycle;
// rewritten when the node is renumbered.
void add_root(NodeId* slot, RootKind kind);
// Registers C++-owned cells (e.g. the evaluator's position cell) as roots.
void add_root_cells(Cell* cells, size_t count);

// A routine the collector calls during marking, after the permanent roots.
// It marks what only it knows (argument-stack cells, call frames, lexer
// states, a codec's tables) with the mark_* functions below. It must not
// allocate.
using MarkCallback = void (*)();
void add_mark_callback(MarkCallback fn);
void remove_mark_callback(MarkCallback fn);  // its entry becomes null

// Marks a hash table reached through `table` (context word tables, hash!
// and map! indexes, the symbol table). The hash-table module installs it; it
// should start with `if (!mark_node(table)) return;` and then mark every
// node of the record with mark_node / mark_block. Until it is installed a
// table is marked as a plain series.
using HashTableMarker = void (*)(NodeId* table);
void set_hash_table_marker(HashTableMarker fn);
// Called for every image! cell with a bitmap node, after marking that node.
using ImageMarker = void (*)(NodeId bitmap);
void set_image_marker(ImageMarker fn);
// Called after marking, before compaction: drops owners-table entries whose
// key or owner was not marked (use is_marked).
using PurgeHook = void (*)();
void set_owners_purge(PurgeHook fn);

// ---- Marking (only inside a cycle: callbacks and hooks) --------------------
// None of these recurses: nested blocks go on the collector's work stack.

// Forwards *ref through the node renumbering of this cycle, then marks its
// buffer. Answers whether it was newly marked.
bool mark_node(NodeId* ref);
// mark_node; when newly marked and the buffer holds cells, its cells (head
// to tail) are marked too. Also marks a context (its series holds the
// context cell and the self cell).
void mark_block(NodeId* ref);
inline void mark_context(NodeId* ref) { mark_block(ref); }
// mark_block on a block value's node (payload word 2).
inline void mark_block_cell(Cell* cell) { mark_block(&cell->w2); }
// Marks what each cell refers to, by type; rewrites renumbered nodes in place.
void mark_cells(Cell* first, Cell* end);
void mark_hash_table(NodeId* table);
void unmark_node(NodeId node);
bool is_marked(NodeId node);
// A node renumbered by this cycle answers its new id; any other its own.
NodeId forward_node(NodeId node);

// ---- Statistics ------------------------------------------------------------

struct FrameUse {
    uint32_t free;
    uint32_t used;
    uint32_t total;
};
struct MemoryStats {
    std::vector<FrameUse> node_frames;    // slots
    std::vector<FrameUse> series_frames;  // bytes of the data area
    std::vector<uint32_t> big_blocks;     // bytes
    uint64_t reserved;                    // frames, big blocks and the general allocator's blocks
    uint64_t allocator;                   // the general allocator's part of it
};
// Mode 1: bytes in use (used node slots, series-frame bytes below the bump
// pointers, big blocks).
double memory_in_use();
// Mode 2 as plain data.
MemoryStats memory_stats();
// Mode 2 as values: appends to the block five cells: a block of node-frame
// entries [free used total], a block of series-frame entries, a block of
// big-block sizes, the reserved total and the allocator part (integer!, or
// float! above 2147483647). Per-frame entries and sizes carry the new-line
// marker. Allocates; collects nothing.
void memory_stats_block(NodeId result);

}  // namespace vyr::collector
