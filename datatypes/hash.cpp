#include "datatypes/hash.h"

#include <algorithm>

#include "datatypes/block.h"
#include "runtime/registry.h"
#include "datatypes/series.h"
#include "datatypes/string_buffer.h"
#include "datatypes/checks.h"
#include "runtime/hash.h"
#include "runtime/memory.h"

namespace vyr::hash_t {

namespace {

// Cells indexed by the table: the whole series from its head.
NodeId new_table(const Cell& block) {
    Cell b = block;
    b.w1 = 0;
    int32_t n = series_t::buffer_length(b);
    return hash::make_hash_table(std::max(1, n), &b, hash::kind_block, 0);
}

// After the cells from the index were reordered or dropped: their entries
// leave the table and the cells there now are indexed again.
void reindex_from_index(const Cell& series) {
    NodeId table = series.w3;
    int32_t len = series_t::buffer_length(series);
    int32_t index = std::max(series_t::index_of(series), 0);
    if (table == no_node || index >= len) return;
    hash::hash_table_remove_range(table, uint32_t(index), uint32_t(len - index));
    hash::hash_table_index_all(table, uint32_t(index), 1);
}

}  // namespace

Cell* make_at(Cell* cell, const Cell& block) {
    Cell b = block;
    NodeId table = new_table(b);
    *cell = Cell{type_hash, b.w1, b.w2, table};
    return cell;
}

// ---- Actions --------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    switch (type_of(*spec)) {
        case type_integer:
        case type_float: {
            int32_t n = std::max(1, checks::cell_to_int(*spec));
            Cell b{};
            block_t::make_at(b, n);
            *proto = Cell{type_hash, 0, b.w2, hash::make_hash_table(n, &b, hash::kind_block, 0)};
            return proto;
        }
        case type_block: {
            Cell source = *spec, b{};
            block_t::copy(&source, &b, nullptr, false, nullptr);
            return make_at(proto, b);
        }
        case type_hash: {
            Cell source = *spec;
            return copy(&source, proto, nullptr, false, nullptr);
        }
        default: return to(proto, spec, type);
    }
}

// Anything but a hash! goes through block!'s conversion, whose new block
// the table then indexes as it is.
Cell* to(Cell* proto, Cell* spec, uint32_t) {
    if (type_of(*spec) == type_hash) {
        Cell source = *spec;
        return copy(&source, proto, nullptr, false, nullptr);
    }
    Cell b{};
    block_t::to(&b, spec, type_block);
    return make_at(proto, b);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    if (!only) {
        static constexpr char prefix[] = "make hash! ";
        string_t::append_text(*buffer, prefix);
        budget -= int32_t(sizeof prefix - 1);
    }
    return block_t::mold(value, buffer, only, all, flat, part, budget, indent);
}

// A copy of the whole series takes a copy of the table; any other copy gets
// a table of its own cells.
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    Cell source = *value;
    bool whole = series_t::index_of(source) == 0 && !part && !deep && !types && source.w3 != no_node;
    block_t::copy(&source, result, part, deep, types);
    Cell out = *result;
    set_type(out, type_hash);
    out.w3 = whole ? hash::copy_hash_table(source.w3, out.w2) : new_table(out);
    *result = out;
    return result;
}

Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse, bool stable) {
    block_t::sort(series, case_, skip, comparator, part, all, reverse, stable);
    reindex_from_index(*series);
    return series;
}

Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    block_t::trim(series, head, tail, auto_, lines, all, with);
    reindex_from_index(*series);
    return series;
}

void init() {
    using namespace registry;
    Row row;
    row.inherit({slot_reflect, slot_form, slot_path_access, slot_compare, slot_modify});
    row.inherit(slot_append, slot_clear).inherit(slot_find, slot_select).inherit(slot_skip, slot_take);
    row.set(slot_make, make);
    row.set(slot_to, to);
    row.set(slot_mold, mold);
    row.set(slot_copy, copy);
    row.set(slot_sort, sort);
    row.set(slot_trim, trim);
    row.register_as(type_hash, type_block, "hash!");
}

}  // namespace vyr::hash_t
