// External-resource registry and external-reference table.
#include "runtime/resources.h"

#include <vector>

#include "runtime/memory.h"
#include "runtime/series.h"

namespace vyr::resources {

namespace {

struct Kind {
    const char* name;
    ReleaseFn release;
};

struct Entry {
    uint32_t flags;  // kind and res_flag bits
    int32_t next;    // next entry of the same list, -1 at its end
    void* object;
};

Kind kinds[max_kinds];
uint32_t kind_count = 0;
// The table lives as long as the process: it is not destroyed at exit,
// so the host objects in it stay reachable to the very end.
std::vector<Entry>& entries = *new std::vector<Entry>;
int32_t used_head = -1;
int32_t free_head = -1;

// Chains entries [from, to) into a free list in index order, ending with -1.
void chain_free(uint32_t from, uint32_t to) {
    for (uint32_t i = from; i < to; ++i) entries[i] = Entry{res_flag::free, i + 1 < to ? int32_t(i + 1) : -1, nullptr};
}

// Doubles the table; the last free entry is linked to the first new one.
void grow_table(int32_t last_free) {
    uint32_t old = uint32_t(entries.size());
    entries.resize(old ? old * 2 : initial_entries);
    chain_free(old, uint32_t(entries.size()));
    if (last_free >= 0) entries[last_free].next = int32_t(old);
    else free_head = int32_t(old);
}

bool in_use(int32_t slot) {
    return slot >= 0 && uint32_t(slot) < entries.size() && !(entries[slot].flags & res_flag::free);
}

// Unlinks a used entry from the used list.
void unlink_used(int32_t slot) {
    if (used_head == slot) {
        used_head = entries[slot].next;
        return;
    }
    for (int32_t i = used_head; i >= 0; i = entries[i].next) {
        if (entries[i].next == slot) {
            entries[i].next = entries[slot].next;
            return;
        }
    }
}

void push_free(int32_t slot) {
    entries[slot] = Entry{res_flag::free, free_head, nullptr};
    free_head = slot;
}

}  // namespace

void resource_tables_init() {
    for (Kind& k : kinds) k = Kind{nullptr, nullptr};
    kind_count = 0;
    entries.assign(initial_entries, Entry{});
    chain_free(0, initial_entries);
    used_head = -1;
    free_head = 0;
}

uint32_t register_resource_kind(const char* name, ReleaseFn release) {
    if (kind_count >= max_kinds) return 0;
    kinds[kind_count++] = Kind{name, release};
    return kind_count;
}

int32_t add_external_resource(void* object, uint32_t flags) {
    if (free_head < 0 || entries[free_head].next < 0) grow_table(free_head);
    int32_t slot = free_head;
    free_head = entries[slot].next;
    entries[slot] = Entry{flags & ~(res_flag::free | res_flag::mark), used_head, object};
    used_head = slot;
    return slot;
}

int32_t remove_external_resource(int32_t slot, bool release) {
    if (!in_use(slot)) return -1;
    if (release) release_external_object(entries[slot].flags, entries[slot].object);
    unlink_used(slot);
    push_free(slot);
    return -1;
}

bool mark_external_resource(int32_t slot, void* object) {
    if (!in_use(slot)) return false;
    Entry& e = entries[slot];
    bool was_unmarked = !(e.flags & res_flag::mark);
    e.flags |= res_flag::mark;
    if (object) e.object = object;
    return was_unmarked;
}

void replace_external_object(int32_t slot, void* object) {
    if (!in_use(slot)) return;
    void* old = entries[slot].object;
    entries[slot].object = object;
    if (old != object) release_external_object(entries[slot].flags, old);
}

void release_external_object(uint32_t flags, void* object) {
    uint32_t kind = flags & res_flag::kind_mask;
    if (kind > 0 && kind <= kind_count && kinds[kind - 1].release) kinds[kind - 1].release(object);
}

void for_each_external_resource(uint32_t kind, void (*fn)(void* object)) {
    for (int32_t i = used_head; i >= 0; i = entries[i].next)
        if ((entries[i].flags & res_flag::kind_mask) == kind) fn(entries[i].object);
}

void sweep_external_resources() {
    int32_t kept = -1;  // the last entry kept on the used list
    for (int32_t i = used_head; i >= 0;) {
        int32_t next = entries[i].next;
        if (entries[i].flags & res_flag::mark) {
            entries[i].flags &= ~res_flag::mark;
            kept = i;
        } else {
            release_external_object(entries[i].flags, entries[i].object);
            if (kept < 0) used_head = next;
            else entries[kept].next = next;
            push_free(i);
        }
        i = next;
    }
}

void* external_object(int32_t slot) { return in_use(slot) ? entries[slot].object : nullptr; }
uint32_t external_entry_count() { return uint32_t(entries.size()); }

// ---- External-reference table ----------------------------------------------

namespace {
NodeId extref_block = no_node;
int32_t extref_free = -1;

// Rewrites cells [from, to) as free integer! cells chained in index order,
// the last one continuing with `then`; the tail covers the whole capacity.
void chain_extref(uint32_t from, uint32_t to, int32_t then) {
    memory::SeriesBuffer* b = memory::buffer_of(extref_block);
    auto* cells = reinterpret_cast<Cell*>(b->data());
    for (uint32_t i = from; i < to; ++i) {
        int32_t next = i + 1 < to ? int32_t(i + 1) : then;
        cells[i] = Cell{type_integer, 0, uint32_t(next), 0};
    }
    b->head = 0;
    b->tail = b->capacity;
}

uint32_t extref_cells() { return memory::buffer_of(extref_block)->capacity / memory::cell_width; }
}  // namespace

void extref_init() {
    extref_block = memory::alloc_cells(extref_initial_cells);
    chain_extref(0, extref_cells(), -1);
    extref_free = 0;
}

uint32_t extref_add(const Cell& value) {
    Cell v = value;  // the source may lie in the block, which may move
    if (extref_free < 0) {
        uint32_t old = extref_cells();
        memory::expand_series(extref_block, 0);
        chain_extref(old, extref_cells(), -1);
        extref_free = int32_t(old);
    }
    Cell* cell = memory::cell_at(extref_block, uint32_t(extref_free));
    uint32_t index = uint32_t(extref_free);
    extref_free = int32_t(cell->w2);
    *cell = v;
    return index + 1;
}

Cell* extref_get(uint32_t index) {
    if (index == 0 || index > extref_cells()) return nullptr;
    return memory::cell_at(extref_block, index - 1);
}

void extref_remove(uint32_t index) {
    if (index == 0 || index > extref_cells()) return;
    *memory::cell_at(extref_block, index - 1) = Cell{type_integer, 0, uint32_t(extref_free), 0};
    extref_free = int32_t(index - 1);
}

NodeId* extref_root() { return &extref_block; }

}  // namespace vyr::resources
