// block!: find, select, sort and the block side of the set operations.
#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/series_internal.h"
#include "engine/stack.h"
#include "runtime/collector.h"
#include "runtime/checks.h"
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
        case KeyKind::typeset: return checks::typeset_has(key.value, type_of(c));
        case KeyKind::single: return equal_under(c, key.value, key.op);
        case KeyKind::run:
            for (int32_t i = 0; i < key.length(); ++i)
                if (!equal_under(cell(series, pos + i), key.run[size_t(i)], key.op)) return false;
            return true;
    }
    return false;
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
    int64_t pos;
    if (!backward) {
        pos = index;
    } else if (reverse) {
        pos = has_limit ? limit : int64_t(index) - k;
    } else {
        pos = std::min<int64_t>(has_limit ? limit : len - 1, len - k);
        // Records are counted from the index: start on a record head.
        if (step > 1) pos = index + int64_t(floor_div(int32_t(pos - index), step)) * step;
    }
    int64_t last_start = has_limit ? limit - (k - 1) : len - k;
    for (; backward ? pos >= 0 : pos <= last_start; pos += backward ? -step : step) {
        if (match_at(series, int32_t(pos), key)) {
            FindResult r;
            r.pos = int32_t(pos);
            int32_t width = k;
            if (!backward && skip) width = std::max(k, step);
            r.after = int32_t(std::min<int64_t>(pos + width, len));
            return r;
        }
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
FunctionCaller function_caller = nullptr;

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

// Fills a record block with `width` cells from `from`.
void fill_record_block(const Cell& block, const Cell* from, uint32_t width) {
    NodeId node = node_of(block);
    memory::SeriesBuffer* b = buffer_of(node);
    if (b->head + width * cell_bytes > b->capacity) b = memory::expand_series(node, width * cell_bytes);
    std::memcpy(b->cells(), from, width * cell_bytes);
    b->tail = b->head + width * cell_bytes;
}
}  // namespace

void set_function_caller(FunctionCaller caller) { function_caller = caller; }

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
    if (!function_caller) series_t::raise_not_done();  // the evaluator installs the caller
    Cell answer = cells::none();
    Status status = function_caller(st->function, args, 2, answer);
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
    count = std::min(count, std::max(cell_count(*series) - start, 0));
    count -= count % width;
    records = uint32_t(count / width);
    collector::CollectionHold hold;  // the sorted cells must stay where they are
    if (!by_function) {
        run(buffer_of(node_of(*series))->cells() + start, uintptr_t(op), sort_compare);
    } else {
        // The function may change the series itself: sort a private copy and
        // write it back over what is there afterwards.
        std::vector<Cell> copy(buffer_of(node_of(*series))->cells() + start,
                               buffer_of(node_of(*series))->cells() + start + count);
        Cell* saved_top = stack::top();
        FunctionSort st{*comparator, nullptr, uint32_t(width)};
        if (all) {
            st.record_blocks = stack::top();
            for (int i = 0; i < 2; ++i) stack::push_copy(Cell{type_block, 0, memory::alloc_cells(uint32_t(width)), 0});
        }
        run(copy.data(), reinterpret_cast<uintptr_t>(&st), sort_compare_func);
        stack::set_top(saved_top);
        int32_t room = std::clamp(cell_count(*series) - start, 0, count);
        if (room > 0) std::memcpy(buffer_of(node_of(*series))->cells() + start, copy.data(), size_t(room) * cell_bytes);
    }
    if (owned) series_t::notify_after(*series, series_t::Change::sort, nullptr, start, count);
    return series;
}

// ---- Set operations ---------------------------------------------------------------------

namespace {
// The cells of a series that a set operation tests for membership.
// Block-family cells are looked for as find /only does; other cells match
// a cell of the same type that compares equal (strictly with the case flag).
class Members {
public:
    Members(const Cell& series, bool case_) : series_(series), case_(case_) {}
    bool contains(const Cell& c) const {
        int32_t len = cell_count(series_);
        int32_t op = case_ ? registry::op_strict_equal : registry::op_find;
        bool block = series_t::block_family_q(type_of(c));
        for (int32_t i = std::max(index_of(series_), 0); i < len; ++i) {
            const Cell& m = cell(series_, i);
            if (!block && type_of(m) != type_of(c)) continue;
            if (equal_under(m, c, op)) return true;
        }
        return false;
    }

private:
    Cell series_;
    bool case_;
};

// One pass: appends to `result` each record of `from` whose first cell is
// (keep_members) or is not (!keep_members) in `other` (every record when
// there is no other), unless the result has it already.
void set_pass(const Cell& result, const Cell& from, const Cell* other, bool keep_members, bool case_, int32_t width) {
    Members in_result(result, case_);
    int32_t len = cell_count(from);
    for (int32_t i = std::max(index_of(from), 0); i < len; i += width) {
        Cell head = cell(from, i);
        if (other && Members(*other, case_).contains(head) != keep_members) continue;
        if (in_result.contains(head)) continue;
        for (int32_t j = i; j < std::min(i + width, len); ++j) append_value(result, cell(from, j));
    }
}
}  // namespace

Cell* set_operation(Cell* first, bool case_, Cell* skip, int32_t op) {
    int32_t width = 1;
    if (skip) {
        if (type_of(*skip) != type_integer || cells::integer_of(*skip) < 1)
            series_t::raise_invalid_refine_arg(Refinement::skip, *skip);
        width = cells::integer_of(*skip);
    }
    Cell a = first[0];
    bool binary = op != set_unique;
    Cell b = binary ? first[1] : a;
    bool hashed = type_of(a) == type_hash || (binary && type_of(b) == type_hash);
    if (hashed) series_t::raise_not_done();  // hash! results keep a table, not built yet
    int64_t room = length_at(a) + (op == set_union ? length_at(b) : 0);
    Cell* result = push_new(int32_t(std::clamp<int64_t>(room, 1, INT32_MAX)));
    switch (op) {
        case set_unique: set_pass(*result, a, nullptr, false, case_, width); break;
        case set_union:
            set_pass(*result, a, nullptr, false, case_, width);
            set_pass(*result, b, nullptr, false, case_, width);
            break;
        case set_intersect: set_pass(*result, a, &b, true, case_, width); break;
        case set_exclude: set_pass(*result, a, &b, false, case_, width); break;
        case set_difference:
            set_pass(*result, a, &b, false, case_, width);
            set_pass(*result, b, &a, false, case_, width);
            break;
        default: series_t::raise_not_done();
    }
    first[0] = *result;
    stack::pop_cells(1);
    return first;
}

}  // namespace vyr::block_t
