// The boot image: the boot sources written as one image decode, record by
// record, to the blocks the lexer makes, with the boot-origin flag; a damaged
// image ends the process; an error of the start-up code run between records
// is its own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "boot/boot.h"
#include "io/vyrbin.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "tests/unit/entry_fixture.h"

namespace vyr::test {
namespace {

class BootImageTest : public EntryTest {
protected:
    void SetUp() override {
        EntryTest::SetUp();
        boot::define_type_words();
    }
    static Cell* new_target() { return stack::push_copy(Cell{type_block, 0, memory::alloc_cells(4), 0}); }

    static inline std::vector<std::string> decoded_molds;
    static inline std::vector<bool> decoded_flags;
    static void note_root(uint32_t i, const Cell& v) {
        EXPECT_EQ(i, decoded_molds.size());
        decoded_molds.push_back(mold(v, true));
        decoded_flags.push_back(memory::buffer_of(v.w2)->flags & memory::flag::boot_origin);
    }
};

TEST_F(BootImageTest, SourcesDecodeRecordByRecordAsTheLexerMadeThem) {
    std::vector<Cell> blocks;
    std::vector<std::string> molds;
    for (uint32_t i = 0; i < boot::source_count; ++i) {
        blocks.push_back(*stack::push_copy(boot::load_source(boot::sources[i])));
        molds.push_back(mold(blocks.back(), true));
    }
    std::vector<uint8_t> image = vyrbin::encode_roots(blocks, true);
    decoded_molds.clear();
    decoded_flags.clear();
    // Held, not on the argument stack, which the molds in note_root reuse.
    collector::Held target(1);
    target[0] = *new_target();
    vyrbin::decode_boot(image, &target[0], note_root);
    ASSERT_EQ(decoded_molds.size(), molds.size());
    for (size_t i = 0; i < molds.size(); ++i) {
        EXPECT_EQ(decoded_molds[i], molds[i]) << boot::sources[i].name;
        EXPECT_TRUE(decoded_flags[i]) << boot::sources[i].name;
    }
}

void raise_in_callback(uint32_t, const Cell&) { raise_error(err_cat::math, err_id::math::zero_divide); }

TEST_F(BootImageTest, ErrorsOfTheCallbackAreItsOwn) {
    std::vector<uint8_t> image = vyrbin::encode(integer(1), true);
    EXPECT_THROW(vyrbin::decode_boot(image, new_target(), raise_in_callback), Unwind);
}

TEST_F(BootImageTest, ADamagedImageEndsTheProcess) {
    std::vector<uint8_t> image = vyrbin::encode(block_of({integer(1), integer(2)}), true);
    image.pop_back();
    EXPECT_EXIT(vyrbin::decode_boot(image, new_target(), note_root), ::testing::ExitedWithCode(1),
                "Vyrbin boot image corrupted");
    std::vector<uint8_t> not_image = {'V', 'Y', 'R', 'X', 'I', 'N', 1, 1, 0, 0};
    EXPECT_EXIT(vyrbin::decode_boot(not_image, new_target(), note_root), ::testing::ExitedWithCode(1),
                "Not a Vyrbin file");
}

}  // namespace
}  // namespace vyr::test
