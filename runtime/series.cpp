// Series primitives, raw arrays and the cycle-detection stack.
#include "runtime/series.h"

#include <algorithm>
#include <cstring>

#include "runtime/errors.h"

namespace vyr::series {

using memory::buffer_of;
using memory::SeriesBuffer;

namespace {
constexpr int err_too_deep = 8;  // internal `too-deep`
}  // namespace

// ---- Cells -----------------------------------------------------------------

Cell* alloc_tail_cells(NodeId block, uint32_t n) {
    SeriesBuffer* b = buffer_of(block);
    uint64_t bytes = uint64_t(n) * sizeof(Cell);
    while (b->tail + bytes > b->capacity) b = memory::expand_series(block, 0);
    auto* c = reinterpret_cast<Cell*>(b->tail_ptr());
    b->tail += uint32_t(bytes);
    for (uint32_t i = 0; i < n; ++i) c[i].header = type_unset;
    return c;
}

Cell* alloc_tail_cell(NodeId block) { return alloc_tail_cells(block, 1); }

Cell* append_cell(const Cell& block_value) { return alloc_tail_cell(block_value.w2); }

uint8_t* alloc_tail_bytes(NodeId node, uint32_t n) {
    SeriesBuffer* b = buffer_of(node);
    if (uint64_t(b->tail) + n > b->capacity) {
        uint64_t size = n > b->capacity ? 2ull * n : 2ull * b->capacity;
        b = memory::expand_series(node, uint32_t(std::min<uint64_t>(size, uint64_t(memory::max_series_bytes) + 1)));
    }
    uint8_t* p = b->tail_ptr();
    b->tail += n;
    return p;
}

// ---- The root block --------------------------------------------------------

NodeId root_block = no_node;
namespace {
uint32_t root_base = 0;
}  // namespace

void make_root_block() {
    root_block = memory::alloc_fixed_series(root_block_cells, memory::cell_width, 0);
    root_base = 0;
}

void set_root_base(uint32_t first_cell_index) { root_base = first_cell_index; }
Cell* get_root_cell(uint32_t i) { return reinterpret_cast<Cell*>(buffer_of(root_block)->data()) + root_base + i; }
NodeId get_root_node(uint32_t i) { return get_root_cell(i)->w1; }

NodeId copy_series_part(NodeId node, uint32_t offset, uint32_t length) {
    SeriesBuffer* src = buffer_of(node);
    uint32_t width = src->unit() ? src->unit() : 1;
    uint64_t from = std::min<uint64_t>(uint64_t(offset) * width, src->used());
    uint64_t bytes = std::min<uint64_t>(uint64_t(length) * width, src->used() - from);
    NodeId copy = memory::alloc_bytes(uint32_t(bytes));
    SeriesBuffer* b = buffer_of(copy);
    src = buffer_of(node);
    std::memcpy(b->data(), src->head_ptr() + from, bytes);
    b->tail = uint32_t(bytes);
    constexpr uint32_t own = memory::flag::fixed | memory::flag::big | memory::flag::mark;
    b->flags = (src->flags & ~(own | memory::flag::owned | memory::flag::boot_private)) | (b->flags & own);
    return copy;
}

// ---- Raw arrays --------------------------------------------------------------

namespace {
uint32_t width_of(const SeriesBuffer* b) { return b->unit() ? b->unit() : 1; }
}  // namespace

NodeId make_array(uint32_t count, uint32_t width) {
    NodeId a = memory::alloc_bytes(count * width);
    memory::set_unit_width(a, width);
    return a;
}

uint32_t array_length(NodeId a) {
    SeriesBuffer* b = buffer_of(a);
    return b->used() / width_of(b);
}

uint8_t* array_head(NodeId a) { return buffer_of(a)->head_ptr(); }

void array_clear(NodeId a) {
    SeriesBuffer* b = buffer_of(a);
    b->tail = b->head;
}

void array_truncate(NodeId a, uint32_t n) {
    SeriesBuffer* b = buffer_of(a);
    b->tail = b->head + (n - 1) * width_of(b);
}

NodeId array_copy(NodeId a) { return memory::copy_series_buffer(a); }

void array_append_byte(NodeId a, uint8_t byte) { *alloc_tail_bytes(a, 1) = byte; }

uint8_t* array_append_bytes(NodeId a, const void* source, uint32_t length) {
    // A source inside the array itself moves with it when the array grows.
    SeriesBuffer* b = buffer_of(a);
    auto s = uintptr_t(source);
    bool inside = s >= uintptr_t(b->data()) && s < uintptr_t(b->end_ptr());
    uint32_t source_offset = inside ? uint32_t(s - uintptr_t(b->data())) : 0;
    uint8_t* p = alloc_tail_bytes(a, length);
    const void* from = inside ? buffer_of(a)->data() + source_offset : source;
    std::memmove(p, from, length);
    return p;
}

void array_append_int(NodeId a, int32_t value) { std::memcpy(alloc_tail_bytes(a, 4), &value, 4); }

void array_insert_int(NodeId a, int32_t value, uint32_t index) {
    SeriesBuffer* b = buffer_of(a);
    if (uint64_t(b->tail) + 4 > b->capacity) b = memory::expand_series(a, 0);
    uint32_t at = std::min(index * 4, b->used());
    uint8_t* p = b->head_ptr() + at;
    std::memmove(p + 4, p, b->used() - at);
    std::memcpy(p, &value, 4);
    b->tail += 4;
}

int32_t array_find_int(NodeId a, int32_t value) {
    SeriesBuffer* b = buffer_of(a);
    const uint8_t* head = b->head_ptr();
    for (uint32_t off = 0; off + 4 <= b->used(); off += 4) {
        int32_t v;
        std::memcpy(&v, head + off, 4);
        if (v == value) return int32_t(off);
    }
    return -1;
}

int32_t array_pick_int(NodeId a, uint32_t i) {
    int32_t v;
    std::memcpy(&v, array_head(a) + size_t(i - 1) * 4, 4);
    return v;
}

void array_poke_int(NodeId a, uint32_t i, int32_t value) {
    std::memcpy(array_head(a) + size_t(i - 1) * 4, &value, 4);
}

uint8_t array_pick_byte(NodeId a, uint32_t i) { return array_head(a)[i - 1]; }

void array_remove_int(NodeId a, int32_t value) {
    int32_t off = array_find_int(a, value);
    if (off >= 0) array_remove_at(a, uint32_t(off), 4);
}

void array_remove_at(NodeId a, uint32_t byte_offset, uint32_t n) {
    SeriesBuffer* b = buffer_of(a);
    uint32_t used = b->used();
    if (byte_offset >= used) return;
    n = std::min(n, used - byte_offset);
    uint8_t* p = b->head_ptr() + byte_offset;
    std::memmove(p, p + n, used - byte_offset - n);
    b->tail -= n;
}

// ---- Cycle-detection stack ---------------------------------------------------

namespace {
NodeId cycle_stack[cycle_stack_size];
uint32_t cycle_top = 0;

// Appends ASCII text to a string of any unit width.
void append_ascii(NodeId out, const char* text) {
    size_t n = std::strlen(text);
    uint32_t width = width_of(buffer_of(out));
    uint8_t* p = alloc_tail_bytes(out, uint32_t(n * width));
    for (size_t i = 0; i < n; ++i) {
        uint32_t unit = uint8_t(text[i]);
        std::memcpy(p + i * width, &unit, width);  // little-endian: the low bytes
    }
}

const char* placeholder(uint32_t type, bool mold) {
    if (!mold) return "...";
    switch (type) {
        case type_block:
        case type_hash: return "[...]";
        case type_paren: return "(...)";
        case type_map: return "#[...]";
        case type_object: return "make object! [...]";
        default: return "...";
    }
}
}  // namespace

void cycle_push(NodeId node) {
    cycle_stack[cycle_top++] = node;
    if (cycle_top >= cycle_stack_size) {
        cycle_top = 0;
        raise_error(err_cat::internal, err_too_deep);
    }
}

void cycle_pop() {
    if (cycle_top) --cycle_top;
}

void cycle_pop_n(uint32_t n) { cycle_top = n > cycle_top ? 0 : cycle_top - n; }
void cycle_reset() { cycle_top = 0; }
uint32_t cycle_depth() { return cycle_top; }

bool cycle_find(NodeId node) {
    for (uint32_t i = 0; i < cycle_top; ++i)
        if (cycle_stack[i] == node) return true;
    return false;
}

NodeId cycle_key(const Cell& value) {
    uint32_t t = type_of(value);
    return t == type_object || t == type_error || t == type_port ? value.w1 : value.w2;
}

bool mold_cycle(const Cell& value, NodeId out, int32_t& budget, bool mold) {
    if (!cycle_find(cycle_key(value))) return false;
    const char* text = placeholder(type_of(value), mold);
    append_ascii(out, text);
    budget -= int32_t(std::strlen(text));
    return true;
}

void cycle_forward(NodeId (*forward)(NodeId)) {
    for (uint32_t i = 0; i < cycle_top; ++i) cycle_stack[i] = forward(cycle_stack[i]);
}

}  // namespace vyr::series
