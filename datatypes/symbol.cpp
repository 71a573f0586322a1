// symbol!: interning entry points, the cached strings, and compare.
#include "datatypes/symbol.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/registry.h"
#include "datatypes/string_buffer.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/unicode.h"

namespace vyr::symbol_t {

using memory::buffer_of;
using memory::SeriesBuffer;

namespace {

Cell* cell_of(int32_t id) { return memory::cell_at(symbols::symbol_block, uint32_t(id - 1)); }
bool valid_id(int32_t id) { return id > 0 && uint32_t(id) <= count(); }

// A string series holding the UTF-8 name decoded, at the narrowest unit.
NodeId decode_name(NodeId name) {
    SeriesBuffer* nb = buffer_of(name);
    unicode::Utf8Extent e = unicode::utf8_measure(nb->head_ptr(), nb->used(), 1, false);
    NodeId s = memory::alloc_units(uint32_t(e.units) + 1, e.width);
    nb = buffer_of(name);
    size_t units = unicode::utf8_decode_units(nb->head_ptr(), e.consumed, buffer_of(s)->head_ptr(), e.width, false);
    buffer_of(s)->tail = buffer_of(s)->head + uint32_t(units * e.width);
    return s;
}

}  // namespace

uint32_t count() { return symbols::symbol_block ? memory::series_length(symbols::symbol_block) : 0; }

int32_t intern_text(const uint8_t* bytes, uint32_t length) {
    return symbols::intern_symbol(symbols::symbol_table, bytes, length, false);
}

int32_t make(const char* text) { return intern_text(reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text))); }

int32_t make_alias_free(const char* text) {
    return symbols::intern_symbol(symbols::symbol_table, reinterpret_cast<const uint8_t*>(text),
                                  uint32_t(std::strlen(text)), true);
}

int32_t from_string(const Cell& string, int32_t limit) {
    SeriesBuffer* b = buffer_of(string.w2);
    uint32_t width = b->unit() ? b->unit() : 1;
    uint32_t length = b->length();
    uint32_t from = std::min(string.w1, length);
    uint32_t n = length - from;
    if (limit >= 0) n = std::min(n, uint32_t(limit));
    std::vector<uint8_t> utf8(unicode::utf8_conversion_size(n, width));
    size_t bytes = unicode::utf8_encode_units(b->head_ptr() + size_t(from) * width, n, width, utf8.data(), false, false);
    return intern_text(utf8.data(), uint32_t(bytes));
}

Cell* get(int32_t id) {
    if (cell_of(id)->w2 == 0) {
        NodeId s = decode_name(cell_of(id)->w3);
        cell_of(id)->w2 = s;
    }
    return cell_of(id);
}

int32_t alias_of(int32_t id) { return symbols::alias_of(id); }

int32_t resolve_alias(int32_t id) { return symbols::resolve_alias(id); }

const uint8_t* c_text(int32_t id) {
    NodeId s = get(id)->w2;
    SeriesBuffer* b = buffer_of(s);
    uint32_t width = b->unit() ? b->unit() : 1;
    if (b->tail + width > b->capacity) b = memory::expand_series(s, 0);
    std::memset(b->tail_ptr(), 0, width);
    return b->head_ptr();
}

std::string_view name(int32_t id) {
    if (!valid_id(id)) return {};
    SeriesBuffer* b = buffer_of(cell_of(id)->w3);
    return {reinterpret_cast<const char*>(b->head_ptr()), b->used()};
}

// ---- Actions ----------------------------------------------------------------

namespace {

}  // namespace

// Through the cached spellings, as texts are compared.
int32_t compare_spellings(int32_t a, int32_t b, int32_t op) {
    Cell x = *get(a);
    Cell y = *get(b);
    return string_t::compare_strings(x, y, op, false);
}

namespace {
// A copy of a symbol cell with its cached string made (through the symbol
// of the same name in the symbol block).
Cell with_spelling(const Cell& symbol) {
    if (symbol.w2) return symbol;
    SeriesBuffer* name = buffer_of(symbol.w3);
    return *get(intern_text(name->head_ptr(), name->used()));
}
}  // namespace

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (type_of(*b) != type_symbol) return registry::not_comparable;
    Cell x = with_spelling(*a);
    Cell y = with_spelling(*b);
    return string_t::compare_strings(x, y, op, false);
}

void init() {
    registry::Row row;
    row.set(registry::slot_compare, compare);
    row.register_as(type_symbol, 0, "symbol!");
}

}  // namespace vyr::symbol_t
