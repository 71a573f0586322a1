// The lexer's scanning loop, its records and output buffer, containers,
// errors, trace events, and the scanners of the structural tokens (see
// lexer.h for the design and its invariants).
#include "engine/lexer.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "engine/lexer_internal.h"
#include "engine/lexer_load.h"
#include "engine/lexer_scan.h"
#include "runtime/catch_codes.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/unicode.h"

namespace vyr::lexer {

namespace {

constexpr uint32_t initial_output_cells = 1000;
constexpr uint32_t scratch_bytes = 100000;
constexpr uint32_t near_text_bytes = 30;

Cell* output = nullptr;
uint32_t output_capacity = 0;
uint8_t* scratch = nullptr;
uint32_t scratch_used = 0;
State* chain = nullptr;  // the first record; each record's `next` is the scan nested in it

void ensure_buffers() {
    if (!output) {
        output = static_cast<Cell*>(platform::allocate(initial_output_cells * sizeof(Cell)));
        output_capacity = initial_output_cells;
    }
    if (!scratch) scratch = static_cast<uint8_t*>(platform::allocate(scratch_bytes));
}

// The collector hook: the cells built so far by every active scan, and the
// source and callback each scan holds.
void mark_states() {
    for (State* s = chain; s; s = s->next) {
        collector::mark_cells(output + s->head, output + s->tail);
        collector::mark_cells(&s->source, &s->source + 1);
        collector::mark_cells(&s->callback, &s->callback + 1);
    }
}

// Puts a record at the end of the chain for the lifetime of a scan.
class ChainLink {
public:
    explicit ChainLink(State* st) : st_(st) {
        State* last = chain;
        while (last && last->next) last = last->next;
        st->parent = last;
        if (last) last->next = st;
        else chain = st;
    }
    ~ChainLink() {
        if (st_->parent) st_->parent->next = nullptr;
        else chain = nullptr;
    }
    ChainLink(const ChainLink&) = delete;
    ChainLink& operator=(const ChainLink&) = delete;

private:
    State* st_;
};

bool is_block_kind(uint32_t kind) { return kind == type_block || kind == type_paren || kind == type_map; }
bool is_path_kind(uint32_t kind) { return kind >= type_path && kind <= type_get_path; }

// The marker of the innermost open container, or null at the top of the scan.
Cell* innermost_marker(State* st) { return st->container > st->head ? &output[st->container - 1] : nullptr; }

// Calls a routine under a catch of the quiet stop; false when it stopped.
bool guarded(Routine r, State* st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    try {
        r(st, start, end, flags, load);
        return true;
    } catch (const Unwind& u) {
        if (u.code != catch_code::lexer_abort) throw;
        return false;
    }
}

// ---- Containers ----------------------------------------------------------------

void open_container(State* st, uint32_t kind, const uint8_t* start, const uint8_t* end) {
    Cell* m = innermost_marker(st);
    if (m && marker_kind(*m) == type_point2d) lexer_error(st, start, end, type_point2d);
    uint32_t offset = uint32_t(start - st->input);
    if (st->traced && !lexer_event(st, event::open, int32_t(kind), nullptr, start, end)) return;
    uint32_t back = st->tail - st->container;
    Cell* c = new_cell(st);
    *c = Cell{marker_type | (c->header & header::new_line), back, kind, offset};
    st->container = st->tail;
    st->start_state = start_normal;
}

// Closes the innermost container with `kind` (-1: whatever is open). Answers
// false when the close event's callback refused the close.
bool close_container(State* st, const uint8_t* start, const uint8_t* end, int32_t kind, bool quiet) {
    Cell* m = innermost_marker(st);
    uint32_t mkind = m ? marker_kind(*m) : 0;
    if (st->traced && !quiet) {
        int32_t reported = (!m || (mkind == type_paren && kind == type_block)) ? kind : int32_t(mkind);
        const uint8_t* at = m ? st->input + m->w3 : start;
        uint32_t start_at = uint32_t(start - st->input), end_at = uint32_t(end - st->input);
        if (!lexer_event(st, event::close, reported, nullptr, at, end)) {
            st->start_state = start_normal;
            return false;
        }
        start = st->input + start_at;  // the text may have moved with its series
        end = st->input + end_at;
        m = innermost_marker(st);
        mkind = m ? marker_kind(*m) : 0;
    }
    if (!m) {  // a stray closer
        st->error_container_kind = kind;
        lexer_error(st, start, end, code_missing);
    }
    bool accepted = kind < 0 || uint32_t(kind) == mkind || (mkind == type_map && kind == type_block) ||
                    ((mkind == type_lit_path || mkind == type_get_path || mkind == type_path) && kind == type_set_path);
    if (!accepted) {
        st->error_container_kind = int32_t(mkind);
        lexer_error(st, start, end, code_missing);
    }
    uint32_t final_kind = (mkind == type_path && kind == type_set_path) ? type_set_path : mkind;
    uint32_t at = st->container - 1;
    uint32_t count = st->tail - st->container;
    const uint8_t* opened = st->input + m->w3;
    if (final_kind == type_map && st->load_mode) {
        if (count % 2) lexer_error(st, opened, end, type_map);
        for (uint32_t i = 0; i < count; i += 2)
            if (!map_key_type(type_of(output[st->container + i]))) lexer_error(st, opened, end, type_map);
    }
    Cell marker = output[at];
    Cell value;
    if (final_kind == type_map && st->load_mode) make_map(&value, output + st->container, count);
    else make_block(&value, output + st->container, count, final_kind == type_map ? type_block : final_kind);
    value.header |= marker.header & header::new_line;
    output[at] = value;
    st->container = at - marker.w1;
    st->tail = at + 1;
    st->token_type = int32_t(final_kind);
    st->start_state = resume_state(st);
    return true;
}

// ---- Errors ------------------------------------------------------------------

// Up to 30 bytes of the text from `start`, to its line end, never past the
// end of the input; a character cut by the limit is kept whole.
std::string near_text(const uint8_t* start, const uint8_t* end) {
    const uint8_t* p = start;
    while (p < end && *p != '\n' && uint32_t(p - start) < near_text_bytes) ++p;
    while (p < end && (*p & 0xC0) == 0x80 && *p != '\n') ++p;
    return std::string(reinterpret_cast<const char*>(start), size_t(p - start));
}

SyntaxError describe_error(State* st, const uint8_t* start, int32_t code) {
    SyntaxError e;
    e.line = st->line;
    e.near = near_text(start, st->input_end);
    if (is_path_kind(uint32_t(st->error_container_kind))) code = code_bad_char;
    switch (code) {
        case code_bad_char: e.id = syntax_id::bad_char; break;
        case code_malconstruct: e.id = syntax_id::malconstruct; break;
        case code_missing:
        case code_missing_at_end: {
            e.id = syntax_id::missing;
            uint8_t current = st->pos < st->input_end ? *st->pos : st->input_end > st->input ? st->input_end[-1] : 0;
            if (code == code_missing_at_end) current = '_';
            uint32_t kind = uint32_t(st->error_container_kind);
            if (kind == type_block || kind == type_map) e.expected = current == ']' ? '[' : ']';
            else if (kind == type_paren || kind == type_point2d) e.expected = current == ')' ? '(' : ')';
            break;
        }
        default:
            e.id = syntax_id::invalid;
            e.type = code;
            break;
    }
    return e;
}

SyntaxError last_syntax_error;

// ---- Structural scanners -----------------------------------------------------------

void end_scan(State* st, const uint8_t*, const uint8_t*, uint32_t, bool) { st->pos = st->input_end; }

void error_scan(State* st, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
    uint32_t type = state_type[st->previous_state];
    if (st->brace_depth > 0 && st->brace_start) start = st->brace_start;
    if (type == 0) lexer_error(st, start, end, code_bad_char);
    if (is_block_kind(type) || is_path_kind(type)) lexer_error(st, nullptr, end, int32_t(type));
    lexer_error(st, start, end, int32_t(type));
}

void open_scan(State* st, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
    st->pos = end + 1;
    if (*end == '(' && point_literal_ahead(end + 1, st->input_end)) {
        st->point_line = st->token_lines;
        st->token_type = 0;
        st->start_state = start_point;
        return;
    }
    open_container(st, *end == '(' ? type_paren : type_block, start, end);
}

// The closer stays the current byte while it is checked: a missing
// delimiter is named from it.
void block_close_scan(State* st, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
    uint32_t after = uint32_t(end - st->input) + 1;
    close_container(st, start, end, type_block, false);
    st->pos = st->input + after;
}

void paren_close_scan(State* st, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
    uint32_t after = uint32_t(end - st->input) + 1;
    close_container(st, start, end, type_paren, false);
    st->pos = st->input + after;
}

void map_open_scan(State* st, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
    st->pos = end + 1;
    open_container(st, type_map, start, end);
}

void brace_open_scan(State* st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool) {
    st->pos = end + 1;
    if (st->brace_depth == 0) {
        uint32_t start_at = uint32_t(start - st->input);
        if (st->traced) lexer_event(st, event::open, type_string, nullptr, start, end);
        st->brace_start = st->input + start_at;
        if (st->token_lines > 0) flags |= flag::multiline;
    }
    ++st->brace_depth;
    st->brace_flags |= flags;
    st->start_state = start_brace_string;
}

void brace_close_scan(State* st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    st->pos = end + 1;
    st->brace_flags |= flags;
    if (st->brace_depth > 1) {
        --st->brace_depth;
        if (end + 1 >= st->input_end) lexer_error(st, st->brace_start, end, type_string);  // unclosed
        return;
    }
    st->brace_depth = 0;
    const uint8_t* open = st->brace_start;
    uint32_t all = st->brace_flags;
    st->brace_start = nullptr;
    st->brace_flags = 0;
    st->start_state = start_normal;
    uint32_t open_at = uint32_t(open - st->input), close_at = uint32_t(end - st->input);
    if (st->traced) lexer_event(st, event::close, type_string, nullptr, open, end + 1);
    open = st->input + open_at;
    end = st->input + close_at;
    if (!load) {
        string_scan(st, open, end, all, false);
        if (st->traced) lexer_event(st, event::scan, type_string, nullptr, open, end + 1);
        return;
    }
    if (st->traced && !lexer_event(st, event::scan, type_string, nullptr, open, end + 1)) return;
    open = st->input + open_at;
    end = st->input + close_at;
    uint32_t before = st->tail;
    string_load(st, open, end, all, true);
    if (st->traced && st->tail > before) {
        Cell* c = &output[st->tail - 1];
        if (!lexer_event(st, event::load, int32_t(type_of(*c)), c, st->input + open_at, st->input + close_at + 1))
            st->tail = before;
    }
}

void path_open_scan(State* st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    uint32_t kind = *start == '\'' ? type_lit_path : *start == ':' ? type_get_path : type_path;
    uint32_t before = st->container;
    uint32_t start_at = uint32_t(start - st->input), end_at = uint32_t(end - st->input);
    open_container(st, kind, start, end);
    start = st->input + start_at;
    end = st->input + end_at;
    if (st->container == before) {  // the open event refused the path: the word stands alone
        st->pos = st->input + end_at;
        st->token_type = type_word;
        load_path_head(st, start, end, flags);
        return;
    }
    const uint8_t* head = kind == type_path ? start : start + 1;
    load_path_head(st, head, end, flags & ~flag::colon);
    st->pos = st->input + end_at + 1;
    st->type_hint = type_word;
    st->start_state = start_path;
}

void construct_scan(State* st, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    st->pos = end + 1;
    Construction c{};
    if (scan_construction(start + 2, end, registered_type_name, highest_registered_type(), c) != code_ok)
        lexer_error(st, start, end, code_malconstruct);
    switch (c.kind) {
        case Construction::logic_true:
        case Construction::logic_false: st->token_type = type_logic; break;
        case Construction::none: st->token_type = type_none; break;
        case Construction::unset: st->token_type = type_unset; break;
        case Construction::datatype: st->token_type = type_datatype; break;
    }
    if (load) make_construction(new_cell(st), c);
}

void comment_scan(State* st, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
    st->pos = end;
    if (st->traced) lexer_event(st, event::scan, -int32_t(kind_comment), nullptr, start, end);
}

void comma_scan(State* st, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
    st->pos = end + 1;
    Cell* m = innermost_marker(st);
    uint32_t kind = m ? marker_kind(*m) : 0;
    if (kind == type_paren) {
        m->w2 = type_point2d | (1u << marker_comma_shift);
    } else if (kind == type_point2d) {
        m->w2 += 1u << marker_comma_shift;
    } else {
        lexer_error(st, start, end, type_point2d);
    }
}

// After a segment of a path: the path goes on at a "/", ends at a byte that
// ends paths (a ":" there makes it a set-path), and any other byte is an error.
void path_continue(State* st) {
    const uint8_t* p = st->pos;
    const uint8_t* end = st->input_end;
    if (p >= end || path_end[byte_class[*p] & class_mask]) {
        int32_t kind = -1;
        if (p < end && *p == ':') {
            if (p + 1 < end && p[1] == '/') lexer_error(st, nullptr, p + 1, type_path);
            kind = type_set_path;
            st->pos = p + 1;
        }
        close_container(st, p, st->pos, kind, false);
        return;
    }
    // A byte such as "}", "\" or a control byte after a segment must not be
    // taken for the "/" that continues the path.
    if (*p != '/' || p + 1 >= end) lexer_error(st, nullptr, p + 1, type_path);
    st->pos = p + 1;
}

// ---- The scanning loop ---------------------------------------------------------

// Moves past a token that is neither checked nor loaded (prescan mode, or a
// callback that refused it): past its closing byte where the token's last
// byte belongs to it, and always at least one byte on.
void skip_token(State* st, uint32_t state, const uint8_t* start) {
    const uint8_t* end = st->token_end;
    switch (kind_of_state(state)) {
        case kind_end: st->pos = st->input_end; return;
        case kind_block_open: case kind_block_close: case kind_paren_open: case kind_paren_close:
        case kind_brace_open: case kind_brace_close: case kind_map_open: case kind_construct: case kind_comma:
        case kind_string: case kind_char: case kind_binary: case kind_percent: case kind_tag:
            st->pos = end + 1;
            break;
        case kind_point:
            st->pos = end + 1;
            st->start_state = resume_state(st);
            break;
        case kind_file:
            st->pos = end - start >= 2 && start[1] == '"' ? end + 1 : end;
            break;
        default: st->pos = end; break;
    }
    if (st->pos <= start) st->pos = start + 1;
    if (st->pos > st->input_end) st->pos = st->input_end;
}

// The scanner of a structural token, in the mode of the scan. False when the
// loop is to end: a quiet stop that no callback asked to get over.
bool structural_token(State* st, Routine scanner, const uint8_t* start, uint32_t flags, bool load) {
    if (guarded(scanner, st, start, st->token_end, flags, st->load_mode)) return true;
    if (!load || !st->stopped_by_callback) return false;
    // The callback dropped the error: go on after the bad byte at least.
    if (st->pos <= start && start < st->input_end) st->pos = start + 1;
    return true;
}

// A value token: checked (unless nothing asks for the check before the
// load), then loaded when `load` is set and the callback lets it. False
// when the loop is to end.
bool value_token(State* st, const Routines& r, uint32_t start_at, uint32_t flags, bool load) {
    const uint8_t* start = st->input + start_at;
    bool scan_event = st->traced && (st->tracer.mask & event::scan);
    if (!st->load_mode || r.scanner || scan_event) {
        bool checked = guarded(r.scanner ? r.scanner : r.loader, st, start, st->token_end, flags, false);
        if (!checked && !st->stopped_by_callback) return false;
        if (st->traced) {
            load = load && checked && lexer_event(st, event::scan, st->token_type, nullptr, start, st->token_end);
            start = st->input + start_at;
        }
    }
    if (!load || !r.loader) return true;
    uint32_t before = st->tail;
    r.loader(st, start, st->token_end, flags, true);
    if (st->traced && st->tail > before) {
        Cell* c = &output[st->tail - 1];
        if (!lexer_event(st, event::load, int32_t(type_of(*c)), c, st->input + start_at, st->token_end))
            st->tail = before;
    }
    return true;
}

// In one-value and prescan modes: whether the output holds exactly one
// complete value at the top of the scan.
bool one_value_done(State* st, uint32_t state) {
    if (st->token_type <= 0 || st->start_state == start_path || st->start_state == start_brace_string ||
        state == final_state(kind_path))
        return false;
    return st->tail == st->head || (st->tail == st->head + 1 && !is_marker(output[st->head]));
}

void lexer_loop(State* st, bool one, bool prescan) {
    for (;;) {
        uint32_t start_state = st->start_state;
        Token tok = next_token(st->pos, st->input_end, start_state);
        st->line += tok.lines;
        st->pos = st->token_end = tok.end;
        // A value is marked as starting a new line by the line feeds before
        // it, not by those inside it (a multi-line string, a binary).
        st->token_lines = tok.lines_before;
        st->previous_state = tok.previous;
        st->type_hint = -1;
        st->error_container_kind = 0;
        st->stopped_by_callback = false;
        uint32_t state = tok.state;
        uint32_t kind = kind_of_state(state);
        const uint8_t* start = tok.start;
        st->token_type = state_type[state];
        bool scanned = false;
        if (prescan && state <= first_value_state) {  // structure is followed even in prescan mode
            if (!guarded(routines[kind].scanner, st, start, st->pos, tok.flags, false)) return;
            scanned = true;
        }
        if (state == final_state(kind_word) && (tok.flags & (flag::lead_2_3 | flag::lead_4))) {
            start = unicode_blank_skip(start, st->token_end);
            if (start == st->token_end) {  // only Unicode blanks
                if (st->pos < st->input_end) continue;
                state = final_state(kind_end);
                kind = kind_end;
                st->token_type = 0;
            }
        }
        // After a callback the text may have moved with its series: the
        // token start is taken again from its offset.
        uint32_t start_at = uint32_t(start - st->input);
        bool proceed = !prescan;
        if (st->traced) {
            int32_t type = st->token_type ? st->token_type : -int32_t(kind);
            proceed = start_state == start_brace_string ||
                      lexer_event(st, event::prescan, type, nullptr, start, st->token_end);
            start = st->input + start_at;
        }
        if (!proceed && !scanned) skip_token(st, state, start);
        if (proceed) {
            bool load = !(one && !st->load_mode);
            if (state < first_value_state) {
                if (!scanned && !structural_token(st, routines[kind].scanner, start, tok.flags, load)) return;
            } else if (!value_token(st, routines[kind], start_at, tok.flags, load)) {
                return;
            }
        }
        if (st->start_state == start_path && state != final_state(kind_path) && state != final_state(kind_invalid))
            path_continue(st);
        if ((one || prescan) && one_value_done(st, state)) return;
        st->last_token_type = st->token_type;
        // The end of the input is a token of its own (callbacks see it); an
        // invalid token that reached the end ends the scan as well.
        if (state == final_state(kind_end) || (state == final_state(kind_invalid) && st->pos >= st->input_end))
            return;
    }
}

// The shape of the result once the loop has ended without an error.
void deliver(State* st, Cell* result, const Request& rq) {
    uint32_t count = st->tail - st->head;
    const Cell* cells = output + st->head;
    if (rq.one && !rq.force_block && count >= 1) {
        if (rq.into) append_to_block(*rq.into, cells, 1);
        else if (result) *result = cells[0];
        return;
    }
    if (rq.into) {
        append_to_block(*rq.into, cells, count);
    } else if (result) {
        Cell block;
        make_block(&block, cells, count, type_block);
        *result = block;
    }
}

bool is_string_source(const Cell& source) {
    switch (type_of(source)) {
        case type_string: case type_file: case type_url: case type_tag: case type_email: case type_ref: return true;
        default: return false;
    }
}

// Gives the scratch text buffer's room back when a scan of a string ends.
class ScratchUse {
public:
    explicit ScratchUse(size_t need) : saved_(scratch_used) {
        if (scratch_bytes - scratch_used >= need) {
            text_ = scratch + scratch_used;
            scratch_used += uint32_t(need);
        } else {
            own_ = static_cast<uint8_t*>(platform::allocate(need));
            text_ = own_;
        }
    }
    ~ScratchUse() {
        scratch_used = saved_;
        if (own_) platform::release(own_);
    }
    ScratchUse(const ScratchUse&) = delete;
    ScratchUse& operator=(const ScratchUse&) = delete;
    uint8_t* text() const { return text_; }

private:
    uint32_t saved_;
    uint8_t* text_ = nullptr;
    uint8_t* own_ = nullptr;
};

}  // namespace

// ---- Shared with the loaders ----------------------------------------------------

const Routines routines[kind_count + 1] = {
    {nullptr, nullptr},
    {end_scan, nullptr},                    // 1 end of input
    {error_scan, nullptr},                  // 2 invalid token
    {open_scan, nullptr},                   // 3 [
    {block_close_scan, nullptr},            // 4 ]
    {open_scan, nullptr},                   // 5 (
    {paren_close_scan, nullptr},            // 6 )
    {brace_open_scan, nullptr},             // 7 {
    {brace_close_scan, nullptr},            // 8 }
    {map_open_scan, nullptr},               // 9 #[
    {path_open_scan, nullptr},              // 10 word/
    {construct_scan, nullptr},              // 11 #(...)
    {comment_scan, nullptr},                // 12 ;
    {comma_scan, nullptr},                  // 13 ,
    {string_scan, string_load},             // 14 "..."
    {word_scan, word_load},                 // 15 word
    {issue_scan, word_load},                // 16 #issue
    {nullptr, integer_load},                // 17
    {nullptr, refinement_load},             // 18
    {nullptr, char_load},                   // 19
    {nullptr, file_load},                   // 20
    {nullptr, binary_load},                 // 21
    {nullptr, percent_load},                // 22
    {nullptr, float_load},                  // 23
    {nullptr, float_special_load},          // 24
    {nullptr, tuple_load},                  // 25
    {nullptr, date_load},                   // 26
    {nullptr, pair_load},                   // 27
    {nullptr, point_load},                  // 28
    {nullptr, time_load},                   // 29
    {nullptr, money_load},                  // 30
    {nullptr, tag_load},                    // 31
    {nullptr, url_load},                    // 32
    {nullptr, email_load},                  // 33
    {nullptr, hex_integer_load},            // 34
    {nullptr, raw_string_load},             // 35
    {nullptr, ref_load},                    // 36
};

Cell* out_cell(uint32_t index) { return &output[index]; }

uint32_t resume_state(State* st) {
    Cell* m = innermost_marker(st);
    return m && !is_block_kind(marker_kind(*m)) ? start_path : start_normal;
}

Cell* new_cell(State* st) {
    if (st->tail >= output_capacity) {
        void* grown = platform::reallocate(output, size_t(output_capacity) * 2 * sizeof(Cell));
        if (!grown) raise_no_memory();
        output = static_cast<Cell*>(grown);
        output_capacity *= 2;
    }
    Cell* c = &output[st->tail++];
    *c = Cell{type_unset | (st->token_lines > 0 ? header::new_line : 0u), 0, 0, 0};
    return c;
}

void stop() { throw_code(catch_code::lexer_abort); }

void lexer_error(State* st, const uint8_t* start, const uint8_t* end, int32_t code) {
    if (!st->load_mode) {
        st->token_type = type_error;
        stop();
    }
    if (!start) {
        Cell* m = innermost_marker(st);
        start = m ? st->input + m->w3 : st->input;
    }
    if (st->traced) {
        int32_t type = code > 0                        ? code
                       : st->error_container_kind > 0 ? st->error_container_kind
                       : st->token_type > 0           ? st->token_type
                       : st->type_hint > 0            ? st->type_hint
                                                      : int32_t(type_error);
        Cell* m = innermost_marker(st);
        if (st->start_state == start_path && m && is_path_kind(marker_kind(*m))) {
            uint32_t start_at = uint32_t(start - st->input), end_at = uint32_t(end - st->input);
            close_container(st, start, end, -1, true);
            start = st->input + start_at;
            end = st->input + end_at;
        }
        last_syntax_error = describe_error(st, start, code);
        if (!lexer_event(st, event::error, type, nullptr, start, end)) {
            st->stopped_by_callback = true;
            stop();
        }
    } else {
        last_syntax_error = describe_error(st, start, code);
    }
    // The cells of the scan are dropped by lexer_scan as the error passes.
    raise_syntax_error(last_syntax_error);
}

bool lexer_event(State* st, uint32_t ev, int32_t type, const Cell* value, const uint8_t* start,
                 const uint8_t* end) {
    if (!st->traced || !(st->tracer.mask & ev)) return true;
    if (ev == event::scan) {
        if (type == -int32_t(kind_invalid)) {
            ev = event::error;
            type = type_error;
        }
        if (type == type_point2d || type == type_point3d) --start;
    } else if (ev == event::prescan) {
        if (start < st->input_end && *start == '(' && point_literal_ahead(start + 1, st->input_end)) return true;
        if (type == type_error && st->brace_depth > 0 && st->brace_start) start = st->brace_start;
        if (type == type_point2d) {
            --start;
            ++end;
        }
    }
    start = std::clamp(start, st->input, st->input_end);
    end = std::clamp(end, start, st->input_end);
    bool at_start = ev == event::open || (ev == event::prescan && type <= 0);
    TraceEvent te{ev,
                  type,
                  value,
                  uint32_t(start - st->input),
                  uint32_t(end - st->input),
                  st->line,
                  uint32_t((at_start ? start : end) - st->input)};
    uint32_t position = te.position;
    const uint8_t* input = st->input;
    bool go = st->tracer.fn(st->tracer.context, te, position);
    if (st->input != input) {  // the text moved with its series
        ptrdiff_t delta = st->input - input;
        st->input_end += delta;
        st->pos += delta;
        st->token_end += delta;
        if (st->brace_start) st->brace_start += delta;
    }
    if (position != te.position) st->pos = st->input + std::min<size_t>(position, size_t(st->input_end - st->input));
    return go;
}

// ---- Entry points ------------------------------------------------------------------

int32_t lexer_scan(Cell* result, const Request& rq, uint32_t* consumed) {
    ensure_buffers();
    State st;
    ChainLink link(&st);
    st.head = st.container = st.tail = st.parent ? st.parent->tail : 0;
    st.input = st.pos = st.token_end = rq.text;
    st.input_end = rq.text + rq.length;
    st.source = rq.source ? *rq.source : Cell{type_unset, 0, 0, 0};
    st.callback = Cell{type_unset, 0, 0, 0};
    st.load_mode = rq.mode == Mode::load;
    collector::AddressRoot input_root(st.input);
    if (rq.callback) {
        st.callback = *rq.callback;
        st.tracer = callback_tracer(&st, *rq.callback);
        st.traced = true;
    } else if (rq.tracer && rq.tracer->fn) {
        st.tracer = *rq.tracer;
        st.traced = true;
    }

    std::exception_ptr pending;
    try {
        lexer_loop(&st, rq.one, rq.mode == Mode::prescan);
    } catch (const Unwind& u) {
        if (u.code != catch_code::lexer_abort) pending = std::current_exception();
    } catch (...) {
        pending = std::current_exception();
    }
    int32_t type = st.token_type;
    if (!pending) {
        try {
            if (Cell* m = innermost_marker(&st)) {  // a container is still open
                if (rq.mode == Mode::prescan && st.start_state == start_path && st.token_type != type_error) {
                    type = int32_t(marker_kind(*m));
                } else {
                    st.error_container_kind = int32_t(marker_kind(*m));
                    lexer_error(&st, st.input + m->w3, st.input_end, code_missing_at_end);
                }
            }
            if (rq.mode != Mode::scan) deliver(&st, result, rq);
        } catch (const Unwind& u) {
            if (u.code != catch_code::lexer_abort) {
                pending = std::current_exception();
            } else {  // the missing delimiter was reported quietly
                type = st.token_type;
                if (result && !rq.into) make_none(result);
            }
        } catch (...) {
            pending = std::current_exception();
        }
    }
    if (consumed) {
        size_t bytes = size_t(std::min(st.pos, st.input_end) - st.input);
        *consumed = is_string_source(st.source) ? uint32_t(unicode::utf8_count_chars(st.input, st.input + bytes))
                                                : uint32_t(bytes);
    }
    if (pending) std::rethrow_exception(pending);
    return type;
}

int32_t lexer_scan_string(Cell* result, const Cell& string, int32_t length, Request rq, uint32_t* consumed) {
    ensure_buffers();
    memory::SeriesBuffer* b = memory::buffer_of(string.w2);
    uint32_t unit = b->unit();
    uint32_t total = b->length();
    uint32_t index = std::min(string.w1, total);
    uint32_t available = total - index;
    // A length past the tail is cut to it: the text is never read beyond it.
    uint32_t count = length < 0 ? available : std::min(uint32_t(length), available);
    ScratchUse room(unicode::utf8_conversion_size(count, unit));
    b = memory::buffer_of(string.w2);
    size_t bytes = unicode::utf8_encode_units(b->head_ptr() + size_t(index) * unit, count, unit, room.text(), false,
                                              false);
    Cell source = string;
    rq.text = room.text();
    rq.length = uint32_t(bytes);
    rq.source = &source;
    return lexer_scan(result, rq, consumed);
}

void lexer_init() {
    ensure_buffers();
    collector::remove_mark_callback(mark_states);
    collector::add_mark_callback(mark_states);
}

uint32_t active_scans() {
    uint32_t n = 0;
    for (State* s = chain; s; s = s->next) ++n;
    return n;
}

const SyntaxError& last_error() { return last_syntax_error; }

uint32_t char_offset(State* st, uint32_t byte_offset) {
    byte_offset = std::min(byte_offset, uint32_t(st->input_end - st->input));
    if (byte_offset >= st->cache_pos)
        st->cache_count += uint32_t(unicode::utf8_count_chars(st->input + st->cache_pos, st->input + byte_offset));
    else
        st->cache_count -= uint32_t(unicode::utf8_count_chars(st->input + byte_offset, st->input + st->cache_pos));
    st->cache_pos = byte_offset;
    return st->cache_count;
}

uint32_t byte_offset_of_chars(const State* st, uint32_t chars) {
    return uint32_t(unicode::utf8_skip_chars(st->input, st->input_end, chars) - st->input);
}

}  // namespace vyr::lexer
