// The conditionals (if, unless, either, any, all, switch, case) and the
// evaluation natives (do, reduce, compose).
//
// Arguments are read from the argument stack by position, again after every
// evaluation (the stack never moves, but an evaluation may overwrite the
// result slot, which is the first argument). A block walked while its own
// code runs is held by an eval::Cursor, which roots a copy of it.
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "datatypes/actions.h"
#include "engine/control_support.h"
#include "engine/lexer.h"
#include "engine/natives.h"
#include "engine/natives_support.h"
#include "datatypes/checks.h"
#include "datatypes/errors.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "datatypes/fixed_words.h"
#include "runtime/memory.h"

namespace vyr::control {

Status eval_single(const Cell& value, bool push) {
    Cell holder = block_t::push_new(1)[0];
    block_t::append_value(holder, value);
    eval::Cursor at(holder);
    stack::pop_cells(1);
    return eval::eval_expression(at, push ? eval::expr::push : 0);
}

}  // namespace vyr::control

namespace vyr::natives {

using control::finish_frame;
using control::run_block;

namespace {
// A run that evaluated into the result slot: the native's stack is cut to it.
Status kept(Status s) {
    if (s == Status::ok) stack::stack_keep();
    return s;
}
}  // namespace

// ---- Conditionals ------------------------------------------------------------------
// if, unless, any and all take unset! as true; either and case raise on it.

Status if_(bool, const int32_t*) {
    if (logic_t::arg_false_q()) return answer(none_t::value);
    return kept(run_block(stack::arg_base()[1]));
}

Status unless(bool, const int32_t*) {
    if (!logic_t::arg_false_q()) return answer(none_t::value);
    return kept(run_block(stack::arg_base()[1]));
}

Status either(bool, const int32_t*) {
    Cell* args = stack::arg_base();
    return kept(run_block(logic_t::arg_true_q() ? args[1] : args[2]));
}

namespace {
// any (stop_when_true) and all: each expression's value lands in the result
// slot; the first that decides ends the walk.
Status any_or_all(bool stop_when_true) {
    eval::Cursor at(stack::arg_base()[0]);
    bool empty = at.at_end();
    while (!at.at_end()) {
        Status s = eval::eval_next(at, 0);
        if (s != Status::ok) return s;
        bool truthy = !logic_t::arg_false_q();
        if (truthy == stop_when_true) return truthy ? answer(*stack::arg_base()) : answer(none_t::value);
    }
    if (stop_when_true || empty) return answer(none_t::value);
    return answer(*stack::arg_base());
}
}  // namespace

Status any(bool, const int32_t*) { return any_or_all(true); }
Status all(bool, const int32_t*) { return any_or_all(false); }

// The first block after the value that matches, else the /default block,
// else none.
Status switch_(bool, const int32_t* refs) {
    checks::switch_find(true, true);
    Cell found = *stack::top_cell();
    stack::stack_keep();
    if (type_of(found) == type_block) return kept(run_block(found));
    if (refs[0] >= 0) return kept(run_block(stack::arg_base()[refs[0]]));
    return answer(none_t::value);
}

// Condition / body pairs in an `<anon>` frame, whose result slot takes each
// condition's and each body's value. A body is a block (evaluated) or any
// one expression; a falsy condition skips exactly one value.
Status case_(bool, const int32_t* refs) {
    bool all_cases = refs[0] >= 0;
    eval::Cursor at(stack::arg_base()[0]);
    frames::frame_open(frames::markers().anon);
    none_t::push();
    bool matched = false;
    while (!at.at_end()) {
        matched = false;
        Status s = eval::eval_next(at, 0);
        if (s != Status::ok) return s;
        if (at.at_end()) raise_error(err_cat::script, err_id::script::need_value, &fixed::word_case);
        if (!logic_t::arg_true_q()) {
            ++at.pos;
            continue;
        }
        matched = true;
        if (type_of(at.value()) == type_block) {
            Cell body = at.value();
            ++at.pos;
            stack::stack_reset();
            s = run_block(body);
        } else {
            s = eval::eval_next(at, 0);
        }
        if (s != Status::ok) return s;
        if (!all_cases) return finish_frame();
    }
    if (!matched) stack::reset_with_result(none_t::value);
    return finish_frame();
}

// ---- do ---------------------------------------------------------------------------

namespace {
// Refinement positions of `do`.
enum DoRef { do_expand = 0, do_args = 1, do_next = 2, do_trace = 3 };

// Installs a trace callback for the length of one `do`, unless a trace
// already runs (a nested do/trace then runs untraced); uninstalls it on
// every way out, an error included.
class TraceScope {
public:
    explicit TraceScope(const Cell* callback) {
        if (!callback || eval::trace::active()) return;
        eval::trace::install(*callback);
        installed_ = true;
    }
    ~TraceScope() {
        if (installed_) eval::trace::uninstall();
    }
    TraceScope(const TraceScope&) = delete;
    TraceScope& operator=(const TraceScope&) = delete;
    bool installed() const { return installed_; }

private:
    bool installed_ = false;
};

// One expression of the block from its index; the word is set to the block
// at the position after it. The value is the result.
Status do_next_expression(Cell block, Cell word) {
    Cell held[2] = {block, word};
    collector::CellRoot root(held, 2);
    stack::stack_keep();
    uint32_t next = held[0].w1;
    Status s = eval::eval_next_index(held[0], next);
    if (s != Status::ok) return s;
    held[0].w1 = next;
    word_t::set(held[1], held[0]);
    stack::stack_keep();
    return Status::ok;
}

// Calls a function of the library with `count` arguments; the answer is
// left in `result`. The function is the global word `name`, or with `field`
// that field of the global object `name`.
Status call_library(const char* name, const char* field, const Cell* args, uint32_t count, Cell& result) {
    int32_t symbol = symbol_t::make(name);
    Cell word{type_word, 0, uint32_t(symbol), word_t::unresolved};
    const Cell* fn = context_t::global_symbol_value(symbol);
    if (fn && field) {
        if (type_of(*fn) != type_object) raise_not_done();
        word = word_t::make_global(field);
        fn = object_t::select_field(*fn, word);
    }
    if (!fn || type_of(*fn) != type_function) raise_not_done();  // the library is not loaded
    stack::Mark mark;
    Cell* callee = stack::push_copy(*fn);  // rooted for the call
    Cell* first = stack::push_copy(args[0]);
    for (uint32_t i = 1; i < count; ++i) stack::push_copy(args[i]);
    Status s = eval::call_value(*callee, first, count, word, result);
    mark.restore();
    return s;
}

// The evaluation by the value's type.
Status do_value(const int32_t* refs) {
    Cell* args = stack::arg_base();
    Cell value = args[0];
    collector::CellRoot root(&value);
    uint32_t type = type_of(value);
    if (type == type_string) {
        Cell* loaded = stack::push_cell();
        *loaded = none_t::value;
        lexer::lexer_scan_string(loaded, value, -1, lexer::Request{}, nullptr);
        value = *loaded;
        type = type_of(value);
    }
    switch (type) {
        case type_block: case type_paren: case type_hash: {
            uint32_t length = memory::series_length(value.w2);
            if (value.w1 > length) value.w1 = length;
            if (refs[do_expand] >= 0) {
                // The preprocessor rewrites the block in place, without a job.
                Cell in[2] = {value, none_t::value};
                Cell ignored;
                Status s = call_library("preprocessor", "expand", in, 2, ignored);
                if (s != Status::ok) return s;
            }
            if (refs[do_next] >= 0) return do_next_expression(value, args[refs[do_next]]);
            return kept(run_block(value));
        }
        case type_file: case type_url: {
            // The script runs through the library's do-file, with the /args value.
            Cell in[3] = {value, none_t::value, refs[do_args] >= 0 ? args[refs[do_args]] : none_t::value};
            Cell result;
            Status s = call_library("do-file", nullptr, in, 3, result);
            if (s != Status::ok) return s;
            return answer(result);
        }
        case type_path:
            stack::stack_keep();
            return kept(eval::eval_path_value(value, 0));
        case type_error:
            errors::raise_value(value);
        default:
            stack::stack_keep();
            return kept(control::eval_single(value, false));
    }
}
}  // namespace

// Evaluates a block, a paren, a string (loaded first), a path, or a single
// value; raises an error! value. With /trace the evaluation reports to the
// callback. Every exit that is not do's own passes through unchanged: a
// break, return or throw in the code lands where it would have landed had
// the code stood in place of the do.
Status do_(bool, const int32_t* refs) {
    const Cell* callback = refs[do_trace] >= 0 ? stack::arg_base() + refs[do_trace] : nullptr;
    TraceScope trace(callback);
    if (trace.installed()) {
        Status s = control::fire_event(eval::event::init, nullptr);
        if (s != Status::ok) return s;
    }
    Status s = do_value(refs);
    if (trace.installed()) {
        // A break, continue, return or exit has put its value in the result
        // slot of its target, at the top: it is counted while the end event
        // runs the callback.
        Cell* top = stack::top();
        bool landed = s == Status::break_ || s == Status::continue_ || s == Status::return_ || s == Status::exit;
        if (landed) stack::set_top(top + 1);
        Status end = control::fire_event(eval::event::end, nullptr);
        if (landed) stack::set_top(top);
        if (s == Status::ok) s = end;
    }
    return s;
}

// ---- reduce -----------------------------------------------------------------------

namespace {
// Where reduce and compose put what they produce: a new block (appended to),
// or the /into block, appended to when it stood at its tail, else inserted
// into at its position (which then moves past each insertion).
class Output {
public:
    // `cell` is a rooted cell (on the argument stack) holding the output.
    Output(Cell* cell, bool into) : cell_(cell), into_(into) {
        append_ = !into || series_t::at_tail_q(*cell);
    }
    // reduce/into inserts through the insert action without refinements (a
    // block value is spliced); compose adds every value as one value.
    // An /into block may be owned by an object whose handler runs Vyr code
    // (which collects and renumbers nodes): the block and the value are
    // handed over in cells on the argument stack, never in C++ locals.
    void add(const Cell& value, bool only) {
        stack::Mark mark;
        Cell* v = stack::push_copy(value);
        if (!into_) {
            block_t::append_value(*cell_, *v);
        } else if (append_) {
            actions::append(stack::push_copy(*cell_), v, -1, true, 1);
        } else {
            Cell* out = stack::push_copy(*cell_);
            actions::insert(out, v, -1, only, 1);
            *cell_ = *out;
        }
        mark.restore();
    }
    const Cell& value() const { return *cell_; }

private:
    Cell* cell_;
    bool into_;
    bool append_;
};
}  // namespace

// Each expression of a block, in a `<body>` frame whose result slot takes
// its value; any other value is evaluated as one expression, but functions
// are answered as they are.
Status reduce(bool, const int32_t* refs) {
    bool into = refs[0] >= 0;
    Cell* args = stack::arg_base();
    uint32_t type = type_of(args[0]);
    if (type != type_block) {
        if (type == type_native || type == type_action || type == type_op || type == type_function ||
            type == type_routine)
            return answer(args[0]);
        if (!into) return kept(control::eval_single(args[0], false));
        Status s = control::eval_single(args[0], true);
        if (s != Status::ok) return s;
        Output out(&args[1], true);
        out.add(*stack::top_cell(), false);
        return answer(out.value());
    }
    eval::Cursor at(args[0]);
    if (!into) block_t::make_at(args[0], block_t::length_at(at.code));
    Output out(into ? &args[1] : &args[0], into);
    frames::frame_open(frames::markers().body);
    while (!at.at_end()) {
        stack::stack_reset();
        Status s = eval::eval_next(at, 0);
        if (s != Status::ok) return s;
        Cell* v = stack::arg_base();
        clear_new_line_flag(*v);
        out.add(*v, false);
    }
    frames::frame_discard();
    return answer(out.value());
}

// ---- compose ------------------------------------------------------------------------

namespace {
struct ComposeMode {
    bool deep;
    bool only;
};

// Composes the block in `source` (a rooted cell) into `out`. Paren values
// are evaluated into the native's result slot, a scratch cell by then.
Status compose_core(Cell* source, Output& out, ComposeMode mode) {
    for (uint32_t i = source->w1; i < memory::series_length(source->w2); ++i) {
        Cell e = *memory::cell_at(source->w2, i);
        uint32_t type = type_of(e);
        if (type == type_block && mode.deep) {
            Cell* nested = stack::push_copy(e);
            Cell* inner = block_t::push_new(block_t::length_at(e));
            Output inner_out(inner, false);
            Status s = compose_core(nested, inner_out, mode);
            if (s != Status::ok) return s;
            Cell made = *inner;
            stack::pop_cells(2);
            out.add(made, true);
            continue;
        }
        if (type != type_paren) {
            out.add(e, true);
            continue;
        }
        if (block_t::length_at(e) == 0) continue;
        Cell* top = stack::top();
        Status s = run_block(e);
        if (s != Status::ok) return s;
        stack::set_top(top);
        Cell r = *stack::arg_base();
        uint32_t rt = type_of(r);
        if (rt == type_unset) continue;
        if (rt != type_block || mode.only) {
            out.add(r, true);
            continue;
        }
        collector::CellRoot root(&r);
        for (uint32_t j = r.w1; j < memory::series_length(r.w2); ++j) out.add(*memory::cell_at(r.w2, j), true);
    }
    return Status::ok;
}
}  // namespace

Status compose(bool, const int32_t* refs) {
    ComposeMode mode{refs[0] >= 0, refs[1] >= 0};
    bool into = refs[2] >= 0;
    Cell* args = stack::arg_base();
    if (type_of(args[0]) != type_block) {
        Cell expected = datatype_t::value_of(type_block);
        Cell got = datatype_t::value_of(type_of(args[0]));
        raise_error(err_cat::script, err_id::script::expect_val, &expected, &got);
    }
    Cell* source = stack::push_copy(args[0]);
    Cell* made = into ? &args[1] : block_t::push_new(block_t::length_at(args[0]));
    Output out(made, into);
    Status s = compose_core(source, out, mode);
    if (s != Status::ok) return s;
    return answer(out.value());
}

}  // namespace vyr::natives
