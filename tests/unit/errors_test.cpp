// Language errors: the catalog (every category and id with its code and
// template), raising and the error record, the message line and report, the
// uncaught-error exit.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>

#include "datatypes/datatypes.h"
#include "runtime/registry.h"
#include "runtime/catch_codes.h"
#include "runtime/collector.h"
#include "datatypes/errors.h"
#include "runtime/errors.h"
#include "runtime/platform.h"
#include "runtime/print_hooks.h"
#include "boot/startup.h"
#include "runtime/series.h"
#include "tests/unit/fixture.h"
#include "tests/unit/output_capture.h"
#include "tests/unit/text_util.h"

using namespace vyr;
namespace cat = vyr::error_catalog;

// ---- The catalog --------------------------------------------------------------

namespace {
struct CatalogRow {
    int32_t code;
    const char* category;
    const char* id;
    const char* source;  // the template as Vyr source
};
// Every id of the catalog, in catalog order.
const CatalogRow catalog_rows[] = {
        {0, "throw", "break", R"~("no loop to break")~"},
        {1, "throw", "return", R"~("return or exit not in function")~"},
        {2, "throw", "throw", R"~(["no catch for throw:" :arg1])~"},
        {3, "throw", "continue", R"~("no loop to continue")~"},
        {4, "throw", "while-cond", R"~("BREAK/CONTINUE cannot be used in WHILE condition block")~"},
        {100, "note", "no-load", R"~(["cannot load: " :arg1])~"},
        {200, "syntax", "invalid", R"~([:arg1 "invalid" :arg2 "at" :arg3])~"},
        {201, "syntax", "missing", R"~([:arg1 "missing" :arg2 "at" :arg3])~"},
        {202, "syntax", "no-header", R"~(["script is missing a Vyr header:" :arg1])~"},
        {203, "syntax", "no-rs-header", R"~(["script is missing a Vyr/System header:" :arg1])~"},
        {204, "syntax", "bad-header", R"~(["script header is not valid:" :arg1])~"},
        {205, "syntax", "malconstruct", R"~([:arg1 "invalid construction spec at" :arg2])~"},
        {206, "syntax", "bad-char", R"~([:arg1 "invalid character at" :arg2])~"},
        {300, "script", "no-value", R"~([:arg1 "has no value"])~"},
        {301, "script", "need-value", R"~([:arg1 "needs a value"])~"},
        {302, "script", "not-defined", R"~([:arg1 "word is not bound to a context"])~"},
        {303, "script", "not-in-context", R"~(["context for" :arg1 "is not available"])~"},
        {304, "script", "no-arg", R"~([:arg1 "is missing its" :arg2 "argument"])~"},
        {305, "script", "expect-arg", R"~([:arg1 "does not allow" :arg2 "for its" :arg3 "argument"])~"},
        {306, "script", "expect-val", R"~(["expected" :arg1 "not" :arg2])~"},
        {307, "script", "expect-type", R"~([:arg1 :arg2 "field must be of type" :arg3])~"},
        {308, "script", "cannot-use", R"~(["cannot use" :arg1 "on" :arg2 "value"])~"},
        {309, "script", "invalid-arg", R"~(["invalid argument:" :arg1])~"},
        {310, "script", "invalid-type", R"~([:arg1 "type is not allowed here"])~"},
        {311, "script", "invalid-type-spec", R"~(["invalid type specifier:" :arg1])~"},
        {312, "script", "invalid-key-type", R"~(["invalid key type:" :arg1])~"},
        {313, "script", "invalid-op", R"~(["invalid operator:" :arg1])~"},
        {314, "script", "no-op-arg", R"~([:arg1 "operator is missing an argument"])~"},
        {315, "script", "bad-op-spec", R"~("making an op! requires a function with only 2 arguments and no lit/get-word on left argument")~"},
        {316, "script", "invalid-data", R"~(["data not in correct format:" :arg1])~"},
        {317, "script", "invalid-part", R"~(["invalid /part count:" :arg1])~"},
        {318, "script", "not-same-type", R"~("values must be of the same type")~"},
        {319, "script", "not-same-class", R"~(["cannot coerce" :arg1 "to" :arg2])~"},
        {320, "script", "not-related", R"~(["incompatible argument for" :arg1 "of" :arg2])~"},
        {321, "script", "bad-func-def", R"~(["invalid function definition:" :arg1])~"},
        {322, "script", "bad-func-arg", R"~(["function argument" :arg1 "is not valid"])~"},
        {323, "script", "bad-func-extern", R"~(["invalid /extern value:" :arg1])~"},
        {324, "script", "no-refine", R"~([:arg1 "has no refinement called" :arg2])~"},
        {325, "script", "bad-refines", R"~("incompatible or invalid refinements")~"},
        {326, "script", "bad-refine", R"~(["invalid refinement value:" :arg1])~"},
        {327, "script", "dup-refine", R"~(["duplicate refinement usage in:" :arg1])~"},
        {328, "script", "word-first", R"~(["path must start with a word:" :arg1])~"},
        {329, "script", "empty-path", R"~("cannot evaluate an empty path value")~"},
        {330, "script", "unset-path", R"~([:arg2 "is unset in path" :arg1])~"},
        {331, "script", "invalid-path", R"~(["cannot access" :arg2 "in path" :arg1])~"},
        {332, "script", "invalid-path-set", R"~(["unsupported type in" :arg1 "set-path"])~"},
        {333, "script", "invalid-path-get", R"~(["unsupported type in" :arg1 "get-path"])~"},
        {334, "script", "bad-path-type", R"~([:arg3 "returned a" :arg2 "value, so" :arg1 "could not be accessed"])~"},
        {335, "script", "bad-path-type2", R"~(["path element >" :arg1 "< does not apply to" :arg2 "type"])~"},
        {336, "script", "bad-path-set", R"~(["cannot set" :arg2 "in path" :arg1])~"},
        {337, "script", "bad-field-set", R"~(["cannot set" :arg1 "field to" :arg2 "datatype"])~"},
        {338, "script", "dup-vars", R"~(["duplicate variable specified:" :arg1])~"},
        {339, "script", "past-end", R"~("out of range or past end")~"},
        {340, "script", "missing-arg", R"~("missing a required argument or refinement")~"},
        {341, "script", "out-of-range", R"~(["value out of range:" :arg1])~"},
        {342, "script", "invalid-chars", R"~("contains invalid characters")~"},
        {343, "script", "invalid-compare", R"~(["cannot compare" :arg1 "with" :arg2])~"},
        {344, "script", "wrong-type", R"~(["datatype assertion failed for:" :arg1])~"},
        {345, "script", "invalid-refine-arg", R"~(["invalid" :arg1 "argument:" :arg2])~"},
        {346, "script", "type-limit", R"~([:arg1 "overflow/underflow"])~"},
        {347, "script", "size-limit", R"~(["maximum limit reached:" :arg1])~"},
        {348, "script", "no-return", R"~("block did not return a value")~"},
        {349, "script", "throw-usage", R"~("invalid use of a thrown error value")~"},
        {350, "script", "locked-word", R"~(["protected word - cannot modify:" :arg1])~"},
        {351, "script", "protected", R"~("protected value or series - cannot modify")~"},
        {352, "script", "bad-bad", R"~([:arg1 "error:" :arg2])~"},
        {353, "script", "bad-make-arg", R"~(["cannot MAKE" :arg1 "from:" :arg2])~"},
        {354, "script", "bad-to-arg", R"~(["cannot MAKE/TO" :arg1 "from:" :arg2])~"},
        {355, "script", "invalid-months", R"~("invalid system/locale/month list")~"},
        {356, "script", "invalid-spec-field", R"~(["invalid" :arg1 "field in spec block"])~"},
        {357, "script", "missing-spec-field", R"~([:arg1 "not found in spec block"])~"},
        {358, "script", "move-bad", R"~(["Cannot MOVE elements from" :arg1 "to" :arg2])~"},
        {359, "script", "too-long", R"~("Content too long")~"},
        {360, "script", "invalid-char", R"~(["Invalid char! value:" :arg1])~"},
        {361, "script", "bad-loop-series", R"~(["Loop series changed to invalid value:" :arg1])~"},
        {362, "script", "wrong-denom", R"~([:arg1 "not same denomination as" :arg2])~"},
        {363, "script", "bad-denom", R"~(["invalid denomination:" :arg1])~"},
        {364, "script", "invalid-obj-evt", R"~(["invalid object event handler:" :arg1])~"},
        {365, "script", "parse-rule", R"~(["PARSE - invalid rule or usage of rule:" :arg1])~"},
        {366, "script", "parse-end", R"~(["PARSE - unexpected end of rule after:" :arg1])~"},
        {367, "script", "parse-invalid-ref", R"~(["PARSE - get-word refers to a different series!" :arg1])~"},
        {368, "script", "parse-block", R"~(["PARSE - input must be of any-block! type:" :arg1])~"},
        {369, "script", "parse-unsupported", R"~("PARSE - matching by datatype not supported for any-string! input")~"},
        {370, "script", "parse-infinite", R"~(["PARSE - infinite recursion at rule: [" :arg1 "]"])~"},
        {371, "script", "parse-stack", R"~("PARSE - stack limit reached")~"},
        {372, "script", "parse-keep", R"~("PARSE - KEEP is used without a wrapping COLLECT")~"},
        {373, "script", "parse-into-bad", R"~("PARSE - COLLECT INTO/AFTER invalid series! argument")~"},
        {374, "script", "parse-into-type", R"~("PARSE - COLLECT INTO/AFTER expects a series! of compatible datatype")~"},
        {375, "script", "draw-invalid", R"~(["DRAW - invalid input at:" :arg1])~"},
        {376, "script", "draw-infinite", R"~(["DRAW - infinite recursion at:" :arg1])~"},
        {377, "script", "invalid-data-facet", R"~(["invalid DATA facet content" :arg1])~"},
        {378, "script", "face-type", R"~(["VIEW - invalid face type:" :arg1])~"},
        {379, "script", "not-window", R"~("VIEW - expected a window root face")~"},
        {380, "script", "bad-window", R"~("VIEW - a window face cannot be nested in another window")~"},
        {381, "script", "not-linked", R"~("VIEW - face not linked to a window")~"},
        {382, "script", "not-event-type", R"~(["VIEW - not a valid event type" :arg1])~"},
        {383, "script", "invalid-facet-type", R"~(["VIEW - invalid rate value:" :arg1])~"},
        {384, "script", "ldl-invalid-syntax", R"~(["LDL - invalid syntax at:" :arg1])~"},
        {385, "script", "rtd-invalid-syntax", R"~(["RTD - invalid syntax at:" :arg1])~"},
        {386, "script", "rtd-no-match", R"~(["RTD - opening/closing tag not matching for:" :arg1])~"},
        {387, "script", "react-bad-func", R"~("REACT - /LINK option requires a function! as argument")~"},
        {388, "script", "react-not-enough", R"~("REACT - reactive functions must accept at least 2 arguments")~"},
        {389, "script", "react-no-match", R"~("REACT - objects block length must match reaction function arg count")~"},
        {390, "script", "react-bad-obj", R"~("REACT - target can only contain object values")~"},
        {391, "script", "react-gctx", R"~(["REACT - word" :arg1 "is not a reactor's field"])~"},
        {392, "script", "lib-invalid-arg", R"~(["LIBVYR - invalid argument for" :arg1])~"},
        {393, "script", "ze-ruzovir-uraziz", R"~(["VYRBIN - invalid record at index" :arg1])~"},
        {400, "math", "zero-divide", R"~("attempt to divide by zero")~"},
        {401, "math", "overflow", R"~("math or number overflow")~"},
        {402, "math", "positive", R"~("positive number required")~"},
        {500, "access", "cannot-open", R"~(["cannot open:" :arg1])~"},
        {501, "access", "cannot-close", R"~(["cannot close:" :arg1])~"},
        {502, "access", "invalid-utf8", R"~(["invalid UTF-8 encoding:" :arg1])~"},
        {503, "access", "not-open", R"~(["port is not open:" :arg1])~"},
        {504, "access", "no-connect", R"~(["cannot connect:" :arg1 "reason: timeout"])~"},
        {505, "access", "no-scheme", R"~(["missing port scheme:" :arg1])~"},
        {506, "access", "unknown-scheme", R"~(["scheme is unknown:" :arg1])~"},
        {507, "access", "invalid-spec", R"~(["invalid spec or options:" :arg1])~"},
        {508, "access", "invalid-port", R"~(["invalid port object (invalid field values)"])~"},
        {509, "access", "invalid-actor", R"~(["invalid port actor (must be handle or object)"])~"},
        {510, "access", "no-port-action", R"~("port action not supported")~"},
        {511, "access", "no-create", R"~(["cannot create:" :arg1])~"},
        {512, "access", "no-codec", R"~(["cannot decode or encode (no codec):" :arg1])~"},
        {513, "access", "bad-media", R"~(["bad media data (corrupt image, sound, video)"])~"},
        {514, "access", "invalid-cmd", R"~(["invalid port command:" :arg1])~"},
        {800, "user", "message", R"~(arg1)~"},
        {900, "internal", "bad-path", R"~(["bad path:" arg1])~"},
        {901, "internal", "not-here", R"~([arg1 "not supported on your system"])~"},
        {902, "internal", "no-memory", R"~("not enough memory")~"},
        {903, "internal", "wrong-mem", R"~("failed to release memory")~"},
        {904, "internal", "stack-overflow", R"~("stack overflow")~"},
        {905, "internal", "limit-hit", R"~(["internal limit reached:" :arg1])~"},
        {906, "internal", "too-deep", R"~("block or paren series is too deep to process")~"},
        {907, "internal", "no-cycle", R"~("circular reference not allowed")~"},
        {908, "internal", "feature-na", R"~("feature not available")~"},
        {909, "internal", "not-done", R"~("reserved for future use (or not yet implemented)")~"},
        {910, "internal", "invalid-error", R"~(["invalid error object field value:" :arg1])~"},
        {911, "internal", "routines", R"~("routines require compilation, from OS shell: `vyr -r <script.vyr>`")~"},
        {912, "internal", "vyr-system", R"~("contains Vyr/System code which requires compilation")~"},
        {913, "internal", "deprecated", R"~([arg1 "is DEPRECATED, please use" arg2 "instead"])~"},
};
}  // namespace

TEST(ErrorCatalogTest, EveryIdHasItsCodeAndTemplate) {
    size_t listed = 0;
    for (const CatalogRow& r : catalog_rows) {
        SCOPED_TRACE(std::string(r.category) + "/" + r.id);
        int c = cat::category_position(r.category);
        ASSERT_GE(c, 0);
        int i = cat::id_position(c, r.id);
        ASSERT_GE(i, err_id::first);
        EXPECT_EQ(cat::code(c, i), r.code);
        EXPECT_EQ(c, r.code / 100);
        EXPECT_EQ(i, r.code % 100 + err_id::first);
        EXPECT_EQ(cat::template_source(cat::id(c, i)->message), r.source);
    }
    for (const cat::Category& c : cat::categories()) listed += c.ids.size();
    EXPECT_EQ(listed, std::size(catalog_rows));  // and no id beyond the table
}

TEST(ErrorCatalogTest, CategoriesInOrderWithCodesAndTitles) {
    struct {
        const char* word;
        const char* title;
        size_t ids;
    } want[] = {{"throw", "Throw Error", 5},         {"note", "note", 1},
                {"syntax", "Syntax Error", 7},       {"script", "Script Error", 94},
                {"math", "Math Error", 3},           {"access", "Access Error", 15},
                {"reserved1", "Reserved1 Error", 0}, {"reserved2", "Reserved2 Error", 0},
                {"user", "User Error", 1},           {"internal", "Internal Error", 14}};
    ASSERT_EQ(cat::categories().size(), std::size(want));
    for (size_t i = 0; i < std::size(want); ++i) {
        const cat::Category& c = cat::categories()[i];
        EXPECT_STREQ(c.word, want[i].word);
        EXPECT_STREQ(c.title, want[i].title);
        EXPECT_EQ(c.code, int32_t(i * 100));
        EXPECT_EQ(c.ids.size(), want[i].ids);
    }
}

// The constants runtime code raises with name the same positions as the table.
TEST(ErrorCatalogTest, IdConstantsMatchTheTable) {
    struct {
        int category, id;
        const char* word;
    } cases[] = {
        {err_cat::throw_, err_id::throw_::break_, "break"},
        {err_cat::syntax, err_id::syntax::bad_char, "bad-char"},
        {err_cat::script, err_id::script::no_value, "no-value"},
        {err_cat::script, err_id::script::protected_, "protected"},
        {err_cat::script, err_id::script::ze_ruzovir_uraziz, "ze-ruzovir-uraziz"},
        {err_cat::math, err_id::math::zero_divide, "zero-divide"},
        {err_cat::access, err_id::access::invalid_cmd, "invalid-cmd"},
        {err_cat::user, err_id::user::message, "message"},
        {err_cat::internal, err_id::internal::deprecated, "deprecated"},
    };
    for (auto& c : cases) EXPECT_STREQ(cat::id(c.category, c.id)->word, c.word);
    EXPECT_EQ(cat::code(err_cat::math, err_id::math::zero_divide), 400);
    EXPECT_EQ(cat::code(err_cat::script, err_id::script::need_value), 301);
    EXPECT_EQ(err_id::script::end - err_id::first, 94);
    EXPECT_EQ(err_id::reserved1::end, err_id::first);
}

// Plain words stay plain, get-words stay get-words, a one-text block stays a
// block, and the user message is a bare word.
TEST(ErrorCatalogTest, TemplateShapesAreKept) {
    EXPECT_EQ(cat::id(err_cat::user, err_id::user::message)->message.shape, cat::Shape::word);
    EXPECT_EQ(cat::id(err_cat::access, err_id::access::bad_media)->message.shape, cat::Shape::block);
    EXPECT_EQ(cat::id(err_cat::access, err_id::access::no_port_action)->message.shape, cat::Shape::text);
    EXPECT_EQ(cat::id(err_cat::internal, err_id::internal::bad_path)->message.parts[1].kind, cat::PartKind::word);
    EXPECT_EQ(cat::id(err_cat::internal, err_id::internal::limit_hit)->message.parts[1].kind,
              cat::PartKind::get_word);
}

TEST(ErrorCatalogTest, LookupsOutsideTheCatalogAnswerNothing) {
    EXPECT_EQ(cat::category(-1), nullptr);
    EXPECT_EQ(cat::category(10), nullptr);
    EXPECT_EQ(cat::id(err_cat::math, 1), nullptr);  // `type` is a field, not an id
    EXPECT_EQ(cat::id(err_cat::math, 5), nullptr);
    EXPECT_EQ(cat::id(err_cat::reserved1, 2), nullptr);
    EXPECT_EQ(cat::category_position("Script"), -1);
    EXPECT_EQ(cat::id_position(err_cat::math, "no-value"), -1);
}

// ---- Raising and the message line ----------------------------------------------------

namespace {
class ErrorTest : public test::RuntimeTest {
protected:
    void TearDown() override {
        errors::clear_last_error();
        RuntimeTest::TearDown();
    }

    // A string! of Latin-1 text.
    static Cell string_of(const std::string& text) {
        NodeId n = memory::alloc_units(uint32_t(text.size()), 1);
        memory::SeriesBuffer* b = memory::buffer_of(n);
        std::memcpy(b->head_ptr(), text.data(), text.size());
        b->tail = b->head + uint32_t(text.size());
        return Cell{type_string, 0, n, 0};
    }
    static Cell integer(int32_t v) { return Cell{type_integer, 0, uint32_t(v), 0}; }

    // Raises and catches; answers the message line.
    static std::string raise(int category, int id, const Cell* a1 = nullptr, const Cell* a2 = nullptr,
                             const Cell* a3 = nullptr) {
        try {
            raise_error(category, id, a1, a2, a3);
        } catch (const Unwind& u) {
            EXPECT_EQ(u.code, catch_code::error);
            return errors::message_line(errors::last_error());
        }
    }
};
}  // namespace

TEST_F(ErrorTest, RaiseRecordsCodeAndArguments) {
    Cell a = integer(1), b = integer(2), c = integer(3);
    raise(err_cat::math, err_id::math::overflow, &a, &b, &c);
    const errors::ErrorRecord& e = errors::last_error();
    EXPECT_EQ(e.code, 401);
    EXPECT_EQ(e.category, err_cat::math);
    EXPECT_EQ(e.id, err_id::math::overflow);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(e.args[i].w2, uint32_t(i + 1));
    // Fewer arguments: the others are none!, not left over from before.
    raise(err_cat::script, err_id::script::no_value, &a);
    EXPECT_EQ(type_of(e.args[0]), uint32_t(type_integer));
    EXPECT_EQ(type_of(e.args[1]), uint32_t(type_none));
    EXPECT_EQ(type_of(e.args[2]), uint32_t(type_none));
    raise(err_cat::throw_, err_id::throw_::break_);
    EXPECT_EQ(e.code, 0);
    EXPECT_EQ(type_of(e.args[0]), uint32_t(type_none));
}

TEST_F(ErrorTest, ReraisingWithTheRecordsOwnArguments) {
    Cell a = integer(7), b = integer(8);
    raise(err_cat::script, err_id::script::not_same_class, &a, &b);
    const errors::ErrorRecord& e = errors::last_error();
    EXPECT_EQ(raise(err_cat::script, err_id::script::not_same_class, &e.args[1], &e.args[0]),
              "*** Script Error: cannot coerce 8 to 7");
}

TEST_F(ErrorTest, MessageLines) {
    Cell word = string_of("foo"), five = integer(5), t = Cell{type_logic, 1, 0, 0};
    Cell type = Cell{type_datatype, type_logic, 0, 0};
    Cell where = string_of("abc"), near = string_of("def");
    struct Case {
        int category, id;
        const Cell *a1, *a2, *a3;
        const char* line;
    } cases[] = {
        {err_cat::math, err_id::math::zero_divide, nullptr, nullptr, nullptr,
         "*** Math Error: attempt to divide by zero"},
        {err_cat::script, err_id::script::no_value, &five, nullptr, nullptr, "*** Script Error: 5 has no value"},
        // Absent arguments are none!.
        {err_cat::script, err_id::script::no_value, nullptr, nullptr, nullptr,
         "*** Script Error: none has no value"},
        // Script arguments are molded, syntax arguments formed.
        {err_cat::script, err_id::script::invalid_arg, &word, nullptr, nullptr,
         "*** Script Error: invalid argument: \"foo\""},
        {err_cat::syntax, err_id::syntax::invalid, &word, &where, &near, "*** Syntax Error: foo invalid abc at def"},
        {err_cat::script, err_id::script::expect_arg, &t, &type, &five,
         "*** Script Error: true does not allow logic! for its 5 argument"},
        {err_cat::note, err_id::note::no_load, &five, nullptr, nullptr, "*** note: cannot load:  5"},
        {err_cat::access, err_id::access::invalid_port, nullptr, nullptr, nullptr,
         "*** Access Error: invalid port object (invalid field values)"},
        {err_cat::internal, err_id::internal::deprecated, &word, &where, nullptr,
         "*** Internal Error: \"foo\" is DEPRECATED, please use \"abc\" instead"},
        {err_cat::user, err_id::user::message, &word, nullptr, nullptr, "*** User Error: foo"},
        // A user message that is neither string nor block writes no message.
        {err_cat::user, err_id::user::message, &five, nullptr, nullptr, "*** User Error: "},
    };
    for (const Case& c : cases) EXPECT_EQ(raise(c.category, c.id, c.a1, c.a2, c.a3), c.line);
}

// Words are molded by word!'s own mold: a get-word keeps its colon.
TEST_F(ErrorTest, WordArguments) {
    Cell foo = word_t::make_global("foo");
    EXPECT_EQ(raise(err_cat::script, err_id::script::no_value, &foo), "*** Script Error: foo has no value");
    Cell get_foo = foo;
    set_type(get_foo, type_get_word);
    EXPECT_EQ(raise(err_cat::script, err_id::script::invalid_arg, &get_foo), "*** Script Error: invalid argument: :foo");
    // Syntax errors form their arguments.
    EXPECT_EQ(raise(err_cat::syntax, err_id::syntax::no_header, &get_foo),
              "*** Syntax Error: script is missing a Vyr header: foo");
}

TEST_F(ErrorTest, CategoryAndIdWords) {
    EXPECT_EQ(errors::value_text(errors::category_word(err_cat::script), true, 80), "script");
    EXPECT_EQ(errors::value_text(errors::id_word(err_cat::script, err_id::script::no_value), true, 80), "no-value");
    EXPECT_EQ(errors::id_word(err_cat::math, err_id::math::zero_divide).w2,
              uint32_t(symbol_t::make("zero-divide")));
    EXPECT_EQ(type_of(errors::category_word(10)), uint32_t(type_none));
    EXPECT_EQ(type_of(errors::id_word(err_cat::reserved2, 2)), uint32_t(type_none));
}

// A user message held in a block is filled like a template: words name the
// error's fields.
TEST_F(ErrorTest, UserMessageBlock) {
    auto word = [](const char* name, uint32_t type) { return Cell{type, 0, uint32_t(symbol_t::make(name)), uint32_t(-1)}; };
    Cell block{type_block, 0, memory::alloc_cells(5), 0};
    for (Cell c : {string_of("bad"), word("arg2", type_get_word), string_of("in"), word("Code", type_word),
                   integer(42)})
        *series::append_cell(block) = c;
    Cell two = string_of("two");
    EXPECT_EQ(raise(err_cat::user, err_id::user::message, &block, &two), "*** User Error: bad \"two\" in 800 42");
}

TEST_F(ErrorTest, ArgumentTextIsCutAtEightyCharacters) {
    Cell long_text = string_of(std::string(100, 'x'));
    std::string line = raise(err_cat::syntax, err_id::syntax::no_header, &long_text);
    EXPECT_EQ(line, "*** Syntax Error: script is missing a Vyr header: " + std::string(80, 'x'));
    line = raise(err_cat::script, err_id::script::invalid_arg, &long_text);
    // A long string molds in braces.
    EXPECT_EQ(line, "*** Script Error: invalid argument: {" + std::string(79, 'x'));
}

namespace {
// A mold that cannot finish.
int32_t failing_mold(Cell*, Cell*, bool, bool, bool, Cell*, int32_t, int32_t) {
    raise_error(err_cat::internal, err_id::internal::not_done);
}
}  // namespace

// An argument whose mold fails shows its type's name; the error being
// reported stays the last error.
TEST_F(ErrorTest, ArgumentWhoseMoldFailsShowsItsTypeName) {
    constexpr uint32_t test_type = type_count - 1;
    registry::ActionFn row[registry::action_count] = {};
    row[registry::slot_mold - 1] = registry::act(failing_mold);
    registry::register_datatype(test_type, 0, "oddity!", row, registry::action_count);
    Cell odd{test_type, 0, 0, 0};
    EXPECT_EQ(raise(err_cat::script, err_id::script::invalid_arg, &odd), "*** Script Error: invalid argument: oddity!");
    EXPECT_EQ(errors::last_error().id, err_id::script::invalid_arg);
    EXPECT_EQ(type_of(errors::last_error().args[0]), test_type);
}

TEST_F(ErrorTest, PositionsOutsideTheCatalogReportInvalidError) {
    EXPECT_EQ(raise(err_cat::math, 9), "*** Internal Error: invalid error object field value: 9");
    EXPECT_EQ(raise(12, 2), "*** Internal Error: invalid error object field value: 12");
    EXPECT_EQ(raise(err_cat::reserved1, 2), "*** Internal Error: invalid error object field value: 2");
}

TEST_F(ErrorTest, ReportHasWhereAndNearLines) {
    Cell five = integer(5);
    raise(err_cat::script, err_id::script::no_value, &five);
    EXPECT_EQ(errors::report(errors::last_error()),
              "*** Script Error: 5 has no value\n*** Where: ???\n*** Near : none");
}

TEST_F(ErrorTest, BadMakeArgNamesTypeAndSpec) {
    Cell type{type_datatype, type_none, 0, 0}, spec = integer(3);
    try {
        errors::raise_bad_make_arg(type, spec);
    } catch (const Unwind&) {
    }
    EXPECT_EQ(errors::message_line(errors::last_error()), "*** Script Error: cannot MAKE none! from: 3");
}

// The record keeps a series argument alive, and follows it when the
// collector moves or renumbers it.
TEST_F(ErrorTest, RecordedArgumentsSurviveCollection) {
    Cell text = string_of("kept across a collection");
    raise(err_cat::script, err_id::script::invalid_arg, &text);
    text = Cell{};
    collector::set_stress(true);
    for (int i = 0; i < 3; ++i) {
        (void)memory::alloc_units(64, 1);  // garbage to move past
        collector::collector_run();
    }
    collector::set_stress(false);
    EXPECT_EQ(errors::message_line(errors::last_error()),
              "*** Script Error: invalid argument: \"kept across a collection\"");
}

TEST_F(ErrorTest, PrintErrorPrintsWithoutRaising) {
    Cell five = integer(5);
    test::OutputCapture capture;
    errors::print_error(err_cat::script, err_id::script::no_value, &five);
    std::string out = capture.take();
    EXPECT_EQ(out, "*** Script Error: 5 has no value\n*** Where: ???\n*** Near : none\n");
    EXPECT_EQ(errors::last_error().code, 300);
}

namespace {
std::string hooked;
void capture_hook(const Cell* string, bool line_end) {
    hooked += test::utf8_of(*string);
    if (line_end) hooked += "|";
}
}  // namespace

// With output hooks registered, the report is printed through them.
TEST_F(ErrorTest, PrintErrorGoesThroughTheOutputHooks) {
    hooks::add_print_hook(capture_hook, nullptr);
    hooked.clear();
    Cell five = integer(5);
    errors::print_error(err_cat::script, err_id::script::no_value, &five);
    hooks::remove_print_hook(capture_hook, nullptr);
    EXPECT_EQ(hooked, "*** Script Error: 5 has no value\n*** Where: ???\n*** Near : none|");
}

TEST(ErrorDeathTest, UncaughtErrorPrintsTheReportAndExitsWithMinusTwo) {
    EXPECT_EXIT(
        {
            platform::set_output_fd(STDERR_FILENO);
            try {
                raise_error(err_cat::math, err_id::math::zero_divide);
            } catch (const Unwind& u) {
                top_level_catch(u.code);
            }
        },
        testing::ExitedWithCode(254),
        "^\\*\\*\\* Math Error: attempt to divide by zero\n\\*\\*\\* Where: \\?\\?\\?\n\\*\\*\\* Near : none\n$");
}
