#include "datatypes/frames.h"

#include "datatypes/context.h"
#include "datatypes/string_buffer.h"
#include "datatypes/word.h"
#include "datatypes/actions.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "datatypes/fixed_words.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace vyr::frames {

namespace detail {
uint32_t header_mask = ~0u;
Frame* frames_bottom = nullptr;
Frame* frames_end = nullptr;
Frame* frames_top = nullptr;
Frame* error_frame = nullptr;
}  // namespace detail

using detail::frames_bottom;
using detail::frames_end;
using detail::frames_top;

namespace {
NodeId frame_node = no_node;
Markers marker_words;
uint32_t held = 0;  // frames kept for an error report

constexpr uint32_t overflow_margin = 5;  // cells given back to the error machinery

// Writes a kind-1 frame's saved values word back into its context.
void restore(const Frame& f) {
    if (f.saved_context) context_t::context_cell(f.saved_context)->w2 = f.saved_values;
}

}  // namespace

[[noreturn]] void detail::overflow() {
    Cell* top = stack::top();
    stack::set_top(uint32_t(top - stack::bottom()) > overflow_margin ? top - overflow_margin : stack::bottom());
    if (stack::arg_base() > stack::top()) stack::set_arg_base(stack::top());
    series::cycle_reset();
    raise_error(err_cat::internal, err_id::internal::stack_overflow);
}

namespace {
Frame* pop() { return --frames_top; }
}  // namespace

void set_markers(const Markers& m) { marker_words = m; }
const Markers& markers() { return marker_words; }

// ---- Set-up -------------------------------------------------------------------

void make_frame_block() {
    constexpr uint32_t cells_per_frame = sizeof(Frame) / sizeof(Cell);
    frame_node = memory::alloc_fixed_series(frame_capacity * cells_per_frame, memory::cell_width, 0);
    collector::add_root(&frame_node, collector::RootKind::node_only);
    collector::add_mark_callback(mark_frames);
}

void frames_init() {
    frames_bottom = reinterpret_cast<Frame*>(memory::buffer_of(frame_node)->cells());
    frames_end = frames_bottom + frame_capacity;
    frames_top = frames_bottom;
    detail::error_frame = nullptr;
    held = 0;
    marker_words = {fixed::word_body_marker, fixed::word_anon_marker, fixed::word_not_found_marker};
    // The marker words name frames by their context; it follows node renumbering.
    collector::add_root_cells(&marker_words.body, 3);
}

// ---- Opening ------------------------------------------------------------------

Cell* frame_open_compiled(const Cell& word, NodeId context) {
    context_t::set_stack_values(context, stack::arg_base());
    return push_frame(word, opener::compiled);
}

Cell* frame_open_function(const Cell& word, NodeId context) {
    Cell* base = push_frame(word, opener::function);
    Frame* f = top_frame();
    f->saved_context = context;
    f->saved_values = context ? context_t::context_cell(context)->w2 : 0;
    return base;
}

void set_return_target(bool on) {
    Frame* f = top_frame();
    f->header = on ? f->header | bits::return_target : f->header & ~bits::return_target;
}

void mark_interpreted() { top_frame()->header |= bits::interpreted & detail::header_mask; }

Frame* mark_caller_return_target() {
    if (depth() < 2) return nullptr;
    Frame* caller = frames_top - 2;
    if (caller->header & bits::return_target) return nullptr;
    caller->header |= bits::return_target;
    return caller;
}

void clear_return_target(Frame* f) {
    if (f) f->header &= ~bits::return_target;
}

// ---- Closing ------------------------------------------------------------------

Cell* saved_base(const Frame* f) { return stack::cell_at_index(f->saved_base); }

Cell* own_base(const Frame* f) { return stack::cell_at_index(f->own_base); }

void frame_close_function() {
    restore(*top_frame());
    frame_close();
}

void frame_return() {
    Cell* old = stack::arg_base();
    frame_close();
    *stack::arg_base() = *old;
}

void frame_return_function() {
    restore(*top_frame());
    frame_return();
}

void frame_discard() {
    Frame* f = pop();
    stack::set_arg_base(saved_base(f));
    stack::set_top(stack::arg_base());
}

void frame_discard_function() {
    restore(*top_frame());
    frame_discard();
}

void frame_unwind() {
    if (frames_top == frames_bottom) return;
    Frame* f = pop();
    if (kind_of(*f) == kind::function) restore(*f);
    if (f == frames_bottom) {
        stack::set_arg_base(stack::bottom());
        stack::set_top(stack::bottom());
    } else {
        stack::set_top(stack::arg_base());
        stack::set_arg_base(saved_base(f));
    }
}

void unwind_to_depth(uint32_t d) {
    while (depth() > d) restore(*pop());
}

// ---- Unrolling ----------------------------------------------------------------

namespace {
struct Unrolled {
    Frame* found;
    Cell* own;     // the found frame's own first cell
    bool matched;  // false when the walk ran out at the bottom frame
};

// The search and the frame pops of unroll_to_kind; the argument stack is left
// to the caller. The frames above the found one are popped innermost first,
// so a context saved twice ends with its outermost saved values.
Unrolled unroll_frames(uint32_t k) {
    Frame* innermost = top_frame();
    Frame* f = innermost;
    while (f != frames_bottom && kind_of(*f) != k && kind_of(*f) != kind::try_all) --f;
    Cell* own = own_base(f);
    bool matched = kind_of(*f) == k || kind_of(*f) == kind::try_all;
    for (Frame* g = innermost; g != f; --g) restore(*g);
    frames_top = f + 1;
    return {f, own, matched};
}
}  // namespace

// Where the argument stack ends:
//  - keep set and the innermost frame was the one found: top = base + 1;
//  - the walk ran out at the bottom frame (no frame of the kind) with keep
//    clear: base = top = bottom;
//  - otherwise top = the old base + 1, and the base becomes the found frame's
//    own first cell (keep set) or the base saved in it (keep clear).
Frame* unroll_to_kind(uint32_t k, bool keep) {
    if (frames_top == frames_bottom) return nullptr;
    Cell* old_base = stack::arg_base();
    Frame* innermost = top_frame();
    Unrolled u = unroll_frames(k);
    if (keep && u.found == innermost) {
        stack::set_top(old_base + 1);
    } else if (!keep && !u.matched) {
        stack::set_arg_base(stack::bottom());
        stack::set_top(stack::bottom());
    } else {
        stack::set_top(old_base + 1);
        stack::set_arg_base(keep ? u.own : saved_base(u.found));
    }
    return u.found;
}

Frame* unroll_with_result(uint32_t k) {
    if (frames_top == frames_bottom) return nullptr;
    Cell result = *stack::arg_base();
    Unrolled u = unroll_frames(k);
    *u.own = result;
    stack::set_arg_base(u.own);
    stack::set_top(u.own);
    return u.found;
}

// ---- Reports --------------------------------------------------------------------

bool marker_q(const Frame& f) { return f.symbol == marker_words.body.w2 || f.symbol == marker_words.anon.w2; }

void note_error_frame(Frame* position) {
    if (!detail::error_frame) detail::error_frame = position;
}
void clear_error_frame() { detail::error_frame = nullptr; }

// A saved error position above the live frames is stale (its frames are
// gone); the walk then starts at the top.
Cell calling_word() {
    Frame* start = detail::error_frame && detail::error_frame <= frames_top ? detail::error_frame : frames_top;
    detail::error_frame = nullptr;
    for (Frame* f = start; f != frames_bottom;) {
        --f;
        if (!marker_q(*f)) return Cell{type_word, f->word_context, f->symbol, f->word_index};
    }
    return marker_words.not_found;
}

// Value `index` of a context, or null when the context has no values now
// (a function that is not running) or no such entry.
const Cell* context_value(NodeId context, uint32_t index) {
    if (!context || type_of(*context_t::context_cell(context)) != type_context) return nullptr;
    Cell* values = context_t::values_base(context);
    if (!values || index >= context_t::word_count(context)) return nullptr;
    return values + index;
}

const Cell* frame_word_value(const Frame& f) { return context_value(f.word_context, f.word_index); }
const Cell* word_value(const Cell& word) { return context_value(word.w1, word.w3); }

Cell spec_word_at(uint32_t n) {
    const Cell none{type_none, 0, 0, 0};
    const Cell* callable = word_value(calling_word());
    if (!callable) return none;
    switch (type_of(*callable)) {
        case type_native: case type_action: case type_op: case type_function: case type_routine: break;
        default: return none;
    }
    NodeId spec = callable->w2;
    for (const Cell* c = memory::cell_head(spec); c < memory::cell_tail(spec); ++c) {
        switch (type_of(*c)) {
            case type_word: case type_lit_word: case type_get_word: case type_refinement:
                if (n-- == 0) return *c;
                break;
            default: break;
        }
    }
    return none;
}

void hold_for_report(uint32_t depth) { held = depth < frame_capacity ? depth : frame_capacity; }
uint32_t held_depth() { return held; }

namespace {
// The non-marker frames from the bottom up to `end` (which may lie above the
// live frames: see hold_for_report) that an error stack lists: with level 1
// only the calls of function! values.
template <typename Each>
void error_stack_walk(int32_t level, const Frame* end, Each each) {
    if (end > frames_end) end = frames_end;
    for (const Frame* f = frames_bottom; f < end; ++f) {
        if (marker_q(*f)) continue;
        if (level <= 1) {
            const Cell* v = frame_word_value(*f);
            if (!v || type_of(*v) != type_function) continue;
        }
        each(Cell{type_word, f->word_context, f->symbol, f->word_index});
    }
}
}  // namespace

void collect_frames(const Cell& block) {
    if (frames_top == frames_bottom) return;
    for (Frame* f = frames_top - 1; f != frames_bottom; --f) {
        if (marker_q(*f)) continue;
        Cell word = word_t::make_global_from_symbol(int32_t(f->symbol));
        if (f->saved_context) word_t::bind_to(word, f->saved_context);
        *series::append_cell(block) = word;
        *series::append_cell(block) = Cell{type_integer, 0, f->saved_base, 0};
    }
}

void collect_error_stack(int32_t level, const Cell& block, const Frame* end) {
    error_stack_walk(level, end, [&](const Cell& word) { *series::append_cell(block) = word; });
}

int32_t form_error_stack(int32_t level, const Cell& stack, Cell* buffer, int32_t budget) {
    if (type_of(stack) != type_integer) return budget;
    uint32_t depth = stack.w2 < frame_capacity ? stack.w2 : frame_capacity;
    error_stack_walk(level, frames_bottom + depth, [&](const Cell& word) {
        Cell w = word;
        budget = actions::form(&w, buffer, nullptr, budget);
        string_t::append_code_point(*buffer, ' ');
        --budget;
    });
    return budget;
}

// ---- Collector ------------------------------------------------------------------

// Marks the live frames and those held for an error report.
void mark_frames() {
    Frame* end = frames_bottom + held > frames_top ? frames_bottom + held : frames_top;
    for (Frame* f = frames_bottom; f < end; ++f) {
        if (f->word_context) collector::mark_context(&f->word_context);
        if (!f->saved_context) continue;
        collector::mark_context(&f->saved_context);
        bool on_stack = context_t::values_on_stack(*context_t::context_cell(f->saved_context));
        if (f->saved_values && !on_stack) collector::mark_block(&f->saved_values);
    }
}

bool frame_interpreted_q(const Frame* from, bool only_next) {
    const Frame* p = from ? from : frames_top;
    while (p != frames_bottom) {
        --p;
        if (p->header & bits::interpreted) return true;
        if (only_next) return false;
    }
    return false;
}

}  // namespace vyr::frames
