// Owners table and change notification (see owners.h).
#include "datatypes/owners.h"

#include "datatypes/context.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/hash.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace vyr::owners {

NodeId owners_table = no_node;

namespace {

DeepChangeHook fire_on_deep_change = nullptr;

enum class Ownable { none, block_like, series, bitset, image, object };

Ownable ownable(uint32_t type) {
    switch (type) {
        case type_block: case type_paren: case type_hash: case type_path: case type_lit_path:
        case type_set_path: case type_get_path: return Ownable::block_like;
        case type_string: case type_file: case type_url: case type_tag: case type_email: case type_ref:
        case type_binary: case type_vector: return Ownable::series;
        case type_bitset: return Ownable::bitset;
        case type_image: return Ownable::image;
        case type_object: return Ownable::object;
        default: return Ownable::none;
    }
}

bool series_owned(NodeId node) { return memory::buffer_of(node)->flags & memory::flag::owned; }

// Sets the owned mark; answers whether it was clear before.
bool mark_owned(Cell& value, Ownable kind) {
    if (kind == Ownable::image) {
        bool was = value.header & header::owned;
        value.header |= header::owned;
        return !was;
    }
    if (series_owned(value.w2)) return false;
    memory::set_series_flags(value.w2, memory::flag::owned);
    return true;
}

void record_entry(NodeId key, const Cell& value, const Cell& owner, const Cell& word) {
    Cell v = value, o = owner, w = word;
    Cell* cells = hash::hash_table_put_key(owners_table, key);
    cells[0] = v;
    cells[1] = o;
    cells[2] = w;
}

bool is_owner_object(const Cell& value, const Cell& owner) {
    return type_of(value) == type_object && value.w1 == owner.w1;
}

void own(Cell& value, const Cell& owner, const Cell& word);

// The fields of an object take the owner too, each through its own word;
// an object that is an owner itself is a boundary.
void own_object(const Cell& object, const Cell& owner) {
    NodeId ctx = object.w1;
    const Cell& c = *context_t::context_cell(ctx);
    if ((c.header & header::owned) || series::cycle_find(c.w2)) return;
    series::cycle_push(c.w2);
    uint32_t n = context_t::word_count(ctx);
    for (uint32_t i = 0; i < n; ++i) {
        Cell* v = context_t::context_value_at(ctx, int32_t(i));
        if (is_owner_object(*v, owner)) continue;
        Cell w = *context_t::word_at(ctx, int32_t(i));
        own(*v, owner, w);
    }
    series::cycle_pop();
}

void own(Cell& value, const Cell& owner, const Cell& word) {
    Ownable kind = ownable(type_of(value));
    switch (kind) {
        case Ownable::none: return;
        case Ownable::object: own_object(value, owner); return;
        case Ownable::bitset:
        case Ownable::series:
        case Ownable::image:
        case Ownable::block_like: break;
    }
    if (kind == Ownable::image && !value.w2) return;
    if (mark_owned(value, kind)) record_entry(value.w2, value, owner, word);
    if (kind != Ownable::block_like || series::cycle_find(value.w2)) return;
    NodeId node = value.w2;
    series::cycle_push(node);
    for (uint32_t i = value.w1; i < memory::series_length(node); ++i) own(*memory::cell_at(node, i), owner, word);
    series::cycle_pop();
}

// Removes the node's entry; answers whether there was one.
bool drop_entry(NodeId key) {
    Cell* cells = hash::hash_table_get_key(owners_table, key);
    if (!cells) return false;
    for (int i = 0; i < entry_values; ++i) cells[i] = Cell{type_unset, 0, 0, 0};
    hash::hash_table_remove_key(owners_table, key);
    return true;
}

void disown(Cell& value) {
    Ownable kind = ownable(type_of(value));
    switch (kind) {
        case Ownable::none: return;
        case Ownable::image:
            value.header &= ~header::owned;
            if (value.w2) drop_entry(value.w2);
            return;
        case Ownable::object: {
            NodeId ctx = value.w1;
            if (series::cycle_find(ctx) || (context_t::context_cell(ctx)->header & header::owned)) return;
            series::cycle_push(ctx);
            uint32_t n = context_t::word_count(ctx);
            for (uint32_t i = 0; i < n; ++i) disown(*context_t::context_value_at(ctx, int32_t(i)));
            series::cycle_pop();
            return;
        }
        case Ownable::bitset:
        case Ownable::series:
        case Ownable::block_like: break;
    }
    NodeId node = value.w2;
    memory::clear_series_flags(node, memory::flag::owned);
    if (!drop_entry(node) || kind != Ownable::block_like) return;
    for (uint32_t i = value.w1; i < memory::series_length(node); ++i) disown(*memory::cell_at(node, i));
}

void purge() {
    if (owners_table) hash::purge_node_keyed_table(owners_table);
}

}  // namespace

void owners_table_init() {
    owners_table = hash::make_hash_table(owners_table_size, nullptr, hash::kind_owners, entry_values);
    collector::add_root(&owners_table, collector::RootKind::hash_table);
    collector::set_owners_purge(purge);
}

void set_owned(Cell& value, const Cell& owner, const Cell& word) {
    Cell o = owner, w = word;
    own(value, o, w);
    if (type_of(o) == type_object || type_of(o) == type_error || type_of(o) == type_port)
        context_t::context_cell(o.w1)->header |= header::owned;
}

void clear_owned(Cell& value) { disown(value); }

void clear_owned_range(NodeId block, uint32_t index, uint32_t count) {
    for (uint32_t i = index; i < index + count && i < memory::series_length(block); ++i)
        disown(*memory::cell_at(block, i));
}

Cell* find_owner(NodeId node) {
    Cell* cells = hash::hash_table_get_key(owners_table, node);
    return cells ? cells + 1 : nullptr;
}

// The handler receives copies kept on the argument stack, so they stay
// valid (and rooted) while it runs Vyr code; the stack top is restored after.
bool notify_owner(const Cell& value, const Cell& action, const Cell* new_value, int32_t position, int32_t part) {
    uint32_t t = type_of(value);
    if (ownable(t) == Ownable::none) return false;
    NodeId key = t == type_object ? value.w1 : value.w2;
    Cell* entry = key ? hash::hash_table_get_key(owners_table, key) : nullptr;
    if (!entry || entry[1].w3 == 0 || !fire_on_deep_change) return false;
    stack::Mark mark;
    Cell* owner = stack::push_copy(entry[1]);
    Cell* word = stack::push_copy(entry[2]);
    Cell* target = stack::push_copy(value);
    Cell* act = stack::push_copy(action);
    Cell* arg = stack::push_copy(new_value ? *new_value : Cell{type_none, 0, 0, 0});
    fire_on_deep_change(owner, word, target, act, arg, position, part);
    mark.restore();
    return true;
}

void set_fire_on_deep_change(DeepChangeHook fn) { fire_on_deep_change = fn; }

}  // namespace vyr::owners
