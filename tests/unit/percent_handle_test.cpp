// percent! (its text; everything else is float!'s) and handle! (form, mold,
// comparison by platform value, no arithmetic).
#include "datatypes/handle.h"
#include "datatypes/percent.h"

#include "tests/unit/scalar_fixture.h"

using namespace vyr;
using namespace vyr::test;
using namespace vyr::registry;

namespace {
using PercentTest = ScalarTest;
using HandleTest = ScalarTest;
}  // namespace

TEST_F(PercentTest, TextIsTheFractionTimesHundred) {
    struct Case {
        double fraction;
        const char* text;
    } cases[] = {
        {0.5, "50%"}, {0.001, "0.1%"}, {0.125, "12.5%"}, {1.0, "100%"}, {-0.25, "-25%"}, {0.0, "0%"},
    };
    for (const auto& c : cases) {
        Cell p{};
        percent_t::make_at(&p, c.fraction);
        EXPECT_EQ(mold(p), c.text) << c.fraction;
        EXPECT_EQ(form(p), c.text) << c.fraction;
    }
    EXPECT_EQ(budget_left("12.5%", true), 1000 - 5);
}

TEST_F(PercentTest, LiteralsAndFloatActions) {
    Cell p = value("12.5%");
    EXPECT_EQ(type_of(p), uint32_t(type_percent));
    EXPECT_DOUBLE_EQ(percent_t::value(p), 0.125);
    EXPECT_EQ(result("50%", slot_add, "1"), "150%");
    EXPECT_EQ(result("50%", slot_multiply, "50%"), "25%");
    EXPECT_EQ(result(slot_negate, "5%"), "-5%");
    EXPECT_TRUE(compare("50%", "0.5", op_equal));
    EXPECT_EQ(mold(call(slot_to, {datatype(type_percent), value("\"50%\"")})), "50%");
    EXPECT_EQ(mold(call(slot_to, {datatype(type_percent), value("\"0.5\"")})), "50%");
    EXPECT_EQ(mold(call(slot_make, {datatype(type_percent), value("0.25")})), "25%");
    EXPECT_ERROR(call(slot_to, {datatype(type_percent), value("\"abc\"")}), report::bad_to_arg);
}

TEST_F(PercentTest, Helpers) {
    Cell c{};
    percent_t::make_at_halves(&c, 0x3FE00000, 0);
    EXPECT_EQ(mold(c), "50%");
    EXPECT_EQ(mold(*percent_t::push_halves(0x3FF00000, 0)), "100%");
    EXPECT_EQ(mold(*percent_t::push(0.75)), "75%");
    Cell block = block_of({});
    percent_t::load(block, 0x3FD00000, 0);
    EXPECT_EQ(mold(*memory::cell_at(block.w2, 0)), "25%");
}

TEST_F(HandleTest, FormAndMold) {
    EXPECT_EQ(form(handle_t::cell_of(0x1A4, handle_t::kind_window)), "1A4h");
    EXPECT_EQ(form(handle_t::cell_of(0, handle_t::kind_null)), "0h");
    EXPECT_EQ(form(handle_t::cell_of(0xFFFFFFFF, handle_t::kind_fd)), "FFFFFFFFh");
    EXPECT_EQ(mold(*handle_t::push_null(), true), "#[handle! 0h]");
    EXPECT_EQ(mold(*handle_t::push_null()), "handle!");
    EXPECT_EQ(mold(handle_t::cell_of(0x1A4, handle_t::kind_window), true), "#[handle! 1A4h window]");
    EXPECT_EQ(mold(handle_t::cell_of(7, handle_t::kind_rich_text), true), "#[handle! 7h rich-text]");
    int32_t left = 0;
    formed(handle_t::cell_of(0x1A4, handle_t::kind_fd), false, &left);
    EXPECT_EQ(left, 1000 - 9);  // whatever the text's length
}

TEST_F(HandleTest, ComparesByPlatformValueOnly) {
    Cell a = handle_t::cell_of(5, handle_t::kind_window), b = handle_t::cell_of(5, handle_t::kind_font);
    Cell c = handle_t::cell_of(6, handle_t::kind_window), n = integer(5);
    Cell negative = handle_t::cell_of(0xFFFFFFFF, handle_t::kind_fd);
    EXPECT_TRUE(actions::compare(&a, &b, op_equal));
    EXPECT_TRUE(actions::compare(&a, &c, op_lesser));
    EXPECT_TRUE(actions::compare(&negative, &a, op_lesser));  // signed
    EXPECT_FALSE(actions::compare(&a, &n, op_equal));
    EXPECT_TRUE(actions::compare(&a, &n, op_not_equal));
}

TEST_F(HandleTest, NoArithmetic) {
    EXPECT_ERROR(call(slot_add, {handle_t::cell_of(1, handle_t::kind_fd), integer(1)}), report::expect_arg);
    EXPECT_ERROR(call(slot_make, {datatype(type_handle), integer(1)}), report::expect_arg);
}

TEST_F(HandleTest, MakersSetTheLayout) {
    Cell c{header::new_line | type_none, 0, 0, 0};
    handle_t::make_at(&c, 42, handle_t::kind_monitor);
    EXPECT_EQ(type_of(c), uint32_t(type_handle));
    EXPECT_EQ(c.header & header::new_line, header::new_line);
    EXPECT_EQ(c.w1, uint32_t(handle_t::kind_monitor));
    EXPECT_EQ(c.w2, 42u);
    EXPECT_EQ(c.w3, 0xFFFFFFFFu);
    Cell block = block_of({});
    handle_t::load(block, 9, handle_t::kind_font);
    EXPECT_EQ(mold(*memory::cell_at(block.w2, 0), true), "#[handle! 9h font]");
    EXPECT_EQ(handle_t::push_new(3, handle_t::kind_fd)->w2, 3u);
    EXPECT_EQ(handle_t::push(8, handle_t::kind_fd), stack::arg_base());
}
