// object!: the action table row (mold, form, reflect, compare, copy, path
// access, select, put, modify) and the registration.
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/dispatch.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "runtime/registry.h"
#include "datatypes/string_buffer.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "datatypes/checks.h"
#include "runtime/errors.h"
#include "datatypes/fixed_words.h"
#include "runtime/memory.h"
#include "datatypes/owners.h"
#include "runtime/series.h"

namespace vyr::object_t {

using namespace registry;
namespace script = err_id::script;

namespace {

int32_t canonical(const Cell& word) { return symbol_t::resolve_alias(int32_t(word.w2)); }
int32_t canonical(int32_t symbol) { return symbol_t::resolve_alias(symbol); }

bool handler_word_q(const Cell& word) {
    int32_t s = canonical(word);
    return s == canonical(fixed::word_on_change_star) || s == canonical(fixed::word_on_deep_change_star);
}

bool any_word_q(uint32_t t) { return t == type_word || t == type_set_word || t == type_get_word || t == type_lit_word; }

int32_t emit(Cell* buffer, const char* text, int32_t length, int32_t budget) {
    string_t::append_text(*buffer, text);
    return budget - length;
}

Cell* value_at(NodeId ctx, uint32_t i) { return context_t::context_value_at(ctx, int32_t(i)); }

// A new block of n cells' room, filled by `fill(node)`.
template <typename F>
Cell new_block(uint32_t room, F fill) {
    NodeId node = memory::alloc_cells(room ? room : 1);
    fill(node);
    return Cell{type_block, 0, node, 0};
}

}  // namespace

// ---- mold and form -------------------------------------------------------------

int32_t mold_fields(const Cell& object, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget,
                    bool indent, int32_t level, bool mold_mode) {
    NodeId ctx = object.w1;
    uint32_t n = context_t::word_count(ctx);
    if (n == 0) return budget;
    const char* separator = "\n";
    if (flat) {
        separator = " ";
        indent = false;
    } else {
        if (mold_mode && !only) budget = emit(buffer, "\n", 1, budget);
        if (only) indent = false;
    }
    series::CycleGuard guard;
    series::cycle_push(ctx);
    for (uint32_t i = 0; i < n; ++i) {
        if (part && budget <= 0) break;
        Cell word = *context_t::word_at(ctx, int32_t(i));
        if (!all && handler_word_q(word)) continue;
        if (indent) budget = checks::mold_indent(*buffer, level, budget);
        set_type(word, type_word);
        budget = word_t::mold(&word, buffer, false, false, false, nullptr, budget, 0);
        budget = emit(buffer, ": ", 2, budget);
        Cell v = *value_at(ctx, i);
        if (type_of(v) == type_none_id) v = Cell{type_unset, 0, 0, 0};
        if (type_of(v) == type_word) budget = emit(buffer, "'", 1, budget);
        // Forming molds the values, but an object met again is "...".
        if (mold_mode || type_of(v) != type_object || !series::mold_cycle(v, buffer->w2, budget, false))
            budget = dispatch::mold(v, buffer, false, all, flat, part, budget, level);
        if (indent || i + 1 < n) budget = emit(buffer, separator, 1, budget);
    }
    return budget;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    Cell o = *value;
    if (series::mold_cycle(o, buffer->w2, budget, true)) return budget;
    if (!only) budget = emit(buffer, "make object! [", 14, budget);
    budget = mold_fields(o, buffer, only, all, flat, part, budget, true, indent + 1, true);
    if (!flat && indent > 0) budget = checks::mold_indent(*buffer, indent, budget);
    if (!only) budget = emit(buffer, "]", 1, budget);
    return budget;
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    Cell o = *value;
    if (series::mold_cycle(o, buffer->w2, budget, false)) return budget;
    return mold_fields(o, buffer, false, false, false, part, budget, false, 0, false);
}

// ---- reflect -----------------------------------------------------------------------

Cell* reflect(Cell* value, Cell* field) {
    Cell o = *value;
    NodeId ctx = o.w1;
    uint32_t n = context_t::word_count(ctx);
    auto sym = int32_t(field->w2);
    auto word_at = [&](uint32_t i) { return *context_t::word_at(ctx, int32_t(i)); };
    if (sym == fixed::sym_class) return integer_t::make_at(value, int32_t(o.w2));
    if (sym == fixed::sym_words || sym == int32_t(fixed::word_changed.w2)) {
        bool changed_only = sym != fixed::sym_words;
        *value = new_block(n, [&](NodeId node) {
            for (uint32_t i = 0; i < n; ++i) {
                Cell w = word_at(i);
                if (changed_only && !(w.header & header::word_changed)) continue;
                w.header = type_word;
                w.w1 = ctx;
                *series::alloc_tail_cell(node) = w;
            }
        });
        return value;
    }
    if (sym == fixed::sym_values) {
        *value = new_block(n, [&](NodeId node) {
            for (uint32_t i = 0; i < n; ++i) *series::alloc_tail_cell(node) = *value_at(ctx, i);
        });
        return value;
    }
    if (sym == fixed::sym_body) {
        *value = new_block(2 * n, [&](NodeId node) {
            for (uint32_t i = 0; i < n; ++i) {
                Cell w = word_at(i);
                w.header = type_set_word | header::new_line;
                w.w1 = ctx;
                *series::alloc_tail_cell(node) = w;
                Cell v = *value_at(ctx, i);
                if (type_of(v) == type_word) set_type(v, type_lit_word);
                else if (type_of(v) == type_path) set_type(v, type_lit_path);
                *series::alloc_tail_cell(node) = v;
            }
        });
        return value;
    }
    if (sym == fixed::sym_owner) return logic_t::make_at(value, context_t::context_cell(ctx)->header & header::owned);
    if (sym == fixed::sym_events_q) return logic_t::make_at(value, o.w3 != 0);
    raise_error(err_cat::internal, err_id::internal::not_done);
}

// ---- compare -----------------------------------------------------------------------

namespace {

bool number_q(uint32_t t) { return t == type_integer || t == type_float || t == type_percent; }

bool compatible_q(uint32_t a, uint32_t b) {
    return a == b || (any_word_q(a) && any_word_q(b)) || (number_q(a) && number_q(b));
}

int32_t order(int64_t a, int64_t b) { return a < b ? -1 : a > b ? 1 : 0; }

// The fields pairwise, in order: names first, then value types, then the
// values under the operator; the first difference decides.
int32_t compare_fields(const Cell& a, const Cell& b, int32_t op) {
    series::CycleGuard guard;
    series::cycle_push(a.w1);
    series::cycle_push(b.w1);
    uint32_t n = context_t::word_count(a.w1);
    for (uint32_t i = 0; i < n; ++i) {
        int32_t ca = canonical(*context_t::word_at(a.w1, int32_t(i)));
        int32_t cb = canonical(*context_t::word_at(b.w1, int32_t(i)));
        if (ca != cb) return order(ca, cb);
        Cell va = *value_at(a.w1, i), vb = *value_at(b.w1, i);
        if (!compatible_q(type_of(va), type_of(vb))) return order(type_of(va), type_of(vb));
        int32_t r = dispatch::compare(va, vb, op);
        if (r != 0) return r;
    }
    return 0;
}

}  // namespace

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (type_of(*b) != type_object) return not_comparable;
    if (a->w1 == b->w1) return 0;
    if (op == op_same) return -1;
    if (series::cycle_find(a->w1)) return series::cycle_find(b->w1) ? 0 : -1;
    uint32_t na = context_t::word_count(a->w1), nb = context_t::word_count(b->w1);
    if (na != nb) return na > nb ? 1 : -1;
    if (na == 0) return 0;
    return compare_fields(*a, *b, op);
}

// ---- copy, select, put -----------------------------------------------------------------

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    if (part) {
        Cell word = fixed::ref_part;
        word.header = type_word;
        raise_error(err_cat::script, script::invalid_refine_arg, &word, part);
    }
    Cell o = *value;
    copy_into(o, *result, deep, types, true);
    return result;
}

Cell* select(Cell* series, Cell* value, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool) {
    if (!any_word_q(type_of(*value))) {
        Cell type = datatype_t::value_of(type_of(*value));
        raise_error(err_cat::script, script::invalid_type, &type);
    }
    *series = *select_field(*series, *value);
    return series;
}

Cell* put(Cell* series, Cell* key, Cell* value, bool case_) {
    if (type_of(*key) != type_word) {
        Cell type = datatype_t::value_of(type_of(*key));
        raise_error(err_cat::script, script::invalid_key_type, &type);
    }
    Cell k = *key;
    path_access(series, &k, value, nullptr, nullptr, nullptr, -1, case_, false, true, false);
    return value;
}

// ---- path access ---------------------------------------------------------------------

namespace {
Cell path_answer;  // the answer of a read that has no cell of its own (unset)
}  // namespace

Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool get,
                  bool tail, bool) {
    Cell o = *parent;
    NodeId ctx = o.w1;
    if (!any_word_q(type_of(*element))) raise_error(err_cat::script, script::invalid_path, path, element);
    bool self_word = canonical(*element) == canonical(fixed::sym_self) && element->w1 == ctx &&
                     int32_t(element->w3) == -1;
    if (value && self_word) raise_error(err_cat::script, script::invalid_path, path, element);

    auto missing = [&]() -> Cell* {
        if (get && tail) {
            path_answer = Cell{type_unset, 0, 0, 0};
            return &path_answer;
        }
        if (tail) raise_error(err_cat::script, script::invalid_path, path, element);
        raise_error(err_cat::script, script::unset_path, path, element);
    };
    if (element->w1 != ctx || int32_t(element->w3) == -1) {
        int32_t i = find_field_index(o, *element);
        if (i < 0) return missing();
        element->w1 = ctx;
        element->w3 = uint32_t(i);
    }
    auto index = int32_t(element->w3);
    if (!value) {
        Cell* v = value_at(ctx, uint32_t(index));
        if (type_of(*v) == type_unset) return missing();
        return v;
    }
    stack::Mark mark;
    Cell* held = stack::push_copy(o);
    Cell* word = stack::push_copy(*element);
    Cell* old_value = stack::push_copy(*value_at(ctx, uint32_t(index)));
    Cell* new_value = stack::push_copy(*value);
    word_t::set_in_context(*word, *new_value, ctx, false);
    if (held->w3) fire_on_change(held, word, old_value, new_value);
    mark.restore();
    return value;
}

// ---- modify ------------------------------------------------------------------------------

Cell* modify(Cell* target, Cell* field, Cell* value, bool) {
    Cell o = *target;
    NodeId ctx = o.w1;
    uint32_t n = context_t::word_count(ctx);
    int32_t s = canonical(*field);
    if (s == canonical(fixed::word_changed)) {
        if (type_of(*value) != type_none) raise_error(err_cat::script, script::invalid_arg, value);
        clear_set_flags(ctx);
    } else if (s == canonical(fixed::sym_owner)) {
        for (uint32_t i = 0; i < n; ++i) {
            Cell w = *context_t::word_at(ctx, int32_t(i));
            owners::set_owned(*value_at(ctx, i), o, w);
        }
    } else if (s == canonical(fixed::sym_owned)) {
        if (type_of(*value) == type_none) {
            for (uint32_t i = 0; i < n; ++i) owners::clear_owned(*value_at(ctx, i));
        } else if (type_of(*value) == type_block && memory::series_length(value->w2) >= value->w1 + 2) {
            Cell owner = *memory::cell_at(value->w2, value->w1);
            Cell word = *memory::cell_at(value->w2, value->w1 + 1);
            for (uint32_t i = 0; i < n; ++i) owners::set_owned(*value_at(ctx, i), owner, word);
        }
    }
    return value;
}

// ---- Registration ---------------------------------------------------------------------

void init() {
    Row row;
    row.set(slot_make, make);
    row.set(slot_reflect, reflect);
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_path_access, path_access);
    row.set(slot_compare, compare);
    row.set(slot_copy, copy);
    row.set(slot_put, put);
    row.set(slot_select, select);
    row.set(slot_modify, modify);
    row.register_as(type_object, 0, "object!");
    context_t::set_fire_on_change(fire_on_change);
    owners::set_fire_on_deep_change(fire_on_deep_change);
}

}  // namespace vyr::object_t
