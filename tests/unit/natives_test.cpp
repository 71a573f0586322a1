// The natives table, its order by native index, and the argument check.
#include "engine/natives.h"

#include "datatypes/checks.h"

#include <cstring>

#include "tests/unit/engine_fixture.h"

using namespace vyr;
using namespace vyr::test;

namespace {
class NativesTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        natives::natives_init();
    }
};

Status fake_native(bool, const int32_t*) { return Status::ok; }

struct Named {
    uint32_t index;
    const char* word;
};
constexpr Named by_index[] = {
#define VYR_NAMED(index, name, word) {index, word},
    VYR_NATIVES(VYR_NAMED)
#undef VYR_NAMED
};

// A typeset of the listed type ids.
Cell typeset_of(std::initializer_list<uint32_t> types) {
    Cell t{type_typeset, 0, 0, 0};
    auto* bytes = reinterpret_cast<uint8_t*>(&t.w1);
    for (uint32_t type : types) bytes[type >> 3] |= uint8_t(0x80u >> (type & 7));
    return t;
}
}  // namespace

TEST_F(NativesTest, TheIndexDecidesTheSlot) {
    ASSERT_EQ(std::size(by_index), size_t(natives::native_count));
    for (uint32_t i = 0; i < natives::native_count; ++i) EXPECT_EQ(by_index[i].index, i + 1);
    struct Case {
        const char* word;
        uint32_t index;
    } cases[] = {{"if", 1}, {"debase", 84}, {"enbase", 91}, {"sign?", 97}, {"zero?", 100}, {"size?", 101},
                 {"apply", 107}};
    for (const Case& c : cases) EXPECT_STREQ(by_index[c.index - 1].word, c.word);

    // Appends continue after the 107 natives; a native! value reaches its
    // routine through the slot it stores.
    const natives::NativeFn more[] = {fake_native, fake_native};
    natives::natives_append(2, more);
    EXPECT_EQ(natives::entry(108), fake_native);
    EXPECT_EQ(natives::entry_of(Cell{type_native, natives::slot_of(109), 0, 0}), fake_native);
    EXPECT_EQ(natives::entry(110), nullptr);
    EXPECT_EQ(natives::entry(121), nullptr);
}

TEST_F(NativesTest, PrintBlockLivesInTheRootBlock) {
    Cell* p = natives::print_block();
    EXPECT_EQ(type_of(*p), uint32_t(type_block));
    EXPECT_EQ(memory::buffer_of(p->w2)->capacity, natives::print_block_cells * memory::cell_width);
    Cell* root = memory::cell_head(series::root_block);
    EXPECT_TRUE(p >= root && p < memory::cell_tail(series::root_block));
}

// An argument refused by the check names the calling native's word, the
// argument's datatype and the argument's word in the native's spec.
TEST_F(NativesTest, ArgumentChecksNameTheCallAndTheSpecWord) {
    Cell length = word_t::make_global("length");
    Cell spec = block_of({word_t::make_global("value"), block_of({}), refinement_t::load_text_in("size"), length});
    Cell to_hex = global_word("engine-to-hex", Cell{type_native, natives::slot_of(54), spec.w2, 0});

    frames::frame_open(to_hex);
    Cell* n = stack::push_copy(integer(1));
    stack::push_copy(Cell{type_string, 0, 0, 0});
    Cell numbers = typeset_of({type_integer, type_float});
    EXPECT_EQ(checks::check_arg_type(numbers, 0, n), n);
    EXPECT_EQ(checks::check_native_arg(-1, numbers, 2), nullptr);  // refinement not used: not checked
    EXPECT_EQ(natives::refinement_arg(-1), nullptr);
    EXPECT_EQ(natives::refinement_arg(1), n + 1);

    EXPECT_RAISES(checks::check_native_arg(1, numbers, 2), err_cat::script, err_id::script::expect_arg);
    const errors::ErrorRecord& e = errors::last_error();
    EXPECT_EQ(e.args[0].w2, to_hex.w2);
    EXPECT_EQ(type_of(e.args[1]), uint32_t(type_datatype));
    EXPECT_EQ(e.args[1].w1, uint32_t(type_string));
    EXPECT_EQ(e.args[2].w2, length.w2);
}
