// Sorting fixed-size records: the natural merge sort (powersort merge
// policy) and the sampling quick-sort. See sort.h for the contract.
#include "runtime/sort.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "runtime/errors.h"
#include "runtime/platform.h"

namespace vyr::sort {

namespace {

// Catalog position of script error `too-long` ("Content too long").
constexpr int err_too_long = 61;

// Quick-sort tuning.
constexpr uint32_t insertion_limit = 7;    // parts this small are sorted by insertion
constexpr uint32_t presort_stride = 97;    // stride of the sortedness sample
constexpr uint32_t presort_divisor = 512;  // |score| above n / 512 means mostly sorted
constexpr uint32_t probe_step = 10;        // distance between stretch probes
constexpr uint32_t min_stretch = 4;        // shorter in-order stretches are not absorbed
constexpr uint32_t span_factor = 16;       // a sample of h records partitions 16h - 1
constexpr uint32_t whole_area_divisor = 256;  // samples above n / 256 partition everything
constexpr uint32_t first_span = 63;        // records sampled when there is no sample yet
constexpr uint32_t first_span_min = 512;   // ... from areas at least this long

// How two records order: through the sort call's callback, or (for
// records keyed by a number) in line. Both answer as the callback does.
struct CallbackOrder {
    const Context* ctx;
    int32_t operator()(const uint8_t* a, const uint8_t* b) const {
        return ctx->compare(a, b, ctx->context1, ctx->context2);
    }
};

struct Int32KeyOrder {
    uint32_t offset;  // byte offset of the key in a record
    bool descending;
    int32_t operator()(const uint8_t* a, const uint8_t* b) const {
        int32_t x, y;
        std::memcpy(&x, a + offset, 4);
        std::memcpy(&y, b + offset, 4);
        if (descending) std::swap(x, y);
        return (x > y) - (x < y);
    }
};

// One sort call's records, addressed by index.
template <typename Order>
struct BasicRecords {
    uint8_t* base;
    uint32_t size;
    Order order;
    bool bytewise;

    BasicRecords(uint8_t* b, uint32_t record_size, Order o)
        : base(b), size(record_size), order(o), bytewise(record_size % 4 != 0) {}
    // The same sort's records from another base.
    BasicRecords from(uint8_t* b) const { return BasicRecords(b, size, order); }

    uint8_t* at(uint32_t i) const { return base + size_t(i) * size; }
    int32_t compare(uint32_t i, uint32_t j) const { return order(at(i), at(j)); }
    void swap(uint32_t i, uint32_t j) const {
        if (i == j) return;
        if (size == cell_record) {  // the common record, one cell: two 16-byte moves each way
            uint8_t held[cell_record];
            std::memcpy(held, at(i), cell_record);
            std::memcpy(at(i), at(j), cell_record);
            std::memcpy(at(j), held, cell_record);
        } else {
            swap_records(at(i), at(j), size, bytewise);
        }
    }
    static constexpr uint32_t cell_record = sizeof(Cell);
    // Reverses the records [from, to).
    void reverse(uint32_t from, uint32_t to) const {
        while (to - from > 1) swap(from++, --to);
    }
    // Straight insertion of the records [sorted_end, end) into the sorted
    // [from, sorted_end): each goes down past every predecessor that sorts
    // after it, so equal records keep their order. The place is found
    // first and the record moved after, so a throwing callback leaves every
    // record in place exactly once.
    void insert_each(uint32_t from, uint32_t sorted_end, uint32_t end) const {
        for (uint32_t i = sorted_end; i < end; ++i) {
            uint32_t j = i;
            while (j > from && order(at(j - 1), at(i)) > 0) --j;
            rotate_down(j, i);
        }
    }
    // Moves record i to position j (j <= i), the records [j, i) up by one.
    void rotate_down(uint32_t j, uint32_t i) const {
        if (j == i) return;
        if (size <= max_held_record) {
            uint8_t held[max_held_record];
            std::memcpy(held, at(i), size);
            std::memmove(at(j + 1), at(j), size_t(i - j) * size);
            std::memcpy(at(j), held, size);
        } else {
            for (; i > j; --i) swap(i - 1, i);
        }
    }
    // Records up to this size are moved through a local copy, larger ones by
    // exchanges.
    static constexpr uint32_t max_held_record = 64;
};

using Records = BasicRecords<CallbackOrder>;
Records callback_records(uint8_t* base, const Context& ctx) { return Records(base, ctx.size, CallbackOrder{&ctx}); }

// Copies `bytes` bytes, a whole number of records of `size` bytes; single
// records of the common sizes get a fixed-size copy.
inline void copy_records(uint8_t* dst, const uint8_t* src, size_t bytes, size_t size) {
    if (bytes == size) {
        switch (size) {
            case 1: *dst = *src; return;
            case 2: std::memcpy(dst, src, 2); return;
            case 4: std::memcpy(dst, src, 4); return;
            case 8: std::memcpy(dst, src, 8); return;
            case 16: std::memcpy(dst, src, 16); return;
            default: break;
        }
    }
    std::memcpy(dst, src, bytes);
}

// ---- Merge sort ---------------------------------------------------------

// The merge sort's scratch: (n / 2) records of host memory, taken at the
// first merge (sorted input and short areas never need it) and released
// however the sort ends.
class Scratch {
public:
    explicit Scratch(size_t bytes) : bytes_(bytes) {}
    ~Scratch() { platform::release(block_); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    uint8_t* get() {
        if (!block_) block_ = static_cast<uint8_t*>(platform::allocate(bytes_));
        return block_;
    }

private:
    size_t bytes_;
    uint8_t* block_ = nullptr;
};

// One pending run on the merge stack: where it starts and the power of the
// boundary at its end.
struct PendingRun {
    uint32_t start;
    uint32_t power;
};
// Powers are at most the bit length of n (32) and strictly increase up the
// stack, above a sentinel of power 0.
constexpr int run_stack_size = 32 + 1;

// The power of the boundary between the runs [s1, e1) and [e1, e2) of an area
// of n records: the depth of the first level of a perfect binary split of the
// area at which the two runs' midpoints fall into different halves. Merging
// boundaries of higher power first gives the nearly optimal merge tree of
// powersort. Works on doubled positions, so no fraction is needed.
uint32_t boundary_power(uint32_t s1, uint32_t e1, uint32_t e2, uint32_t n) {
    uint64_t x = uint64_t(s1) + e1;
    uint64_t y = uint64_t(e1) + e2;
    uint32_t power = 0;
    for (;;) {
        ++power;
        bool x_high = x >= n;
        bool y_high = y >= n;
        if (x_high != y_high) return power;
        if (x_high) {
            x -= n;
            y -= n;
        }
        x *= 2;
        y *= 2;
    }
}

// The next run from start, extended by insertion to min_run records (or to
// the end of the area). Answers its end.
uint32_t next_run(const Records& r, uint32_t start, uint32_t n) {
    uint32_t end = uint32_t((find_run(r.at(start), r.at(n), *r.order.ctx) - r.base) / r.size);
    if (end - start < min_run) {
        uint32_t extended = n - start < min_run ? n : start + min_run;
        r.insert_each(start, end, extended);
        end = extended;
    }
    return end;
}

void merge_at(const Records& r, Scratch& scratch, uint32_t s1, uint32_t s2, uint32_t e2) {
    merge_runs(r.at(s1), r.at(s2), r.at(e2), scratch.get(), *r.order.ctx);
}

// ---- Quick-sort ---------------------------------------------------------

// Direction of the presorted prefix: +1 ascending, -1 descending, 0 when all
// records seen so far were equal.
int sign_of(int32_t c) { return (c > 0) - (c < 0); }

// A pair (previous, next) goes with direction d when it is equal or ordered
// that way: ascending pairs compare below 0.
bool against(int32_t c, int direction) { return direction != 0 && sign_of(c) == direction; }

struct Prefix {
    uint32_t length;
    int direction;
};

// The longest prefix that is in one direction (equal neighbours allowed).
template <typename R>
Prefix prescan(const R& r, uint32_t n) {
    Prefix p{1, 0};
    while (p.length < n) {
        int32_t c = r.compare(p.length - 1, p.length);
        if (p.direction == 0)
            p.direction = -sign_of(c);
        else if (against(c, p.direction))
            break;
        ++p.length;
    }
    return p;
}

// The sortedness score: the prefix length in its direction, plus one for each
// sampled in-order pair beyond it and minus one for each out-of-order pair.
template <typename R>
int64_t sortedness(const R& r, const Prefix& p, uint32_t n) {
    int64_t score = int64_t(p.length) * p.direction;
    for (uint64_t i = uint64_t(p.length) + 1; i < n; i += presort_stride)
        score -= sign_of(r.compare(uint32_t(i) - 1, uint32_t(i)));
    return score;
}

// Extends the stretch around `at` in direction d: forwards to the area's end,
// backwards not into the prefix. Answers [first, end).
template <typename R>
std::pair<uint32_t, uint32_t> stretch_around(const R& r, uint32_t at, uint32_t prefix_end, uint32_t n,
                                             int d) {
    uint32_t first = at, end = at + 1;
    while (end < n && !against(r.compare(end - 1, end), d)) ++end;
    while (first > prefix_end && !against(r.compare(first - 1, first), d)) --first;
    return {first, end};
}

// How many leading pairs (the i-th record from the prefix's end, the i-th
// from the stretch's start) are out of direction, looking at up to `limit`.
template <typename R>
uint32_t overlap_count(const R& r, uint32_t prefix_end, uint32_t first, uint32_t limit, int d) {
    uint32_t count = 0;
    while (count < limit && against(r.compare(prefix_end - 1 - count, first + count), d)) ++count;
    return count;
}

// For mostly sorted input: gathers in-direction stretches found beyond the
// prefix onto the prefix's end, so the prefix grows and stays sorted. A
// stretch joins when only a few of its first records overlap the prefix's
// last ones; those overlapping records on both sides are left out.
template <typename R>
uint32_t absorb_stretches(const R& r, uint32_t prefix, uint32_t n, int d) {
    for (uint64_t probe = uint64_t(prefix) + probe_step; probe < n;) {
        auto [first, end] = stretch_around(r, uint32_t(probe), prefix, n, d);
        probe = uint64_t(end) + probe_step;
        uint32_t length = end - first;
        if (length < min_stretch) continue;
        uint32_t count;
        if (prefix == 1) {
            count = overlap_count(r, prefix, first, 1, d);
        } else {
            uint32_t k = std::min(length / 2, (prefix - 1) / 4);
            count = overlap_count(r, prefix, first, k, d);
            if (count == k) continue;
        }
        uint32_t write = prefix - count;
        for (uint32_t from = first + count; from < end; ++from) r.swap(write++, from);
        prefix = write;
    }
    return prefix;
}

// Moves `count` records from `from` to `to` by exchanges; the two ranges may
// overlap (the records displaced from `to` land somewhere in the rest).
template <typename R>
void shift_block(const R& r, uint32_t from, uint32_t to, uint32_t count) {
    if (from == to) return;
    if (to < from)
        for (uint32_t i = 0; i < count; ++i) r.swap(to + i, from + i);
    else
        for (uint32_t i = count; i-- > 0;) r.swap(to + i, from + i);
}

// Where one partition pass leaves its span [0, span): a sorted lower sample
// [0, lower), the pivot at `lower`, the records to partition, and a sorted
// upper sample [span - upper, span).
struct SpanLayout {
    uint32_t span;
    uint32_t lower;
    uint32_t upper;
};

// Without a usable sample: the pivot is the median of the span's first,
// middle and last records, placed second.
template <typename R>
SpanLayout median_of_three(const R& r, uint32_t n) {
    uint32_t span = n >= first_span_min ? first_span : n;
    r.swap(span / 2, 1);
    if (r.compare(0, 1) > 0) r.swap(0, 1);
    if (r.compare(1, span - 1) > 0) r.swap(1, span - 1);
    if (r.compare(0, 1) > 0) r.swap(0, 1);
    return {span, 1, 1};
}

// With a sorted sample of |h| > 2 records (at the front, or at the end when h
// is negative): the sample's middle record is the pivot. When the sample is
// small against the area only 16|h| - 1 records are partitioned, chosen at a
// stride across the whole area so they represent it.
template <typename R>
SpanLayout sample_pivot(const R& r, int64_t h, uint32_t n) {
    uint32_t count = uint32_t(h < 0 ? -h : h);
    uint32_t span = count > n / whole_area_divisor ? n : span_factor * count - 1;
    uint32_t lower = count / 2;
    uint32_t upper = count - lower - 1;
    if (h < 0) {
        // Bring the sample to the front; on a whole-area pass its upper half
        // is already where it belongs.
        shift_block(r, n - count, 0, span < n ? count : lower + 1);
        if (span == n) return {span, lower, upper};
    }
    if (span < n) {
        uint32_t stride = n / span;
        for (uint32_t i = count; i < span; ++i) r.swap(i, i * stride);
    }
    shift_block(r, lower + 1, span - upper, upper);
    return {span, lower, upper};
}

// Three-way partition of the records between the two sample halves around
// the pivot at `lower`. Records equal to the pivot are gathered right after
// it, then moved with it between the smaller and the larger ones. Answers
// [equal_first, equal_end): the lower part is [0, equal_first), the upper
// [equal_end, span).
template <typename R>
std::pair<uint32_t, uint32_t> partition(const R& r, const SpanLayout& s) {
    const uint32_t pivot = s.lower;
    uint32_t equal_end = pivot + 1;
    uint32_t i = pivot + 1;
    uint32_t j = s.span - s.upper;  // records at j and above sort after the pivot
    for (;;) {
        while (i < j) {
            int32_t c = r.compare(i, pivot);
            if (c > 0) break;
            if (c == 0) r.swap(i, equal_end++);
            ++i;
        }
        int32_t c = 1;
        while (i < j && (c = r.compare(j - 1, pivot)) > 0) --j;
        if (i >= j) break;
        // Record i sorts after the pivot, record j - 1 not: exchange them.
        r.swap(i, --j);
        if (c == 0) r.swap(i, equal_end++);
        ++i;
    }
    uint32_t less = i - equal_end;
    uint32_t equal = equal_end - pivot;
    uint32_t moved = std::min(less, equal);
    for (uint32_t k = 0; k < moved; ++k) r.swap(pivot + k, i - moved + k);
    return {pivot + less, i};
}

// Sorts n records at r.base, of which a sorted sample of |h| records lies at
// the front (h > 0) or at the end (h < 0). Partitions around a pivot taken
// from the sample, recursing into the smaller part so the depth stays
// logarithmic, and keeps each part's share of the sample for its own pivot.
template <typename R>
void partition_sort(const R& area, int64_t h, uint32_t n) {
    R r = area;
    while (n > insertion_limit) {
        uint32_t count = uint32_t(h < 0 ? -h : h);
        if (count >= n) return;
        SpanLayout s = count > 2 ? sample_pivot(r, h, n) : median_of_three(r, n);
        auto [equal_first, equal_end] = partition(r, s);
        R upper_part = r.from(r.at(equal_end));
        uint32_t lower_n = equal_first;
        uint32_t upper_n = s.span - equal_end;
        if (s.span < n) {
            // Only a sample of the area was partitioned: sort it, then use it
            // as the sample of the whole area.
            partition_sort(r, s.lower, lower_n);
            partition_sort(upper_part, -int64_t(s.upper), upper_n);
            h = s.span;
        } else if (lower_n <= upper_n) {
            partition_sort(r, s.lower, lower_n);
            r.base = upper_part.base;
            h = -int64_t(s.upper);
            n = upper_n;
        } else {
            partition_sort(upper_part, -int64_t(s.upper), upper_n);
            h = s.lower;
            n = lower_n;
        }
    }
    r.insert_each(0, 1, n);
}

}  // namespace

// ---- Interface ------------------------------------------------------------

void swap_records(void* a, void* b, uint32_t size, bool bytewise) {
    auto* p = static_cast<uint8_t*>(a);
    auto* q = static_cast<uint8_t*>(b);
    if (bytewise) {
        for (uint32_t i = 0; i < size; ++i) std::swap(p[i], q[i]);
        return;
    }
    for (uint32_t i = 0; i < size; i += 4) {
        uint32_t x, y;
        std::memcpy(&x, p + i, 4);
        std::memcpy(&y, q + i, 4);
        std::memcpy(p + i, &y, 4);
        std::memcpy(q + i, &x, 4);
    }
}

uint8_t* find_run(uint8_t* start, uint8_t* end, const Context& ctx) {
    Records r = callback_records(start, ctx);
    uint32_t n = uint32_t((end - start) / ctx.size);
    if (n <= 1) return end;
    uint32_t i = 1;
    if (r.compare(0, 1) > 0) {
        while (++i < n && r.compare(i - 1, i) > 0) {}
        r.reverse(0, i);
    } else {
        while (++i < n && r.compare(i - 1, i) <= 0) {}
    }
    return r.at(i);
}

void merge_runs(uint8_t* run1, uint8_t* run2, uint8_t* end2, uint8_t* scratch, const Context& ctx) {
    const size_t size = ctx.size;
    const size_t left = size_t(run2 - run1);
    const size_t right = size_t(end2 - run2);
    auto cmp = [&](const uint8_t* a, const uint8_t* b) { return ctx.compare(a, b, ctx.context1, ctx.context2); };
    if (right < left) {
        // Copy the right run out and merge from the back. The gap between the
        // left run's rest and the merged records always holds exactly the
        // copy's rest.
        copy_records(scratch, run2, right, size);
        uint8_t* l = run2;              // end of the left run's rest
        uint8_t* c = scratch + right;   // end of the copy's rest
        uint8_t* out = end2;
        try {
            while (l > run1 && c > scratch) {
                out -= size;
                if (cmp(l - size, c - size) > 0) {
                    l -= size;
                    copy_records(out, l, size, size);
                } else {
                    c -= size;
                    copy_records(out, c, size, size);
                }
            }
        } catch (...) {
            copy_records(l, scratch, size_t(c - scratch), size);
            throw;
        }
        copy_records(l, scratch, size_t(c - scratch), size);
    } else {
        // Copy the left run out and merge from the front; the gap before the
        // right run's rest holds exactly the copy's rest.
        copy_records(scratch, run1, left, size);
        uint8_t* c = scratch;
        uint8_t* const c_end = scratch + left;
        uint8_t* rr = run2;
        uint8_t* out = run1;
        try {
            while (c < c_end && rr < end2) {
                if (cmp(c, rr) <= 0) {
                    copy_records(out, c, size, size);
                    c += size;
                } else {
                    copy_records(out, rr, size, size);
                    rr += size;
                }
                out += size;
            }
        } catch (...) {
            copy_records(out, c, size_t(c_end - c), size);
            throw;
        }
        copy_records(out, c, size_t(c_end - c), size);
    }
}

void merge_sort(void* base, uint32_t n, uint32_t size, uintptr_t context1, uintptr_t context2,
                CompareFn compare) {
    uint64_t scratch_bytes = uint64_t(n / 2) * size;
    if (scratch_bytes > UINT32_MAX) raise_error(err_cat::script, err_too_long);
    if (n < 2) return;
    Context ctx{size, context1, context2, compare};
    Records r = callback_records(static_cast<uint8_t*>(base), ctx);
    Scratch scratch(scratch_bytes);

    PendingRun stack[run_stack_size] = {};
    int top = 0;  // stack[0] is the sentinel
    uint32_t start = 0;
    uint32_t end = next_run(r, 0, n);
    while (end < n) {
        uint32_t next_end = next_run(r, end, n);
        uint32_t power = boundary_power(start, end, next_end, n);
        while (stack[top].power > power) {
            merge_at(r, scratch, stack[top].start, start, end);
            start = stack[top--].start;
        }
        stack[++top] = {start, power};
        start = end;
        end = next_end;
    }
    for (; top > 0; --top) {
        merge_at(r, scratch, stack[top].start, start, n);
        start = stack[top].start;
    }
}

namespace {
template <typename R>
void quick_sort_records(const R& r, uint32_t n) {
    if (n < 2) return;
    Prefix p = prescan(r, n);
    if (p.length < n) {
        int64_t score = sortedness(r, p, n);
        if ((score < 0 ? -score : score) > n / presort_divisor) {
            if (score * p.direction < 0) p = {1, -p.direction};
            p.length = absorb_stretches(r, p.length, n, p.direction);
        }
    }
    if (p.direction < 0) r.reverse(0, p.length);
    if (p.length < n) partition_sort(r, p.length, n);
}
}  // namespace

void quick_sort(void* base, uint32_t n, uint32_t size, uintptr_t context1, uintptr_t context2,
                CompareFn compare) {
    Context ctx{size, context1, context2, compare};
    quick_sort_records(callback_records(static_cast<uint8_t*>(base), ctx), n);
}

void quick_sort_by_int32(void* base, uint32_t n, uint32_t size, uint32_t key_offset, bool descending) {
    using KeyRecords = BasicRecords<Int32KeyOrder>;
    quick_sort_records(KeyRecords(static_cast<uint8_t*>(base), size, Int32KeyOrder{key_offset, descending}), n);
}

int32_t read_compare_answer(const Cell& answer) {
    switch (type_of(answer)) {
        case type_logic:
            return answer.w1 == 1 ? 1 : -1;
        case type_integer: {
            int32_t v = int32_t(answer.w2);
            return (v < 0) - (v > 0);
        }
        case type_float: {
            double d = cell_float(answer);
            return d > 0.0 ? -1 : d < 0.0 ? 1 : 0;
        }
        case type_none:
            return -1;
        default:
            return 1;
    }
}

}  // namespace vyr::sort
