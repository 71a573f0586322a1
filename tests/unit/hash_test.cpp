// Hashing and the hash tables: the hash functions against reference values,
// every table kind, growth, deletion and renumbering against a brute-force
// model, copies, and re-indexing after collections that renumber nodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "fixture.h"
#include "runtime/collector.h"
#include "runtime/hash.h"
#include "runtime/series.h"

using namespace vyr;
using collector::CellRoot;
using collector::NodeRoot;
namespace field = hash::field;

namespace {

class HashTest : public test::RuntimeTest {};

Cell integer(int32_t v) { return Cell{type_integer, 0, uint32_t(v), 0}; }

// A string! of ASCII text at unit width 1 (or 2 to check widths agree).
Cell text(const std::string& s, uint32_t width = 1, uint32_t index = 0) {
    NodeId n = memory::alloc_units(uint32_t(s.size()) + 1, width);
    memory::SeriesBuffer* b = memory::buffer_of(n);
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t cp = uint8_t(s[i]);
        std::memcpy(b->head_ptr() + i * width, &cp, width);
    }
    b->tail = uint32_t(s.size() * width);
    return Cell{type_string, index, n, 0};
}

NodeId block_of(const std::vector<int32_t>& values) {
    NodeId b = memory::alloc_cells(uint32_t(values.size()) + 1);
    for (int32_t v : values) *series::alloc_tail_cell(b) = integer(v);
    return b;
}

int32_t index_of(NodeId block, const Cell* c) { return c ? int32_t(c - memory::cell_head(block)) : -1; }

// The hash! value whose table and block a test keeps rooted.
struct HashValue {
    Cell cell;
    CellRoot root{&cell};
    NodeId block() const { return cell.w2; }
    NodeId table() const { return cell.w3; }
};

std::vector<int32_t> chain(NodeId table, const Cell& key) {
    uint32_t b = hash::hash_value(key) & (hash::table_buckets(table) - 1);
    uint32_t step = 0;
    for (;;) {
        if (hash::bucket_flag(table, b) == hash::bucket::live) {
            int32_t out[64];
            uint32_t n = hash::bucket_indexes(table, b, out, 64);
            Cell first = *memory::cell_at(hash::table_backing(table), uint32_t(out[0]));
            if (first.w2 == key.w2) return std::vector<int32_t>(out, out + n);
        }
        if (hash::bucket_flag(table, b) == hash::bucket::empty) return {};
        b = hash::next_bucket(b, step, hash::table_buckets(table) - 1);
    }
}

}  // namespace

// ---- Hash functions ----------------------------------------------------------

TEST(HashFunctions, BytesMatchReferenceMurmur3WithTheSeed) {
    // From an independent MurmurHash3 x86_32 that reproduces the published
    // vectors ("hello", seed 0 -> 0x248BFA47), here with the runtime's seed.
    struct Case {
        const char* bytes;
        size_t length;
        uint32_t hash;
    } cases[] = {
        {"", 0, 0xDB5DC028},     {"a", 1, 0x6C6D510D},     {"ab", 2, 0x2B487B23},
        {"abc", 3, 0xF8037E91},  {"abcd", 4, 0x393E1D48},  {"abcde", 5, 0x69D62A3F},
        {"\xff\xfe\x80\x00\x01", 5, 0xE1BE27B8},
    };
    for (const Case& c : cases) EXPECT_EQ(hash::hash_bytes(c.bytes, c.length), c.hash) << c.bytes;
    EXPECT_EQ(hash::hash_int32(0), 0u);
    EXPECT_EQ(hash::hash_int32(1), 0x514E28B7u);
}

TEST(HashFunctions, RoundUpPowerOf2) {
    for (auto [n, p] : std::vector<std::pair<uint32_t, uint32_t>>{{1, 1}, {2, 2}, {3, 4}, {8, 8}, {9, 16}, {12615, 16384}})
        EXPECT_EQ(hash::round_up_power_of_2(n), p) << n;
}

TEST_F(HashTest, TextHashesFoldCaseAndIgnoreUnitWidth) {
    Cell lower = text("abc"), upper = text("ABC"), wide = text("aBc", 2);
    EXPECT_EQ(hash::hash_string(lower), hash::hash_string(upper));
    EXPECT_EQ(hash::hash_string(lower), hash::hash_string(wide));
    EXPECT_EQ(hash::hash_string(upper), 0x417F3F77u);  // hash_bytes of "ABC" in UTF-32LE
    EXPECT_EQ(hash::hash_string(text("xabc", 1, 1)), hash::hash_string(lower));  // from the index
    EXPECT_NE(hash::hash_string(lower), hash::hash_string(text("abd")));
    EXPECT_EQ(hash::hash_value(lower), hash::hash_string(lower));
}

TEST_F(HashTest, SymbolNamesFoldOnlyAsciiLetters) {
    auto name_hash = [](const char* s) {
        return hash::hash_symbol_name(*memory::cell_at(symbols::symbol_block, uint32_t(symbol_t::make(s) - 1)));
    };
    EXPECT_EQ(name_hash("Print"), name_hash("print"));
    EXPECT_EQ(name_hash("PRINT"), hash::hash_bytes("print", 5));
    EXPECT_NE(name_hash("\xC3\xA9t\xC3\xA9"), name_hash("\xC3\x89t\xC3\x89"));  // été / ÉtÉ
}

TEST_F(HashTest, ValueHashesByType) {
    Cell p1{type_point3d, 1, 2, 3}, p2{type_point3d | header::new_line, 1, 2, 3};
    EXPECT_EQ(hash::hash_value(p1), hash::hash_value(p2));
    EXPECT_EQ(hash::hash_value(Cell{type_none, 0, 0, 0}), 0xFFFFFFFFu);
    EXPECT_EQ(hash::hash_value(Cell{type_unset, 0, 0, 0}), 0xFFFFFFFEu);
    EXPECT_EQ(hash::hash_value(integer(7)), hash::hash_int32(7));
    EXPECT_EQ(hash::hash_value(Cell{type_char, 0, 'a', 0}), hash::hash_int32('a'));
    // Words hash by canonical symbol, so case variants hash alike.
    Cell a = word_t::make_global("Alpha"), b = word_t::make_global("ALPHA");
    set_type(b, type_set_word);
    EXPECT_EQ(hash::hash_value(a), hash::hash_value(b));
    // Tuples hash their bytes only.
    Cell t1{type_tuple | (3u << header::tuple_size_shift), 0x030201, 0, 0};
    Cell t2 = t1;
    t2.w2 = 99;
    EXPECT_EQ(hash::hash_value(t1), hash::hash_value(t2));
    EXPECT_TRUE(hash::node_based_key_q(Cell{type_block, 0, 1, 0}));
    EXPECT_FALSE(hash::node_based_key_q(integer(1)));
}

// ---- Making ------------------------------------------------------------------

TEST_F(HashTest, SizesBucketsAndBounds) {
    struct Case {
        int32_t size;
        hash::Kind kind;
        uint32_t buckets, bound;
    } cases[] = {{4000, hash::kind_symbols, 16384, 12615},
                 {4, hash::kind_block, 8, 6},
                 {0, hash::kind_map, 8, 6},
                 {1000, hash::kind_owners, 2048, 1576}};
    for (const Case& c : cases) {
        NodeId t = hash::make_hash_table(c.size, nullptr, c.kind, 3);
        EXPECT_EQ(hash::record(t, field::buckets), c.buckets) << c.size;
        EXPECT_EQ(hash::record(t, field::bound), c.bound) << c.size;
    }
    EXPECT_EQ(hash::record(owners::owners_table, field::width), 64u);
}

// ---- Kind 0: hash! blocks -------------------------------------------------------

TEST_F(HashTest, EqualKeysShareOneBucketWithAChainInOrder) {
    NodeId b = block_of({1, 2, 1, 3, 1});
    Cell blk{type_block, 0, b, 0};
    HashValue h{Cell{type_hash, 0, b, hash::make_hash_table(5, &blk, hash::kind_block, 0)}};
    EXPECT_EQ(hash::table_count(h.table()), 3u);
    EXPECT_EQ(chain(h.table(), integer(1)), (std::vector<int32_t>{0, 2, 4}));
    Cell one = integer(1);
    auto find = [&](int32_t head, int32_t skip, bool last, bool reverse) {
        return index_of(b, hash::hash_table_find(h.table(), &one, head, skip, registry::op_equal, last, reverse));
    };
    EXPECT_EQ(find(0, 1, false, false), 0);
    EXPECT_EQ(find(1, 1, false, false), 2);
    EXPECT_EQ(find(0, 1, true, false), 4);
    EXPECT_EQ(find(4, 1, false, true), 2);  // reverse: the last before head
    EXPECT_EQ(find(1, 2, false, false), -1);  // 2 and 4 lie at odd distances from 1
    EXPECT_EQ(find(1, 3, false, false), 4);
    EXPECT_EQ(find(5, 1, false, false), -1);
    Cell nine = integer(9);
    EXPECT_EQ(hash::hash_table_find(h.table(), &nine, 0, 1, registry::op_equal, false, false), nullptr);
}

namespace {

// A hash! block edited as the series actions edit it, checked against a
// brute-force scan of the block.
struct Model {
    HashValue h;
    explicit Model(uint32_t size) {
        NodeId b = memory::alloc_cells(size);
        Cell blk{type_block, 0, b, 0};
        h.cell = Cell{type_hash, 0, b, hash::make_hash_table(int32_t(size), &blk, hash::kind_block, 0)};
    }
    uint32_t length() const { return memory::series_length(h.block()); }
    int32_t value(uint32_t i) const { return int32_t(memory::cell_at(h.block(), i)->w2); }

    void append(int32_t v) {
        Cell* c = series::alloc_tail_cell(h.block());
        *c = integer(v);
        hash::hash_table_add(h.table(), c);
    }
    void insert(uint32_t at, int32_t v) {
        uint32_t len = length();
        series::alloc_tail_cell(h.block());
        Cell* cells = memory::cell_head(h.block());
        std::memmove(cells + at + 1, cells + at, (len - at) * sizeof(Cell));
        cells[at] = integer(v);
        ASSERT_EQ(hash::hash_table_shift_range(h.table(), 1, at, len - at, true), 0);
        hash::hash_table_add(h.table(), memory::cell_at(h.block(), at));
    }
    void remove(uint32_t at, uint32_t n) {
        uint32_t len = length();
        ASSERT_EQ(hash::hash_table_shift_range(h.table(), -int32_t(n), at + n, len - at - n, true), 0);
        series::array_remove_at(h.block(), at * 16, n * 16);
    }
    void move(uint32_t d, uint32_t s, uint32_t n) {  // n cells from s so that they end at d (d > s) or start at d
        if (s <= d && d < s + n) return;
        std::vector<Cell> all(memory::cell_head(h.block()), memory::cell_head(h.block()) + length());
        std::vector<Cell> moved(all.begin() + s, all.begin() + s + n);
        all.erase(all.begin() + s, all.begin() + s + n);
        uint32_t at = d < s ? d : d - n + 1;
        all.insert(all.begin() + at, moved.begin(), moved.end());
        std::copy(all.begin(), all.end(), memory::cell_head(h.block()));
        hash::hash_table_move_range(h.table(), d, s, n);
    }
    int32_t brute(int32_t v, int32_t head, bool last) const {
        int32_t found = -1;
        for (uint32_t i = uint32_t(std::max(head, 0)); i < length(); ++i)
            if (value(i) == v && (found < 0 || last)) found = int32_t(i);
        return found;
    }
    void check(const char* step) const {
        std::map<int32_t, int> distinct;
        for (uint32_t i = 0; i < length(); ++i) distinct[value(i)]++;
        ASSERT_EQ(hash::table_count(h.table()), distinct.size()) << step;
        for (int32_t v = 0; v < 40; ++v) {
            Cell key = integer(v);
            for (int32_t head : {0, int32_t(length() / 2)}) {
                for (bool last : {false, true}) {
                    Cell* c = hash::hash_table_find(h.table(), &key, head, 1, registry::op_equal, last, false);
                    ASSERT_EQ(index_of(h.block(), c), brute(v, head, last)) << step << " v=" << v << " head=" << head;
                }
            }
        }
    }
};

}  // namespace

TEST_F(HashTest, ManyInsertsDeletesAndMovesAgreeWithAScan) {
    Model m(4);
    std::mt19937 rng(12345);
    for (int i = 0; i < 300; ++i) m.append(int32_t(rng() % 40));  // grows through several rebuilds
    m.check("appended");
    for (int round = 0; round < 400; ++round) {
        uint32_t len = m.length();
        switch (rng() % 4) {
            case 0: m.append(int32_t(rng() % 40)); break;
            case 1: m.insert(uint32_t(rng() % (len + 1)), int32_t(rng() % 40)); break;
            case 2: {
                uint32_t at = uint32_t(rng() % len), n = 1 + uint32_t(rng() % std::min<uint32_t>(5, len - at));
                m.remove(at, n);
                break;
            }
            case 3: {
                uint32_t n = 1 + uint32_t(rng() % 4), s = uint32_t(rng() % (len - n)), d = uint32_t(rng() % len);
                m.move(d, s, n);
                break;
            }
        }
        if (round % 40 == 0) m.check("edited");
    }
    m.check("done");
}

TEST_F(HashTest, RemoveTakesCellsOutOfChainsAndFreesEmptiedBuckets) {
    NodeId b = block_of({5, 6, 5});
    Cell blk{type_block, 0, b, 0};
    HashValue h{Cell{type_hash, 0, b, hash::make_hash_table(3, &blk, hash::kind_block, 0)}};
    hash::hash_table_remove(h.table(), memory::cell_at(b, 0));
    EXPECT_EQ(chain(h.table(), integer(5)), (std::vector<int32_t>{2}));
    EXPECT_EQ(hash::table_count(h.table()), 2u);
    hash::hash_table_remove(h.table(), memory::cell_at(b, 2));
    EXPECT_EQ(hash::table_count(h.table()), 1u);
    Cell five = integer(5);
    EXPECT_EQ(hash::hash_table_find(h.table(), &five, 0, 1, registry::op_equal, false, false), nullptr);
    // Removing the whole block resets the table.
    hash::hash_table_remove_range(h.table(), 0, 3);
    EXPECT_EQ(hash::table_count(h.table()), 0u);
    EXPECT_EQ(hash::reverse_of(h.table(), 1), hash::not_indexed);
}

TEST_F(HashTest, ShiftRangeDeclinesAbove30000Cells) {
    NodeId b = block_of({1, 2, 3});
    Cell blk{type_block, 0, b, 0};
    HashValue h{Cell{type_hash, 0, b, hash::make_hash_table(3, &blk, hash::kind_block, 0)}};
    EXPECT_EQ(hash::hash_table_shift_range(h.table(), 1, 0, 30001, true), hash::shift_declined);
    Cell two = integer(2);
    EXPECT_EQ(index_of(b, hash::hash_table_find(h.table(), &two, 0, 1, registry::op_equal, false, false)), 1);
}

TEST_F(HashTest, CopiedTablesChangeIndependently) {
    NodeId b = block_of({1, 2, 1});
    Cell blk{type_block, 0, b, 0};
    HashValue h{Cell{type_hash, 0, b, hash::make_hash_table(3, &blk, hash::kind_block, 0)}};
    NodeId b2 = memory::copy_series_buffer(b);
    HashValue copy{Cell{type_hash, 0, b2, hash::copy_hash_table(h.table(), b2)}};
    hash::hash_table_remove(h.table(), memory::cell_at(b, 0));
    Cell one = integer(1);
    EXPECT_EQ(index_of(b, hash::hash_table_find(h.table(), &one, 0, 1, registry::op_equal, false, false)), 2);
    EXPECT_EQ(index_of(b2, hash::hash_table_find(copy.table(), &one, 0, 1, registry::op_equal, false, false)), 0);
    EXPECT_EQ(chain(copy.table(), one), (std::vector<int32_t>{0, 2}));
}

// Block keys hash by node: after a collection renumbers every node, the next
// lookup re-indexes the table and finds each key where it is.
TEST_F(HashTest, NodeBasedKeysAreFoundAfterNodesAreRenumbered) {
    const uint32_t n = 200;
    Model m(n);
    std::vector<Cell> keys(n);
    CellRoot keep(keys.data(), n);
    for (uint32_t i = 0; i < n; ++i) {
        keys[i] = Cell{type_block, 0, memory::alloc_cells(1), 0};
        *series::alloc_tail_cell(keys[i].w2) = integer(int32_t(i));  // blocks compare by content: keep them apart
        Cell* c = series::alloc_tail_cell(m.h.block());
        *c = keys[i];
        hash::hash_table_add(m.h.table(), c);
    }
    uint32_t stamp = hash::record(m.h.table(), field::stamp);
    EXPECT_EQ(stamp, collector::nodes_cycles() + 1);
    NodeId before = keys[7].w2;
    stress_collect();
    ASSERT_NE(keys[7].w2, before);  // the collection renumbered the node
    for (uint32_t i = 0; i < n; ++i) {
        Cell* c = hash::hash_table_find(m.h.table(), &keys[i], 0, 1, registry::op_equal, false, false);
        ASSERT_EQ(index_of(m.h.block(), c), int32_t(i));
    }
    EXPECT_EQ(hash::record(m.h.table(), field::stamp), collector::nodes_cycles() + 1);
}

// ---- Kind 1: maps ------------------------------------------------------------------

TEST_F(HashTest, MapIndexingMergesDuplicateKeys) {
    NodeId b = block_of({1, 10, 2, 20, 1, 30});
    Cell blk{type_block, 0, b, 0};
    Cell map{type_map, 0, b, hash::make_hash_table(3, &blk, hash::kind_map, 0)};
    CellRoot keep(&map);
    NodeId t = map.w3;
    ASSERT_EQ(memory::series_length(b), 4u);  // the duplicate pair left the block
    EXPECT_EQ(memory::cell_at(b, 1)->w2, 30u);
    EXPECT_EQ(hash::table_count(t), 2u);
    Cell two = integer(2);
    Cell* k = hash::hash_table_find(t, &two, 0, 1, registry::op_strict_equal, false, false);
    ASSERT_EQ(index_of(b, k), 2);
    // Removing a key clears its value and keeps it indexed.
    hash::hash_table_remove(t, k);
    EXPECT_EQ(memory::cell_at(b, 3)->header, 0u);
    EXPECT_EQ(hash::table_count(t), 1u);
    EXPECT_EQ(hash::hash_table_find(t, &two, 0, 1, registry::op_strict_equal, false, false), k);
    // find_next walks the probe sequence from the key's bucket.
    int32_t bucket = -1, start = 0, step = 0;
    EXPECT_EQ(hash::hash_table_find_next(t, &two, bucket, start, step), k);
    EXPECT_EQ(hash::hash_table_find_next(t, &two, bucket, start, step), nullptr);
    hash::clear_hash_table(t);
    EXPECT_EQ(memory::series_length(b), 0u);
    EXPECT_EQ(hash::hash_table_find(t, &two, 0, 1, registry::op_strict_equal, false, false), nullptr);
}

TEST_F(HashTest, MapsGrowByRehashing) {
    NodeId b = memory::alloc_cells(4);
    Cell blk{type_block, 0, b, 0};
    Cell map{type_map, 0, b, hash::make_hash_table(1, &blk, hash::kind_map, 0)};
    CellRoot keep(&map);
    for (int32_t i = 0; i < 1000; ++i) {
        *series::alloc_tail_cell(b) = integer(i * 7);
        hash::hash_table_add(map.w3, memory::cell_at(b, uint32_t(2 * i)));
        *series::alloc_tail_cell(b) = integer(i);
    }
    EXPECT_EQ(hash::table_buckets(map.w3), 2048u);
    for (int32_t i = 0; i < 1000; ++i) {
        Cell key = integer(i * 7);
        Cell* k = hash::hash_table_find(map.w3, &key, 0, 1, registry::op_strict_equal, false, false);
        ASSERT_EQ(index_of(b, k), 2 * i);
    }
}

// ---- Kind 2: word tables, re-bucketed in place ----------------------------------------

TEST_F(HashTest, RehashInPlaceKeepsEveryWordFindable) {
    NodeId words = memory::alloc_cells(300);
    for (int i = 0; i < 300; ++i) {
        std::string name = "w" + std::to_string(i);
        *series::alloc_tail_cell(words) = Cell{type_word, 0, uint32_t(symbol_t::make(name.c_str())), uint32_t(-1)};
    }
    Cell blk{type_block, 0, words, 0};
    NodeId t = hash::make_hash_table(300, &blk, hash::kind_symbols, 0);
    collector::add_root(&t, collector::RootKind::hash_table);
    for (uint32_t n : {4096u, 512u, 1024u}) {
        hash::hash_table_rehash(t, n);
        EXPECT_EQ(hash::table_buckets(t), n);
        EXPECT_EQ(hash::record(t, field::occupied), 300u);
        for (uint32_t i = 0; i < 300; ++i) {
            Cell key = *memory::cell_at(words, i);
            ASSERT_EQ(index_of(words, hash::hash_table_find(t, &key, 0, 1, registry::op_strict_equal, false, false)),
                      int32_t(i));
        }
    }
    hash::hash_table_rehash(t, 256);  // too small for 300 keys: nothing changes
    EXPECT_EQ(hash::table_buckets(t), 1024u);
}

// ---- Kinds 3 and 4: node-keyed entries --------------------------------------------

TEST_F(HashTest, NodeKeyedEntriesSurviveInsertsDeletesAndRenumbering) {
    NodeId t = hash::make_hash_table(4, nullptr, hash::kind_scratch, 1);
    collector::add_root(&t, collector::RootKind::hash_table);
    const uint32_t n = 3000;
    NodeId holder = memory::alloc_cells(n);  // keeps the key series alive
    NodeRoot keep(holder);
    for (uint32_t i = 0; i < n; ++i) {
        NodeId key = memory::alloc_bytes(4);
        *series::alloc_tail_cell(holder) = Cell{type_binary, 0, key, 0};
        *hash::hash_table_put_key(t, key) = integer(int32_t(i));
    }
    EXPECT_EQ(hash::table_count(t), n);
    auto key_of = [&](uint32_t i) { return memory::cell_at(holder, i)->w2; };
    for (uint32_t i = 0; i < n; i += 2) ASSERT_NE(hash::hash_table_remove_key(t, key_of(i)), nullptr);
    EXPECT_EQ(hash::hash_table_remove_key(t, key_of(0)), nullptr);
    EXPECT_EQ(hash::table_count(t), n / 2);
    // Putting a key again reuses a removed entry; its cells come back unset.
    Cell* again = hash::hash_table_put_key(t, key_of(0));
    EXPECT_EQ(again->header, uint32_t(type_unset));
    *again = integer(-1);

    NodeId before = key_of(1);
    stress_collect();
    ASSERT_NE(key_of(1), before);
    for (uint32_t i = 0; i < n; ++i) {
        Cell* v = hash::hash_table_get_key(t, key_of(i));
        if (i % 2 == 1) {
            ASSERT_NE(v, nullptr) << i;
            ASSERT_EQ(v->w2, i);
        } else {
            ASSERT_EQ(v != nullptr, i == 0) << i;
        }
    }
}

TEST_F(HashTest, RebuildKeyedCompactsEntries) {
    NodeId t = hash::make_hash_table(64, nullptr, hash::kind_scratch, 2);
    collector::add_root(&t, collector::RootKind::hash_table);
    NodeId holder = memory::alloc_cells(64);
    NodeRoot keep(holder);
    for (int32_t i = 0; i < 64; ++i) {
        NodeId key = memory::alloc_bytes(4);
        *series::alloc_tail_cell(holder) = Cell{type_binary, 0, key, 0};
        Cell* v = hash::hash_table_put_key(t, key);
        v[0] = integer(i);
        v[1] = integer(-i);
    }
    for (uint32_t i = 0; i < 64; i += 4) hash::hash_table_remove_key(t, memory::cell_at(holder, i)->w2);
    hash::hash_table_rebuild(t, 64);
    EXPECT_EQ(memory::series_length(hash::table_backing(t)), 48u * 3);  // live entries only
    for (uint32_t i = 0; i < 64; ++i) {
        Cell* v = hash::hash_table_get_key(t, memory::cell_at(holder, i)->w2);
        if (i % 4 == 0) {
            EXPECT_EQ(v, nullptr);
        } else {
            ASSERT_NE(v, nullptr);
            EXPECT_EQ(int32_t(v[0].w2), int32_t(i));
            EXPECT_EQ(int32_t(v[1].w2), -int32_t(i));
        }
    }
}

TEST_F(HashTest, PurgeDropsEntriesWhoseKeyOrOwnerWasNotMarked) {
    NodeId t = hash::make_hash_table(8, nullptr, hash::kind_owners, 3);
    collector::add_root(&t, collector::RootKind::hash_table);
    NodeId key = memory::alloc_bytes(4);
    NodeRoot keep(key);
    Cell* v = hash::hash_table_put_key(t, key);
    v[1] = Cell{type_object, key, 0, 0};  // an "owner" whose context is the key itself
    // Outside a cycle nothing is marked: the purge drops the entry.
    hash::purge_node_keyed_table(t);
    EXPECT_EQ(hash::table_count(t), 0u);
    EXPECT_EQ(hash::hash_table_get_key(t, key), nullptr);
}
