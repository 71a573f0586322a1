// The parse engine's inside, shared by its two files: parse.cpp (stacks,
// levels, trace events, the states, matching single values) and
// parse_keywords.cpp (the keywords, the rule codes applied when an entry is
// popped, collect and keep).
//
// Rule stack entries are three cells, visible to trace callbacks:
//   block entry: none! | triple (index of the cell that led here, input
//                cursor, remaining length) | the enclosing rule block
//   rule entry:  triple (min, max, iteration) or the word of copy/set |
//                triple (index of the keyword's cell, input cursor,
//                remaining length) | pair (rule code, pick flag)
// The third word of an entry's middle triple is overwritten with the code of
// a rule entry popped directly above it.
#pragma once

#include <cstdint>

#include "engine/parse.h"
#include "runtime/catch_codes.h"
#include "runtime/cell.h"
#include "runtime/collector.h"
#include "runtime/memory.h"

namespace vyr::parse {

// Rule codes, as stored in the pair of a rule entry.
namespace code {
inline constexpr int32_t none = 0;
inline constexpr int32_t repeat = -1;  // any, some, opt, counts
inline constexpr int32_t to = -2;
inline constexpr int32_t thru = -3;
inline constexpr int32_t copy = -4;
inline constexpr int32_t set = -5;
inline constexpr int32_t not_ = -6;
inline constexpr int32_t into = -7;
inline constexpr int32_t remove = -9;
inline constexpr int32_t while_ = -11;
inline constexpr int32_t collect = -12;
inline constexpr int32_t keep = -13;
inline constexpr int32_t keep_paren = -14;
inline constexpr int32_t ahead = -16;
inline constexpr int32_t change = -17;
inline constexpr int32_t change_only = -18;
inline constexpr int32_t case_ = -19;
}  // namespace code

// Cells the rule stack and the series stack may hold before a push fails.
inline constexpr uint32_t stack_limit = 10000;
inline constexpr uint32_t entry_cells = 3;

enum class Keyword : uint8_t {
    none_, bar, skip, any, some, opt, while_, to, thru, copy, set, remove, break_, reject, fail, keep, ahead,
    not_, into, insert, change, end, if_, quote, collect, case_, none, only, pick, after,
};
// The keyword a word's symbol names (after alias resolution), or none_.
Keyword keyword_of(const Cell& word);

enum class State : uint8_t {
    push_block, pop_block, push_rule, pop_rule, check, match_value, next_input, next_rule, match_literal,
    rule_argument, word, find_alternative, end, exit,
};

// How the current rule value was reached.
enum class ArgPos : uint8_t {
    none,     // fetched from the rule block
    first,    // the argument of a keyword just pushed
    refetch,  // the argument again, for the next iteration or position
};

// A private status: a trace callback answered false. Never leaves the engine.
inline constexpr Status stopped = Status(1);

// The two stacks: cells of the root block (which never moves) holding the
// stack blocks; a block's index is where the running level begins.
namespace detail {
extern Cell* series_root;
extern Cell* rule_root;
// The rule stack's buffer. It is a fixed series with room for the whole
// stack, so it never moves and every step reaches it without the node
// table; should it ever grow, refresh_rule_buffer follows it.
extern memory::SeriesBuffer* rule_buffer;
inline void refresh_rule_buffer() { rule_buffer = memory::buffer_of(rule_root->w2); }
}  // namespace detail
inline Cell* series_stack() { return detail::series_root; }
inline Cell* rule_stack() { return detail::rule_root; }

// While Vyr code runs under the engine (a paren, the callback, a change
// handler), the series stack's index stands at its tail, so that a nested
// parse stacks its input above everything this level holds.
class SeriesAside {
public:
    SeriesAside();
    ~SeriesAside();
    SeriesAside(const SeriesAside&) = delete;
    SeriesAside& operator=(const SeriesAside&) = delete;

private:
    uint32_t saved_;
};

// The cells the engine keeps across Vyr code, rooted for its lifetime.
struct Registers {
    Cell input;     // the current input; its index is the cursor
    Cell rules;     // the current rule block (its own index kept)
    Cell value;     // the current rule value
    Cell paren;     // the value of the last paren evaluated
    Cell callback;  // the trace callback, or none!
    Cell copied;    // the word of the last copy rule popped (keep of a copy)
};
inline constexpr size_t register_count = sizeof(Registers) / sizeof(Cell);

class Engine {
public:
    Engine(const Cell& input, const Cell& rules, int32_t case_mode, int32_t limit, const Cell* callback);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    Status run(Cell& answer);

    // ---- Registers ---------------------------------------------------------
    Registers r{};
    collector::CellRoot root_{&r.input, register_count};
    int32_t rpos = -1;  // the rule cursor: index of the current cell in r.rules' buffer
    bool match = true;
    bool end = false;
    bool brk = false;         // break flag (break, reject)
    bool pop = false;         // pop flag (break, reject)
    bool completed = true;    // the last block popped had run to its tail
    bool via_word = false;    // the rule value is a word's value
    bool refetch_next = false;  // the next fetch is a keyword's argument again
    ArgPos arg_pos = ArgPos::none;
    int32_t min = -1, max = -1, pending = code::none, pick = 0;  // the rule entry about to be pushed
    int32_t collect_depth = 0;
    bool collect_result = false;
    int32_t case_mode;
    int32_t limit;
    bool traced;
    uint32_t result_index = 0;  // argument-stack index of the result cell
    bool level = false;         // this run opened a level above an outer one
    bool closed = true;
    State st = State::push_block;

    // ---- Stacks and levels (parse.cpp) -------------------------------------------
    void open_level();
    void close_level();
    [[noreturn]] void raise(int id, const Cell* arg = nullptr);
    uint32_t level_cells() const;  // rule stack cells of this level
    // Cell 0, 1 or 2 of the top entry. Read at almost every step: one look
    // through the node, the cells counted back from the tail.
    Cell* entry(uint32_t cell) {
        return reinterpret_cast<Cell*>(detail::rule_buffer->tail_ptr()) - entry_cells + cell;
    }
    // Whether this level's top entry is a rule entry (its first cell is not none!).
    bool top_is_rule() const {
        const memory::SeriesBuffer* b = detail::rule_buffer;
        if ((b->used() >> 4) < rule_stack()->w1 + entry_cells) return false;
        return type_of(*(reinterpret_cast<const Cell*>(b->data() + b->tail) - entry_cells)) != type_none;
    }
    // Pushes an entry; answers the rule stack cell index of its first cell.
    // A stack already past its limit raises parse-stack instead.
    uint32_t push_entry(const Cell& a, const Cell& b, const Cell& c) {
        memory::SeriesBuffer* buf = detail::rule_buffer;
        uint32_t at = buf->used() >> 4;
        if (at > stack_limit || buf->tail + entry_cells * sizeof(Cell) > buf->capacity)
            return push_entry_growing(a, b, c);
        Cell* cells = reinterpret_cast<Cell*>(buf->tail_ptr());
        cells[0] = a;
        cells[1] = b;
        cells[2] = c;
        buf->tail += entry_cells * sizeof(Cell);
        return at;
    }
    uint32_t push_entry_growing(const Cell& a, const Cell& b, const Cell& c);
    void drop_entry();
    void drop_rule_entry(int32_t popped_code);
    // Pushes the series; past the limit, raises parse-stack.
    void push_series(const Cell& series);
    // Into: the cursor is kept in the series stack's top cell and the
    // element becomes the input.
    void enter_series(const Cell& element);
    void pop_series();
    // The remaining length the top repetition entry saw when its iteration began.
    int32_t& progress_at();

    // ---- Input ---------------------------------------------------------------------
    int32_t cursor() const { return int32_t(r.input.w1); }
    void set_cursor(int32_t c) { r.input.w1 = uint32_t(c); }
    // Units from the head. The input is text, binary or a block: the unit
    // width is 1, 2 or 4 for text, 1 for binary, 16 for cells, a power of
    // two, so a shift.
    static int32_t units(NodeId node) {
        const memory::SeriesBuffer* b = memory::buffer_of(node);
        return int32_t(b->used() >> __builtin_ctz(b->unit()));
    }
    int32_t input_length() const { return units(r.input.w2); }
    int32_t remaining() const { return input_length() - cursor(); }
    // The end of matching: the tail, or the limit when smaller.
    int32_t stop() const;
    // Clamps a cursor left past a shrunk tail and recomputes the end flag.
    void recompute_end();
    bool text_input() const;
    bool binary_input() const;
    bool block_input() const;
    // The element at i as a value: char! for text, integer! for binary!, the cell for a block.
    Cell element(int32_t i) const;
    // A new series of the input's type holding the elements from..to.
    Cell copy_range(int32_t from, int32_t to);
    // The value of a word, or null when unset or unbound.
    static const Cell* word_value(const Cell& word);
    // Whether the cell is a word or get-word whose value is the input series.
    const Cell* input_position(const Cell& c) const;

    // ---- Rules ---------------------------------------------------------------------
    int32_t rule_tail() const { return int32_t(memory::buffer_of(r.rules.w2)->used() >> 4); }
    const Cell& rule_at(int32_t i) const { return *memory::cell_at(r.rules.w2, uint32_t(i)); }
    bool last_rule() const { return rpos + 1 >= rule_tail(); }

    // ---- Running Vyr code ------------------------------------------------------------
    // Evaluates a paren; its value goes to r.paren.
    Status eval_paren(const Cell& paren);
    // Delivers a trace event; answers `stopped` when the callback says so.
    Status fire(const Cell& event, int32_t rule_position = -1) {
        return traced ? fire_event(event, rule_position) : Status::ok;
    }
    Status fire_event(const Cell& event, int32_t rule_position);
    Status fire_match();
    // After Vyr code ran: the rule cursor back within its block, the cursor
    // within the input.
    void settle();

    // ---- States (parse.cpp) -----------------------------------------------------------
    Status push_block();
    Status pop_block();
    Status push_rule();
    Status pop_rule();
    void check();
    Status match_value();
    void next_input();
    Status next_rule();
    Status match_literal();
    Status rule_argument();
    Status find_alternative();
    Status end_state();

    Status match_datatype();
    Status repeat_count();
    bool literal_at(const Cell& value, int32_t& next);
    bool value_equal(const Cell& element, const Cell& value) const;
    bool repeat_value(const Cell& value, int32_t lo, int32_t hi);
    bool find_value(const Cell& value, int32_t& found_at, int32_t& found_end);

    // ---- Keywords and codes (parse_keywords.cpp) ----------------------------------------
    Status word_state();
    Status keyword(Keyword k);
    Status apply_code();
    Status collect_keyword();
    Status keep_keyword();
    Status into_keyword();
    Status insert_keyword();
    Status change_keyword();
    void remove_keyword();
    Status rule_value_after(int32_t at, Cell& out, const Cell& keyword_word);
    void end_collect(int32_t saved_index);
    Status keep_value();
    bool bytes_for_text_target(int32_t from, int32_t to) const;
    Cell latin1_range(int32_t from, int32_t to);
    void store_into(uint32_t target, const Cell& value);
    void store_kept(const Cell& value);
    // Series actions on the input: each may run a change handler.
    Cell remove_at(int32_t from, int32_t count);
    Cell insert_at(int32_t at, const Cell& value, bool only);
    Cell change_at(int32_t at, int32_t count, const Cell& value, bool only);
};

}  // namespace vyr::parse
