// The evaluator's core: blocks, expressions, infix operators and paths.
//
// Every value an expression produces is first pushed at the argument top as
// it stood when the expression began (`eval_value`); the infix lookahead
// finds the left operand there, and eval_expression moves it into the
// frame's result slot when it is not to stay pushed. Code is read through a
// Cursor (indexes into the block, the block rooted), so the code block may
// move or change while it runs.
#include "engine/eval.h"

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/scalar_support.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "datatypes/actions.h"
#include "engine/eval_internal.h"
#include "engine/fast_paths.h"
#include "engine/natives.h"
#include "datatypes/frames.h"
#include "datatypes/unwind.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/interrupt.h"
#include "datatypes/fixed_words.h"

namespace vyr::eval {

namespace script = err_id::script;

namespace {

Cell position_cell = unset_t::value;

// Counts block runs: while it stands still no code has run (a decoded
// loop body checks it between its steps).
uint32_t block_runs = 0;

// Keeps the current position of the enclosing evaluation and puts it back
// however the inner one ends.
class PositionSave {
public:
    PositionSave() : saved_(position_cell) {}
    ~PositionSave() { position_cell = saved_[0]; }
    PositionSave(const PositionSave&) = delete;
    PositionSave& operator=(const PositionSave&) = delete;

private:
    collector::Held saved_;
};

bool callable_type(uint32_t t) {
    return t == type_native || t == type_action || t == type_function || t == type_routine;
}

// Fires an event at a position in the cursor's block.
Status fire_at(uint32_t ev, const Cursor& at, uint32_t pos, const Cell* value, const Cell* ref = nullptr) {
    Cell code = at.code;
    return trace::fire(ev, &code, pos, value, ref);
}

}  // namespace

Cell& current_position() { return position_cell; }

// ---- Words ---------------------------------------------------------------------

namespace {

[[gnu::always_inline]] inline const Cell& word_value(const Cell& word) {
    const Cell* v = detail::word_value_fast(word);
    return v ? *v : *word_t::get(word);
}

using detail::operator_at;

}  // namespace

bool store_plainly(const Cell& word, const Cell& value) {
    if (!word.w1 || int32_t(word.w3) < 0 || type_of(value) == type_unset) return false;
    if (word.w1 == context_t::global_context) {
        Cell* values = context_t::global_values();
        if (!values) return false;
        values[word.w3] = value;
        return true;
    }
    const Cell& context = *context_t::context_cell(word.w1);
    if (!context.w2 || context_t::kind_of(context) == context_t::kind_object) return false;
    Cell* base = context_t::values_on_stack(context) ? stack::bottom() + context.w2 : memory::cell_head(context.w2);
    base[word.w3] = value;
    return true;
}

namespace {

// ---- Quiet expressions ----------------------------------------------------------
// A quiet expression cannot raise, call anything or change anything: a
// number (integer!, float!, char!) standing in the code or held by a bound
// word, or a paren holding exactly one quiet expression, followed by infix
// arithmetic or comparison operators whose in-place answer needs no frame
// (fast_paths::answer_quietly), each with such an operand. Its value is
// computed by reading the code alone, without frames, stack cells or safe
// points: when the expression turns out not to be quiet nothing has
// happened, and the caller evaluates it the full way. Nothing observable
// differs, since a quiet expression has no error to report and runs only
// while no trace is on. Statements made of quiet expressions, and of
// set-words whose value is one and whose store is plain, run the same way
// one after the other: those that open a block (quiet_block_run), and the
// steps of a while or until loop (quiet_loop), until one is not quiet.

inline constexpr uint32_t quiet_nesting = 8;  // parens within parens followed

using detail::QuietCode;
using detail::quiet_code;
using detail::peek_code;
using detail::number_type;

// One quiet walk: expressions, or statements one after the other. Nothing
// it does allocates or passes a safe point, so the value bases of the
// contexts its words are bound to stay where they are while it lasts: the
// global one is read once, that of the last other context met is kept.
// Every word and every cell of code is still read afresh each time.
class QuietRun {
public:
    QuietRun() : globals_(context_t::global_values()) {
        global_ = globals_ ? context_t::global_context : no_context;
    }

    // The value cell of a bound word, or null (as detail::word_value_fast).
    [[gnu::always_inline]] const Cell* value_of(const Cell& word) {
        if (int32_t(word.w3) < 0) return nullptr;
        if (word.w1 == global_) return global_value(word.w3);
        if (word.w1 != context_) enter(word.w1);
        return base_ ? base_ + word.w3 : nullptr;
    }

    // Where a set-word stores plainly (as store_plainly), or null.
    [[gnu::always_inline]] Cell* slot_of(const Cell& word) {
        if (int32_t(word.w3) < 0) return nullptr;
        if (word.w1 == global_) return global_value(word.w3);
        if (word.w1 != context_) enter(word.w1);
        return store_base_ ? store_base_ + word.w3 : nullptr;
    }

    // The value of the expression at `pos` (< end) with its infix
    // operators, moving past it: the cell holding it (in the code, a
    // word's value or `acc`, where computed values go), or null when the
    // expression is not quiet (`pos` then means nothing).
    [[gnu::always_inline]] const Cell* expression(const Cell* cells, uint32_t end, uint32_t& pos, Cell& acc,
                                                  uint32_t depth) {
        const Cell* left = operand(cells, pos, acc, depth);
        if (!left) return nullptr;
        while (pos < end) {
            const Cell& name = cells[pos];
            if (type_of(name) != type_word) break;
            const Cell* op = value_of(name);
            if (!op || type_of(*op) != type_op) break;
            fast_paths::InPlace how = fast_paths::op_kind(*op);
            uint32_t op_pos = pos;
            if (how.kind == fast_paths::InPlace::none || ++pos >= end) return stopped(op_pos, *left, depth);
            Cell scratch;
            const Cell* right = operand(cells, pos, scratch, depth);
            if (!right) return stopped(op_pos, *left, depth);
            if (type_of(*left) == type_integer && type_of(*right) == type_integer &&
                fast_paths::answer_integers(how, int32_t(left->w2), int32_t(right->w2), acc)) {
                left = &acc;
                continue;
            }
            if (!answer(how, *left, *right, acc)) return nullptr;
            left = &acc;
        }
        return left;
    }

    // Where the last walk of a whole expression (not inside a paren)
    // stopped, when its first operand was quiet: the operator it could not
    // apply (0 if none) and the value to its left, which is what the full
    // evaluation has computed when it reaches that operator.
    uint32_t stopped_at(Cell& left) const {
        left = stopped_left_;
        return stopped_op_;
    }

    // The statement at `pos` (< end): a quiet expression, or a set-word
    // with one that stores plainly (stored here). Its value goes to `out`
    // and `pos` past it; false otherwise, nothing stored and `out` meaning
    // nothing.
    [[gnu::always_inline]] bool statement(const Cell* cells, uint32_t end, uint32_t& pos, Cell& out) {
        uint32_t at = pos;
        const Cell& first = cells[at];
        Cell* slot = nullptr;
        if (type_of(first) == type_set_word) {
            slot = slot_of(first);
            if (!slot || ++at >= end) return false;
        }
        const Cell* value = expression(cells, end, at, out, 0);
        if (!value) return false;
        if (value != &out) out = *value;
        if (slot) *slot = out;
        pos = at;
        return true;
    }

    // The statements from `pos` on, while each is quiet: true when all ran
    // (`out` the last one's value), else false with `pos` at the first that
    // is not.
    [[gnu::always_inline]] bool statements(QuietCode code, uint32_t& pos, Cell& out) {
        while (pos < code.end) {
            if (!statement(code.cells, code.end, pos, out)) return false;
        }
        return true;
    }

    // The operand at `pos` (< end), no infix after it, moving past it: the
    // cell holding its value (a paren's is computed into `acc`), or null.
    [[gnu::always_inline]] const Cell* operand(const Cell* cells, uint32_t& pos, Cell& acc, uint32_t depth) {
        const Cell* v = cells + pos++;
        uint32_t t = type_of(*v);
        if (t == type_word) {
            v = value_of(*v);
            if (!v) return nullptr;
            t = type_of(*v);
        } else if (t == type_paren) {
            return paren(v->w2, v->w1, acc, depth) ? &acc : nullptr;
        }
        return number_type(t) ? v : nullptr;
    }

    // The value of a paren (or block) holding exactly one quiet expression,
    // into `out`.
    [[gnu::noinline]] bool paren(NodeId code, uint32_t from, Cell& out, uint32_t depth) {
        if (depth >= quiet_nesting) return false;
        QuietCode inner = quiet_code(code, UINT32_MAX);
        uint32_t pos = from;
        if (pos >= inner.end) return false;
        const Cell* v = expression(inner.cells, inner.end, pos, out, depth + 1);
        if (!v || pos != inner.end) return false;
        if (v != &out) out = *v;
        return true;
    }

    // The rarer operand pairs (floats, chars, overflow); `out` may be
    // either operand's cell.
    [[gnu::noinline]] static bool answer(fast_paths::InPlace how, Cell left, Cell right, Cell& out) {
        return fast_paths::answer_quietly(how, left, right, out);
    }

private:
    static constexpr NodeId no_context = UINT32_MAX;  // no node has it

    // A global value cell: never null, as global_ says (which tells the
    // compiler too).
    [[gnu::always_inline]] Cell* global_value(uint32_t index) {
        if (!globals_) __builtin_unreachable();
        return globals_ + index;
    }

    [[gnu::always_inline]] const Cell* stopped(uint32_t op_pos, const Cell& left, uint32_t depth) {
        if (depth == 0) {
            stopped_op_ = op_pos;
            stopped_left_ = left;
        }
        return nullptr;
    }

    [[gnu::always_inline]] void enter(NodeId context) {
        context_ = context;
        base_ = store_base_ = nullptr;
        if (!context) return;
        base_ = context_t::values_base(context);
        if (context_t::kind_of(*context_t::context_cell(context)) != context_t::kind_object) store_base_ = base_;
    }

    NodeId global_;
    Cell* globals_;
    NodeId context_ = 0;  // with no base: an unbound word has none
    Cell* base_ = nullptr;
    Cell* store_base_ = nullptr;
    uint32_t stopped_op_ = 0;
    Cell stopped_left_;
};

// Whether a run of the block would fire trace events (a trace is on for
// it, or it is the user's code entered from library code under a trace).
[[gnu::always_inline]] inline bool traced_run(const Cell& block) {
    if (detail::tracing) return true;
    if (!detail::trace_requested) return false;
    bool library = detail::library_block_q(block);
    return !library && !detail::in_library;
}

bool quiet_expression(QuietCode code, uint32_t& pos, Cell& out, uint32_t depth) {
    if (pos >= code.end) return false;
    QuietRun run;
    const Cell* v = run.expression(code.cells, code.end, pos, out, depth);
    if (!v) return false;
    if (v != &out) out = *v;
    return true;
}

}  // namespace

bool detail::quiet_value(QuietCode code, uint32_t& pos, Cell& out) {
    if (tracing || pos >= code.end) return false;
    const Cell* first = code.cells + pos;
    const Cell* v = type_of(*first) == type_word ? word_value_fast(*first) : first;
    if (v && number_type(type_of(*v)) && detail::quiet_pair(code, pos, *v, out)) return true;
    return quiet_expression(code, pos, out, 0);
}

namespace {

// The value of a whole block holding one quiet expression, when no trace
// would see its run (the caller checks for an interrupt).
bool quiet_paren(const Cell& paren, Cell& out, uint32_t depth) {
    if (traced_run(paren)) return false;
    QuietRun run;
    return run.paren(paren.w2, paren.w1, out, depth);
}

// The quiet value of the operand at the cursor (a paren, or a number
// standing or held by a word), moving past it; false otherwise. A paren
// that opens_quiet refuses is best not handed here: it is walked.
[[gnu::noinline]] bool quiet_operand_at(Cursor& at, Cell& out) {
    uint32_t pos = at.pos;
    QuietCode code = quiet_code(at.code.w2, at.tail);
    if (pos >= code.end) return false;
    const Cell* v = code.cells + pos;
    uint32_t t = type_of(*v);
    if (t == type_paren) {
        QuietRun run;
        if (!run.paren(v->w2, v->w1, out, 0)) return false;
    } else {
        // One operand alone: its word is looked up directly, without a walk's set-up.
        if (t == type_word && !(v = detail::word_value_fast(*v))) return false;
        if (!number_type(type_of(*v))) return false;
        out = *v;
    }
    at.pos = pos + 1;
    return true;
}

// Whether an expression that starts with this cell may be quiet: a number,
// a word holding one, or a set-word.
[[gnu::always_inline]] inline bool may_be_quiet(const Cell& first) {
    uint32_t t = type_of(first);
    if (t == type_word) {
        const Cell* v = detail::word_value_fast(first);
        return v && number_type(type_of(*v));
    }
    return t == type_set_word || number_type(t);
}

// Whether a statement that starts with this cell may be decoded for a
// loop body: one that may be quiet, or a conditional.
inline bool may_open_decoded(const Cell& first) {
    if (may_be_quiet(first)) return true;
    if (type_of(first) != type_word) return false;
    const Cell* v = detail::word_value_fast(first);
    return v && type_of(*v) == type_native && v->w1 <= natives::slot_of(natives::no::either);
}

// A whole expression of a block run, when it is quiet or a set-word with a
// quiet value that can be stored plainly: its value is pushed, the cursor
// moved past it. False (nothing done) otherwise; no trace is on.
// `code`: the cursor's code as peek_code gave it, `first` the cell at the
// cursor.
bool quiet_statement(Cursor& at, QuietCode code, const Cell& first) {
    if (type_of(first) == type_word) {
        // A word alone (a body such as [n]) is its number, without a walk.
        uint32_t after = at.pos + 1;
        if (!operator_at(after < code.end ? code.cells + after : nullptr)) {
            stack::push_copy(*detail::word_value_fast(first));
            at.pos = after;
            return true;
        }
    }
    QuietRun run;
    Cell value;
    uint32_t pos = at.pos;
    if (!run.statement(code.cells, code.end, pos, value)) return false;
    at.pos = pos;
    stack::push_copy(value);
    return true;
}

}  // namespace

namespace detail {

// ---- Decoded quiet statements ---------------------------------------------------
// A loop runs the same statements over and over. When they are quiet, they
// are decoded once into a program (cells to read, operations to apply,
// slots to store, conditionals to choose) that later steps run without
// walking the code. The program rests on what decoding read:
// - the code's cells: each block it read is kept as a copy, compared with
//   the code before a step (a loop body; in a while or until loop nothing
//   but the loop's own quiet statements runs while quiet_loop lasts, so
//   its code cannot change);
// - where values live: no buffer may have moved (the layout epoch) and
//   each context's values must start where they did;
// - what the words in operator position are (an operator, or not one, and
//   which `if`, `unless` or `either`): guard cells compared before a step,
//   and no set-word of the program may store into one.
// Operands are read afresh and checked to be numbers, and answers are
// computed as the walk computes them, so a step that stops being quiet
// stops at the same statement, nothing of it stored, the statements
// before it done. A branch is decoded only when it is one statement, so
// a conditional that stops being quiet has done nothing either.
class QuietProgram {
public:
    enum Part : uint32_t { test_part, body_part };

    bool ready() const { return ready_; }

    // Decodes the statements of a while or until loop's test (and body,
    // `bodies.cells` null for none) from their positions on; ready() tells
    // whether it worked.
    // With `conditionals`, statements of `if`, `unless` and `either` are
    // decoded too (the walk leaves them to the full evaluation).
    void decode(QuietRun& run, QuietCode tests, uint32_t test_from, QuietCode bodies, uint32_t body_from,
                bool conditionals) {
        reset();
        conditionals_ = conditionals;
        if (test_from >= tests.end || !block(run, tests, test_from)) return;  // an empty test is never quiet
        part_end_[test_part] = statements_;
        if (bodies.cells && !block(run, bodies, body_from)) return;
        part_end_[body_part] = statements_;
        ready_ = !overflow_ && stores_spare_guards();
    }

    // Decodes a loop body (from its index), keeping what a later step
    // checks (still_valid). `words`: the word or block of words the loop
    // native sets between steps, or null.
    void decode_body(QuietRun& run, const Cell& body, const Cell* words) {
        reset();
        keep_code_ = conditionals_ = true;
        body_ = body;
        QuietCode code = quiet_code(body.w2, UINT32_MAX);
        if (body.w1 >= code.end || !keep(body.w2, body.w1, code) || !block(run, code, body.w1)) return;
        part_end_[test_part] = 0;
        part_end_[body_part] = statements_;
        epoch_ = memory::layout_epoch();
        runs_ = block_runs;
        globals_ = context_t::global_values();
        ready_ = !overflow_ && stores_spare_guards() && loop_words_spare_guards(words);
    }

    // Whether a body decoded by decode_body still reads as it did, `runs`
    // the count of block runs now. Code, words and where a context's
    // values start change only when code runs: between two steps that ran
    // no block, only the loop's words have changed (none of them guarded)
    // and buffers may have moved.
    [[gnu::always_inline]] bool still_valid(const Cell& body, uint32_t runs) {
        if (body.w2 != body_.w2 || body.w1 != body_.w1 || memory::layout_epoch() != epoch_) return false;
        return runs == runs_ || still_valid_after_runs(runs);
    }

private:
    [[gnu::noinline]] bool still_valid_after_runs(uint32_t runs) {
        runs_ = runs;
        for (uint32_t k = 0; k < guards_; ++k) {
            const Guard& g = guard_[k];
            if (g.exact ? std::memcmp(g.cell, &g.expected, sizeof(Cell)) != 0 : type_of(*g.cell) == type_op)
                return false;
        }
        if (context_t::global_values() != globals_) return false;
        for (uint32_t k = 0; k < contexts_; ++k)
            if (context_t::values_base(context_[k].node) != context_[k].base) return false;
        for (uint32_t k = 0; k < regions_; ++k) {
            const Region& r = region_[k];
            memory::SeriesBuffer* b = memory::buffer_of(r.node);
            if (uint32_t(b->cells_end() - b->cells()) != r.from + r.count ||
                std::memcmp(b->cells() + r.from, kept_ + r.kept, r.count * sizeof(Cell)) != 0)
                return false;
        }
        return true;
    }

public:
    // Runs the statements of a part: true when all ran, `last` the last
    // one's value (unchanged for a part without statements); else false,
    // `from` the code position of the statement that is not quiet.
    [[gnu::always_inline]] bool run(Part part, Cell& last, uint32_t& from) {
        uint32_t k = part == test_part ? 0 : part_end_[test_part];
        for (uint32_t end = part_end_[part]; k < end; k = statement_[k].next) {
            const Statement& st = statement_[k];
            Cell value;
            if (!(st.conditional ? conditional(st, value) : plain(st, value))) {
                from = st.at;
                return false;
            }
            store_whole(last, value);
        }
        return true;
    }

private:
    static constexpr uint32_t max_ops = 48;
    static constexpr uint32_t max_statements = 16;
    static constexpr uint32_t max_kept = 64;   // code cells kept
    static constexpr uint32_t max_small = 8;   // regions, contexts
    static constexpr uint32_t max_guards = 16;

    // One operation: `left` and `right` are value cells (numbers in the
    // code, words' values, or earlier answers); the answer goes to `out`.
    struct Op {
        const Cell* left;
        const Cell* right;
        Cell* out;
        fast_paths::InPlace how;
    };
    // A statement: a quiet expression, maybe stored by a set-word, or a
    // conditional (its condition the expression) whose branches, one
    // statement each, follow it.
    struct Statement {
        Cell* slot;          // a set-word's value cell, or null
        const Cell* value;   // where its expression's value is once its operations ran
        uint32_t at;         // its first cell in the code
        uint32_t first;      // its operations
        uint32_t count;
        uint32_t next;       // the statement after it and its branches
        bool conditional;
        detail::ConditionalForm form;
    };
    struct Region {  // code cells read, kept from kept_[kept]
        NodeId node;
        uint32_t from, count, kept;
    };
    struct Guard {  // a word's value cell in operator position
        const Cell* cell;
        Cell expected;
        bool exact;  // the same value; else anything but an operator
    };
    struct Context {
        NodeId node;
        Cell* base;
    };

    void reset() {
        ready_ = keep_code_ = conditionals_ = overflow_ = false;
        ops_ = statements_ = temps_ = regions_ = guards_ = contexts_ = kept_count_ = 0;
    }

    [[gnu::always_inline]] static bool apply(const Op& o, Cell& out) {
        const Cell& left = *o.left;
        const Cell& right = *o.right;
        uint32_t t = type_of(left);
        // Two integers, or two chars compared (as answer_quietly does).
        if (t == type_of(right) && (t == type_integer || (t == type_char && o.how.kind == fast_paths::InPlace::compare)) &&
            fast_paths::answer_integers(o.how, int32_t(left.w2), int32_t(right.w2), out))
            return true;
        if (!number_type(t) || !number_type(type_of(right))) return false;
        // Through a cell of its own, so that `out` can stay out of memory.
        Cell answer;
        if (!QuietRun::answer(o.how, left, right, answer)) return false;
        out = answer;
        return true;
    }

    // The value of a statement's expression.
    [[gnu::always_inline]] bool expression(const Statement& st, Cell& value) const {
        if (st.count == 0) {
            value = *st.value;
            return number_type(type_of(value));  // a lone operand: nothing checked it
        }
        const Op* o = op_ + st.first;
        for (const Op* e = o + st.count - 1; o < e; ++o)
            if (!apply(*o, *o->out)) return false;
        return apply(*o, value);
    }

    [[gnu::always_inline]] bool plain(const Statement& st, Cell& value) const {
        if (!expression(st, value)) return false;
        // Stored whole: the next statement may copy it at once.
        if (st.slot) store_whole(*st.slot, value);
        return true;
    }

    // A conditional as quick_conditional takes it: its value is that of the
    // branch chosen, none when none is.
    [[gnu::noinline]] bool conditional(const Statement& st, Cell& value) const {
        Cell condition;
        if (!expression(st, condition) || !st.form.accepts(type_of(condition))) return false;
        bool truth = !logic_t::falsy(condition);
        uint32_t branch = uint32_t(&st - statement_) + 1;
        if (st.form.either) {
            if (!truth) branch = statement_[branch].next;
        } else if (truth != st.form.runs_when) {
            value = none_t::value;
            return true;
        }
        const Statement& b = statement_[branch];
        return b.conditional ? conditional(b, value) : plain(b, value);
    }

    bool block(QuietRun& run, QuietCode code, uint32_t pos) {
        while (pos < code.end)
            if (!statement(run, code, pos)) return false;
        return true;
    }

    // Decodes the statement at `pos` (< code.end), moving past it.
    bool statement(QuietRun& run, QuietCode code, uint32_t& pos) {
        if (statements_ == max_statements) return false;
        uint32_t index = statements_++;
        Statement st{};
        st.at = pos;
        st.first = ops_;
        const Cell& first = code.cells[pos];
        if (type_of(first) == type_set_word) {
            st.slot = run.slot_of(first);
            if (!st.slot || ++pos >= code.end) return false;
            note_context(first);
        } else if (conditionals_ && type_of(first) == type_word) {
            // A conditional: `if`, `unless` or `either` with literal
            // branches, each one statement.
            const Cell* native = run.value_of(first);
            if (native && type_of(*native) == type_native && detail::loop_conditional_form(*native, st.form)) {
                if (!guard(native, true)) return false;
                note_context(first);
                st.conditional = true;
                ++pos;
            }
        }
        st.value = expression(run, code.cells, code.end, pos, 0);
        if (!st.value) return false;
        st.count = ops_ - st.first;
        if (st.conditional) {
            if (!detail::literal_branches(st.form, code, pos)) return false;
            for (uint32_t k = 0; k < st.form.branches; ++k, ++pos)
                if (!branch(run, code.cells[pos])) return false;
            if (!terminator(run, code, pos)) return false;
        }
        st.next = statements_;
        statement_[index] = st;
        return true;
    }

    // A branch block holding exactly one statement.
    bool branch(QuietRun& run, const Cell& block) {
        QuietCode code = quiet_code(block.w2, UINT32_MAX);
        uint32_t pos = block.w1;
        return pos < code.end && keep(block.w2, pos, code) && statement(run, code, pos) && pos == code.end;
    }

    // As QuietRun::expression, emitting operations instead of computing:
    // answers the cell that will hold the expression's value, or null.
    // The operations of a statement run in the order emitted; nothing they
    // read changes while a statement runs, so reading a paren's operands
    // before its left neighbour's answer is computed changes nothing.
    const Cell* expression(QuietRun& run, const Cell* cells, uint32_t end, uint32_t& pos, uint32_t nesting) {
        const Cell* left = operand(run, cells, end, pos, nesting);
        if (!left) return nullptr;
        while (pos < end) {
            const Cell& name = cells[pos];
            if (type_of(name) != type_word) break;
            const Cell* op = run.value_of(name);
            if (!op || type_of(*op) != type_op) {
                if (!terminator_word(name, op)) return nullptr;
                break;
            }
            fast_paths::InPlace how = fast_paths::op_kind(*op);
            if (how.kind == fast_paths::InPlace::none || ++pos >= end || !guard(op, true)) return nullptr;
            note_context(name);
            const Cell* right = operand(run, cells, end, pos, nesting);
            if (!right || ops_ == max_ops || temps_ == max_ops) return nullptr;
            Cell* out = &temp_[temps_++];
            op_[ops_++] = Op{left, right, out, how};
            left = out;
        }
        return left;
    }

    const Cell* operand(QuietRun& run, const Cell* cells, uint32_t end, uint32_t& pos, uint32_t nesting) {
        const Cell* v = cells + pos++;
        uint32_t t = type_of(*v);
        if (t == type_paren) {
            if (nesting >= quiet_nesting) return nullptr;
            QuietCode inner = quiet_code(v->w2, UINT32_MAX);
            uint32_t at = v->w1;
            if (at >= inner.end || !keep(v->w2, at, inner)) return nullptr;
            const Cell* value = expression(run, inner.cells, inner.end, at, nesting + 1);
            return at == inner.end ? value : nullptr;
        }
        if (t == type_word) {
            note_context(*v);
            v = run.value_of(*v);
            if (!v) return nullptr;
            t = type_of(*v);
        }
        return number_type(t) ? v : nullptr;
    }

    // What follows a conditional's branches, checked as literal_branches
    // checks it.
    bool terminator(QuietRun& run, QuietCode code, uint32_t pos) {
        if (pos >= code.end || type_of(code.cells[pos]) != type_word) return true;
        return terminator_word(code.cells[pos], run.value_of(code.cells[pos]));
    }

    // A word ending an expression: not an operator, on later steps too.
    bool terminator_word(const Cell& word, const Cell* value) {
        if (!value) return true;  // unbound: the kept code keeps it so
        note_context(word);
        return guard(value, false);
    }

    // Guards a word's value cell. Within one run of a while or until loop
    // the guards are never compared (nothing runs there but the loop's own
    // statements), but no set-word may store into one.
    bool guard(const Cell* cell, bool exact) {
        for (uint32_t k = 0; k < guards_; ++k)
            if (guard_[k].cell == cell && guard_[k].exact == exact) return true;
        if (guards_ == max_guards) return false;
        guard_[guards_++] = Guard{cell, *cell, exact};
        return true;
    }

    // Keeps the code cells of a block from `from` to its end.
    bool keep(NodeId node, uint32_t from, QuietCode code) {
        if (!keep_code_) return true;
        uint32_t count = code.end - from;
        if (regions_ == max_small || kept_count_ + count > max_kept) return false;
        region_[regions_++] = Region{node, from, count, kept_count_};
        std::memcpy(kept_ + kept_count_, code.cells + from, count * sizeof(Cell));
        kept_count_ += count;
        return true;
    }

    // Remembers where the values of a word's context start (the global
    // context's are checked apart).
    void note_context(const Cell& word) {
        if (!keep_code_ || !word.w1 || word.w1 == context_t::global_context) return;
        for (uint32_t k = 0; k < contexts_; ++k)
            if (context_[k].node == word.w1) return;
        if (contexts_ == max_small) {
            overflow_ = true;
            return;
        }
        context_[contexts_++] = Context{word.w1, context_t::values_base(word.w1)};
    }

    // No loop word is guarded: the loop native sets them between steps
    // without running code.
    bool loop_words_spare_guards(const Cell* words) const {
        if (!words) return true;
        const Cell* first = words;
        uint32_t count = 1;
        if (type_of(*words) == type_block) {
            QuietCode code = quiet_code(words->w2, UINT32_MAX);
            if (words->w1 >= code.end) return true;
            first = code.cells + words->w1;
            count = code.end - words->w1;
        }
        for (uint32_t i = 0; i < count; ++i) {
            const Cell* slot = type_of(first[i]) == type_word ? detail::word_value_fast(first[i]) : nullptr;
            for (uint32_t g = 0; slot && g < guards_; ++g)
                if (guard_[g].cell == slot) return false;
        }
        return true;
    }

    // No set-word of the program stores into a guarded cell.
    bool stores_spare_guards() const {
        for (uint32_t k = 0; k < statements_; ++k)
            for (uint32_t g = 0; g < guards_; ++g)
                if (statement_[k].slot && statement_[k].slot == guard_[g].cell) return false;
        return true;
    }

    bool ready_ = false;
    bool keep_code_ = false;
    bool conditionals_ = false;
    bool overflow_ = false;
    uint32_t ops_ = 0, statements_ = 0, temps_ = 0;
    uint32_t regions_ = 0, guards_ = 0, contexts_ = 0, kept_count_ = 0;
    uint32_t part_end_[2] = {0, 0};
    uint32_t epoch_ = 0;
    uint32_t runs_ = 0;  // block runs when the code was last compared
    Cell* globals_ = nullptr;
    Cell body_{};
    Op op_[max_ops];
    Statement statement_[max_statements];
    Cell temp_[max_ops];
    Region region_[max_small];
    Guard guard_[max_guards];
    Context context_[max_small];
    Cell kept_[max_kept];
};

}  // namespace detail

namespace {
// The walk of quiet_block_run, once its first cell may open a quiet
// statement.
[[gnu::noinline]] uint32_t quiet_block_walk(const Cell& block, Cell& last) {
    if (interrupt::requested() || traced_run(block)) return block.w1;
    QuietCode code = quiet_code(block.w2, UINT32_MAX);
    uint32_t pos = block.w1;
    QuietRun run;
    return run.statements(code, pos, last) ? quiet_all : pos;
}
}  // namespace

uint32_t quiet_block_run(const Cell& block, Cell& last) {
    // Most blocks open with a call: their first cell tells them apart.
    memory::SeriesBuffer* b = memory::buffer_of(block.w2);
    const Cell* first = b->cells() + block.w1;
    if (first >= b->cells_end() || !may_be_quiet(*first)) return block.w1;
    if (first + 1 == b->cells_end() && type_of(*first) == type_word) {
        // A block holding one word (that holds a number, as may_be_quiet
        // said) is read without a walk's set-up: a branch such as [n].
        if (interrupt::requested() || traced_run(block)) return block.w1;
        last = *detail::word_value_fast(*first);
        return quiet_all;
    }
    return quiet_block_walk(block, last);
}

QuietBody::~QuietBody() { delete program_; }

uint32_t QuietBody::run(const Cell& body, const Cell* words, Cell& last) {
    if (interrupt::requested() || traced_run(body)) return body.w1;
    if (!program_ || !program_->ready() || !program_->still_valid(body, block_runs)) {
        // A body that opens with a call (most do) is not looked at again.
        memory::SeriesBuffer* b = memory::buffer_of(body.w2);
        const Cell* first = b->cells() + body.w1;
        if (first >= b->cells_end() || !may_open_decoded(*first)) {
            given_up_ = true;
            return body.w1;
        }
        // A program that keeps failing to decode, or that the steps keep
        // changing, is left to the walk.
        if (program_ && program_->ready() && steps_ < 8) ++failures_;
        if (failures_ >= 3) {
            given_up_ = true;
            return body.w1;
        }
        if (!program_) program_ = new detail::QuietProgram;
        QuietRun run;
        program_->decode_body(run, body, words);
        steps_ = 0;
        if (!program_->ready()) {
            ++failures_;
            return body.w1;
        }
    }
    ++steps_;
    uint32_t from;
    return program_->run(detail::QuietProgram::body_part, last, from) ? quiet_all : from;
}

QuietLoop quiet_loop(const Cell& test, const Cell* body, bool stop_when, uint32_t& from, Cell& last,
                     bool* decodable) {
    from = test.w1;
    if (traced_run(test) || (body && traced_run(*body))) return QuietLoop::test;
    // Nothing a quiet statement does moves a buffer or changes a trace, so
    // the code's cells are found once for the whole loop; they are read
    // afresh on every step.
    QuietCode tests = quiet_code(test.w2, UINT32_MAX), bodies{};
    if (body) bodies = quiet_code(body->w2, UINT32_MAX);
    QuietRun run;
    detail::QuietProgram program;
    if (decodable && *decodable && !interrupt::requested()) {
        // Decoded before the first step, conditionals too: a loop that does
        // not decode is not tried again by its native.
        program.decode(run, tests, test.w1, bodies, body ? body->w1 : 0, true);
        *decodable = program.ready();
    }
    for (bool first = true;; first = false) {
        // The caller passed the safe point of the first step; a later step
        // whose safe point would do something is left to the caller.
        if (!first && collector::detail::gate) return QuietLoop::pause;
        if (interrupt::requested()) return QuietLoop::test;  // the test's run takes it
        if (program.ready()) {
            // A program that cannot take even the first step of a call is
            // not decoded again.
            if (!program.run(detail::QuietProgram::test_part, last, from)) {
                if (first && decodable) *decodable = false;
                return QuietLoop::test;
            }
            if (logic_t::falsy(last) != stop_when) return QuietLoop::ended;
            if (!program.run(detail::QuietProgram::body_part, last, from)) {
                if (first && decodable) *decodable = false;
                return QuietLoop::body;
            }
            continue;
        }
        uint32_t pos = test.w1;
        if (pos >= tests.end || !run.statements(tests, pos, last)) {
            from = pos;
            return QuietLoop::test;
        }
        if (logic_t::falsy(last) != stop_when) return QuietLoop::ended;
        if (body) {
            pos = body->w1;
            if (!run.statements(bodies, pos, last)) {
                from = pos;
                return QuietLoop::body;
            }
        }
        // A whole step ran quietly: the next ones run decoded, unless the
        // next step's safe point hands the loop back anyway.
        if (first && !collector::detail::gate) program.decode(run, tests, test.w1, bodies, body ? body->w1 : 0, false);
    }
}

namespace {

// set-word: the word is set to the value of the expression after it, in a
// frame named by the set-word (errors inside name it as their place).
// (A set-word whose value is quiet and stored plainly never comes here from
// a block run: set_word_run takes it.) `left`, `op`: the value's walk
// stopped at the operator at `op` with the value to its left
// (set_word_run), where the value's evaluation takes up.
Status eval_set_word(const Cell& word, Cursor& at, const Cell* left = nullptr, uint32_t op = 0) {
    frames::push_frame(word, frames::opener::interp_native);
    Cell* base = stack::push_copy(word);
    if (at.at_end()) raise_error(err_cat::script, script::need_value, base);
    uint32_t pos = at.pos;
    if (detail::tracing) {
        if (Status s = fire_at(event::push, at, pos - 1, base); s != Status::ok) return s;
    }
    Status value;
    if (left) {
        at.pos = op;
        value = detail::infix_after(at, stack::push_copy(*left));
    } else {
        value = detail::eval_value(at, 0);
    }
    if (value != Status::ok) return value;
    if (detail::tracing) {
        if (Status s = fire_at(event::set, at, pos, &stack::arg_base()[1], &stack::arg_base()[0]); s != Status::ok)
            return s;
    }
    if (store_plainly(stack::arg_base()[0], stack::arg_base()[1])) {
        stack::set_result(stack::arg_base()[1]);
    } else {
        // A store may run an object's on-change* handler: an exit leaving it
        // comes back as the status (datatypes/unwind.h).
        if (Status s = unwind::catch_status([] { word_t::set_from_args(); }); s != Status::ok) return s;
    }
    frames::frame_close();
    return Status::ok;
}

// set-path: the path is stored into with the value of the next expression.
Status eval_set_path(const Cell& path, Cursor& at) {
    frames::push_frame(fixed::word_set_path, frames::opener::interp_native);
    Cell* base = stack::push_copy(path);
    if (at.at_end()) raise_error(err_cat::script, script::need_value, base);
    uint32_t pos = at.pos;
    if (detail::tracing) {
        if (Status s = fire_at(event::push, at, pos - 1, base); s != Status::ok) return s;
    }
    if (Status s = detail::eval_value(at, 0); s != Status::ok) return s;
    if (detail::tracing) {
        if (Status s = fire_at(event::set, at, pos, &stack::arg_base()[1], &stack::arg_base()[0]); s != Status::ok)
            return s;
    }
    // The value stays in its stack slot while the path is walked: a change
    // handler may collect, and only a rooted cell follows a moved series.
    if (Status s = unwind::catch_status(
            [&] { return detail::eval_path(stack::arg_base()[0], &at, type_set_path, &stack::arg_base()[1]); });
        s != Status::ok)
        return s;
    stack::reset_with_result(stack::arg_base()[1]);
    frames::frame_close();
    return Status::ok;
}

// Pushes the value that the code at the cursor (the value just passed) gives
// without a call; a trace sees it pushed. A call's result, a paren's and an
// assignment's reach the trace by their own return, exit and set events.
[[gnu::always_inline]] inline Status push_value(const Cursor& at, const Cell& v) {
    stack::push_copy(v);
    return detail::tracing ? fire_at(event::push, at, at.pos - 1, stack::top_cell()) : Status::ok;
}

// The value standing at the cursor (already copied out), before any infix.
Status eval_primary(Cursor& at, const Cell& value, uint32_t how) {
    switch (type_of(value)) {
        case type_paren:
            return detail::eval_paren(value);
        case type_word: {
            const Cell* bound = detail::word_value_fast(value);
            const Cell& v = bound ? *bound : *word_t::get(value);
            uint32_t t = type_of(v);
            if (t == type_unset) raise_error(err_cat::script, script::no_value, &value);
            if (callable_type(t)) {
                Cell callable = v;
                return detail::call_from_code(callable, at, value);
            }
            if (t == type_op) raise_error(err_cat::script, script::no_op_arg, &value);
            return push_value(at, v);
        }
        case type_set_word:
            return eval_set_word(value, at);
        case type_lit_word: {
            Cell w = value;
            set_type(w, type_word);
            clear_new_line_flag(w);
            return push_value(at, w);
        }
        case type_get_word:
            return push_value(at, word_value(value));
        case type_issue: {
            int32_t sym = symbol_t::resolve_alias(int32_t(value.w2));
            if (!at.at_end() && type_of(at.value()) == type_block &&
                (sym == symbol_t::resolve_alias(fixed::sym_system) ||
                 sym == symbol_t::resolve_alias(fixed::sym_system_global)))
                raise_error(err_cat::internal, err_id::internal::vyr_system);
            return push_value(at, value);
        }
        case type_native:
        case type_action:
        case type_function:
        case type_routine: {
            if (how & expr::callables_as_values) {
                return push_value(at, value);
            }
            Cell callable = value;
            return detail::call_from_code(callable, at, frames::markers().anon);
        }
        case type_op:
            raise_error(err_cat::internal, err_id::internal::not_done);
        case type_path:
            return detail::eval_path(value, &at, type_path, nullptr);
        case type_lit_path: {
            Cell p = value;
            set_type(p, type_path);
            p.w3 = 0;
            return push_value(at, p);
        }
        case type_set_path:
            return eval_set_path(value, at);
        case type_get_path:
            return detail::eval_path(value, &at, type_get_path, nullptr);
        default:
            return push_value(at, value);
    }
}

}  // namespace

// ---- Expressions ------------------------------------------------------------------

// The block's evaluation frame alone: closing it leaves the value where the
// frame began, pushed.
Status detail::eval_paren(const Cell& paren) { return eval_block(frames::markers().body, paren, false); }

namespace {

// The value of an infix operator's right operand, pushed: eval_value's
// course (no infix), with a paren or a word holding a callable taken
// straight to its evaluation when no trace is on and no safe point is due.
[[gnu::always_inline]] inline Status right_operand(Cursor& at) {
    const Cell* c = detail::tracing || collector::detail::gate ? nullptr : at.peek();
    if (c) {
        if (type_of(*c) == type_paren) {
            Cell paren = *c;
            ++at.pos;
            return detail::eval_paren(paren);
        }
        const Cell* v = type_of(*c) == type_word ? detail::word_value_fast(*c) : nullptr;
        if (v && callable_type(type_of(*v))) {
            Cell callable = *v;
            Cell name = *c;
            ++at.pos;
            return detail::call_from_code(callable, at, name);
        }
    }
    return detail::eval_value(at, expr::no_infix);
}

// Applies the infix operator `op` (its wrapped callable) to the left
// operand at `left` and the value after it, in the operator's frame as the
// full call opens it. Numbers answer in place; anything else completes the
// call with the operands already fetched, so its errors are the call's own.
Status apply_operator(Cursor& at, const Cell& op, fast_paths::InPlace how, const Cell& name, Cell* left) {
    stack::set_top(left);
    frames::push_frame(type_of(name) == type_word ? name : frames::markers().anon, frames::opener::interp_native);
    stack::set_top(left + 1);
    collector::Held held(2);  // the operator and its name, for the full call after the operand ran
    held[0] = op;
    held[1] = name;
    if (Status s = right_operand(at); s != Status::ok) return s;
    Cell out;
    if (fast_paths::apply_in_place(how, left[0], left[1], out)) {
        left[0] = out;
        frames::frame_close();
        return Status::ok;
    }
    return detail::finish_operator(held[0], held[1]);
}

}  // namespace

namespace {

// The infix operators after a value pushed at `start`, applied left to
// right; the answer replaces it.
// Whether an operand may be quiet, as quiet_operand_at would take it: a
// number, a word holding one, or a paren that opens_quiet lets through.
[[gnu::always_inline]] inline bool quiet_operand_q(const Cell& operand) {
    uint32_t t = type_of(operand);
    if (t == type_word) {
        const Cell* v = detail::word_value_fast(operand);
        return v && number_type(type_of(*v));
    }
    return t == type_paren ? detail::opens_quiet(operand, true) : number_type(t);
}

[[gnu::always_inline]] inline Status infix_loop(Cursor& at, Cell* start) {
    using namespace detail;
    for (;;) {
        QuietCode code;
        const Cell* next = peek_code(at, code);
        const Cell* op_value = operator_at(next);
        if (!op_value) break;
        Cell op = *op_value;
        Cell name = *next;
        uint32_t op_pos = at.pos;
        ++at.pos;
        if (tracing) {
            if (Status s = fire_at(event::fetch, at, op_pos, &name); s != Status::ok) return s;
            // The callback may have moved everything: read the operator again.
            name = *memory::cell_at(at.code.w2, op_pos);
            const Cell* again = detail::word_value_fast(name);
            if (!again || type_of(*again) != type_op) raise_error(err_cat::script, script::no_op_arg, &name);
            op = *again;
        }
        op = unwrap_op(op);
        stack::set_top(start + 1);  // the left operand alone above the start
        // Without a trace nothing ran since the look at the operator: the
        // operand is read from the same look.
        const Cell* operand = tracing || at.pos >= code.end ? nullptr : code.cells + at.pos;
        fast_paths::InPlace in_place = operand ? fast_paths::infix_op(op) : fast_paths::InPlace{};
        if (in_place.kind != fast_paths::InPlace::none) {
            // A number standing as the right operand, or a word holding one,
            // cannot fail to evaluate: no frame is needed to name the
            // operator when the answer cannot raise either.
            Cell right, out;
            uint32_t operand_pos = at.pos;
            bool quiet_right = quiet_operand_q(*operand);
            if (quiet_right && quiet_operand_at(at, right) &&
                fast_paths::answer_quietly(in_place, start[0], right, out)) {
                start[0] = out;
                continue;
            }
            at.pos = operand_pos;
            if (Status s = apply_operator(at, op, in_place, name, start); s != Status::ok) return s;
            continue;
        }
        ArgSource src{&at};
        if (Status s = call_callable(op, src, name, nullptr, 0, call_mode::code, true); s != Status::ok) return s;
    }
    return Status::ok;
}

}  // namespace

// infix_loop kept out of line, for statements that mostly have no
// operator after their value.
[[gnu::noinline]] Status detail::infix_after(Cursor& at, Cell* start) { return infix_loop(at, start); }

Status detail::eval_value(Cursor& at, uint32_t how) {
    collector::safe_point();
    Cell* start = stack::top();
    uint32_t pos = at.pos;
    Cell value = at.value();
    ++at.pos;
    if (tracing) {
        if (Status s = fire_at(event::fetch, at, pos, &value); s != Status::ok) return s;
        value = *memory::cell_at(at.code.w2, pos);  // the callback may have moved everything
    }
    if (Status s = eval_primary(at, value, how); s != Status::ok) return s;
    if (how & expr::no_infix) return Status::ok;
    return infix_loop(at, start);
}

namespace {

// A statement opening with a paren, evaluated as eval_value would: its
// safe point having nothing to do, the paren runs at once, its infix
// operators after it.
[[gnu::noinline]] Status paren_statement(Cursor& at, const Cell& paren_in) {
    if (collector::detail::gate) return detail::eval_value(at, 0);
    Cell* start = stack::top();
    Cell paren = paren_in;
    ++at.pos;
    if (Status s = detail::eval_paren(paren); s != Status::ok) return s;
    return infix_loop(at, start);
}

// A set-word statement, no trace on: done in place when it is quiet (as
// quiet_statement), else as eval_value runs it. When the walk stopped at an
// operator after a quiet first operand, the value's evaluation takes up
// there with the value the walk found to its left: the full evaluation
// would have computed the same, with nothing run or seen meanwhile (a paren
// among the operands walked would take an interrupt at its block's run, so
// a waiting interrupt sends the statement the full way).
[[gnu::noinline]] Status set_word_run(Cursor& at, QuietCode code, const Cell& first) {
    QuietRun run;
    Cell value;
    uint32_t pos = at.pos;
    if (run.statement(code.cells, code.end, pos, value)) {
        at.pos = pos;
        stack::push_copy(value);
        return Status::ok;
    }
    if (collector::detail::gate) return detail::eval_value(at, 0);
    Cell* start = stack::top();
    Cell word = first;
    Cell left;
    uint32_t op = run.stopped_at(left);
    if (interrupt::requested()) op = 0;
    ++at.pos;
    if (Status s = eval_set_word(word, at, op ? &left : nullptr, op); s != Status::ok) return s;
    return operator_at(at.peek()) ? detail::infix_after(at, start) : Status::ok;
}

// A statement of a block run, no trace on, `first` its first cell at the
// cursor in `code`: eval_value's course, with the word or set-word that
// leads it looked at once. A word holding a number may open a quiet
// statement, one holding if, unless or either a quick conditional, one
// holding a callable is called at once; a set-word that is not quiet goes
// straight to its store. The safe point comes first, as in eval_value:
// while one is due the statement takes eval_value itself.
[[gnu::always_inline]] inline Status statement(Cursor& at, QuietCode code, const Cell* first) {
    uint32_t t = type_of(*first);
    if (t == type_word) {
        const Cell* v = detail::word_value_fast(*first);
        if (!v) return detail::eval_value(at, 0);
        uint32_t vt = type_of(*v);
        Status s;
        if (vt == type_native && detail::quick_conditional(at, code, *first, s)) return s;
        if (callable_type(vt)) return detail::call_statement(at, *v, *first);
        if (number_type(vt) && quiet_statement(at, code, *first)) return Status::ok;
        return detail::eval_value(at, 0);
    }
    if (t == type_paren) return paren_statement(at, *first);
    if (t == type_set_word) return set_word_run(at, code, *first);
    if (number_type(t) && quiet_statement(at, code, *first)) return Status::ok;
    return detail::eval_value(at, 0);
}

}  // namespace

bool detail::push_inert(Cursor& at, QuietCode code, const Cell* v) {
    if (tracing) return false;
    Cell value;
    switch (type_of(*v)) {
        case type_word: {
            // A word holding a value that is not called is read as it stands.
            const Cell* held = detail::word_value_fast(*v);
            if (!held) return false;
            uint32_t t = type_of(*held);
            if (number_type(t)) {
                // Alone, or the left operand of a quiet expression.
                uint32_t pos = at.pos;
                bool word_after = pos + 1 < code.end && type_of(code.cells[pos + 1]) == type_word;
                if (word_after && detail::quiet_pair(code, pos, *held, value)) {
                    // one operator and its number: done
                } else if (word_after && operator_at(code.cells + pos + 1)) {
                    if (!quiet_expression(code, pos, value, 0)) return false;
                } else {
                    value = *held;
                    ++pos;
                }
                at.pos = pos;
                stack::push_copy(value);
                return true;
            }
            if (t == type_unset || t == type_op || callable_type(t)) return false;
            value = *held;
            break;
        }
        case type_paren: {
            // A paren of numbers, with the infix operators after it.
            if (!detail::opens_quiet(*v, true)) return false;
            uint32_t pos = at.pos;
            if (!quiet_expression(code, pos, value, 0)) return false;
            at.pos = pos;
            stack::push_copy(value);
            return true;
        }
        case type_set_word: case type_get_word: case type_lit_word:
        case type_issue: case type_native: case type_action: case type_function: case type_routine:
        case type_op: case type_path: case type_lit_path: case type_set_path: case type_get_path:
            return false;
        default:
            value = *v;
            break;
    }
    uint32_t from = at.pos++;
    if (operator_at(at.pos < code.end ? code.cells + at.pos : nullptr)) {
        // A number with infix operators after it: pushed when the whole
        // expression is quiet.
        at.pos = from;
        if (!number_type(type_of(value))) return false;
        uint32_t pos = from;
        if (!quiet_expression(code, pos, value, 0)) return false;
        at.pos = pos;
    }
    stack::push_copy(value);
    return true;
}

Status eval_expression(Cursor& at, uint32_t how) {
    uint32_t pos = at.pos;
    if (Status s = detail::eval_value(at, how); s != Status::ok) return s;
    if (!(how & expr::push)) {
        stack::reset_with_result(*stack::top_cell());
        if (detail::tracing) return fire_at(event::expr, at, pos, stack::arg_base());
    }
    return Status::ok;
}

// A block runs in a base of its own, as if in a frame of its own: its
// result slot is the top at entry. A frame named `word` is pushed only for
// the outermost evaluation (whose errors then name `<not-found>` as their
// place): a `<body>` frame never shows in a report, and a break, return or
// throw that leaves the block unrolls to a frame further out, which records
// its own base. The enclosing position is kept beside the block in the
// cursor's held cells and put back however the run ends.
Status eval_block(const Cell& word, const Cell& block, bool copy_result) {
    ++block_runs;
    memory::SeriesBuffer* buffer = memory::buffer_of(block.w2);
    if (bool(buffer->flags & memory::flag::boot_origin) != detail::in_library) [[unlikely]]
        return detail::eval_block_crossing(word, block, copy_result);
    QuietCode code{buffer->cells(), uint32_t(buffer->cells_end() - buffer->cells())};
    Cursor at(block, position_cell, code.end);
    struct Restore {
        Cursor& at;
        ~Restore() { position_cell = at.kept(); }
    } restore{at};
    bool outermost = frames::depth() == 0;
    if (outermost) [[unlikely]] frames::frame_open_eval(word);
    Cell* caller_base = stack::arg_base();
    Cell* base = stack::top();
    stack::set_arg_base(base);
    // The first cell of the next expression (null at the end), in `code`.
    const Cell* next = at.pos < code.end ? code.cells + at.pos : nullptr;
    if (interrupt::requested() || detail::tracing) [[unlikely]] {
        if (interrupt::requested()) {
            if (Status s = interrupt::take(); s != Status::ok) return s;
        }
        if (detail::tracing) {
            if (Status s = fire_at(event::enter, at, at.pos, nullptr); s != Status::ok) return s;
        }
        next = peek_code(at, code);
    }
    if (!next) {
        stack::reset_with_result(unset_t::value);
    } else {
        position_cell = at.code;
        for (;;) {
            position_cell.w1 = at.pos;
            if (detail::tracing) [[unlikely]] {
                if (Status s = eval_expression(at, 0); s != Status::ok) return s;
                next = peek_code(at, code);
                if (!next) break;
                stack::stack_reset();
                continue;
            }
            // Only the last expression's value is kept, as the result.
            if (Status s = statement(at, code, next); s != Status::ok) return s;
            next = peek_code(at, code);
            if (!next) {
                stack::reset_with_result(*stack::top_cell());
                break;
            }
            stack::stack_reset();
        }
    }
    if (detail::tracing) [[unlikely]] {
        if (Status s = fire_at(event::exit, at, at.pos, base); s != Status::ok) return s;
    }
    // As a frame's close: the result stays pushed in the block's first cell;
    // copied, it also lands in the caller's result slot.
    stack::set_arg_base(caller_base);
    stack::set_top(base + 1);
    if (outermost) [[unlikely]] {
        if (copy_result) frames::frame_return();
        else frames::frame_close();
        return Status::ok;
    }
    if (copy_result) *caller_base = *base;
    return Status::ok;
}

Status do_block(const Cell& block) { return eval_block(frames::markers().body, block, true); }

bool quiet_block_value(const Cell& block, Cell& out) {
    if (detail::tracing || interrupt::requested()) return false;
    return quiet_paren(block, out, 0);
}

Status eval_next(Cursor& at, uint32_t how) {
    frames::push_frame(frames::markers().body, frames::opener::interp_native);
    if (Status s = eval_expression(at, 0); s != Status::ok) return s;
    if (how & expr::push) frames::frame_close();
    else frames::frame_return();
    return Status::ok;
}

Status eval_next_index(const Cell& block, uint32_t& next) {
    Cursor at(block);
    next = block.w1;
    if (at.at_end()) {
        stack::reset_with_result(unset_t::value);
        return Status::ok;
    }
    PositionSave save;
    position_cell = at.here();
    if (Status s = eval_expression(at, 0); s != Status::ok) return s;
    next = at.pos;
    return Status::ok;
}

Status eval_path_value(const Cell& path, uint32_t how) {
    Cursor none_left(path, memory::series_length(path.w2), memory::series_length(path.w2));
    if (Status s = detail::eval_path(path, &none_left, type_path, nullptr); s != Status::ok) return s;
    if (!(how & expr::push)) stack::reset_with_result(*stack::top_cell());
    return Status::ok;
}

Status eval_call(const Cell& callable, Cursor& args, const Cell& name, const Cell* path, uint32_t path_index,
                 uint32_t mode, uint32_t how) {
    Cell c = type_of(callable) == type_op ? detail::unwrap_op(callable) : callable;
    detail::ArgSource src{&args};
    if (Status s = detail::call_callable(c, src, name, path, path_index, mode, false); s != Status::ok) return s;
    if (!(how & expr::push)) stack::reset_with_result(*stack::top_cell());
    return Status::ok;
}

// ---- Paths ------------------------------------------------------------------------

namespace {

bool any_block_type(uint32_t t) {
    return t == type_block || t == type_paren || t == type_hash || t == type_path || t == type_lit_path ||
           t == type_set_path || t == type_get_path;
}

// Writes the binding that path access gave a path element (`bound`) into
// the path's own cell, when that cell still holds the same word.
void keep_binding(const Cell& path, uint32_t at, const Cell& element, const Cell& bound) {
    if (at >= memory::series_length(path.w2)) return;
    Cell* stored = memory::cell_at(path.w2, at);
    if (type_of(*stored) != type_of(element) || stored->w2 != element.w2) return;
    stored->w1 = bound.w1;
    stored->w3 = bound.w3;
}

// A set-path through a value held wholly in its cell (a time, a date, a
// pair...) changes the walk's copy of it: the copy goes back into the cell
// it came from (a word, an object field, a series cell), and a date whose
// time was changed goes back into its own holder in turn.
void write_back(Cell* cells, bool has_grand, bool has_great) {
    if (!has_grand) {
        scalar_support::store_back(nullptr, cells[4], cells[1]);
        return;
    }
    scalar_support::store_back(&cells[2], cells[4], cells[1]);
    if (scalar_support::held_in_cell_q(type_of(cells[2])))
        scalar_support::store_back(has_great ? &cells[5] : nullptr, cells[6], cells[2]);
}

}  // namespace

// The walk keeps its cells on the argument stack from the top at entry:
// [0] the path, [1] the parent, [2] the grand-parent, [3] the element being
// used, [4] the previous element, [5] the great-grand-parent and [6] the
// element before the previous one (both for writing back a set-path). The
// answer replaces them all.
Status detail::eval_path(const Cell& path_value, Cursor* at, uint32_t kind, const Cell* value) {
    Cell* cells = stack::top();
    stack::push_copy(path_value);
    for (int k = 0; k < 6; ++k) stack::push_copy(none_t::value);
    Cell* const path = cells;
    Cell& previous = cells[4];
    bool set_mode = kind == type_set_path, get_mode = kind == type_get_path;
    NodeId node = path->w2;
    uint32_t first = path->w1, end = memory::series_length(node);
    uint32_t count = end > first ? end - first : 0;
    if (count == 0) raise_error(err_cat::script, script::empty_path);
    Cell head = *memory::cell_at(node, first);
    if (type_of(head) != type_word) raise_error(err_cat::script, script::word_first, path);
    if (tracing) {
        // Each callback may move everything: the head is read again after it.
        if (Status s = trace::fire(event::enter, path, first, nullptr, nullptr); s != Status::ok) return s;
        head = *memory::cell_at(path->w2, first);
        if (Status s = trace::fire(event::fetch, path, first, &head, nullptr); s != Status::ok) return s;
        head = *memory::cell_at(path->w2, first);
    }
    const Cell& start = word_value(head);
    uint32_t t = type_of(start);
    if (t == type_unset) raise_error(err_cat::script, script::unset_path, path, &head);
    if (callable_type(t)) {
        if (set_mode) raise_error(err_cat::script, script::invalid_path_set, path);
        if (get_mode) raise_error(err_cat::script, script::invalid_path_get, path);
        Cell callable = start;
        Cell p = *path;
        stack::set_top(cells);
        ArgSource src{at};
        return call_callable(callable, src, head, &p, 1, call_mode::code, false);
    }
    cells[1] = start;
    bool has_grand = false, has_great = false;
    // A word bound to an object's context gives that object as the first
    // grand-parent (so a change to a field of it notifies the object).
    if (head.w1 && head.w1 != context_t::global_context) {
        const Cell* self = context_t::self_slot(head.w1);
        if (type_of(*self) == type_object) {
            cells[2] = *self;
            has_grand = true;
        }
    }
    previous = head;
    for (uint32_t i = 1; i < count; ++i) {
        node = path->w2;
        if (first + i >= memory::series_length(node)) break;  // the path shrank under its own parens
        // The element is used from its copy on the stack: a trace callback,
        // a paren or a change handler may move the path's buffer.
        Cell& used = cells[3];
        used = *memory::cell_at(node, first + i);
        uint32_t et = type_of(used);
        bool from_path = et != type_get_word && et != type_paren;
        if (et == type_get_word) {
            used = word_value(used);
        } else if (et == type_paren) {
            Cell paren = used;
            if (Status s = eval_paren(paren); s != Status::ok) return s;
            used = *stack::top_cell();
            stack::set_top(cells + 7);
        }
        if (type_of(used) == type_unset) raise_error(err_cat::script, script::invalid_path, path, &used);
        if (tracing) {
            if (Status s = trace::fire(event::fetch, path, first + i, &used, nullptr); s != Status::ok) return s;
        }
        bool last = i + 1 == count;
        bool event = false;
        if (last && set_mode && count >= 3 && has_grand) {
            uint32_t gt = type_of(cells[2]);
            event = (gt == type_object && cells[2].w3 != 0 && type_of(previous) == type_word) || any_block_type(gt);
        }
        Cell element = used;
        Cell* answer = actions::path_access(&cells[1], &used, last && set_mode ? const_cast<Cell*>(value) : nullptr,
                                            path, has_grand ? &cells[2] : nullptr, &previous, int32_t(i), false,
                                            get_mode, last, event);
        // An object keeps the field binding it found in the path's own word.
        if (from_path && (used.w1 != element.w1 || used.w3 != element.w3)) keep_binding(*path, first + i, element, used);
        Cell next = *answer;
        Cell used_now = used;  // the write-back can run an on-change handler, which may move the path
        if (last && set_mode && scalar_support::held_in_cell_q(type_of(cells[1]))) write_back(cells, has_grand, has_great);
        cells[5] = cells[2];
        cells[6] = previous;
        has_great = has_grand;
        previous = used_now;
        cells[2] = cells[1];
        has_grand = true;
        cells[1] = next;
        uint32_t nt = type_of(next);
        if (!set_mode && !get_mode && callable_type(nt)) {
            // The walk's cells are given up (the call's frame takes their
            // place); what the call needs is held across the exit event.
            collector::Held call(3);
            call[0] = next;
            call[1] = *path;
            call[2] = type_of(previous) == type_word ? previous : frames::markers().anon;
            stack::set_top(cells);
            if (tracing) {
                if (Status s = trace::fire(event::exit, &call[1], first + i, &call[0], nullptr); s != Status::ok)
                    return s;
            }
            ArgSource src{at};
            return call_callable(call[0], src, call[2], &call[1], i + 1, call_mode::code, false);
        }
    }
    if (tracing) {
        if (Status s = trace::fire(event::exit, path, first, &cells[1], nullptr); s != Status::ok) return s;
    }
    cells[0] = cells[1];
    stack::set_top(cells + 1);
    return Status::ok;
}

}  // namespace vyr::eval
