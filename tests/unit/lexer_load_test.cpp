// The lexer in load mode: the values each literal form makes, paths, the
// new-line mark, one-value and into scans, syntax errors as raised, trace
// callbacks that drop values or nest scans, and collections during a scan.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "datatypes/string_buffer.h"
#include "runtime/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/text_codec.h"
#include "engine/lexer.h"
#include "engine/lexer_internal.h"
#include "datatypes/errors.h"
#include "runtime/errors.h"
#include "runtime/float_text.h"
#include "runtime/unicode.h"
#include "tests/unit/fixture.h"

using namespace vyr;
using namespace vyr::lexer;

namespace {

const uint8_t* bytes(std::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }

std::vector<Cell> cells_of(const Cell& block) {
    memory::SeriesBuffer* b = memory::buffer_of(block.w2);
    return std::vector<Cell>(b->cells(), b->cells_end());
}

std::string text_of(const Cell& s) {
    std::string out;
    memory::SeriesBuffer* b = memory::buffer_of(s.w2);
    for (uint32_t i = s.w1; i < b->length(); ++i) {
        uint32_t cp = unicode::load_unit(b->head_ptr(), i, b->unit());
        uint8_t buf[4];
        out.append(reinterpret_cast<char*>(buf), unicode::utf8_encode(cp, buf));
    }
    return out;
}

// A short description of a value: its type id, then its payload as text.
std::string describe(const Cell& c) {
    std::string t = std::to_string(type_of(c)) + " ";
    switch (type_of(c)) {
        case type_integer: return t + std::to_string(int32_t(c.w2));
        case type_float:
        case type_time: return t + std::string(float_text::format_float_digits(cell_float(c), 0, true).view());
        case type_word: case type_set_word: case type_lit_word: case type_get_word: case type_refinement:
        case type_issue: return t + std::string(symbol_t::name(int32_t(c.w2)));
        case type_string: case type_file: case type_url: return t + text_of(c);
        case type_char: return t + std::to_string(c.w2);
        case type_logic: return t + (c.w1 ? "true" : "false");
        case type_datatype: return t + std::to_string(c.w1);
        case type_block: case type_paren: case type_path: case type_set_path: case type_get_path:
        case type_lit_path: {
            std::string inner;
            for (const Cell& x : cells_of(c)) inner += (inner.empty() ? "" : ", ") + describe(x);
            return t + "[" + inner + "]";
        }
        default: return t;
    }
}

class LexerLoadTest : public test::RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        lexer_init();
    }
    Cell load(std::string_view text, bool one = false, uint32_t* consumed = nullptr, const Tracer* tracer = nullptr) {
        Request rq;
        rq.text = bytes(text);
        rq.length = uint32_t(text.size());
        rq.one = one;
        rq.tracer = tracer;
        Cell result{};
        lexer_scan(&result, rq, consumed);
        return result;
    }
    std::string loaded(std::string_view text) { return describe(load(text)); }
};

}  // namespace

TEST_F(LexerLoadTest, ValuesOfEachLiteralForm) {
    struct Case {
        const char* text;
        const char* value;
    } cases[] = {
        {"1 + 2", "5 [11 1, 15 +, 11 2]"},
        {"a a: :a 'a /a #a", "5 [15 a, 16 a, 18 a, 17 a, 19 a, 20 a]"},
        {"/ '/ :/ /:", "5 [15 /, 17 /, 18 /, 16 /]"},
        {"< <= <> >", "5 [15 <, 15 <=, 15 <>, 15 >]"},
        {"2147483647 2147483648 -2147483648", "5 [11 2147483647, 12 2147483648.0, 11 -2147483648]"},
        {"1'000 12345678901", "5 [11 1000, 12 12345678901.0]"},
        {"1.5 .5 1e3 1.5e-3 1.", "5 [12 1.5, 12 0.5, 12 1000.0, 12 0.0015, 12 1.0]"},
        {"1.#INF -1.#INF", "5 [12 1.#INF, 12 -1.#INF]"},
        {"FFh 7FFFFFFFh", "5 [11 255, 11 2147483647]"},
        {"12:30 1:30.5 -1:00", "5 [43 45000.0, 43 90.5, 43 -3600.0]"},
        {"\"a^\"b\" \"\"", "5 [7 a\"b, 7 ]"},
        {"\"^(263A)^/^(line)\"", "5 [7 \u263A\n\n]"},
        {"{a {b} c} {x^}y}", "5 [7 a {b} c, 7 x}y]"},
        {"%{a}b}% %%{a}% b}%%", "5 [7 a}b, 7 a}% b]"},
        {"#(true) #(FALSE) #(none) #(integer!)", "5 [4 true, 4 false, 3 , 1 11]"},
        {"[a (b)] ()", "5 [5 [15 a, 6 [15 b]], 6 []]"},
        {"a\xC2\xA0" "b\xE3\x80\x80" "c d\xE2\x80\x8C" "e", "5 [15 a, 15 b, 15 c, 15 d\u200Ce]"},
        {"; only a comment", "5 []"},
        {"#\"a\" #\"^/\" #\"^(line)\" #\"^(263A)\" #\"^\"\"", "5 [10 97, 10 10, 10 10, 10 9786, 10 34]"},
        {"%file.txt %\"a b^/\" %a%20b %", "5 [8 file.txt, 8 a b\n, 8 a b, 15 %]"},
        {"http://x.y/a%20b ftp:x", "5 [9 http://x.y/a b, 9 ftp:x]"},
    };
    for (const auto& c : cases) EXPECT_EQ(loaded(c.text), c.value) << c.text;
}

TEST_F(LexerLoadTest, PathsOfAllFourKinds) {
    struct Case {
        const char* text;
        const char* value;
    } cases[] = {
        {"a/b/c", "5 [25 [15 a, 15 b, 15 c]]"},
        {"a/b:", "5 [27 [15 a, 15 b]]"},
        {":a/b", "5 [28 [15 a, 15 b]]"},
        {"'a/b", "5 [26 [15 a, 15 b]]"},
        {"a/1/(b c)/\"s\"/:d", "5 [25 [15 a, 11 1, 6 [15 b, 15 c], 7 s, 18 d]]"},
        {"a/b c", "5 [25 [15 a, 15 b], 15 c]"},
        {"[a/b]", "5 [5 [25 [15 a, 15 b]]]"},
        {"(a/b)", "5 [6 [25 [15 a, 15 b]]]"},
    };
    for (const auto& c : cases) EXPECT_EQ(loaded(c.text), c.value) << c.text;
}

TEST_F(LexerLoadTest, NewLineMarkFollowsALineFeed) {
    auto cells = cells_of(load("a\nb [\n c] {x\ny} %{p\nq}% \"s\"\n{t}"));
    ASSERT_EQ(cells.size(), 7u);
    bool marks[] = {false, true, false, false, false, false, true};
    for (size_t i = 0; i < 7; ++i) EXPECT_EQ(bool(cells[i].header & header::new_line), marks[i]) << i;
    EXPECT_TRUE(cells_of(cells[2])[0].header & header::new_line);
}

TEST_F(LexerLoadTest, OneValueAndInto) {
    uint32_t consumed = 0;
    Cell v = load("a b", true, &consumed);
    EXPECT_EQ(describe(v), "15 a");
    EXPECT_EQ(consumed, 1u);
    v = load("  [1 [2]] 3", true, &consumed);
    EXPECT_EQ(describe(v), "5 [11 1, 5 [11 2]]");
    EXPECT_EQ(consumed, 9u);

    Cell into = load("x");
    Request rq;
    std::string_view text = "1 2";
    rq.text = bytes(text);
    rq.length = 3;
    rq.into = &into;
    lexer_scan(nullptr, rq, nullptr);
    EXPECT_EQ(describe(into), "5 [15 x, 11 1, 11 2]");
}

TEST_F(LexerLoadTest, SyntaxErrorsAreRaisedWithTheirArguments) {
    struct Case {
        const char* text;
        int id;
        const char* line;
        int32_t type;  // arg2 of `invalid`
        const char* near;
    } cases[] = {
        {"12a", err_id::syntax::invalid, "(line 1)", type_integer, "12a"},
        {"a\n\"b", err_id::syntax::invalid, "(line 2)", type_string, "\"b"},
        {"1''0 x", err_id::syntax::invalid, "(line 1)", type_integer, "1''0 x"},
        {"x \xC0", err_id::syntax::bad_char, "(line 1)", 0, "\xEF\xBF\xBD"},  // the bad byte shown as U+FFFD
        {"#(foo) 1", err_id::syntax::malconstruct, "(line 1)", 0, "#(foo) 1"},
    };
    for (const auto& c : cases) {
        EXPECT_RAISES(load(c.text), err_cat::syntax, c.id);
        const errors::ErrorRecord& e = errors::last_error();
        EXPECT_EQ(text_of(e.args[0]), c.line) << c.text;
        if (c.id == err_id::syntax::invalid) {
            EXPECT_EQ(type_of(e.args[1]), type_datatype) << c.text;
            EXPECT_EQ(int32_t(e.args[1].w1), c.type) << c.text;
            EXPECT_EQ(text_of(e.args[2]), c.near) << c.text;
        } else {
            EXPECT_EQ(text_of(e.args[1]), c.near) << c.text;
        }
        EXPECT_EQ(active_scans(), 0u);
    }
    struct Missing {
        const char* text;
        uint32_t expected;
        const char* near;
    } missing[] = {
        {"[a", ']', "[a"}, {"a]", '[', "]"}, {"(a]", ')', "]"}, {"[a)", ']', ")"},
        {"(foo bar , 1)", '(', ")"}, {"#[a 1", ']', "#[a 1"}, {"x (a\n b", ')', "(a"},
    };
    for (const auto& c : missing) {
        EXPECT_RAISES(load(c.text), err_cat::syntax, err_id::syntax::missing);
        const errors::ErrorRecord& e = errors::last_error();
        EXPECT_EQ(type_of(e.args[1]), type_char) << c.text;
        EXPECT_EQ(e.args[1].w2, c.expected) << c.text;
        EXPECT_EQ(text_of(e.args[2]), c.near) << c.text;
    }
    EXPECT_RAISES(load("[a"), err_cat::syntax, err_id::syntax::missing);
    EXPECT_EQ(errors::message_line(errors::last_error()), "*** Syntax Error: (line 1) missing ] at [a");
    EXPECT_RAISES(load("#(foo)"), err_cat::syntax, err_id::syntax::malconstruct);
    EXPECT_EQ(errors::message_line(errors::last_error()),
              "*** Syntax Error: (line 1) invalid construction spec at #(foo)");
}

namespace {
// The molded text of a value, as UTF-8.
std::string mold_of(Cell value) {
    Cell buffer{};
    string_t::make_at(buffer, 64);
    registry::action<registry::action_sig::mold>(type_of(value), registry::slot_mold)(&value, &buffer, false, false,
                                                                                       false, nullptr, 0, 0);
    int32_t length = -1;
    const uint8_t* text = text_codec::to_utf8(buffer, length);
    return std::string(reinterpret_cast<const char*>(text), size_t(length));
}
}  // namespace

// Molding a loaded value and loading the mold gives the same value.
TEST_F(LexerLoadTest, MoldOfALoadedValueLoadsBackTheSame) {
    for (const char* text : {"1", "-2147483648", "12345678901", "1.5", "1e-10", "-1.#INF", "12:30", "1:30.5", "-1:30",
                             "a", "a:", ":a", "'a", "/a", "#a", "/", "<=", "\"a^\"b^/c\"", "{a\nb}", "{a^{}",
                             "\"\xE2\x98\xBA\"", "#\"^(263A)\"", "#\"^/\"", "%file.txt", "%\"a b\"",
                             "http://x.y/a", "%a%20b", "[a [b] (c)]", "[]", "(a b)", "a/b/c", "a/b:", ":a/b",
                             "'a/b", "a/1/(b)/\"s\"", "[a\n    b]"}) {
        Cell first = cells_of(load(text))[0];
        std::string molded = mold_of(first);
        auto again = cells_of(load(molded));
        ASSERT_EQ(again.size(), 1u) << text << " molds as " << molded;
        EXPECT_EQ(describe(again[0]), describe(first)) << text << " molds as " << molded;
    }
}

// ---- Trace callbacks ---------------------------------------------------------------

namespace {
bool refuse_loads(void*, const TraceEvent& e, uint32_t&) { return e.event != event::load; }
}  // namespace

TEST_F(LexerLoadTest, CallbackRefusingEveryLoadGivesAnEmptyBlock) {
    Tracer t{refuse_loads, nullptr, event::all};
    EXPECT_EQ(describe(load("1 a \"s\" {t} [x]", false, nullptr, &t)), "5 [5 []]");
}

namespace {
struct Nested {
    LexerLoadTest* test;
    std::string big;
    Cell inner{};
    static bool on_event(void* self, const TraceEvent& e, uint32_t&) {
        auto* n = static_cast<Nested*>(self);
        if (e.event == event::load && type_of(n->inner) == 0) {
            Request rq;
            rq.text = bytes(n->big);
            rq.length = uint32_t(n->big.size());
            lexer_scan(&n->inner, rq, nullptr);
            EXPECT_EQ(active_scans(), 1u);  // the outer scan again
        }
        return true;
    }
};
}  // namespace

// A scan nested in a callback builds above the outer scan's cells and may
// grow the shared buffer; the outer values stay intact.
TEST_F(LexerLoadTest, ScanNestedInACallbackLeavesTheOuterScanIntact) {
    Nested n{this, {}, {}};
    for (int i = 0; i < 5000; ++i) n.big += std::to_string(i) + " ";
    Tracer t{Nested::on_event, &n, event::load};
    Cell v = load("[1 [2 3]] \"four\"", false, nullptr, &t);
    EXPECT_EQ(describe(v), "5 [5 [11 1, 5 [11 2, 11 3]], 7 four]");
    auto inner = cells_of(n.inner);
    ASSERT_EQ(inner.size(), 5000u);
    EXPECT_EQ(describe(inner[4999]), "11 4999");
}

namespace {
bool collect_everything(void*, const TraceEvent&, uint32_t&) {
    collector::set_stress(true);
    collector::safe_point();
    collector::set_stress(false);
    return true;
}
}  // namespace

// Collections during callbacks move the values built so far and the text
// being scanned (held in a series here); the scan follows both.
TEST_F(LexerLoadTest, CollectionsDuringCallbacksMoveNothingTheScanHolds) {
    std::string_view text = "\"one\" [a \"two\"] b/\"three\" {four}";
    NodeId node = memory::alloc_bytes(uint32_t(text.size()));
    memory::SeriesBuffer* b = memory::buffer_of(node);
    std::memcpy(b->head_ptr(), text.data(), text.size());
    b->tail = b->head + uint32_t(text.size());
    Cell source{type_binary, 0, node, 0};
    Tracer t{collect_everything, nullptr, event::all};
    Request rq;
    rq.text = memory::buffer_of(node)->head_ptr();
    rq.length = uint32_t(text.size());
    rq.source = &source;
    rq.tracer = &t;
    Cell result{};
    collector::CellRoot keep(&result);
    lexer_scan(&result, rq, nullptr);
    EXPECT_EQ(describe(result), "5 [7 one, 5 [15 a, 7 two], 25 [15 b, 7 three], 7 four]");
}

// ---- What a Vyr callback sees --------------------------------------------------------

TEST_F(LexerLoadTest, EventMaskFromTheCallbackBody) {
    struct Case {
        const char* body;
        uint32_t mask;
    } cases[] = {
        {"[open CLOSE Error] x", event::open | event::close | event::error},
        {"[prescan scan load foo 1]", event::prescan | event::scan | event::load},
        {"[]", 0},
        {"x [error]", event::all},
        {"", event::all},
    };
    for (const auto& c : cases) EXPECT_EQ(event_mask_of_body(load(c.body)), c.mask) << c.body;
}

TEST_F(LexerLoadTest, CharacterOffsetsOfAStringSourceAreIncremental) {
    std::string_view text = "a\xC3\xA9" "b\xE2\x98\xBA" " c";  // a é b ☺ space c
    State st;
    st.input = bytes(text);
    st.input_end = st.input + text.size();
    EXPECT_EQ(char_offset(&st, 3), 2u);
    EXPECT_EQ(char_offset(&st, 7), 4u);
    EXPECT_EQ(char_offset(&st, 1), 1u);  // backwards from the cached position
    EXPECT_EQ(char_offset(&st, 99), 6u);
    EXPECT_EQ(byte_offset_of_chars(&st, 4), 7u);
    EXPECT_EQ(byte_offset_of_chars(&st, 99), text.size());
}
