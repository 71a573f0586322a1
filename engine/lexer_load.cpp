// The checks and loaders of value tokens, and the value makers they build
// with. Every loader takes (state, token start, token end, flags, load): with
// load off it only checks the token and moves the position past it; with load
// on it also builds the value in a new output cell.
#include "engine/lexer_load.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/percent.h"
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include "runtime/registry.h"
#include "datatypes/string_buffer.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "datatypes/unset.h"
#include "datatypes/url.h"
#include "datatypes/word.h"
#include "engine/lexer.h"
#include "engine/lexer_internal.h"
#include "engine/lexer_scan.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/unicode.h"

namespace vyr::lexer {

namespace {

void check(State* st, const uint8_t* start, const uint8_t* end, int32_t code) {
    if (code != code_ok) lexer_error(st, start, end, code);
}

// Text of a string type from [text, text_end): checked, then built when
// `load` is set. Errors report `error_type` over the whole token.
void load_text(State* st, const uint8_t* token, const uint8_t* token_end, const uint8_t* text,
               const uint8_t* text_end, uint32_t flags, bool escapes, uint32_t type, uint32_t error_type, bool load,
               bool percent_decode) {
    TextShape shape;
    if (!measure_text(text, text_end, flags, escapes, shape)) lexer_error(st, token, token_end, int32_t(error_type));
    if (!load) return;
    if (flags & flag::multiline) st->token_lines = 1;
    make_text(new_cell(st), type, text, text_end, shape, escapes, percent_decode);
}

// The word type of a word token by its colons and quote, or 0 when they do
// not make a word.
uint32_t word_type(State* st, const uint8_t* start, const uint8_t* end, uint32_t flags, int32_t& error) {
    uint32_t type = type_word;
    if (flags & flag::colon) {
        bool leading = *start == ':';
        bool trailing = end - start > 1 && end[-1] == ':';
        if (leading && !trailing) type = type_get_word;
        else if (trailing && !leading) type = type_set_word;
        else if (!(st->start_state == start_path && end < st->input_end && *end == ':')) error = type_word;
    }
    if (*start == '\'') {
        if (type == type_set_word) error = type_lit_word;
        type = type_lit_word;
    }
    return type;
}

// The text of a word of that type: the "'", ":" or "#" before it and the ":"
// after it are not part of its spelling.
void word_text(uint32_t type, const uint8_t*& start, const uint8_t*& end) {
    switch (type) {
        case type_lit_word:
        case type_get_word:
        case type_refinement:
        case type_issue: ++start; break;
        case type_set_word: --end; break;
        default: break;
    }
}

}  // namespace

// ---- Strings -------------------------------------------------------------------

void string_scan(State* st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool) {
    uint32_t error_type = st->type_hint > 0 ? uint32_t(st->type_hint) : type_string;
    st->pos = end + 1;
    load_text(st, start, end, start + 1, end, flags, flags & flag::caret, type_string, error_type, false, false);
}

void string_load(State* st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    uint32_t type = st->type_hint > 0 ? uint32_t(st->type_hint) : type_string;
    st->pos = end + 1;
    load_text(st, start, end, start + 1, end, flags, flags & flag::caret, type, type, load, false);
}

void raw_string_load(State* st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    uint32_t n = 0;
    while (start + n < end && start[n] == '%') ++n;
    const uint8_t* open = start + n;  // the "{"
    uint32_t m = 0;
    while (end - m > open && end[-1 - ptrdiff_t(m)] == '%') ++m;
    if (m > n) lexer_error(st, start, end, type_string);
    const uint8_t* close = end - m - 1;  // the "}" before the closing "%"s
    const uint8_t* after = end;
    if (m < n) {  // the real end lies further: the next "}" followed by n "%"
        const uint8_t* p = end;
        for (;; ++p) {
            if (p >= st->input_end) lexer_error(st, start, end, type_string);
            if (*p != '}') continue;
            uint32_t k = 0;
            while (k < n && p + 1 + k < st->input_end && p[1 + k] == '%') ++k;
            if (k == n) break;
        }
        for (const uint8_t* q = end; q < p + 1 + n; ++q) {
            flags |= byte_class[*q] & ~class_mask;
            st->line += *q == '\n';
        }
        close = p;
        after = p + 1 + n;
    }
    uint32_t open_at = uint32_t(open - st->input), close_at = uint32_t(close - st->input);
    uint32_t after_at = uint32_t(after - st->input);
    if (st->traced && !load) {
        lexer_event(st, event::open, type_string, nullptr, start, open + 1);
        lexer_event(st, event::close, type_string, nullptr, st->input + close_at, st->input + after_at);
    }
    st->pos = st->input + after_at;
    open = st->input + open_at;
    close = st->input + close_at;
    load_text(st, start, st->input + after_at, open + 1, close, flags & ~flag::caret, false, type_string,
              type_string, load, false);
}

// ---- Words ---------------------------------------------------------------------

void word_scan(State* st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool) {
    if (flags & (flag::lead_2_3 | flag::lead_4)) end = unicode_blank_cut(start, end);
    st->pos = end;
    int32_t error = 0;
    uint32_t type = word_type(st, start, end, flags, error);
    if (error) lexer_error(st, start, end, error);
    st->token_type = int32_t(type);
}

void word_load(State* st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    if (flags & (flag::lead_2_3 | flag::lead_4)) end = unicode_blank_cut(start, end);
    st->pos = end;
    uint32_t type;
    if (st->type_hint > 0) {
        type = uint32_t(st->type_hint);
    } else {
        int32_t error = 0;
        type = word_type(st, start, end, flags, error);
        if (error) lexer_error(st, start, end, error);
    }
    const uint8_t* text = start;
    const uint8_t* text_end = end;
    word_text(type, text, text_end);
    if (text >= text_end) lexer_error(st, start, end, int32_t(type));
    st->token_type = int32_t(type);
    if (load) make_word(new_cell(st), type, text, text_end);
}

void issue_scan(State* st, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
    st->pos = end;
    if (end - start < 2) lexer_error(st, start, end, type_issue);
    st->type_hint = type_issue;
}

void load_path_head(State* st, const uint8_t* start, const uint8_t* end, uint32_t flags) {
    int32_t hint = st->type_hint;
    st->type_hint = type_word;
    uint32_t start_at = uint32_t(start - st->input), end_at = uint32_t(end - st->input);
    if (st->traced && !lexer_event(st, event::scan, type_word, nullptr, start, end)) {
        st->type_hint = hint;
        return;
    }
    start = st->input + start_at;  // the text may have moved with its series
    end = st->input + end_at;
    uint32_t before = st->tail;
    const uint8_t* pos = st->pos;
    word_load(st, start, end, flags, st->load_mode);
    st->pos = pos;
    st->type_hint = hint;
    if (st->traced && st->tail > before) {
        Cell* c = out_cell(st->tail - 1);
        if (!lexer_event(st, event::load, int32_t(type_of(*c)), c, start, end)) st->tail = before;
    }
}

void refinement_load(State* st, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    st->pos = end;
    ptrdiff_t n = end - start;
    uint32_t type = type_refinement;
    const uint8_t* text = start + 1;
    if (n == 1 && *start == '/') {
        type = type_word, text = start;
    } else if (n == 2 && std::memcmp(start, "'/", 2) == 0) {
        type = type_lit_word;
    } else if (n == 2 && std::memcmp(start, ":/", 2) == 0) {
        type = type_get_word;
    } else if (n == 2 && std::memcmp(start, "/:", 2) == 0) {
        type = type_set_word, text = start, --end;
    } else if (*start != '/' || n < 2) {
        lexer_error(st, start, end, type_refinement);
    }
    st->token_type = int32_t(type);
    if (load) make_word(new_cell(st), type, text, end);
}

// ---- Numbers -------------------------------------------------------------------

void integer_load(State* st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    st->pos = end;
    IntegerValue v;
    check(st, start, end, scan_integer(start, end, flags, v));
    if (v.is_float) st->token_type = type_float;
    if (!load) return;
    if (v.is_float) make_float(new_cell(st), v.number);
    else make_integer(new_cell(st), v.integer);
}

void hex_integer_load(State* st, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    st->pos = end;
    int32_t value = 0;
    check(st, start, end, scan_hex_integer(start, end, value));
    if (load) make_integer(new_cell(st), value);
}

void float_load(State* st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    st->pos = end;
    double d = 0;
    check(st, start, end, scan_float(start, end, flags, d));
    if (load) make_float(new_cell(st), d);
}

void float_special_load(State* st, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    st->pos = end;
    double d = 0;
    check(st, start, end, scan_float_special(start, end, d));
    if (load) make_float(new_cell(st), d);
}

void percent_load(State* st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    st->pos = end + 1;
    double d = 0;
    check(st, start, end, scan_percent(start, end, flags, d));
    if (load) make_percent(new_cell(st), d);
}

void tuple_load(State* st, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    st->pos = end;
    uint8_t parts[tuple_max_parts];
    uint32_t count = 0;
    check(st, start, end, scan_tuple(start, end, parts, count));
    if (load) make_tuple(new_cell(st), parts, count);
}

void pair_load(State* st, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    st->pos = end;
    int32_t x = 0, y = 0;
    check(st, start, end, scan_pair(start, end, x, y));
    if (load) make_pair(new_cell(st), x, y);
}

void point_load(State* st, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    st->pos = end + 1;
    st->start_state = resume_state(st);
    PointValue p{};
    check(st, start, end, scan_point(start, end, p));
    st->token_type = p.count == 3 ? type_point3d : type_point2d;
    if (!load) return;
    st->token_lines = st->point_line;
    make_point(new_cell(st), p);
}

void time_load(State* st, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    st->pos = end;
    double seconds = 0;
    check(st, start, end, scan_time(start, end, seconds));
    if (load) make_time(new_cell(st), seconds);
}

void money_load(State* st, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    st->pos = end;
    MoneyParts m{};
    check(st, start, end, scan_money(start, end, m));
    if (!load) return;
    Cell* c = new_cell(st);
    if (!make_money(c, m.negative, m.currency, m.digits, m.point, m.end)) {
        --st->tail;
        lexer_error(st, start, end, type_money);  // an unknown currency
    }
}

void date_load(State* st, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    st->pos = end;
    DateValue d{};
    check(st, start, end, scan_date(start, end, d));
    if (load) make_date(new_cell(st), d);
}

// ---- Characters, binaries and the string types ------------------------------------

void char_load(State* st, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    st->pos = end + 1;
    uint32_t cp = 0;
    check(st, start, end, scan_char(start, end, cp));
    if (load) make_char(new_cell(st), cp);
}

void binary_load(State* st, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    st->pos = end + 1;
    uint32_t base = binary_base(start, end);
    const uint8_t* brace = static_cast<const uint8_t*>(std::memchr(start, '{', size_t(end - start)));
    if (base == 0 || !brace || binary_decode(base, brace + 1, end, nullptr) < 0)
        lexer_error(st, start, end, type_binary);
    if (load) make_binary(new_cell(st), base, brace + 1, end);
}

void file_load(State* st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    if (end - start >= 2 && start[1] == '"') {  // %"name with blanks"
        st->pos = end + 1;
        if (end >= st->input_end || *end != '"') lexer_error(st, start, end, type_file);
        load_text(st, start, end, start + 2, end, flags, flags & flag::caret, type_file, type_file, load, false);
        return;
    }
    st->pos = end;
    load_text(st, start, end, start + 1, end, flags, false, type_file, type_file, load, true);
}

void url_load(State* st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    st->pos = end;
    if (*start == ':') lexer_error(st, start, end, type_get_word);
    if (*start == '\'') lexer_error(st, start, end, type_lit_word);
    load_text(st, start, end, start, end, flags, false, type_url, type_url, load, true);
}

void email_load(State* st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    st->pos = end;
    load_text(st, start, end, start, end, flags, false, type_email, type_email, load, false);
}

void ref_load(State* st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    st->pos = end;
    load_text(st, start, end, start + 1, end, flags, false, type_ref, type_ref, load, false);
}

void tag_load(State* st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    st->pos = end + 1;
    if (*start != '<') lexer_error(st, start, end, type_tag);
    load_text(st, start, end, start + 1, end, flags, false, type_tag, type_tag, load, false);
}

// ---- Value makers ------------------------------------------------------------------

namespace {

// The new-line mark that new_cell put on a cell survives the maker's write.
class NewLineMark {
public:
    explicit NewLineMark(Cell* cell) : cell_(cell), mark_(cell->header & header::new_line) {}
    ~NewLineMark() { cell_->header |= mark_; }
    NewLineMark(const NewLineMark&) = delete;
    NewLineMark& operator=(const NewLineMark&) = delete;

private:
    Cell* cell_;
    uint32_t mark_;
};

// Code points of UTF-8 text, an ill-formed sequence read as U+FFFD (the text
// near a syntax error may hold the very bytes that were wrong).
std::u32string lenient_code_points(const uint8_t* p, const uint8_t* end) {
    std::u32string out;
    while (p < end) {
        int32_t cp;
        p = unicode::utf8_decode_step(p, end, cp);
        out.push_back(cp < 0 ? char32_t(unicode::replacement_char) : char32_t(cp));
    }
    return out;
}

void make_string_of(Cell* cell, const std::u32string& text) {
    uint32_t width = 1;
    for (char32_t c : text) width = std::max(width, uint32_t(unicode::unit_width_of(uint32_t(c))));
    std::vector<uint8_t> units(text.size() * width + 1);
    for (size_t i = 0; i < text.size(); ++i) unicode::store_unit(units.data(), i, width, uint32_t(text[i]));
    string_t::make_from_units_at(*cell, units.data(), uint32_t(text.size()), width);
}

}  // namespace

void make_integer(Cell* cell, int32_t value) {
    NewLineMark mark(cell);
    integer_t::make_at(cell, value);
}

void make_float(Cell* cell, double value) {
    NewLineMark mark(cell);
    float_t::make_at(cell, value);
}

void make_time(Cell* cell, double seconds) {
    NewLineMark mark(cell);
    time_t::make_at(cell, seconds);
}

void make_word(Cell* cell, uint32_t type, const uint8_t* start, const uint8_t* end) {
    NewLineMark mark(cell);
    if (type == type_issue) {
        std::string text(reinterpret_cast<const char*>(start), size_t(end - start));
        issue_t::make_at(cell, text.c_str());
        return;
    }
    word_t::make_at(symbol_t::intern_text(start, uint32_t(end - start)), cell);
    set_type(*cell, type);
}

void make_text(Cell* cell, uint32_t type, const uint8_t* start, const uint8_t* end, const TextShape& shape,
               bool escapes, bool percent_decode) {
    NewLineMark mark(cell);
    std::vector<uint8_t> units(size_t(shape.count) * shape.unit + 4);
    decode_text(start, end, escapes, shape, units.data());
    Cell text{};
    string_t::make_from_units_at(text, units.data(), shape.count, shape.unit);
    if (percent_decode && std::memchr(start, '%', size_t(end - start))) {
        Cell decoded{};
        string_t::make_at(decoded, shape.count);
        url_t::percent_decode(text, decoded);
        text = decoded;
    }
    set_type(text, type);
    *cell = text;
}

bool make_money(Cell* cell, bool negative, const uint8_t* currency, const uint8_t* digits, const uint8_t* point,
                const uint8_t* end) {
    NewLineMark mark(cell);
    return money_t::from_text_parts(cell, negative, currency, digits, point, end) != nullptr;
}

// The text between the braces was checked by binary_load.
void make_binary(Cell* cell, uint32_t base, const uint8_t* start, const uint8_t* end) {
    NewLineMark mark(cell);
    Cell bin;
    binary_t::make_at(bin, binary_capacity(base, start, end));
    memory::SeriesBuffer* b = memory::buffer_of(bin.w2);
    b->tail = b->head + uint32_t(binary_decode(base, start, end, b->head_ptr()));
    *cell = bin;
}

void make_char(Cell* cell, uint32_t cp) {
    NewLineMark mark(cell);
    *cell = char_t::make_cell(cp);
}

void make_construction(Cell* cell, const Construction& c) {
    NewLineMark mark(cell);
    switch (c.kind) {
        case Construction::logic_true: logic_t::make_at(cell, true); break;
        case Construction::logic_false: logic_t::make_at(cell, false); break;
        case Construction::none: none_t::make_at(cell); break;
        case Construction::unset: unset_t::make_at(cell); break;
        case Construction::datatype: datatype_t::make_at(cell, c.type); break;
    }
}

void make_none(Cell* cell) { none_t::make_at(cell); }

void make_percent(Cell* cell, double fraction) {
    NewLineMark mark(cell);
    percent_t::make_at(cell, fraction);
}

void make_pair(Cell* cell, int32_t x, int32_t y) {
    NewLineMark mark(cell);
    pair_t::make_at(cell, x, y);
}

void make_tuple(Cell* cell, const uint8_t* bytes, uint32_t count) {
    NewLineMark mark(cell);
    *cell = tuple_t::cell_of(bytes, count);
}

void make_point(Cell* cell, const PointValue& point) {
    NewLineMark mark(cell);
    if (point.count == 3) *cell = point3d_t::cell_of(point.v[0], point.v[1], point.v[2]);
    else *cell = point2d_t::cell_of(point.v[0], point.v[1]);
}

// The modules of these datatypes are not built yet: each maker is the one
// place that changes when its module arrives.

void make_date(Cell* cell, const DateValue& d) {
    NewLineMark mark(cell);
    date_t::from_parts(cell, d.year, d.month, d.day, d.time, d.zone_hours, d.zone_minutes, d.has_time);
}

bool map_key_type(uint32_t type) { return map_t::key_type_q(type); }

void make_map(Cell* cell, const Cell* cells, uint32_t count) {
    Cell block{};
    make_block(&block, cells, count, type_block);
    map_t::make_at(cell, &block, int32_t(count));
}

void make_block(Cell* cell, const Cell* cells, uint32_t count, uint32_t type) {
    Cell block{};
    block_t::make_at(block, int32_t(count));
    if (count) std::memcpy(block_t::cell_at(block, 0), cells, size_t(count) * sizeof(Cell));
    block_t::set_tail(block, count);
    set_type(block, type);
    *cell = block;
}

void append_to_block(const Cell& block, const Cell* cells, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) block_t::append_value(block, cells[i]);
}

const char* registered_type_name(uint32_t type) { return registry::type_name(type).name; }
uint32_t highest_registered_type() { return registry::highest_type(); }

// Arguments: the line as "(line N)", then the datatype or the expected
// delimiter where the message has one, then the text near the fault.
[[noreturn]] void raise_syntax_error(const SyntaxError& e) {
    Cell line{}, near{}, middle{};
    std::string line_text = "(line " + std::to_string(e.line) + ")";
    make_string_of(&line, std::u32string(line_text.begin(), line_text.end()));
    const auto* n = reinterpret_cast<const uint8_t*>(e.near.data());
    make_string_of(&near, lenient_code_points(n, n + e.near.size()));
    if (e.id == syntax_id::invalid) {
        datatype_t::make_at(&middle, uint32_t(e.type));
    } else if (e.id == syntax_id::missing) {
        make_char(&middle, e.expected);
    } else {
        raise_error(err_cat::syntax, e.id, &line, &near);
    }
    raise_error(err_cat::syntax, e.id, &line, &middle, &near);
}

[[noreturn]] void raise_no_memory() { raise_error(err_cat::internal, err_id::internal::no_memory); }

uint32_t event_mask_of_body(const Cell& body) {
    Cell b = body;
    if (block_t::length_at(b) == 0 || type_of(*block_t::cell_at_index(b)) != type_block) return event::all;
    static constexpr struct {
        const char* word;
        uint32_t bit;
    } events[] = {{"prescan", event::prescan}, {"scan", event::scan}, {"load", event::load},
                  {"open", event::open},       {"close", event::close}, {"error", event::error}};
    Cell filter = *block_t::cell_at_index(b);
    uint32_t mask = 0;
    for (int32_t i = 0, n = block_t::length_at(filter); i < n; ++i) {
        const Cell& c = *block_t::cell_at(filter, filter.w1 + uint32_t(i));
        if (type_of(c) != type_word) continue;
        int32_t canonical = symbol_t::resolve_alias(int32_t(c.w2));
        for (const auto& e : events)
            if (symbol_t::resolve_alias(symbol_t::make(e.word)) == canonical) mask |= e.bit;
    }
    return mask;
}

}  // namespace vyr::lexer
