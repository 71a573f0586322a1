// The lexer's automaton and scanning loop: token kinds and spans, containers,
// the check modes, errors with their position, and trace events.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engine/lexer.h"
#include "engine/lexer_internal.h"
#include "runtime/memory.h"
#include "tests/unit/heap_fixture.h"

using namespace vyr;
using namespace vyr::lexer;

namespace {

const uint8_t* bytes(std::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }

Token token_of(std::string_view s, uint32_t start_state = start_normal) {
    return next_token(bytes(s), bytes(s) + s.size(), start_state);
}

// Records every event as "event type start-end", and answers as told.
struct Recorder {
    std::vector<std::string> events;
    bool load = true;        // answer to scan events (false: check only, build nothing)
    bool go_on_error = false;
    uint32_t refuse_open = 0;  // a container kind whose opening is refused
    SyntaxError first_error;   // the error of the first error event

    static bool record(void* self, const TraceEvent& e, uint32_t& position) {
        auto* r = static_cast<Recorder*>(self);
        static const char* names[] = {"prescan", "scan", "load", "open", "close", "error"};
        int bit = __builtin_ctz(e.event);
        r->events.push_back(std::string(names[bit]) + " " + std::to_string(e.type) + " " + std::to_string(e.start) +
                            "-" + std::to_string(e.end));
        switch (e.event) {
            case event::scan: return r->load;
            case event::open: return uint32_t(e.type) != r->refuse_open;
            case event::error:
                if (r->first_error.id == 0) r->first_error = last_error();
                if (!r->go_on_error) position = e.position + 1;
                return r->go_on_error;
            default: return true;
        }
    }
    Tracer tracer(uint32_t mask = event::all) { return Tracer{record, this, mask}; }
    bool has(const std::string& e) const {
        for (const auto& x : events)
            if (x == e) return true;
        return false;
    }
    std::vector<std::string> errors() const {
        std::vector<std::string> out;
        for (const auto& x : events)
            if (x.rfind("error", 0) == 0) out.push_back(x);
        return out;
    }
};

class LexerTest : public test::HeapTest {
protected:
    void SetUp() override {
        HeapTest::SetUp();
        lexer_init();
    }

    int32_t scan(std::string_view text, Mode mode, bool one = true, uint32_t* consumed = nullptr) {
        Request rq;
        rq.text = bytes(text);
        rq.length = uint32_t(text.size());
        rq.mode = mode;
        rq.one = one;
        Cell result{};
        return lexer_scan(&result, rq, consumed);
    }

    // Load mode with the recorder as tracer; answers the result cell.
    Cell traced(std::string_view text, Recorder& r, uint32_t mask = event::all) {
        Tracer t = r.tracer(mask);
        Request rq;
        rq.text = bytes(text);
        rq.length = uint32_t(text.size());
        rq.tracer = &t;
        Cell result{};
        lexer_scan(&result, rq, nullptr);
        return result;
    }

    // The first syntax error of a text, checked without building values.
    SyntaxError error_of(std::string_view text) {
        Recorder r;
        r.load = false;
        traced(text, r);
        return r.first_error;
    }
};

std::vector<Cell> cells_of(const Cell& block) {
    memory::SeriesBuffer* b = memory::buffer_of(block.w2);
    return std::vector<Cell>(b->cells(), b->cells_end());
}

}  // namespace

// ---- The automaton ------------------------------------------------------------

TEST(LexerTokens, KindAndSpanOfEachLiteralForm) {
    struct Case {
        const char* text;
        uint32_t kind;
        const char* token;  // from the token start up to the byte that ended it
    } cases[] = {
        {"  123 ", kind_integer, "123"},    {"abc", kind_word, "abc"},         {"a:", kind_word, "a:"},
        {"'a", kind_word, "'a"},            {":a", kind_word, ":a"},           {"1.5", kind_float, "1.5"},
        {".5", kind_float, ".5"},           {"1e3", kind_float, "1e3"},        {"1.2.3", kind_tuple, "1.2.3"},
        {"12%", kind_percent, "12"},        {"FFh", kind_hex_integer, "FFh"},  {"1x2", kind_pair, "1x2"},
        {"12:30", kind_time, "12:30"},      {"1-Jan-2000", kind_date, "1-Jan-2000"},
        {"2000-W01-1", kind_date, "2000-W01-1"},                                {"$1.50", kind_money, "$1.50"},
        {"-USD$1", kind_money, "-USD$1"},   {"<a b>", kind_tag, "<a b"},        {"http://x.y", kind_url, "http://x.y"},
        {"a@b.c", kind_email, "a@b.c"},     {"@ref", kind_ref, "@ref"},         {"#abc", kind_issue, "#abc"},
        {"/ref", kind_refinement, "/ref"},  {"#\"a\"", kind_char, "#\"a"},      {"%file.txt", kind_file, "%file.txt"},
        {"%\"a b\"", kind_file, "%\"a b"},  {"#{00}", kind_binary, "#{00"},     {"64#{AQID}", kind_binary, "64#{AQID"},
        {"\"s\"", kind_string, "\"s"},      {"%{raw}%", kind_raw_string, "%{raw}%"},
        {"[", kind_block_open, ""},         {"#[", kind_map_open, "#"},         {"a/b", kind_path, "a"},
        {"#(none)", kind_construct, "#(none"},                                 {"; c\n", kind_comment, "; c"},
        {",", kind_comma, ""},              {"{", kind_brace_open, ""},         {"", kind_end, ""},
        {"1.#INF", kind_float_special, "1.#INF"},                               {"12345678901", kind_integer, "12345678901"},
    };
    for (const auto& c : cases) {
        Token t = token_of(c.text);
        EXPECT_EQ(kind_of_state(t.state), c.kind) << c.text;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.start), size_t(t.end - t.start)), c.token) << c.text;
    }
}

TEST(LexerTokens, InvalidTokensKeepTheStateBeforeThem) {
    struct Case {
        const char* text;
        uint32_t previous_type;  // what the error reports
    } cases[] = {
        {"12a", type_integer}, {"\xC0", 0}, {"a\xC0", type_word}, {"\"abc\n\"", type_string},
        {"}", 0},              {"$", type_money}, {"1:", type_time},  {"#{0", type_binary},
    };
    for (const auto& c : cases) {
        Token t = token_of(c.text);
        EXPECT_EQ(t.state, final_state(kind_invalid)) << c.text;
        EXPECT_EQ(state_type[t.previous], c.previous_type) << c.text;
    }
}

TEST(LexerTokens, FlagsCoverEveryByteReadAndLinesAreCounted) {
    Token t = token_of("\n\n 1'000");
    EXPECT_EQ(t.lines, 2u);
    EXPECT_TRUE(t.flags & flag::apostrophe);
    EXPECT_EQ(unit_of_flags(token_of("\"a\"").flags), 1u);
    EXPECT_EQ(unit_of_flags(token_of("\"\xC3\xA9\"").flags), 2u);
    EXPECT_EQ(unit_of_flags(token_of("\"\xE2\x98\xBA\"").flags), 2u);
    EXPECT_EQ(unit_of_flags(token_of("\"\xF0\x9F\x98\x80\"").flags), 4u);
    // The byte that ends a token adds its flags too: a path segment before ":".
    EXPECT_TRUE(token_of("b:", start_path).flags & flag::colon);
}

TEST(LexerTokens, UnicodeBlanks) {
    for (uint32_t cp : {0x85u, 0xA0u, 0x1680u, 0x180Eu, 0x2000u, 0x200Au, 0x200Bu, 0x2028u, 0x202Fu, 0x3000u})
        EXPECT_TRUE(unicode_blank(cp)) << cp;
    for (uint32_t cp : {0x20u, 0x200Cu, 0x2030u, 0xFEFFu, 0x3001u}) EXPECT_FALSE(unicode_blank(cp)) << cp;
}

// ---- The check modes -------------------------------------------------------------

TEST_F(LexerTest, ScanModeAnswersTheTypeOfTheFirstValue) {
    struct Case {
        const char* text;
        int32_t type;
    } cases[] = {
        {"12 a", type_integer},    {"12a", type_error},       {"a:", type_set_word},     {":a", type_get_word},
        {"'a", type_lit_word},     {"[a b] c", type_block},   {"(a)", type_paren},       {"", 0},
        {"12345678901", type_float}, {"2147483648", type_float}, {"-2147483648", type_integer},
        {"(1, 2)", type_point2d},  {"(1, 2, 3)", type_point3d}, {"a/b/c", type_path},     {"a/b:", type_set_path},
        {":a/b", type_get_path},   {"'a/b", type_lit_path},   {"{a {b} c}", type_string}, {"/", type_word},
        {"/a", type_refinement},   {"#", type_error},         {"1''0", type_error},       {"[a", type_error},
        {"a]", type_word},         {"29-Feb-2001", type_error}, {"28-Feb-2001", type_date}, {"#[a 1]", type_map},
        {"%{a}b}%", type_string},  {"$1.123456", type_error}, {"FFh", type_integer},      {"\"^(110000)\"", type_error},
        {"\xC0", type_error},      {"#(foo)", type_error},    {"\"abc", type_error},     {"#(none)", type_none},
    };
    for (const auto& c : cases) EXPECT_EQ(scan(c.text, Mode::scan), c.type) << c.text;
}

TEST_F(LexerTest, ConsumedStopsAfterTheFirstValue) {
    uint32_t consumed = 0;
    EXPECT_EQ(scan("12 34", Mode::scan, true, &consumed), type_integer);
    EXPECT_EQ(consumed, 2u);
    EXPECT_EQ(scan("  [a [b]] c", Mode::scan, true, &consumed), type_block);
    EXPECT_EQ(consumed, 9u);
    EXPECT_EQ(scan("", Mode::scan, true, &consumed), 0);
    EXPECT_EQ(consumed, 0u);
}

TEST_F(LexerTest, PrescanFindsTheExtentWithoutCheckingValues) {
    uint32_t consumed = 0;
    EXPECT_EQ(scan("[1''0 ] x", Mode::prescan, false, &consumed), type_block);
    EXPECT_EQ(consumed, 7u);
    EXPECT_EQ(scan("a/b c", Mode::prescan, false), type_path);
    EXPECT_EQ(scan("[(1, 2) #\"a\" <t> 5% #{00}] x", Mode::prescan, false, &consumed), type_block);
    EXPECT_EQ(consumed, 26u);
    EXPECT_EQ(scan("12a", Mode::prescan, false), type_error);
    EXPECT_EQ(scan("[a", Mode::prescan, false), type_error);
}

// ---- Containers in load mode ------------------------------------------------------

TEST_F(LexerTest, ContainersNestAndCarryTheNewLineMark) {
    Recorder r;
    Cell result = traced("[[] ()]\n[]", r);
    ASSERT_EQ(type_of(result), type_block);
    auto top = cells_of(result);
    ASSERT_EQ(top.size(), 2u);
    EXPECT_EQ(type_of(top[0]), type_block);
    EXPECT_FALSE(top[0].header & header::new_line);
    EXPECT_TRUE(top[1].header & header::new_line);
    auto inner = cells_of(top[0]);
    ASSERT_EQ(inner.size(), 2u);
    EXPECT_EQ(type_of(inner[0]), type_block);
    EXPECT_EQ(type_of(inner[1]), type_paren);
    EXPECT_TRUE(cells_of(inner[0]).empty());
}

TEST_F(LexerTest, EmptyInputGivesAnEmptyBlock) {
    Request rq;
    rq.text = bytes("");
    Cell result{};
    uint32_t consumed = 99;
    EXPECT_EQ(lexer_scan(&result, rq, &consumed), 0);
    EXPECT_EQ(type_of(result), type_block);
    EXPECT_TRUE(cells_of(result).empty());
    EXPECT_EQ(consumed, 0u);
}

TEST_F(LexerTest, OutputBufferGrowsUnderOpenContainers) {
    // Enough containers to grow the output buffer several times over.
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "[] ";
    Recorder r;
    Cell result = traced(text, r, 0);
    EXPECT_EQ(cells_of(result).size(), 3000u);
    EXPECT_EQ(active_scans(), 0u);
}

// ---- Errors: the type and the text near the fault ------------------------------

TEST_F(LexerTest, ErrorsNameTheBadTokenAndItsPosition) {
    struct Case {
        const char* text;
        int32_t id;
        int32_t type;        // for invalid
        uint32_t expected;   // for missing
        const char* near;
    } cases[] = {
        {"12a b", syntax_id::invalid, type_integer, 0, "12a b"},
        {"x \xC0 y", syntax_id::bad_char, 0, 0, "\xC0 y"},
        {"ab\xC0", syntax_id::invalid, type_word, 0, "ab\xC0"},
        {"[ ", syntax_id::missing, 0, ']', "[ "},
        {"[]]", syntax_id::missing, 0, '[', "]"},
        {"(]", syntax_id::missing, 0, ')', "]"},
        {"{abc", syntax_id::invalid, type_string, 0, "{abc"},
        {"a b\n  12a", syntax_id::invalid, type_integer, 0, "12a"},
        {"[a , b]", syntax_id::invalid, type_point2d, 0, ", b]"},
        {"[a, b]", syntax_id::invalid, type_word, 0, "a, b]"},
        {"(foo bar , 1)", syntax_id::missing, 0, '(', ")"},
        {"#(foo)", syntax_id::malconstruct, 0, 0, "#(foo)"},
        {"29-Feb-2001", syntax_id::invalid, type_date, 0, "29-Feb-2001"},
        {"\"a^(110000)\"", syntax_id::invalid, type_string, 0, "\"a^(110000)\""},
        {"#\"^(110000)\"", syntax_id::invalid, type_char, 0, "#\"^(110000)\""},
        {"a/", syntax_id::invalid, type_path, 0, "a/"},
        {"a/b/", syntax_id::invalid, type_path, 0, "a/b/"},
        {"1''2222222222222222222222222222222222222", syntax_id::invalid, type_integer, 0,
         "1''222222222222222222222222222"},
    };
    for (const auto& c : cases) {
        SyntaxError e = error_of(c.text);
        EXPECT_EQ(e.id, c.id) << c.text;
        if (c.id == syntax_id::invalid) {
            EXPECT_EQ(e.type, c.type) << c.text;
        }
        if (c.id == syntax_id::missing) {
            EXPECT_EQ(e.expected, c.expected) << c.text;
        }
        EXPECT_EQ(e.near, c.near) << c.text;
    }
    EXPECT_EQ(error_of("a b\n  12a").line, 2u);
}

TEST_F(LexerTest, NearTextKeepsTheLastCharacterWhole) {
    std::string text = "\"" + std::string(28, 'a') + "\xE2\x98\xBA\xC0\"";
    EXPECT_EQ(error_of(text).near, "\"" + std::string(28, 'a') + "\xE2\x98\xBA");
}

// A "}", "\" or control byte after a path segment is not the "/" that
// continues the path: it is an invalid path, not a silently eaten byte.
TEST_F(LexerTest, OddByteAfterAPathSegmentIsAnInvalidPath) {
    for (const char* text : {"a/b}", "a/b\\c", "a/b\x01", "a/\"s\"1"}) {
        SyntaxError e = error_of(text);
        EXPECT_EQ(e.id, syntax_id::invalid) << text;
        EXPECT_EQ(e.type, type_path) << text;
    }
    EXPECT_EQ(scan("a/b}", Mode::scan), type_error);
    EXPECT_EQ(scan("a/b c", Mode::scan), type_path);
}

// ---- Trace events -----------------------------------------------------------------

TEST_F(LexerTest, EventsOfABlockInOrder) {
    Recorder r;
    r.load = false;
    traced("[a]", r);
    std::vector<std::string> expected = {
        "prescan -3 0-0", "open 5 0-0", "prescan 15 1-2", "scan 15 1-2",
        "prescan -4 2-2", "close 5 0-2", "prescan -1 3-3",
    };
    EXPECT_EQ(r.events, expected);
}

TEST_F(LexerTest, EventMaskSelectsTheEvents) {
    Recorder r;
    r.load = false;
    traced("[1 2a] ; c\n", r, event::error | event::close | event::scan);
    std::vector<std::string> expected = {"scan 11 1-2", "error 11 3-4", "close 5 0-5", "scan -12 7-10"};
    EXPECT_EQ(r.events, expected);
}

TEST_F(LexerTest, ErrorDroppedByTheCallbackResumesAfterIt) {
    Recorder r;
    r.load = false;
    traced("12a [] \xC0 b", r);
    auto errors = r.errors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], "error 11 0-2");
    EXPECT_EQ(errors[1], "error 34 7-7");
    EXPECT_TRUE(r.has("open 5 4-4"));
    EXPECT_TRUE(r.has("scan 15 9-10"));  // the word after the bad byte
}

namespace {
bool refuse_prescans(void*, const TraceEvent& e, uint32_t&) { return e.event != event::prescan; }
}  // namespace

// A token refused at its prescan event is skipped: the scan moves past it,
// also past the closing byte of a point, a string or a bracket.
TEST_F(LexerTest, TokensRefusedAtPrescanAreSkipped) {
    Tracer t{refuse_prescans, nullptr, event::all};
    Request rq;
    std::string_view text = "[(1, 2) \"s\" ] (a) \xC0 #\"c\"";
    rq.text = bytes(text);
    rq.length = uint32_t(text.size());
    rq.tracer = &t;
    Cell result{};
    uint32_t consumed = 0;
    lexer_scan(&result, rq, &consumed);
    EXPECT_EQ(consumed, text.size());
    EXPECT_TRUE(cells_of(result).empty());
}

TEST_F(LexerTest, RefusedOpenLeavesTheContainerClosed) {
    Recorder r;
    r.refuse_open = type_paren;
    Cell result = traced("[()]", r);
    // "(" was not opened, so ")" closes nothing: it is reported, then dropped.
    EXPECT_EQ(r.errors().size(), 1u);
    EXPECT_EQ(type_of(result), type_block);
}

TEST_F(LexerTest, CommentsAndMultiLineStringsReportTheirSpans) {
    Recorder r;
    r.load = false;
    traced("; note\n{a {b}\nc}", r);
    EXPECT_TRUE(r.has("scan -12 0-6"));
    EXPECT_TRUE(r.has("open 7 7-7"));
    EXPECT_TRUE(r.has("close 7 7-16"));
    EXPECT_TRUE(r.has("scan 7 7-16"));
}

// ---- String sources -------------------------------------------------------------

namespace {
Cell latin1_string(std::string_view text, uint32_t index = 0) {
    NodeId node = memory::alloc_bytes(uint32_t(text.size()));
    memory::SeriesBuffer* b = memory::buffer_of(node);
    std::memcpy(b->head_ptr(), text.data(), text.size());
    b->tail = b->head + uint32_t(text.size());
    return Cell{type_string, index, node, 0};
}
}  // namespace

// A /part length past the tail is cut to the tail: nothing beyond is read.
TEST_F(LexerTest, PartLengthIsClampedToTheString) {
    Cell s = latin1_string("x 12", 2);
    Request rq;
    rq.mode = Mode::scan;
    rq.one = true;
    uint32_t consumed = 0;
    EXPECT_EQ(lexer_scan_string(nullptr, s, 1000, rq, &consumed), type_integer);
    EXPECT_EQ(consumed, 2u);
    EXPECT_EQ(lexer_scan_string(nullptr, s, 1, rq, &consumed), type_integer);
    EXPECT_EQ(consumed, 1u);
    Cell past = latin1_string("ab", 7);  // an index past the tail reads nothing
    EXPECT_EQ(lexer_scan_string(nullptr, past, -1, rq, &consumed), 0);
    EXPECT_EQ(consumed, 0u);
}

TEST_F(LexerTest, ConsumedCountsCharactersOfAStringSource) {
    Cell s = latin1_string("\xE9\xE9 x");  // two Latin-1 characters, four bytes of UTF-8
    Request rq;
    rq.mode = Mode::scan;
    rq.one = true;
    uint32_t consumed = 0;
    EXPECT_EQ(lexer_scan_string(nullptr, s, -1, rq, &consumed), type_word);
    EXPECT_EQ(consumed, 2u);
}
