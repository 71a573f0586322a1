// Hashing and value hash tables (see hash.h).
#include "runtime/hash.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/registry.h"
#include "runtime/case_tables.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/series.h"
#include "runtime/symbols.h"

namespace vyr::hash {

using memory::buffer_of;
using memory::SeriesBuffer;

// ---- Hash functions ----------------------------------------------------------

namespace {

constexpr uint32_t murmur_c1 = 0xCC9E2D51;
constexpr uint32_t murmur_c2 = 0x1B873593;
constexpr uint32_t murmur_n = 0xE6546B64;

inline uint32_t rotl32(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }
inline uint32_t mix_block(uint32_t k) { return rotl32(k * murmur_c1, 15) * murmur_c2; }
inline uint32_t mix_state(uint32_t h, uint32_t k) { return rotl32(h ^ mix_block(k), 13) * 5 + murmur_n; }

std::vector<uint8_t> fold_buffer(256);
uint32_t money_sign_mask = 0;
MapKeyNormalizer map_key_normalizer = nullptr;

}  // namespace

uint32_t hash_bytes(const void* data, size_t length) {
    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t h = hash_seed;
    size_t blocks = length / 4;
    for (size_t i = 0; i < blocks; ++i, p += 4)
        h = mix_state(h, uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
    uint32_t k = 0;
    switch (length & 3) {
        case 3: k ^= uint32_t(p[2]) << 16; [[fallthrough]];
        case 2: k ^= uint32_t(p[1]) << 8; [[fallthrough]];
        case 1: k ^= p[0]; h ^= mix_block(k);
    }
    return hash_int32(h ^ uint32_t(length));
}

uint32_t hash_string(const Cell& value) {
    SeriesBuffer* b = buffer_of(value.w2);
    uint32_t width = b->unit() ? b->unit() : 1;
    uint32_t count = b->length();
    uint32_t h = hash_seed;
    const uint8_t* head = b->head_ptr();
    for (uint32_t i = value.w1; i < count; ++i) {
        uint32_t cp = 0;
        std::memcpy(&cp, head + size_t(i) * width, width);  // little-endian units
        h = mix_state(h, case_tables::change_char_case(cp, true));
    }
    uint32_t n = count > value.w1 ? count - value.w1 : 0;
    return hash_int32(h ^ (4 * n));
}

const uint8_t* fold_name_lower(const uint8_t* bytes, uint32_t length) {
    if (fold_buffer.size() < length) fold_buffer.resize(length);
    for (uint32_t i = 0; i < length; ++i) {
        uint8_t c = bytes[i];
        fold_buffer[i] = (c >= 'A' && c <= 'Z') ? uint8_t(c | 0x20) : c;
    }
    return fold_buffer.data();
}

uint32_t hash_symbol_name(const Cell& symbol) {
    SeriesBuffer* b = buffer_of(symbol.w3);
    return hash_bytes(fold_name_lower(b->head_ptr(), b->used()), b->used());
}

// The whole length is compared: a NUL inside a name (an issue made from any
// text) does not end the comparison early.
int compare_names(const uint8_t* a, const uint8_t* b, uint32_t length, bool case_sensitive) {
    if (case_sensitive) return std::memcmp(a, b, length);
    for (uint32_t i = 0; i < length; ++i) {
        int x = (a[i] >= 'A' && a[i] <= 'Z') ? a[i] | 0x20 : a[i];
        int y = (b[i] >= 'A' && b[i] <= 'Z') ? b[i] | 0x20 : b[i];
        if (x != y) return x - y;
    }
    return 0;
}

void set_money_sign_mask(uint32_t mask) { money_sign_mask = mask; }

uint32_t hash_any_value(const Cell& v) {
    switch (type_of(v)) {
        case type_integer:
        case type_char: return hash_int32(v.w2);
        case type_word:
        case type_set_word:
        case type_get_word:
        case type_lit_word:
        case type_refinement:
        case type_issue: return hash_int32(uint32_t(symbols::resolve_alias(int32_t(v.w2))));
        case type_symbol: return hash_symbol_name(v);
        case type_string:
        case type_file:
        case type_url:
        case type_tag:
        case type_email:
        case type_ref: return hash_string(v);
        case type_float:
        case type_percent:
        case type_time:
        case type_pair: return hash_bytes(&v.w2, 8);
        case type_point2d:
        case type_block:
        case type_paren:
        case type_hash:
        case type_path:
        case type_lit_path:
        case type_set_path:
        case type_get_path:
        case type_image: return hash_bytes(&v.w1, 8);
        case type_point3d:
        case type_op:
        case type_function:
        case type_typeset:
        case type_triple:
        case type_date: return hash_bytes(&v.w1, 12);
        case type_tuple: {
            uint32_t n = (v.header & header::tuple_size_mask) >> header::tuple_size_shift;
            return hash_bytes(&v.w1, std::min<uint32_t>(n, 12));
        }
        case type_binary: {
            SeriesBuffer* b = buffer_of(v.w2);
            uint32_t from = std::min(v.w1, b->used());
            return hash_bytes(b->head_ptr() + from, b->used() - from);
        }
        case type_money: {
            Cell c = v;
            c.header = type_money | (v.header & money_sign_mask);
            return hash_bytes(&c, sizeof c);
        }
        case type_datatype:
        case type_logic:
        case type_object:
        case type_error:
        case type_port: return hash_int32(v.w1);
        case type_native:
        case type_action: return hash_int32(v.w3);
        case type_map:
        case type_handle:
        case type_event: return hash_int32(v.w2);
        case type_none: return 0xFFFFFFFF;
        case type_unset: return 0xFFFFFFFE;
        default: return 0;
    }
}

bool node_based_key_q(const Cell& v) {
    switch (type_of(v)) {
        case type_block: case type_paren: case type_hash: case type_path: case type_lit_path:
        case type_set_path: case type_get_path: case type_image: case type_event: case type_map:
        case type_native: case type_action: case type_op: case type_function: case type_object:
        case type_error: case type_port: return true;
        default: return false;
    }
}

uint32_t round_up_power_of_2(uint32_t n) {
    n -= 1;
    n |= n >> 1;
    n |= n >> 2;
    n |= n >> 4;
    n |= n >> 8;
    n |= n >> 16;
    return n + 1;
}

void set_map_key_normalizer(MapKeyNormalizer fn) { map_key_normalizer = fn; }

// ---- Byte series -------------------------------------------------------------

void fill_bytes_series(NodeId node, uint8_t byte) {
    SeriesBuffer* b = buffer_of(node);
    std::memset(b->data(), byte, b->capacity);
    b->head = 0;
    b->tail = b->capacity;
}

NodeId alloc_bytes_filled(uint32_t n, uint8_t byte) {
    NodeId node = memory::alloc_bytes(n);
    fill_bytes_series(node, byte);
    return node;
}

NodeId alloc_bytes_zeroed(uint32_t n) { return alloc_bytes_filled(n, 0); }

// ---- Table internals ---------------------------------------------------------

namespace {

constexpr double load_limit = 0.77;
constexpr uint32_t min_buckets = 4;

uint32_t* record_of(NodeId t) { return reinterpret_cast<uint32_t*>(buffer_of(t)->head_ptr()); }
uint32_t* words_of(NodeId n) { return reinterpret_cast<uint32_t*>(buffer_of(n)->head_ptr()); }
int32_t* ints_of(NodeId n) { return reinterpret_cast<int32_t*>(buffer_of(n)->head_ptr()); }
Cell* cells_of(NodeId n) { return buffer_of(n)->cells(); }

// The addresses of a table's arrays; valid until one of them is replaced.
struct View {
    uint32_t* r;
    uint32_t* flags;
    int32_t* keys;
    uint32_t mask;
    explicit View(NodeId t)
        : r(record_of(t)), flags(words_of(r[field::flags])), keys(ints_of(r[field::keys])),
          mask(r[field::buckets] - 1) {}
};

uint32_t bound_for(uint32_t buckets, bool rounded) {
    return uint32_t(double(buckets) * load_limit + (rounded ? 0.5 : 0.0));
}

uint32_t regrow_size(const uint32_t* r) { return hash::regrow_size(r[field::buckets], r[field::count]); }

// The codes under which two integer!s match exactly when their values are
// equal (their compare action answers 0 just then).
bool equality_code_q(int32_t op) {
    return op == registry::op_equal || op == registry::op_strict_equal || op == registry::op_same ||
           op == registry::op_find;
}

// The truth of `compare a b op` for the equality-like codes the tables use.
// A type without a compare action compares by identity.
bool compare_true(const Cell& a, const Cell& b, int32_t op) {
    auto fn = registry::action<registry::action_sig::compare>(type_of(a), registry::slot_compare);
    int32_t r;
    if (fn) {
        r = fn(const_cast<Cell*>(&a), const_cast<Cell*>(&b), op);
    } else {
        bool same = type_of(a) == type_of(b) && a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3;
        r = same ? 0 : 1;
    }
    switch (op) {
        case registry::op_not_equal: return r != 0;
        case registry::op_lesser: return r < 0 && r != registry::not_comparable;
        case registry::op_lesser_or_equal: return r < 1 && r != registry::not_comparable;
        case registry::op_greater: return r >= 1;
        case registry::op_greater_or_equal: return r >= 0;
        default: return r == 0;
    }
}

// compare_true with the commonest case, two integer!s under an equality
// code, decided in line.
inline bool keys_match(const Cell& a, const Cell& b, int32_t op) {
    if (type_of(a) == type_integer && type_of(b) == type_integer && equality_code_q(op)) return a.w2 == b.w2;
    return compare_true(a, b, op);
}

// ---- Chains (kind 0) ----------------------------------------------------------

NodeId chain_node(const uint32_t* r, int32_t key) {
    return NodeId(series::array_pick_int(r[field::chains], uint32_t(-key)));
}

// The cell index that stands for a bucket key: itself, or a chain's first.
int32_t representative(const uint32_t* r, int32_t key) {
    return key >= 0 ? key : series::array_pick_int(chain_node(r, key), 1);
}

// Appends idx to the bucket's chain, turning a single index into a chain
// first. The keys array does not move.
void chain_append(NodeId t, int32_t* keys, uint32_t b, int32_t idx) {
    uint32_t* r = record_of(t);
    if (keys[b] >= 0) {
        NodeId chain = series::make_array(4, 4);
        series::array_append_int(chain, keys[b]);
        series::array_append_int(r[field::chains], int32_t(chain));
        keys[b] = -int32_t(series::array_length(r[field::chains]));
    }
    series::array_append_int(chain_node(r, keys[b]), idx);
}

// Takes the cell index out of bucket b (through its chain when it has one);
// answers whether the bucket became free.
bool leave_bucket(NodeId t, uint32_t b, int32_t idx) {
    View v(t);
    int32_t key = v.keys[b];
    if (key < 0) {
        NodeId chain = chain_node(v.r, key);
        series::array_remove_int(chain, idx);
        if (series::array_length(chain) > 0) return false;
        series::array_poke_int(v.r[field::chains], uint32_t(-key), 0);
    }
    set_flag(v.flags, b, bucket::deleted);
    v.r[field::count] -= 1;
    return true;
}

// ---- The reverse index (kind 0) ----------------------------------------------

// Makes room in the reverse index for cell index idx (enlarging to twice
// what is needed, the new room not indexed).
void reverse_reserve(NodeId t, uint32_t cells) {
    NodeId rev = record_of(t)[field::reverse];
    if (uint64_t(cells) * 4 <= buffer_of(rev)->capacity) return;
    memory::expand_series_filled(rev, cells * 8, 0xFF);
    buffer_of(rev)->tail = buffer_of(rev)->capacity;
}

int32_t* reverse_words(NodeId t) { return ints_of(record_of(t)[field::reverse]); }
uint32_t reverse_capacity(NodeId t) { return buffer_of(record_of(t)[field::reverse])->capacity / 4; }

void new_arrays(NodeId t, uint32_t buckets) {
    uint32_t* r = record_of(t);
    r[field::flags] = alloc_bytes_filled(buckets / 4, bucket::all_empty_byte);
    r[field::keys] = alloc_bytes_zeroed(buckets * 4);
    r[field::buckets] = buckets;
}

uint32_t backing_length(const uint32_t* r) { return memory::series_length(r[field::backing]); }

// The first cell of a kinds 3-4 entry at a byte offset of the entries.
Cell* entry_at(const uint32_t* r, int32_t offset) {
    return reinterpret_cast<Cell*>(buffer_of(r[field::backing])->head_ptr() + offset);
}
uint32_t entry_cells(const uint32_t* r) { return r[field::width] / sizeof(Cell); }

// Removes n cells of a block at a cell index, moving the rest down.
void remove_cells(NodeId block, uint32_t index, uint32_t n) {
    series::array_remove_at(block, index * uint32_t(sizeof(Cell)), n * uint32_t(sizeof(Cell)));
}

NodeId copy_word_table(const Cell& context);

}  // namespace

uint32_t& record(NodeId table, uint32_t field_index) { return record_of(table)[field_index]; }

uint32_t* flags_array(NodeId table) { return words_of(record_of(table)[field::flags]); }
int32_t* keys_array(NodeId table) { return ints_of(record_of(table)[field::keys]); }
uint32_t bucket_flag(NodeId table, uint32_t b) { return flag_at(flags_array(table), b); }
int32_t bucket_key(NodeId table, uint32_t b) { return keys_array(table)[b]; }

int32_t reverse_of(NodeId table, uint32_t i) {
    return i < reverse_capacity(table) ? reverse_words(table)[i] : not_indexed;
}

uint32_t bucket_indexes(NodeId table, uint32_t b, int32_t* out, uint32_t room) {
    uint32_t* r = record_of(table);
    int32_t key = ints_of(r[field::keys])[b];
    if (key >= 0) {
        if (room) out[0] = key;
        return 1;
    }
    NodeId chain = chain_node(r, key);
    uint32_t n = series::array_length(chain);
    for (uint32_t i = 0; i < n && i < room; ++i) out[i] = series::array_pick_int(chain, i + 1);
    return n;
}

// ---- Making ------------------------------------------------------------------

void hash_tables_init() { collector::set_hash_table_marker(mark_hash_table); }

NodeId make_hash_table(int32_t size, const Cell* block, Kind kind, int32_t extra) {
    hash_tables_init();
    if (kind == kind_symbols && extra == 2 && block && type_of(*block) == type_context) return copy_word_table(*block);
    if (kind == kind_symbols && size >= 4000) size *= 2;
    NodeId t = alloc_bytes_zeroed(field::record_words * 4);
    uint32_t* r = record_of(t);
    r[field::kind] = kind;
    if (kind >= kind_scratch) {
        r[field::width] = uint32_t(extra + 1) * sizeof(Cell);
        r[field::stamp] = collector::nodes_cycles() + 1;
    }
    if (size < 4) size = 4;
    uint32_t buckets = std::max(min_buckets, round_up_power_of_2(uint32_t(double(size) / load_limit)));
    new_arrays(t, buckets);
    r[field::bound] = bound_for(buckets, false);
    if (kind == kind_block) {
        r[field::reverse] = alloc_bytes_filled(uint32_t(size) * 4, 0xFF);
        r[field::chains] = series::make_array(4, 4);
    }
    if (kind >= kind_scratch || !block) {
        r[field::backing] = memory::alloc_cells(uint32_t(size) * (kind >= kind_scratch ? uint32_t(extra + 1) : 1));
        return t;
    }
    r[field::backing] = block->w2;
    hash_table_index_all(t, block->w1, kind == kind_map ? 2 : 1);
    return t;
}

namespace {
// A kind-2 table that copies a context's word table: the record, its word
// block, keys and flags.
NodeId copy_word_table(const Cell& context) {
    NodeId source = context.w1;
    NodeId t = memory::copy_series_buffer(source);
    uint32_t* r = record_of(t);
    r[field::backing] = memory::copy_series_buffer(r[field::backing]);
    r[field::keys] = memory::copy_series_buffer(r[field::keys]);
    r[field::flags] = memory::copy_series_buffer(r[field::flags]);
    return t;
}
}  // namespace

// ---- Indexing ----------------------------------------------------------------

void hash_table_index_all(NodeId table, uint32_t start, uint32_t step) {
    uint32_t* r = record_of(table);
    if (r[field::kind] == kind_map) {
        for (uint32_t i = start; i < backing_length(r);) {
            Cell* key = cells_of(r[field::backing]) + i;
            Cell* found = hash_table_find(table, key, 0, 1, registry::op_strict_equal, false, false);
            if (!found) {
                hash_table_add(table, key);
                if (map_key_normalizer) map_key_normalizer(cells_of(r[field::backing]) + i);
                i += step;
                continue;
            }
            // A duplicate key: its value replaces the indexed key's, and the
            // pair leaves the block.
            uint32_t len = backing_length(r);
            Cell* cells = cells_of(r[field::backing]);
            uint32_t at = uint32_t(found - cells);
            if (i + 1 < len) cells[at + 1] = cells[i + 1];
            remove_cells(r[field::backing], i, 2);
        }
        return;
    }
    for (uint32_t i = start; i < backing_length(r); i += step) {
        int32_t out = 0;
        hash_table_put(table, cells_of(r[field::backing]) + i, out);
        if (out == put_rebuilt) return;
    }
}

namespace {

// Where an insertion lands: the live bucket of an equal key (kind 0: whose
// chain took the cell), else the last deleted bucket met, else the empty
// bucket that ended the probe.
struct PutTarget {
    uint32_t bucket = 0;
    bool live = false;   // an equal key's bucket
    bool fresh = false;  // an empty bucket (occupied grows)
    bool found = true;   // false when the probe met neither (cannot happen below the bound)
};

PutTarget probe_for_put(NodeId table, const Cell& key, int32_t idx) {
    View v(table);
    uint32_t kind = v.r[field::kind];
    Cell* cells = cells_of(v.r[field::backing]);
    uint32_t b = hash_value(key) & v.mask, first = b, step = 0;
    int64_t deleted = -1;
    for (;;) {
        uint32_t f = flag_at(v.flags, b);
        if (f == bucket::empty) break;
        if (f == bucket::deleted) {
            deleted = b;
        } else if (kind == kind_block) {
            const Cell& rep = cells[representative(v.r, v.keys[b])];
            if (type_of(rep) == type_of(key) && keys_match(rep, key, registry::op_equal)) {
                chain_append(table, v.keys, b, idx);
                return {b, true, false, true};
            }
        } else {
            const Cell& stored = cells[v.keys[b]];
            if (type_of(stored) == type_of(key) && keys_match(stored, key, registry::op_strict_equal))
                return {b, true, false, true};
        }
        b = next_bucket(b, step, v.mask);
        if (b == first) {
            if (deleted < 0) return {0, false, false, false};
            break;
        }
    }
    if (deleted >= 0) return {uint32_t(deleted), false, false, true};
    return {b, false, true, true};
}

}  // namespace

Cell* hash_table_put(NodeId table, Cell* key, int32_t& out) {
    out = 0;
    uint32_t* r = record_of(table);
    uint32_t kind = r[field::kind];
    NodeId block = r[field::backing];
    auto idx = int32_t(key - cells_of(block));
    if (r[field::occupied] >= r[field::bound]) {
        if (kind == kind_block) {  // the rebuild indexes the whole block, this cell included
            hash_table_rebuild(table, regrow_size(r));
            out = put_rebuilt;
            return cells_of(block) + idx;
        }
        hash_table_rehash(table, kind == kind_map ? r[field::buckets] + 1 : regrow_size(r));
    }
    if (kind == kind_block && r[field::stamp] == 0 && node_based_key_q(*key))
        r[field::stamp] = collector::nodes_cycles() + 1;
    PutTarget t = probe_for_put(table, *key, idx);
    if (!t.found) {
        hash_table_rehash(table, r[field::buckets] * 2);
        return hash_table_put(table, key, out);
    }
    if (!t.live) {
        keys_array(table)[t.bucket] = idx;
        set_flag(flags_array(table), t.bucket, bucket::live);
        r[field::count] += 1;
        if (t.fresh) r[field::occupied] += 1;
    }
    if (kind == kind_block) {
        reverse_reserve(table, uint32_t(idx) + 1);
        reverse_words(table)[idx] = int32_t(t.bucket + 1);
    }
    return cells_of(block) + idx;
}

Cell* hash_table_add(NodeId table, Cell* key) {
    int32_t out = 0;
    return hash_table_put(table, key, out);
}

// ---- Finding -------------------------------------------------------------------

namespace {

bool map_word_key(uint32_t type) {
    return type == type_word || type == type_set_word || type == type_get_word || type == type_lit_word;
}

// Kind 0: the winning candidate of one bucket, or -1.
int32_t best_candidate(NodeId table, uint32_t b, const Cell& key, int32_t head, int32_t skip, int32_t op, bool last,
                       bool reverse) {
    uint32_t* r = record_of(table);
    int32_t k = ints_of(r[field::keys])[b];
    NodeId chain = k < 0 ? chain_node(r, k) : 0;
    uint32_t n = chain ? series::array_length(chain) : 1;
    if (skip < 1) skip = 1;
    int32_t best = -1;
    for (uint32_t j = 0; j < n; ++j) {
        int32_t e = chain ? series::array_pick_int(chain, j + 1) : k;
        bool side = reverse ? e < head : e >= head;
        if (!side) continue;
        int32_t offset = reverse ? head - 1 - e : e - head;
        if (offset % skip != 0) continue;
        if (!keys_match(cells_of(r[field::backing])[e], key, op)) continue;
        if (best < 0 || (last ? e > best : e < best)) best = e;
    }
    return best;
}

// A probe of a table of any kind but a block's for a key of the given hash:
// the key cell that `match` accepts, or null. With `slot`, an absent key's
// bucket is noted as probe_for_put would choose it: the last deleted bucket
// met, else the empty bucket that ended the probe.
template <typename Match>
Cell* probe_map(const uint32_t* r, uint32_t hash, Match match, MapSlot* slot) {
    const uint32_t* flags = words_of(r[field::flags]);
    const int32_t* keys = ints_of(r[field::keys]);
    Cell* cells = cells_of(r[field::backing]);
    uint32_t mask = r[field::buckets] - 1;
    uint32_t b = hash & mask, first = b, step = 0;
    int64_t deleted = -1;
    for (;;) {
        uint32_t f = flag_at(flags, b);
        if (f == bucket::empty) {
            if (slot) *slot = deleted >= 0 ? MapSlot{deleted, false} : MapSlot{b, true};
            return nullptr;
        }
        if (f == bucket::live) {
            Cell* stored = cells + keys[b];
            if (match(*stored)) return stored;
        } else {
            deleted = b;
        }
        b = next_bucket(b, step, mask);
        if (b == first) {
            if (slot && deleted >= 0) *slot = MapSlot{deleted, false};
            return nullptr;
        }
    }
}

// An integer matches on its value alone (under every equality code), so its
// probe reads only flags, key indexes and the candidates' payloads.
struct IntegerKey {
    uint32_t n;
    bool operator()(const Cell& stored) const { return stored.w2 == n && type_of(stored) == type_integer; }
};

// A map's lookup of an integer key under an equality code, the commonest
// lookup of all.
Cell* find_integer_key(const uint32_t* r, int32_t n) {
    return probe_map(r, hash_int32(uint32_t(n)), IntegerKey{uint32_t(n)}, nullptr);
}

// The lookup of every kind of table but a block's: a key matches a stored
// key of its own type under `op`.
Cell* find_typed_key(const uint32_t* r, const Cell& key, int32_t op, MapSlot* slot) {
    auto match = [&key, op](const Cell& stored) {
        return type_of(stored) == type_of(key) && keys_match(stored, key, op);
    };
    return probe_map(r, hash_value(key), match, slot);
}

// A key as a map stores it: word keys stand as set-words.
Cell map_key_form(const Cell& key) {
    Cell k = key;
    if (map_word_key(type_of(k))) set_type(k, type_set_word);
    return k;
}

// With `last` and no `reverse`, candidates are aligned on head like a
// forward search (the distance e - head is a multiple of skip), so that
// find/last/skip on a hash! picks records at the same places as find/skip.
[[gnu::noinline]] Cell* find_any_key(NodeId table, const Cell* key_in, int32_t head, int32_t skip, int32_t op,
                                     bool last, bool reverse) {
    if (record_of(table)[field::stamp] != 0) hash_table_refresh(table);
    if (reverse) last = true;
    View v(table);
    uint32_t kind = v.r[field::kind];
    if (kind != kind_block) return find_typed_key(v.r, kind == kind_map ? map_key_form(*key_in) : *key_in, op, nullptr);
    const Cell& key = *key_in;
    Cell* cells = cells_of(v.r[field::backing]);
    uint32_t b = hash_value(key) & v.mask;
    uint32_t first = b, step = 0;
    for (;;) {
        uint32_t f = flag_at(v.flags, b);
        if (f == bucket::empty) return nullptr;
        if (f == bucket::live) {
            const Cell& rep = cells[representative(v.r, v.keys[b])];
            if (keys_match(rep, key, registry::op_equal)) {
                int32_t e = best_candidate(table, b, key, head, skip, op, last, reverse);
                if (e >= 0) return cells + e;
            }
        }
        b = next_bucket(b, step, v.mask);
        if (b == first) return nullptr;
    }
}

}  // namespace

Cell* hash_table_find(NodeId table, const Cell* key_in, int32_t head, int32_t skip, int32_t op, bool last,
                      bool reverse) {
    const uint32_t* r = record_of(table);
    if (r[field::kind] == kind_map && r[field::stamp] == 0 && type_of(*key_in) == type_integer &&
        equality_code_q(op))
        return find_integer_key(r, int32_t(key_in->w2));
    return find_any_key(table, key_in, head, skip, op, last, reverse);
}

Cell* map_find_integer(NodeId table, int32_t n) {
    const uint32_t* r = record_of(table);
    if (r[field::stamp] == 0) return find_integer_key(r, n);
    Cell key{type_integer, 0, uint32_t(n), 0};
    return find_any_key(table, &key, 0, 1, registry::op_equal, false, false);
}

// The same matches as find_any_key's for a map (word keys stand as the
// set-words they are stored as).
Cell* map_find_slot(NodeId table, const Cell& key_in, int32_t op, MapSlot& slot) {
    slot = MapSlot{};
    const uint32_t* r = record_of(table);
    if (r[field::stamp] != 0) return find_any_key(table, &key_in, 0, 1, op, false, false);
    if (type_of(key_in) == type_integer && equality_code_q(op))
        return probe_map(r, hash_int32(key_in.w2), IntegerKey{key_in.w2}, &slot);
    return find_typed_key(r, map_key_form(key_in), op, &slot);
}

void map_place(NodeId table, uint32_t index, const MapSlot& slot) {
    uint32_t* r = record_of(table);
    if (slot.bucket < 0 || r[field::occupied] >= r[field::bound]) {
        hash_table_add(table, cells_of(r[field::backing]) + index);
        return;
    }
    ints_of(r[field::keys])[slot.bucket] = int32_t(index);
    set_flag(words_of(r[field::flags]), uint32_t(slot.bucket), bucket::live);
    r[field::count] += 1;
    if (slot.fresh) r[field::occupied] += 1;
}

Cell* hash_table_find_next(NodeId table, const Cell* key, int32_t& bucket_var, int32_t& start, int32_t& step) {
    hash_table_refresh(table);
    View v(table);
    Cell* cells = cells_of(v.r[field::backing]);
    if (bucket_var == -1) {
        bucket_var = int32_t(hash_value(*key) & v.mask);
        start = bucket_var + 1;
        step = 0;
    }
    for (;;) {
        auto b = uint32_t(bucket_var);
        uint32_t f = flag_at(v.flags, b);
        if (f == bucket::empty) return nullptr;
        auto s = uint32_t(step);
        uint32_t next = next_bucket(b, s, v.mask);
        bucket_var = int32_t(next);
        step = int32_t(s);
        if (f == bucket::live) {
            const Cell& stored = cells[v.keys[b]];
            if (type_of(stored) == type_of(*key) && keys_match(stored, *key, registry::op_equal))
                return cells + v.keys[b];
        }
        if (int32_t(next) + 1 == start) return nullptr;
    }
}

// ---- Removing ------------------------------------------------------------------

void hash_table_remove(NodeId table, Cell* cell) {
    uint32_t* r = record_of(table);
    auto idx = int32_t(cell - cells_of(r[field::backing]));
    if (r[field::kind] == kind_map) {
        Cell* value = cell + 1;
        if (value->header != 0) {
            value->header = 0;
            r[field::count] -= 1;
        }
        return;
    }
    if (r[field::kind] != kind_block) return;
    int32_t b = reverse_of(table, uint32_t(idx));
    if (b <= 0) return;
    leave_bucket(table, uint32_t(b - 1), idx);
    reverse_words(table)[idx] = not_indexed;
}

// The count drops by one for each bucket that the range leaves free, so a
// range holding equal keys (one bucket) lowers it once.
void hash_table_remove_range(NodeId table, uint32_t index, uint32_t n) {
    uint32_t* r = record_of(table);
    uint32_t len = backing_length(r);
    if (index >= len) return;
    n = std::min(n, len - index);
    if (index == 0 && n == len) {
        r[field::count] = 0;
        r[field::occupied] = 0;
        fill_bytes_series(r[field::flags], bucket::all_empty_byte);
        fill_bytes_series(r[field::reverse], 0xFF);
        series::array_clear(r[field::chains]);
        return;
    }
    for (uint32_t k = index; k < index + n; ++k) {
        int32_t b = reverse_of(table, k);
        if (b <= 0) continue;
        leave_bucket(table, uint32_t(b - 1), int32_t(k));
        reverse_words(table)[k] = not_indexed;
    }
}

// ---- Renumbering (kind 0) -------------------------------------------------------

namespace {

// Renumbers every indexed cell in [lo, hi) through `to` (indexes outside the
// range keep theirs); each bucket is visited once, whatever the number of
// its cells in the range. The reverse index is left to the caller.
template <typename Map>
void renumber(NodeId table, uint32_t lo, uint32_t hi, Map to) {
    std::vector<uint32_t> chains_seen;
    for (uint32_t k = lo; k < hi; ++k) {
        int32_t b1 = reverse_of(table, k);
        if (b1 <= 0) continue;
        View v(table);
        int32_t key = v.keys[b1 - 1];
        if (key >= 0) {
            if (uint32_t(key) == k) v.keys[b1 - 1] = int32_t(to(k));
            continue;
        }
        NodeId chain = chain_node(v.r, key);
        if (std::find(chains_seen.begin(), chains_seen.end(), chain) != chains_seen.end()) continue;
        chains_seen.push_back(chain);
        uint32_t n = series::array_length(chain);
        for (uint32_t j = 1; j <= n; ++j) {
            int32_t e = series::array_pick_int(chain, j);
            if (e >= int32_t(lo) && e < int32_t(hi)) series::array_poke_int(chain, j, int32_t(to(uint32_t(e))));
        }
    }
}

}  // namespace

// Cells [start, start + count) are renumbered by `offset`; chain members
// outside that range keep their numbers, so a range in the middle of the
// block is renumbered exactly.
int32_t hash_table_shift_range(NodeId table, int32_t offset, uint32_t start, uint32_t count, bool drop) {
    if (count > shift_limit) return shift_declined;
    renumber(table, start, start + count, [offset](uint32_t e) { return uint32_t(int32_t(e) + offset); });
    if (!drop) return 0;
    if (offset < 0) {
        uint32_t from = uint32_t(std::max<int64_t>(0, int64_t(start) + offset));
        for (uint32_t k = from; k < start; ++k) {
            int32_t b = reverse_of(table, k);
            if (b > 0) leave_bucket(table, uint32_t(b - 1), int32_t(k));
        }
    }
    auto to = uint32_t(int32_t(start) + offset);
    reverse_reserve(table, std::max(start, to) + count);
    int32_t* rev = reverse_words(table);
    std::memmove(rev + to, rev + start, size_t(count) * 4);
    // The words the move left behind index nothing now.
    if (offset > 0) std::fill(rev + start, rev + std::min(to, start + count), not_indexed);
    if (offset < 0) std::fill(rev + std::max(to + count, start), rev + start + count, not_indexed);
    return 0;
}

// Moving n cells from s so that they end at d (d > s: the moved cells then
// start at d - n + 1) renumbers the moved cells and the cells they pass over,
// and permutes the reverse index the same way.
void hash_table_move_range(NodeId table, uint32_t d, uint32_t s, uint32_t n) {
    if (n == 0 || (s <= d && d < s + n)) return;
    uint32_t lo, hi, new_start;
    if (d < s) {
        lo = d, hi = s + n, new_start = d;
    } else {
        new_start = d - n + 1;
        lo = s, hi = d + 1;
    }
    auto to = [&](uint32_t e) -> uint32_t {
        if (e >= s && e < s + n) return new_start + (e - s);
        return d < s ? e + n : e - n;
    };
    renumber(table, lo, hi, to);
    reverse_reserve(table, hi);
    int32_t* rev = reverse_words(table);
    std::vector<int32_t> old(rev + lo, rev + hi);
    for (uint32_t e = lo; e < hi; ++e) rev[to(e)] = old[e - lo];
}

// ---- Growth and rebuilding --------------------------------------------------------

void hash_table_resize(NodeId table, uint32_t size) {
    uint32_t* r = record_of(table);
    uint32_t buckets = std::max(min_buckets, round_up_power_of_2(uint32_t(double(size) * 1.5)));
    r[field::bound] = bound_for(buckets, false);
    r[field::stamp] = r[field::count] = r[field::occupied] = 0;
    series::array_clear(r[field::chains]);
    new_arrays(table, buckets);
    fill_bytes_series(r[field::reverse], 0xFF);
    hash_table_index_all(table, 0, 1);
}

void hash_table_rehash(NodeId table, uint32_t n) {
    n = std::max(min_buckets, round_up_power_of_2(n));
    uint32_t* r = record_of(table);
    uint32_t new_bound = bound_for(n, true);
    if (r[field::count] >= new_bound) return;
    uint32_t old_buckets = r[field::buckets];
    NodeId new_flags = alloc_bytes_filled(n / 4, bucket::all_empty_byte);
    if (n > old_buckets) {
        memory::expand_series_filled(r[field::keys], n * 4, 0);
        buffer_of(r[field::keys])->tail = buffer_of(r[field::keys])->capacity;
    }
    uint32_t* old_flags = words_of(r[field::flags]);
    uint32_t* flags = words_of(new_flags);
    int32_t* keys = ints_of(r[field::keys]);
    uint32_t kind = r[field::kind];
    Cell* cells = cells_of(r[field::backing]);
    uint32_t mask = n - 1;
    auto key_hash = [&](int32_t key) {
        if (kind >= kind_scratch) return hash_int32(entry_at(r, key)->w1);
        return hash_value(cells[kind == kind_block ? representative(r, key) : key]);
    };
    for (uint32_t j = 0; j < old_buckets; ++j) {
        if (flag_at(old_flags, j) != bucket::live) continue;
        int32_t key = keys[j];
        set_flag(old_flags, j, bucket::deleted);
        for (;;) {
            uint32_t i = key_hash(key) & mask, step = 0;
            while (flag_at(flags, i) != bucket::empty) i = next_bucket(i, step, mask);
            set_flag(flags, i, bucket::live);
            if (i < old_buckets && flag_at(old_flags, i) == bucket::live) {
                std::swap(key, keys[i]);
                set_flag(old_flags, i, bucket::deleted);
                continue;
            }
            keys[i] = key;
            break;
        }
    }
    r[field::flags] = new_flags;
    r[field::buckets] = n;
    r[field::bound] = new_bound;
    if (kind != kind_map) r[field::occupied] = r[field::count];
}

void hash_table_rebuild(NodeId table, uint32_t size) {
    collector::NodeMoveHold hold;  // restored also when an error passes through
    uint32_t kind = record_of(table)[field::kind];
    if (kind == kind_block) hash_table_resize(table, size);
    else if (kind >= kind_scratch) hash_table_rebuild_keyed(table, size);
    else hash_table_rehash(table, size);
}

void hash_table_rebuild_keyed(NodeId table, uint32_t n) {
    uint32_t stamp = collector::nodes_cycles() + 1;
    uint32_t* r = record_of(table);
    uint32_t buckets = std::max(min_buckets, round_up_power_of_2(n));
    uint32_t per_entry = entry_cells(r);
    NodeId old_entries = r[field::backing];
    uint32_t old_count = r[field::count];
    r[field::bound] = bound_for(buckets, true);
    r[field::stamp] = 0;
    r[field::count] = r[field::occupied] = 0;
    new_arrays(table, buckets);
    r[field::backing] = memory::alloc_cells(std::max(1u, old_count) * per_entry);
    SeriesBuffer* ob = buffer_of(old_entries);
    uint32_t old_used = ob->used();
    for (uint32_t off = 0; off + r[field::width] <= old_used; off += r[field::width]) {
        const Cell* old = reinterpret_cast<const Cell*>(buffer_of(old_entries)->head_ptr() + off);
        if (old->header != entry_live) continue;
        Cell* values = hash_table_put_key(table, old->w1);
        old = reinterpret_cast<const Cell*>(buffer_of(old_entries)->head_ptr() + off);
        std::memcpy(values, old + 1, (per_entry - 1) * sizeof(Cell));
    }
    r[field::stamp] = stamp;
}

void hash_table_rehash_keyed(NodeId table) {
    View v(table);
    fill_bytes_series(v.r[field::flags], bucket::all_empty_byte);
    v.r[field::count] = v.r[field::occupied] = 0;
    SeriesBuffer* eb = buffer_of(v.r[field::backing]);
    for (uint32_t off = 0; off + v.r[field::width] <= eb->used(); off += v.r[field::width]) {
        const Cell* e = reinterpret_cast<const Cell*>(eb->head_ptr() + off);
        if (e->header != entry_live) continue;
        uint32_t b = hash_int32(e->w1) & v.mask, step = 0;
        while (flag_at(v.flags, b) != bucket::empty) b = next_bucket(b, step, v.mask);
        set_flag(v.flags, b, bucket::live);
        v.keys[b] = int32_t(off);
        v.r[field::count] += 1;
        v.r[field::occupied] += 1;
    }
    v.r[field::stamp] = collector::nodes_cycles() + 1;
}

void hash_table_refresh(NodeId table) {
    uint32_t* r = record_of(table);
    uint32_t stamp = r[field::stamp];
    if (stamp == 0 || stamp == collector::nodes_cycles() + 1 || collector::is_collecting()) return;
    if (r[field::kind] == kind_block) hash_table_rebuild(table, backing_length(r));
    else if (r[field::kind] >= kind_scratch) hash_table_rehash_keyed(table);
}

// ---- Node-keyed entries (kinds 3-4) ---------------------------------------------

namespace {

struct KeySearch {
    int64_t found = -1;    // live bucket holding the key
    int64_t deleted = -1;  // last deleted bucket met
    int64_t empty = -1;    // empty bucket that ended the probe
};

KeySearch search_key(NodeId table, NodeId key) {
    View v(table);
    KeySearch s;
    uint32_t b = hash_int32(key) & v.mask, first = b, step = 0;
    for (;;) {
        uint32_t f = flag_at(v.flags, b);
        if (f == bucket::empty) {
            s.empty = b;
            return s;
        }
        if (f == bucket::deleted) s.deleted = b;
        else if (entry_at(v.r, v.keys[b])->w1 == key) {
            s.found = b;
            return s;
        }
        b = next_bucket(b, step, v.mask);
        if (b == first) return s;
    }
}

}  // namespace

Cell* hash_table_put_key(NodeId table, NodeId key) {
    hash_table_refresh(table);
    uint32_t* r = record_of(table);
    if (r[field::occupied] >= r[field::bound]) hash_table_rebuild(table, regrow_size(r));
    KeySearch s = search_key(table, key);
    View v(table);
    int32_t offset;
    if (s.found >= 0) {
        offset = v.keys[s.found];
    } else if (s.deleted >= 0) {
        offset = v.keys[s.deleted];
        set_flag(v.flags, uint32_t(s.deleted), bucket::live);
        v.r[field::count] += 1;
    } else {
        NodeId entries = v.r[field::backing];
        uint8_t* p = series::alloc_tail_bytes(entries, v.r[field::width]);
        std::memset(p, 0, v.r[field::width]);
        offset = int32_t(p - buffer_of(entries)->head_ptr());
        v.keys[s.empty] = offset;
        set_flag(v.flags, uint32_t(s.empty), bucket::live);
        v.r[field::count] += 1;
        v.r[field::occupied] += 1;
    }
    Cell* e = entry_at(v.r, offset);
    e->w1 = key;
    for (uint32_t i = 0; i < entry_cells(v.r); ++i) e[i].header = entry_live;
    return e + 1;
}

Cell* hash_table_get_key(NodeId table, NodeId key) {
    hash_table_refresh(table);
    KeySearch s = search_key(table, key);
    if (s.found < 0) return nullptr;
    View v(table);
    return entry_at(v.r, v.keys[s.found]) + 1;
}

Cell* hash_table_remove_key(NodeId table, NodeId key) {
    hash_table_refresh(table);
    KeySearch s = search_key(table, key);
    if (s.found < 0) return nullptr;
    View v(table);
    set_flag(v.flags, uint32_t(s.found), bucket::deleted);
    v.r[field::count] -= 1;
    Cell* e = entry_at(v.r, v.keys[s.found]);
    e->header = entry_removed;
    return e + 1;
}

// ---- Copying and clearing ----------------------------------------------------------

NodeId copy_hash_table(NodeId table, NodeId block) {
    NodeId t = memory::copy_series_buffer(table);
    uint32_t* r = record_of(t);
    r[field::flags] = memory::copy_series_buffer(r[field::flags]);
    r[field::keys] = memory::copy_series_buffer(r[field::keys]);
    r[field::backing] = block;
    if (r[field::kind] == kind_block) {
        r[field::reverse] = memory::copy_series_buffer(r[field::reverse]);
        r[field::chains] = series::array_copy(r[field::chains]);
        uint32_t n = series::array_length(r[field::chains]);
        for (uint32_t c = 1; c <= n; ++c) {
            auto chain = NodeId(series::array_pick_int(r[field::chains], c));
            if (chain) series::array_poke_int(r[field::chains], c, int32_t(series::array_copy(chain)));
        }
    }
    return t;
}

void clear_hash_table(NodeId table) {
    uint32_t* r = record_of(table);
    r[field::count] = r[field::occupied] = 0;
    SeriesBuffer* b = buffer_of(r[field::backing]);
    b->tail = b->head;
    fill_bytes_series(r[field::flags], bucket::all_empty_byte);
}

// ---- Collection ------------------------------------------------------------------

// Marks the record and its arrays, rewriting renumbered nodes in place. For
// kinds 3-4 only live entries are marked (their key series with its cells,
// and their value cells): a removed entry's cells are never read again, so
// they keep nothing alive.
void mark_hash_table(NodeId* table) {
    if (!collector::mark_node(table)) return;
    uint32_t* r = record_of(*table);
    uint32_t kind = r[field::kind];
    if (kind == kind_block) {
        collector::mark_node(&r[field::reverse]);
        collector::mark_node(&r[field::chains]);
        SeriesBuffer* chains = buffer_of(r[field::chains]);
        auto* list = reinterpret_cast<NodeId*>(chains->head_ptr());
        for (uint32_t i = 0; i < chains->used() / 4; ++i) collector::mark_node(&list[i]);
    }
    collector::mark_node(&r[field::flags]);
    collector::mark_node(&r[field::keys]);
    if (kind < kind_scratch) {
        collector::mark_block(&r[field::backing]);
        return;
    }
    collector::mark_node(&r[field::backing]);
    SeriesBuffer* eb = buffer_of(r[field::backing]);
    uint32_t per_entry = entry_cells(r);
    for (uint32_t off = 0; off + r[field::width] <= eb->used(); off += r[field::width]) {
        Cell* e = reinterpret_cast<Cell*>(eb->head_ptr() + off);
        if (e->header != entry_live) continue;
        collector::mark_block(&e->w1);
        collector::mark_cells(e + 1, e + per_entry);
    }
}

// Runs inside a cycle, where the buckets may still be hashed by the nodes'
// former numbers: entries are found by walking the buckets, not by probing.
void purge_node_keyed_table(NodeId table) {
    View v(table);
    uint32_t kind = v.r[field::kind];
    if (kind < kind_scratch) return;
    for (uint32_t b = 0; b <= v.mask; ++b) {
        if (flag_at(v.flags, b) != bucket::live) continue;
        Cell* e = entry_at(v.r, v.keys[b]);
        bool keep = collector::is_marked(e->w1);
        if (keep && kind == kind_owners && entry_cells(v.r) > 2) keep = collector::is_marked(e[2].w1);
        if (keep) continue;
        set_flag(v.flags, b, bucket::deleted);
        v.r[field::count] -= 1;
        e->header = entry_removed;
        e->w1 = 0;
    }
}

void dump_hash_table(NodeId table) {
    View v(table);
    platform::runtime_print_line({""});
    platform::runtime_print_line({"== Deleted keys =="});
    for (uint32_t b = 0; b <= v.mask; ++b)
        if (flag_at(v.flags, b) == bucket::deleted) platform::runtime_print_line({int(b), ": ", int(v.keys[b])});
    platform::runtime_print_line({"== Alive keys =="});
    uint32_t kind = v.r[field::kind];
    for (uint32_t b = 0; b <= v.mask; ++b) {
        if (flag_at(v.flags, b) != bucket::live) continue;
        const Cell* value = kind >= kind_scratch ? entry_at(v.r, v.keys[b]) + 1
                                                 : cells_of(v.r[field::backing]) + std::max(v.keys[b], 0);
        const char* name = registry::type_name(type_of(*value)).name;
        platform::runtime_print_line({int(b), ": ", int(v.keys[b]), " ", name ? name : "?"});
    }
}

}  // namespace vyr::hash
