// context!: making, searching, growing and copying contexts, and binding.
#include "datatypes/context.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "runtime/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "datatypes/fixed_words.h"
#include "runtime/hash.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/symbols.h"

namespace vyr::context_t {

NodeId global_context = no_node;

namespace {

FireOnChange fire_on_change = nullptr;

NodeId table_of(NodeId ctx) { return context_cell(ctx)->w1; }

// The value slot an entry leads to: its word's w3 (an entry of a later case
// variant in the global context leads to the first spelling's slot).
int32_t slot_of_entry(NodeId ctx, int32_t entry) { return int32_t(word_at(ctx, entry)->w3); }

}  // namespace

void make_global_context() {
    global_context = make(global_words, false, false, no_node, kind_global);
    collector::add_root(&global_context, collector::RootKind::series);
    memory::layout_changed();
}

Cell* detail::global_values = nullptr;
uint32_t detail::global_values_epoch = UINT32_MAX;

// A base that is not there yet is not kept: the next read looks again.
Cell* detail::read_global_values() {
    Cell* base = global_context ? values_base(global_context) : nullptr;
    global_values = base;
    global_values_epoch = base ? memory::layout_epoch() : memory::layout_epoch() - 1;
    return base;
}

Cell* self_slot(NodeId ctx) { return memory::cell_at(ctx, 1); }

uint32_t word_count(NodeId ctx) { return memory::series_length(symbols::context_words_node(*context_cell(ctx))); }

void set_stack_values(NodeId ctx, Cell* first) {
    context_cell(ctx)->w2 = first ? uint32_t(first - stack::bottom()) : 0;
}

// ---- Making ------------------------------------------------------------------

NodeId make(uint32_t n, bool on_stack, bool object, NodeId source, uint32_t kind) {
    if (n == 0) n = 1;
    NodeId ctx = memory::alloc_cells(2);
    series::alloc_tail_cell(ctx);
    series::alloc_tail_cell(ctx);
    NodeId table;
    if (source) {
        Cell from = *context_cell(source);
        table = hash::make_hash_table(int32_t(n), &from, hash::kind_symbols, 2);
    } else {
        table = hash::make_hash_table(int32_t(n), nullptr, hash::kind_symbols, 0);
    }
    NodeId values = 0;
    if (!on_stack) {
        values = memory::alloc_unset_cells(n);
        if (source) {
            uint32_t entries = memory::series_length(hash::record(table, hash::field::backing));
            if (entries > memory::buffer_of(values)->capacity / sizeof(Cell)) {
                memory::expand_series(values, entries * uint32_t(sizeof(Cell)));
                std::fill(memory::cell_head(values), memory::cell_head(values) + entries, Cell{type_unset, 0, 0, 0});
            }
            memory::buffer_of(values)->tail = entries * uint32_t(sizeof(Cell));
        }
    }
    uint32_t h = type_context | (kind << header::context_kind_shift);
    if (on_stack) h |= header::context_on_stack;
    if (object) h |= header::context_object;
    *context_cell(ctx) = Cell{h, table, values, 0};
    return ctx;
}

NodeId make_from_spec(const Cell& spec, bool on_stack, bool object, uint32_t kind) {
    NodeId block = spec.w2;
    uint32_t length = memory::series_length(block);
    NodeId ctx = make(length > spec.w1 ? length - spec.w1 : 0, on_stack, object, no_node, kind);
    collector::NodeRoot keep(block);
    uint32_t count = 0;
    for (uint32_t i = 0; i < memory::series_length(block); ++i) {
        const Cell& c = *memory::cell_at(block, i);
        uint32_t t = type_of(c);
        if (t != type_word && t != type_get_word && t != type_lit_word && t != type_refinement) continue;
        int32_t out = -1;
        if (find_word_case(ctx, int32_t(c.w2), true, out) < 0) ++count;
    }
    if (!on_stack) memory::buffer_of(context_cell(ctx)->w2)->tail = count * uint32_t(sizeof(Cell));
    return ctx;
}

// ---- Searching and adding ----------------------------------------------------

int32_t find_word(NodeId ctx, int32_t symbol, bool fold) {
    return symbols::context_find_word(table_of(ctx), symbol, fold, no_node, nullptr);
}

int32_t find_word_case(NodeId ctx, int32_t symbol, bool fold, int32_t& out) {
    return symbols::context_find_word(table_of(ctx), symbol, fold, ctx, &out);
}

namespace {
// Appends one value cell (a copy of `value`) to a block-valued context.
Cell* append_value(NodeId ctx, const Cell& value) {
    Cell v = value;
    Cell* slot = series::alloc_tail_cell(context_cell(ctx)->w2);
    *slot = v;
    return slot;
}
}  // namespace

int32_t find_or_add_word(NodeId ctx, const Cell& word) {
    int32_t out = -1;
    int32_t found = find_word_case(ctx, int32_t(word.w2), true, out);
    if (found >= 0) return slot_of_entry(ctx, found);
    if (!values_on_stack(*context_cell(ctx))) append_value(ctx, Cell{type_unset, 0, 0, 0});
    return out;
}

Cell* add_if_absent(NodeId ctx, const Cell& word, const Cell& value) {
    Cell v = value;
    int32_t out = -1;
    if (find_word_case(ctx, int32_t(word.w2), true, out) >= 0) return nullptr;
    if (values_on_stack(*context_cell(ctx))) return nullptr;
    return append_value(ctx, v);
}

void put_word_value(NodeId ctx, const Cell& word, const Cell& value) {
    Cell v = value;
    int32_t i = find_or_add_word(ctx, word);
    *context_value_at(ctx, i) = v;
}

// The word of the global context for a symbol. A symbol absent so far gets
// an entry and a value slot; when another spelling of it is present, the new
// entry leads to that spelling's slot, so all spellings share one value.
// With fold and keep, a match under another spelling answers a copy in the
// root block that carries the asked spelling.
Cell add_global_word(int32_t symbol, bool fold, bool keep) {
    NodeId g = global_context;
    int32_t added = -1;
    int32_t found = find_word_case(g, symbol, fold, added);
    if (found >= 0) {
        Cell w = *word_at(g, found);
        if (fold && keep && int32_t(w.w2) != symbol) {
            w.w2 = uint32_t(symbol);
            root::keep_cell(w);
        }
        return w;
    }
    int32_t first = find_word(g, symbol, true);
    if (first >= 0 && first != added) word_at(g, added)->w3 = uint32_t(slot_of_entry(g, first));
    append_value(g, Cell{type_unset, 0, 0, 0});
    return *word_at(g, added);
}

bool collect_set_words(NodeId ctx, const Cell& block) {
    NodeId b = block.w2;
    collector::NodeRoot keep(b);
    uint32_t before = word_count(ctx);
    uint32_t from = std::min(block.w1, memory::series_length(b));
    for (uint32_t i = from; i < memory::series_length(b); ++i) {
        Cell c = *memory::cell_at(b, i);
        if (type_of(c) == type_set_word) find_or_add_word(ctx, c);
    }
    return word_count(ctx) > before;
}

NodeId duplicate(Cell& value, uint32_t kind) {
    NodeId old = value.w1;
    const Cell c = *context_cell(old);
    NodeId ctx = make(word_count(old), values_on_stack(c), c.header & header::context_object, old, kind);
    uint32_t n = word_count(ctx);
    for (uint32_t i = 0; i < n; ++i) word_at(ctx, int32_t(i))->w1 = ctx;
    value.w1 = ctx;
    return ctx;
}

Cell* word_at(NodeId ctx, int32_t i) { return symbols::context_word_at(*context_cell(ctx), i); }

Cell get_or_add_word(NodeId ctx, int32_t symbol) {
    int32_t i = find_word(ctx, symbol, false);
    if (i >= 0) return *word_at(ctx, i);
    return word_t::make_global_from_symbol(symbol);
}

Cell* value_of_symbol(int32_t symbol, NodeId ctx) {
    if (values_on_stack(*context_cell(ctx))) ctx = global_context;
    int32_t i = find_word(ctx, symbol, true);
    return i < 0 ? nullptr : context_value_at(ctx, slot_of_entry(ctx, i));
}

Cell* global_symbol_value(int32_t symbol) { return value_of_symbol(symbol, global_context); }

void set_global_symbol_value(int32_t symbol, const Cell& value) {
    Cell v = value;
    Cell w = add_global_word(symbol, false, false);
    *context_value_at(global_context, int32_t(w.w3)) = v;
}

// ---- Slots by index ------------------------------------------------------------

namespace {
void mark_changed(NodeId ctx, int32_t i) {
    if (kind_of(*context_cell(ctx)) == kind_object) word_at(ctx, i)->header |= header::word_changed;
}
}  // namespace

void push_value_at(NodeId ctx, int32_t i) {
    if (!context_cell(ctx)->w2) {
        Cell w = *word_at(ctx, i);
        raise_error(err_cat::script, err_id::script::not_defined, &w);
    }
    stack::push_copy(*context_value_at(ctx, i));
}

void set_value_at(NodeId ctx, int32_t i) {
    mark_changed(ctx, i);
    Cell top = *stack::top_cell();
    stack::push_copy(*context_value_at(ctx, i));
    *context_value_at(ctx, i) = top;
}

void set_value_at_node(NodeId ctx, int32_t i) {
    mark_changed(ctx, i);
    *context_value_at(ctx, i) = *stack::top_cell();
}

Cell* set_value_at_from_result(NodeId ctx, int32_t i) {
    mark_changed(ctx, i);
    *context_value_at(ctx, i) = *stack::arg_base();
    return stack::arg_base();
}

void set_fire_on_change(FireOnChange fn) { fire_on_change = fn; }
FireOnChange fire_on_change_hook() { return fire_on_change; }

void init() {
    registry::Row().register_as(type_context, 0, "context!");
}

}  // namespace vyr::context_t

namespace vyr::block_t {

namespace {
bool bindable_word(uint32_t t) {
    return t == type_word || t == type_set_word || t == type_get_word || t == type_lit_word || t == type_refinement;
}
bool bindable_block(uint32_t t) {
    return t == type_block || t == type_paren || t == type_path || t == type_lit_path || t == type_set_path ||
           t == type_get_path || t == type_hash;
}
}  // namespace

namespace {

// Binding looks every word of a block up in one context. For a context of
// few words, the look-up is one load from a table indexed by canonical
// symbol id, filled from the context's words before the walk and emptied
// after it. Several entries of one spelling (the global context's case
// variants) that lead to different slots are marked so that their words
// take the context's own look-up.
class Binder {
public:
    static constexpr uint32_t most_words = 256;
    static constexpr uint32_t ambiguous = UINT32_MAX;

    explicit Binder(NodeId ctx) {
        uint32_t n = context_t::word_count(ctx);
        const Cell* words = context_t::word_at(ctx, 0);
        if (slots_.size() < canonical_of_.count() + 1) slots_.resize(canonical_of_.count() + 1);
        keys_.clear();
        for (uint32_t i = 0; i < n; ++i) {
            int32_t key = canonical_of_(int32_t(words[i].w2));
            if (key <= 0 || uint32_t(key) >= slots_.size()) continue;  // no symbol of the table
            uint32_t& slot = slots_[uint32_t(key)];
            uint32_t mine = words[i].w3 + 1;
            if (slot == 0) {
                slot = mine;
                keys_.push_back(uint32_t(key));
            } else if (slot != mine) {
                slot = ambiguous;
            }
        }
    }
    ~Binder() {
        for (uint32_t key : keys_) slots_[key] = 0;
    }
    Binder(const Binder&) = delete;
    Binder& operator=(const Binder&) = delete;

    // Binds the word as word_t::bind_to does.
    void bind(Cell& word, NodeId ctx) const {
        int32_t key = canonical_of_(int32_t(word.w2));
        uint32_t slot = key > 0 && uint32_t(key) < slots_.size() ? slots_[uint32_t(key)] : 0;
        if (slot == 0) return;
        if (slot == ambiguous) {
            word_t::bind_to(word, ctx);
            return;
        }
        word.w1 = ctx;
        word.w3 = slot - 1;
    }

private:
    symbols::CanonicalIds canonical_of_;
    // Canonical symbol id -> the entry's slot + 1, 0 for no entry; always
    // all zero outside a binding. Keys set, to empty it again.
    static inline std::vector<uint32_t> slots_;
    static inline std::vector<uint32_t> keys_;
};

// The walk of bind: nothing in it allocates or evaluates, so the cells of
// a block stay where they are while it is walked.
void bind_cells(Cell* block, NodeId ctx, bool self, const Binder* binder) {
    NodeId node = block->w2;
    if (series::cycle_find(node)) return;
    series::cycle_push(node);
    memory::SeriesBuffer* b = memory::buffer_of(node);
    Cell* cells = b->cells();
    uint32_t n = b->used() / memory::cell_width;
    for (uint32_t i = block->w1; i < n; ++i) {
        Cell* c = cells + i;
        uint32_t t = type_of(*c);
        if (bindable_word(t)) {
            if (self && t == type_word && int32_t(c->w2) == fixed::sym_self) {
                c->w1 = ctx;
                c->w3 = uint32_t(-1);
            } else if (binder) {
                binder->bind(*c, ctx);
            } else {
                word_t::bind_to(*c, ctx);
            }
        } else if (bindable_block(t)) {
            bind_cells(c, ctx, self, binder);
        }
    }
    series::cycle_pop();
}

}  // namespace

Cell* bind(Cell* block, NodeId ctx, bool self) {
    if (context_t::word_count(ctx) <= Binder::most_words) {
        Binder binder(ctx);
        bind_cells(block, ctx, self, &binder);
    } else {
        bind_cells(block, ctx, self, nullptr);
    }
    return block;
}

}  // namespace vyr::block_t
