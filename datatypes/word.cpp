// word! family and issue!: making words, reading and writing their values,
// and the actions of the six types.
#include "datatypes/word.h"

#include <algorithm>
#include <cstring>

#include "datatypes/context.h"
#include "datatypes/checks.h"
#include "datatypes/none.h"
#include "datatypes/string_buffer.h"
#include "datatypes/symbol.h"
#include "runtime/registry.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "datatypes/fixed_words.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/unicode.h"

namespace vyr {
bool root_keep = false;
}  // namespace vyr

namespace vyr {

namespace {
namespace script = err_id::script;

constexpr Cell unset_cell{type_unset, 0, 0, 0};

Cell word_cell(uint32_t type, NodeId ctx, int32_t symbol, int32_t index) {
    return Cell{type, ctx, uint32_t(symbol), uint32_t(index)};
}
}  // namespace

namespace root {
Cell* keep_cell(const Cell& cell) {
    Cell c = cell;
    Cell* slot = series::alloc_tail_cell(series::root_block);
    *slot = c;
    return slot;
}
}  // namespace root

namespace word_t {

// ---- Making ------------------------------------------------------------------

Cell make_global(const char* text) {
    Cell w = context_t::add_global_word(symbol_t::make(text), true, true);
    if (root_keep) root::keep_cell(w);
    return w;
}

Cell make_global_from_symbol(int32_t symbol) {
    Cell w = context_t::add_global_word(symbol, false, true);
    if (root_keep) root::keep_cell(w);
    return w;
}

namespace {
// A word! of the symbol bound to the global context.
Cell global_word(int32_t symbol) {
    Cell w = word_cell(type_word, context_t::global_context, symbol, -1);
    w.w3 = uint32_t(context_t::find_or_add_word(context_t::global_context, w));
    return w;
}
}  // namespace

Cell* make_at(int32_t symbol, Cell* cell) {
    *cell = global_word(symbol);
    return cell;
}

Cell* box(int32_t symbol) { return make_at(symbol, stack::arg_base()); }

Cell* load_in(int32_t symbol, NodeId block) {
    Cell w = global_word(symbol);
    Cell* c = series::alloc_tail_cell(block);
    *c = w;
    return c;
}

Cell* load_text_in(const char* text, NodeId block) { return load_in(symbol_t::make(text), block); }

Cell* push_symbol(int32_t symbol) {
    Cell w = global_word(symbol);
    return stack::push_copy(w);
}

// The table keeps copies of the words, registered with the collector as
// roots so that their context node follows node renumbering.
void make_type_name_words() {
    for (uint32_t t = 1; t <= registry::highest_type(); ++t) {
        const registry::TypeName& name = registry::type_name(t);
        if (!name.name) continue;
        registry::set_type_word(t, make_global(name.name));
        collector::add_root_cells(const_cast<Cell*>(&name.word), 1);
    }
}

// ---- Binding, reading and writing ------------------------------------------------

int32_t bind_to(Cell& word, NodeId ctx) {
    int32_t i = context_t::find_word(ctx, int32_t(word.w2), true);
    if (i < 0) return -1;
    word.w1 = ctx;
    word.w3 = context_t::word_at(ctx, i)->w3;
    return int32_t(word.w3);
}

// An unbound word has no context to read from: it has no value.
Cell* get_in_context(const Cell& word, NodeId ctx) {
    auto index = int32_t(word.w3);
    if (index < 0) {
        if (int32_t(word.w2) == fixed::sym_self && word.w1) return context_t::self_slot(word.w1);
        raise_error(err_cat::script, script::no_value, &word);
    }
    if (!ctx || !context_t::values_base(ctx)) raise_error(err_cat::script, script::not_in_context, &word);
    return context_t::context_value_at(ctx, index);
}

Cell* get(const Cell& word) { return get_in_context(word, word.w1); }

namespace {

// Resolves an unresolved word's index in the context: exact spelling first,
// else the entry that find_or_add_word finds or adds.
[[gnu::noinline]] void look_up_index(Cell& word, NodeId ctx) {
    int32_t i = context_t::find_word(ctx, int32_t(word.w2), false);
    word.w3 = i >= 0 ? context_t::word_at(ctx, i)->w3 : uint32_t(context_t::find_or_add_word(ctx, word));
}
inline void resolve_index(Cell& word, NodeId ctx) {
    if (int32_t(word.w3) < 0) look_up_index(word, ctx);
}

bool has_event_record(NodeId ctx) {
    const Cell* self = context_t::self_slot(ctx);
    return type_of(*self) == type_object && self->w3 != 0;
}

// Stores the value and runs the object's change notification with copies of
// the object, the word, the old and the new value kept on the argument stack
// (rooted there while the handler runs); the stack top is restored after.
Cell* store_and_fire(NodeId ctx, int32_t i, const Cell& word, const Cell& value) {
    collector::NodeRoot keep(ctx);
    stack::Mark mark;
    Cell* old_value = stack::push_copy(*context_t::context_value_at(ctx, i));
    Cell* object = stack::push_copy(*context_t::self_slot(ctx));
    Cell* w = stack::push_copy(word);
    Cell* new_value = stack::push_copy(value);
    *context_t::context_value_at(ctx, i) = *new_value;
    context_t::fire_on_change_hook()(object, w, old_value, new_value);
    mark.restore();
    return context_t::context_value_at(ctx, i);
}

}  // namespace

namespace {
[[noreturn, gnu::noinline, gnu::cold]] void raise_not_defined(const Cell& word) {
    raise_error(err_cat::script, script::not_defined, &word);
}

// An object's word: marked changed, and its change notification run when
// the object has an event record and `fire` asks for it.
[[gnu::noinline]] Cell* set_in_object(const Cell& word, const Cell& v, NodeId ctx, int32_t i, bool fire) {
    context_t::word_at(ctx, i)->header |= header::word_changed;
    if (fire && has_event_record(ctx) && context_t::fire_on_change_hook()) return store_and_fire(ctx, i, word, v);
    Cell* slot = context_t::context_value_at(ctx, i);
    *slot = v;
    return slot;
}
}  // namespace

// Every set-word and loop variable stores through here: the common case (a
// resolved word of a global or function context) is a few loads and a store.
Cell* set_in_context(Cell& word, const Cell& value, NodeId ctx, bool fire) {
    Cell v = value;
    if (!ctx) raise_not_defined(word);
    resolve_index(word, ctx);
    auto i = int32_t(word.w3);
    Cell* slot;
    if (ctx == context_t::global_context) {  // values in a block, through the kept base
        if (Cell* base = context_t::global_values()) [[likely]] {
            slot = base + i;
            *slot = v;
            return slot;
        }
    }
    const Cell& c = *context_t::context_cell(ctx);
    if (!c.w2) raise_not_defined(word);
    if (context_t::values_on_stack(c)) {
        slot = stack::bottom() + c.w2 + i;
    } else {
        if (context_t::kind_of(c) == context_t::kind_object) return set_in_object(word, v, ctx, i, fire);
        slot = memory::cell_head(c.w2) + i;
    }
    *slot = v;
    return slot;
}

Cell* set(Cell& word, const Cell& value) { return set_in_context(word, value, word.w1, true); }

int32_t set_integer(Cell& word, int32_t value) {
    NodeId ctx = word.w1;
    if (!ctx || !context_t::context_cell(ctx)->w2) raise_error(err_cat::script, script::not_defined, &word);
    resolve_index(word, ctx);
    *context_t::context_value_at(ctx, int32_t(word.w3)) = Cell{type_integer, 0, uint32_t(value), 0};
    return value;
}

// ---- Access helpers ----------------------------------------------------------------

Cell* push(const Cell& word) { return stack::push_copy(word); }
Cell* push_local(NodeId ctx, int32_t i) { return stack::push_copy(*context_t::word_at(ctx, i)); }

Cell* push_value(const Cell& word) {
    Cell v = *get(word);
    if (type_of(v) == type_unset) raise_error(err_cat::script, script::no_value, &word);
    return stack::push_copy(v);
}

Cell* push_value_unchecked(const Cell& word) {
    Cell v = *get(word);
    return stack::push_copy(v);
}

void set_from_args() {
    Cell* base = stack::arg_base();
    Cell word = base[0];
    Cell value = base[1];
    if (type_of(value) == type_unset) raise_error(err_cat::script, script::need_value, &word);
    set(word, value);
    stack::set_result(value);
}

void store_result_checked(Cell* destination) {
    const Cell& result = *stack::arg_base();
    if (type_of(result) == type_unset) raise_error(err_cat::script, script::need_value, destination);
    *destination = result;
}

Cell* symbol_cell(const Cell& word) { return symbol_t::get(int32_t(word.w2)); }

// A copy of the spelling: changing the string must never rename the word.
Cell* push_name_string(const Cell& word) { return string_t::push_copy_of(symbol_cell(word)->w2); }

// ---- Actions ---------------------------------------------------------------------

namespace {
[[noreturn]] void bad_to_arg(uint32_t type, const Cell& spec) {
    Cell target{type_datatype, type, 0, 0};
    raise_error(err_cat::script, script::bad_to_arg, &target, &spec);
}
}  // namespace

namespace {
// The first value the lexer reads from the text (unset! for none); `text` is
// rooted by the caller.
Cell load_first(const Cell& text) {
    Cell loaded = none_t::value;
    collector::CellRoot root(&loaded);
    return checks::scan_single_value(text, &loaded);
}

// A word spelt by a string (or a char! as a one-character string): the
// text must load as some word.
Cell word_from_text(const Cell& spec) {
    stack::Mark mark;
    Cell* text = stack::push_copy(spec);
    if (type_of(spec) == type_char) {
        uint8_t utf8[4];
        size_t n = unicode::utf8_encode(spec.w2, utf8);
        text = string_t::push_from_utf8(utf8, uint32_t(n));
    }
    Cell v = load_first(*text);
    mark.restore();
    if (!any_word_q(type_of(v))) raise_error(err_cat::script, script::invalid_chars);
    return v;
}
}  // namespace

// make and to of word!, set-word!, lit-word!, get-word! and refinement!.
Cell* make(Cell* result, Cell* spec, uint32_t type) {
    switch (type_of(*spec)) {
        case type_word:
        case type_set_word:
        case type_lit_word:
        case type_get_word: *result = *spec; break;
        case type_issue:
        case type_refinement: {
            // The spelling must read as a plain word (#12 does not).
            stack::Mark mark;
            Cell* text = push_name_string(*spec);
            uint32_t t = type_of(load_first(*text));
            mark.restore();
            if (t < type_word || t > type_get_word) bad_to_arg(type, *spec);
            Cell w = *spec;
            bind_to(w, context_t::global_context);
            *result = w;
            break;
        }
        case type_string:
        case type_char: *result = word_from_text(*spec); break;
        case type_datatype: {
            const Cell& name = registry::type_name(spec->w1).word;
            if (type_of(name) != type_word) bad_to_arg(type, *spec);  // a type without a registered name
            *result = name;
            break;
        }
        case type_logic: make_at(spec->w1 == 1 ? fixed::sym_true : fixed::sym_false, result); break;
        default: bad_to_arg(type, *spec);
    }
    result->header = type;
    return result;
}

// ---- form and mold ---------------------------------------------------------------

namespace {
// Appends the word's spelling (its symbol's cached string) to the buffer;
// answers the budget less the spelling's length in characters.
int32_t append_spelling(const Cell& word, Cell* buffer, int32_t budget) {
    Cell spelling = *symbol_t::get(int32_t(word.w2));
    string_t::append_string(*buffer, spelling, -1, true);
    return budget - int32_t(memory::buffer_of(spelling.w2)->length());
}

int32_t mold_with(const Cell& word, Cell* buffer, const char* before, const char* after, int32_t budget) {
    if (*before) {
        string_t::append_text(*buffer, before);
        budget -= 1;
    }
    budget = append_spelling(word, buffer, budget);
    if (*after) {
        string_t::append_text(*buffer, after);
        budget -= 1;
    }
    return budget;
}
}  // namespace

// Form of all six types is the bare spelling.
int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) { return append_spelling(*value, buffer, budget); }

// Mold ignores /only, /all, /flat and the indent: the spelling with the
// type's mark.
int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell*, int32_t budget, int32_t) {
    switch (type_of(*value)) {
        case type_lit_word: return mold_with(*value, buffer, "'", "", budget);
        case type_set_word: return mold_with(*value, buffer, "", ":", budget);
        case type_get_word: return mold_with(*value, buffer, ":", "", budget);
        case type_refinement: return mold_with(*value, buffer, "/", "", budget);
        case type_issue: return mold_with(*value, buffer, "#", "", budget);
        default: return mold_with(*value, buffer, "", "", budget);
    }
}

// "Same name" compares canonical ids (any ASCII case), "same symbol" the
// exact spellings.
int32_t compare(Cell* a, Cell* b, int32_t op) {
    uint32_t ta = type_of(*a), tb = type_of(*b);
    if ((tb == type_issue && ta != type_issue) || !all_word_q(tb)) return registry::not_comparable;
    auto sa = int32_t(a->w2), sb = int32_t(b->w2);
    bool same_symbol = sa == sb;
    bool same_name = symbol_t::resolve_alias(sa) == symbol_t::resolve_alias(sb);
    bool word_lit = (ta == type_word && tb == type_lit_word) || (ta == type_lit_word && tb == type_word);
    auto answer = [](bool equal) { return equal ? 0 : 1; };
    switch (op) {
        case registry::op_equal:
        case registry::op_not_equal:
        case registry::op_find: return answer(same_name);
        case registry::op_strict_equal: return answer(ta == tb && same_symbol);
        case registry::op_same: return answer(same_symbol && a->w1 == b->w1 && ta == tb);
        case registry::op_strict_word_equal: return answer(word_lit ? same_symbol : ta == tb && same_symbol);
        case registry::op_word_equal: return answer(word_lit ? same_name : ta == tb && same_name);
        case registry::op_lesser:
        case registry::op_lesser_or_equal:
        case registry::op_greater:
        case registry::op_greater_or_equal:
        case registry::op_sort:
        case registry::op_case_sort: return symbol_t::compare_spellings(sa, sb, op);
        default: return registry::not_comparable;
    }
}

// index? answers in the result cell: none for an unresolved word, else its
// index + 1.
Cell* index_q() {
    Cell* r = stack::arg_base();
    auto i = int32_t(r->w3);
    *r = i < 0 ? Cell{type_none, 0, 0, 0} : Cell{type_integer, 0, uint32_t(i + 1), 0};
    return r;
}

void init() {
    using namespace registry;
    Row row;
    row.set(slot_make, make).set(slot_to, make).set(slot_form, form).set(slot_mold, mold);
    row.set(slot_compare, compare).set(slot_index_q, index_q);
    row.register_as(type_word, type_symbol, "word!");
}

// A child's row: make, to, form, compare and index? inherited from word!,
// its own mold.
void register_child(uint32_t type, const char* name, bool index) {
    using namespace registry;
    Row row;
    row.set(slot_mold, mold);
    row.inherit({slot_make, slot_to, slot_form, slot_compare});
    if (index) row.inherit({slot_index_q});
    row.register_as(type, type_word, name);
}

}  // namespace word_t

// ---- The children ------------------------------------------------------------

namespace {
Cell* child_load_text_in(const char* text, NodeId block, uint32_t type) {
    Cell* c = word_t::load_text_in(text, block);
    c->header = type;
    return c;
}
Cell* child_push(const Cell& word, uint32_t type) {
    Cell* c = stack::push_copy(word);
    set_type(*c, type);
    return c;
}
Cell* child_push_local(NodeId ctx, int32_t i, uint32_t type) { return child_push(*context_t::word_at(ctx, i), type); }
}  // namespace

#define VYR_WORD_CHILD(ns, type, name, index)                                                              \
    namespace ns {                                                                                         \
    Cell* load_text_in(const char* text, NodeId block) { return child_load_text_in(text, block, type); }   \
    Cell* push(const Cell& word) { return child_push(word, type); }                                        \
    Cell* push_local(NodeId ctx, int32_t i) { return child_push_local(ctx, i, type); }                     \
    void init() { word_t::register_child(type, name, index); }                                            \
    }
VYR_WORD_CHILD(set_word_t, type_set_word, "set-word!", true)
VYR_WORD_CHILD(lit_word_t, type_lit_word, "lit-word!", true)
VYR_WORD_CHILD(get_word_t, type_get_word, "get-word!", true)
VYR_WORD_CHILD(refinement_t, type_refinement, "refinement!", false)
#undef VYR_WORD_CHILD

namespace refinement_t {
Cell load_text_in(const char* text) {
    Cell r = word_cell(type_refinement, no_node, symbol_t::make(text), -1);
    root::keep_cell(r);
    return r;
}
}  // namespace refinement_t

// ---- issue! --------------------------------------------------------------------

namespace issue_t {

namespace {
Cell issue_of(int32_t symbol) { return word_cell(type_issue, context_t::global_context, symbol, -1); }
}  // namespace

Cell* make_at(Cell* cell, const char* text) {
    *cell = issue_of(symbol_t::make(text));
    return cell;
}

Cell* load_text_in(const char* text, NodeId block) {
    Cell i = issue_of(symbol_t::make(text));
    Cell* c = series::alloc_tail_cell(block);
    *c = i;
    return c;
}

Cell load_text(const char* text) {
    if (root_keep) return *load_text_in(text, series::root_block);
    Cell i = issue_of(symbol_t::make(text));
    return *stack::push_copy(i);
}

Cell* push(const Cell& word) { return child_push(word, type_issue); }

// An issue! takes any text whole as its spelling (spaces included); word
// specs and issues are kept; anything else is made as by word!/make.
Cell* make(Cell* result, Cell* spec, uint32_t type) {
    uint32_t t = type_of(*spec);
    if (all_word_q(t)) {
        *result = *spec;
    } else if (t == type_string) {
        *result = issue_of(symbol_t::from_string(*spec, -1));
    } else if (t == type_char) {
        uint8_t utf8[4];
        size_t n = unicode::utf8_encode(spec->w2, utf8);
        *result = issue_of(symbol_t::intern_text(utf8, uint32_t(n)));
    } else {
        return word_t::make(result, spec, type);
    }
    result->header = type;
    return result;
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (type_of(*b) != type_issue) return registry::not_comparable;
    return word_t::compare(a, b, op);
}

void init() {
    using namespace registry;
    Row row;
    row.inherit({slot_form, slot_index_q});
    row.set(slot_make, make).set(slot_to, make).set(slot_mold, word_t::mold).set(slot_compare, compare);
    row.register_as(type_issue, type_word, "issue!");
}

}  // namespace issue_t

}  // namespace vyr
