// block!: helpers, construction, modification, copy, compare, mold and form.
// Searching, sorting and the set operations are in block_search.cpp.
#include "datatypes/block.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/map.h"
#include "datatypes/object.h"
#include "runtime/registry.h"
#include "datatypes/series.h"
#include "datatypes/series_internal.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/vector.h"
#include "runtime/stack.h"
#include "datatypes/checks.h"
#include "datatypes/fixed_words.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace vyr::block_t {

using memory::buffer_of;
using memory::SeriesBuffer;
using series_t::index_of;
using series_t::node_of;
using series_t::set_index;
namespace cells = series_t::cells;

namespace {
constexpr uint32_t cell_bytes = memory::cell_width;

// The cell that holds blocks made with no parent (make_fixed_in, make_in).
Cell static_block{type_none, 0, 0, 0};
// What path access answers when the element is not a cell of the block
// (none, or a value found by select): callers copy it at once.
Cell path_answer{type_none, 0, 0, 0};

int32_t cell_count(const Cell& b) { return int32_t(memory::series_length(node_of(b))); }

// A new block value of `type` with room for n cells (at least 1).
Cell new_block(uint32_t type, int64_t n) {
    uint32_t room = uint32_t(std::clamp<int64_t>(n, 1, memory::max_series_bytes / cell_bytes));
    return Cell{type, 0, memory::alloc_cells(room), 0};
}

// Makes room for `extra` more cells after the tail: the buffer grows to the
// needed size, doubled when `doubled`. Counts past 32 bits raise internal
// `no-memory`. Answers the buffer (it may have moved).
SeriesBuffer* reserve(NodeId node, uint64_t extra, bool doubled) {
    SeriesBuffer* b = buffer_of(node);
    uint64_t need = uint64_t(b->used()) + extra * cell_bytes;
    if (need > memory::max_series_bytes) raise_error(err_cat::internal, err_id::internal::no_memory);
    if (b->head + need <= b->capacity) return b;
    uint64_t size = doubled ? std::min<uint64_t>(need * 2, memory::max_series_bytes) : need;
    return memory::expand_series(node, uint32_t(size));
}

// The cells a value offers to append, insert and change: its cells from its
// index when it is spliced, else the value itself. Copied out first, so a
// source inside the changed buffer is read as it was. A single value (the
// common case) is held in place, with no heap copy.
class Offered {
public:
    Offered(const Cell& value, bool only, int32_t part) { take(value, only, part); }
    Offered(const Offered&) = delete;
    Offered& operator=(const Offered&) = delete;

    // Takes the value's cells again (after Vyr code may have changed them).
    void take(const Cell& value, bool only, int32_t part) {
        many_.clear();
        if (!only && series_t::block_family_q(type_of(value))) {
            int32_t n = length_at(value);
            if (part >= 0) n = std::min(n, part);
            if (n > 0) {
                const Cell* from = buffer_of(node_of(value))->cells() + std::max(index_of(value), 0);
                many_.assign(from, from + n);
            }
            data_ = many_.data();
            size_ = many_.size();
        } else {
            one_ = value;
            data_ = &one_;
            size_ = 1;
        }
    }
    const Cell* begin() const { return data_; }
    const Cell* end() const { return data_ + size_; }
    size_t size() const { return size_; }

private:
    Cell one_{};
    std::vector<Cell> many_;
    const Cell* data_ = nullptr;
    size_t size_ = 0;
};

// Writes the run `run` at `at`, `dup` times (copies of the written part
// doubling each round).
void write_repeated(Cell* at, const Offered& run, uint64_t dup) {
    if (run.size() == 0) return;
    if (run.size() == 1) *at = *run.begin();
    else std::memcpy(at, run.begin(), run.size() * cell_bytes);
    if (dup > 1) checks::fill_repeat(reinterpret_cast<uint8_t*>(at), uint32_t(run.size() * cell_bytes), uint32_t(dup));
}

// Appends a copy of v to a block-family series; a hash! indexes it.
void append_indexed(const Cell& series, const Cell& v) {
    uint32_t len = uint32_t(cell_count(series));
    append_value(series, v);
    series_t::hash_inserted(series, len, 1, len);
}

// Overwrites cell i of a block-family series; a hash! indexes it again.
void overwrite_indexed(const Cell& series, uint32_t i, const Cell& v) {
    Cell copy = v;
    series_t::hash_unindex(series, i);
    *cell_at(series, i) = copy;
    series_t::hash_index(series, i);
}


// A clone of src into `out`, nested blocks cloned when deep. The cycle stack
// stops a block that contains itself.
void clone_into(const Cell& src, Cell& out, bool deep, bool paths) {
    int32_t n = length_at(src);
    Cell copy = new_block(type_of(src), n);
    if (n > 0) {
        std::memcpy(buffer_of(node_of(copy))->cells(), buffer_of(node_of(src))->cells() + index_of(src),
                    size_t(n) * cell_bytes);
        buffer_of(node_of(copy))->tail = uint32_t(n) * cell_bytes;
    }
    copy.header |= src.header & header::new_line;
    if (deep) {
        series::CycleGuard guard;
        if (series::cycle_find(node_of(src))) {
            series::cycle_reset();
            raise_error(err_cat::internal, err_id::internal::no_cycle);
        }
        series::cycle_push(node_of(src));
        for (int32_t i = 0; i < n; ++i) {
            Cell item = buffer_of(node_of(copy))->cells()[i];
            uint32_t t = type_of(item);
            bool nested = t == type_block || (paths && (t == type_paren || (t >= type_path && t <= type_get_path)));
            if (!nested) continue;
            Cell cloned;
            clone_into(item, cloned, deep, paths);
            buffer_of(node_of(copy))->cells()[i] = cloned;
        }
    }
    out = copy;
}

bool equal_find(const Cell& a, const Cell& b) { return series_t::compare_cells(a, b, registry::op_find) == 0; }
}  // namespace

// ---- Helpers on block values ---------------------------------------------------

int32_t length_at(const Cell& b) { return std::max(cell_count(b) - std::max(index_of(b), 0), 0); }

bool advance(Cell& b) {
    int32_t len = cell_count(b);
    if (index_of(b) + 1 <= len) set_index(b, index_of(b) + 1);
    return index_of(b) >= len;
}

Cell* cell_at_index(Cell& b) {
    int32_t len = cell_count(b);
    if (index_of(b) > len) set_index(b, len);
    return buffer_of(node_of(b))->cells() + std::max(index_of(b), 0);
}

Cell* tail_cell(const Cell& b) { return buffer_of(node_of(b))->cells_end(); }
bool at_tail_q(const Cell& b) { return index_of(b) == cell_count(b); }
Cell* cell_at(const Cell& b, uint32_t i) { return buffer_of(node_of(b))->cells() + i; }

void truncate(const Cell& b) { set_tail(b, uint32_t(std::clamp(index_of(b), 0, cell_count(b)))); }

void set_tail(const Cell& b, uint32_t n) {
    SeriesBuffer* buf = buffer_of(node_of(b));
    buf->tail = buf->head + n * cell_bytes;
}

void drop_last(Cell& b) {
    int32_t len = cell_count(b);
    if (len == 0) return;
    set_tail(b, uint32_t(len - 1));
    if (index_of(b) > len - 1) set_index(b, len - 1);
}

Cell* append_value(const Cell& b, const Cell& v) {
    Cell copy = v;  // v may lie in b's buffer, which may move
    Cell* c = series::alloc_tail_cell(node_of(b));
    *c = copy;
    return c;
}

void append_values(const Cell& b, const Cell& src) {
    if (!series_t::block_family_q(type_of(src))) return;
    Offered cells(src, false, -1);
    SeriesBuffer* buf = reserve(node_of(b), cells.size(), true);
    if (cells.size() != 0) std::memcpy(buf->cells_end(), cells.begin(), cells.size() * cell_bytes);
    buf->tail += uint32_t(cells.size()) * cell_bytes;
}

Cell select_value(const Cell& b, const Cell& v) {
    int32_t len = cell_count(b);
    for (int32_t i = std::max(index_of(b), 0); i + 1 < len; ++i) {
        Cell* c = cell_at(b, uint32_t(i));
        if (series_t::compare_cells(v, *c, registry::op_find) == 0) return *cell_at(b, uint32_t(i + 1));
    }
    return cells::none();
}

bool remove_value(const Cell& b, const Cell& v, bool from_head) {
    int32_t len = cell_count(b);
    for (int32_t i = from_head ? 0 : std::max(index_of(b), 0); i < len; ++i) {
        if (series_t::compare_cells(v, *cell_at(b, uint32_t(i)), registry::op_find) != 0) continue;
        Cell* c = cell_at(b, uint32_t(i));
        std::memmove(c, c + 1, size_t(len - i - 1) * cell_bytes);
        set_tail(b, uint32_t(len - 1));
        return i < index_of(b);
    }
    return false;
}

Cell* clone(const Cell& b, bool deep, bool paths) {
    Cell out;
    clone_into(b, out, deep, paths);
    return stack::push_copy(out);
}

void copy_nested(Cell* first, Cell* end, uint32_t step, bool deep, const Cell& types) {
    bool by_typeset = type_of(types) == type_typeset;
    for (Cell* c = first; c < end; c += step) {
        uint32_t t = type_of(*c);
        bool copyable = series_t::series_type_q(t) || t == type_bitset || t == type_object || t == type_error ||
                        t == type_map;
        bool wanted = by_typeset ? typeset_t::has(types, t) : t == types.w1;
        if (!copyable || !wanted) continue;
        Cell t_arg = types;
        series_t::copy_in_place(*c, deep, deep ? &t_arg : nullptr);
    }
}

void insert_value(Cell& b, const Cell& v, bool advance_flag, bool at_head) {
    Cell copy = v;
    int32_t len = cell_count(b);
    int32_t at = at_head ? 0 : std::clamp(index_of(b), 0, len);
    SeriesBuffer* buf = reserve(node_of(b), 1, true);
    Cell* p = buf->cells() + at;
    std::memmove(p + 1, p, size_t(len - at) * cell_bytes);
    *p = copy;
    buf->tail += cell_bytes;
    if (advance_flag) set_index(b, at + 1);
}

void insert_values(Cell& b, const Cell& src) {
    Offered cells(src, false, -1);
    for (const Cell& c : cells) insert_value(b, c, true, false);
}

void insert_last() {
    Cell* base = stack::arg_base();
    insert_value(base[-1], base[0], true, false);
}

void append_arg() {
    Cell* base = stack::arg_base();
    append_value(base[0], base[1]);
}

void append_last() {
    Cell* base = stack::arg_base();
    append_value(base[-1], base[0]);
}

Cell find_word(const Cell& b, const Cell& word, bool strict) {
    auto key = int32_t(word.w2);
    if (!strict) key = symbol_t::resolve_alias(key);
    int32_t len = cell_count(b);
    for (int32_t i = std::max(index_of(b), 0); i + 1 < len; ++i) {
        const Cell* c = cell_at(b, uint32_t(i));
        uint32_t t = type_of(*c);
        if (t < type_word || t > type_get_word) continue;
        auto sym = int32_t(c->w2);
        if ((strict ? sym : symbol_t::resolve_alias(sym)) == key) return *cell_at(b, uint32_t(i + 1));
    }
    return cells::none();
}

// ---- Making blocks ---------------------------------------------------------------

Cell* make_at(Cell& cell, int32_t n) {
    cell = new_block(type_block, n);
    return &cell;
}

Cell* make_sized_at(Cell& cell, int32_t n, bool fixed) {
    uint32_t room = uint32_t(std::max(n, 1));
    NodeId node = fixed ? memory::alloc_fixed_series(room, cell_bytes) : memory::alloc_unset_cells(room);
    cell = Cell{type_block, 0, node, 0};
    return &cell;
}

Cell* make_fixed_in(Cell* parent, uint32_t n) {
    Cell made;
    make_sized_at(made, int32_t(n), true);
    Cell* at = parent ? append_value(*parent, made) : &static_block;
    *at = made;
    return at;
}

Cell* make_in(Cell* parent, uint32_t n) {
    Cell made = new_block(type_block, n);
    Cell* at = parent ? append_value(*parent, made) : &static_block;
    *at = made;
    return at;
}

Cell* push(const Cell& b) { return stack::push_copy(b); }
Cell* push_new(int32_t n) { return stack::push_copy(new_block(type_block, n)); }

// ---- make and to ------------------------------------------------------------------

namespace {
// The key/value pairs of a map as a new block (map!'s reflect body).
void map_body(const Cell& map, Cell& out) {
    Cell m = map;
    Cell field{type_word, 0, uint32_t(fixed::sym_body), 0};
    out = *map_t::reflect(&m, &field);
}

// An object's words and values as set-words and values (its reflect body).
void object_body(const Cell& object, Cell& out) {
    Cell o = object;
    Cell field{type_word, 0, uint32_t(fixed::sym_body), 0};
    out = *object_t::reflect(&o, &field);
}
}  // namespace

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    uint32_t t = type_of(*spec);
    if (series_t::block_family_q(t)) {
        clone_into(*spec, *proto, false, false);
    } else if (t == type_integer || t == type_float) {
        *proto = new_block(type, checks::cell_to_int(*spec));
    } else if (t == type_map) {
        map_body(*spec, *proto);
    } else if (t == type_vector) {
        vector_t::to_block(*spec, proto);
    } else if (t == type_object) {
        object_body(*spec, *proto);
    } else {
        Cell dt = cells::datatype(type);
        raise_error(err_cat::script, err_id::script::bad_make_arg, &dt, spec);
    }
    proto->header = type;
    return proto;
}

Cell* to(Cell* proto, Cell* spec, uint32_t type) {
    uint32_t t = type_of(*spec);
    if (series_t::block_family_q(t)) {
        clone_into(*spec, *proto, false, false);
    } else if (t == type_map) {
        map_body(*spec, *proto);
    } else if (t == type_vector) {
        vector_t::to_block(*spec, proto);
    } else if (t == type_object) {
        object_body(*spec, *proto);
    } else if (t == type_string) {
        // The loader leaves the block of every value it read in proto.
        checks::scan_single_value(*spec, proto);
    } else if (t == type_typeset) {
        Cell ts = *spec;
        typeset_t::to_block(ts, *proto);
    } else {
        Cell value = *spec;
        Cell b = new_block(type_block, 1);
        append_value(b, value);
        *proto = b;
    }
    proto->header = type;
    return proto;
}

// ---- Mold and form ---------------------------------------------------------------

int32_t mold_items(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget,
                   int32_t indent) {
    series::CycleGuard guard;
    series::cycle_push(node_of(*value));
    bool closing = false;
    int32_t start = std::max(index_of(*value), 0);
    for (int32_t i = start; i < cell_count(*value); ++i) {
        if (part && budget < 1) break;
        Cell item = *cell_at(*value, uint32_t(i));
        bool first = i == start;
        if (!flat && (item.header & header::new_line)) {
            if (first && !only) {
                ++indent;
                closing = true;
            }
            if (!(first && only)) budget = series_t::emit(buffer, "\n", budget);
            budget = series_t::emit_indent(buffer, indent, budget);
        } else if (!first) {
            budget = series_t::emit(buffer, " ", budget);
        }
        budget = series_t::mold_value(item, buffer, false, all, flat, part, budget, indent);
    }
    series::cycle_pop();
    if (closing) {
        --indent;
        budget = series_t::emit(buffer, "\n", budget);
        budget = series_t::emit_indent(buffer, indent, budget);
    }
    return budget;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    if (series::mold_cycle(*value, node_of(*buffer), budget, true)) return budget;
    if (!only) budget = series_t::emit(buffer, "[", budget);
    budget = mold_items(value, buffer, only, all, flat, part, budget, indent);
    if (!only) budget = series_t::emit(buffer, "]", budget);
    return budget;
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    if (series::mold_cycle(*value, node_of(*buffer), budget, false)) return budget;
    series::CycleGuard guard;
    series::cycle_push(node_of(*value));
    int32_t start = std::max(index_of(*value), 0);
    for (int32_t i = start; i < cell_count(*value); ++i) {
        if (part && budget < 1) break;
        if (i > start) {
            int32_t last = series_t::last_char(*buffer);
            if (last != '\t' && last != '\n' && last != '\r') budget = series_t::emit(buffer, " ", budget);
        }
        budget = series_t::form_value(*cell_at(*value, uint32_t(i)), buffer, part, budget);
    }
    series::cycle_pop();
    return budget;
}

// ---- path-access ------------------------------------------------------------------

Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* previous,
                  int32_t index, bool case_, bool get, bool tail, bool event) {
    if (type_of(*element) == type_integer) {
        if (value) {
            // The parent cell is rooted (the caller's stack cell): a change
            // handler run by poke may renumber the series' node.
            return series_t::poke(parent, cells::integer_of(*element), value, element);
        }
        Cell s = *parent;
        int32_t n = cells::integer_of(*element);
        int64_t pos = int64_t(index_of(s)) + n - (n > 0 ? 1 : 0);
        if (n == 0 || pos < 0 || pos >= cell_count(s)) {
            path_answer = cells::none();
            return &path_answer;
        }
        return cell_at(s, uint32_t(pos));
    }
    if (!value) {
        if (type_of(*element) == type_word && type_of(*parent) != type_hash) {
            path_answer = find_word(*parent, *element, case_);
            return &path_answer;
        }
        Cell found = *parent;
        Cell key = *element;
        select(&found, &key, nullptr, true, case_, false, false, nullptr, nullptr, false, false);
        path_answer = found;
        return &path_answer;
    }
    Cell found = *parent;
    Cell key = *element;
    find(&found, &key, nullptr, false, case_, false, false, nullptr, nullptr, false, false, false, false);
    if (type_of(found) == type_none) raise_error(err_cat::script, err_id::script::bad_path_set, path, element);
    int32_t after = index_of(found) + 1;
    // A key in the last cell gets a cell for its value, as put does, rather
    // than a write past the tail.
    if (after >= cell_count(found)) append_indexed(found, *value);
    else overwrite_indexed(found, uint32_t(after), *value);
    return value;
}

// ---- compare ----------------------------------------------------------------------

int32_t compare(Cell* a, Cell* b, int32_t op) {
    uint32_t ta = type_of(*a), tb = type_of(*b);
    if (ta != tb) {
        bool paths = (ta == type_path || ta == type_lit_path) && (tb == type_path || tb == type_lit_path);
        if (!(paths && (op == registry::op_strict_word_equal || op == registry::op_word_equal)))
            return registry::not_comparable;
    }
    if (node_of(*a) == node_of(*b) && index_of(*a) == index_of(*b)) return 0;
    if (op == registry::op_same) return -1;
    if (series::cycle_find(node_of(*a))) return series::cycle_find(node_of(*b)) ? 0 : -1;
    int32_t la = length_at(*a), lb = length_at(*b);
    bool equality = op <= registry::op_strict_equal || op >= registry::op_strict_word_equal;
    if (la != lb && equality) return 1;
    series::CycleGuard guard;
    series::cycle_push(node_of(*a));
    series::cycle_push(node_of(*b));
    int32_t ia = std::max(index_of(*a), 0), ib = std::max(index_of(*b), 0);
    for (int32_t i = 0; i < std::min(la, lb); ++i) {
        Cell x = *cell_at(*a, uint32_t(ia + i)), y = *cell_at(*b, uint32_t(ib + i));
        uint32_t tx = type_of(x), ty = type_of(y);
        if (tx != ty && !(all_word_q(tx) && all_word_q(ty)) && !(number_q(tx) && number_q(ty)))
            return tx < ty ? -1 : 1;
        int32_t r = series_t::compare_cells(x, y, op);
        if (r != 0) return r;
    }
    return (la > lb) - (la < lb);
}

// ---- append, insert, change --------------------------------------------------------

Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append) {
    Offered run(*value, only, part);
    int32_t len = cell_count(*series);
    if (index_of(*series) > len) set_index(*series, len);
    int32_t index = std::max(index_of(*series), 0);
    int32_t position = append ? len : index;
    uint64_t total = uint64_t(run.size()) * uint64_t(std::max(dup, 1));
    if (total > UINT32_MAX) raise_error(err_cat::internal, err_id::internal::no_memory);
    if (total > 0) {
        bool owned = series_t::notify_before(*series, append ? series_t::Change::append : series_t::Change::insert,
                                             value, position, int32_t(total));
        if (owned) {
            // The handler may have changed the series or the value, and ran
            // Vyr code: the cells to write are taken again.
            run.take(*value, only, part);
            total = uint64_t(run.size()) * uint64_t(std::max(dup, 1));
        }
        len = cell_count(*series);
        position = append ? len : std::clamp(position, 0, len);
        SeriesBuffer* b = reserve(node_of(*series), total, dup < 5);
        Cell* at = b->cells() + position;
        if (position < len) std::memmove(at + total, at, size_t(len - position) * cell_bytes);
        write_repeated(at, run, uint64_t(std::max(dup, 1)));
        b->tail += uint32_t(total) * cell_bytes;
        series_t::hash_inserted(*series, uint32_t(position), uint32_t(total), uint32_t(len));
        if (owned)
            series_t::notify_after(*series, append ? series_t::Change::append : series_t::Change::insert, value,
                                   position, int32_t(total));
    }
    if (append) set_index(*series, 0);
    else set_index(*series, int32_t(std::min<int64_t>(position + int64_t(total), cell_count(*series))));
    return series;
}

Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    Offered run(*value, only, -1);
    int32_t len = cell_count(*series);
    if (index_of(*series) > len) set_index(*series, len);
    int32_t index = std::max(index_of(*series), 0);
    uint64_t written = uint64_t(run.size()) * uint64_t(std::max(dup, 1));
    if (written > UINT32_MAX) raise_error(err_cat::internal, err_id::internal::no_memory);
    int64_t replaced = part >= 0 ? part : int64_t(written);
    replaced = std::min<int64_t>(replaced, len - index);
    if (written == 0 && replaced == 0) return series;
    bool owned = series_t::notify_before(*series, series_t::Change::change, value, index, int32_t(written));
    if (owned) {  // as in insert: the cells to write are taken again
        run.take(*value, only, -1);
        written = uint64_t(run.size()) * uint64_t(std::max(dup, 1));
        replaced = part >= 0 ? part : int64_t(written);
    }
    len = cell_count(*series);
    index = std::clamp(index, 0, len);
    replaced = std::min<int64_t>(replaced, len - index);
    uint64_t new_len = uint64_t(len) - uint64_t(replaced) + written;
    if (new_len * cell_bytes > memory::max_series_bytes) raise_error(err_cat::internal, err_id::internal::no_memory);
    NodeId node = node_of(*series);
    SeriesBuffer* b = buffer_of(node);
    if (b->head + new_len * cell_bytes > b->capacity) b = memory::expand_series(node, uint32_t(new_len * cell_bytes));
    Cell* at = b->cells() + index;
    std::memmove(at + written, at + replaced, size_t(len - index - replaced) * cell_bytes);
    write_repeated(at, run, uint64_t(std::max(dup, 1)));
    b->tail = b->head + uint32_t(new_len) * cell_bytes;
    series_t::hash_rebuild(*series);
    if (owned) series_t::notify_after(*series, series_t::Change::change, value, index, int32_t(written));
    set_index(*series, int32_t(std::min<uint64_t>(index + written, new_len)));
    return series;
}

// ---- copy and take -------------------------------------------------------------------

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    Cell src = *value;
    series::CycleGuard guard;
    if (deep) {
        if (series::cycle_find(node_of(src))) {
            series::cycle_reset();
            raise_error(err_cat::internal, err_id::internal::no_cycle);
        }
        series::cycle_push(node_of(src));
    }
    series_t::copy(&src, result, part, false, nullptr);
    if ((deep || types) && type_of(*result) == type_hash) set_type(*result, type_block);
    if (!deep && !types) return result;
    Cell out = *result;
    int32_t n = cell_count(out);
    if (types) {
        copy_nested(cell_at(out, 0), cell_at(out, uint32_t(n)), 1, deep, *types);
    } else {
        for (int32_t i = 0; i < n; ++i) {
            Cell* c = cell_at(out, uint32_t(i));
            if (series_t::series_type_q(type_of(*c))) series_t::copy_in_place(*c, true, nullptr);
        }
    }
    *result = out;
    return result;
}

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    series_t::take(series, part, deep, last);
    if (type_of(*series) == type_none) return series;
    Cell taken = *series;
    int32_t n = cell_count(taken);
    if (deep) {
        for (int32_t i = 0; i < n; ++i) {
            Cell* c = cell_at(taken, uint32_t(i));
            if (series_t::series_type_q(type_of(*c))) series_t::copy_in_place(*c, true, nullptr);
        }
    }
    if (!part && n == 1) *series = *cell_at(taken, 0);
    return series;
}

// ---- trim, swap, put -----------------------------------------------------------------

Cell* trim(Cell* series, bool, bool, bool, bool, bool, Cell*) {
    int32_t index = std::max(index_of(*series), 0);
    int32_t len = cell_count(*series);
    if (index >= len) return series;
    bool owned = series_t::notify_before(*series, series_t::Change::trim, nullptr, index, len - index);
    len = cell_count(*series);
    Cell* c = cell_at(*series, 0);
    int32_t kept = index;
    for (int32_t i = index; i < len; ++i)
        if (type_of(c[i]) != type_none) c[kept++] = c[i];
    set_tail(*series, uint32_t(std::max(kept, index)));
    series_t::hash_rebuild(*series);
    if (owned) series_t::notify_after(*series, series_t::Change::trim, nullptr, index, len - index);
    return series;
}

Cell* swap(Cell* a, Cell* b) {
    if (!series_t::block_family_q(type_of(*b))) series_t::raise_invalid_arg(*b);
    if (index_of(*a) < 0 || index_of(*b) < 0 || length_at(*a) == 0 || length_at(*b) == 0) return a;
    bool same = node_of(*a) == node_of(*b);
    bool owned_a = series_t::notify_before(*a, series_t::Change::swap, b, index_of(*a), 1);
    bool owned_b = !same && series_t::notify_before(*b, series_t::Change::swap, a, index_of(*b), 1);
    if (length_at(*a) > 0 && length_at(*b) > 0) {
        Cell x = *cell_at_index(*a), y = *cell_at_index(*b);
        overwrite_indexed(*a, uint32_t(index_of(*a)), y);
        overwrite_indexed(*b, uint32_t(index_of(*b)), x);
    }
    if (owned_a) series_t::notify_after(*a, series_t::Change::swap, b, index_of(*a), 1);
    if (owned_b) series_t::notify_after(*b, series_t::Change::swap, a, index_of(*b), 1);
    return a;
}

// The key is looked for as one value (find /only), so a block key names one
// cell, as the value after it does.
Cell* put(Cell* series, Cell* key, Cell* value, bool case_) {
    Cell found = *series;
    Cell k = *key;
    find(&found, &k, nullptr, true, case_, false, false, nullptr, nullptr, false, false, false, false);
    int32_t len = cell_count(*series);
    int32_t position = type_of(found) == type_none ? len : index_of(found);
    bool owned = series_t::notify_before(*series, series_t::Change::put, value, position, 1);
    len = cell_count(*series);
    if (type_of(found) == type_none || position >= len) {
        append_indexed(*series, *key);
        append_indexed(*series, *value);
    } else if (position + 1 >= len) {
        append_indexed(*series, *value);
    } else if (!equal_find(*cell_at(*series, uint32_t(position + 1)), *value)) {
        overwrite_indexed(*series, uint32_t(position + 1), *value);
    }
    if (owned) series_t::notify_after(*series, series_t::Change::put, value, position, 1);
    return value;
}

// ---- Registration --------------------------------------------------------------------

void init() {
    using namespace registry;
    Row row;
    row.inherit({slot_random, slot_reflect, slot_at, slot_back, slot_clear, slot_head, slot_head_q, slot_index_q,
                   slot_length_q, slot_move, slot_next, slot_pick, slot_poke, slot_remove, slot_reverse, slot_skip,
                   slot_tail, slot_tail_q, slot_modify});
    row.set(slot_make, make);
    row.set(slot_to, to);
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_path_access, path_access);
    row.set(slot_compare, compare);
    row.set(slot_append, insert);
    row.set(slot_change, change);
    row.set(slot_copy, copy);
    row.set(slot_find, find);
    row.set(slot_insert, insert);
    row.set(slot_put, put);
    row.set(slot_select, select);
    row.set(slot_sort, sort);
    row.set(slot_swap, swap);
    row.set(slot_take, take);
    row.set(slot_trim, trim);
    row.register_as(type_block, type_series, "block!");
}

}  // namespace vyr::block_t
