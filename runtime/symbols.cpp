// Symbol table and context word lookup (see symbols.h).
#include "runtime/symbols.h"

#include <cstring>

#include "runtime/collector.h"
#include "runtime/hash.h"
#include "runtime/series.h"

namespace vyr::symbols {

namespace {
Cell* symbol_cell(int32_t id) { return memory::cell_at(symbol_block, uint32_t(id - 1)); }
bool valid_symbol(int32_t id) { return id > 0 && symbol_block && uint32_t(id) <= memory::series_length(symbol_block); }
}  // namespace

int32_t alias_of(int32_t id) { return valid_symbol(id) ? int32_t(symbol_cell(id)->w1) : no_alias; }

int32_t resolve_alias(int32_t id) { return CanonicalIds()(id); }

using hash::bucket::empty;
using hash::bucket::live;
namespace field = hash::field;

NodeId symbol_block = no_node;
NodeId symbol_table = no_node;

void make_symbol_block() {
    hash::hash_tables_init();
    symbol_block = memory::alloc_cells(symbol_block_cells);
    collector::add_root(&symbol_block, collector::RootKind::series);
}

void make_symbol_table() {
    Cell block{type_block, 0, symbol_block, 0};
    symbol_table = hash::make_hash_table(symbol_table_size, &block, hash::kind_symbols, 1);
    collector::add_root(&symbol_table, collector::RootKind::hash_table);
}

namespace {

// Re-buckets a full name table 16 or 32 times larger (before the search, so
// that the bucket a miss ends on stays valid for the insertion).
void grow_if_full(NodeId table) {
    uint32_t* r = &hash::record(table, 0);
    if (r[field::occupied] < r[field::bound]) return;
    hash::hash_table_rehash(table, hash::regrow_size(r[field::buckets], r[field::count]) * name_table_growth);
}

struct NameProbe {
    int32_t index = -1;    // cell index of the symbol met, or -1
    int32_t variant = -1;  // exact walks: the first symbol met that differs only in letter case
    int64_t stop = -1;     // the empty bucket the search ended on
};

// Walks the probe sequence of a folded-name hash for a symbol of the same
// byte length whose name compares equal (exactly or ASCII-case-insensitive).
// An exact walk also notes the first case variant on the way, so that a new
// symbol finds its alias in the same walk.
NameProbe probe_name(NodeId table, uint32_t h, const uint8_t* name, uint32_t length, bool case_sensitive) {
    uint32_t* r = &hash::record(table, 0);
    const uint32_t* flags = hash::flags_array(table);
    const int32_t* keys = hash::keys_array(table);
    const Cell* cells = memory::cell_head(r[field::backing]);
    uint32_t mask = r[field::buckets] - 1;
    uint32_t b = h & mask, first = b, step = 0;
    NameProbe p;
    for (;;) {
        uint32_t f = hash::flag_at(flags, b);
        if (f == empty) {
            p.stop = b;
            return p;
        }
        if (f == live) {
            memory::SeriesBuffer* nb = memory::buffer_of(cells[keys[b]].w3);
            if (nb->used() == length && hash::compare_names(nb->head_ptr(), name, length, case_sensitive) == 0) {
                p.index = keys[b];
                return p;
            }
            if (case_sensitive && p.variant < 0 && nb->used() == length &&
                hash::compare_names(nb->head_ptr(), name, length, false) == 0)
                p.variant = keys[b];
        }
        b = hash::next_bucket(b, step, mask);
        if (b == first) return p;
    }
}

// Appends the symbol cell and indexes it in bucket b; answers its id.
int32_t make_symbol(NodeId table, uint32_t b, const uint8_t* name, uint32_t length, int32_t alias) {
    NodeId name_node = memory::alloc_bytes(length + 1);
    memory::SeriesBuffer* nb = memory::buffer_of(name_node);
    std::memcpy(nb->data(), name, length);
    nb->data()[length] = 0;
    nb->tail = length;
    NodeId block = hash::record(table, field::backing);
    uint32_t n = memory::series_length(block);
    *series::alloc_tail_cell(block) = Cell{type_symbol, uint32_t(alias), 0, name_node};
    hash::keys_array(table)[b] = int32_t(n);
    hash::set_flag(hash::flags_array(table), b, live);
    hash::record(table, field::count) += 1;
    hash::record(table, field::occupied) += 1;
    return int32_t(n) + 1;
}

}  // namespace

int32_t intern_symbol(NodeId table, const uint8_t* name, uint32_t length, bool lookup) {
    grow_if_full(table);
    uint32_t h = hash::hash_bytes(hash::fold_name_lower(name, length), length);
    NameProbe first = probe_name(table, h, name, length, !lookup);
    if (first.index >= 0) return first.index + 1;
    int32_t alias = no_alias;
    if (!lookup && first.variant >= 0) alias = resolve_alias(first.variant + 1);
    if (first.stop < 0) {  // no empty bucket: cannot happen below the bound
        hash::hash_table_rehash(table, hash::record(table, field::buckets) * 2);
        return intern_symbol(table, name, length, lookup);
    }
    return make_symbol(table, uint32_t(first.stop), name, length, alias);
}

// The hot lookup of binding and of every word the loader makes: the arrays'
// addresses are read once, and nothing in the probe loop allocates.
int32_t context_find_word(NodeId table, int32_t symbol, bool fold, NodeId context, int32_t* index) {
    if (context) grow_if_full(table);
    CanonicalIds canonical_of;
    int32_t canonical = canonical_of(symbol);
    int32_t target = fold ? canonical : symbol;
    uint32_t* r = &hash::record(table, 0);
    uint32_t* flags = hash::flags_array(table);
    int32_t* keys = hash::keys_array(table);
    NodeId words = r[field::backing];
    const Cell* word_cells = memory::cell_head(words);
    uint32_t mask = r[field::buckets] - 1;
    uint32_t b = hash::hash_int32(uint32_t(canonical)) & mask, first = b, step = 0;
    for (;;) {
        uint32_t f = hash::flag_at(flags, b);
        if (f == empty) break;
        if (f == live) {
            auto s = int32_t(word_cells[keys[b]].w2);
            if (s == target || (fold && canonical_of(s) == target)) {
                if (context && index) *index = keys[b];
                return keys[b];
            }
        }
        b = hash::next_bucket(b, step, mask);
        if (b == first) return -1;
    }
    if (!context) return -1;
    uint32_t n = memory::series_length(words);
    *series::alloc_tail_cell(words) = Cell{type_word, context, uint32_t(symbol), n};
    keys[b] = int32_t(n);
    hash::set_flag(flags, b, live);
    r[field::count] += 1;
    r[field::occupied] += 1;
    if (index) *index = int32_t(n);
    return -1;
}

NodeId context_words_node(const Cell& context) { return hash::record(context.w1, field::backing); }
memory::SeriesBuffer* context_words_buffer(const Cell& context) {
    return memory::buffer_of(context_words_node(context));
}
Cell* context_word_at(const Cell& context, int32_t i) {
    return memory::cell_at(context_words_node(context), uint32_t(i));
}

}  // namespace vyr::symbols
