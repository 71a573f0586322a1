// The boot sources and the library's routines, below the evaluator: every
// embedded source loads; the natives and actions sources bind the words of
// the natives table and of the action slots, with specs that pass the
// function spec check and name only known types and typesets; the routines
// answer as their specs promise.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "boot/boot.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/string_buffer.h"
#include "runtime/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "datatypes/actions.h"
#include "engine/lexer.h"
#include "engine/natives.h"
#include "console/input.h"
#include "library/routines.h"
#include "tests/unit/engine_fixture.h"

using namespace vyr;

namespace {

const boot::Source* source_named(const std::string& name) {
    for (uint32_t i = 0; i < boot::source_count; ++i)
        if (name == boot::sources[i].name) return &boot::sources[i];
    return nullptr;
}

std::string spelling(const Cell& word) { return std::string(symbol_t::name(int32_t(word.w2))); }
const Cell& at(const Cell& block, uint32_t i) { return *memory::cell_at(block.w2, i); }
uint32_t length_of(const Cell& block) { return memory::series_length(block.w2); }

// One `word: make <type>! [[spec] index]` definition of a source.
struct Definition {
    std::string word;
    std::string type;
    Cell spec;
    int32_t index;
};

// The definitions of that shape, in source order; anything else between
// them fails the test.
std::vector<Definition> definitions(const Cell& code) {
    std::vector<Definition> out;
    for (uint32_t i = code.w1; i < length_of(code); i += 4) {
        bool shaped = i + 3 < length_of(code) && type_of(at(code, i)) == type_set_word &&
                      type_of(at(code, i + 1)) == type_word && spelling(at(code, i + 1)) == "make" &&
                      type_of(at(code, i + 2)) == type_word && type_of(at(code, i + 3)) == type_block;
        if (!shaped) {
            ADD_FAILURE() << "not a definition at value " << i;
            return out;
        }
        const Cell& body = at(code, i + 3);
        bool args = length_of(body) == 2 && type_of(at(body, 0)) == type_block && type_of(at(body, 1)) == type_integer;
        EXPECT_TRUE(args) << spelling(at(code, i));
        if (!args) continue;
        out.push_back({spelling(at(code, i)), spelling(at(code, i + 2)), at(body, 0), int32_t(at(body, 1).w2)});
    }
    return out;
}

uint32_t refinements_of(const Cell& spec) {
    uint32_t n = 0;
    for (uint32_t i = 0; i < length_of(spec); ++i) n += type_of(at(spec, i)) == type_refinement;
    return n;
}

class BootTest : public test::EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        lexer::lexer_init();
        boot::define_type_words();
    }
    Cell load(const char* name) {
        const boot::Source* s = source_named(name);
        EXPECT_NE(s, nullptr) << name;
        try {
            return *stack::push_copy(boot::load_source(*s));  // the argument stack keeps it
        } catch (const Unwind&) {
            ADD_FAILURE() << name << ": " << errors::message_line(errors::last_error());
            return test::none();
        }
    }
    // Gives each typeset word of the typesets source its typeset, as
    // evaluating the source does: every definition there has the shape
    // `name: make typeset! [members]`.
    std::set<std::string> define_typeset_words() {
        std::set<std::string> names;
        Cell code = load("typesets.vyr");
        for (uint32_t i = code.w1; i + 3 < length_of(code); i += 4) {
            EXPECT_EQ(type_of(at(code, i)), type_set_word);
            EXPECT_EQ(type_of(at(code, i + 3)), type_block);
            Cell word = at(code, i), members = at(code, i + 3);
            Cell set = typeset_t::make_cell();
            for (uint32_t k = 0; k < length_of(members); ++k) typeset_t::add(set, at(members, k));
            word.header = type_word;
            word_t::set(word, set);
            names.insert(spelling(word));
        }
        return names;
    }
    // The typeset of an action's first argument.
    Cell first_argument_types(const Cell& spec) {
        for (uint32_t i = 0; i + 1 < length_of(spec); ++i) {
            uint32_t t = type_of(at(spec, i));
            if (t != type_word && t != type_lit_word && t != type_get_word) continue;
            Cell types = typeset_t::make_cell();
            if (type_of(at(spec, i + 1)) != type_block) return typeset_t::make_cell(~0u, ~0u, ~0u);
            const Cell& block = at(spec, i + 1);
            for (uint32_t k = 0; k < length_of(block); ++k) typeset_t::add(types, at(block, k));
            return types;
        }
        return typeset_t::make_cell();
    }
};

}  // namespace

TEST_F(BootTest, EverySourceLoadsPastItsHeader) {
    ASSERT_GT(boot::source_count, 0u);
    for (uint32_t i = 0; i < boot::source_count; ++i) {
        SCOPED_TRACE(boot::sources[i].name);
        Cell code = load(boot::sources[i].name);
        ASSERT_EQ(type_of(code), type_block);
        EXPECT_EQ(code.w1, 2u);  // `Vyr [...]` skipped
        EXPECT_GT(length_of(code), code.w1);
    }
}

TEST_F(BootTest, NativesSourceBindsEveryNativeToItsIndex) {
    std::map<int32_t, std::string> expected;
#define VYR_EXPECT_NATIVE(index, name, word) expected[index] = word;
    VYR_NATIVES(VYR_EXPECT_NATIVE)
#undef VYR_EXPECT_NATIVE
    std::map<int32_t, std::string> found;
    for (const Definition& d : definitions(load("natives.vyr"))) {
        EXPECT_EQ(d.type, "native!") << d.word;
        EXPECT_TRUE(found.emplace(d.index, d.word).second) << "index " << d.index << " twice";
    }
    EXPECT_EQ(found, expected);
    EXPECT_EQ(found.size(), natives::native_count);
}

// Every slot of the actions table that has a word is bound to that word,
// and no other; the refinements of each action's spec are those its generic
// entry takes, one position each.
TEST_F(BootTest, ActionsSourceBindsEverySlotWithItsRefinements) {
    std::map<int32_t, std::string> expected;
    auto expect = [&](int32_t slot, const char* word) {
        if (word) expected[slot] = word;
    };
#define VYR_EXPECT_ACTION(slot, name, word, refinements) expect(slot, word);
    VYR_ACTIONS(VYR_EXPECT_ACTION)
#undef VYR_EXPECT_ACTION
    std::map<int32_t, std::string> found;
    for (const Definition& d : definitions(load("actions.vyr"))) {
        SCOPED_TRACE(d.word);
        EXPECT_EQ(d.type, "action!");
        EXPECT_TRUE(found.emplace(d.index, d.word).second) << "slot " << d.index << " twice";
        EXPECT_EQ(refinements_of(d.spec), actions::refinement_count(uint32_t(d.index)));
    }
    EXPECT_EQ(found, expected);
    for (int32_t s : {7, 8, 9}) EXPECT_EQ(found.count(s), 0u) << "slot " << s;
}

// Every spec passes the check that func applies, once the typeset words
// have values: argument and type order, return: placement, no duplicate
// words, no unknown type word. `do` is the exception: its /trace argument
// describes the callback's own spec in a nested block.
TEST_F(BootTest, TypesetsHoldWhatTheirNamesPromise) {
    EXPECT_EQ(define_typeset_words().size(), 15u);
    auto members = [](const char* name) {
        Cell set = *word_t::get(word_t::make_global(name));
        std::set<uint32_t> out;
        for (uint32_t t = 1; t <= type_event; ++t)
            if (typeset_t::has(set, t)) out.insert(t);
        return out;
    };
    using S = std::set<uint32_t>;
    EXPECT_EQ(members("any-block!"), (S{type_block, type_paren, type_hash, type_path, type_lit_path, type_set_path,
                                        type_get_path}));
    EXPECT_EQ(members("any-string!"), (S{type_string, type_file, type_url, type_tag, type_email, type_ref}));
    EXPECT_EQ(members("planar!"), (S{type_pair, type_point2d}));
    // Every type that values can have, and nothing internal.
    S all = members("any-type!");
    for (uint32_t t : {type_symbol, type_context, type_series}) EXPECT_EQ(all.count(t), 0u) << t;
    EXPECT_EQ(all.size(), size_t(type_event) - 3);
    // The series datatype keeps its own name and id.
    EXPECT_EQ(registry::type_name(type_series).name, std::string("series!"));
}

// Each action's first argument admits every datatype that implements the
// action: the evaluator's argument check must not refuse what would work.
// (Types that no value has, such as series!, are left out.)
TEST_F(BootTest, ActionSpecsAdmitEveryImplementingType) {
    define_typeset_words();
    Cell values = *word_t::get(word_t::make_global("any-type!"));
    for (const Definition& d : definitions(load("actions.vyr"))) {
        Cell types = first_argument_types(d.spec);
        for (uint32_t t = 1; t <= registry::highest_type(); ++t) {
            if (typeset_t::has(values, t) && registry::get_action(t, uint32_t(d.index))) {
                EXPECT_TRUE(typeset_t::has(types, t)) << d.word << " refuses " << registry::type_name(t).name;
            }
        }
    }
}

TEST_F(BootTest, SpecsPassTheSpecCheck) {
    define_typeset_words();
    for (const char* name : {"natives.vyr", "actions.vyr"}) {
        for (const Definition& d : definitions(load(name))) {
            if (d.word == "do") continue;
            SCOPED_TRACE(d.word);
            try {
                function_t::check_spec(d.spec);
            } catch (const Unwind&) {
                ADD_FAILURE() << errors::message_line(errors::last_error());
            }
        }
    }
}

// ---- Routines ------------------------------------------------------------------------

// The routine source names each routine once, with an argument block that passes
// the argument block check, and exactly the routines that have a C++ entry.
TEST_F(BootTest, RoutineSourceGivesEveryEntryItsArgumentBlock) {
    define_typeset_words();
    Cell specs = load("routines.vyr");
    std::multiset<std::string> named;
    for (uint32_t i = specs.w1; i < length_of(specs); i += 2) {
        const Cell& name = at(specs, i);
        std::string text;
        if (type_of(name) == type_word) {
            text = spelling(name);
        } else if (type_of(name) == type_path) {
            for (uint32_t k = 0; k < length_of(name); ++k) text += (k ? "/" : "") + spelling(at(name, k));
        } else {
            ADD_FAILURE() << "not a name at value " << i;
            break;
        }
        SCOPED_TRACE(text);
        ASSERT_LT(i + 1, length_of(specs));
        ASSERT_EQ(type_of(at(specs, i + 1)), type_block);
        named.insert(text);
        try {
            function_t::check_spec(at(specs, i + 1));
        } catch (const Unwind&) {
            ADD_FAILURE() << errors::message_line(errors::last_error());
        }
    }
    std::multiset<std::string> entries;
    for (const auto& names : {library::routine_names(), console::routine_names()})
        entries.insert(names.begin(), names.end());
    EXPECT_EQ(named, entries);
}

namespace {

class RoutineTest : public BootTest {
protected:
    void SetUp() override {
        BootTest::SetUp();
        library::intern_names();
        library::make_routines(load("routines.vyr"));
    }
    // Calls the routine bound to the word with the arguments; answers the result.
    Cell call(const char* word, std::initializer_list<Cell> args) {
        Cell fn = *word_t::get(word_t::make_global(word));
        EXPECT_EQ(type_of(fn), type_routine) << word;
        stack::Mark mark;
        Cell* base = stack::top();
        for (const Cell& a : args) stack::push_copy(a);
        if (args.size() == 0) stack::push_copy(test::none());
        Cell answer{};
        Status s = function_t::call(fn, base, uint32_t(args.size()), no_node, word_t::make_global(word), answer);
        EXPECT_EQ(s, Status::ok);
        mark.restore();
        return answer;
    }
    bool truth(const char* word, std::initializer_list<Cell> args) {
        Cell r = call(word, args);
        EXPECT_EQ(type_of(r), type_logic) << word;
        return r.w1 != 0;
    }
};

Cell tuple(std::initializer_list<uint32_t> bytes) {
    uint32_t w = 0, i = 0;
    for (uint32_t b : bytes) w |= b << (8 * i++);
    return Cell{type_tuple | (i << header::tuple_size_shift), w, 0, 0};
}

}  // namespace

TEST_F(RoutineTest, DatatypeTestsCompareTheExactType) {
    Cell url = *string_t::push_text("a", 1, string_t::encoding_utf8);
    set_type(url, type_url);
    EXPECT_TRUE(truth("none?", {test::none()}));
    EXPECT_FALSE(truth("none?", {test::integer(0)}));
    EXPECT_TRUE(truth("url?", {url}));
    EXPECT_FALSE(truth("file?", {url}));  // file! is a child of url!, not the reverse
    EXPECT_TRUE(truth("unset?", {test::unset()}));
    EXPECT_TRUE(truth("datatype?", {datatype_t::value_of(type_integer)}));
}

// A typeset test reads its typeset word at every call.
TEST_F(RoutineTest, TypesetTestsReadTheirWordAtEachCall) {
    Cell number = word_t::make_global("number!");
    Cell ints = typeset_t::make_cell();
    typeset_t::set(ints, type_integer);
    word_t::set(number, ints);
    EXPECT_TRUE(truth("number?", {test::integer(1)}));
    EXPECT_FALSE(truth("number?", {Cell{type_float, 0, 0, 0}}));
    typeset_t::set(ints, type_float);
    word_t::set(number, ints);
    EXPECT_TRUE(truth("number?", {Cell{type_float, 0, 0, 0}}));
    word_t::set(number, test::none());
    EXPECT_FALSE(truth("number?", {test::integer(1)}));
}

TEST_F(RoutineTest, ShiftsKeepThirtyTwoBitRules) {
    struct Case {
        const char* word;
        int32_t data, bits, want;
    } cases[] = {
        {"shift-right", -8, 1, -4},  {"shift-right", -1, 40, -1},    {"shift-right", 5, 40, 0},
        {"shift-right", 8, -3, 8},   {"shift-logical", -8, 1, 2147483644}, {"shift-logical", -1, 32, 0},
        {"shift-left", 1, 31, INT32_MIN}, {"shift-left", 1, 32, 0},  {"shift-left", 3, 2, 12},
    };
    for (const Case& c : cases) {
        Cell r = call(c.word, {test::integer(c.data), test::integer(c.bits)});
        EXPECT_EQ(type_of(r), type_integer);
        EXPECT_EQ(test::int_of(r), c.want) << c.word << " " << c.data << " " << c.bits;
    }
}

TEST_F(RoutineTest, TupleBuilders) {
    Cell r = call("as-color", {test::integer(256), test::integer(1), test::integer(511)});
    EXPECT_EQ(r.header, tuple({0, 1, 255}).header);
    EXPECT_EQ(r.w1, tuple({0, 1, 255}).w1);
    r = call("as-ipv4", {test::integer(1), test::integer(2), test::integer(3), test::integer(4)});
    EXPECT_EQ(r.header, tuple({1, 2, 3, 4}).header);
    EXPECT_EQ(r.w1, tuple({1, 2, 3, 4}).w1);
    // Above 255 the high bits fall into the next byte.
    r = call("as-rgba", {test::integer(256), test::integer(0), test::integer(0), test::integer(0)});
    EXPECT_EQ(r.w1, tuple({0, 1, 0, 0}).w1);
    EXPECT_RAISES(call("as-color", {test::integer(0), test::integer(-1), test::integer(0)}), err_cat::script,
                  err_id::script::invalid_arg);
    EXPECT_EQ(test::int_of(errors::last_error().args[0]), -1);
}

TEST_F(RoutineTest, StackQueries) {
    EXPECT_EQ(type_of(call("pick-stack", {test::integer(0)})), type_none);
    EXPECT_EQ(type_of(call("pick-stack", {test::integer(100000)})), type_none);
    Cell depth = call("stack-size?", {});
    EXPECT_EQ(type_of(depth), type_integer);
    EXPECT_GE(test::int_of(depth), 1);
}

TEST_F(RoutineTest, SetQuietSetsWordsAndRefusesOthers) {
    Cell w = word_t::make_global("quiet-target");
    EXPECT_EQ(test::int_of(call("set-quiet", {w, test::integer(7)})), 7);
    EXPECT_EQ(test::int_of(*word_t::get(w)), 7);
    EXPECT_RAISES(call("set-quiet", {test::integer(1), test::integer(7)}), err_cat::script,
                  err_id::script::expect_arg);
}
