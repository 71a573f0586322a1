// Evaluator tracing (do/trace), and the evaluator's start-up: the entries it
// installs into the modules that run Vyr code from C++.
//
// While tracing is on, each event whose bit is in the callback's mask is
// delivered by calling the callback in a kind-1 frame of its own, above
// everything the traced evaluation has on the stack, with tracing off so
// that the callback's own evaluation is not traced.
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/eval_hooks.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "engine/eval.h"
#include "engine/eval_internal.h"
#include "datatypes/frames.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "datatypes/errors.h"
#include "runtime/errors.h"
#include "datatypes/fixed_words.h"

namespace vyr::eval {

bool detail::tracing = false;
bool detail::trace_requested = false;

namespace {

// [0] the callback (function! or none), [1..16] the event words by bit.
inline constexpr uint32_t event_words = 16;
Cell trace_cells[1 + event_words];
uint32_t trace_mask = event::all_events;
bool installed = false;          // a traced evaluation is under way (`interpreter/trace?`)
bool library_before = false;     // the kind of code that installed the trace

const char* const event_names[event_words] = {"init",  "end",   "prolog", "epilog", "enter", "exit",
                                              "open",  "return", "fetch", "push",   "set",   "call",
                                              "error", "throw", "catch",  "expr"};

uint32_t bit_index(uint32_t ev) { return uint32_t(__builtin_ctz(ev)); }

}  // namespace

namespace trace {

bool on() { return detail::tracing; }
bool requested() { return detail::trace_requested; }
bool active() { return installed; }

void request(bool on) {
    detail::trace_requested = on && installed;
    detail::tracing = detail::trace_requested && !detail::in_library;
}

// The event block opens the callback's spec, or else its body (where it is
// a value the body drops).
uint32_t events_to_bits(const Cell& callback) {
    if (type_of(callback) != type_function) return event::all_events;
    NodeId spec = callback.w2;
    Cell body = *memory::cell_at(callback.w3, function_t::record::body);
    Cell first = memory::series_length(spec) > 0 ? *memory::cell_at(spec, 0) : none_t::value;
    if (type_of(first) != type_block && type_of(body) == type_block && body.w1 < memory::series_length(body.w2))
        first = *memory::cell_at(body.w2, body.w1);
    if (type_of(first) != type_block) return event::all_events;
    uint32_t mask = 0;
    uint32_t n = memory::series_length(first.w2);
    for (uint32_t i = first.w1; i < n; ++i) {
        const Cell& w = *memory::cell_at(first.w2, i);
        if (type_of(w) != type_word) continue;
        int32_t sym = symbol_t::resolve_alias(int32_t(w.w2));
        for (uint32_t b = 0; b < event_words; ++b)
            if (sym == symbol_t::resolve_alias(int32_t(trace_cells[1 + b].w2))) mask |= 1u << b;
    }
    return mask;
}

// What a trace evaluates is the user's code, also when library code (the
// tools' do-handler) asks for it: its init and end events are delivered.
void install(const Cell& callback) {
    trace_cells[0] = callback;
    trace_mask = events_to_bits(callback);
    installed = true;
    detail::trace_requested = true;
    library_before = detail::in_library;
    detail::set_in_library(false);
}

void uninstall() {
    installed = false;
    detail::trace_requested = false;
    detail::set_in_library(library_before);
    trace_cells[0] = none_t::value;
}

Status fire(uint32_t ev, const Cell* code, uint32_t pos, const Cell* value, const Cell* ref) {
    if (!detail::tracing || !(trace_mask & ev)) return Status::ok;
    if (type_of(trace_cells[0]) != type_function) return Status::ok;
    Cell* base = stack::arg_base();
    Cell* top = stack::top();
    frames::Frame* frames_top = frames::top();
    Cell args[6];
    collector::CellRoot keep(args, 6);
    args[0] = trace_cells[1 + bit_index(ev)];
    args[1] = none_t::value;
    int32_t offset = -1;
    if (code && (type_of(*code) == type_block || type_of(*code) == type_paren || type_of(*code) == type_path ||
                 type_of(*code) == type_set_path || type_of(*code) == type_get_path)) {
        args[1] = *code;
        if (pos <= memory::series_length(code->w2)) {
            args[1].w1 = pos;
            offset = int32_t(pos);
        }
    }
    args[2] = Cell{type_integer, 0, uint32_t(offset), 0};
    args[3] = value && type_of(*value) != type_none_id ? *value : none_t::value;
    bool with_ref = ev == event::set || ev == event::epilog || ev == event::prolog || ev == event::return_ ||
                    ev == event::call;
    args[4] = with_ref && ref ? *ref : none_t::value;
    args[5] = Cell{type_pair, 0, stack::cell_index(base), stack::cell_index(top)};
    // Everything the traced evaluation holds lies below the top (the cell at
    // the top is not initialised, so it must not become live): the callback's
    // frame opens right there.
    Cell answer;
    Cell callback = trace_cells[0];
    // The callback's own evaluation is not traced, nor is any user code it
    // calls; a failure inside it leaves delivery off.
    detail::tracing = false;
    detail::trace_requested = false;
    Status s = call_value(callback, args, 6, fixed::word_interp_callback, answer);
    if (s != Status::ok) return s;
    detail::trace_requested = true;
    detail::tracing = !detail::in_library;
    frames::set_frame_top(frames_top);
    stack::set_top(top);
    stack::set_arg_base(base);
    return Status::ok;
}

}  // namespace trace

// ---- Start-up ---------------------------------------------------------------------

namespace {

Status call_from_cpp(const Cell& fn, Cell* args, uint32_t count, NodeId, const Cell& name, Cell& answer) {
    return call_value(fn, args, count, name, answer);
}

// An error raised in the user's code while a trace runs is its error event,
// at the position it is raised.
Status trace_error(const Cell& error) {
    if (!detail::tracing) return Status::ok;
    Cell held[2] = {error, current_position()};
    collector::CellRoot keep(held, 2);
    *stack::top() = unset_t::value;  // the cell the event keeps out of the callback's way
    bool at_code = type_of(held[1]) == type_block || type_of(held[1]) == type_paren;
    return trace::fire(event::error, at_code ? &held[1] : nullptr, held[1].w1, &held[0], nullptr);
}

Status eval_spec_block(const Cell& block, Cell& result) {
    stack::Mark mark;
    if (Status s = eval_block(frames::markers().body, block, false); s != Status::ok) return s;
    result = *stack::top_cell();
    mark.restore();
    return Status::ok;
}

void collect_stack(int32_t level, const Cell& block, int32_t recorded) {
    frames::collect_error_stack(level, block, frames::bottom() + recorded);
}

}  // namespace

void interp_init() {
    current_position() = unset_t::value;
    collector::add_root_cells(&current_position(), 1);
    trace_cells[0] = none_t::value;
    for (uint32_t b = 0; b < event_words; ++b) trace_cells[1 + b] = word_t::make_global(event_names[b]);
    collector::add_root_cells(trace_cells, 1 + event_words);
    detail::tracing = false;
    detail::trace_requested = false;
    installed = false;
    eval_hooks::Hooks hooks;
    hooks.call = call_from_cpp;
    hooks.eval_block = eval_spec_block;
    hooks.position = near_position;
    hooks.trace_error = trace_error;
    hooks.collect_stack = collect_stack;
    hooks.form_stack = frames::form_error_stack;
    hooks.tracing_on = trace::on;
    hooks.set_tracing = trace::request;
    eval_hooks::install(hooks);
}

}  // namespace vyr::eval
