// The collector: reachability, the cell marker, compaction and relocation,
// node-frame compaction, timing, stress mode, hooks and statistics.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "heap_fixture.h"
#include "runtime/compaction.h"
#include "runtime/memory_frames.h"

#if defined(VYR_POISON) && VYR_POISON
#include <sanitizer/asan_interface.h>
#endif

using namespace vyr;
using collector::AddressRoot;
using collector::CellRoot;
using collector::NodeRoot;
using memory::buffer_of;
using memory::SeriesBuffer;
using test::block_cell;
class CollectorTest : public test::HeapTest {};

namespace {

// A node is alive when its slot holds a buffer that names it back.
bool alive(NodeId n) {
    memory::NodeFrame* f = memory::node_frame_of(n);
    if (!f) return false;
    uintptr_t content = *memory::slot_of(n);
    if (!content || f->owns_address(content)) return false;
    return reinterpret_cast<SeriesBuffer*>(content)->node == n;
}

NodeId bytes_with(const char* text) {
    NodeId n = memory::alloc_bytes(uint32_t(std::strlen(text)));
    std::memcpy(series::alloc_tail_bytes(n, uint32_t(std::strlen(text))), text, std::strlen(text));
    return n;
}

std::string text_of(NodeId n) {
    SeriesBuffer* b = buffer_of(n);
    return std::string(reinterpret_cast<char*>(b->head_ptr()), b->used());
}

size_t node_frame_count() {
    size_t n = 0;
    for (auto* f = memory::mem.node_first; f; f = f->next) ++n;
    return n;
}

bool in_frame(memory::SeriesFrame* f, const void* p) {
    auto a = uintptr_t(p);
    return a >= uintptr_t(f->data()) && a < uintptr_t(f->end);
}

}  // namespace

// ---- Reachability ------------------------------------------------------------

TEST_F(CollectorTest, ReachableSeriesAreKeptAndTheOthersReclaimed) {
    NodeId outer = memory::alloc_cells(2);
    NodeRoot root(outer);
    NodeId inner = memory::alloc_cells(1);
    NodeId text = bytes_with("kept");
    *series::alloc_tail_cell(inner) = Cell{type_string, 0, text, 0};
    *series::alloc_tail_cell(outer) = block_cell(inner);
    NodeId lost = bytes_with("lost");
    double before = collector::memory_in_use();
    collector::recycle();
    EXPECT_TRUE(alive(outer));
    EXPECT_TRUE(alive(inner));
    EXPECT_TRUE(alive(text));
    EXPECT_EQ(text_of(text), "kept");
    EXPECT_FALSE(alive(lost));
    EXPECT_LT(collector::memory_in_use(), before);
    EXPECT_EQ(collector::cycles(), 1u);
}

TEST_F(CollectorTest, CompactionMovesABufferAndTheRegisteredAddressesIntoIt) {
    NodeId dead = memory::alloc_bytes(5000);
    (void)dead;
    NodeId live = memory::alloc_cells(4);
    for (uint32_t i = 0; i < 4; ++i) *series::alloc_tail_cell(live) = Cell{type_integer, 0, 100 + i, 0};
    NodeRoot root(live);
    Cell* third = memory::cell_at(live, 2);
    uint8_t* tail = buffer_of(live)->tail_ptr();  // one past the data: still inside the buffer
    AddressRoot r1(third), r2(tail);
    SeriesBuffer* before = buffer_of(live);
    collector::recycle();
    SeriesBuffer* after = buffer_of(live);
    EXPECT_LT(after, before) << "slid down over the dead buffer";
    EXPECT_EQ(third, memory::cell_at(live, 2));
    EXPECT_EQ(third->w2, 102u);
    EXPECT_EQ(tail, after->tail_ptr());
}

TEST_F(CollectorTest, ARawAddressAloneDoesNotKeepASeriesAlive) {
    NodeId n = bytes_with("gone");
    uint8_t* p = buffer_of(n)->head_ptr();
    AddressRoot keep(p);
    collector::recycle();
    EXPECT_FALSE(alive(n));
}

// Which payload words of each type hold nodes: every word of the test cell
// gets a node of its own, and exactly the expected ones survive.
TEST_F(CollectorTest, CellMarkerKnowsTheNodeWordsOfEveryType) {
    constexpr uint8_t w1 = 1, w2 = 2, w3 = 4;
    struct Case {
        uint32_t type;
        uint32_t header_bits;
        uint8_t nodes;
    };
    const Case cases[] = {
        {type_word, 0, w1},           {type_set_word, 0, w1},      {type_lit_word, 0, w1},
        {type_get_word, 0, w1},       {type_refinement, 0, w1},    {type_block, 0, w2},
        {type_paren, 0, w2},          {type_path, 0, w2},          {type_lit_path, 0, w2},
        {type_set_path, 0, w2},       {type_get_path, 0, w2},      {type_symbol, 0, w2 | w3},
        {type_string, 0, w2 | w3},    {type_file, 0, w2 | w3},     {type_url, 0, w2 | w3},
        {type_tag, 0, w2 | w3},       {type_email, 0, w2 | w3},    {type_ref, 0, w2 | w3},
        {type_bitset, 0, w2},         {type_vector, 0, w2},        {type_binary, 0, w2},
        {type_object, 0, w1 | w3},    {type_error, 0, w1 | w3},    {type_port, 0, w1 | w3},
        {type_context, 0, w1 | w2},   {type_context, header::context_on_stack, w1},
        {type_hash, 0, w2 | w3},      {type_map, 0, w2 | w3},      {type_function, 0, w1 | w2 | w3},
        {type_routine, 0, w1 | w2 | w3}, {type_native, 0, w2 | w3}, {type_action, 0, w2 | w3},
        {type_op, 21u << 16, w2 | w3}, {type_op, 24u << 16, w1 | w2 | w3}, {type_op, 29u << 16, w1 | w2 | w3},
        {type_image, 0, w2},          {type_event, header::event_in_block, w2}, {type_event, 0, 0},
        {type_integer, 0, 0},         {type_float, 0, 0},          {type_pair, 0, 0},
        {type_date, 0, 0},            {type_money, 0, 0},          {type_typeset, 0, 0},
        {type_datatype, 0, 0},        {type_none, 0, 0},           {type_issue, 0, w1},
        {type_char, 0, 0},            {type_time, 0, 0},           {type_tuple, 0, 0},
        {type_point2d, 0, 0},         {type_point3d, 0, 0},        {type_percent, 0, 0},
        {type_triple, 0, 0},          {type_series, 0, 0},
    };
    NodeId holder = memory::alloc_cells(0);
    NodeRoot root(holder);
    struct Made {
        const Case* c;
        NodeId n[3];
    };
    std::vector<Made> made;
    for (const Case& c : cases) {
        Made m{&c, {memory::alloc_cells(0), memory::alloc_bytes(1), memory::alloc_bytes(1)}};
        *series::alloc_tail_cell(holder) = Cell{c.type | c.header_bits, m.n[0], m.n[1], m.n[2]};
        made.push_back(m);
    }
    collector::recycle();
    for (const Made& m : made) {
        for (int w = 0; w < 3; ++w) {
            bool expected = m.c->nodes & (1 << w);
            EXPECT_EQ(alive(m.n[w]), expected)
                << "type " << m.c->type << " bits " << m.c->header_bits << " word " << w + 1;
        }
    }
}

TEST_F(CollectorTest, AHandleMarksItsResourceSlotNotANode) {
    int object = 0;
    int32_t slot = resources::add_external_resource(&object, 0);
    NodeId holder = memory::alloc_cells(2);
    NodeRoot root(holder);
    *series::alloc_tail_cell(holder) = Cell{type_handle, 0, 0, uint32_t(slot)};
    *series::alloc_tail_cell(holder) = Cell{type_handle, 0, 0, uint32_t(-1)};  // no slot
    collector::recycle();
    EXPECT_EQ(resources::external_object(slot), &object);
}

TEST_F(CollectorTest, AMillionNestedBlocksAreMarkedWithoutMachineStack) {
    constexpr uint32_t depth = 1000000;
    NodeId top = memory::alloc_cells(1);
    NodeRoot root(top);
    NodeId cur = top;
    for (uint32_t i = 0; i < depth; ++i) {
        NodeId next = memory::alloc_cells(1);
        *series::alloc_tail_cell(cur) = block_cell(next);
        cur = next;
    }
    NodeId garbage = memory::alloc_cells(1);
    collector::recycle();
    EXPECT_FALSE(alive(garbage));
    uint32_t seen = 0;
    for (NodeId n = top; memory::series_length(n) == 1; n = memory::cell_at(n, 0)->w2) ++seen;
    EXPECT_EQ(seen, depth);
}

// ---- Compaction ----------------------------------------------------------------

// Two adjacent frames A < B: B holds a dead buffer, then a live one. The live
// one moves into A when A has more than 0xCCCC bytes free, else it slides
// down to the dead buffer's place in B.
TEST_F(CollectorTest, CompactionUsesThePreviousFrameOnlyWhenItHasRoom) {
    struct Case {
        size_t room_in_a;
        bool into_a;
    };
    for (const Case& c : {Case{0x20000, true}, Case{compaction::min_useful_room - 32, false}}) {
        test::fresh_heap();
        memory::new_series_frame();
        memory::new_series_frame();
        memory::SeriesFrame* a = memory::mem.series_first;
        memory::SeriesFrame* b = a->next;
        memory::mem.series_current = a;
        size_t need = a->room() - c.room_in_a;
        need -= (need - memory::buffer_overhead) % 16;
        NodeId filler = memory::alloc_bytes(uint32_t(need - memory::buffer_overhead));
        NodeRoot keep_filler(filler);
        ASSERT_TRUE(in_frame(a, buffer_of(filler)));
        memory::mem.series_current = b;
        uint8_t* gap = reinterpret_cast<uint8_t*>(buffer_of(memory::alloc_bytes(3000)));  // dead
        NodeId live = bytes_with("moved with its address");
        NodeRoot keep(live);
        uint8_t* inside = buffer_of(live)->head_ptr() + 6;
        AddressRoot follow(inside);
        ASSERT_TRUE(in_frame(b, buffer_of(live)));
        collector::recycle();
        EXPECT_EQ(in_frame(a, buffer_of(live)), c.into_a);
        if (!c.into_a) {
            EXPECT_EQ(reinterpret_cast<uint8_t*>(buffer_of(live)), gap);
        }
        EXPECT_EQ(text_of(live), "moved with its address");
        EXPECT_EQ(inside, buffer_of(live)->head_ptr() + 6);
    }
}

TEST_F(CollectorTest, EmptiedFramesAreReturnedExceptTheLast) {
    for (int i = 0; i < 6000; ++i) memory::alloc_bytes(1000);  // about 6 MB of garbage
    NodeId live = bytes_with("survivor");
    NodeRoot keep(live);
    size_t frames_before = collector::memory_stats().series_frames.size();
    size_t total_before = memory::os_total();
    ASSERT_GE(frames_before, 4u);
    collector::recycle();
    size_t frames = 0;
    for (memory::SeriesFrame* f = memory::mem.series_first; f; f = f->next, ++frames)
        if (f != memory::mem.series_last) {
            EXPECT_GT(f->bump, f->data()) << "an empty frame that is not last is freed";
        }
    EXPECT_LE(frames, 2u);
    EXPECT_LT(memory::os_total(), total_before);
    EXPECT_EQ(text_of(live), "survivor");
}

TEST_F(CollectorTest, TheFreedNodeBatchFlushesWhenFull) {
    uint32_t used_before = 0;
    for (auto* f = memory::mem.node_first; f; f = f->next) used_before += f->used;
    for (int i = 0; i < 45000; ++i) memory::alloc_bytes(1);
    NodeId live = bytes_with("x");
    NodeRoot keep(live);
    collector::recycle();
    uint32_t used = 0;
    for (auto* f = memory::mem.node_first; f; f = f->next) used += f->used;
    EXPECT_EQ(used, used_before + 1);
    EXPECT_TRUE(alive(live));
}

// ---- Node-frame compaction -------------------------------------------------------

// 25000 nodes fill two frames and half a third; only 100 nodes of the third
// stay reachable. The third frame is emptied once its used count has stayed
// the same for six collections (cycles 2 to 7), at cycle 8 - unless the
// count keeps changing.
TEST_F(CollectorTest, AStableSparseNodeFrameIsEmptiedAndReturned) {
    for (bool keep_changing : {false, true}) {
        test::fresh_heap();
        std::vector<NodeId> all;
        for (int i = 0; i < 25000; ++i) all.push_back(memory::alloc_bytes(4));
        NodeId holder = memory::alloc_cells(100);
        NodeRoot root(holder);
        for (int i = 24900; i < 25000; ++i) {
            std::memcpy(series::alloc_tail_bytes(all[i], 4), &i, 4);
            *series::alloc_tail_cell(holder) = Cell{type_binary, 0, all[i], 0};
        }
        NodeId direct = all.back();
        NodeRoot direct_root(direct);
        const NodeId original = direct;
        uint32_t emptied_at = 0;
        for (uint32_t cycle = 1; cycle <= 12 && !emptied_at; ++cycle) {
            if (keep_changing) *memory::cell_at(holder, cycle) = Cell{type_none, 0, 0, 0};
            collector::recycle();
            if (!memory::node_frame_of(original)) emptied_at = cycle;
        }
        if (keep_changing) {
            EXPECT_EQ(emptied_at, 0u) << "a frame whose count changed is never emptied";
            EXPECT_EQ(collector::nodes_cycles(), 0u);
            continue;
        }
        EXPECT_EQ(emptied_at, 8u);
        EXPECT_EQ(node_frame_count(), 2u) << "the first frame, and the second kept empty in reserve";
        EXPECT_EQ(collector::nodes_cycles(), 1u);
        EXPECT_NE(direct, original) << "the registered slot was rewritten";
        EXPECT_TRUE(alive(direct));
        EXPECT_EQ(memory::cell_at(holder, 99)->w2, direct);
        for (uint32_t i = 0; i < 100; ++i) {
            NodeId n = memory::cell_at(holder, i)->w2;
            ASSERT_TRUE(alive(n));
            int32_t v;
            std::memcpy(&v, buffer_of(n)->head_ptr(), 4);
            EXPECT_EQ(v, int32_t(24900 + i));
        }
    }
}

// ---- Timing ------------------------------------------------------------------------

TEST_F(CollectorTest, DisabledCollectionOnlyGrowsWhileRecycleStillCollects) {
    collector::set_enabled(false);
    for (int i = 0; i < 3000; ++i) memory::alloc_bytes(1000);  // beyond the first frame
    EXPECT_TRUE(collector::collection_pending());
    collector::safe_point();
    EXPECT_EQ(collector::cycles(), 0u);
    EXPECT_TRUE(collector::recycle());
    EXPECT_EQ(collector::cycles(), 1u);
    EXPECT_FALSE(collector::collection_pending());

    for (int i = 0; i < 3000; ++i) memory::alloc_bytes(1000);
    collector::set_enabled(true);
    collector::safe_point();  // the pending request is honoured once enabled
    EXPECT_EQ(collector::cycles(), 2u);
    collector::safe_point();  // nothing pending
    EXPECT_EQ(collector::cycles(), 2u);
}

TEST_F(CollectorTest, AHeldCollectionWaitsForTheNextSafePoint) {
    collector::request_collection();
    {
        collector::CollectionHold hold;
        collector::safe_point();
        EXPECT_FALSE(collector::recycle());
        EXPECT_EQ(collector::cycles(), 0u);
    }
    collector::safe_point();
    EXPECT_EQ(collector::cycles(), 1u);
}

TEST_F(CollectorTest, StressMovesEveryBufferAndRenumbersEveryNode) {
    NodeId blk = memory::alloc_cells(3);
    NodeRoot root(blk);
    NodeId text = bytes_with("still here");
    *series::alloc_tail_cell(blk) = Cell{type_string, 0, text, 0};
    for (uint32_t i = 0; i < 2; ++i) *series::alloc_tail_cell(blk) = Cell{type_integer, 0, i + 5, 0};
    NodeId big = memory::alloc_bytes(0x300000);
    NodeRoot big_root(big);
    Cell* second = memory::cell_at(blk, 1);
    AddressRoot follow(second);
    collector::set_stress(true);
    for (int round = 0; round < 3; ++round) {
        const NodeId old_id = blk;
        SeriesBuffer* old_buffer = buffer_of(blk);
        SeriesBuffer* old_text = buffer_of(memory::cell_at(blk, 0)->w2);
        SeriesBuffer* big_buffer = buffer_of(big);
        collector::safe_point();
        EXPECT_NE(blk, old_id);
        EXPECT_TRUE(alive(blk));
        EXPECT_NE(buffer_of(blk), old_buffer);
        NodeId t = memory::cell_at(blk, 0)->w2;
        EXPECT_NE(buffer_of(t), old_text);
        EXPECT_EQ(text_of(t), "still here");
        EXPECT_EQ(second, memory::cell_at(blk, 1));
        EXPECT_EQ(second->w2, 5u);
        EXPECT_EQ(buffer_of(big), big_buffer) << "big blocks do not move";
#if defined(VYR_POISON) && VYR_POISON
        EXPECT_TRUE(__asan_address_is_poisoned(old_buffer)) << "the room left behind is poisoned";
#endif
    }
    EXPECT_EQ(collector::cycles(), 3u);
    EXPECT_EQ(collector::nodes_cycles(), 3u);
}

TEST_F(CollectorTest, NodeMoveHoldKeepsNodeIdsUnderStress) {
    NodeId n = bytes_with("same id");
    NodeRoot root(n);
    const NodeId before = n;
    collector::set_stress(true);
    {
        collector::NodeMoveHold hold;
        collector::safe_point();
    }
    EXPECT_EQ(n, before);
    EXPECT_EQ(text_of(n), "same id");
}

TEST_F(CollectorTest, CycleStackEntriesFollowRenumberedNodes) {
    NodeId n = bytes_with("walked");
    NodeRoot root(n);
    series::cycle_push(n);
    collector::set_stress(true);
    collector::safe_point();
    EXPECT_TRUE(series::cycle_find(n));
    series::cycle_reset();
}

// ---- Roots, callbacks and hooks -------------------------------------------------------

namespace {
NodeId callback_node = no_node;
void mark_callback_node() { collector::mark_block(&callback_node); }

std::vector<NodeId> hash_tables_seen;
void record_hash_table(NodeId* table) {
    if (!collector::mark_node(table)) return;
    hash_tables_seen.push_back(*table);
}

std::vector<NodeId> images_seen;
void record_image(NodeId bitmap) { images_seen.push_back(bitmap); }

NodeId purge_kept = no_node, purge_lost = no_node;
bool purge_saw_marks = false;
void purge_check() { purge_saw_marks = collector::is_marked(purge_kept) && !collector::is_marked(purge_lost); }
}  // namespace

TEST_F(CollectorTest, PermanentRootsAndMarkCallbacksKeepTheirSeries) {
    static NodeId global_block = no_node;
    static Cell global_cell;
    global_block = bytes_with("global");
    global_cell = Cell{type_string, 0, bytes_with("cell"), 0};
    callback_node = bytes_with("callback");
    collector::add_root(&global_block, collector::RootKind::series);
    collector::add_root_cells(&global_cell, 1);
    collector::add_mark_callback(mark_callback_node);
    collector::recycle();
    EXPECT_EQ(text_of(global_block), "global");
    EXPECT_EQ(text_of(global_cell.w2), "cell");
    EXPECT_TRUE(alive(callback_node));
    collector::remove_mark_callback(mark_callback_node);
    collector::recycle();
    EXPECT_FALSE(alive(callback_node));
    EXPECT_TRUE(alive(global_block));
}

TEST_F(CollectorTest, HashTableImageAndPurgeHooksAreCalled) {
    hash_tables_seen.clear();
    images_seen.clear();
    collector::set_hash_table_marker(record_hash_table);
    collector::set_image_marker(record_image);
    collector::set_owners_purge(purge_check);
    NodeId holder = memory::alloc_cells(4);
    NodeRoot root(holder);
    NodeId words = memory::alloc_bytes(44), values = memory::alloc_cells(1), index = memory::alloc_bytes(44);
    NodeId bitmap = memory::alloc_bytes(8);
    *series::alloc_tail_cell(holder) = Cell{type_context, words, values, 0};
    *series::alloc_tail_cell(holder) = Cell{type_map, 0, memory::alloc_cells(2), index};
    *series::alloc_tail_cell(holder) = Cell{type_image, 0, bitmap, 0};
    purge_kept = holder;
    purge_lost = bytes_with("unreached");
    collector::recycle();
    EXPECT_EQ(hash_tables_seen, (std::vector<NodeId>{words, index}));
    EXPECT_EQ(images_seen, (std::vector<NodeId>{bitmap}));
    EXPECT_TRUE(purge_saw_marks);
    EXPECT_TRUE(alive(values));
    EXPECT_TRUE(alive(bitmap));
}

TEST_F(CollectorTest, ScopedRootsMayEndInAnyOrder) {
    NodeId a = bytes_with("a"), b = bytes_with("b");
    Cell c = Cell{type_string, 0, bytes_with("c"), 0};
    auto ra = std::make_unique<NodeRoot>(a);
    auto rb = std::make_unique<NodeRoot>(b);
    auto rc = std::make_unique<CellRoot>(&c);
    rb.reset();  // the middle one first
    collector::recycle();
    EXPECT_TRUE(alive(a));
    EXPECT_FALSE(alive(b));
    EXPECT_EQ(text_of(c.w2), "c");
    ra.reset();
    rc.reset();
    collector::recycle();
    EXPECT_FALSE(alive(a));
}

// ---- Statistics ------------------------------------------------------------------------

TEST_F(CollectorTest, StatsBlockHasTheFiveEntries) {
    memory::alloc_bytes(0x200000);  // one big block
    NodeId big = memory::alloc_bytes(0x200000);
    NodeRoot keep_big(big);
    NodeId result = memory::alloc_cells(5);
    NodeRoot root(result);
    collector::memory_stats_block(result);
    ASSERT_EQ(memory::series_length(result), 5u);
    Cell* r = memory::cell_at(result, 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(type_of(r[i]), uint32_t(type_block));
    EXPECT_EQ(type_of(r[3]), uint32_t(type_integer));
    EXPECT_EQ(type_of(r[4]), uint32_t(type_integer));
    EXPECT_GT(r[3].w2, r[4].w2);

    NodeId nodes = r[0].w2;
    ASSERT_EQ(memory::series_length(nodes), 1u);
    Cell* entry = memory::cell_at(nodes, 0);
    EXPECT_EQ(entry->header, uint32_t(type_block) | header::new_line);
    ASSERT_EQ(memory::series_length(entry->w2), 3u);
    Cell* numbers = memory::cell_at(entry->w2, 0);
    EXPECT_EQ(numbers[0].w2 + numbers[1].w2, numbers[2].w2);
    EXPECT_EQ(numbers[2].w2, memory::node_frame_slots);

    NodeId frames = r[1].w2;
    ASSERT_GE(memory::series_length(frames), 1u);
    Cell* first = memory::cell_at(memory::cell_at(frames, 0)->w2, 0);
    EXPECT_EQ(first[0].w2 + first[1].w2, first[2].w2);

    NodeId bigs = r[2].w2;
    ASSERT_EQ(memory::series_length(bigs), 2u);
    EXPECT_EQ(memory::cell_at(bigs, 0)->header, uint32_t(type_integer) | header::new_line);
    EXPECT_EQ(memory::cell_at(bigs, 0)->w2, 0x200000u + memory::buffer_overhead);

    collector::recycle();
    EXPECT_EQ(collector::memory_stats().big_blocks.size(), 1u) << "the unreachable big block is freed";
    double in_use = collector::memory_in_use();
    EXPECT_GT(in_use, double(0x200000));
}
