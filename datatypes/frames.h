// The call-frame stack: one frame per active call, beside the argument stack.
//
// A frame records which word was called (its symbol, context and index),
// where the caller's cells begin (the argument base that was current when the
// frame was pushed), and what kind of catch point the call is. Error reports
// read it for their "*** Where:" word and "*** Stack:" list, the collector
// marks the contexts it names, and break, continue, return, throw and errors
// unwind along it (engine/unwind.h).
//
// Invariants:
//  - opening a frame makes the argument top the new argument base, so the
//    first cell pushed after the opening is the call's result slot;
//  - every close pops exactly one frame and puts the caller's base back;
//  - a kind-1 frame saved a function context's values word (where its values
//    live on the argument stack); popping it, by a close or by an unwind,
//    writes that word back, so each level of a recursion sees its own
//    arguments;
//  - frames live in one fixed buffer that never moves, so a Frame* stays
//    valid while its frame is live; the argument base is stored as a cell
//    index, never as an address.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/stack.h"

namespace vyr::frames {

inline constexpr uint32_t frame_capacity = 12000;  // frames the stack holds

// Frame kinds, as stored in header bits 24-27.
namespace kind {
inline constexpr uint32_t function = 1;  // function call whose context values are saved and restored
inline constexpr uint32_t call = 2;      // native, action, routine or compiled call
inline constexpr uint32_t try_ = 4;      // `try`: receives errors
inline constexpr uint32_t try_all = 5;   // `try/all`, console guard: receives errors, stops every exit
inline constexpr uint32_t catch_ = 6;    // `catch`: receives throws
inline constexpr uint32_t eval = 7;      // block evaluation
inline constexpr uint32_t loop = 8;      // loop body: receives break and continue
}  // namespace kind

// Header layout of a frame.
namespace bits {
inline constexpr uint32_t kind_shift = 24;
inline constexpr uint32_t kind_mask = 0x0F000000;
inline constexpr uint32_t return_target = 0x10000000;  // `return` and `exit` land here
inline constexpr uint32_t interpreted = 0x80000000;    // opened by the evaluator
}  // namespace bits

// Header bits of the openers.
namespace opener {
inline constexpr uint32_t function = kind::function << bits::kind_shift;
inline constexpr uint32_t call = kind::call << bits::kind_shift;
inline constexpr uint32_t try_ = kind::try_ << bits::kind_shift;
inline constexpr uint32_t try_all = kind::try_all << bits::kind_shift;
inline constexpr uint32_t catch_ = kind::catch_ << bits::kind_shift;
inline constexpr uint32_t eval = (kind::eval << bits::kind_shift) | bits::interpreted;
inline constexpr uint32_t loop = kind::loop << bits::kind_shift;
inline constexpr uint32_t interp_native = call | bits::interpreted;
inline constexpr uint32_t interp_function = function | bits::interpreted;
inline constexpr uint32_t compiled = call | bits::return_target;
}  // namespace opener

struct Frame {
    uint32_t header;         // kind and flags (bits 24-31); the rest is 0
    uint32_t symbol;         // symbol id of the called word
    NodeId word_context;     // context of the called word (0 when unbound)
    uint32_t word_index;     // the word's index in that context
    uint32_t saved_base;     // the caller's argument base, as a cell index
    NodeId saved_context;    // kind 1: the callee function's context, else 0
    uint32_t saved_values;   // kind 1: that context's values word at push time, else 0
    uint32_t own_base;       // the frame's own first cell (its result slot), as a cell index
};
static_assert(sizeof(Frame) == 32, "a frame is two cells wide");

inline uint32_t kind_of(const Frame& f) { return (f.header & bits::kind_mask) >> bits::kind_shift; }

// The word cells that name internal frames (`<body>`, `<anon>`) and the
// answer of a walk that finds no other frame (`<not-found>`). Frames whose
// symbol is one of the two markers never show in reports.
struct Markers {
    Cell body{};
    Cell anon{};
    Cell not_found{type_none, 0, 0, 0};  // none! until the words exist
};
// frames_init takes the marker words from the fixed words; set_markers
// replaces them.
void set_markers(const Markers& m);
const Markers& markers();

// ---- Set-up -----------------------------------------------------------------

// Makes the fixed backing buffer and registers the collector hook.
void make_frame_block();
// Empties the stack (top = bottom, no saved error frame, nothing held) and
// takes the marker words (start-up, after the fixed words).
void frames_init();

namespace detail {
extern uint32_t header_mask;  // header bits a new frame may carry
extern Frame* frames_bottom;
extern Frame* frames_end;
extern Frame* frames_top;
extern Frame* error_frame;
[[noreturn]] void overflow();
}  // namespace detail

inline Frame* bottom() { return detail::frames_bottom; }
inline Frame* top() { return detail::frames_top; }
// Number of live frames.
inline uint32_t depth() { return uint32_t(detail::frames_top - detail::frames_bottom); }
// The innermost frame (meaningless when depth() is 0).
inline Frame* top_frame() { return detail::frames_top - 1; }
// frames top = f (one past the last live frame). Nothing is restored.
inline void set_frame_top(Frame* f) { detail::frames_top = f; }

// ---- Opening ----------------------------------------------------------------
// Each takes the called word and answers the new argument base. A full
// frame stack lowers the argument top by 5 cells and raises internal error
// `stack-overflow`.

inline Cell* push_frame(const Cell& word, uint32_t header_bits) {
    Frame* f = detail::frames_top;
    if (f >= detail::frames_end) [[unlikely]] detail::overflow();
    *f = Frame{header_bits & detail::header_mask, word.w2, word.w1, word.w3, stack::cell_index(stack::arg_base()),
               no_node, 0, stack::cell_index(stack::top())};
    detail::frames_top = f + 1;
    stack::set_arg_base(stack::top());
    return stack::arg_base();
}
// push_frame always inlined, for the evaluator's plain calls; with a
// context, it is saved as frame_open_function saves it.
[[gnu::always_inline]] inline void push_frame_inline(const Cell& word, uint32_t header_bits,
                                                     NodeId context = no_node, uint32_t values = 0) {
    Frame* f = detail::frames_top;
    if (f >= detail::frames_end) [[unlikely]] detail::overflow();
    *f = Frame{header_bits & detail::header_mask, word.w2, word.w1, word.w3, stack::cell_index(stack::arg_base()),
               context, values, stack::cell_index(stack::top())};
    detail::frames_top = f + 1;
    stack::set_arg_base(stack::top());
}
inline Cell* frame_open(const Cell& word) { return push_frame(word, opener::call); }
inline Cell* frame_open_try(const Cell& word) { return push_frame(word, opener::try_); }
inline Cell* frame_open_try_all(const Cell& word) { return push_frame(word, opener::try_all); }
inline Cell* frame_open_catch(const Cell& word) { return push_frame(word, opener::catch_); }
inline Cell* frame_open_eval(const Cell& word) { return push_frame(word, opener::eval); }
inline Cell* frame_open_loop(const Cell& word) { return push_frame(word, opener::loop); }
inline Cell* frame_open_interp_native(const Cell& word) { return push_frame(word, opener::interp_native); }
inline Cell* frame_open_interp_function(const Cell& word) { return push_frame(word, opener::interp_function); }
// Points the function context's values at the current argument base (the
// arguments the caller just pushed), then opens a call frame that is also
// the return target. Compiled function bodies open their own frame so.
Cell* frame_open_compiled(const Cell& word, NodeId context);
// Opens a kind-1 frame that saves the context's values word (when the
// context is given), so that the close can restore it.
Cell* frame_open_function(const Cell& word, NodeId context);

void set_return_target(bool on);
void mark_interpreted();
// While library code runs, the frames it opens carry no interpreter bit:
// the library stands for compiled code (system/state/interpreted? reads the
// bits). The evaluator switches this as it moves in and out of library code.
inline void set_library_code(bool on) { detail::header_mask = on ? ~bits::interpreted : ~0u; }
// Sets the return-target bit of the caller's frame (the second from the top)
// and answers that frame; null when the bit was already set (or there is no
// such frame), so that the caller clears only what it set.
Frame* mark_caller_return_target();
void clear_return_target(Frame* f);

// ---- Closing ----------------------------------------------------------------
// Each pops one frame. "Function" variants also write the saved values word
// back into the saved context.

// Result stays in the popped frame's first cell; top = that cell + 1.
inline void frame_close() {
    Frame* f = --detail::frames_top;
    Cell* old = stack::arg_base();
    stack::set_arg_base(stack::cell_at_index(f->saved_base));
    stack::set_top(old + 1);
}
void frame_close_function();
// As frame_close, then the result is copied into the caller's result slot.
void frame_return();
void frame_return_function();
// The result is dropped: top = the caller's base.
void frame_discard();
void frame_discard_function();
// Pops the frame and drops its cells (restoring a kind-1 context); at the
// bottom frame both stacks return to their bottoms.
void frame_unwind();

// Pops frames (restoring kind-1 contexts) until `depth` frames are left; an
// argument is ignored when the stack is not deeper. Catch sites use it.
void unwind_to_depth(uint32_t depth);

// ---- Unrolling ----------------------------------------------------------------

// Pops frames until the innermost live one has the kind, is a try/all frame,
// or is the bottom frame; that frame stays live (see frames.cpp for where the
// argument stack ends). Answers it, or null when the stack was empty.
Frame* unroll_to_kind(uint32_t kind, bool keep);
// unroll_to_kind(kind, keep clear), then the innermost frame's result is
// copied into the found frame's result slot, which becomes the base and top.
Frame* unroll_with_result(uint32_t kind);
inline Frame* unroll_to_loop(bool keep) { return unroll_to_kind(kind::loop, keep); }

// The first cell of a live frame (its result slot): the base its opening
// made current. The evaluator runs blocks in bases of their own without
// frames, so the base current above a frame need not be its own.
Cell* own_base(const Frame* f);
// The argument base saved in a frame (its caller's base).
Cell* saved_base(const Frame* f);

// ---- Reports ------------------------------------------------------------------

// True when the frame's symbol is `<body>` or `<anon>`.
bool marker_q(const Frame& f);
// The word of the innermost frame that is not a marker frame, bound as it was
// called; `<not-found>` when there is none. Starts at the saved error-frame
// position when set (a throw records where it happened) and clears it.
Cell calling_word();
// Sets the saved error-frame position when it is not set (throw does so);
// clear_error_frame forgets it (a catch site that handled the throw).
void note_error_frame(Frame* position);
void clear_error_frame();
// The value cell of a frame's word in the frame's word context, or null
// when the word has no readable value there; word_value does the same for a
// bound word cell.
const Cell* frame_word_value(const Frame& f);
const Cell* word_value(const Cell& word);
// Word n (from 0) among the word!, lit-word!, get-word! and refinement!
// values of the called callable's argument block (the calling word's value);
// none when that value is not callable or its argument block is shorter. Names
// the argument in `expect-arg` errors.
Cell spec_word_at(uint32_t n);
// Appends, for each non-marker frame from the innermost down to (not
// including) the bottom frame, the word of its symbol (bound in the frame's
// saved context when it has one, else global) and an integer!: the frame's
// saved argument base as a cell index.
void collect_frames(const Cell& block);
// An error's report names the frames that were live when it was raised,
// after the unwinding popped them: their contents stay in the buffer until
// new frames overwrite them. hold_for_report keeps the frames up to `depth`
// marked by the collector, popped or not, until the next hold, so that the
// report can still read them.
void hold_for_report(uint32_t depth);
uint32_t held_depth();
// Appends to the block, for each non-marker frame from the bottom up to
// (not including) `end`, a word of its symbol when `level` is above 1 or the
// word's value is a function!.
void collect_error_stack(int32_t level, const Cell& block, const Frame* end);
// The same walk up to the depth held in `stack` (an integer!), forming each
// kept word into the mold buffer followed by one blank; answers the budget
// left. Anything but an integer! writes nothing.
int32_t form_error_stack(int32_t level, const Cell& stack, Cell* buffer, int32_t budget);

// Collector hook: marks the contexts the live frames name.
void mark_frames();

// Whether the code now running was called from the evaluator: from the
// position `from` (frames top when null) downwards, the first frame with the
// interpreted bit answers true; with only_next, one frame is looked at.
bool frame_interpreted_q(const Frame* from, bool only_next);

}  // namespace vyr::frames
