#include "datatypes/unwind.h"

#include <cstdint>
#include <cstdlib>

#include "datatypes/unset.h"
#include "datatypes/frames.h"
#include "runtime/stack.h"
#include "datatypes/errors.h"
#include "runtime/errors.h"

namespace vyr::unwind {

void raise_out_of_memory() { raise_error(err_cat::internal, err_id::internal::no_memory); }

namespace {
// The frame a break, return or throw lands in: walking down from the frame
// below the innermost (from the innermost with from_here), the first that
// `lands` accepts. A try/all frame on the way, or none found, raises throw
// error `id` (with `arg` when given); nothing has been changed by then.
template <typename Lands>
frames::Frame* find_target(bool from_here, Lands lands, int id, const Cell* arg) {
    frames::Frame* p = frames::top();
    if (!from_here && p != frames::bottom()) --p;
    while (p != frames::bottom()) {
        frames::Frame* f = --p;
        if (frames::kind_of(*f) == frames::kind::try_all) break;
        if (lands(*f)) return f;
    }
    raise_error(err_cat::throw_, id, arg);
}


// Keeps the target frame live (popping those above it, restoring their
// contexts); its first cell becomes the base and the top. Answers that cell.
Cell* land_at(frames::Frame* target) {
    Cell* own = frames::own_base(target);
    frames::unwind_to_depth(uint32_t(target - frames::bottom()) + 1);
    stack::set_arg_base(own);
    stack::set_top(own);
    return own;
}

}  // namespace

// ---- Errors ---------------------------------------------------------------------

void error_unwind() {
    uint32_t depth = frames::depth();
    frames::hold_for_report(depth);
    if (depth > 0) errors::set_where(frames::calling_word());
    throw_code(catch_code::error);
}

uint32_t error_depth() { return frames::held_depth(); }

void settle_after_catch() {
    if (stack::top() > stack::arg_base() && type_of(*stack::top_cell()) == type_error)
        stack::set_result(*stack::top_cell());
    stack::stack_keep();
}

// ---- Break, continue, return, exit, throw ---------------------------------------

Status throw_break(bool has_value, bool is_continue) {
    auto is_loop = [](const frames::Frame& f) { return frames::kind_of(f) == frames::kind::loop; };
    frames::Frame* loop = find_target(false, is_loop, is_continue ? err_id::throw_::continue_ : err_id::throw_::break_, nullptr);
    Cell value = has_value && !is_continue ? *stack::arg_base() : unset_t::value;
    *land_at(loop) = value;
    return is_continue ? Status::continue_ : Status::break_;
}

Status throw_return(bool is_return, bool from_here) {
    auto is_target = [](const frames::Frame& f) { return (f.header & frames::bits::return_target) != 0; };
    frames::Frame* target = find_target(from_here, is_target, err_id::throw_::return_, nullptr);
    Cell value = is_return ? *stack::arg_base() : unset_t::value;
    *land_at(target) = value;
    return is_return ? Status::return_ : Status::exit;
}

Status throw_value(uint32_t code) {
    Cell value = stack::arg_base()[0];
    Cell name = stack::arg_base()[1];
    frames::Frame* position = frames::top();
    if (position != frames::bottom()) --position;
    frames::note_error_frame(position);
    auto is_catch = [](const frames::Frame& f) { return frames::kind_of(f) == frames::kind::catch_; };
    frames::Frame* target = find_target(false, is_catch, err_id::throw_::throw_, &value);
    land_at(target);
    stack::push_copy(value);
    stack::push_copy(name);
    return Status(code);
}

// ---- Catch sites ----------------------------------------------------------------

Site::Site()
    : top_(stack::cell_index(stack::top())),
      base_(stack::cell_index(stack::arg_base())),
      depth_(frames::depth()),
      exceptions_(std::uncaught_exceptions()) {}

void Site::restore() const {
    frames::unwind_to_depth(depth_);
    if (stack::cell_index(stack::top()) > top_) stack::set_top(stack::cell_at_index(top_));
    if (stack::cell_index(stack::arg_base()) > base_) stack::set_arg_base(stack::cell_at_index(base_));
}

}  // namespace vyr::unwind
