// native!, action! and op!: making, reflection, form, mold and compare.
#include "datatypes/native.h"

#include <iterator>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/dispatch.h"
#include "datatypes/integer.h"
#include "runtime/registry.h"
#include "datatypes/string_buffer.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "runtime/collector.h"
#include "runtime/stack.h"
#include "datatypes/errors.h"
#include "runtime/errors.h"
#include "datatypes/fixed_words.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace vyr::native_t {

using namespace registry;

namespace {

constexpr uint32_t record_cells = 2;

// A new record for a spec: the context! cell of a context made from the
// argument block's words (values on the stack), then none.
NodeId make_record(const Cell& spec) {
    NodeId ctx = context_t::make_from_spec(spec, true, false, context_t::kind_function);
    Cell context_cell = *context_t::context_cell(ctx);
    NodeId record = memory::alloc_cells(record_cells);
    *series::alloc_tail_cell(record) = context_cell;
    *series::alloc_tail_cell(record) = Cell{type_none, 0, 0, 0};
    return record;
}

// Appends the text and lowers the budget by its length.
int32_t put(Cell* buffer, const char* text, int32_t length, int32_t budget) {
    string_t::append_text(*buffer, text);
    return budget - length;
}

Cell spec_block(const Cell& value) { return Cell{type_block, 0, value.w2, 0}; }

// "make <type>! [" spec "]": its argument block molded with its brackets (unless only)
// inside the outer brackets.
int32_t mold_with_spec(const Cell& value, const char* opening, int32_t opening_length, Cell* buffer, bool only,
                       bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    budget = put(buffer, opening, opening_length, budget);
    budget = dispatch::mold(spec_block(value), buffer, only, all, flat, part, budget, indent);
    return put(buffer, "]", 1, budget);
}

// ---- The layout a slot's routine reads ----------------------------------------
// A native's or action's routine reads its frame by the layout of the argument block
// it was written for: so many arguments, then so many refinements with so
// many arguments each, each argument of the types it expects. The argument block a
// slot is first made with (by the boot sources, before any script runs) is
// kept; a later make of the slot must keep that layout and may accept no type
// the first spec did not. Anything else is refused at make, before a call
// could read cells that are not there or values of a type it cannot handle.

// One entry of a layout: an argument with the types it accepts, or the start
// of a refinement.
struct LayoutEntry {
    bool refinement;
    Cell types;
};

// The types a type block names (a block inside it documents a callback).
Cell types_of(const Cell& block) {
    Cell ts = typeset_t::make_cell();
    for (uint32_t i = block.w1; i < memory::series_length(block.w2); ++i) {
        Cell entry = *memory::cell_at(block.w2, i);
        if (type_of(entry) != type_block) typeset_t::add(ts, entry);
    }
    return ts;
}

// The layout of an argument block, read as the evaluator reads argument specs: a
// word of any kind is an argument (every type until a type block follows),
// a refinement starts a refinement and /local ends the block; doc strings,
// return: and its block are skipped.
std::vector<LayoutEntry> layout_of(const Cell& spec) {
    std::vector<LayoutEntry> out;
    int32_t local = symbol_t::resolve_alias(int32_t(fixed::ref_local.w2));
    bool typed_open = false;  // the last entry is an argument whose type block may follow
    for (uint32_t i = spec.w1; i < memory::series_length(spec.w2); ++i) {
        Cell c = *memory::cell_at(spec.w2, i);
        uint32_t t = type_of(c);
        if (t == type_block) {
            if (typed_open) out.back().types = types_of(c);
            typed_open = false;
            continue;
        }
        typed_open = false;
        if (t == type_refinement) {
            if (symbol_t::resolve_alias(int32_t(c.w2)) == local) break;
            out.push_back({true, typeset_t::make_cell()});
        } else if (t == type_word || t == type_get_word || t == type_lit_word) {
            out.push_back({false, typeset_t::make_cell(~0u, ~0u, ~0u)});
            typed_open = true;
        }
    }
    return out;
}

bool subset_q(const Cell& a, const Cell& b) {
    return (a.w1 & ~b.w1) == 0 && (a.w2 & ~b.w2) == 0 && (a.w3 & ~b.w3) == 0;
}

bool same_layout_q(const Cell& spec, const Cell& first) {
    std::vector<LayoutEntry> now = layout_of(spec), was = layout_of(first);
    if (now.size() != was.size()) return false;
    for (size_t i = 0; i < now.size(); ++i) {
        if (now[i].refinement != was[i].refinement) return false;
        if (!now[i].refinement && !subset_q(now[i].types, was[i].types)) return false;
    }
    return true;
}

// The argument block a slot was first made with (none until then); rooted, and
// forgotten with the heap it belongs to.
Cell first_specs[native_slots + action_slots];
uint32_t first_specs_generation = ~0u;

Cell& first_spec(uint32_t type, uint32_t slot) {
    if (first_specs_generation != collector::heap_generation()) {
        for (Cell& c : first_specs) c = Cell{type_none, 0, 0, 0};
        first_specs_generation = collector::heap_generation();
        collector::add_root_cells(first_specs, std::size(first_specs));
    }
    return first_specs[(type == type_native ? 0 : native_slots) + slot];
}

}  // namespace

Cell* push(uint32_t type, const Cell& spec, uint32_t slot) {
    Cell s = spec;
    s.w1 = 0;
    NodeId record = make_record(s);
    return stack::push_copy(Cell{type, slot, s.w2, record});
}

// The argument is [spec-block index]: exactly two values, the index within
// the table of the type.
Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    Cell arg = *spec;
    Cell datatype = datatype_t::value_of(type);
    if (type_of(arg) != type_block) errors::raise_bad_make_arg(datatype, arg);
    uint32_t length = memory::series_length(arg.w2);
    if (arg.w1 > length || length - arg.w1 != 2) errors::raise_bad_make_arg(datatype, arg);
    Cell s = *memory::cell_at(arg.w2, arg.w1);
    Cell n = *memory::cell_at(arg.w2, arg.w1 + 1);
    uint32_t limit = type == type_native ? native_slots : action_slots;
    if (type_of(s) != type_block || type_of(n) != type_integer) errors::raise_bad_make_arg(datatype, arg);
    int32_t index = integer_t::get(n);
    if (index < 1 || uint32_t(index) > limit) errors::raise_bad_make_arg(datatype, arg);
    Cell& first = first_spec(type, uint32_t(index - 1));
    Cell spec_now{type_block, 0, s.w2, 0};
    if (type_of(first) == type_none) first = spec_now;
    else if (!same_layout_q(spec_now, first)) errors::raise_bad_make_arg(datatype, arg);
    stack::Mark mark;
    *proto = *push(type, s, uint32_t(index - 1));
    mark.restore();
    return proto;
}

Cell* reflect(Cell* value, Cell* field) {
    auto sym = int32_t(field->w2);
    if (sym == fixed::sym_spec) {
        *value = spec_block(*value);
        return value;
    }
    if (sym == fixed::sym_body) {
        uint32_t wrapped = type_of(*value) == type_op ? op_t::wrapped_type(*value) : type_of(*value);
        if (wrapped == type_function || wrapped == type_routine) {
            *value = *memory::cell_at(value->w3, 0);
            return value;
        }
        return integer_t::make_at(value, int32_t(value->w1) + 1);
    }
    raise_error(err_cat::internal, err_id::internal::not_done);
}

int32_t form(Cell*, Cell* buffer, Cell*, int32_t budget) { return put(buffer, "?native?", 8, budget); }

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    return mold_with_spec(*value, "make native! [", 14, buffer, only, all, flat, part, budget, indent);
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (type_of(*a) != type_of(*b)) return not_comparable;
    switch (op) {
        case op_equal: case op_not_equal: case op_strict_equal: case op_sort: case op_case_sort: case op_same:
        case op_find: {
            auto x = int32_t(a->w1), y = int32_t(b->w1);
            return x < y ? -1 : x > y ? 1 : 0;
        }
        default: return not_comparable;
    }
}

void init() {
    Row row;
    row.set(slot_make, make);
    row.set(slot_reflect, reflect);
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_compare, compare);
    row.register_as(type_native, 0, "native!");
}

}  // namespace vyr::native_t

namespace vyr::action_t {

using namespace registry;

int32_t form(Cell*, Cell* buffer, Cell*, int32_t budget) {
    string_t::append_text(*buffer, "?action?");
    return budget - 8;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    string_t::append_text(*buffer, "make action! [");
    budget -= 14;
    budget = dispatch::mold(Cell{type_block, 0, value->w2, 0}, buffer, only, all, flat, part, budget, indent);
    string_t::append_text(*buffer, "]");
    return budget - 1;
}

void init() {
    Row row;
    row.set(slot_make, native_t::make);
    row.inherit({slot_reflect});
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_compare, native_t::compare);
    row.register_as(type_action, type_native, "action!");
}

}  // namespace vyr::action_t

namespace vyr::op_t {

using namespace registry;

namespace {
int32_t canonical(const Cell& word) { return symbol_t::resolve_alias(int32_t(word.w2)); }
}  // namespace

// Counts the arguments up to the locals or the return: a lit-word or
// get-word is refused as the first argument, any refinement but /local and
// /extern is refused, type blocks and doc strings are skipped.
bool spec_ok_q(NodeId spec) {
    int32_t local = canonical(fixed::ref_local), extern_ = canonical(fixed::ref_extern);
    int32_t args = 0;
    bool plain_seen = false;
    for (uint32_t i = 0; i < memory::series_length(spec); ++i) {
        const Cell& c = *memory::cell_at(spec, i);
        switch (type_of(c)) {
            case type_word:
                ++args;
                plain_seen = true;
                break;
            case type_lit_word:
            case type_get_word:
                if (!plain_seen) return false;
                ++args;
                break;
            case type_refinement: {
                int32_t s = canonical(c);
                if (s == local || s == extern_) return args == 2;
                return false;
            }
            case type_set_word: return args == 2;
            default: break;
        }
    }
    return args == 2;
}

Cell* make(Cell* proto, Cell* spec, uint32_t) {
    Cell arg = *spec;
    uint32_t t = type_of(arg);
    if (!(t == type_native || t == type_action || t == type_function || t == type_routine)) {
        Cell type = datatype_t::value_of(t);
        raise_error(err_cat::script, err_id::script::invalid_type, &type);
    }
    if (!spec_ok_q(arg.w2)) raise_error(err_cat::script, err_id::script::bad_op_spec);
    if (t == type_function || t == type_routine) *memory::cell_at(arg.w3, 3) = arg;
    *proto = arg;
    proto->header = type_op | (t << header::op_type_shift);
    return proto;
}

int32_t form(Cell*, Cell* buffer, Cell*, int32_t budget) {
    string_t::append_text(*buffer, "?op?");
    return budget - 4;
}

// An op! made from a function! molds as the function's text; any other as
// its argument block in brackets. The caller's cells are left as they were.
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    Cell op = *value;
    stack::Mark mark;
    Cell spec{type_block, 0, op.w2, 0};
    string_t::append_text(*buffer, "make op! ");
    budget -= 9;
    if (wrapped_type(op) == type_function) {
        string_t::append_text(*buffer, "func ");
        budget -= 5;
        budget = dispatch::mold(spec, buffer, only, all, flat, part, budget, indent);
        Cell body = *memory::cell_at(op.w3, 0);
        if (type_of(body) == type_block) budget = dispatch::mold(body, buffer, only, all, flat, part, budget, indent);
    } else {
        string_t::append_text(*buffer, "[");
        budget = dispatch::mold(spec, buffer, only, all, flat, part, budget - 1, indent);
        string_t::append_text(*buffer, "]");
        budget -= 1;
    }
    mark.restore();
    return budget;
}

void init() {
    Row row;
    row.set(slot_make, make);
    row.inherit({slot_reflect});
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_compare, native_t::compare);
    row.register_as(type_op, type_native, "op!");
}

}  // namespace vyr::op_t
