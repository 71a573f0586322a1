#include "engine/unwind.h"

#include <cstdint>
#include <cstdlib>

#include "datatypes/registry.h"
#include "engine/frames.h"
#include "engine/stack.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/print_hooks.h"

namespace vyr::unwind {

namespace {
Cell pending{type_unset, 0, 0, 0};  // the error being carried to its catch site

// Throw errors (category `throw`).
namespace throw_id {
constexpr int break_ = 2;
constexpr int return_ = 3;
constexpr int throw_ = 4;
constexpr int continue_ = 5;
}  // namespace throw_id

// Fields of an error! value, by position in its object.
namespace error_field {
constexpr uint32_t code = 0;
constexpr uint32_t where = 7;
constexpr uint32_t stack = 8;
}  // namespace error_field

constexpr int32_t uncaught_error_status = -2;

// Field n of an error! value (its context's values block), or null.
Cell* field_of(const Cell& error, uint32_t n) {
    if (type_of(error) != type_error || !error.w1) return nullptr;
    NodeId values = memory::cell_head(error.w1)->w2;
    if (!values || n >= memory::series_length(values)) return nullptr;
    return memory::cell_at(values, n);
}

void set_where(const Cell& error, const Cell& word) {
    Cell* where = field_of(error, error_field::where);
    if (where && type_of(*where) == type_none) *where = word;
}

bool try_frame_live() {
    for (frames::Frame* f = frames::top(); f != frames::bottom();) {
        --f;
        uint32_t k = frames::kind_of(*f);
        if (k == frames::kind::try_ || k == frames::kind::try_all) return true;
    }
    return false;
}

// Prints the error as `print` does (formed, with a line end), through the
// output hooks; an error type without a form action gets its code printed.
void print_error(const Cell& error) {
    auto form = registry::action<registry::action_sig::form>(type_of(error), registry::slot_form);
    if (!form) {
        Cell* code = field_of(error, error_field::code);
        platform::runtime_print_line({"*** Error: code ", code ? int(int32_t(code->w2)) : -1});
        return;
    }
    Cell* value = stack::push_copy(error);
    Cell* text = stack::push_copy(Cell{type_string, 0, memory::alloc_units(16, 1), 0});
    form(value, text, nullptr, INT32_MAX);
    hooks::run_print_hooks(text, true);
}

[[noreturn]] void end_uncaught(const Cell& error) {
    if (stack::arg_base()) {
        stack::set_result(error);
        stack::stack_keep();
    }
    print_error(error);
    platform::release_all_allocations();
    std::exit(uncaught_error_status);
}

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

const Cell unset_cell{type_unset, 0, 0, 0};
}  // namespace

void unwind_init() {
    pending = unset_cell;
    collector::add_root_cells(&pending, 1);
}

// ---- Errors ---------------------------------------------------------------------

void error_mark_stack(const Cell& error) {
    Cell* s = field_of(error, error_field::stack);
    if (s && type_of(*s) != type_block) *s = Cell{type_integer, 0, frames::depth(), 0};
}

void error_unwind(const Cell& error) {
    Cell e = error;
    if (frames::depth() > 0) {
        set_where(e, frames::calling_word());
        error_mark_stack(e);
    }
    if (!try_frame_live()) end_uncaught(e);
    pending = e;
    throw_code(catch_code::error);
}

const Cell& caught_error() { return pending; }

Cell* push_caught_error() {
    Cell* c = stack::push_copy(pending);
    pending = unset_cell;
    return c;
}

void settle_after_catch() {
    if (stack::top() > stack::arg_base() && type_of(*stack::top_cell()) == type_error)
        stack::set_result(*stack::top_cell());
    stack::stack_keep();
}

// ---- Break, continue, return, exit, throw ---------------------------------------

Status throw_break(bool has_value, bool is_continue) {
    auto is_loop = [](const frames::Frame& f) { return frames::kind_of(f) == frames::kind::loop; };
    frames::Frame* loop = find_target(false, is_loop, is_continue ? throw_id::continue_ : throw_id::break_, nullptr);
    Cell value = has_value && !is_continue ? *stack::arg_base() : unset_cell;
    *land_at(loop) = value;
    return is_continue ? Status::continue_ : Status::break_;
}

Status throw_return(bool is_return, bool from_here) {
    auto is_target = [](const frames::Frame& f) { return (f.header & frames::bits::return_target) != 0; };
    frames::Frame* target = find_target(from_here, is_target, throw_id::return_, nullptr);
    Cell value = is_return ? *stack::arg_base() : unset_cell;
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
    frames::Frame* target = find_target(false, is_catch, throw_id::throw_, &value);
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
