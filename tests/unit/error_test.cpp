// error!: the catalog objects, make error! from codes, words, blocks and
// strings, the report lines, mold, compare and path access, and the error!
// values that raising makes.
#include <gtest/gtest.h>

#include "datatypes/error.h"
#include "object_fixture.h"

using namespace vyr;
using namespace vyr::test;
namespace script = err_id::script;

namespace {

class ErrorValueTest : public ObjectTest {
protected:
    void TearDown() override {
        error_t::set_stack_trace(0);
        ObjectTest::TearDown();
    }
    static Cell make_error(const Cell& spec) {
        Cell p = type_cell(type_error), s = spec;
        return *error_t::make(&p, &s, type_error);
    }
    static std::string field_name(const Cell& error, uint32_t f) { return name_of(*error_t::field_at(error, f)); }
    static int32_t code_of(const Cell& error) { return int32_t(error_t::field_at(error, error_t::field::code)->w2); }
    // Raises the error and answers the record's error! value.
    static Cell raised(int category, int id, const Cell* a1 = nullptr, const Cell* a2 = nullptr) {
        try {
            raise_error(category, id, a1, a2);
        } catch (const Unwind&) {
        }
        return errors::last_error().value;
    }
};

const char* const math_report = "*** Math Error: attempt to divide by zero\n*** Where: ???\n*** Near : none";

}  // namespace

TEST_F(ErrorValueTest, CatalogObjects) {
    Cell catalog = error_t::catalog();
    ASSERT_EQ(type_of(catalog), uint32_t(type_object));
    EXPECT_EQ(object_t::field_count(catalog), 10u);
    Cell script_word = error_t::category_word(err_cat::script);
    EXPECT_EQ(name_of(script_word), "script");
    EXPECT_EQ(script_word.w1, catalog.w1);
    Cell math = *object_t::select_field(catalog, word_of("math"));
    EXPECT_EQ(int32_t(object_t::select_field(math, word_of("code"))->w2), 400);
    EXPECT_EQ(text_of(*object_t::select_field(math, word_of("type"))), "Math Error");
    EXPECT_EQ(text_of(*object_t::select_field(math, word_of("overflow"))), "math or number overflow");
    Cell user = *object_t::select_field(catalog, word_of("user"));
    Cell message = *object_t::select_field(user, word_of("message"));
    EXPECT_EQ(type_of(message), uint32_t(type_word));
    EXPECT_EQ(name_of(message), "arg1");
    Cell script = *object_t::select_field(catalog, word_of("script"));
    Cell no_value = *object_t::select_field(script, word_of("no-value"));
    ASSERT_EQ(type_of(no_value), uint32_t(type_block));
    EXPECT_EQ(type_of(*memory::cell_at(no_value.w2, 0)), uint32_t(type_get_word));
    EXPECT_EQ(text_of(*memory::cell_at(no_value.w2, 1)), "has no value");
    EXPECT_EQ(name_of(error_t::id_word(err_cat::math, err_id::math::positive)), "positive");
    EXPECT_EQ(type_of(error_t::id_word(err_cat::reserved1, 2)), uint32_t(type_none));
    Cell proto = error_t::prototype();
    EXPECT_EQ(object_t::field_count(proto), error_t::field::count);
    EXPECT_EQ(name_of(*object_t::first_word(proto)), "code");
}

TEST_F(ErrorValueTest, MakeFromCodes) {
    Cell e = make_error(int_cell(400));
    EXPECT_EQ(type_of(e), uint32_t(type_error));
    EXPECT_EQ(int32_t(e.w2), error_t::class_id);
    EXPECT_EQ(code_of(e), 400);
    EXPECT_EQ(field_name(e, error_t::field::type), "math");
    EXPECT_EQ(field_name(e, error_t::field::id), "zero-divide");
    EXPECT_EQ(form_text(e), math_report);
    EXPECT_EQ(code_of(make_error(int_cell(0))), 0);
    EXPECT_EQ(field_name(make_error(int_cell(913)), error_t::field::id), "deprecated");
    for (int32_t bad : {1000, -1, 499, 600, 101})
        EXPECT_RAISES(make_error(int_cell(bad)), err_cat::script, script::out_of_range);
}

TEST_F(ErrorValueTest, MakeFromWordsStringsAndOthers) {
    Cell e = make_error(block_of({word_of("script"), word_of("no-value")}));
    EXPECT_EQ(code_of(e), 300);
    EXPECT_EQ(code_of(make_error(block_of({word_of("Math"), word_of("Overflow")}))), 401);

    EXPECT_RAISES(make_error(block_of({word_of("math")})), err_cat::script, script::invalid_spec_field);
    EXPECT_EQ(name_of(errors::last_error().args[0]), "id");
    EXPECT_RAISES(make_error(block_of({word_of("foo"), word_of("bar")})), err_cat::script, script::invalid_spec_field);
    EXPECT_EQ(name_of(errors::last_error().args[0]), "type");
    EXPECT_RAISES(make_error(block_of({word_of("math"), word_of("code")})), err_cat::script,
                  script::invalid_spec_field);
    EXPECT_RAISES(make_error(block_of({word_of("script"), int_cell(5)})), err_cat::script, script::invalid_arg);
    EXPECT_RAISES(make_error(block_of({int_cell(5)})), err_cat::internal, err_id::internal::invalid_error);
    EXPECT_RAISES(make_error(none_cell()), err_cat::script, script::bad_make_arg);

    Cell user = make_error(string_cell("it broke"));
    EXPECT_EQ(code_of(user), 800);
    EXPECT_EQ(field_name(user, error_t::field::id), "message");
    EXPECT_EQ(form_text(user), "*** User Error: it broke\n*** Where: ???\n*** Near : none");
}

TEST_F(ErrorValueTest, MakeFromAnEvaluatedSpec) {
    Cell e = make_error(block_of({set_word_of("type"), lit_word_of("math"), set_word_of("id"),
                                  lit_word_of("overflow"), set_word_of("arg1"), int_cell(7)}));
    EXPECT_EQ(code_of(e), 401);
    EXPECT_EQ(int32_t(error_t::field_at(e, error_t::field::arg1)->w2), 7);
    EXPECT_RAISES(make_error(block_of({set_word_of("type"), lit_word_of("math"), set_word_of("id"),
                                       lit_word_of("nope")})),
                  err_cat::script, script::invalid_spec_field);
    EXPECT_RAISES(make_error(block_of({set_word_of("id"), lit_word_of("overflow")})), err_cat::script,
                  script::invalid_spec_field);
}

TEST_F(ErrorValueTest, ReportLines) {
    Cell foo = word_of("foo");
    Cell e = raised(err_cat::script, err_id::script::no_value, &foo);
    ASSERT_EQ(type_of(e), uint32_t(type_error));
    EXPECT_EQ(form_text(e), "*** Script Error: foo has no value\n*** Where: ???\n*** Near : none");
    EXPECT_EQ(name_of(*error_t::field_at(e, error_t::field::arg1)), "foo");

    // Where: a word is formed; Near is cut at 40 characters.
    error_t::set_where(e, word_of("my-func"));
    error_t::set_where(e, word_of("not-stored"));  // only while it is none
    *error_t::field_at(e, error_t::field::near) = string_cell(std::string(45, 'n').c_str());
    EXPECT_EQ(form_text(e), "*** Script Error: foo has no value\n*** Where: my-func\n*** Near : \"" +
                                std::string(39, 'n'));

    // The Stack line only with a stack-trace depth; Files when a block.
    *error_t::field_at(e, error_t::field::stack) = string_cell("x");  // neither level nor block
    error_t::set_stack_trace(1);
    EXPECT_EQ(form_text(e).find("*** Stack:"), std::string::npos);
}

TEST_F(ErrorValueTest, MalformedErrorsReportInvalidError) {
    Cell e = make_error(int_cell(400));
    *error_t::field_at(e, error_t::field::type) = word_of("bogus");
    EXPECT_EQ(form_text(e).substr(0, form_text(e).find('\n')),
              "*** Internal Error: invalid error object field value: bogus");
    EXPECT_EQ(field_name(e, error_t::field::type), "internal");

    Cell f = make_error(int_cell(400));
    *error_t::field_at(f, error_t::field::id) = word_of("bogus-id");
    std::string line = form_text(f);
    EXPECT_EQ(line.substr(0, line.find('\n')), "*** Internal Error: invalid error object field value: bogus-id");
}

TEST_F(ErrorValueTest, RaisingMakesTheValue) {
    Cell five = int_cell(5);
    Cell e = raised(err_cat::math, err_id::math::overflow, &five);
    ASSERT_EQ(type_of(e), uint32_t(type_error));
    EXPECT_EQ(code_of(e), 401);
    EXPECT_EQ(int32_t(error_t::field_at(e, error_t::field::arg1)->w2), 5);
    EXPECT_EQ(type_of(*error_t::field_at(e, error_t::field::arg2)), uint32_t(type_none));
    // The words of the record's type and id are the catalog's.
    EXPECT_EQ(errors::category_word(err_cat::math).w1, error_t::catalog().w1);
    EXPECT_EQ(errors::report(errors::last_error()),
              "*** Math Error: math or number overflow\n*** Where: ???\n*** Near : none");
    // Positions outside the catalog make no value; the record still reports.
    EXPECT_EQ(type_of(raised(err_cat::math, 9)), uint32_t(type_none));
    EXPECT_EQ(errors::message_line(errors::last_error()), "*** Internal Error: invalid error object field value: 9");
}

TEST_F(ErrorValueTest, MoldComparePathsAndCollection) {
    Cell e = make_error(int_cell(400));
    EXPECT_EQ(mold_text(e, false, false, true),
              "make error! [code: 400 type: 'math id: 'zero-divide arg1: none arg2: none arg3: none near: none "
              "where: none stack: none files: none]");
    std::string full = mold_text(e);
    EXPECT_EQ(full.substr(0, 19), "make error! [\n    c");
    EXPECT_EQ(full.substr(full.size() - 2), "\n]");

    Cell same = make_error(int_cell(400));
    Cell other = make_error(int_cell(401));
    EXPECT_EQ(compare_cells(e, same, registry::op_equal), 0);
    EXPECT_NE(compare_cells(e, other, registry::op_equal), 0);
    EXPECT_EQ(compare_cells(e, make_object(block_of({})), registry::op_equal), registry::not_comparable);

    Cell stack = word_of("stack"), code = word_of("code");
    EXPECT_RAISES(error_t::path_access(&e, &stack, nullptr, nullptr, nullptr, nullptr, -1, false, false, true, false),
                  err_cat::script, script::invalid_path_set);
    EXPECT_EQ(int32_t(error_t::path_access(&e, &code, nullptr, nullptr, nullptr, nullptr, -1, false, false, true,
                                           false)->w2),
              400);

    // An error that holds itself is molded once.
    Cell self_holding = make_error(int_cell(400));
    *error_t::field_at(self_holding, error_t::field::arg1) = self_holding;
    std::string flat = mold_text(self_holding, false, false, true);
    EXPECT_NE(flat.find("arg1: ... arg2"), std::string::npos) << flat;

    Cell* kept = stack::push_copy(e);
    stress_collect();
    EXPECT_EQ(form_text(*kept), math_report);
    Cell again = make_error(int_cell(301));
    EXPECT_EQ(field_name(again, error_t::field::id), "need-value");
}
