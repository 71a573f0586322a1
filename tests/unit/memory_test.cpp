// Memory manager, series primitives, raw arrays, the cycle-detection stack,
// external resources and the console output hook.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "heap_fixture.h"
#include "runtime/catch_codes.h"
#include "runtime/memory_frames.h"
#include "runtime/platform.h"
#include "runtime/print_hooks.h"
#include "tests/unit/output_capture.h"

#if defined(VYR_POISON) && VYR_POISON
#include <sanitizer/asan_interface.h>
#endif

using namespace vyr;
using memory::buffer_of;
using memory::SeriesBuffer;
class MemoryTest : public test::HeapTest {};

namespace {

bool in_frame(const memory::SeriesFrame* f, const void* p) {
    auto a = uintptr_t(p);
    return a >= uintptr_t(const_cast<memory::SeriesFrame*>(f)->data()) && a < uintptr_t(f->end);
}

}  // namespace

// ---- Sizes and frames --------------------------------------------------------

TEST_F(MemoryTest, CapacitiesRoundToSixteenAndZeroRequestsGetSixteenBytes) {
    struct Case {
        NodeId (*make)();
        uint32_t capacity;
        uint32_t unit;
    };
    const Case cases[] = {
        {[] { return memory::alloc_bytes(0); }, 16, 1},
        {[] { return memory::alloc_bytes(17); }, 32, 1},
        {[] { return memory::alloc_units(0, 2); }, 16, 2},  // room for 8 two-byte units
        {[] { return memory::alloc_units(0, 4); }, 16, 4},
        {[] { return memory::alloc_units(5, 4); }, 32, 4},
        {[] { return memory::alloc_cells(3); }, 48, 16},
    };
    for (const Case& c : cases) {
        SeriesBuffer* b = buffer_of(c.make());
        EXPECT_EQ(b->capacity, c.capacity);
        EXPECT_EQ(b->unit(), c.unit);
        EXPECT_EQ(b->flags & ~memory::flag::unit_mask, memory::flag::in_use | memory::flag::allocated);
        EXPECT_EQ(b->head, 0u);
        EXPECT_EQ(b->tail, 0u);
        EXPECT_EQ(uintptr_t(b->data()) % 8, 0u) << "data areas are 8-byte aligned";
    }
}

TEST_F(MemoryTest, SixteenBytesTakeFortyBytesOfFrameRoom) {
    uint8_t* before = memory::mem.series_current->bump;
    NodeId n = memory::alloc_bytes(16);
    EXPECT_EQ(memory::mem.series_current->bump - before, 40);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(buffer_of(n)), before);
}

TEST_F(MemoryTest, ANeedEqualToTheRoomLeftDoesNotFit) {
    memory::SeriesFrame* first = memory::mem.series_current;
    size_t room = first->room();
    ASSERT_EQ(room % 16, 8u);  // every need is 8 mod 16, and so is the room left
    EXPECT_FALSE(collector::collection_pending());
    NodeId n = memory::alloc_bytes(uint32_t(room - memory::buffer_overhead));  // need == room
    EXPECT_FALSE(in_frame(first, buffer_of(n)));
    EXPECT_EQ(first->room(), room);
    EXPECT_TRUE(collector::collection_pending()) << "a new frame asks for a collection";

    memory::mem.series_current = first;
    NodeId m = memory::alloc_bytes(uint32_t(room - memory::buffer_overhead - 16));  // need == room - 16
    EXPECT_TRUE(in_frame(first, buffer_of(m)));
}

TEST_F(MemoryTest, FirstFrameIsOneMegabyteAndLaterOnesTwo) {
    for (int i = 0; i < 3; ++i) memory::alloc_bytes(0x180000);  // each fills most of a 2 MB frame
    auto stats = collector::memory_stats();
    ASSERT_EQ(stats.series_frames.size(), 4u);
    uint32_t one_mb = 0;
    for (const auto& f : stats.series_frames) {
        if (f.total == memory::first_frame_size) ++one_mb;
        else EXPECT_EQ(f.total, memory::max_frame_size);
    }
    EXPECT_EQ(one_mb, 1u);
    EXPECT_TRUE(stats.big_blocks.empty());
}

TEST_F(MemoryTest, BigBlockThresholdIsANeedOfTwoMegabytes) {
    NodeId below = memory::alloc_bytes(0x1FFFE0);  // need 0x1FFFF8
    EXPECT_FALSE(buffer_of(below)->flags & memory::flag::big);
    collector::recycle();  // clears the pending request of the new frame

    NodeId at = memory::alloc_bytes(0x1FFFE1);  // capacity 0x1FFFF0, need 0x200008
    SeriesBuffer* b = buffer_of(at);
    EXPECT_TRUE(b->flags & memory::flag::big);
    EXPECT_EQ(b->capacity, 0x1FFFF0u);
    EXPECT_TRUE(collector::collection_pending());
    auto stats = collector::memory_stats();
    ASSERT_EQ(stats.big_blocks.size(), 1u);
    EXPECT_EQ(stats.big_blocks[0], 0x200008u);
}

TEST_F(MemoryTest, NoCollectionHappensInsideAllocation) {
    uint32_t before = collector::cycles();
    for (int i = 0; i < 4000; ++i) memory::alloc_bytes(1000);  // several frames' worth
    EXPECT_EQ(collector::cycles(), before);
    EXPECT_TRUE(collector::collection_pending());
}

TEST_F(MemoryTest, AllocNodeSkipsDoNotUseFrames) {
    memory::NodeFrame* first = memory::mem.node_first;
    first->do_not_use = 1;
    NodeId n = memory::alloc_bytes(1);
    EXPECT_NE(memory::node_frame_of(n), first);
    first->do_not_use = 0;
}

TEST_F(MemoryTest, NodesOfSeveralFramesEachReachTheirOwnBuffer) {
    std::vector<NodeId> ids;
    for (uint32_t i = 0; i < 3 * memory::node_frame_slots; ++i) {
        ids.push_back(memory::alloc_bytes(4));
        std::memcpy(buffer_of(ids.back())->data(), &i, 4);
    }
    for (uint32_t i = 0; i < ids.size(); ++i) {
        NodeId n = ids[i];
        memory::NodeFrame* f = memory::node_frame_of(n);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->number, n >> memory::node_slot_bits);
        EXPECT_EQ(memory::slot_of(n), f->slots() + (n & ((1u << memory::node_slot_bits) - 1)));
        EXPECT_EQ(buffer_of(n)->node, n);
        uint32_t stored;
        std::memcpy(&stored, buffer_of(n)->data(), 4);
        EXPECT_EQ(stored, i);
    }
}

// Stress mode frees and remakes every node frame at each cycle; the pages of
// a freed frame move to the next new frame, which must come out like a fresh
// one, under another number, without the memory count changing.
TEST_F(MemoryTest, AFrameMadeFromSparePagesIsLikeAFreshOne) {
    memory::NodeFrame* old = memory::new_node_frame();
    uint32_t old_number = old->number;
    size_t total = memory::os_total();
    old->slots()[5] = 0x1234;
    memory::free_node_frame(old, true);
    EXPECT_EQ(memory::node_frame_of(old_number << memory::node_slot_bits), nullptr);
    memory::NodeFrame* f = memory::new_node_frame();
    EXPECT_GT(f->number, old_number);
    EXPECT_EQ(memory::os_total(), total);
    EXPECT_EQ(f->used, 0u);
    EXPECT_EQ(f->free_head, f->slots());
    EXPECT_EQ(f->slots()[5], uintptr_t(f->slots() + 6));
    EXPECT_EQ(f->slots()[memory::node_frame_slots - 1], 0u);
    memory::free_node_frame(f);
    EXPECT_LT(memory::os_total(), total);
}

TEST_F(MemoryTest, ARequestBeyondTheLargestSeriesRaisesNoMemory) {
    EXPECT_EXIT(
        {
            try {
                memory::alloc_series(0x40000000, 4);
            } catch (const Unwind&) {
                std::exit(254);
            }
            std::exit(1);
        },
        ::testing::ExitedWithCode(254), "");
}

// ---- Growth --------------------------------------------------------------------

TEST_F(MemoryTest, FullBlockDoublesAndTheOldBufferIsAbandoned) {
    NodeId blk = memory::alloc_cells(2);
    memory::set_series_flags(blk, memory::flag::owned);
    for (int i = 0; i < 2; ++i) *series::alloc_tail_cell(blk) = Cell{type_integer, 0, uint32_t(i), 0};
    SeriesBuffer* old = buffer_of(blk);
    uint32_t old_flags = old->flags;
    Cell* third = series::alloc_tail_cell(blk);
    SeriesBuffer* now = buffer_of(blk);
    ASSERT_NE(now, old);
    EXPECT_EQ(now->capacity, 64u);
    EXPECT_EQ(now->flags, old_flags);
    EXPECT_EQ(now->node, blk);
    EXPECT_EQ(old->node, no_node);
    EXPECT_FALSE(old->flags & memory::flag::in_use);
    EXPECT_EQ(type_of(*third), uint32_t(type_unset));
    EXPECT_EQ(memory::series_length(blk), 3u);
    EXPECT_EQ(memory::cell_at(blk, 1)->w2, 1u);
#if defined(VYR_POISON) && VYR_POISON
    EXPECT_TRUE(__asan_address_is_poisoned(old->data())) << "room left by a move is poisoned";
#endif
}

TEST_F(MemoryTest, TailBytesGrowToTwiceTheRequestWhenItExceedsTheCapacity) {
    NodeId n = memory::alloc_bytes(16);
    series::alloc_tail_bytes(n, 100);
    EXPECT_EQ(buffer_of(n)->capacity, 208u);
    EXPECT_EQ(buffer_of(n)->used(), 100u);
    series::alloc_tail_bytes(n, 200);  // 300 > 208: twice the capacity
    EXPECT_EQ(buffer_of(n)->capacity, 416u);
}

TEST_F(MemoryTest, AnEmptyCapacityStillGrows) {
    NodeId blk = memory::alloc_cells(0);
    EXPECT_EQ(buffer_of(blk)->capacity, 0u);
    series::alloc_tail_cell(blk);
    EXPECT_EQ(buffer_of(blk)->capacity, 16u);
}

TEST_F(MemoryTest, ExpandCopiesFromAMiddleHeadWithoutReadingPastTheData) {
    NodeId n = memory::alloc_series(16, 1, memory::head_at_middle);
    SeriesBuffer* b = buffer_of(n);
    EXPECT_EQ(b->head, 8u);
    EXPECT_TRUE(b->flags & memory::flag::head_middle);
    std::memcpy(series::alloc_tail_bytes(n, 8), "abcdefgh", 8);
    SeriesBuffer* grown = memory::expand_series_filled(n, 64, '.');
    EXPECT_EQ(grown->head, 0u);
    EXPECT_EQ(grown->used(), 8u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(grown->data()), 64), "abcdefgh" + std::string(56, '.'));
}

TEST_F(MemoryTest, AMiddleHeadOfCellsStaysOnACell) {
    SeriesBuffer* b = buffer_of(memory::alloc_series(3, 16, memory::head_at_middle));
    EXPECT_EQ(b->capacity, 48u);
    EXPECT_EQ(b->head % 16, 0u);
}

TEST_F(MemoryTest, AFixedSeriesGrowsIntoAnotherFixedBuffer) {
    NodeId f = memory::alloc_fixed_series(2, 16);
    SeriesBuffer* b = buffer_of(f);
    EXPECT_EQ(b->flags & 0xFFFFFF00u, 0xA0100000u);
    for (int i = 0; i < 3; ++i) *series::alloc_tail_cell(f) = Cell{type_integer, 0, uint32_t(i + 7), 0};
    SeriesBuffer* now = buffer_of(f);
    EXPECT_TRUE(now->flags & memory::flag::fixed);
    EXPECT_EQ(now->capacity, 64u);
    EXPECT_EQ(memory::cell_at(f, 2)->w2, 9u);
}

TEST_F(MemoryTest, CopySeriesKeepsFlagsHeadTailAndData) {
    NodeId n = memory::alloc_series(32, 1, 4);
    std::memcpy(series::alloc_tail_bytes(n, 5), "hello", 5);
    memory::set_series_flags(n, memory::flag::from_utf16);
    NodeId c = memory::copy_series_buffer(n);
    SeriesBuffer* a = buffer_of(n);
    SeriesBuffer* b = buffer_of(c);
    EXPECT_NE(a, b);
    EXPECT_EQ(b->flags, a->flags);
    EXPECT_EQ(b->head, 4u);
    EXPECT_EQ(b->tail, 9u);
    EXPECT_EQ(std::memcmp(b->head_ptr(), "hello", 5), 0);

    memory::set_series_flags(n, memory::flag::owned);
    NodeId part = series::copy_series_part(n, 1, 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer_of(part)->head_ptr()), buffer_of(part)->used()), "ell");
    EXPECT_FALSE(buffer_of(part)->flags & memory::flag::owned);
    EXPECT_TRUE(buffer_of(part)->flags & memory::flag::from_utf16);
}

TEST_F(MemoryTest, UnsetAndFilledAllocationsCoverTheWholeCapacity) {
    NodeId u = memory::alloc_unset_cells(3);
    SeriesBuffer* b = buffer_of(u);
    EXPECT_EQ(b->tail, b->head);
    auto* cells = reinterpret_cast<Cell*>(b->data());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(cells[i].header, uint32_t(type_unset));
    NodeId f = memory::alloc_filled_bytes(5, 0x5A);
    SeriesBuffer* fb = buffer_of(f);
    for (uint32_t i = 0; i < fb->capacity; ++i) ASSERT_EQ(fb->data()[i], 0x5A);
}

// ---- Raw arrays ------------------------------------------------------------------

TEST_F(MemoryTest, IntArrays) {
    NodeId a = series::make_array(2, 4);
    EXPECT_EQ(buffer_of(a)->unit(), 4u);
    for (int32_t v : {10, 20, 30, 40, 50}) series::array_append_int(a, v);  // grows past 16 bytes
    EXPECT_EQ(series::array_length(a), 5u);
    EXPECT_EQ(series::array_find_int(a, 30), 8) << "a byte offset";
    EXPECT_EQ(series::array_find_int(a, 31), -1);
    series::array_insert_int(a, 15, 1);
    series::array_insert_int(a, 99, 100);  // past the end: appended
    EXPECT_EQ(series::array_pick_int(a, 2), 15);
    EXPECT_EQ(series::array_pick_int(a, 7), 99);
    series::array_poke_int(a, 1, -1);
    series::array_remove_int(a, 12345);  // absent: nothing
    EXPECT_EQ(series::array_length(a), 7u);
    series::array_remove_int(a, 30);
    std::vector<int32_t> got;
    for (uint32_t i = 1; i <= series::array_length(a); ++i) got.push_back(series::array_pick_int(a, i));
    EXPECT_EQ(got, (std::vector<int32_t>{-1, 15, 20, 40, 50, 99}));
    NodeId copy = series::array_copy(a);
    series::array_truncate(a, 1);
    EXPECT_EQ(series::array_length(a), 0u);
    EXPECT_EQ(series::array_length(copy), 6u);
    series::array_clear(copy);
    EXPECT_EQ(series::array_length(copy), 0u);
}

TEST_F(MemoryTest, ByteArraysAppendFromThemselvesAcrossGrowth) {
    NodeId a = series::make_array(0, 1);
    series::array_append_bytes(a, "0123456789abcdef", 16);  // full
    series::array_append_bytes(a, series::array_head(a) + 10, 6);  // source moves with the growth
    series::array_append_byte(a, '!');
    EXPECT_EQ(std::string(reinterpret_cast<char*>(series::array_head(a)), series::array_length(a)),
              "0123456789abcdefabcdef!");
    EXPECT_EQ(series::array_pick_byte(a, 2), '1');
    series::array_remove_at(a, 2, 4);
    series::array_remove_at(a, 100, 4);  // out of range: nothing
    EXPECT_EQ(series::array_length(a), 19u);
    EXPECT_EQ(series::array_pick_byte(a, 3), '6');
}

// ---- Cycle-detection stack -------------------------------------------------------

TEST_F(MemoryTest, CycleStackHolds999Entries) {
    for (uint32_t i = 1; i <= 999; ++i) series::cycle_push(i);
    EXPECT_EQ(series::cycle_depth(), 999u);
    EXPECT_TRUE(series::cycle_find(500));
    EXPECT_FALSE(series::cycle_find(1000));
    series::cycle_pop_n(998);
    series::cycle_pop();
    series::cycle_pop();  // empty: nothing
    EXPECT_EQ(series::cycle_depth(), 0u);
}

TEST_F(MemoryTest, The1000thPushEmptiesTheStackAndRaisesTooDeep) {
    EXPECT_EXIT(
        {
            for (uint32_t i = 1; i <= 999; ++i) series::cycle_push(i);
            try {
                series::cycle_push(1000);
            } catch (const Unwind&) {
                std::exit(series::cycle_depth() == 0 ? 254 : 1);
            }
            std::exit(1);
        },
        ::testing::ExitedWithCode(254), "");
}

TEST_F(MemoryTest, MoldCycleAppendsThePlaceholderOfTheType) {
    struct Case {
        uint32_t type;
        bool mold;
        const char* text;
    };
    const Case cases[] = {
        {type_block, true, "[...]"},  {type_hash, true, "[...]"},   {type_paren, true, "(...)"},
        {type_map, true, "#[...]"},   {type_object, true, "make object! [...]"},
        {type_path, true, "..."},     {type_set_path, true, "..."}, {type_block, false, "..."},
        {type_object, false, "..."},
    };
    const NodeId key = 4242;
    for (const Case& c : cases) {
        Cell v = c.type == type_object ? Cell{c.type, key, 0, 0} : Cell{c.type, 0, key, 0};
        NodeId out = memory::alloc_units(0, 2);
        int32_t budget = 100;
        EXPECT_FALSE(series::mold_cycle(v, out, budget, c.mold));
        series::cycle_push(key);
        EXPECT_TRUE(series::mold_cycle(v, out, budget, c.mold));
        series::cycle_reset();
        SeriesBuffer* b = buffer_of(out);
        std::string got;
        for (uint32_t i = 0; i < b->length(); ++i) got += char(reinterpret_cast<uint16_t*>(b->head_ptr())[i]);
        EXPECT_EQ(got, c.text);
        EXPECT_EQ(budget, 100 - int32_t(std::strlen(c.text)));
    }
}

// ---- External resources ------------------------------------------------------------

namespace {
int released = 0;
void* last_released = nullptr;
void count_release(void* object) {
    ++released;
    last_released = object;
}
}  // namespace

TEST_F(MemoryTest, ResourceTableDoublesOnTheThousandthAddition) {
    int objects[1000];
    for (int i = 0; i < 999; ++i) EXPECT_EQ(resources::add_external_resource(&objects[i], 0), i);
    EXPECT_EQ(resources::external_entry_count(), 1000u);
    EXPECT_EQ(resources::add_external_resource(&objects[999], 0), 999);
    EXPECT_EQ(resources::external_entry_count(), 2000u);
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(resources::external_object(i), &objects[i]);
    EXPECT_EQ(resources::add_external_resource(nullptr, 0), 1000);
}

TEST_F(MemoryTest, AnUnmarkedResourceIsReleasedOnceAndItsSlotReused) {
    released = 0;
    uint32_t kind = resources::register_resource_kind("image", count_release);
    EXPECT_EQ(kind, 1u);
    int kept_object = 0, dropped_object = 0;
    int32_t kept = resources::add_external_resource(&kept_object, kind);
    int32_t dropped = resources::add_external_resource(&dropped_object, kind);
    // A handle! cell in a rooted block keeps its slot.
    NodeId blk = memory::alloc_cells(1);
    collector::NodeRoot root(blk);
    *series::alloc_tail_cell(blk) = Cell{type_handle, 0, 0, uint32_t(kept)};
    collector::recycle();
    EXPECT_EQ(released, 1);
    EXPECT_EQ(last_released, &dropped_object);
    collector::recycle();
    EXPECT_EQ(released, 1) << "released exactly once";
    EXPECT_EQ(resources::external_object(kept), &kept_object);
    EXPECT_EQ(resources::add_external_resource(&dropped_object, kind), dropped) << "the slot freed last is taken next";
}

TEST_F(MemoryTest, MarkReplaceAndRemoveResources) {
    released = 0;
    uint32_t kind = resources::register_resource_kind("image", count_release);
    int a = 0, b = 0;
    int32_t slot = resources::add_external_resource(&a, kind);
    EXPECT_TRUE(resources::mark_external_resource(slot, nullptr));
    EXPECT_FALSE(resources::mark_external_resource(slot, nullptr)) << "already marked";
    resources::replace_external_object(slot, &a);
    EXPECT_EQ(released, 0);
    resources::replace_external_object(slot, &b);
    EXPECT_EQ(released, 1);
    EXPECT_EQ(last_released, &a);
    EXPECT_EQ(resources::remove_external_resource(slot, true), -1);
    EXPECT_EQ(released, 2);
    EXPECT_EQ(resources::remove_external_resource(slot, true), -1);  // no longer in use: nothing
    EXPECT_EQ(released, 2);
    EXPECT_FALSE(resources::mark_external_resource(slot, nullptr));
    int32_t none_kind = resources::add_external_resource(&a, 0);
    collector::recycle();  // kind 0: freed without a release call
    EXPECT_EQ(released, 2);
    EXPECT_EQ(resources::external_object(none_kind), nullptr);
}

TEST_F(MemoryTest, ExternalReferenceTableGrowsAndKeepsItsValues) {
    resources::extref_remove(0);  // ignored
    NodeId blk = memory::alloc_cells(1);
    *series::alloc_tail_cell(blk) = Cell{type_integer, 0, 77, 0};
    uint32_t first = resources::extref_add(test::block_cell(blk));
    EXPECT_EQ(first, 1u);
    for (uint32_t i = 2; i <= 100; ++i) EXPECT_EQ(resources::extref_add(Cell{type_integer, 0, i, 0}), i);
    EXPECT_EQ(memory::series_length(*resources::extref_root()), 100u);
    EXPECT_EQ(resources::extref_add(Cell{type_integer, 0, 101, 0}), 101u);
    EXPECT_EQ(memory::series_length(*resources::extref_root()), 200u);
    collector::recycle();
    Cell* parked = resources::extref_get(first);
    ASSERT_EQ(type_of(*parked), uint32_t(type_block));
    EXPECT_EQ(memory::cell_at(parked->w2, 0)->w2, 77u);
    resources::extref_remove(50);
    EXPECT_EQ(resources::extref_add(Cell{type_none, 0, 0, 0}), 50u);
    EXPECT_EQ(resources::extref_get(201), nullptr);
}

// ---- The console output hook -------------------------------------------------------

namespace {

NodeId text_of(const std::u32string& text, uint32_t width) {
    NodeId s = memory::alloc_units(uint32_t(text.size()), width);
    for (char32_t c : text) std::memcpy(series::alloc_tail_bytes(s, width), &c, width);
    return s;
}
}  // namespace

TEST_F(MemoryTest, ConsoleHookWritesFromTheIndexToTheTail) {
    struct Case {
        std::u32string text;
        uint32_t width;
        uint32_t index;
        bool line_end;
        std::string out;
    };
    const Case cases[] = {
        {U"h\u00E9llo", 1, 1, true, "\xC3\xA9llo\n"},
        {U"\u20ACx", 2, 0, false, "\xE2\x82\xAC" "x"},
        {U"a\U0001F600", 4, 0, true, "a\xF0\x9F\x98\x80\n"},
        {U"abc", 1, 3, true, "\n"},  // index at the tail: only the line end
        {U"abc", 1, 9, false, ""},   // index past the tail: nothing
    };
    for (const Case& c : cases) {
        Cell str{type_string, c.index, text_of(c.text, c.width), 0};
        test::OutputCapture cap;
        hooks::console_print_hook(&str, c.line_end);
        EXPECT_EQ(cap.take(), c.out);
    }
}

TEST_F(MemoryTest, ConsoleHookReportsAnUnknownWidth) {
    NodeId s = memory::alloc_units(4, 1);
    memory::set_unit_width(s, 3);
    Cell str{type_string, 0, s, 0};
    test::OutputCapture cap;
    hooks::console_print_hook(&str, true);
    EXPECT_EQ(cap.take(), "Error: unknown string encoding: 3\n");
}
