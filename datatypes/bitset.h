// bitset!: a set of non-negative integers (code points above all), held as a
// bit array in a byte series. The character-class type of parse and of text
// search.
//
// Layout: payload word 2 is the node of a byte series (unit 1); payload word
// 1 stays 0. Number n lives in byte n >> 3 under the mask 0x80 >> (n & 7):
// the most significant bit of a byte is its lowest number.
//
// Invariant: the stored bits are the membership of the numbers inside the
// array; a number at or beyond 8 x (byte length) is a member exactly when the
// set is complemented (bit `complemented` of the buffer flags). Growing a
// set therefore fills the new bytes with 0x00, or 0xFF for a complemented
// set, so that no membership changes.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyr::bitset_t {

// Buffer flag of a complemented set.
inline constexpr uint32_t complemented = 0x80000;

inline NodeId node_of(const Cell& b) { return b.w2; }
inline bool complemented_q(const Cell& b) { return memory::buffer_of(b.w2)->flags & complemented; }
// The byte and mask of number n.
inline uint32_t byte_of(uint32_t n) { return n >> 3; }
inline uint8_t mask_of(uint32_t n) { return uint8_t(0x80u >> (n & 7)); }

// Address of the first byte, and the byte length.
uint8_t* bits(const Cell& b);
uint32_t byte_length(const Cell& b);
// Whether number n is a member (beyond the array: the complement flag).
bool member_q(const Cell& b, uint32_t n);

// What the walkers over set descriptions do with each number.
enum class Mode : uint32_t { size = 0, set = 1, test = 2, clear = 3 };

// Grows the array to hold bit n (see the header) and answers its first byte.
uint8_t* grow_to_bit(const Cell& b, uint32_t n);
// True when n < 0 or its byte lies at or past the tail.
bool bit_beyond_q(const Cell& b, int64_t n);
// Replaces every byte of the buffer by its complement.
void invert_bytes(NodeId buffer);
// Sets (set), tests (test) or clears (clear) the numbers low..high.
bool process_range(const Cell& b, uint32_t low, uint32_t high, Mode mode);
// Mode size: the largest code point of the text from its index (as a
// number, answered through `largest`); set/test/clear: every code point of
// the text. Answers the test result (true for the other modes).
bool process_string(const Cell& text, const Cell* b, Mode mode, uint32_t& largest);
// Walks a set description (char!, integer!, float!, string!, block! with
// ranges); `kind` tells which error an unusable value raises: 0 make, 1 to,
// 2 other. Mode size answers the largest number through `largest`.
bool process_spec(const Cell& spec, const Cell* b, Mode mode, uint32_t& largest, int kind);
// A new bitset! made from a description (kind 0 make, 1 to) into `result`.
void make_from(Cell& result, const Cell& spec, int kind);
// The bitwise core for and~ (6), or~ (5), xor~ (7), unique (8), union (9),
// intersect (10), exclude (11), difference (12): a new bitset! in `result`.
// Membership is exact for every number: the operation applies to the two
// complement flags too, and bytes beyond the shorter operand stand for its
// flag. and~ ends at the shorter length when that drops no member.
void do_bitwise(Cell& result, const Cell& a, const Cell& b, int code);
// Pushes a copy of the cell on the argument stack.
Cell* push(const Cell& b);

}  // namespace vyr::bitset_t
