#include "datatypes/map.h"

#include <algorithm>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "runtime/registry.h"
#include "datatypes/series.h"
#include "datatypes/string_buffer.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "datatypes/actions.h"
#include "runtime/stack.h"
#include "datatypes/checks.h"
#include "runtime/error_catalog.h"
#include "runtime/errors.h"
#include "datatypes/fixed_words.h"
#include "runtime/hash.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace vyr::map_t {

namespace {

namespace script = err_id::script;

inline NodeId block_of(const Cell& map) { return map.w2; }
inline NodeId table_of(const Cell& map) { return map.w3; }
inline uint32_t cell_count(const Cell& map) { return memory::series_length(block_of(map)); }
inline Cell* cell_at(const Cell& map, uint32_t i) { return memory::cell_at(block_of(map), i); }
inline bool live_q(const Cell& map, uint32_t key_index) { return cell_at(map, key_index + 1)->header != removed_header; }

bool word_key_q(uint32_t t) { return t == type_word || t == type_set_word || t == type_lit_word || t == type_get_word; }
bool copied_key_q(uint32_t t) {
    return string_t::string_like_q(t) || t == type_binary;
}

// The key as the map stores it: texts copied, words made set-words. Keys
// reach here only after their type was checked.
void store_form(Cell* key) {
    uint32_t t = type_of(*key);
    if (word_key_q(t)) {
        set_type(*key, type_set_word);
    } else if (copied_key_q(t)) {
        memory::SeriesBuffer* b = memory::buffer_of(key->w2);
        uint32_t from = std::min(key->w1, b->length());
        NodeId copy = series::copy_series_part(key->w2, from, b->length() - from);
        *key = Cell{key->header, 0, copy, 0};
    }
}

// The key cell of the backing block that matches `key` under the
// comparison code (one of lookup_op's), or null.
Cell* lookup(const Cell& map, const Cell& key, int32_t op) {
    if (type_of(key) == type_integer) return hash::map_find_integer(table_of(map), int32_t(key.w2));
    Cell k = key;
    return hash::hash_table_find(table_of(map), &k, 0, 1, op, false, false);
}

int32_t lookup_op(bool case_, bool same) {
    if (same) return registry::op_same;
    return case_ ? registry::op_strict_equal : registry::op_equal;
}

// Sets the key's value: a live or removed pair found under `op` takes the
// value (a removed one counts as live again); an absent key is stored in
// its normal form with the value after it, indexed where the lookup's probe
// ended (nothing between the two touches the table).
void set_value(const Cell& map, const Cell& key, const Cell& value, int32_t op, const Cell& context) {
    Cell v = value;
    hash::MapSlot slot;
    if (Cell* found = hash::map_find_slot(table_of(map), key, op, slot)) {
        Cell* pair_value = found + 1;
        if (pair_value->header == removed_header) hash::record(table_of(map), hash::field::count) += 1;
        *pair_value = v;
        return;
    }
    Cell k = key;
    normalize_key(&k, context);
    Cell* pair = series::alloc_tail_cells(block_of(map), 2);
    pair[0] = k;
    pair[1] = v;
    hash::map_place(table_of(map), cell_count(map) - 2, slot);
}

// An odd count of cells from the block's index cannot be pairs.
void check_pairs(const Cell& block) {
    Cell b = block;
    if (block_t::length_at(b) % 2 != 0) raise_error(err_cat::script, script::invalid_arg, &block);
}

// Every key of a block about to become a map must be of a key type.
void check_keys(const Cell& block, const Cell& context) {
    Cell b = block;
    int32_t n = block_t::length_at(b);
    for (int32_t i = 0; i < n; i += 2) {
        const Cell& key = *block_t::cell_at(b, b.w1 + uint32_t(i));
        if (!key_type_q(type_of(key))) {
            Cell type = datatype_t::value_of(type_of(key));
            raise_error(err_cat::script, script::invalid_path, &context, &type);
        }
    }
}

// A new map over a clone of the block's cells from its index.
Cell from_block(const Cell& spec) {
    check_pairs(spec);
    check_keys(spec, spec);
    stack::Mark mark;
    Cell clone = *block_t::clone(spec, false, false);
    mark.restore();
    object_t::clear_new_lines(clone.w2);
    Cell map{};
    make_at(&map, &clone, int32_t(block_t::length_at(clone)));
    return map;
}

Cell none_cell() { return none_t::value; }

// Appends ASCII text to the mold buffer; answers the budget less its length.
int32_t emit(Cell* buffer, const char* text, int32_t budget) {
    string_t::append_text(*buffer, text);
    return budget - int32_t(std::strlen(text));
}

}  // namespace

// ---- Operations ------------------------------------------------------------------------

Cell* make_at(Cell* cell, const Cell* block, int32_t size) {
    NodeId table;
    NodeId node;
    if (block != nullptr) {
        Cell b = *block;
        table = hash::make_hash_table(std::max(1, block_t::length_at(b) / 2), &b, hash::kind_map, 0);
        node = b.w2;
    } else {
        table = hash::make_hash_table(std::max(1, size), nullptr, hash::kind_map, 0);
        node = hash::table_backing(table);
    }
    *cell = Cell{type_map, 0, node, table};
    return cell;
}

uint32_t count(const Cell& map) { return hash::table_count(table_of(map)); }

bool key_type_q(uint32_t type) {
    switch (type) {
        case type_string: case type_file: case type_url: case type_char: case type_integer: case type_float:
        case type_word: case type_set_word: case type_lit_word: case type_get_word: case type_refinement:
        case type_issue: case type_pair: case type_percent: case type_tuple: case type_binary: case type_time:
        case type_tag: case type_email: case type_date: case type_money: case type_ref: case type_point2d:
        case type_point3d:
            return true;
        default:
            return false;
    }
}

void normalize_key(Cell* key, const Cell& context) {
    if (!key_type_q(type_of(*key))) {
        Cell type = datatype_t::value_of(type_of(*key));
        raise_error(err_cat::script, script::invalid_path, &context, &type);
    }
    store_form(key);
}

void add_pairs(Cell* map, const Cell& block, bool case_) {
    check_pairs(block);
    Cell m = *map;
    Cell b = block;
    int32_t n = block_t::length_at(b);
    int32_t op = lookup_op(case_, false);
    for (int32_t i = 0; i < n; i += 2) {
        Cell key = *block_t::cell_at(b, b.w1 + uint32_t(i));
        Cell value = *block_t::cell_at(b, b.w1 + uint32_t(i) + 1);
        set_value(m, key, value, op, m);
    }
}

bool foreach_step(const Cell& words, Cell* map, int32_t word_count) {
    bool any = false;
    for (int32_t w = 0; w < word_count; ++w) {
        Cell word = *block_t::cell_at(words, words.w1 + uint32_t(w));
        if (!word_key_q(type_of(word))) raise_error(err_cat::script, script::invalid_arg, &word);
        uint32_t len = cell_count(*map);
        while (map->w1 % 2 == 0 && map->w1 + 1 < len && !live_q(*map, map->w1)) map->w1 += 2;
        if (map->w1 < len) {
            Cell v = *cell_at(*map, map->w1);
            if (map->w1 % 2 == 0 && type_of(v) == type_set_word) set_type(v, type_word);
            map->w1 += 1;
            word_t::set(word, v);
            any = true;
        } else {
            word_t::set(word, none_cell());
        }
    }
    return any;
}

Cell* push(const Cell& map) { return stack::push_copy(map); }

// ---- Actions ------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    switch (type_of(*spec)) {
        case type_block:
        case type_paren:
        case type_hash: *proto = from_block(*spec); return proto;
        case type_integer:
        case type_float: {
            int32_t n = checks::cell_to_int(*spec);
            if (n < 0) raise_error(err_cat::script, script::out_of_range, spec);
            Cell map{};
            make_at(&map, nullptr, n == 0 ? 2 : 2 * std::min(n, 0x3FFFFFFF));
            *proto = map;
            return proto;
        }
        case type_map: {
            Cell source = *spec;
            return copy(&source, proto, nullptr, false, nullptr);
        }
        default: {
            Cell dt = datatype_t::value_of(type_map);
            raise_error(err_cat::script, script::bad_to_arg, &dt, spec);
        }
    }
}

Cell* to(Cell* proto, Cell* spec, uint32_t type) {
    uint32_t t = type_of(*spec);
    if (t == type_integer || t == type_float) {
        Cell dt = datatype_t::value_of(type_map);
        raise_error(err_cat::script, script::bad_to_arg, &dt, spec);
    }
    return make(proto, spec, type);
}

// words: the keys (set-words given as words); values; body: the pairs, each
// key starting a new line.
Cell* reflect(Cell* value, Cell* field) {
    int32_t what = symbol_t::resolve_alias(int32_t(field->w2));
    bool words = what == symbol_t::resolve_alias(fixed::sym_words);
    bool values = what == symbol_t::resolve_alias(fixed::sym_values);
    bool body = what == symbol_t::resolve_alias(fixed::sym_body);
    if (!words && !values && !body) raise_error(err_cat::internal, err_id::internal::not_done);
    Cell map = *value;
    Cell out{};
    block_t::make_at(out, int32_t(body ? 2 * count(map) : count(map)));
    for (uint32_t i = 0; i + 1 < cell_count(map); i += 2) {
        if (!live_q(map, i)) continue;
        Cell key = *cell_at(map, i);
        Cell v = *cell_at(map, i + 1);
        if (words) {
            if (type_of(key) == type_set_word) set_type(key, type_word);
            clear_new_line_flag(key);
            block_t::append_value(out, key);
        } else if (values) {
            block_t::append_value(out, v);
        } else {
            key.header |= header::new_line;
            block_t::append_value(out, key);
            block_t::append_value(out, v);
        }
    }
    *value = out;
    return value;
}

namespace {

// The pairs, each key and value molded with one blank between them, pairs
// separated by `separator`; in the indented layout each pair sits on its own
// line one level deeper than the map.
int32_t write_pairs(const Cell& map, Cell* buffer, bool all, bool flat, Cell* part, int32_t budget, int32_t indent,
                    const char* separator, bool indented) {
    bool first = true;
    for (uint32_t i = 0; i + 1 < cell_count(map); i += 2) {
        if (!live_q(map, i)) continue;
        if (part && budget < 1) break;
        if (!first && !indented) budget = emit(buffer, separator, budget);
        first = false;
        if (indented) budget = checks::mold_indent(*buffer, indent + 1, budget);
        Cell key = *cell_at(map, i);
        Cell value = *cell_at(map, i + 1);
        clear_new_line_flag(key);
        budget = actions::mold(&key, buffer, false, all, flat, part, budget, indent + 1);
        budget = emit(buffer, " ", budget);
        budget = actions::mold(&value, buffer, false, all, flat, part, budget, indent + 1);
        if (indented) budget = emit(buffer, "\n", budget);
    }
    return budget;
}

}  // namespace

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    if (series::mold_cycle(*value, buffer->w2, budget, false)) return budget;
    series::CycleGuard guard;
    series::cycle_push(block_of(*value));
    Cell map = *value;
    return write_pairs(map, buffer, false, false, part, budget, 0, "\n", false);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    if (series::mold_cycle(*value, buffer->w2, budget, true)) return budget;
    series::CycleGuard guard;
    series::cycle_push(block_of(*value));
    Cell map = *value;
    if (!only) budget = emit(buffer, "#[", budget);
    if (count(map) == 0) {
        if (!only) budget = emit(buffer, "]", budget);
        return budget;
    }
    if (flat || only) {
        budget = write_pairs(map, buffer, all, flat, part, budget, indent, flat ? " " : "\n", false);
    } else {
        budget = emit(buffer, "\n", budget);
        budget = write_pairs(map, buffer, all, flat, part, budget, indent, "", true);
        if (indent >= 1) budget = checks::mold_indent(*buffer, indent, budget);
    }
    if (!only) budget = emit(buffer, "]", budget);
    return budget;
}

Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool case_, bool,
                  bool, bool) {
    static Cell answer;
    Cell map = *parent;
    int32_t op = lookup_op(case_, false);
    if (value == nullptr) {
        Cell* found = lookup(map, *element, op);
        answer = found != nullptr && found[1].header != removed_header ? found[1] : none_cell();
        return &answer;
    }
    set_value(map, *element, *value, op, path != nullptr ? *path : map);
    return value;
}

namespace {

// Whether every live pair of `a` has an equal value under `b`'s equal key.
bool pairs_in(const Cell& a, const Cell& b, int32_t op) {
    for (uint32_t i = 0; i + 1 < cell_count(a); i += 2) {
        if (!live_q(a, i)) continue;
        Cell key = *cell_at(a, i);
        bool matched = false;
        if (op == registry::op_strict_equal) {
            Cell* found = lookup(b, key, op);
            if (found != nullptr && found[1].header != removed_header) {
                Cell x = *cell_at(a, i + 1), y = found[1];
                matched = actions::compare_cells(&x, &y, op) == 0;
            }
        } else {
            int32_t bucket = -1, start = 0, step = 0;
            while (Cell* found = hash::hash_table_find_next(table_of(b), &key, bucket, start, step)) {
                if (found[1].header == removed_header) continue;
                Cell x = *cell_at(a, i + 1), y = found[1];
                if (actions::compare_cells(&x, &y, op) == 0) {
                    matched = true;
                    break;
                }
            }
        }
        if (!matched) return false;
    }
    return true;
}

bool equality_op_q(int32_t op) {
    return op == registry::op_equal || op == registry::op_not_equal || op == registry::op_strict_equal ||
           op == registry::op_same || op == registry::op_find;
}

}  // namespace

// Equality of maps: the same pairs, whatever their order. Sorting orders
// maps by their backing blocks' nodes; other orderings do not apply.
int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (type_of(*b) != type_map) return registry::not_comparable;
    if (op == registry::op_sort || op == registry::op_case_sort)
        return (block_of(*a) > block_of(*b)) - (block_of(*a) < block_of(*b));
    if (!equality_op_q(op)) return registry::not_comparable;
    if (block_of(*a) == block_of(*b) && a->w1 == b->w1) return 0;
    if (op == registry::op_same) return 1;
    bool in_a = series::cycle_find(block_of(*a)), in_b = series::cycle_find(block_of(*b));
    if (in_a || in_b) return in_a && in_b ? 0 : 1;
    if (count(*a) != count(*b)) return 1;
    if (count(*a) == 0) return 0;
    series::CycleGuard guard;
    series::cycle_push(block_of(*a));
    series::cycle_push(block_of(*b));
    return pairs_in(*a, *b, op) ? 0 : 1;
}

Cell* clear(Cell* map) {
    hash::clear_hash_table(table_of(*map));
    return map;
}

// A map over a copy of the block and the table; with /deep the values that
// are series, objects or maps are copied too (only those of /types when
// given). A map that holds itself cannot be copied deeply.
Cell* copy(Cell* value, Cell* result, Cell*, bool deep, Cell* types) {
    Cell source = *value;
    series::CycleGuard guard;
    if (deep) {
        if (series::cycle_find(block_of(source))) {
            series::cycle_reset();
            raise_error(err_cat::internal, err_id::internal::no_cycle);
        }
        series::cycle_push(block_of(source));
    }
    NodeId block = memory::copy_series_buffer(block_of(source));
    NodeId table = hash::copy_hash_table(table_of(source), block);
    Cell out{type_map, 0, block, table};
    stack::Mark mark;
    stack::push_copy(out);  // rooted while nested copies allocate
    if (deep) {
        uint32_t n = cell_count(out);
        if (types != nullptr) {
            block_t::copy_nested(cell_at(out, 1), cell_at(out, n), 2, true, *types);
        } else {
            for (uint32_t i = 1; i < n; i += 2) {
                uint32_t t = type_of(*cell_at(out, i));
                bool copyable = series_t::series_type_q(t) || t == type_object || t == type_map || t == type_bitset ||
                                t == type_error;
                if (!copyable) continue;
                Cell v = *cell_at(out, i), copied{};
                actions::copy(&v, &copied, nullptr, true, nullptr);
                *cell_at(out, i) = copied;
            }
        }
    }
    mark.restore();
    *result = out;
    return result;
}

// The key as stored, a set-word! given as word!; none when absent or removed.
Cell* find(Cell* series, Cell* value, Cell*, bool, bool case_, bool same, bool, Cell*, Cell*, bool, bool, bool, bool) {
    Cell* found = lookup(*series, *value, lookup_op(case_, same));
    if (found == nullptr || found[1].header == removed_header) {
        *series = none_cell();
        return series;
    }
    Cell key = *found;
    if (type_of(key) == type_set_word) set_type(key, type_word);
    clear_new_line_flag(key);
    *series = key;
    return series;
}

int32_t length_q(Cell* value) { return int32_t(count(*value)); }

Cell* put(Cell* series, Cell* key, Cell* value, bool case_) {
    Cell map = *series;
    set_value(map, *key, *value, lookup_op(case_, false), map);
    return value;
}

// Only remove/key applies to a map; the key is matched strictly.
Cell* remove(Cell* series, Cell*, Cell* key) {
    if (key == nullptr) raise_error(err_cat::script, script::missing_arg);
    Cell* found = lookup(*series, *key, registry::op_strict_equal);
    if (found != nullptr) hash::hash_table_remove(table_of(*series), found);
    return series;
}

Cell* select_key(Cell* map, const Cell& key, bool case_, bool same) {
    Cell* found = lookup(*map, key, lookup_op(case_, same));
    *map = found != nullptr && found[1].header != removed_header ? found[1] : none_cell();
    return map;
}

Cell* select(Cell* series, Cell* value, Cell*, bool, bool case_, bool same, bool, Cell*, Cell*, bool, bool) {
    return select_key(series, *value, case_, same);
}

void init() {
    using namespace registry;
    Row row;
    row.set(slot_make, make);
    row.set(slot_reflect, reflect);
    row.set(slot_to, to);
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_path_access, path_access);
    row.set(slot_compare, compare);
    row.set(slot_clear, clear);
    row.set(slot_copy, copy);
    row.set(slot_find, find);
    row.set(slot_length_q, length_q);
    row.set(slot_put, put);
    row.set(slot_remove, remove);
    row.set(slot_select, select);
    row.register_as(type_map, 0, "map!");
    hash::set_map_key_normalizer(store_form);
}

}  // namespace vyr::map_t
