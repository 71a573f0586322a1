// Sorting fixed-size records in place, driven by a comparison callback.
//
// Two sorts share one interface: `merge_sort`, stable (a natural merge sort
// with the powersort merge policy), and `quick_sort`, not stable (a sampling
// three-way quick-sort that first recognises sorted and reverse-sorted
// input). A record is any number of bytes: a 16-byte cell, a group of cells
// sorted together, a 1-, 2- or 4-byte text unit. Records are exchanged
// 32-bit word by word when their size is a multiple of 4, else byte by byte.
//
// The callback answers for two record addresses whether the first sorts
// after the second (result above 0), equal (0) or before (below 0). Two
// context words pass through unchanged, so a caller can hand the callback
// its options, or a pointer to its own state (a user function to call, for
// instance). Records are never copied for a comparison.
//
// Invariants the callers rely on:
//  - No shared state: each sort owns its scratch and run stack, so a sort
//    started from inside a callback (a nested sort) never disturbs the sort
//    that called it.
//  - The callback may throw (vyr::Unwind when Vyr code inside it raises an
//    error or breaks out). The sort stops part-way and passes the exception
//    on; every record is then still present exactly once (in no defined
//    order) and the scratch is released.
//  - The caller keeps the sorted area where it is and of the same length for
//    the whole call: it holds collection off (so the buffer does not move)
//    and must not let the callback resize or move it. The merge sort's
//    scratch is then plain host memory from the raw allocation list, outside
//    the collector's reach, released before the sort answers.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::sort {

// (record a, record b, context 1, context 2) -> above 0 when a sorts after b,
// 0 when equal, below 0 when a sorts before b.
using CompareFn = int32_t (*)(const void* a, const void* b, uintptr_t context1, uintptr_t context2);

// The runs the merge sort starts from are at least this many records long
// (shorter runs are extended by straight insertion).
inline constexpr uint32_t min_run = 24;

// What one sort call is working on; passed to the helpers below.
struct Context {
    uint32_t size;  // bytes per record, at least 1
    uintptr_t context1;
    uintptr_t context2;
    CompareFn compare;
};

// Sorts n records of `size` bytes at base, keeping equal records in their
// input order. Raises script error `too-long` before anything moves when the
// scratch, (n / 2) x size bytes, would not fit in 32 bits.
void merge_sort(void* base, uint32_t n, uint32_t size, uintptr_t context1, uintptr_t context2,
                CompareFn compare);

// Sorts n records of `size` bytes at base; equal records end in no defined
// order. Needs no heap memory.
void quick_sort(void* base, uint32_t n, uint32_t size, uintptr_t context1, uintptr_t context2,
                CompareFn compare);

// quick_sort of records that order by a signed 32-bit key at byte
// `key_offset` of each (ascending, or descending): the comparisons are made
// in line, and the records end in the very order quick_sort gives them with
// a callback that answers the same.
void quick_sort_by_int32(void* base, uint32_t n, uint32_t size, uint32_t key_offset, bool descending);

// Exchanges two records, byte by byte when `bytewise`, else 32-bit word by
// word (size must then be a multiple of 4).
void swap_records(void* a, void* b, uint32_t size, bool bytewise);

// Answers the end of the run starting at start: a non-descending run (no
// record sorts before its predecessor) or a strictly descending one (every
// record sorts before its predecessor), which is reversed in place. A run of
// equal neighbours is never taken as descending, so reversing it keeps the
// sort stable. One record left is a run of one.
uint8_t* find_run(uint8_t* start, uint8_t* end, const Context& ctx);

// Stable merge of the adjacent sorted runs [run1, run2) and [run2, end2).
// The scratch holds at least the shorter run. When the callback throws, the
// records not yet merged are put back into the gap before the exception
// goes on, so none is lost or doubled.
void merge_runs(uint8_t* run1, uint8_t* run2, uint8_t* end2, uint8_t* scratch, const Context& ctx);

// Reads the answer of a user compare function into a callback result.
//
// Block and text sorts call the user's function with the SECOND record as
// its first argument and the first record as its second (the two swap under
// /reverse). The function answers about its own arguments the way `a < b`
// does: true, or a negative number, means its first argument sorts first.
// So for the records (a, b) handed to the callback:
//   logic! true  -> 1   (the function said b < a: a sorts after b)
//   logic! false -> -1
//   integer! n   -> -sign(n)   (a function answering `a - b` sorts ascending;
//                               read as a sign, so the lowest integer is safe)
//   float! x     -> -1 above 0.0, 1 below 0.0, 0 for 0.0 and NaN
//   none!        -> -1
//   anything else -> 1
// With this one reading, `sort/compare s func [a b] [a < b]` and
// `sort/compare s func [a b] [a - b]` both sort ascending, for blocks and
// for text alike.
int32_t read_compare_answer(const Cell& answer);

}  // namespace vyr::sort
