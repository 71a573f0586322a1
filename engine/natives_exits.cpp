// The natives that start or stop non-local transfers: try (errors), catch
// and throw, break and continue (loops), return and exit (functions), and
// apply (a call with arguments from a block).
//
// break, continue, return, exit and throw unroll the call frames to their
// target at once and answer the status that every evaluating function hands
// back (engine/unwind.h). Errors are C++ exceptions: `try` is the one native
// here that catches them, at an unwind::Site that puts the stacks back as
// they were when it was entered.
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/none.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "engine/control_support.h"
#include "engine/natives.h"
#include "engine/natives_support.h"
#include "datatypes/unwind.h"
#include "runtime/collector.h"
#include "datatypes/errors.h"
#include "runtime/errors.h"
#include "datatypes/fixed_words.h"

namespace vyr::natives {

using control::finish_frame;

// ---- try ------------------------------------------------------------------------

namespace {
// The error just caught as a value: the one raising made, or one made now
// from the record when raising could not make it.
Cell caught_error() {
    Cell value = errors::last_error_value();
    if (type_of(value) != type_error) {
        const errors::ErrorRecord& e = errors::last_error();
        value = error_t::create_at(e.category, e.id, &e.args[0], &e.args[1], &e.args[2]);
    }
    errors::clear_last_error();
    return value;
}
}  // namespace

// Evaluates the block in a try frame; an error raised inside becomes the
// result. A try/all frame also stops break, continue, return, exit and
// throw: the unwinding turns them into throw errors there, caught as any
// error. Without /all they pass through (the try frame is gone by then).
Status try_(bool, const int32_t* refs) {
    bool all = refs[0] >= 0;
    bool keep = refs[1] >= 0;
    Cell block = stack::arg_base()[0];
    collector::CellRoot root(&block);
    unwind::Site site;
    Status s;
    try {
        if (all) frames::frame_open_try_all(fixed::word_try);
        else frames::frame_open_try(fixed::word_try);
        s = eval::do_block(block);
    } catch (const Unwind& u) {
        if (u.code != catch_code::error) throw;
        site.restore();
        Cell error = caught_error();
        *stack::arg_base() = error;
        stack::stack_keep();
        if (keep) error_t::capture_stack(*stack::arg_base());
        return Status::ok;
    }
    if (s != Status::ok) return s;
    return finish_frame();
}

// ---- catch and throw ----------------------------------------------------------------

namespace {
// Whether a catch/name takes a throw named `thrown`: an unnamed throw never
// matches; names compare by their canonical spelling, so case variants
// match. A block of names may hold only words.
bool name_matches(const Cell& thrown, const Cell& wanted) {
    if (type_of(thrown) != type_word) return false;
    int32_t symbol = symbol_t::resolve_alias(int32_t(thrown.w2));
    auto same = [&](const Cell& w) { return symbol_t::resolve_alias(int32_t(w.w2)) == symbol; };
    if (type_of(wanted) != type_block) return same(wanted);
    for (uint32_t i = wanted.w1; i < memory::series_length(wanted.w2); ++i) {
        const Cell& w = *memory::cell_at(wanted.w2, i);
        if (type_of(w) != type_word) raise_error(err_cat::script, err_id::script::invalid_refine_arg, &fixed::word_name, &wanted);
        if (same(w)) return true;
    }
    return false;
}
}  // namespace

// Evaluates the block in a catch frame. A throw lands there with its value
// and name pushed at the frame's base; a throw the catch does not take goes
// on outward from it.
Status catch_(bool, const int32_t* refs) {
    Cell* args = stack::arg_base();
    Cell held[2] = {args[0], refs[0] >= 0 ? args[refs[0]] : unset_t::value};
    collector::CellRoot root(held, 2);
    frames::frame_open_catch(frames::markers().body);
    Status s = eval::do_block(held[0]);
    if (s == Status::ok) return finish_frame();
    if (s != Status::throw_) return s;
    Cell* thrown = stack::arg_base();
    if (refs[0] >= 0 && !name_matches(thrown[1], held[1])) return unwind::throw_value(catch_code::throw_);
    frames::clear_error_frame();
    stack::stack_keep();
    if (Status t = control::fire_event(eval::event::catch_, stack::arg_base()); t != Status::ok) return t;
    return finish_frame();
}

// The value and its name (unset without /name) go to the nearest catch.
Status throw_(bool, const int32_t* refs) {
    Cell* args = stack::arg_base();
    if (Status t = control::fire_event(eval::event::throw_, &args[0]); t != Status::ok) return t;
    if (refs[0] < 0) args[1] = unset_t::value;
    return unwind::throw_value(catch_code::throw_);
}

// ---- break, continue, return, exit ------------------------------------------------

Status break_(bool, const int32_t* refs) { return unwind::throw_break(refs[0] >= 0, false); }
Status continue_(bool, const int32_t*) { return unwind::throw_break(false, true); }
Status return_(bool, const int32_t*) { return unwind::throw_return(true, false); }
Status exit(bool, const int32_t*) { return unwind::throw_return(false, false); }

// ---- apply ------------------------------------------------------------------------

namespace {
bool callable_q(uint32_t type) {
    return type == type_native || type == type_action || type == type_op || type == type_function ||
           type == type_routine;
}
bool word_like(uint32_t type) {
    return type == type_word || type == type_set_word || type == type_lit_word || type == type_get_word;
}
}  // namespace

// Calls the function a word or path names, or a function value (named
// `<applied>`), with its arguments from the block. Without /all the block's
// values are the plain arguments and refinements come from the path; with
// /all every argument and refinement the function takes comes from the block in
// order. /safer skips the arguments of refinements that are off.
Status apply(bool, const int32_t* refs) {
    Cell* args = stack::arg_base();
    // [0] the callable, [1] the name, [2] the path (when one names it).
    Cell held[3] = {args[0], fixed::word_applied, none_t::value};
    collector::CellRoot root(held, 3);
    uint32_t type = type_of(args[0]);
    const Cell* path = nullptr;
    if (word_like(type) || type == type_path) {
        Cell name = args[0];
        if (type == type_path) {
            held[2] = args[0];
            path = &held[2];
            if (block_t::length_at(args[0]) < 1) raise_invalid_arg(args[0]);
            name = *block_t::cell_at(args[0], args[0].w1);
        }
        if (!word_like(type_of(name))) raise_invalid_arg(args[0]);
        set_type(name, type_word);
        held[1] = name;
        held[0] = *word_t::get(name);
    }
    if (!callable_q(type_of(held[0]))) raise_invalid_arg(args[0]);
    // eval_call takes an op! as the callable it wraps.
    uint32_t mode = (refs[0] >= 0 ? eval::call_mode::all : eval::call_mode::values) |
                    (refs[1] >= 0 ? eval::call_mode::safer : 0);
    frames::mark_interpreted();
    eval::Cursor values(args[1]);
    // The path's elements after its first name the refinements.
    Status s = eval::eval_call(held[0], values, held[1], path, 1, no_node, mode, false);
    if (s != Status::ok) return s;
    stack::stack_keep();
    return Status::ok;
}

}  // namespace vyr::natives
