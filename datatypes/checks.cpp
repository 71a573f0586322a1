#include "datatypes/checks.h"

#include <cstring>

#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "runtime/registry.h"
#include "datatypes/string_buffer.h"
#include "datatypes/typeset.h"
#include "datatypes/text_readers.h"
#include "datatypes/word.h"
#include "datatypes/frames.h"
#include "runtime/stack.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/numeric.h"

namespace vyr::checks {

namespace {

// The word of the innermost call frame, and the word at a position of the
// running function's spec (none! when it is not a callable's).
Cell calling_word() { return frames::calling_word(); }
Cell spec_word_at(int32_t position) { return frames::spec_word_at(uint32_t(position)); }
}  // namespace

void raise_expect_arg(int32_t position, const Cell& arg) {
    Cell word = calling_word();
    Cell type = datatype_t::value_of(type_of(arg));
    Cell spec_word = spec_word_at(position);
    raise_error(err_cat::script, err_id::script::expect_arg, &word, &type, &spec_word);
}

Cell* check_arg_type(const Cell& typeset, int32_t position, Cell* arg) {
    if (!typeset_t::has(typeset, type_of(*arg))) raise_expect_arg(position, *arg);
    return arg;
}

Cell* check_native_arg(int32_t slot, const Cell& typeset, int32_t position) {
    if (slot < 0) return nullptr;
    return check_arg_type(typeset, position, stack::arg_base() + slot);
}

Cell* check_refinement_arg(const Cell& refinement, const Cell& typeset, int32_t position, Cell* arg) {
    if (logic_t::get(refinement) == 0) return arg;
    return check_arg_type(typeset, position, arg);
}

Cell* check_not_unset(int32_t position, Cell* arg) {
    if (type_of(*arg) == type_unset) raise_expect_arg(position, *arg);
    return arg;
}

Cell* get_word_checked(const Cell& word) {
    Cell* value = word_t::get(word);
    if (type_of(*value) == type_unset) raise_error(err_cat::script, err_id::script::no_value, &word);
    return value;
}

void set_word_checked(Cell& word) {
    Cell value = *stack::top_cell();
    if (type_of(value) == type_unset) raise_error(err_cat::script, err_id::script::need_value, &word);
    word_t::set(word, value);
}

void set_word_pop(Cell& word) {
    set_word_checked(word);
    stack::stack_reset();
}

Cell* context_value_slot(NodeId ctx, int32_t i) {
    Cell* slot = context_t::context_value_at(ctx, i);
    if (!slot) raise_error(err_cat::script, err_id::script::not_defined, context_t::word_at(ctx, i));
    return slot;
}

void set_context_value_checked(NodeId ctx, int32_t i) {
    Cell value = *stack::top_cell();
    if (type_of(value) == type_unset) raise_error(err_cat::script, err_id::script::need_value, context_t::word_at(ctx, i));
    *context_value_slot(ctx, i) = value;
}

void set_context_value_pop(NodeId ctx, int32_t i) {
    set_context_value_checked(ctx, i);
    stack::stack_reset();
}

void set_context_value(NodeId ctx, int32_t i) {
    Cell value = *stack::top_cell();
    if (context_t::kind_of(*context_t::context_cell(ctx)) == context_t::kind_object)
        context_t::word_at(ctx, i)->header |= header::word_changed;
    *context_value_slot(ctx, i) = value;
    stack::stack_reset();
}

void init_refinement_args(const Cell& flag, int32_t slot, int32_t n) {
    Cell* refinement = stack::arg_base() + slot;
    if (!logic_t::falsy(flag)) {
        refinement->w1 = 1;
        return;
    }
    for (int32_t i = 1; i <= n; ++i) none_t::make_at(refinement + i);
}

int32_t cell_to_int(const Cell& value) {
    if (type_of(value) != type_float) return int32_t(value.w2);
    double d = cell_float(value);
    if (d > 2147483647.0 || d < -2147483648.0 || d != d)
        raise_error(err_cat::script, err_id::script::out_of_range, &value);
    return numeric::truncate_to_int32(d);
}

int32_t mold_indent(const Cell& buffer, int32_t level, int32_t budget) {
    for (int32_t i = 0; i < level; ++i) string_t::append_text(buffer, "    ");
    return budget - 4 * level;
}

uint8_t* fill_repeat(uint8_t* dest, uint32_t len, uint32_t count) {
    size_t total = size_t(len) * count;
    if (count <= 1) return dest + total;
    size_t done = len;
    while (total - done >= done) {
        std::memcpy(dest + done, dest, done);
        done *= 2;
    }
    std::memcpy(dest + done, dest, total - done);
    return dest + total;
}

// The case block is re-read through its node at every step: comparing may
// run code that moves buffers.
int32_t switch_find(bool result_mode, bool switch_mode) {
    auto deliver = [&](const Cell& answer) {
        if (result_mode) stack::push_copy(answer);
        else stack::set_result(answer);
    };
    const Cell value = stack::arg_base()[0];
    const Cell cases = stack::arg_base()[1];
    uint32_t type = type_of(value);
    auto compare = registry::action<registry::action_sig::compare>(type, registry::slot_compare);
    if (type == type_block || !compare || cases.w2 == no_node) {
        deliver(none_t::value);
        return -1;
    }
    uint32_t step = result_mode ? 1 : 2;
    for (uint32_t i = cases.w1; i < memory::series_length(cases.w2); i += step) {
        Cell candidate = *memory::cell_at(cases.w2, i);
        if (type_of(candidate) != type) continue;
        Cell v = value;
        if (compare(&v, &candidate, registry::op_equal) != 0) continue;
        uint32_t length = memory::series_length(cases.w2);
        if (switch_mode) {
            // The first block after the match; none when there is none, so
            // that `switch` runs no case.
            uint32_t j = i + 1;
            while (j < length && type_of(*memory::cell_at(cases.w2, j)) != type_block) ++j;
            deliver(j < length ? *memory::cell_at(cases.w2, j) : none_t::value);
        } else {
            deliver(*memory::cell_at(cases.w2, i + 1 < length ? i + 1 : i));
        }
        return int32_t(i);
    }
    deliver(none_t::value);
    return -1;
}

}  // namespace vyr::checks

namespace vyr::checks {

Cell scan_single_value(const Cell& string, Cell* destination) {
    return text_readers::readers.scan_single_value(string, destination);
}

}  // namespace vyr::checks
