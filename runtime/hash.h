// Hashing and the runtime's one hash-table design.
//
// Hash functions: MurmurHash3 (x86, 32-bit) over bytes with one fixed seed,
// its finaliser for 32-bit values, and `hash_value`, the hash of any value.
// Text hashes fold to upper case, symbol names to ASCII lower case, so equal
// keys under case-insensitive comparison hash alike.
//
// Hash tables use open addressing over power-of-two bucket arrays, probed
// with steps 1, 2, 3 ... (bucket i0 + k(k+1)/2 after k steps), and come in
// five kinds that differ in what they index:
//   0 block    every cell of a hash! block; equal keys share a bucket whose
//              key is a chain (the cell indexes of the equal keys, in
//              insertion order); a reverse index maps each cell to its bucket
//   1 map      the keys of a map!'s block of alternating keys and values
//   2 symbols  the symbol block, or a context's word block
//   3 scratch  entries keyed by a node, in an entries series
//   4 owners   as 3, with an owner check when the collector purges
// A table is handled through the node of its record: eleven 32-bit words in
// a byte series (see `field`). Every array of a table is a series reached
// through a node held in the record, so the collector may move and renumber
// them; hold the table's node, never an address into it.
//
// Invariants:
//   - a bucket's 2-bit flag is empty (2), deleted (1) or live (0); `occupied`
//     counts live and deleted buckets and stays below `buckets`, so every
//     probe meets an empty bucket; growth runs before an insertion once
//     occupied reaches `bound` (about 0.77 of the buckets);
//   - keys that hash by node (blocks, objects, entry keys of kinds 3-4) stay
//     findable across node renumbering through the stamp: a table hashed at
//     `nodes_cycles() + 1` is re-indexed on its next lookup once the
//     collector has renumbered nodes since;
//   - no table operation collects or raises a language error (only the
//     memory manager may raise `no-memory`).
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace vyr::hash {

// ---- Hash functions ----------------------------------------------------------

// The seed of every byte hash: one fixed value, the same in every run (the
// sequence of random/seed with a series depends on it).
inline constexpr uint32_t hash_seed = 0x1965BEEF;

// MurmurHash3 x86 32-bit of the bytes with the hash seed.
uint32_t hash_bytes(const void* data, size_t length);
// The MurmurHash3 finaliser.
inline uint32_t hash_int32(uint32_t k) {
    k ^= k >> 16;
    k *= 0x85EBCA6B;
    k ^= k >> 13;
    k *= 0xC2B2AE35;
    k ^= k >> 16;
    return k;
}
// The hash of a string-like value from its index to its tail: each code point
// upper-cased and taken as one 32-bit block (hash_bytes of the upper-cased
// text in UTF-32LE).
uint32_t hash_string(const Cell& value);
// hash_bytes of a symbol cell's UTF-8 name folded to ASCII lower case.
uint32_t hash_symbol_name(const Cell& symbol);
// Copies the bytes into the shared fold buffer with A-Z turned to a-z and
// answers the buffer (valid until the next call).
const uint8_t* fold_name_lower(const uint8_t* bytes, uint32_t length);
// 0 when the names are equal: byte for byte when `case_sensitive`, else with
// ASCII letters compared without case.
int compare_names(const uint8_t* a, const uint8_t* b, uint32_t length, bool case_sensitive);
// The hash of any value; text hashes without case.
// Integers, the most common keys, are hashed in line.
uint32_t hash_any_value(const Cell& value);
inline uint32_t hash_value(const Cell& value) {
    return type_of(value) == type_integer ? hash_int32(value.w2) : hash_any_value(value);
}
// Whether a value's hash depends on a node (and so changes when nodes move).
bool node_based_key_q(const Cell& value);
// The least power of two at or above n (n >= 1).
uint32_t round_up_power_of_2(uint32_t n);

// money! keeps its sign in a header bit that its module owns; hash_value
// rebuilds a money! header as the type plus that bit.
void set_money_sign_mask(uint32_t mask);

// ---- Tables --------------------------------------------------------------------

enum Kind : uint32_t { kind_block = 0, kind_map = 1, kind_symbols = 2, kind_scratch = 3, kind_owners = 4 };

// The record's words, in order.
namespace field {
inline constexpr uint32_t count = 0;     // kinds 0-2: keys indexed (maps: pairs holding a value); 3-4: live entries
inline constexpr uint32_t reverse = 1;   // kind 0: node of the reverse index
inline constexpr uint32_t width = 1;     // kinds 3-4: entry width in bytes, (extra + 1) x 16
inline constexpr uint32_t chains = 2;    // kind 0: node of the chain list
inline constexpr uint32_t flags = 3;     // node of the bucket flags
inline constexpr uint32_t keys = 4;      // node of the bucket keys
inline constexpr uint32_t backing = 5;   // node of the backing block (kinds 3-4: the entries)
inline constexpr uint32_t occupied = 6;  // live plus deleted buckets
inline constexpr uint32_t buckets = 7;   // a power of two, at least 4
inline constexpr uint32_t bound = 8;     // growth threshold of `occupied`
inline constexpr uint32_t kind = 9;
inline constexpr uint32_t stamp = 10;    // 0, or nodes_cycles() + 1 when the keys were hashed
inline constexpr uint32_t record_words = 11;
}  // namespace field

// Bucket flags: two bits per bucket.
namespace bucket {
inline constexpr uint32_t live = 0;
inline constexpr uint32_t deleted = 1;
inline constexpr uint32_t empty = 2;
inline constexpr uint8_t all_empty_byte = 0xAA;
}  // namespace bucket

// Entry key headers of kinds 3-4.
inline constexpr uint32_t entry_live = type_unset;  // exactly 2, no flag bits
inline constexpr uint32_t entry_removed = 0;

// A reverse-index word of a cell that no bucket indexes.
inline constexpr int32_t not_indexed = -1;

// The answer of `hash_table_put`'s out flag when the insertion rebuilt a
// kind-0 table (every cell of the block is then indexed).
inline constexpr int32_t put_rebuilt = 2;
// The answer of `hash_table_shift_range` when it declines (above 30000 cells).
inline constexpr int32_t shift_declined = 1;
inline constexpr uint32_t shift_limit = 30000;

// A word of the record (valid until the next safe point).
uint32_t& record(NodeId table, uint32_t field_index);

// Installs the collector's hash-table marker (start-up; idempotent).
void hash_tables_init();

// A new table for `size` keys. `block` is the block value to index (its
// cells from its index, pairs for a map), or null for a new empty backing
// block (always so for kinds 3-4). For kinds 3-4, `extra` is the number of
// value cells after each entry's key cell. For kind 2 with extra 2, `block`
// is a context cell whose word table is copied instead.
NodeId make_hash_table(int32_t size, const Cell* block, Kind kind, int32_t extra);

// Indexes every step-th cell of the backing block from `start` to its tail.
void hash_table_index_all(NodeId table, uint32_t start, uint32_t step);
// Indexes `key`, a cell of the backing block; answers it. `out` becomes
// put_rebuilt when a kind-0 table had to be rebuilt (the whole block is then
// indexed), else 0.
Cell* hash_table_put(NodeId table, Cell* key, int32_t& out);
Cell* hash_table_add(NodeId table, Cell* key);
// The cell of the backing block that matches `key` under the compare
// operator, or null. Kind 0 answers the least match at or after `head`
// whose distance from head is a multiple of `skip`; with `last` the
// greatest; with `reverse` the greatest before head.
Cell* hash_table_find(NodeId table, const Cell* key, int32_t head, int32_t skip, int32_t op, bool last,
                      bool reverse);
// hash_table_find on a map's table for an integer! key under any equality
// code (they all agree on two integers): its key cell, or null.
Cell* map_find_integer(NodeId table, int32_t n);
// A map's lookup of `key` under an equality code that also notes where the
// key would be indexed when absent, so that an insertion does not probe
// again: the matching key cell, or null with `slot` set.
struct MapSlot {
    int64_t bucket = -1;  // the bucket, or -1 when unknown (map_place probes afresh)
    bool fresh = false;   // an empty bucket (occupied grows), not a deleted one
};
Cell* map_find_slot(NodeId table, const Cell& key, int32_t op, MapSlot& slot);
// Indexes the key cell at `index` of a map's backing block at the slot that
// map_find_slot gave for that key, as hash_table_add would (growing first
// when the table is full). The table must not have changed in between.
void map_place(NodeId table, uint32_t index, const MapSlot& slot);
// For maps: the next cell equal to `key` along its probe sequence. Start with
// bucket = -1 and step = 0; the variables carry the position between calls.
Cell* hash_table_find_next(NodeId table, const Cell* key, int32_t& bucket, int32_t& start, int32_t& step);
// Takes one cell out of the index (kind 0), or clears a map key's value.
void hash_table_remove(NodeId table, Cell* cell);
// Takes cells [index, index + n) out of the index (kind 0).
void hash_table_remove_range(NodeId table, uint32_t index, uint32_t n);
// Renumbers the cells [start, start + count) by `offset` after a block edit
// (kind 0). With `drop`, a negative offset also drops the cells it covers
// and the reverse index follows the move. Answers 0, or shift_declined.
int32_t hash_table_shift_range(NodeId table, int32_t offset, uint32_t start, uint32_t count, bool drop);
// Renumbers after `move` of n cells from s to d within the block (kind 0).
void hash_table_move_range(NodeId table, uint32_t d, uint32_t s, uint32_t n);
// Rebuilds a kind-0 table for a block of `size` cells.
void hash_table_resize(NodeId table, uint32_t size);
// Re-buckets in place to round_up_power_of_2(n) buckets.
void hash_table_rehash(NodeId table, uint32_t n);
// Resize (kind 0) or rebuild-keyed (kinds 3-4) with node renumbering held.
void hash_table_rebuild(NodeId table, uint32_t size);
void hash_table_rebuild_keyed(NodeId table, uint32_t n);
void hash_table_rehash_keyed(NodeId table);
// Re-indexes a table whose node-based keys were hashed before the collector
// last renumbered nodes.
void hash_table_refresh(NodeId table);
// Kinds 3-4: the first value cell of the key's entry, made when absent.
Cell* hash_table_put_key(NodeId table, NodeId key);
Cell* hash_table_get_key(NodeId table, NodeId key);
Cell* hash_table_remove_key(NodeId table, NodeId key);
// A new table over `block` (a copy of the table's block) with its own arrays.
NodeId copy_hash_table(NodeId table, NodeId block);
// Empties the table and its backing block.
void clear_hash_table(NodeId table);
inline void hash_table_noop(NodeId) {}
// Collector marking of the table in *table (installed by hash_tables_init).
void mark_hash_table(NodeId* table);
// After marking: drops the entries whose key (or, for kind 4, owner) was not
// marked.
void purge_node_keyed_table(NodeId table);
// Prints the deleted and the live buckets' keys (a debugging aid).
void dump_hash_table(NodeId table);

// Live entries, buckets and the backing block's node (for callers and tests).
inline uint32_t table_count(NodeId t) { return record(t, field::count); }
inline uint32_t table_buckets(NodeId t) { return record(t, field::buckets); }
inline NodeId table_backing(NodeId t) { return record(t, field::backing); }
// ---- Probing, for the symbol table and the word tables ----------------------
// The flags and keys arrays of a table: valid until the table grows.
uint32_t* flags_array(NodeId table);
int32_t* keys_array(NodeId table);
inline uint32_t flag_at(const uint32_t* flags, uint32_t b) { return (flags[b >> 4] >> ((b & 15) * 2)) & 3; }
inline void set_flag(uint32_t* flags, uint32_t b, uint32_t v) {
    uint32_t shift = (b & 15) * 2;
    flags[b >> 4] = (flags[b >> 4] & ~(3u << shift)) | (v << shift);
}
// The next bucket of a probe sequence: steps 1, 2, 3 ... (so bucket
// i0 + k(k+1)/2 after k steps, which visits every bucket of a power-of-two
// table before coming back to i0).
inline uint32_t next_bucket(uint32_t b, uint32_t& step, uint32_t mask) { return (b + ++step) & mask; }
// The growth target of a full table: buckets - 1 when more than half the
// buckets are deleted ones (same count once rounded up), else buckets + 1
// (twice as many).
inline uint32_t regrow_size(uint32_t buckets, uint32_t count) {
    return buckets > 2 * count ? buckets - 1 : buckets + 1;
}

// A bucket's flag (bucket::live, deleted, empty) and key.
uint32_t bucket_flag(NodeId table, uint32_t b);
int32_t bucket_key(NodeId table, uint32_t b);
// Kind 0: the bucket (1-based) that indexes cell i, or not_indexed.
int32_t reverse_of(NodeId table, uint32_t i);
// Kind 0: the cell indexes of a bucket (a chain's in order, or the one).
uint32_t bucket_indexes(NodeId table, uint32_t b, int32_t* out, uint32_t room);

// Byte series whose whole capacity is in use, filled with 0 or a byte; the
// refill of a series' whole capacity.
NodeId alloc_bytes_zeroed(uint32_t n);
NodeId alloc_bytes_filled(uint32_t n, uint8_t byte);
void fill_bytes_series(NodeId node, uint8_t byte);

// map! turns a newly indexed key into its stored form (texts copied, words
// made set-words); until map! installs it, keys are stored as given.
using MapKeyNormalizer = void (*)(Cell* key);
void set_map_key_normalizer(MapKeyNormalizer fn);

}  // namespace vyr::hash
