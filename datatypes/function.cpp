// function! and routine!: construction, spec checks, locals, reflection,
// form, mold and compare, and the C++ entry that runs a function value.
#include "datatypes/function.h"

#include "datatypes/eval_hooks.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/dispatch.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "runtime/registry.h"
#include "datatypes/string_buffer.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/routines.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "datatypes/fixed_words.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace vyr::function_t {

using namespace registry;
namespace script = err_id::script;

namespace {

constexpr Cell unset_cell{type_unset, 0, 0, 0};

int32_t canonical(int32_t symbol) { return symbol_t::resolve_alias(symbol); }
int32_t canonical(const Cell& word) { return canonical(int32_t(word.w2)); }

bool arg_word(uint32_t t) { return t == type_word || t == type_get_word || t == type_lit_word; }
bool named_entry(uint32_t t) { return arg_word(t) || t == type_refinement; }

uint32_t length_of(const Cell& block) { return memory::series_length(block.w2); }
Cell cell_of(const Cell& block, uint32_t i) { return *memory::cell_at(block.w2, i); }

// A new block of the same type holding the cells from `from` (shallow).
Cell copy_from(const Cell& block, uint32_t from) {
    uint32_t n = length_of(block);
    uint32_t count = from < n ? n - from : 0;
    NodeId node = memory::alloc_cells(count + 1);
    for (uint32_t i = 0; i < count; ++i) *series::alloc_tail_cell(node) = cell_of(block, from + i);
    return Cell{type_of(block), 0, node, 0};
}

void clamp_index(Cell& block) {
    if (block.w1 > length_of(block)) block.w1 = length_of(block);
}

[[noreturn]] void bad_spec(const Cell& spec) { raise_error(err_cat::script, script::bad_func_def, &spec); }

// ---- Spec checks ---------------------------------------------------------------

// The attribute block: words only; `trace` and `no-trace` give header flags.
uint32_t attribute_flags(const Cell& spec, const Cell& attributes) {
    uint32_t flags = 0;
    for (uint32_t i = attributes.w1; i < length_of(attributes); ++i) {
        Cell w = cell_of(attributes, i);
        if (type_of(w) != type_word) bad_spec(spec);
        if (canonical(w) == canonical(fixed::sym_trace)) flags |= flag::trace;
        else if (canonical(w) == canonical(fixed::sym_no_trace)) flags |= flag::no_trace;
    }
    return flags;
}

// Each entry of an argument's type block names a type: a datatype!, a
// typeset!, or a word whose value is one of those or a word.
void check_type_block(const Cell& types) {
    for (uint32_t i = types.w1; i < length_of(types); ++i) {
        Cell entry = cell_of(types, i);
        uint32_t t = type_of(entry);
        if (t == type_datatype || t == type_typeset) continue;
        if (t != type_word) raise_error(err_cat::script, script::invalid_type_spec, &entry);
        Cell v = *word_t::get(entry);
        uint32_t vt = type_of(v);
        if (vt == type_unset) raise_error(err_cat::script, script::no_value, &entry);
        if (vt != type_datatype && vt != type_typeset && vt != type_word)
            raise_error(err_cat::script, script::invalid_type_spec, &entry);
    }
}

// A later argument, local or refinement with the same name as an earlier
// one raises `dup-vars` naming the later one.
void check_duplicates(const Cell& spec) {
    uint32_t n = length_of(spec);
    for (uint32_t i = spec.w1; i < n; ++i) {
        Cell later = cell_of(spec, i);
        if (!named_entry(type_of(later))) continue;
        for (uint32_t j = spec.w1; j < i; ++j) {
            Cell earlier = cell_of(spec, j);
            if (named_entry(type_of(earlier)) && canonical(earlier) == canonical(later))
                raise_error(err_cat::script, script::dup_vars, &later);
        }
    }
}

// Clears the private flag of a block and of the blocks, parens and paths in
// it. Nothing here allocates, so the buffer's cells are walked in place.
void release_boot_private(NodeId block) {
    memory::SeriesBuffer* b = memory::buffer_of(block);
    if (!(b->flags & memory::flag::boot_private)) return;
    b->flags &= ~memory::flag::boot_private;
    for (const Cell *c = b->cells(), *end = b->cells_end(); c < end; ++c) {
        if (any_block_q(type_of(*c))) release_boot_private(c->w2);
    }
}

// A function that library code makes from its own code keeps that code
// library code: the body copy, and every block and paren in it, is marked
// as decoded from the boot image. (Already marked: done, cycles included.)
// Nothing here allocates, so the buffer's cells are walked in place.
void keep_boot_origin(NodeId block) {
    memory::SeriesBuffer* b = memory::buffer_of(block);
    if (b->flags & memory::flag::boot_origin) return;
    b->flags |= memory::flag::boot_origin;
    for (const Cell *c = b->cells(), *end = b->cells_end(); c < end; ++c) {
        if (type_of(*c) == type_block || type_of(*c) == type_paren) keep_boot_origin(c->w2);
    }
}

// A body block decoded from the boot image that nothing has taken yet is
// held only by the boot code that passes it here: the lexer shares no
// block, and no boot source keeps a block it gives to a function maker.
// The function takes it as its own body instead of a copy, and everything
// nested in it stops being private, so that code in the body which makes a
// function (again and again, at each call) copies as usual. Code that runs
// twice finds its block taken the second time and copies it.
bool take_boot_body(const Cell& body) {
    if (type_of(body) != type_block || body.w1 != 0) return false;
    if (!(memory::buffer_of(body.w2)->flags & memory::flag::boot_private)) return false;
    release_boot_private(body.w2);
    return true;
}

bool may_follow_refinement(uint32_t t) {
    return arg_word(t) || t == type_refinement || t == type_set_word || t == type_string;
}

}  // namespace

// ---- Making --------------------------------------------------------------------

NodeId make_function(const Cell& spec_in, const Cell* body_in, NodeId context, int32_t entry, int32_t second,
                     uint32_t flags) {
    Cell spec = spec_in;
    if (spec.w1 > 0) spec = copy_from(spec, spec.w1);
    clamp_index(spec);
    bool has_body = body_in && type_of(*body_in) != type_none;
    Cell body = has_body ? *body_in : none_t::value;
    if (has_body) clamp_index(body);

    NodeId rec = memory::alloc_cells(record::cells);
    for (uint32_t i = 0; i < record::cells; ++i) *series::alloc_tail_cell(rec) = unset_cell;
    bool own_context = context == no_node;
    if (own_context) context = context_t::make_from_spec(spec, true, false, context_t::kind_function);

    Cell fn{type_function | flags, context, spec.w2, rec};
    Cell* pushed = stack::push_copy(fn);
    *context_t::self_slot(context) = fn;

    // The body copy: nested blocks, parens and paths are copied too.
    Cell body_copy = none_t::value;
    if (has_body && take_boot_body(body)) {
        body_copy = Cell{type_block | (body.header & header::new_line), 0, body.w2, 0};
    } else if (has_body) {
        body_copy = *block_t::clone(body, true, true);
        stack::pop_cells(1);
        if (memory::buffer_of(body.w2)->flags & memory::flag::boot_origin) keep_boot_origin(body_copy.w2);
    }
    *memory::cell_at(rec, record::body) = body_copy;
    if (entry) integer_t::make_at(memory::cell_at(rec, record::entry), entry);
    if (second) integer_t::make_at(memory::cell_at(rec, record::second), second);
    if (own_context && has_body) block_t::bind(&body_copy, context, false);
    (void)pushed;
    return context;
}

uint32_t check_spec(const Cell& spec_in) {
    Cell spec = spec_in;
    clamp_index(spec);
    uint32_t n = length_of(spec);
    uint32_t i = spec.w1;
    uint32_t flags = 0;
    if (i < n && type_of(cell_of(spec, i)) == type_block) flags = attribute_flags(spec, cell_of(spec, i++));

    const int32_t local = canonical(fixed::ref_local), ret = canonical(fixed::sym_return);
    bool in_locals = false, has_return = false;
    while (i < n) {
        Cell c = cell_of(spec, i);
        uint32_t t = type_of(c);
        auto next_type = [&](uint32_t k) { return i + k < n ? type_of(cell_of(spec, i + k)) : type_none_id; };
        if (arg_word(t)) {
            if (in_locals && t != type_word) bad_spec(spec);
            if (has_return && !in_locals) bad_spec(spec);
            if (next_type(1) == type_string && next_type(2) == type_block) bad_spec(spec);
            ++i;
            if (next_type(0) == type_block) check_type_block(cell_of(spec, i++));
        } else if (t == type_set_word) {
            if (canonical(c) != ret || has_return || in_locals) bad_spec(spec);
            if (next_type(1) != type_block) bad_spec(spec);
            uint32_t after = next_type(2);
            if (!(after == type_none_id || after == type_refinement || after == type_string)) bad_spec(spec);
            has_return = true;
            i += 2;
        } else if (t == type_refinement) {
            if (canonical(c) == local) in_locals = true;
            else if (in_locals || has_return) bad_spec(spec);
            if (i + 1 < n && !may_follow_refinement(next_type(1))) bad_spec(spec);
            ++i;
        } else if (t == type_string) {
            ++i;
        } else {
            bad_spec(spec);
        }
    }
    check_duplicates(spec);
    return flags;
}

namespace {

// Whether the block holds a word of the symbol's name (any case).
bool knows(const Cell& block, const Cell& word) {
    for (uint32_t i = 0; i < length_of(block); ++i) {
        Cell c = cell_of(block, i);
        if (type_of(c) == type_word && canonical(c) == canonical(word)) return true;
    }
    return false;
}

void append(const Cell& block, const Cell& value) {
    Cell v = value;
    *series::append_cell(block) = v;
}

Cell as_word(const Cell& c) {
    Cell w = c;
    w.header = type_word;
    return w;
}

// A candidate local that the known words lack is added to both blocks.
void consider(const Cell& candidate, const Cell& known, const Cell& locals) {
    Cell w = as_word(candidate);
    if (knows(known, w)) return;
    append(locals, w);
    append(known, w);
}

bool loop_word(const Cell& c, bool with_repeat) {
    if (type_of(c) != type_word) return false;
    int32_t s = canonical(c);
    return s == canonical(fixed::sym_foreach) || s == canonical(fixed::sym_remove_each) ||
           (with_repeat && s == canonical(fixed::sym_repeat));
}

void collect_in(const Cell& body, const Cell& known, const Cell& locals) {
    if (series::cycle_find(body.w2)) return;
    series::cycle_push(body.w2);
    for (uint32_t i = body.w1; i < length_of(body); ++i) {
        Cell c = cell_of(body, i);
        uint32_t t = type_of(c);
        if (t == type_set_word) {
            consider(c, known, locals);
        } else if (t == type_block || t == type_paren) {
            collect_in(c, known, locals);
        } else if (i + 1 < length_of(body)) {
            Cell next = cell_of(body, i + 1);
            uint32_t nt = type_of(next);
            if (loop_word(c, false) && nt == type_block) {
                for (uint32_t k = next.w1; k < length_of(next); ++k)
                    if (arg_word(type_of(cell_of(next, k)))) consider(cell_of(next, k), known, locals);
            } else if (loop_word(c, true) && (nt == type_word || nt == type_set_word)) {
                consider(next, known, locals);
            }
        }
    }
    series::cycle_pop();
}

// The position of the first refinement of the name in the block, or -1.
int32_t find_refinement(const Cell& block, const Cell& refinement) {
    for (uint32_t i = block.w1; i < length_of(block); ++i) {
        Cell c = cell_of(block, i);
        if (type_of(c) == type_refinement && canonical(c) == canonical(refinement)) return int32_t(i);
    }
    return -1;
}

}  // namespace

Cell collect_locals(Cell& spec, const Cell& body) {
    Cell locals = copy_from(spec, length_of(spec));
    Cell known = copy_from(spec, spec.w1);
    stack::Mark mark;
    stack::push_copy(locals);
    stack::push_copy(known);

    int32_t ext = find_refinement(spec, fixed::ref_extern);
    if (ext >= 0) {
        uint32_t i = uint32_t(ext) + 1;
        while (i < length_of(spec) && type_of(cell_of(spec, i)) == type_word) ++i;
        if (i < length_of(spec) && type_of(cell_of(spec, i)) == type_refinement &&
            canonical(cell_of(spec, i)) == canonical(fixed::ref_local)) {
            for (++i; i < length_of(spec); ++i)
                if (type_of(cell_of(spec, i)) == type_word) append(locals, cell_of(spec, i));
        }
        memory::buffer_of(spec.w2)->tail = memory::buffer_of(spec.w2)->head + uint32_t(ext) * sizeof(Cell);
    }
    for (uint32_t i = 0; i < length_of(known); ++i) {
        Cell* c = memory::cell_at(known.w2, i);
        uint32_t t = type_of(*c);
        if (t == type_set_word || t == type_lit_word || t == type_get_word || t == type_refinement)
            c->header = type_word;
        else if (ext >= 0 && t != type_word && t != type_block && t != type_string)
            raise_error(err_cat::script, script::bad_func_extern, c);
    }
    collect_in(body, known, locals);

    if (length_of(locals) > 0) {
        if (find_refinement(spec, fixed::ref_local) < 0) append(spec, fixed::ref_local);
        for (uint32_t i = 0; i < length_of(locals); ++i) {
            Cell w = cell_of(locals, i);
            if (canonical(w) == canonical(fixed::ref_local)) continue;
            append(spec, w);
        }
    }
    mark.restore();
    return locals;
}

int32_t arity_to_refinement(NodeId spec, uint32_t index, bool check) {
    uint32_t n = memory::series_length(spec);
    int32_t local = canonical(fixed::ref_local);
    for (uint32_t i = index; i < n; ++i) {
        const Cell& c = *memory::cell_at(spec, i);
        if (type_of(c) != type_refinement || canonical(c) != local) continue;
        int32_t slots = 1;
        for (uint32_t k = i + 1; k < n; ++k) slots += type_of(*memory::cell_at(spec, k)) == type_word;
        return slots;
    }
    return check ? -1 : 0;
}

void push_initial_locals(int32_t n) {
    if (n <= 0) return;
    logic_t::push(false);
    for (int32_t i = 1; i < n; ++i) none_t::push();
}

// ---- Calling a function value from C++ ---------------------------------------

Status call(const Cell& fn, Cell* args, uint32_t count, NodeId object, const Cell& name, Cell& answer) {
    if (type_of(fn) == type_routine) {
        Cell entry = *memory::cell_at(fn.w3, record::entry);
        int32_t index = type_of(entry) == type_integer ? integer_t::get(entry) : 0;
        Status s = routines::call(index, args, count);
        answer = args[0];
        return s;
    }
    return eval_hooks::call(fn, args, count, object, name, answer);
}

// ---- Actions ---------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint32_t) {
    Cell arg = *spec;
    bool ok = type_of(arg) == type_block && length_of(arg) >= arg.w1 + 2 &&
              type_of(cell_of(arg, arg.w1)) == type_block && type_of(cell_of(arg, arg.w1 + 1)) == type_block;
    if (!ok) raise_error(err_cat::script, script::bad_func_def, &arg);
    Cell s = cell_of(arg, arg.w1), b = cell_of(arg, arg.w1 + 1);
    uint32_t flags = check_spec(s);
    stack::Mark mark;
    make_function(s, &b, no_node, 0, 0, flags);
    *proto = *stack::top_cell();
    mark.restore();
    return proto;
}

Cell* reflect(Cell* value, Cell* field) {
    auto sym = int32_t(field->w2);
    if (sym == fixed::sym_spec) {
        *value = Cell{type_block, 0, value->w2, 0};
        return value;
    }
    if (sym == fixed::sym_body) {
        *value = *memory::cell_at(value->w3, record::body);
        return value;
    }
    if (sym == fixed::sym_words) {
        NodeId ctx = value->w1;
        uint32_t n = context_t::word_count(ctx);
        NodeId words = memory::alloc_cells(n + 1);
        for (uint32_t i = 0; i < n; ++i) {
            Cell w = *context_t::word_at(ctx, int32_t(i));
            w.w1 = ctx;
            *series::alloc_tail_cell(words) = w;
        }
        *value = Cell{type_block, 0, words, 0};
        return value;
    }
    raise_error(err_cat::internal, err_id::internal::not_done);
}

int32_t form(Cell*, Cell* buffer, Cell*, int32_t budget) {
    string_t::append_text(*buffer, "?function?");
    return budget - 10;
}

// "func " spec then body, both with their brackets; " none" for no body.
int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    Cell fn = *value;
    string_t::append_text(*buffer, "func ");
    budget -= 5;
    budget = dispatch::mold(Cell{type_block, 0, fn.w2, 0}, buffer, false, all, flat, part, budget, indent);
    Cell body = *memory::cell_at(fn.w3, record::body);
    if (type_of(body) == type_none) {
        string_t::append_text(*buffer, " none");
        return budget - 5;
    }
    return dispatch::mold(body, buffer, false, all, flat, part, budget, indent);
}

// A function equals only itself (or a copy of its cell): the record decides.
int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (type_of(*a) != type_of(*b)) return not_comparable;
    switch (op) {
        case op_equal: case op_not_equal: case op_strict_equal: case op_sort: case op_case_sort: case op_same:
        case op_find: {
            auto x = int32_t(a->w3), y = int32_t(b->w3);
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
    row.register_as(type_function, type_context, "function!");
}

}  // namespace vyr::function_t

namespace vyr::routine_t {

using namespace registry;
using function_t::record::cells;

Cell* make_routine(const Cell& spec_in, const Cell* body, int32_t entry, int32_t return_type, bool routine_flag) {
    Cell spec = spec_in;
    NodeId ctx = context_t::make_from_spec(spec, true, false, context_t::kind_function);
    uint32_t words = 0;
    for (uint32_t i = 0; i < memory::series_length(spec.w2); ++i)
        words += type_of(*memory::cell_at(spec.w2, i)) == type_word;
    if (words > (header::routine_arity_mask >> header::routine_arity_shift))
        words = header::routine_arity_mask >> header::routine_arity_shift;
    NodeId rec = memory::alloc_cells(cells);
    *series::alloc_tail_cell(rec) = body && type_of(*body) != type_none ? *body : none_t::value;
    *series::alloc_tail_cell(rec) = Cell{type_unset, 0, 0, 0};
    *series::alloc_tail_cell(rec) = Cell{type_integer, 0, uint32_t(entry), 0};
    *series::alloc_tail_cell(rec) = Cell{type_unset, 0, 0, 0};
    *series::alloc_tail_cell(rec) = Cell{type_integer, 0, uint32_t(return_type), 0};
    uint32_t h = type_routine | (routine_flag ? function_t::flag::routine : 0) | (words << header::routine_arity_shift);
    return stack::push_copy(Cell{h, ctx, spec.w2, rec});
}

int32_t form(Cell*, Cell* buffer, Cell*, int32_t budget) {
    string_t::append_text(*buffer, "?routine?");
    return budget - 9;
}

// "routine " spec, then a block body right after it, any other body after
// one blank.
int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    Cell r = *value;
    string_t::append_text(*buffer, "routine ");
    budget -= 8;
    budget = dispatch::mold(Cell{type_block, 0, r.w2, 0}, buffer, false, all, flat, part, budget, indent);
    Cell body = *memory::cell_at(r.w3, function_t::record::body);
    if (type_of(body) != type_block) {
        string_t::append_text(*buffer, " ");
        budget -= 1;
    }
    return dispatch::mold(body, buffer, false, all, flat, part, budget, indent);
}

void init() {
    Row row;
    row.inherit({slot_reflect});
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_compare, function_t::compare);
    row.register_as(type_routine, type_function, "routine!");
}

}  // namespace vyr::routine_t
