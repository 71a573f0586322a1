// The parse engine: stacks and levels, trace events, the states of the
// machine, and the matching of single values (literals, repetition of a
// single value, the search of `to` and `thru`). The keywords and the rule
// codes are in parse_keywords.cpp.
//
// The machine runs one state at a time; each state sets the next. Nothing
// recurses in C++ except a paren or a callback that runs `parse` again, and
// that opens a level of its own. Every state reads the input and the rules
// through the registers again: a paren, a callback or a change handler may
// have moved or changed any buffer.
#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/eval_hooks.h"
#include "datatypes/fixed_words.h"
#include "datatypes/frames.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string_buffer.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "engine/eval.h"
#include "engine/lexer.h"
#include "engine/parse_internal.h"
#include "runtime/case_tables.h"
#include "runtime/errors.h"
#include "runtime/interrupt.h"
#include "runtime/registry.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"
#include "runtime/unicode.h"

namespace vyr::parse {

namespace script = err_id::script;

// The two stacks: cells of the root block, which never moves.
Cell* detail::series_root = nullptr;
Cell* detail::rule_root = nullptr;
memory::SeriesBuffer* detail::rule_buffer = nullptr;

namespace {

using detail::rule_root;
using detail::series_root;

// Room for the deepest rule stack: the limit, the entry pushed at it and
// the marker of a nested level, with a margin.
constexpr uint32_t rule_stack_room = stack_limit + 16;

// The remaining input length each repetition entry saw when its iteration
// began, by the entry's cell index in the rule stack. The entry's own copy
// is overwritten by the codes of entries popped above it, which would blind
// the progress check to an input that shrinks.
std::vector<int32_t> progress(stack_limit + 2 * entry_cells + 1);

std::vector<Keyword> keyword_table;

Cell triple(int32_t a, int32_t b, int32_t c) { return Cell{type_triple, uint32_t(a), uint32_t(b), uint32_t(c)}; }
Cell pair(int32_t x, int32_t y) { return Cell{type_pair, 0, uint32_t(x), uint32_t(y)}; }
uint32_t stack_length(const Cell* root) { return memory::buffer_of(root->w2)->used() >> 4; }

void add_keyword(int32_t symbol, Keyword k) {
    int32_t id = symbols::resolve_alias(symbol);
    if (id < 0) return;
    if (size_t(id) >= keyword_table.size()) keyword_table.resize(size_t(id) + 1, Keyword::none_);
    keyword_table[size_t(id)] = k;
}

// ---- Raw units ---------------------------------------------------------------

inline uint32_t unit_at(const uint8_t* p, uint32_t width, int32_t i) {
    switch (width) {
        case 1: return p[i];
        case 2: {
            uint16_t v;
            std::memcpy(&v, p + size_t(i) * 2, 2);
            return v;
        }
        default: {
            uint32_t v;
            std::memcpy(&v, p + size_t(i) * 4, 4);
            return v;
        }
    }
}

inline uint32_t fold(uint32_t cp) { return case_tables::change_char_case(cp, true); }

// A text or binary buffer seen from its head.
struct Units {
    const uint8_t* p;
    uint32_t width;
};
Units units_of(const Cell& series) {
    memory::SeriesBuffer* b = memory::buffer_of(series.w2);
    return Units{b->head_ptr(), b->unit()};
}

// Whether the n units of `v` from vi equal those of `h` from hi.
bool units_equal(Units h, int32_t hi, Units v, int32_t vi, int32_t n, bool exact) {
    if (exact && h.width == v.width) return std::memcmp(h.p + size_t(hi) * h.width, v.p + size_t(vi) * v.width,
                                                        size_t(n) * h.width) == 0;
    for (int32_t k = 0; k < n; ++k) {
        uint32_t a = unit_at(h.p, h.width, hi + k), b = unit_at(v.p, v.width, vi + k);
        if (a != b && (exact || fold(a) != fold(b))) return false;
    }
    return true;
}

struct BitsetView {
    const uint8_t* bits;
    uint32_t count;  // numbers held in the array
    bool complemented;
    bool has(uint32_t n) const { return n < count ? (bits[n >> 3] & (0x80u >> (n & 7))) != 0 : complemented; }
};
BitsetView bitset_view(const Cell& b) {
    return BitsetView{bitset_t::bits(b), bitset_t::byte_length(b) * 8, bitset_t::complemented_q(b)};
}

// The UTF-8 bytes of a text value from its index: what it matches in binary! input.
std::vector<uint8_t> utf8_of(const Cell& text) {
    std::vector<uint8_t> out;
    Cell t = text;
    int32_t n = int32_t(string_t::length_at(t));
    Units u = units_of(text);
    for (int32_t i = 0; i < n; ++i) {
        uint32_t cp = unit_at(u.p, u.width, int32_t(text.w1) + i);
        uint8_t bytes[4];
        out.insert(out.end(), bytes, bytes + unicode::utf8_encode_char(cp, bytes));
    }
    return out;
}

// The bytes a binary! input matches for a binary! or text value.
std::vector<uint8_t> pattern_bytes(const Cell& value) {
    if (type_of(value) != type_binary) return utf8_of(value);
    Cell v = value;
    int32_t n = series_t::length_at(v);
    const uint8_t* p = memory::buffer_of(value.w2)->head_ptr() + int32_t(v.w1);
    return std::vector<uint8_t>(p, p + n);
}

}  // namespace

SeriesAside::SeriesAside() : saved_(series_root->w1) { series_root->w1 = stack_length(series_root); }
SeriesAside::~SeriesAside() { series_root->w1 = saved_; }

// ---- Start-up and keywords -----------------------------------------------------------

void parse_init() {
    series_root = series::alloc_tail_cell(series::root_block);
    *series_root = Cell{type_block, 0, memory::alloc_cells(8), 0};
    rule_root = series::alloc_tail_cell(series::root_block);
    *rule_root = Cell{type_block, 0, memory::alloc_fixed_series(rule_stack_room, memory::cell_width), 0};
    detail::refresh_rule_buffer();

    using namespace fixed;
    keyword_table.clear();
    add_keyword(sym_bar, Keyword::bar);
    add_keyword(sym_skip, Keyword::skip);
    add_keyword(sym_any, Keyword::any);
    add_keyword(sym_some, Keyword::some);
    add_keyword(sym_opt, Keyword::opt);
    add_keyword(sym_while, Keyword::while_);
    add_keyword(sym_to, Keyword::to);
    add_keyword(sym_thru, Keyword::thru);
    add_keyword(sym_copy, Keyword::copy);
    add_keyword(sym_set, Keyword::set);
    add_keyword(sym_remove, Keyword::remove);
    add_keyword(sym_break, Keyword::break_);
    add_keyword(sym_reject, Keyword::reject);
    add_keyword(sym_fail, Keyword::fail);
    add_keyword(sym_keep, Keyword::keep);
    add_keyword(sym_ahead, Keyword::ahead);
    add_keyword(sym_not, Keyword::not_);
    add_keyword(sym_into, Keyword::into);
    add_keyword(sym_insert, Keyword::insert);
    add_keyword(int32_t(word_change.w2), Keyword::change);
    add_keyword(sym_end, Keyword::end);
    add_keyword(sym_if, Keyword::if_);
    add_keyword(sym_quote, Keyword::quote);
    add_keyword(sym_collect, Keyword::collect);
    add_keyword(sym_case, Keyword::case_);
    add_keyword(sym_none, Keyword::none);
    add_keyword(sym_only, Keyword::only);
    add_keyword(sym_pick, Keyword::pick);
    add_keyword(sym_after, Keyword::after);
}

Keyword keyword_of(const Cell& word) {
    // A keyword's own spelling is its canonical symbol: found without resolving.
    size_t raw = word.w2;
    if (raw < keyword_table.size() && keyword_table[raw] != Keyword::none_) return keyword_table[raw];
    int32_t id = symbols::resolve_alias(int32_t(word.w2));
    return id >= 0 && size_t(id) < keyword_table.size() ? keyword_table[size_t(id)] : Keyword::none_;
}

// ---- The engine's life -------------------------------------------------------------------

Engine::Engine(const Cell& input, const Cell& rules, int32_t case_mode_, int32_t limit_, const Cell* callback)
    : case_mode(case_mode_), limit(limit_), traced(callback != nullptr) {
    r.input = input;
    r.rules = rules;
    r.value = rules;
    r.paren = unset_t::value;
    r.callback = callback ? *callback : none_t::value;
    r.copied = none_t::value;
}

Engine::~Engine() { close_level(); }

Status Engine::run(Cell& answer) {
    stack::Mark mark;
    result_index = stack::cell_index(stack::push_copy(unset_t::value));
    open_level();
    push_series(r.input);
    rpos = -1;  // the outermost block entry names no cell
    st = State::push_block;
    Status s = Status::ok;
    while (s == Status::ok && st != State::exit) {
        switch (st) {
            case State::push_block: s = push_block(); break;
            case State::pop_block: s = pop_block(); break;
            case State::push_rule: s = push_rule(); break;
            case State::pop_rule: s = pop_rule(); break;
            case State::check: check(); break;
            case State::match_value: s = match_value(); break;
            case State::next_input: next_input(); break;
            case State::next_rule: s = next_rule(); break;
            case State::match_literal: s = match_literal(); break;
            case State::rule_argument: s = rule_argument(); break;
            case State::word: s = word_state(); break;
            case State::find_alternative: s = find_alternative(); break;
            case State::end: s = end_state(); break;
            case State::exit: break;
        }
    }
    close_level();
    if (s == stopped) {
        answer = logic_t::value_of(match);
    } else if (s != Status::ok) {
        return s;  // the frames and the stack are already where the exit lands
    } else if (collect_result) {
        answer = *stack::cell_at_index(result_index + 1);
    } else {
        answer = logic_t::value_of(match);
    }
    mark.restore();
    return Status::ok;
}

// ---- Stacks and levels ------------------------------------------------------------------

void Engine::open_level() {
    closed = false;
    uint32_t cells = stack_length(rule_root);
    if (cells > rule_root->w1) {
        Cell* marker = series::alloc_tail_cell(rule_root->w2);
        *marker = triple(int32_t(rule_root->w1), int32_t(series_root->w1), 0);
        detail::refresh_rule_buffer();
        series_root->w1 = stack_length(series_root);
        rule_root->w1 = cells + 1;
        level = true;
    }
}

// Clears both stacks back to this level's marks; a nested level also drops
// its marker and gives the outer level its marks back. Runs once, on
// whatever way the engine ends.
void Engine::close_level() {
    if (closed) return;
    closed = true;
    block_t::set_tail(*rule_root, rule_root->w1);
    block_t::set_tail(*series_root, series_root->w1);
    if (level && rule_root->w1 > 0) {
        Cell marker = *memory::cell_at(rule_root->w2, rule_root->w1 - 1);
        block_t::set_tail(*rule_root, rule_root->w1 - 1);
        rule_root->w1 = marker.w1;
        series_root->w1 = marker.w2;
    }
}

void Engine::raise(int id, const Cell* arg) {
    close_level();
    raise_error(err_cat::script, id, arg);
}

uint32_t Engine::level_cells() const { return stack_length(rule_root) - rule_root->w1; }

// push_entry when the stack is past its limit or its buffer is full.
uint32_t Engine::push_entry_growing(const Cell& a, const Cell& b, const Cell& c) {
    NodeId node = rule_root->w2;
    uint32_t at = stack_length(rule_root);
    if (at > stack_limit) raise(script::parse_stack);
    *series::alloc_tail_cell(node) = a;
    *series::alloc_tail_cell(node) = b;
    *series::alloc_tail_cell(node) = c;
    detail::refresh_rule_buffer();
    return at;
}

void Engine::drop_entry() { detail::rule_buffer->tail -= entry_cells * sizeof(Cell); }

// Drops the top rule entry; the entry below learns which code was popped.
void Engine::drop_rule_entry(int32_t popped_code) {
    memory::SeriesBuffer* b = detail::rule_buffer;
    b->tail -= entry_cells * sizeof(Cell);
    if ((b->used() >> 4) >= rule_root->w1 + entry_cells)
        (reinterpret_cast<Cell*>(b->tail_ptr()) - entry_cells + 1)->w3 = uint32_t(popped_code);
}

void Engine::push_series(const Cell& series) {
    *series::alloc_tail_cell(series_root->w2) = series;
    if (stack_length(series_root) > stack_limit) raise(script::parse_stack);
}

void Engine::enter_series(const Cell& element) {
    memory::cell_at(series_root->w2, stack_length(series_root) - 1)->w1 = uint32_t(cursor());
    push_series(element);
    r.input = element;
    recompute_end();
}

int32_t& Engine::progress_at() { return progress[stack_length(rule_root) - entry_cells]; }

// Back to the outer input, at the cursor it had when `into` was entered.
void Engine::pop_series() {
    uint32_t n = stack_length(series_root);
    block_t::set_tail(*series_root, n - 1);
    r.input = *memory::cell_at(series_root->w2, n - 2);
}

// ---- Input -------------------------------------------------------------------------------

int32_t Engine::stop() const {
    int32_t n = input_length();
    return limit > 0 && limit < n ? limit : n;
}

void Engine::recompute_end() {
    int32_t n = input_length();
    if (cursor() > n) set_cursor(n);
    if (cursor() < 0) set_cursor(0);
    end = cursor() >= n || (limit > 0 && cursor() >= limit);
}

bool Engine::text_input() const { return string_t::string_like_q(type_of(r.input)); }
bool Engine::binary_input() const { return type_of(r.input) == type_binary; }
bool Engine::block_input() const { return series_t::block_family_q(type_of(r.input)); }

Cell Engine::element(int32_t i) const {
    if (i < 0 || i >= input_length()) return none_t::value;
    if (block_input()) return *memory::cell_at(r.input.w2, uint32_t(i));
    Units u = units_of(r.input);
    if (binary_input()) return Cell{type_integer, 0, u.p[i], 0};
    return Cell{type_char, 0, unit_at(u.p, u.width, i), 0};
}

Cell Engine::copy_range(int32_t from, int32_t to) {
    int32_t n = std::max(to - from, 0);
    if (!block_input()) {
        NodeId node = series::copy_series_part(r.input.w2, uint32_t(from), uint32_t(n));
        return Cell{type_of(r.input), 0, node, 0};
    }
    stack::Mark mark;
    Cell* src = stack::push_copy(r.input);
    src->w1 = uint32_t(from);
    Cell* part = stack::push_copy(Cell{type_integer, 0, uint32_t(n), 0});
    Cell* out = stack::push_copy(none_t::value);
    Cell copied = *actions::copy(src, out, part, false, nullptr);
    mark.restore();
    return copied;
}

const Cell* Engine::word_value(const Cell& word) {
    if (!word.w1 || int32_t(word.w3) < 0) return nullptr;
    const Cell* base = context_t::values_base(word.w1);
    const Cell* v = base ? base + word.w3 : word_t::get(word);
    return type_of(*v) == type_unset ? nullptr : v;
}

const Cell* Engine::input_position(const Cell& c) const {
    uint32_t t = type_of(c);
    if (t != type_word && t != type_get_word) return nullptr;
    const Cell* v = word_value(c);
    if (!v || type_of(*v) != type_of(r.input) || v->w2 != r.input.w2) return nullptr;
    return v;
}

// ---- Running Vyr code -----------------------------------------------------------------------

Status Engine::eval_paren(const Cell& paren) {
    SeriesAside aside;
    Cell code = paren;
    Cell* saved = stack::top();
    Status s = eval::eval_block(frames::markers().body, code, false);
    if (s != Status::ok) return s;
    r.paren = *stack::top_cell();
    stack::set_top(saved);
    return Status::ok;
}

void Engine::settle() {
    int32_t t = rule_tail();
    if (rpos >= t) rpos = t - 1;
    recompute_end();
}

Status Engine::fire_event(const Cell& event, int32_t rule_position) {
    SeriesAside aside;
    Cell args[5];
    collector::CellRoot keep(args, 5);
    args[0] = event;
    args[1] = logic_t::value_of(match);
    args[2] = r.rules;
    set_type(args[2], type_block);
    args[2].w1 = uint32_t(std::max(rule_position < 0 ? rpos : rule_position, 0));
    args[3] = r.input;
    // The callback sees the rule stack as it stands, in a copy: the engine
    // reads its entries back and must not find them changed.
    args[4] = Cell{type_block, rule_root->w1, series::copy_series_part(rule_root->w2, 0, stack_length(rule_root)), 0};
    Cell answer = unset_t::value;
    collector::CellRoot keep_answer(&answer);
    Status s;
    {
        eval_hooks::CallbackScope traced(eval_hooks::parse_callback);
        s = eval::call_value(r.callback, args, 5, fixed::word_parse_callback, answer);
    }
    if (s != Status::ok) return s;
    // The callback may have changed the input or the rules.
    if (rpos > rule_tail()) rpos = rule_tail();
    recompute_end();
    return logic_t::falsy(answer) ? stopped : Status::ok;
}

Status Engine::fire_match() { return fire(fixed::word_match); }

// ---- States ------------------------------------------------------------------------------

// Enters the pending block (r.value): a block entry remembers where the
// enclosing block stood and where the input stood.
Status Engine::push_block() {
    push_entry(none_t::value, triple(rpos, cursor(), remaining()), r.rules);
    r.rules = r.value;
    rpos = int32_t(r.value.w1) - 1;
    match = true;
    recompute_end();
    st = State::next_rule;
    return fire(fixed::word_push);
}

Status Engine::pop_block() {
    if (level_cells() > entry_cells) {
        completed = rpos >= rule_tail();
        if (Status s = fire(fixed::word_pop, 0); s != Status::ok) return s;
        r.rules = *entry(2);
        rpos = int32_t(entry(1)->w1);
        drop_entry();
        st = top_is_rule() ? State::pop_rule : match ? State::next_rule : State::find_alternative;
        return Status::ok;
    }
    st = State::end;
    return fire(fixed::word_pop, 0);
}

// Pushes the rule entry of the keyword under the cursor (registers min,
// max, pending, pick), then moves on to its argument.
Status Engine::push_rule() {
    Cell first = pending == code::copy || pending == code::set ? rule_at(rpos) : triple(min, max, 1);
    int32_t left = remaining();
    uint32_t at = push_entry(first, triple(rpos, cursor(), left), pair(pending, pick));
    progress[at] = left;
    if (rpos < rule_tail()) ++rpos;
    via_word = false;
    st = State::rule_argument;
    return fire(fixed::word_push);
}

Status Engine::pop_rule() {
    if (!top_is_rule()) {
        if (pop) {
            pop = false;
            st = State::pop_block;
        } else {
            st = State::next_rule;
        }
        return Status::ok;
    }
    return apply_code();
}

void Engine::check() { st = top_is_rule() ? State::pop_rule : match ? State::next_rule : State::find_alternative; }

Status Engine::match_value() {
    switch (type_of(r.value)) {
        case type_word:
            // A word whose value is a word would name a rule through two steps.
            if (via_word) raise(script::parse_rule, &r.value);
            return word_state();  // the next state at once: most rules are words
        case type_block:
            st = State::push_block;
            return Status::ok;
        case type_datatype:
        case type_typeset:
            return match_datatype();
        case type_set_word: {
            Cell w = r.value;
            Cell at = r.input;
            collector::CellRoot keep(&at);
            word_t::set(w, at);
            st = State::next_rule;
            return Status::ok;
        }
        case type_get_word: {
            const Cell* v = word_value(r.value);
            if (!v || type_of(*v) != type_of(r.input) || v->w2 != r.input.w2) raise(script::parse_invalid_ref, &r.value);
            set_cursor(int32_t(v->w1));
            match = true;
            recompute_end();
            st = State::check;
            return Status::ok;
        }
        case type_integer:
            return repeat_count();
        case type_paren: {
            if (Status s = eval_paren(r.value); s != Status::ok) return s;
            settle();
            st = State::check;
            return fire(fixed::word_paren);
        }
        case type_path:
            raise(script::parse_rule, &r.value);
        default:
            st = State::match_literal;
            return Status::ok;
    }
}

void Engine::next_input() {
    set_cursor(cursor() + 1);
    recompute_end();
    st = State::check;
}

Status Engine::next_rule() {
    // Every round of a rule that loops (while, a growing input) fetches a
    // rule: Ctrl-C stops it here.
    if (interrupt::requested()) {
        if (Status s = interrupt::take(); s != Status::ok) return s;
    }
    int32_t t = rule_tail();
    if (rpos < t) ++rpos;
    if (rpos >= t) {
        st = top_is_rule() ? State::pop_rule : State::pop_block;
        return Status::ok;
    }
    arg_pos = refetch_next ? ArgPos::refetch : ArgPos::none;
    refetch_next = false;
    via_word = false;
    if (traced) {
        if (Status s = fire_event(fixed::word_fetch, -1); s != Status::ok) return s;
        if (rpos >= rule_tail()) {  // the callback shortened the rules
            st = top_is_rule() ? State::pop_rule : State::pop_block;
            return Status::ok;
        }
    }
    r.value = rule_at(rpos);
    st = State::match_value;
    return Status::ok;
}

Status Engine::match_literal() {
    int32_t next = cursor();
    match = literal_at(r.value, next);
    if (match) set_cursor(next);
    recompute_end();
    st = State::check;
    return fire_match();
}

// The cell after a keyword that takes a rule (the top entry is its rule entry).
Status Engine::rule_argument() {
    const Cell* top = entry(0);
    int32_t c = int32_t(top[2].w2);
    Cell bounds = top[0];
    int32_t lo = type_of(bounds) == type_triple ? int32_t(bounds.w1) : -1;
    int32_t hi = type_of(bounds) == type_triple ? int32_t(bounds.w2) : -1;
    if (!via_word) {
        if (rpos >= rule_tail()) {
            const Cell* word = nullptr;
            switch (c) {
                case code::to: word = &fixed::word_to; break;
                case code::thru: word = &fixed::word_thru; break;
                case code::not_: word = &fixed::word_not; break;
                case code::remove: word = &fixed::word_remove; break;
                case code::while_: word = &fixed::word_while; break;
                case code::collect: word = &fixed::word_collect; break;
                case code::keep: case code::keep_paren: word = &fixed::word_keep; break;
                case code::ahead: word = &fixed::word_ahead; break;
                default: break;
            }
            if (word) raise(script::parse_end, word);
            match = true;
            st = State::check;
            return Status::ok;
        }
        r.value = rule_at(rpos);
    }
    switch (type_of(r.value)) {
        case type_block:
            st = State::push_block;
            return Status::ok;
        case type_word:
            arg_pos = c == code::collect || c == code::keep ? ArgPos::none : ArgPos::first;
            return word_state();
        case type_integer:
        case type_paren:
        case type_typeset:
        case type_datatype:
            st = State::match_value;
            return Status::ok;
        default:
            break;
    }
    if (lo != -1) {
        // A single value repeated: one tight loop, no entry per iteration.
        int32_t start = cursor();
        bool ok = repeat_value(r.value, lo, hi);
        if (!ok) set_cursor(start);
        match = ok || lo == 0;
        recompute_end();
        if (Status s = fire_match(); s != Status::ok) return s;
        if (Status s = fire(fixed::word_pop); s != Status::ok) return s;
        drop_rule_entry(c);
        st = State::check;
        return Status::ok;
    }
    if (c == code::to || c == code::thru) {
        int32_t at = 0, after = 0;
        bool found = find_value(r.value, at, after);
        if (found) {
            entry(1)->w2 = uint32_t(at);
            set_cursor(c == code::to ? at : after);
        }
        match = found || (limit > 0 && cursor() > limit);
        recompute_end();
        if (Status s = fire_match(); s != Status::ok) return s;
        if (Status s = fire(fixed::word_pop); s != Status::ok) return s;
        drop_rule_entry(c);
        st = State::check;
        return Status::ok;
    }
    st = State::match_value;
    return Status::ok;
}

Status Engine::find_alternative() {
    set_cursor(int32_t(entry(1)->w2));
    recompute_end();
    int32_t t = rule_tail();
    // Past the cell that failed: a quoted `|` is a value, not an alternative.
    for (int32_t i = std::max(rpos + 1, 0); i < t; ++i) {
        const Cell& c = rule_at(i);
        if (type_of(c) == type_word && int32_t(c.w2) == fixed::sym_bar) {
            rpos = i;
            match = true;
            st = State::next_rule;
            return Status::ok;
        }
    }
    st = State::pop_block;
    return Status::ok;
}

Status Engine::end_state() {
    match = match && rpos >= rule_tail();
    bool outermost = stack_length(series_root) - series_root->w1 == 1;
    if (outermost && stop() > cursor()) match = false;
    st = State::exit;
    return fire(fixed::word_end);
}

// ---- Matching single values ------------------------------------------------------------------

// A datatype or typeset against the element at the cursor; in binary! input
// against the type of the token the lexer scans there.
Status Engine::match_datatype() {
    if (text_input()) raise(script::parse_unsupported);
    bool ok = false;
    if (!end) {
        if (binary_input()) {
            stack::Mark mark;
            Cell* scratch = stack::push_copy(none_t::value);
            lexer::Request rq;
            rq.text = memory::buffer_of(r.input.w2)->head_ptr() + cursor();
            rq.length = uint32_t(stop() - cursor());
            rq.mode = lexer::Mode::scan;
            rq.one = true;
            uint32_t consumed = 0;
            int32_t t = lexer::lexer_scan(scratch, rq, &consumed);
            mark.restore();
            bool fits = t > 0 && uint32_t(t) != type_error && consumed > 0;
            if (fits) ok = type_of(r.value) == type_datatype ? uint32_t(t) == r.value.w1 : typeset_t::has(r.value, uint32_t(t));
            if (ok) set_cursor(cursor() + int32_t(consumed) - 1);
        } else {
            uint32_t t = type_of(*memory::cell_at(r.input.w2, uint32_t(cursor())));
            ok = type_of(r.value) == type_datatype ? t == r.value.w1 : typeset_t::has(r.value, t);
        }
    }
    match = ok;
    st = ok ? State::next_input : State::check;
    return fire_match();
}

// An integer rule: a repetition count, or two (minimum and maximum).
Status Engine::repeat_count() {
    Cell n_cell = r.value;
    int32_t n = integer_t::get(n_cell);
    if (n < 0) raise(err_id::script::out_of_range, &n_cell);
    int32_t t = rule_tail();
    int32_t next = rpos + 1;
    if (next >= t) raise(script::parse_rule, &n_cell);
    Cell m_cell = rule_at(next);
    if (type_of(m_cell) == type_word) {
        if (const Cell* v = word_value(m_cell)) m_cell = *v;
    }
    bool has_m = type_of(m_cell) == type_integer;
    int32_t m = n;
    if (has_m) {
        m = integer_t::get(m_cell);
        if (next + 1 >= t) raise(script::parse_rule, &n_cell);
        if (m < 0) raise(err_id::script::out_of_range, &m_cell);
        if (m < n) raise(script::parse_rule, &n_cell);
    }
    if (n == 0 && m == 0) {
        // Nothing to match: the rule (and the second count) are stepped over.
        rpos = next + (has_m ? 1 : 0);
        match = true;
        st = State::check;
        return Status::ok;
    }
    min = n;
    max = m;
    pending = code::repeat;
    pick = 0;
    if (has_m) rpos = next;
    st = State::push_rule;
    return Status::ok;
}

bool Engine::value_equal(const Cell& element_, const Cell& value) const {
    uint32_t vt = type_of(value);
    int32_t op = case_mode;
    if (vt == type_lit_word || vt == type_lit_path)
        op = case_mode == registry::op_strict_equal ? registry::op_strict_word_equal : registry::op_word_equal;
    Cell a = element_, b = value;
    return actions::compare(&a, &b, op);
}

// Whether the value matches at the cursor; `next` receives the cursor after
// it. A match must end within the part limit.
bool Engine::literal_at(const Cell& value, int32_t& next) {
    int32_t c = cursor();
    uint32_t vt = type_of(value);
    bool ok = false;
    if (end) {
        if (!text_input() || (vt != type_string && vt != type_file && vt != type_url)) return false;
        Cell v = value;
        ok = string_t::length_at(v) == 0;
        next = c;
        return ok;
    }
    if (binary_input()) {
        if (vt == type_bitset) {
            ok = binary_t::byte_in_bitset_q(r.input, value);
            next = c + 1;
        } else if (vt == type_char) {
            ok = binary_t::match_at_q(r.input, value, case_mode);
            next = c + 1;
        } else if (vt == type_binary || string_t::string_like_q(vt)) {
            std::vector<uint8_t> bytes = pattern_bytes(value);
            int32_t n = int32_t(bytes.size());
            ok = remaining() >= n && (n == 0 ||
                 std::memcmp(memory::buffer_of(r.input.w2)->head_ptr() + c, bytes.data(), size_t(n)) == 0);
            next = c + n;
        }
    } else if (text_input()) {
        if (vt == type_bitset) {
            ok = string_t::char_in_bitset_q(r.input, value);
            next = c + 1;
        } else {
            Cell in = r.input;
            ok = string_t::match_at(in, value, case_mode);
            if (vt == type_char) {
                next = c + 1;
            } else if (ok) {
                Cell v = value;
                next = c + int32_t(string_t::length_at(v)) + (vt == type_tag ? 2 : 0);
            }
        }
    } else {
        ok = value_equal(element(c), value);
        next = c + 1;
    }
    if (ok && limit > 0 && next > limit) ok = false;
    return ok;
}

// The repetition of a single value from the cursor, between lo and hi
// times (hi -1: no bound), up to the tail or the part limit. Moves the
// cursor past the run; answers whether the count is within the bounds.
bool Engine::repeat_value(const Cell& value, int32_t lo, int32_t hi) {
    int32_t c = cursor(), s = stop();
    if (s - c <= 0 || s - c < lo) return false;
    int32_t count = 0;
    auto room = [&] { return c < s && (hi < 0 || count < hi); };
    uint32_t vt = type_of(value);
    if (block_input()) {
        while (room() && value_equal(element(c), value)) {
            ++c;
            ++count;
        }
    } else if (vt == type_char || vt == type_bitset) {
        // Units one after the other up to the first that does not match, or
        // the bound: the tight loops of a parse over text.
        Units u = units_of(r.input);
        int32_t start = c;
        int32_t last = hi < 0 ? s : int32_t(std::min<int64_t>(s, int64_t(c) + hi));
        if (vt == type_bitset) {
            BitsetView b = bitset_view(value);
            if (u.width == 1)
                while (c < last && b.has(u.p[c])) ++c;
            else
                while (c < last && b.has(unit_at(u.p, u.width, c))) ++c;
        } else if (binary_input() || case_mode == registry::op_strict_equal) {
            uint32_t want = value.w2;
            while (c < last && unit_at(u.p, u.width, c) == want) ++c;
        } else {
            uint32_t fw = fold(value.w2);
            while (c < last && fold(unit_at(u.p, u.width, c)) == fw) ++c;
        }
        count = c - start;
    } else if (vt == type_binary || string_t::string_like_q(vt)) {
        Cell v = value;
        if (series_t::length_at(v) == 0) return true;
        set_cursor(c);
        int32_t next = c;
        bool was_end = end;
        end = false;
        while (room()) {
            set_cursor(c);
            if (!literal_at(value, next) || next > s) break;
            c = next;
            ++count;
        }
        end = was_end;
    } else {
        return false;
    }
    set_cursor(c);
    return count >= lo && (hi < 0 || count <= hi);
}

// The search of `to` and `thru` for one value from the cursor: the first
// position where it matches within the tail or the part limit.
bool Engine::find_value(const Cell& value, int32_t& found_at, int32_t& found_end) {
    int32_t c = cursor(), s = stop();
    uint32_t vt = type_of(value);
    if (block_input()) {
        for (int32_t i = c; i < s; ++i) {
            if (value_equal(element(i), value)) {
                found_at = i;
                found_end = i + 1;
                return true;
            }
        }
        return false;
    }
    Units u = units_of(r.input);
    bool exact = binary_input() || case_mode == registry::op_strict_equal;
    if (vt == type_char) {
        uint32_t want = exact ? value.w2 : fold(value.w2);
        for (int32_t i = c; i < s; ++i) {
            uint32_t unit = unit_at(u.p, u.width, i);
            if ((exact ? unit : fold(unit)) == want) {
                found_at = i;
                found_end = i + 1;
                return true;
            }
        }
        return false;
    }
    if (vt == type_bitset) {
        BitsetView b = bitset_view(value);
        for (int32_t i = c; i < s; ++i) {
            if (b.has(unit_at(u.p, u.width, i))) {
                found_at = i;
                found_end = i + 1;
                return true;
            }
        }
        return false;
    }
    if (binary_input() && (vt == type_binary || string_t::string_like_q(vt))) {
        std::vector<uint8_t> bytes = pattern_bytes(value);
        int32_t n = int32_t(bytes.size());
        for (int32_t i = c; i + n <= s; ++i) {
            if (n == 0 || std::memcmp(u.p + i, bytes.data(), size_t(n)) == 0) {
                found_at = i;
                found_end = i + n;
                return true;
            }
        }
        return false;
    }
    if (text_input() && string_t::string_like_q(vt)) {
        Cell v = value;
        int32_t n = int32_t(string_t::length_at(v));
        Units vu = units_of(value);
        int32_t vi = int32_t(v.w1);
        bool tag = vt == type_tag;
        int32_t span = n + (tag ? 2 : 0);
        int32_t body = tag ? 1 : 0;
        uint32_t first = n > 0 ? unit_at(vu.p, vu.width, vi) : 0;
        if (!exact) first = fold(first);
        for (int32_t i = c; i + span <= s; ++i) {
            if (tag && (unit_at(u.p, u.width, i) != '<' || unit_at(u.p, u.width, i + n + 1) != '>')) continue;
            if (n > 0) {
                uint32_t unit = unit_at(u.p, u.width, i + body);
                if ((exact ? unit : fold(unit)) != first) continue;
                if (!units_equal(u, i + body, vu, vi, n, exact)) continue;
            }
            found_at = i;
            found_end = i + span;
            return true;
        }
        return false;
    }
    if (text_input() && vt == type_binary) return false;
    Cell v = value;
    raise(script::parse_rule, &v);
}

}  // namespace vyr::parse

namespace vyr::parse {

Status parse_engine(const Cell& input, const Cell& rules, int32_t case_mode, int32_t limit, const Cell* callback,
                    Cell& answer) {
    Engine engine(input, rules, case_mode, limit, callback);
    return engine.run(answer);
}

}  // namespace vyr::parse
