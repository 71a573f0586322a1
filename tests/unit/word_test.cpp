// The word! family and issue!: words made from names, root keeping, the
// type-name and fixed words, make/to, form and mold, compare, index? and
// the access helpers.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/string_buffer.h"
#include "fixture.h"
#include "runtime/series.h"

using namespace vyr;
namespace script = err_id::script;

namespace {

class WordTest : public test::RuntimeTest {};

Cell integer(int32_t v) { return Cell{type_integer, 0, uint32_t(v), 0}; }

std::string text_of(const Cell& s) {
    memory::SeriesBuffer* b = memory::buffer_of(s.w2);
    std::string out;
    for (uint32_t i = s.w1; i < b->length(); ++i) {
        uint32_t cp = string_t::get_code_point(b->head_ptr() + i * b->unit(), b->unit());
        out += cp < 0x80 ? char(cp) : '?';
    }
    return out;
}

std::string name_of(const Cell& word) { return std::string(symbol_t::name(int32_t(word.w2))); }

Cell string_of(const char* text) {
    Cell s;
    string_t::make_at(s, 16);
    string_t::append_text(s, text);
    return s;
}

uint32_t root_length() { return memory::series_length(series::root_block); }

}  // namespace

TEST_F(WordTest, RootKeepingCopiesWordsIntoTheRootBlock) {
    root_keep = true;
    uint32_t before = root_length();
    Cell w = word_t::make_global("kept-word");
    EXPECT_EQ(root_length(), before + 1);
    const Cell& kept = *memory::cell_at(series::root_block, before);
    EXPECT_EQ(kept.w2, w.w2);
    EXPECT_EQ(kept.w3, w.w3);
    issue_t::load_text("kept-issue");
    EXPECT_EQ(type_of(*memory::cell_at(series::root_block, before + 1)), uint32_t(type_issue));
    root_keep = false;
    word_t::make_global("not-kept");
    EXPECT_EQ(root_length(), before + 2);
    // A refinement made from text always goes to the root block, unbound.
    Cell r = refinement_t::load_text_in("opt");
    EXPECT_EQ(root_length(), before + 3);
    EXPECT_EQ(r.w1, 0u);
    EXPECT_EQ(type_of(r), uint32_t(type_refinement));
}

TEST_F(WordTest, TypeNamesHaveTheirWords) {
    for (uint32_t t = 1; t <= registry::highest_type(); ++t) {
        const registry::TypeName& n = registry::type_name(t);
        if (!n.name) continue;
        EXPECT_EQ(type_of(n.word), uint32_t(type_word)) << n.name;
        EXPECT_EQ(name_of(n.word), n.name);
        EXPECT_EQ(n.word.w1, context_t::global_context);
    }
    EXPECT_EQ(name_of(registry::type_name(type_issue).word), "issue!");
}

TEST_F(WordTest, FixedWordsAreMadeInOrder) {
    EXPECT_LT(fixed::sym_spec, fixed::sym_body);
    EXPECT_LT(fixed::sym_body, fixed::sym_no_trace);
    EXPECT_EQ(symbol_t::name(fixed::sym_stack), "stack");
    EXPECT_EQ(symbol_t::name(fixed::sym_bar), "|");
    EXPECT_EQ(name_of(fixed::word_os_macos), "macOS");
    EXPECT_EQ(int32_t(fixed::word_os_macos.w2), fixed::sym_os_macos);
    EXPECT_EQ(name_of(fixed::word_on_deep_change_star), "on-deep-change*");
    EXPECT_EQ(name_of(fixed::word_cat_throw), "throw");
    EXPECT_EQ(fixed::word_cat_throw.w3, fixed::word_throw.w3);
    EXPECT_EQ(name_of(fixed::ref_with), "with");
    EXPECT_EQ(fixed::ref_with.w1, 0u);
    EXPECT_EQ(type_of(fixed::issue_ooo), uint32_t(type_issue));
    EXPECT_EQ(fixed::issue_ooo.w1, context_t::global_context);
    EXPECT_EQ(int32_t(fixed::issue_ooo.w3), -1);
    // The type-name words come first: logic! already has its symbol.
    EXPECT_EQ(fixed::sym_logic_t, int32_t(registry::type_name(type_logic).word.w2));
}

TEST_F(WordTest, IndexOfAWord) {
    Cell w = word_t::make_global("counted");
    stack::set_arg_base(stack::top());
    stack::push_copy(w);
    word_t::index_q();
    EXPECT_EQ(type_of(*stack::arg_base()), uint32_t(type_integer));
    EXPECT_EQ(stack::arg_base()->w2, w.w3 + 1);
    *stack::arg_base() = Cell{type_word, 0, w.w2, uint32_t(-1)};
    word_t::index_q();
    EXPECT_EQ(type_of(*stack::arg_base()), uint32_t(type_none));
    stack::stack_reset();
}

TEST_F(WordTest, CompareByNameSymbolContextAndType) {
    Cell lit = word_t::make_global("name");
    set_type(lit, type_lit_word);
    Cell caps = word_t::make_global("NAME");
    Cell issue{type_issue, context_t::global_context, lit.w2, uint32_t(-1)};
    Cell word = lit;
    set_type(word, type_word);
    using registry::CompareOp;
    struct Case {
        Cell a, b;
        int32_t op;
        int32_t answer;
    } cases[] = {
        {lit, caps, registry::op_equal, 0},
        {lit, caps, registry::op_strict_equal, 1},
        {word, caps, registry::op_strict_equal, 1},  // another spelling
        {lit, word, registry::op_strict_equal, 1},   // another type
        {lit, word, registry::op_strict_word_equal, 0},
        {lit, caps, registry::op_word_equal, 0},
        {caps, lit, registry::op_same, 1},
        {word, word, registry::op_same, 0},
        {word, issue, registry::op_equal, registry::not_comparable},
        {issue, issue, registry::op_equal, 0},
        {word, integer(1), registry::op_equal, registry::not_comparable},
        {caps, word, registry::op_lesser, 0},
        {caps, word, registry::op_case_sort, -1},  // "N" sorts before "n"
    };
    for (Case& c : cases) {
        auto fn = registry::action<registry::action_sig::compare>(type_of(c.a), registry::slot_compare);
        ASSERT_NE(fn, nullptr);
        EXPECT_EQ(fn(&c.a, &c.b, c.op), c.answer) << name_of(c.a) << " " << c.op;
    }
}

TEST_F(WordTest, FormAndMoldOfTheSixTypes) {
    struct Case {
        uint32_t type;
        const char* mold;
    } cases[] = {{type_word, "w"}, {type_lit_word, "'w"}, {type_set_word, "w:"},
                 {type_get_word, ":w"}, {type_refinement, "/w"}, {type_issue, "#w"}};
    Cell w = word_t::make_global("w");
    for (const Case& c : cases) {
        Cell v = w;
        set_type(v, c.type);
        Cell buffer = string_of("");
        auto mold = registry::action<registry::action_sig::mold>(c.type, registry::slot_mold);
        auto form = registry::action<registry::action_sig::form>(c.type, registry::slot_form);
        ASSERT_NE(mold, nullptr);
        ASSERT_NE(form, nullptr);
        int32_t left = mold(&v, &buffer, false, false, false, nullptr, 100, 0);
        EXPECT_EQ(text_of(buffer), c.mold);
        EXPECT_EQ(left, 100 - int32_t(std::string(c.mold).size()));
        Cell formed = string_of("");
        EXPECT_EQ(form(&v, &formed, nullptr, 10), 9);
        EXPECT_EQ(text_of(formed), "w");
    }
}

TEST_F(WordTest, MakeAndToOfWords) {
    auto make = registry::action<registry::action_sig::make>(type_word, registry::slot_make);
    Cell result{};
    Cell spec{type_datatype, type_logic, 0, 0};
    make(&result, &spec, type_word);
    EXPECT_EQ(name_of(result), "logic!");
    EXPECT_EQ(type_of(result), uint32_t(type_word));
    Cell truth{type_logic, 1, 0, 0};
    make(&result, &truth, type_set_word);
    EXPECT_EQ(name_of(result), "true");
    EXPECT_EQ(result.header, uint32_t(type_set_word));
    EXPECT_EQ(word_t::get(result)->header, uint32_t(type_unset));  // bound to the global context
    Cell lit = word_t::make_global("lit");
    lit.header = type_lit_word | header::new_line;
    make(&result, &lit, type_get_word);
    EXPECT_EQ(result.header, uint32_t(type_get_word));  // flags dropped
    EXPECT_EQ(result.w2, lit.w2);
    Cell number = integer(3);
    EXPECT_RAISES(make(&result, &number, type_word), err_cat::script, script::bad_to_arg);
    Cell unnamed{type_datatype, 56, 0, 0};
    EXPECT_RAISES(make(&result, &unnamed, type_word), err_cat::script, script::bad_to_arg);
}

TEST_F(WordTest, IssuesTakeAnyTextWhole) {
    auto make = registry::action<registry::action_sig::make>(type_issue, registry::slot_to);
    Cell spaced = string_of("xa b");
    spaced.w1 = 1;  // from the index
    Cell result{};
    make(&result, &spaced, type_issue);
    EXPECT_EQ(type_of(result), uint32_t(type_issue));
    EXPECT_EQ(name_of(result), "a b");
    EXPECT_EQ(result.w1, context_t::global_context);
    EXPECT_EQ(int32_t(result.w3), -1);
    Cell buffer = string_of("");
    word_t::mold(&result, &buffer, false, false, false, nullptr, 100, 0);
    EXPECT_EQ(text_of(buffer), "#a b");
    Cell ch{type_char, 0, '7', 0};
    make(&result, &ch, type_issue);
    EXPECT_EQ(name_of(result), "7");
    Cell w = word_t::make_global("plain");
    make(&result, &w, type_issue);
    EXPECT_EQ(result.header, uint32_t(type_issue));
    EXPECT_EQ(result.w2, w.w2);
}

TEST_F(WordTest, AccessHelpersCheckForValues) {
    Cell w = word_t::make_global("helper");
    EXPECT_RAISES(word_t::push_value(w), err_cat::script, script::no_value);
    stack::set_arg_base(stack::top());
    stack::push_copy(w);
    stack::push_copy(Cell{type_unset, 0, 0, 0});
    EXPECT_RAISES(word_t::set_from_args(), err_cat::script, script::need_value);
    stack::arg_base()[1] = integer(8);
    word_t::set_from_args();
    EXPECT_EQ(word_t::get(w)->w2, 8u);
    EXPECT_EQ(stack::arg_base()->w2, 8u);  // the value is the result
    EXPECT_EQ(word_t::push_value(w)->w2, 8u);
    Cell destination{};
    word_t::store_result_checked(&destination);
    EXPECT_EQ(destination.w2, 8u);
    *stack::arg_base() = Cell{type_unset, 0, 0, 0};
    EXPECT_RAISES(word_t::store_result_checked(&destination), err_cat::script, script::need_value);
    Cell* name = word_t::push_name_string(w);
    EXPECT_NE(name->w2, word_t::symbol_cell(w)->w2);  // a copy, not the word's own spelling
    EXPECT_EQ(text_of(*name), "helper");
    string_t::append_text(*name, "!");
    EXPECT_EQ(text_of(*name), "helper!");
    EXPECT_EQ(text_of(*word_t::push_name_string(w)), "helper");  // the word is not renamed
    stack::stack_reset();
}

TEST_F(WordTest, ChildHelpersWriteTheirType) {
    NodeId b = memory::alloc_cells(2);
    Cell* s = set_word_t::load_text_in("target", b);
    EXPECT_EQ(s->header, uint32_t(type_set_word));
    EXPECT_EQ(s->w1, context_t::global_context);
    Cell plain = *memory::cell_at(b, 0);
    plain.header = type_word | header::new_line;
    Cell* g = get_word_t::push(plain);
    EXPECT_EQ(g->header, uint32_t(type_get_word) | header::new_line);
    Cell* l = lit_word_t::push_local(context_t::global_context, int32_t(plain.w3));
    EXPECT_EQ(type_of(*l), uint32_t(type_lit_word));
    EXPECT_EQ(l->w2, plain.w2);
    Cell i;
    issue_t::make_at(&i, "tag");
    EXPECT_EQ(type_of(*issue_t::push(i)), uint32_t(type_issue));
    stack::stack_reset();
}
