// The loop natives (while, until, loop, repeat, forever, foreach, forall,
// remove-each) and their step routines.
//
// Every loop opens one loop frame (kind 8, named `<body>`) whose result slot
// takes each body value. A break or continue from the body arrives as a
// status with the frames already unrolled to that loop frame (its result
// slot holding the break value, unset for continue); the loop acts on it and
// closes its frame. Any other status is handed back untouched: its target
// lies further out and the loop frame is already gone.
//
// Per iteration the loop passes one collector safe point; what it keeps
// across iterations (its arguments, the moving copy of a series, the
// counter) lives on the argument stack, read again by position.
#include "engine/loop_steps.h"

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "datatypes/actions.h"
#include "engine/control_support.h"
#include "engine/eval_internal.h"
#include "engine/fast_paths.h"
#include "engine/natives.h"
#include "engine/natives_support.h"
#include "datatypes/checks.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/interrupt.h"
#include "runtime/memory.h"
#include "runtime/numeric.h"
#include "runtime/unicode.h"

namespace vyr::loop_steps {

namespace {

// Element i after the series index: a block's cell, else what pick answers;
// none past the tail.
Cell element(const Cell& series, uint32_t i) {
    int64_t pos = int64_t(int32_t(series.w1)) + i;
    if (series_t::block_family_q(type_of(series))) {
        if (pos < 0 || pos >= int64_t(memory::series_length(series.w2))) return none_t::value;
        return *memory::cell_at(series.w2, uint32_t(pos));
    }
    if (series_t::text_family_q(type_of(series))) {  // a loop over a text's characters
        memory::SeriesBuffer* b = memory::buffer_of(series.w2);
        if (pos < 0 || pos >= int64_t(b->length())) return none_t::value;
        return Cell{type_char, 0, unicode::load_unit(b->head_ptr(), size_t(pos), b->unit()), 0};
    }
    Cell s = series;
    Cell index{type_integer, 0, i + 1, 0};
    return *actions::pick(&s, int32_t(i + 1), &index);
}

// Sets the first n words of the block to the elements after the series
// index. Every word is checked first (each must be a word; a block's unset!
// element is refused), so that a bad block sets none of them.
void set_words(const Cell& words, uint32_t n, const Cell& series) {
    bool cells = series_t::block_family_q(type_of(series));
    for (uint32_t i = 0; i < n; ++i) {
        Cell w = *memory::cell_at(words.w2, words.w1 + i);
        if (!any_word_q(type_of(w))) natives::raise_invalid_arg(w);
        if (cells && type_of(element(series, i)) == type_unset)
            raise_error(err_cat::script, err_id::script::need_value, &w);
    }
    for (uint32_t i = 0; i < n; ++i) {
        Cell w = *memory::cell_at(words.w2, words.w1 + i);
        word_t::set(w, element(series, i));
    }
}
}  // namespace

bool at_tail(const Cell& series) {
    return series_t::at_tail_q(series);
}

namespace {
// The character at a text's index, read in place (its buffer looked up
// once), none before the head; false at the tail.
[[gnu::always_inline]] inline bool text_value(const Cell& series, Cell& value) {
    memory::SeriesBuffer* b = memory::buffer_of(series.w2);
    auto i = int32_t(series.w1);
    if (i >= int32_t(b->length())) return false;
    if (i < 0) value = none_t::value;
    else if (b->unit() == 1) value = Cell{type_char, 0, b->head_ptr()[i], 0};
    else value = Cell{type_char, 0, unicode::load_unit(b->head_ptr(), size_t(i), b->unit()), 0};
    return true;
}
}  // namespace

bool foreach_next(Cell& series, Cell& word) {
    Cell value;
    if (series_t::text_family_q(type_of(series))) {
        if (!text_value(series, value)) return false;
    } else {
        if (at_tail(series)) return false;
        value = element(series, 0);
    }
    if (!eval::store_plainly(word, value)) word_t::set(word, value);
    series.w1 += 1;
    return true;
}

bool text_step(Cell& series, Cell& word, WordCell& cell) {
    Cell value;
    if (!text_value(series, value)) return false;
    store_word(word, value, cell);
    series.w1 += 1;
    return true;
}

void store_word(Cell& word, const Cell& value, WordCell& cell) {
    if (cell.at && cell.epoch == memory::layout_epoch()) {
        *cell.at = value;
    } else if (eval::store_plainly(word, value)) {
        // A global word's cell, where the plain store wrote, stays where it
        // is while no buffer moves (as context_t::global_values tells).
        cell.at = word.w1 == context_t::global_context ? context_t::global_values() + word.w3 : nullptr;
        cell.epoch = memory::layout_epoch();
    } else {
        word_t::set(word, value);
    }
}

bool foreach_next_multi(Cell& series, const Cell& words, uint32_t n) {
    uint32_t type = type_of(series);
    if (type == type_map) {
        if (n != 2) natives::raise_invalid_arg(words);
        // The step moves the map's index itself, over removed pairs too.
        return !at_tail(series) && map_t::foreach_step(words, &series, int32_t(n));
    }
    if (n < 1 || at_tail(series)) return false;
    set_words(words, n, series);
    series.w1 += n;
    return true;
}

void remove_each_step(Cell& series, uint32_t n, const Cell& body_value) {
    if (logic_t::falsy(body_value)) return;
    series.w1 -= n;
    Cell part{type_integer, 0, n, 0};
    series = *actions::remove(&series, n == 1 ? nullptr : &part, nullptr);
}

int32_t loop_count(Cell& count) {
    if (type_of(count) == type_float) count = Cell{type_integer, 0, uint32_t(numeric::truncate_to_int32(cell_float(count))), 0};
    return int32_t(count.w2);
}

}  // namespace vyr::loop_steps

namespace vyr::natives {

using control::finish_frame;
using control::loop_step;
using control::run_block;
using control::Step;

namespace {
// Opens the loop frame; its result slot starts unset.
void open_loop() {
    frames::frame_open_loop(frames::markers().body);
    unset_t::push();
}

// The number of words a foreach or remove-each sets per step: those of a
// block (which must not be empty), else 1.
uint32_t word_count(const Cell& words) {
    if (type_of(words) != type_block) return 1;
    uint32_t n = uint32_t(block_t::length_at(words));
    if (n == 0) raise_invalid_arg(words);
    return n;
}

// One step of foreach or remove-each over the moving series copy.
bool step_words(Cell& series, Cell& words, uint32_t n) {
    if (type_of(words) == type_block) return loop_steps::foreach_next_multi(series, words, n);
    if (type_of(series) == type_map) raise_invalid_arg(words);
    return loop_steps::foreach_next(series, words);
}
}  // namespace

namespace {
// Runs a block of while or until in the loop frame from position `from`
// (the quiet statements before it done), its value landing in the frame's
// result slot; with `truth`, answers the value's truth there (an unset
// value raises). A run from a later position than the block's own has the
// errors and events of the whole block's run: only positions tell them.
Status run_from(const Cell& block, uint32_t from, bool* truth) {
    Cell rest = block;
    rest.w1 = from;
    Status s = run_block(rest);
    if (s == Status::ok && truth) *truth = logic_t::arg_true_q();
    return s;
}

// Runs the quiet statements that open a block in place
// (eval::quiet_block_run): when they were the whole block, its value lands
// in the loop frame's result slot. Answers where the block's run must take
// over, or eval::quiet_all.
uint32_t run_quiet_part(const Cell& block) {
    Cell last;
    uint32_t from = eval::quiet_block_run(block, last);
    if (from == eval::quiet_all) stack::reset_with_result(last);
    return from;
}

// The same for the whole block: its opening quiet statements in place, the
// rest run from there.
Status run_part(const Cell& block, bool* truth) {
    uint32_t from = run_quiet_part(block);
    if (from != eval::quiet_all) return run_from(block, from, truth);
    if (truth) *truth = !logic_t::falsy(*stack::arg_base());  // a quiet value is never unset
    return Status::ok;
}

// The commonest quiet condition, `word op operand` with a block after it
// (a loop word compared with a literal): eval::detail::quiet_value's answer
// without its look at the trace and the longer walk; false, nothing done,
// for any other code or when it is not quiet.
[[gnu::always_inline]] inline bool short_condition(eval::detail::QuietCode code, uint32_t& pos, Cell& out) {
    namespace detail = eval::detail;
    if (pos + 3 >= code.end) return false;
    const Cell* cells = code.cells + pos;
    if (type_of(cells[0]) != type_word || type_of(cells[3]) != type_block) return false;
    const Cell* left = detail::word_value_fast(cells[0]);
    return left && detail::number_type(type_of(*left)) && detail::quiet_pair(code, pos, *left, out);
}

// Runs the body of loop, repeat, forever, foreach, remove-each or forall
// as run_part does, as long as it opened with quiet statements: a body that
// opens with a call (most do) runs whole from then on, without the look,
// but for a body of one conditional statement (conditional_run).
class BodyRun {
    // How conditional_run took the body: not at all, wholly (its value in
    // the result slot), or up to a chosen branch (run_branch runs it).
    enum class Taken : uint8_t { no, quietly, branch };

public:
    // `words`: the word or block of words the loop sets between steps, or
    // null; `decode`: whether the body may run decoded (eval::QuietBody),
    // false for a loop that changes a series between steps.
    explicit BodyRun(const Cell* words = nullptr, bool decode = true) : words_(words) {
        if (!decode) decoded_.give_up();
    }

    [[gnu::always_inline]] Status operator()(const Cell& body) {
        if (decoded_.active()) {
            Status s;
            if (run_decoded(body, s)) return s;
        }
        if (conditional_) {
            Taken taken = conditional_run(body);
            if (taken == Taken::quietly) return Status::ok;
            if (taken == Taken::branch) {
                Status status;
                if (run_branch(body, chosen_, status)) return status;
            }
        }
        if (!quiet_) return run_block(body);
        uint32_t from = run_quiet_part(body);
        if (from == eval::quiet_all) return Status::ok;
        if (from == body.w1) quiet_ = false;
        conditional_ = !quiet_;
        return run_from(body, from, nullptr);
    }

private:
    // The step as the decoded body takes it (eval::QuietBody); false when
    // nothing of it ran, `s` otherwise the step's status.
    [[gnu::noinline]] bool run_decoded(const Cell& body, Status& s) {
        Cell last;
        uint32_t from = decoded_.run(body, words_, last);
        if (from == eval::quiet_all) {
            stack::reset_with_result(last);
            s = Status::ok;
            return true;
        }
        if (from == body.w1) return false;
        s = run_from(body, from, nullptr);
        return true;
    }

    const Cell* words_;
    eval::QuietBody decoded_;
    // A body that is one statement of `if`, `unless` or `either` whose
    // condition is quiet and whose literal branches stand last, run as its
    // block's run would take it (eval::detail::quick_conditional) without
    // that run's set-up, once no trace and no interrupt could tell: no
    // branch chosen gives none; a chosen branch runs its opening quiet
    // statements in place and the rest in the native's frame (branch_rest).
    // Answers true with the run's status, or false, nothing done: a body of
    // another form, a branch that opens with no quiet statement, a trace or
    // interrupt, code of the other origin. A body that does not open with a
    // word holding one of the three natives is not looked at again.
    [[gnu::noinline]] Taken conditional_run(const Cell& body) {
        namespace detail = eval::detail;
        if (detail::tracing || detail::trace_requested || interrupt::requested()) return Taken::no;
        memory::SeriesBuffer* b = memory::buffer_of(body.w2);
        if (bool(b->flags & memory::flag::boot_origin) != detail::in_library) return Taken::no;
        detail::QuietCode code{b->cells(), uint32_t(b->cells_end() - b->cells())};
        uint32_t pos = body.w1;
        if (pos >= code.end) return Taken::no;
        const Cell& first = code.cells[pos];
        const Cell* native = type_of(first) == type_word ? detail::word_value_fast(first) : nullptr;
        if (!native || type_of(*native) != type_native || native->w1 > slot_of(no::either)) {
            conditional_ = false;
            return Taken::no;
        }
        if (!form_known_ || native->w1 != native_slot_ || native->w3 != native_record_) {
            form_known_ = detail::loop_conditional_form(*native, form_);
            if (!form_known_) return Taken::no;
            native_slot_ = native->w1;
            native_record_ = native->w3;
        }
        ++pos;
        Cell condition;
        if (!(short_condition(code, pos, condition) || detail::quiet_value(code, pos, condition)) ||
            !form_.accepts(type_of(condition)) ||
            pos + form_.branches != code.end || !detail::literal_branches(form_, code, pos))
            return Taken::no;
        const Cell* chosen = detail::chosen_branch(form_, code, pos, !logic_t::falsy(condition));
        if (chosen) [[unlikely]] {
            chosen_[0] = *chosen;
            chosen_[1] = *native;
            chosen_[2] = first;
            chosen_[3] = condition;
            return Taken::branch;
        }
        stack::reset_with_result(none_t::value);
        return Taken::quietly;
    }

    // The chosen branch as quick_conditional takes it: its opening quiet
    // statements in place (when nothing ran, answers false: the body runs
    // instead), the rest in the native's frame.
    // `chosen`: the branch, the native, its word and the condition, as
    // conditional_run found them.
    [[gnu::noinline]] static bool run_branch(const Cell& body, const Cell* chosen, Status& status) {
        Cell branch = chosen[0], callable = chosen[1], name = chosen[2], condition = chosen[3];
        Cell last;
        uint32_t from = eval::quiet_block_run(branch, last);
        if (from == eval::quiet_all) {
            stack::reset_with_result(last);
            status = Status::ok;
            return true;
        }
        if (from == branch.w1) return false;
        branch.w1 = from;
        status = branch_rest(body, branch, callable, name, condition);
        return true;
    }

    // The rest of a branch whose opening statements ran quietly, as the
    // body's run and quick_conditional go on: the evaluator's position at
    // the statement, the native's frame holding the condition, the branch
    // run from `branch`'s index; the value becomes the body's.
    [[gnu::noinline]] static Status branch_rest(const Cell& body, const Cell& branch, const Cell& callable,
                                                const Cell& name, const Cell& condition) {
        collector::Held kept(body, eval::current_position());  // as the body's run holds them
        struct Restore {
            collector::Held& kept;
            ~Restore() { eval::current_position() = kept[1]; }
        } restore{kept};
        Cell* caller_base = stack::arg_base();
        Cell* base = stack::top();
        stack::set_arg_base(base);
        eval::current_position() = kept[0];
        Cell* start = stack::push_copy(callable);
        frames::push_frame(name, frames::opener::interp_native);
        stack::push_copy(condition);
        Cell rest = branch;
        Cell quiet;
        Status s;
        if (eval::detail::opens_quiet(rest, false) && eval::quiet_block_value(rest, quiet)) {
            stack::reset_with_result(quiet);
            s = Status::ok;
        } else {
            s = eval::eval_block(frames::markers().body, rest, true);
            if (s != Status::ok) return s;
            stack::stack_keep();
        }
        frames::frame_close();
        *start = *stack::top_cell();
        stack::set_top(start + 1);
        stack::reset_with_result(*stack::top_cell());
        stack::set_arg_base(caller_base);
        stack::set_top(base + 1);
        *caller_base = *base;
        return Status::ok;
    }

    bool quiet_ = true;
    bool conditional_ = false;
    Cell chosen_[4];  // from conditional_run to run_branch: nothing runs in between
    bool form_known_ = false;
    uint32_t native_slot_ = 0;     // the native whose form form_ is
    NodeId native_record_ = 0;
    eval::detail::ConditionalForm form_{};
};
}  // namespace

// The condition block runs in the loop frame too: a break or continue there
// is refused. The result is always unset. Steps whose statements are all
// quiet are taken by eval::quiet_loop, the others here.
Status while_(bool, const int32_t*) {
    Cell* args = stack::arg_base();
    open_loop();
    bool decodable = true;  // see eval::quiet_loop
    for (;;) {
        collector::safe_point();
        stack::stack_reset();
        uint32_t from;
        Cell last;
        eval::QuietLoop q = eval::quiet_loop(args[0], &args[1], false, from, last, &decodable);
        if (q == eval::QuietLoop::ended) break;
        if (q == eval::QuietLoop::pause) continue;
        Status s;
        if (q == eval::QuietLoop::test) {
            bool truth = false;
            s = run_from(args[0], from, &truth);
            if (s == Status::break_ || s == Status::continue_)
                raise_error(err_cat::throw_, err_id::throw_::while_cond);
            if (s != Status::ok) return s;
            if (!truth) break;
            stack::stack_reset();
            s = run_part(args[1], nullptr);
        } else {
            s = run_from(args[1], from, nullptr);
        }
        Step step = loop_step(s);
        if (step == Step::leave) break;
        if (step == Step::pass) return s;
    }
    frames::frame_close();
    return answer(unset_t::value);
}

// Until the body's value is true; a continue skips the test.
Status until(bool, const int32_t*) {
    Cell* args = stack::arg_base();
    open_loop();
    bool decodable = true;  // see eval::quiet_loop
    for (;;) {
        collector::safe_point();
        stack::stack_reset();
        uint32_t from;
        Cell last;
        eval::QuietLoop q = eval::quiet_loop(args[0], nullptr, true, from, last, &decodable);
        if (q == eval::QuietLoop::ended) {
            stack::reset_with_result(last);
            break;
        }
        if (q == eval::QuietLoop::pause) continue;
        bool truth = false;
        Status s = run_from(args[0], from, &truth);
        if (s == Status::break_) break;
        if (s == Status::continue_) continue;
        if (s != Status::ok) return s;
        if (truth) break;
    }
    return finish_frame();
}

Status loop(bool, const int32_t*) {
    Cell* args = stack::arg_base();
    int32_t n = loop_steps::loop_count(args[0]);
    if (n < 1) return answer(none_t::value);
    open_loop();
    BodyRun body_run;
    for (int32_t i = 0; i < n; ++i) {
        collector::safe_point();
        stack::stack_reset();
        Status s = body_run(args[1]);
        Step step = loop_step(s);
        if (step == Step::leave) break;
        if (step == Step::pass) return s;
    }
    return finish_frame();
}

// The value cell becomes the counter. The word is not made local: after the
// loop it keeps the last count it was given.
Status repeat(bool, const int32_t*) {
    Cell* args = stack::arg_base();
    int32_t n = loop_steps::loop_count(args[1]);
    if (n < 1) return answer(none_t::value);
    args[1] = Cell{type_integer, 0, 1, 0};
    open_loop();
    BodyRun body_run(&args[0]);
    loop_steps::WordCell cell;
    for (int32_t i = 0; i < n; ++i) {
        collector::safe_point();
        stack::stack_reset();
        loop_steps::store_word(args[0], args[1], cell);
        Status s = body_run(args[2]);
        Step step = loop_step(s);
        if (step == Step::leave) break;
        if (step == Step::pass) return s;
        args[1].w2 += 1;
    }
    return finish_frame();
}

Status forever(bool, const int32_t*) {
    Cell* args = stack::arg_base();
    open_loop();
    BodyRun body_run;
    for (;;) {
        collector::safe_point();
        stack::stack_reset();
        Status s = body_run(args[0]);
        Step step = loop_step(s);
        if (step == Step::leave) break;
        if (step == Step::pass) return s;
    }
    return finish_frame();
}

// A copy of the series (pushed above the arguments) moves; the argument
// stays as given. A step may run Vyr code (an object's change handler), so
// it runs with the result slot kept.
//
// Over a text with one word, loop_steps::text_step keeps the word's value
// cell between steps.
Status foreach(bool, const int32_t*) {
    Cell* args = stack::arg_base();
    uint32_t n = word_count(args[0]);
    Cell* series = stack::push_copy(args[1]);
    open_loop();
    BodyRun body_run(&args[0]);
    bool one_text = type_of(args[0]) != type_block && series_t::text_family_q(type_of(*series));
    loop_steps::WordCell cell;
    for (;;) {
        collector::safe_point();
        stack::stack_keep();
        if (one_text) {
            if (!loop_steps::text_step(*series, args[0], cell)) break;
        } else if (!step_words(*series, args[0], n)) {
            break;
        }
        stack::stack_reset();
        Status s = body_run(args[2]);
        Step step = loop_step(s);
        if (step == Step::leave) break;
        if (step == Step::pass) return s;
    }
    return finish_frame();
}

// Removes the elements just visited when the body's value is true; the
// result is the series as given.
Status remove_each(bool, const int32_t*) {
    Cell* args = stack::arg_base();
    uint32_t n = word_count(args[0]);
    Cell* series = stack::push_copy(args[1]);
    open_loop();
    BodyRun body_run(&args[0], false);
    for (;;) {
        collector::safe_point();
        stack::stack_keep();
        if (!step_words(*series, args[0], n)) break;
        stack::stack_reset();
        Status s = body_run(args[2]);
        if (s == Status::break_) break;
        if (s == Status::continue_) continue;
        if (s != Status::ok) return s;
        loop_steps::remove_each_step(*series, n, *stack::arg_base());
    }
    frames::frame_discard();
    return answer(args[1]);
}

// Moves the word's own series value through its positions. The body may
// move the word too, but not give it another series. At a normal end the
// word gets its starting position back; a break leaves it where it is.
Status forall(bool, const int32_t*) {
    Cell* args = stack::arg_base();
    Cell* start = word_t::push_value(args[0]);
    if (!series_t::series_type_q(type_of(*start))) checks::raise_expect_arg(0, *start);
    open_loop();
    BodyRun body_run(&args[0]);
    for (;;) {
        collector::safe_point();
        stack::stack_keep();
        if (loop_steps::at_tail(*word_t::get(args[0]))) break;
        stack::stack_reset();
        Status s = body_run(args[1]);
        Step step = loop_step(s);
        if (step == Step::leave) return finish_frame();
        if (step == Step::pass) return s;
        Cell* now = word_t::get(args[0]);
        if (!series_t::series_type_q(type_of(*now)) || now->w2 != start->w2)
            raise_error(err_cat::script, err_id::script::bad_loop_series, now);
        now->w1 += 1;
    }
    stack::stack_keep();
    word_t::set(args[0], *start);
    return finish_frame();
}

}  // namespace vyr::natives
