// Record sorting: merge sort against std::stable_sort (stability included),
// quick-sort against a reference order, nested sorts, throwing comparators
// and the reading of a user compare function's answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/catch_codes.h"
#include "datatypes/errors.h"
#include "runtime/errors.h"
#include "runtime/platform.h"
#include "runtime/sort.h"

using namespace vyr;

namespace {

// Test records: a little-endian key in the first 1 or 2 bytes, the rest of the
// record filled from the record's input position (its tag), so a record
// that moves keeps its bytes together and equal keys can be told apart.
uint32_t key_width(uint32_t size) { return size >= 2 ? 2 : 1; }

uint32_t read_key(const void* rec, uint32_t width) {
    auto* p = static_cast<const uint8_t*>(rec);
    return width == 2 ? uint32_t(p[0] | p[1] << 8) : p[0];
}

// Context 1 is the key width; context 2, when not 0, points at a counter of
// the calls.
int32_t compare_keys(const void* a, const void* b, uintptr_t width, uintptr_t counter) {
    if (counter) ++*reinterpret_cast<uint64_t*>(counter);
    uint32_t ka = read_key(a, uint32_t(width)), kb = read_key(b, uint32_t(width));
    return (ka > kb) - (ka < kb);
}

struct Area {
    uint32_t size;
    std::vector<uint8_t> bytes;

    uint32_t count() const { return uint32_t(bytes.size() / size); }
    uint8_t* at(uint32_t i) { return bytes.data() + size_t(i) * size; }
    std::vector<std::string> records() const {
        std::vector<std::string> out;
        for (size_t i = 0; i < bytes.size(); i += size)
            out.emplace_back(reinterpret_cast<const char*>(bytes.data() + i), size);
        return out;
    }
};

enum class Shape { random, sorted, reversed, equal, runs, runs_of_24, nearly_sorted, nearly_reversed, organ_pipe };

const char* shape_name(Shape s) {
    static const char* names[] = {"random", "sorted",        "reversed",        "equal",     "runs",
                                  "runs_of_24", "nearly_sorted", "nearly_reversed", "organ_pipe"};
    return names[int(s)];
}

// n records of `size` bytes, keys below `distinct`, arranged in `shape`.
Area make_area(uint32_t n, uint32_t size, Shape shape, uint32_t distinct, std::mt19937& rng) {
    uint32_t kw = key_width(size);
    uint32_t limit = std::min<uint32_t>(distinct, kw == 2 ? 65536 : 256);
    std::vector<uint32_t> keys(n);
    for (auto& k : keys) k = rng() % limit;
    switch (shape) {
        case Shape::random: break;
        case Shape::sorted: std::sort(keys.begin(), keys.end()); break;
        case Shape::reversed: std::sort(keys.rbegin(), keys.rend()); break;
        case Shape::equal: std::fill(keys.begin(), keys.end(), limit / 2); break;
        case Shape::runs:
        case Shape::runs_of_24:
            for (uint32_t i = 0; i < n;) {
                uint32_t len = shape == Shape::runs ? 1 + rng() % 60 : 24;
                uint32_t end = std::min(n, i + len);
                if (rng() % 2) std::sort(keys.begin() + i, keys.begin() + end);
                else std::sort(keys.begin() + i, keys.begin() + end, std::greater<>());
                i = end;
            }
            break;
        case Shape::nearly_sorted:
        case Shape::nearly_reversed:
            std::sort(keys.begin(), keys.end());
            if (shape == Shape::nearly_reversed) std::reverse(keys.begin(), keys.end());
            for (uint32_t i = 0; n > 1 && i < 1 + n / 50; ++i) std::swap(keys[rng() % n], keys[rng() % n]);
            break;
        case Shape::organ_pipe:
            std::sort(keys.begin(), keys.end());
            std::reverse(keys.begin() + n / 2, keys.end());
            break;
    }
    Area a{size, std::vector<uint8_t>(size_t(n) * size)};
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t* r = a.at(i);
        r[0] = uint8_t(keys[i]);
        if (kw == 2) r[1] = uint8_t(keys[i] >> 8);
        for (uint32_t b = kw; b < size; ++b) r[b] = uint8_t(i >> (8 * ((b - kw) % 4)));
    }
    return a;
}

// The records of `a` in the order std::stable_sort gives them.
std::vector<std::string> stable_reference(const Area& a) {
    auto recs = a.records();
    uint32_t kw = key_width(a.size);
    std::stable_sort(recs.begin(), recs.end(), [kw](const std::string& x, const std::string& y) {
        return read_key(x.data(), kw) < read_key(y.data(), kw);
    });
    return recs;
}

// The records of `a` as a multiset (sorted by their whole bytes).
std::vector<std::string> as_multiset(const Area& a) {
    auto recs = a.records();
    std::sort(recs.begin(), recs.end());
    return recs;
}

// The same for 4-byte records, cheaper on large areas.
std::vector<uint32_t> as_words(const Area& a) {
    std::vector<uint32_t> words(a.bytes.size() / 4);
    std::memcpy(words.data(), a.bytes.data(), a.bytes.size());
    std::sort(words.begin(), words.end());
    return words;
}

bool keys_ascending(Area& a) {
    uint32_t kw = key_width(a.size);
    for (uint32_t i = 1; i < a.count(); ++i)
        if (read_key(a.at(i - 1), kw) > read_key(a.at(i), kw)) return false;
    return true;
}

using SortFn = void (*)(void*, uint32_t, uint32_t, uintptr_t, uintptr_t, sort::CompareFn);

void sort_area(SortFn fn, Area& a, uint64_t* counter = nullptr) {
    fn(a.bytes.data(), a.count(), a.size, key_width(a.size), reinterpret_cast<uintptr_t>(counter), compare_keys);
}

const Shape all_shapes[] = {Shape::random,     Shape::sorted,        Shape::reversed,
                            Shape::equal,      Shape::runs,          Shape::runs_of_24,
                            Shape::nearly_sorted, Shape::nearly_reversed, Shape::organ_pipe};
const uint32_t record_sizes[] = {1, 2, 3, 4, 6, 8, 16, 32, 48};
const uint32_t counts[] = {0, 1, 2, 3, 7, 8, 23, 24, 25, 47, 48, 49, 97, 100, 511, 1000, 3001};
const uint32_t key_ranges[] = {2, 50, 65536};

}  // namespace

// Every record size, count, shape and key range: the merge sort gives exactly
// the records and order of std::stable_sort, so equal keys keep their order.
TEST(MergeSortTest, MatchesStableSortForEveryShapeSizeAndWidth) {
    std::mt19937 rng(1);
    for (uint32_t size : record_sizes)
        for (uint32_t n : counts)
            for (Shape shape : all_shapes)
                for (uint32_t distinct : key_ranges) {
                    Area a = make_area(n, size, shape, distinct, rng);
                    auto expected = stable_reference(a);
                    sort_area(sort::merge_sort, a);
                    ASSERT_EQ(a.records(), expected)
                        << "size " << size << " n " << n << " " << shape_name(shape) << " keys " << distinct;
                }
}

TEST(MergeSortTest, LargeAreasMatchStableSort) {
    std::mt19937 rng(2);
    for (Shape shape : {Shape::random, Shape::runs, Shape::nearly_sorted})
        for (uint32_t size : {16u, 6u}) {
            Area a = make_area(200000, size, shape, 1000, rng);
            auto expected = stable_reference(a);
            sort_area(sort::merge_sort, a);
            ASSERT_EQ(a.records(), expected) << shape_name(shape) << " size " << size;
        }
}

// Sorted input is one run: n - 1 comparisons and no scratch taken. Strictly
// descending input is also one run, reversed in place.
TEST(MergeSortTest, SortedAndStrictlyDescendingInputCostOnePass) {
    std::mt19937 rng(3);
    for (Shape shape : {Shape::sorted, Shape::reversed}) {
        Area a = make_area(5000, 16, shape, 65536, rng);
        // Make the keys distinct so the descending input is strictly descending.
        for (uint32_t i = 0; i < a.count(); ++i) {
            uint32_t k = shape == Shape::sorted ? i : 4999 - i;
            a.at(i)[0] = uint8_t(k);
            a.at(i)[1] = uint8_t(k >> 8);
        }
        size_t blocks = platform::allocation_count();
        uint64_t calls = 0;
        sort_area(sort::merge_sort, a, &calls);
        EXPECT_EQ(calls, 4999u) << shape_name(shape);
        EXPECT_EQ(platform::allocation_count(), blocks);
        EXPECT_TRUE(keys_ascending(a));
    }
}

TEST(MergeSortTest, FindRunReversesOnlyStrictlyDescendingRuns) {
    struct Case {
        std::vector<uint8_t> keys;
        uint32_t run;                  // records in the first run
        std::vector<uint8_t> after;    // the keys afterwards
    };
    const Case cases[] = {
        {{5, 4, 3, 2, 1}, 5, {1, 2, 3, 4, 5}},
        {{3, 2, 2, 1}, 2, {2, 3, 2, 1}},  // equal neighbours end a descending run
        {{1, 2, 2, 3, 1}, 4, {1, 2, 2, 3, 1}},
        {{2, 2, 2}, 3, {2, 2, 2}},
        {{7}, 1, {7}},
    };
    sort::Context ctx{1, 1, 0, compare_keys};
    for (const auto& c : cases) {
        auto keys = c.keys;
        uint8_t* end = sort::find_run(keys.data(), keys.data() + keys.size(), ctx);
        EXPECT_EQ(uint32_t(end - keys.data()), c.run);
        EXPECT_EQ(keys, c.after);
    }
}

// Exchange works word by word for multiples of 4 and byte by byte otherwise;
// either way the two records trade every byte.
TEST(SortTest, SwapRecordsTradesEveryByte) {
    for (uint32_t size : {1u, 3u, 6u, 16u, 48u}) {
        std::vector<uint8_t> a(size), b(size);
        for (uint32_t i = 0; i < size; ++i) a[i] = uint8_t(i), b[i] = uint8_t(200 - i);
        auto a0 = a, b0 = b;
        sort::swap_records(a.data(), b.data(), size, size % 4 != 0);
        EXPECT_EQ(a, b0);
        EXPECT_EQ(b, a0);
    }
}

TEST(MergeSortTest, ScratchOverflowingThirtyTwoBitsRaisesTooLong) {
    // The check comes before any record is read, so a tiny area is enough.
    uint8_t area[16] = {};
    try {
        sort::merge_sort(area, 0xFFFFFFFFu, 4, 1, 0, compare_keys);
        ADD_FAILURE() << "no error raised";
    } catch (const Unwind& u) {
        EXPECT_EQ(u.code, catch_code::error);
        EXPECT_EQ(errors::last_error().category, err_cat::script);
        EXPECT_EQ(errors::last_error().id, err_id::script::too_long);
    }
}

// Quick-sort orders every shape and size and loses or doubles no record.
TEST(QuickSortTest, SortsEveryShapeSizeAndWidth) {
    std::mt19937 rng(4);
    for (uint32_t size : record_sizes)
        for (uint32_t n : counts)
            for (Shape shape : all_shapes)
                for (uint32_t distinct : key_ranges) {
                    Area a = make_area(n, size, shape, distinct, rng);
                    auto before = as_multiset(a);
                    sort_area(sort::quick_sort, a);
                    ASSERT_TRUE(keys_ascending(a))
                        << "size " << size << " n " << n << " " << shape_name(shape) << " keys " << distinct;
                    ASSERT_EQ(as_multiset(a), before);
                }
}

// Large areas go through the sampled partition passes (a sample of the area
// partitioned first, then the whole area around it).
TEST(QuickSortTest, LargeAreasOfEveryShapeEndSorted) {
    std::mt19937 rng(5);
    for (Shape shape : all_shapes)
        for (uint32_t distinct : {3u, 65536u}) {
            Area a = make_area(300000, 4, shape, distinct, rng);
            auto before = as_words(a);
            sort_area(sort::quick_sort, a);
            ASSERT_TRUE(keys_ascending(a)) << shape_name(shape) << " keys " << distinct;
            ASSERT_EQ(as_words(a), before) << shape_name(shape);
        }
}

namespace {
// Context 1 is the key's byte offset, context 2 non-zero for descending.
int32_t compare_int32_at(const void* a, const void* b, uintptr_t offset, uintptr_t descending) {
    int32_t x, y;
    std::memcpy(&x, static_cast<const uint8_t*>(a) + offset, 4);
    std::memcpy(&y, static_cast<const uint8_t*>(b) + offset, 4);
    if (descending) std::swap(x, y);
    return (x > y) - (x < y);
}
}  // namespace

// The in-line keyed sort moves records exactly as the callback sort does
// (equal keys included, told apart by their tags), either way round, with
// negative keys and the key anywhere in the record.
TEST(QuickSortTest, Int32KeyedSortLeavesTheCallbackSortsOrder) {
    std::mt19937 rng(9);
    struct Layout {
        uint32_t size, offset;
    };
    for (Layout l : {Layout{16, 8}, Layout{32, 24}, Layout{4, 0}})
        for (uint32_t n : {0u, 1u, 2u, 7u, 8u, 25u, 100u, 1000u, 3001u, 70000u})
            for (Shape shape : all_shapes)
                for (uint32_t distinct : {3u, 50u, 65536u})
                    for (bool descending : {false, true}) {
                        Area a = make_area(n, l.size, shape, distinct, rng);
                        for (uint32_t i = 0; i < n; ++i) {
                            int32_t key = int32_t(a.at(i)[0] | (l.size >= 2 ? a.at(i)[1] << 8 : 0)) - 20000;
                            std::memcpy(a.at(i) + l.offset, &key, 4);
                        }
                        Area b = a;
                        sort::quick_sort(a.bytes.data(), n, l.size, l.offset, descending, compare_int32_at);
                        sort::quick_sort_by_int32(b.bytes.data(), n, l.size, l.offset, descending);
                        ASSERT_EQ(a.bytes, b.bytes) << "size " << l.size << " n " << n << " " << shape_name(shape)
                                                    << " keys " << distinct << (descending ? " descending" : "");
                    }
}

TEST(QuickSortTest, ThousandRecordsInOrderOrReverseOrderEndSorted) {
    for (bool reverse : {false, true}) {
        Area a{16, std::vector<uint8_t>(1000 * 16)};
        for (uint32_t i = 0; i < 1000; ++i) {
            uint32_t k = reverse ? 999 - i : i;
            a.at(i)[0] = uint8_t(k);
            a.at(i)[1] = uint8_t(k >> 8);
        }
        uint64_t calls = 0;
        sort_area(sort::quick_sort, a, &calls);
        EXPECT_TRUE(keys_ascending(a));
        EXPECT_LT(calls, 1100u) << "recognised as presorted";
    }
}

// ---- Comparators that sort, throw, or answer like a user function ----------

namespace {

// A comparator that runs a whole sort of its own on a fresh area at every
// call, as a user compare function that sorts something would.
struct Nested {
    SortFn inner;
    std::mt19937 rng{6};
    uint64_t inner_failures = 0;
};

int32_t compare_with_nested_sort(const void* a, const void* b, uintptr_t width, uintptr_t state) {
    auto* nested = reinterpret_cast<Nested*>(state);
    Area inner = make_area(30 + nested->rng() % 100, 16, Shape::random, 30, nested->rng);
    auto expected = stable_reference(inner);
    sort_area(nested->inner, inner);
    bool ok = nested->inner == sort::merge_sort ? inner.records() == expected : keys_ascending(inner);
    if (!ok) ++nested->inner_failures;
    return compare_keys(a, b, width, 0);
}

}  // namespace

// Each sort owns its scratch: a sort inside the comparator leaves the outer
// merge's copied run alone.
TEST(SortTest, SortInsideComparatorLeavesOuterSortIntact) {
    std::mt19937 rng(7);
    for (SortFn outer : {sort::merge_sort, sort::quick_sort})
        for (SortFn inner : {sort::merge_sort, sort::quick_sort}) {
            Nested nested{inner};
            Area a = make_area(300, 16, Shape::random, 40, rng);
            auto expected = stable_reference(a);
            outer(a.bytes.data(), a.count(), 16, 2, reinterpret_cast<uintptr_t>(&nested), compare_with_nested_sort);
            EXPECT_EQ(nested.inner_failures, 0u);
            if (outer == sort::merge_sort) {
                EXPECT_EQ(a.records(), expected);
            } else {
                EXPECT_TRUE(keys_ascending(a));
            }
        }
}

namespace {
struct Thrower {
    uint64_t calls = 0;
    uint64_t throw_at;
};

int32_t compare_then_throw(const void* a, const void* b, uintptr_t width, uintptr_t state) {
    auto* t = reinterpret_cast<Thrower*>(state);
    if (++t->calls == t->throw_at) throw Unwind{catch_code::error};
    return compare_keys(a, b, width, 0);
}
}  // namespace

// A comparator that raises part-way: the exception comes out, every record is
// still present exactly once, the scratch is released, and the next sort
// works normally.
TEST(SortTest, ThrowingComparatorLosesNoRecordAndReleasesScratch) {
    std::mt19937 rng(8);
    for (SortFn fn : {sort::merge_sort, sort::quick_sort})
        for (uint32_t size : {16u, 6u})
            for (Shape shape : {Shape::random, Shape::runs, Shape::nearly_sorted}) {
                Area probe = make_area(2000, size, shape, 100, rng);
                uint64_t total = 0;
                Area copy = probe;
                sort_area(fn, copy, &total);
                for (int trial = 0; trial < 40; ++trial) {
                    Area a = probe;
                    auto before = as_multiset(a);
                    Thrower t{0, 1 + rng() % total};
                    size_t blocks = platform::allocation_count();
                    bool thrown = false;
                    try {
                        fn(a.bytes.data(), a.count(), size, key_width(size), reinterpret_cast<uintptr_t>(&t),
                           compare_then_throw);
                    } catch (const Unwind& u) {
                        thrown = u.code == catch_code::error;
                    }
                    ASSERT_TRUE(thrown);
                    ASSERT_EQ(as_multiset(a), before) << "throw at call " << t.throw_at;
                    ASSERT_EQ(platform::allocation_count(), blocks);
                }
                Area again = probe;
                auto expected = stable_reference(again);
                sort_area(fn, again);
                EXPECT_TRUE(keys_ascending(again));
                if (fn == sort::merge_sort) {
                    EXPECT_EQ(again.records(), expected);
                }
            }
}

namespace {

Cell make_cell(uint32_t type) { return Cell{type, 0, 0, 0}; }
Cell logic_cell(bool v) {
    Cell c = make_cell(type_logic);
    c.w1 = v ? 1 : 0;
    return c;
}
Cell integer_cell(int32_t v) {
    Cell c = make_cell(type_integer);
    c.w2 = uint32_t(v);
    return c;
}
Cell float_cell(double v) {
    Cell c = make_cell(type_float);
    set_cell_float(c, v);
    return c;
}

// Stand-ins for user compare functions of two arguments, answering about
// them the way the named Vyr expression would.
using UserFn = Cell (*)(int32_t x, int32_t y);
Cell user_less(int32_t x, int32_t y) { return logic_cell(x < y); }
Cell user_difference(int32_t x, int32_t y) { return integer_cell(x - y); }
Cell user_float_difference(int32_t x, int32_t y) { return float_cell(double(x) - double(y)); }
Cell user_greater(int32_t x, int32_t y) { return logic_cell(x > y); }

// The callback a block or text sort builds around a user function: called
// with the second record first (the first record first under /reverse).
// Context 2 is the reverse flag.
int32_t call_user_function(const void* a, const void* b, uintptr_t fn, uintptr_t reverse) {
    int32_t ka, kb;
    std::memcpy(&ka, a, 4);
    std::memcpy(&kb, b, 4);
    auto user = reinterpret_cast<UserFn>(fn);
    return sort::read_compare_answer(reverse ? user(ka, kb) : user(kb, ka));
}

}  // namespace

TEST(SortTest, CompareAnswersAreReadAsTheSecondRecordFirst) {
    struct Case {
        Cell answer;
        int32_t order;
    };
    const Case cases[] = {
        {logic_cell(true), 1},        {logic_cell(false), -1},     {integer_cell(-5), 1},
        {integer_cell(0), 0},         {integer_cell(7), -1},       {integer_cell(INT32_MIN), 1},
        {float_cell(2.5), -1},        {float_cell(-0.5), 1},       {float_cell(0.0), 0},
        {float_cell(std::nan("")), 0}, {make_cell(type_none), -1}, {make_cell(type_string), 1},
    };
    for (const auto& c : cases) EXPECT_EQ(sort::read_compare_answer(c.answer), c.order) << type_of(c.answer);
}

// A function answering `a < b` (true/false) and one answering a signed
// difference both sort ascending, through either sort, and descending under
// /reverse; `a > b` sorts descending.
TEST(SortTest, UserFunctionsAnsweringLessOrDifferenceSortAscending) {
    struct Case {
        UserFn fn;
        bool reverse;
        bool descending;
    };
    const Case cases[] = {
        {user_less, false, false},      {user_difference, false, false}, {user_float_difference, false, false},
        {user_less, true, true},        {user_difference, true, true},   {user_greater, false, true},
    };
    std::mt19937 rng(9);
    for (SortFn fn : {sort::merge_sort, sort::quick_sort})
        for (const auto& c : cases) {
            std::vector<int32_t> keys(500);
            for (auto& k : keys) k = int32_t(rng() % 2000) - 1000;
            auto expected = keys;
            if (c.descending) std::sort(expected.begin(), expected.end(), std::greater<>());
            else std::sort(expected.begin(), expected.end());
            fn(keys.data(), uint32_t(keys.size()), 4, reinterpret_cast<uintptr_t>(c.fn), c.reverse,
               call_user_function);
            EXPECT_EQ(keys, expected) << "reverse " << c.reverse;
        }
}
