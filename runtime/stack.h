// The argument stack: the stack of value cells through which natives,
// actions and functions take their arguments and leave their results.
//
// It lives in one fixed series (it never moves), so cell addresses into it
// stay valid. `arg_base` is the first cell of the innermost call frame and
// doubles as that frame's result slot; `args_top` is one past the last live
// cell. The collector marks every cell from the bottom to the top.
//
// The call-frame stack (which word was called, where the caller's cells
// begin, what kind of catch point a call is) is kept beside it, in
// engine/frames.h.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::stack {

inline constexpr uint32_t arg_stack_cells = 20000;

namespace detail {
extern Cell* args_bottom;
extern Cell* args_end;
extern Cell* args_top;
extern Cell* arg_base;
[[noreturn]] void overflow();
}  // namespace detail

// Makes the stack's backing block and registers it with the collector.
void make_stack_block();
// Points bottom, top and base at the backing block's head.
void stack_init();

inline Cell* bottom() { return detail::args_bottom; }
inline Cell* top() { return detail::args_top; }
inline Cell* arg_base() { return detail::arg_base; }
inline void set_arg_base(Cell* base) { detail::arg_base = base; }
inline void set_top(Cell* top) { detail::args_top = top; }
inline uint32_t depth() { return uint32_t(detail::args_top - detail::args_bottom); }

// Positions kept outside the stack (call frames, saved bases) are cell
// indexes from the bottom, never addresses.
inline uint32_t cell_index(const Cell* c) { return uint32_t(c - detail::args_bottom); }
inline Cell* cell_at_index(uint32_t i) { return detail::args_bottom + i; }

// Reserves the cell at the top and answers it; its content is whatever lay
// there. A push that would reach the end raises internal error
// `stack-overflow`, leaving 5 cells of room.
inline Cell* push_cell() {
    Cell* c = detail::args_top;
    if (c + 1 >= detail::args_end) detail::overflow();
    detail::args_top = c + 1;
    return c;
}
inline Cell* push_copy(const Cell& value) {
    Cell* c = push_cell();
    *c = value;
    return c;
}
// Drops n cells, never below the bottom.
inline void pop_cells(uint32_t n) {
    detail::args_top = uint32_t(detail::args_top - detail::args_bottom) > n ? detail::args_top - n : detail::args_bottom;
}
// The last pushed cell, or the bottom when the stack is empty.
inline Cell* top_cell() {
    return detail::args_top > detail::args_bottom ? detail::args_top - 1 : detail::args_bottom;
}
inline uint32_t top_type() { return type_of(*top_cell()); }
inline bool top_callable_q() {
    uint32_t t = top_type();
    return t == type_function || t == type_routine;
}
// Copies the cell into the result slot (the argument base).
inline void set_result(const Cell& value) { *detail::arg_base = value; }
// Keeps only the result slot, then stores the value there.
inline void reset_with_result(const Cell& value) {
    Cell v = value;
    detail::args_top = detail::arg_base + 1;
    *detail::arg_base = v;
}
// Drops every cell of the innermost frame, its result slot included.
inline void stack_reset() { detail::args_top = detail::arg_base; }
// Keeps only the result slot.
inline void stack_keep() { detail::args_top = detail::arg_base + 1; }

// Restores the stack's top and base on scope exit: catch sites save them at
// entry and come back to them when an error unwinds through.
class Mark {
public:
    Mark() : top_(detail::args_top), base_(detail::arg_base) {}
    void restore() const {
        detail::args_top = top_;
        detail::arg_base = base_;
    }
    Cell* saved_top() const { return top_; }

private:
    Cell* top_;
    Cell* base_;
};

}  // namespace vyr::stack
