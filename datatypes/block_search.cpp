// block!: find, select, sort and the block side of the set operations.
#include <algorithm>
#include <cstddef>
#include <optional>
#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/eval_hooks.h"
#include "datatypes/fixed_words.h"
#include "runtime/registry.h"
#include "datatypes/series.h"
#include "datatypes/series_internal.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/hash.h"
#include "datatypes/checks.h"
#include "datatypes/typeset.h"
#include "runtime/memory.h"
#include "runtime/sort.h"

namespace vyr::block_t {

using memory::buffer_of;
using series_t::index_of;
using series_t::node_of;
using series_t::set_index;
using series_t::Refinement;
namespace cells = series_t::cells;

namespace {
constexpr uint32_t cell_bytes = memory::cell_width;

int32_t cell_count(const Cell& b) { return int32_t(memory::series_length(node_of(b))); }
const Cell& cell(const Cell& b, int32_t i) { return buffer_of(node_of(b))->cells()[i]; }

// ---- find --------------------------------------------------------------------------

// What a find key matches: one equal cell, any cell of a datatype, any cell
// whose type is in a typeset, or a run of cells equal to a block's items.
enum class KeyKind { single, datatype, typeset, run };

struct Key {
    KeyKind kind;
    Cell value;
    std::vector<Cell> run;  // the items of a block key
    int32_t op;             // compare operator code
    int32_t length() const { return kind == KeyKind::run ? int32_t(run.size()) : 1; }
};

Key make_key(const Cell& value, bool only, bool case_, bool same) {
    Key k{KeyKind::single, value, {}, same ? registry::op_same : case_ ? registry::op_strict_equal : registry::op_find};
    uint32_t t = type_of(value);
    if (only) return k;
    if (t == type_datatype) {
        k.kind = KeyKind::datatype;
    } else if (t == type_typeset) {
        k.kind = KeyKind::typeset;
    } else if (series_t::block_family_q(t)) {
        k.kind = KeyKind::run;
        int32_t n = length_at(value);
        if (n > 0) {
            const Cell* from = buffer_of(node_of(value))->cells() + std::max(index_of(value), 0);
            k.run.assign(from, from + n);
        }
    }
    return k;
}

bool equal_under(const Cell& c, const Cell& key, int32_t op) { return series_t::compare_cells(c, key, op) == 0; }

// Whether the key matches at pos (a run must fit before the tail).
bool match_at(const Cell& series, int32_t pos, const Key& key) {
    int32_t len = cell_count(series);
    if (pos < 0 || pos + key.length() > len) return false;
    const Cell& c = cell(series, pos);
    switch (key.kind) {
        case KeyKind::datatype: return type_of(c) == key.value.w1;
        case KeyKind::typeset: return typeset_t::has(key.value, type_of(c));
        case KeyKind::single: return equal_under(c, key.value, key.op);
        case KeyKind::run:
            for (int32_t i = 0; i < key.length(); ++i)
                if (!equal_under(cell(series, pos + i), key.run[size_t(i)], key.op)) return false;
            return true;
    }
    return false;
}

// Whether find goes through a hash!'s table: not for /match, nor for keys
// that match by type or by runs of cells (a block key counts as one cell
// only with /same and /only), nor for an object! unless /same. /last with
// /skip counts its records from the index, which the table does not.
bool hashed_search_q(const Cell& series, const Key& key, const Cell& value, bool only, bool same, bool match,
                     bool last_with_skip) {
    if (type_of(series) != type_hash || series.w3 == no_node || match || last_with_skip) return false;
    uint32_t t = type_of(value);
    if (key.kind != KeyKind::single) return false;
    if (series_t::block_family_q(t) && !(same && only)) return false;
    if (t == type_object && !same) return false;
    return true;
}

// Floor division, for aligning a backward start on the record grid.
int32_t floor_div(int32_t a, int32_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

struct FindResult {
    int32_t pos = -1;   // the match, or -1
    int32_t after = -1; // just after the matched run
};

// The search of find and select, on a copy of the series value.
FindResult search(const Cell& series, const Cell& value, Cell* part, bool only, bool case_, bool same, Cell* skip,
                  bool last, bool reverse, bool match) {
    FindResult none;
    int32_t len = cell_count(series);
    int32_t index = std::max(index_of(series), 0);
    if (len == 0 || (index >= len && !reverse)) return none;
    int32_t step = 1;
    if (skip) {
        if (type_of(*skip) != type_integer) series_t::raise_invalid_refine_arg(Refinement::skip, *skip);
        step = cells::integer_of(*skip);
        if (step < 1) series_t::raise_out_of_range(*skip);
    }
    bool has_limit = part != nullptr;
    int64_t limit = len - 1;
    if (part) {
        if (type_of(*part) == type_integer || type_of(*part) == type_float) {
            int32_t n = checks::cell_to_int(*part);
            if (n < 1) return none;
            limit = int64_t(index) + n - 1;
        } else {
            if (type_of(*part) != type_of(series) || node_of(*part) != node_of(series))
                series_t::raise_invalid_refine_arg(Refinement::part, *part);
            limit = int64_t(index_of(*part)) - 1;  // the part position ends the searched cells
        }
        limit = std::min<int64_t>(limit, len - 1);
    }
    Key key = make_key(value, only, case_, same);
    int32_t k = key.length();
    if (k == 0) return none;  // an empty block key has nothing to match

    bool backward = last || reverse;
    auto found = [&](int64_t pos) {
        FindResult r;
        r.pos = int32_t(pos);
        int32_t width = k;
        if (!backward && skip) width = std::max(k, step);
        r.after = int32_t(std::min<int64_t>(pos + width, len));
        return r;
    };
    if (hashed_search_q(series, key, value, only, same, match, last && !reverse && step > 1)) {
        Cell* hit = hash::hash_table_find(NodeId(series.w3), &key.value, index, step, key.op, last, reverse);
        if (!hit) return none;
        int64_t pos = hit - buffer_of(node_of(series))->cells();
        if (has_limit && pos > limit) return none;  // a hit beyond the /part limit
        return found(pos);
    }
    int64_t pos;
    int64_t lowest = 0;
    if (!backward) {
        pos = index;
    } else if (reverse) {
        pos = has_limit ? limit : int64_t(index) - k;
    } else {
        // /last: from the last position where the key fits, down to the index.
        pos = std::min<int64_t>(has_limit ? limit : len - 1, len - k);
        lowest = index;
        // Records are counted from the index: start on a record head.
        if (step > 1) pos = index + int64_t(floor_div(int32_t(pos - index), step)) * step;
    }
    int64_t last_start = has_limit ? limit - (k - 1) : len - k;
    for (; backward ? pos >= lowest : pos <= last_start; pos += backward ? -step : step) {
        if (match_at(series, int32_t(pos), key)) return found(pos);
        if (match) break;
    }
    return none;
}
}  // namespace

Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool, Cell*, Cell* skip, bool last,
           bool reverse, bool tail, bool match) {
    FindResult r = search(*series, *value, part, only, case_, same, skip, last, reverse, match);
    if (r.pos < 0) *series = cells::none();
    else set_index(*series, tail ? r.after : r.pos);
    return series;
}

Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool, Cell*, Cell* skip,
             bool last, bool reverse) {
    FindResult r = search(*series, *value, part, only, case_, same, skip, last, reverse, false);
    int32_t after = r.pos < 0 ? -1 : r.pos + make_key(*value, only, case_, same).length();
    if (after < 0 || after >= cell_count(*series)) *series = cells::none();
    else *series = cell(*series, after);
    return series;
}

// ---- sort ----------------------------------------------------------------------------

namespace {
// One sort by a user function: the function and the two record blocks of
// that sort alone (a sort started by the function gets its own).
struct FunctionSort {
    Cell function;
    Cell* record_blocks;  // two block values on the argument stack, or null
    uint32_t width;       // cells per record
};

// One field pair by the compare slot; values that cannot be compared order
// by type id.
int32_t field_compare(const Cell& x, const Cell& y, int32_t op) {
    int32_t r = series_t::compare_cells(x, y, op);
    if (r == registry::not_comparable) r = int32_t(type_of(x)) - int32_t(type_of(y));
    return r;
}

// Whether the key field of every record is an integer!: such records sort
// by their numbers, compared in line.
bool integer_keys_q(const Cell* first, uint32_t records, uint32_t width, uint32_t field) {
    for (uint32_t i = 0; i < records; ++i)
        if (type_of(first[size_t(i) * width + field]) != type_integer) return false;
    return true;
}
// Where an integer!'s number lies in its cell.
constexpr uint32_t integer_payload_offset = offsetof(Cell, w2);

// Fills a record block with `width` cells from `from`.
void fill_record_block(const Cell& block, const Cell* from, uint32_t width) {
    NodeId node = node_of(block);
    memory::SeriesBuffer* b = buffer_of(node);
    if (b->head + width * cell_bytes > b->capacity) b = memory::expand_series(node, width * cell_bytes);
    std::memcpy(b->cells(), from, width * cell_bytes);
    b->tail = b->head + width * cell_bytes;
}
}  // namespace

int32_t sort_compare(const void* a, const void* b, uintptr_t op, uintptr_t flags) {
    auto* x = static_cast<const Cell*>(a);
    auto* y = static_cast<const Cell*>(b);
    if (flags & sort_flag::reverse) std::swap(x, y);
    uint32_t field = uint32_t(flags >> sort_flag::field_shift);
    if (!(flags & sort_flag::all)) return field_compare(x[field], y[field], int32_t(op));
    for (uint32_t i = 0; i < field; ++i)
        if (int32_t r = field_compare(x[i], y[i], int32_t(op))) return r;
    return 0;
}

int32_t sort_compare_func(const void* a, const void* b, uintptr_t state, uintptr_t flags) {
    auto* st = reinterpret_cast<const FunctionSort*>(state);
    auto* first = static_cast<const Cell*>(a);
    auto* second = static_cast<const Cell*>(b);
    // The function gets the second record first (the first first under
    // /reverse); sort::read_compare_answer reads its answer accordingly.
    const Cell* order[2] = {second, first};
    if (flags & sort_flag::reverse) std::swap(order[0], order[1]);
    Cell* args = stack::top();
    for (int i = 0; i < 2; ++i) {
        if (st->record_blocks) {
            fill_record_block(st->record_blocks[i], order[i], st->width);
            stack::push_copy(st->record_blocks[i]);
        } else {
            stack::push_copy(order[i][flags >> sort_flag::field_shift]);
        }
    }
    return call_compare_function(st->function, args, 2);
}

int32_t call_compare_function(const Cell& function, Cell* args, uint32_t count) {
    Cell answer = cells::none();
    eval_hooks::CallbackScope traced(eval_hooks::sort_callback);
    Status status = eval_hooks::call(function, args, count, no_node, fixed::word_compare_callback, answer);
    stack::set_top(args);
    if (status != Status::ok) throw_code(uint32_t(status));
    return sort::read_compare_answer(answer);
}

Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse, bool stable) {
    int32_t len = cell_count(*series);
    int32_t start = std::clamp(index_of(*series), 0, len);
    int32_t count = len - start;
    if (count == 0) return series;
    if (part) {
        int32_t n = series_t::part_count(*series, *part);
        if (n < 0) {
            int32_t from = std::max(start + n, 0);
            count = start - from;
            start = from;
        } else {
            count = std::min(count, n);
        }
        if (count == 0) return series;
    }
    int32_t width = 1;
    if (skip) {
        if (type_of(*skip) != type_integer) series_t::raise_invalid_refine_arg(Refinement::skip, *skip);
        width = cells::integer_of(*skip);
        if (width < 1 || width > count || count % width) series_t::raise_invalid_refine_arg(Refinement::skip, *skip);
    } else if (all) {
        series_t::raise_bad_refines();
    }
    uintptr_t flags = reverse ? sort_flag::reverse : 0;
    bool by_function = false;
    if (comparator) {
        uint32_t t = type_of(*comparator);
        if (t == type_function) {
            by_function = true;
        } else if (t == type_integer) {
            if (!skip || all) series_t::raise_bad_refines();
            int32_t field = cells::integer_of(*comparator);
            if (field < 1 || field > width) series_t::raise_out_of_range(*comparator);
            flags |= uintptr_t(field - 1) << sort_flag::field_shift;
        } else {
            series_t::raise_invalid_refine_arg(Refinement::compare, *comparator);
        }
    }
    if (all) flags |= sort_flag::all | (uintptr_t(width) << sort_flag::field_shift);
    uint32_t records = uint32_t(count / width);
    uint32_t record_size = uint32_t(width) * cell_bytes;
    int32_t op = case_ ? registry::op_case_sort : registry::op_sort;
    auto run = [&](void* base, uintptr_t context1, sort::CompareFn fn) {
        if (stable) sort::merge_sort(base, records, record_size, context1, flags, fn);
        else sort::quick_sort(base, records, record_size, context1, flags, fn);
    };

    bool owned = series_t::notify_before(*series, series_t::Change::sort, nullptr, start, count);
    // The handler may have changed the series: sort what is still there.
    len = cell_count(*series);
    count = std::min(count, std::max(len - start, 0));
    count -= count % width;
    records = uint32_t(count / width);
    collector::CollectionHold hold;  // the sorted cells must stay where they are
    if (!by_function) {
        Cell* first = buffer_of(node_of(*series))->cells() + start;
        if (!stable && !all && integer_keys_q(first, records, uint32_t(width), uint32_t(flags >> sort_flag::field_shift)))
            sort::quick_sort_by_int32(first, records, record_size,
                                      uint32_t(flags >> sort_flag::field_shift) * cell_bytes + integer_payload_offset,
                                      reverse);
        else
            run(first, uintptr_t(op), sort_compare);
    } else {
        // The function may change the series itself: sort a private copy,
        // and write it back only over the very cells it was taken from. A
        // function that changed them (inserted before or among them, removed,
        // replaced) would have its values lost or others doubled by the
        // write: that is an error. Values added after them are kept.
        const Cell* from = buffer_of(node_of(*series))->cells() + start;
        std::vector<Cell> copy(from, from + count);
        std::vector<Cell> before(copy);
        Cell* saved_top = stack::top();
        FunctionSort st{*comparator, nullptr, uint32_t(width)};
        if (all) {
            st.record_blocks = stack::top();
            for (int i = 0; i < 2; ++i) stack::push_copy(Cell{type_block, 0, memory::alloc_cells(uint32_t(width)), 0});
        }
        run(copy.data(), reinterpret_cast<uintptr_t>(&st), sort_compare_func);
        stack::set_top(saved_top);
        const Cell* now = buffer_of(node_of(*series))->cells() + start;
        if (cell_count(*series) < start + count || std::memcmp(now, before.data(), size_t(count) * cell_bytes) != 0)
            series_t::raise_invalid_arg(*comparator);
        std::memcpy(buffer_of(node_of(*series))->cells() + start, copy.data(), size_t(count) * cell_bytes);
    }
    if (owned) series_t::notify_after(*series, series_t::Change::sort, nullptr, start, count);
    return series;
}

// ---- Set operations ---------------------------------------------------------------------

namespace {
// The operator of membership: equality, strict with the case flag.
int32_t member_op(bool case_) { return case_ ? registry::op_strict_equal : registry::op_equal; }

// Membership in a series: block-family cells are looked for as find /only
// does; other cells through a hash table over the series (its own for a
// hash!, else one made for the operation).
class Members {
public:
    Members(const Cell& series, bool case_) : series_(series), case_(case_) {
        table_ = type_of(series) == type_hash && series.w3 ? NodeId(series.w3)
                                                           : hash::make_hash_table(length_at(series), &series_,
                                                                                   hash::kind_block, 0);
    }
    bool contains(const Cell& c) const {
        if (series_t::block_family_q(type_of(c)))
            return search(series_, c, nullptr, true, case_, false, nullptr, false, false, false).pos >= 0;
        return hash::hash_table_find(table_, &c, std::max(index_of(series_), 0), 1, member_op(case_), false, false);
    }

private:
    Cell series_;
    bool case_;
    NodeId table_;
};

// The result of a set operation: its block and a table of the first cells
// of its records (sized so that it never grows, which would index every
// cell).
class SetResult {
public:
    SetResult(Cell* block, int32_t records, int32_t width, bool case_)
        : block_(block), width_(width), case_(case_),
          table_(hash::make_hash_table(records + 1, block, hash::kind_block, 0)) {}
    bool has(const Cell& head) const {
        if (!series_t::block_family_q(type_of(head)))
            return hash::hash_table_find(table_, &head, 0, 1, member_op(case_), false, false);
        Cell skip = cells::integer(width_);
        return search(*block_, head, nullptr, true, case_, false, &skip, false, false, false).pos >= 0;
    }
    void add(const Cell& from, int32_t at, int32_t len) {
        uint32_t head = uint32_t(cell_count(*block_));
        int32_t end = int32_t(std::min<int64_t>(int64_t(at) + width_, len));
        for (int32_t j = at; j < end; ++j) append_value(*block_, cell(from, j));
        if (!series_t::block_family_q(type_of(*cell_at(*block_, head))))
            hash::hash_table_add(table_, cell_at(*block_, head));
    }
    NodeId table() const { return table_; }

private:
    Cell* block_;
    int32_t width_;
    bool case_;
    NodeId table_;
};

// One pass: adds each record of `from` whose first cell is (keep_members)
// or is not (!keep_members) in `other` (every record when there is no
// other), unless the result has that first cell already.
void set_pass(SetResult& result, const Cell& from, const Cell* other, bool keep_members, bool case_, int32_t width) {
    std::optional<Members> in_other;
    if (other) in_other.emplace(*other, case_);
    int32_t len = cell_count(from);
    // 64-bit steps: a record width near 2^31 must not wrap past the tail.
    for (int64_t i = std::max(index_of(from), 0); i < len; i += width) {
        Cell head = cell(from, int32_t(i));
        if (in_other && in_other->contains(head) != keep_members) continue;
        if (result.has(head)) continue;
        result.add(from, int32_t(i), len);
    }
}

int32_t records_of(const Cell& s, int32_t width) { return int32_t((int64_t(length_at(s)) + width - 1) / width); }
}  // namespace

Cell* set_operation(Cell* first, bool case_, Cell* skip, int32_t op) {
    int32_t width = 1;
    if (skip) {
        if (type_of(*skip) != type_integer || cells::integer_of(*skip) < 1)
            series_t::raise_invalid_refine_arg(Refinement::skip, *skip);
        width = cells::integer_of(*skip);
    }
    if (op < set_unique || op > set_difference) series_t::raise_not_done();
    Cell a = first[0];
    bool binary = op != set_unique;
    Cell b = binary ? first[1] : a;
    bool both = op == set_union || op == set_difference;
    int64_t room = length_at(a) + (op == set_union ? length_at(b) : 0);
    Cell* block = push_new(int32_t(std::clamp<int64_t>(room, 1, INT32_MAX)));
    SetResult result(block, records_of(a, width) + (both ? records_of(b, width) : 0), width, case_);
    switch (op) {
        case set_unique:
        case set_union: set_pass(result, a, nullptr, false, case_, width); break;
        case set_intersect: set_pass(result, a, &b, true, case_, width); break;
        default: set_pass(result, a, &b, false, case_, width); break;  // exclude, difference
    }
    if (op == set_union) set_pass(result, b, nullptr, false, case_, width);
    if (op == set_difference) set_pass(result, b, &a, false, case_, width);
    if (type_of(a) == type_hash || (binary && type_of(b) == type_hash)) {
        // A hash! result keeps the table, indexing every cell as a hash! does.
        block->header = type_hash;
        block->w3 = result.table();
        hash::hash_table_rebuild(result.table(), uint32_t(cell_count(*block)));
    }
    first[0] = *block;
    stack::pop_cells(1);
    return first;
}

}  // namespace vyr::block_t
