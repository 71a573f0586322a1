// The text-buffer layer shared by every text value: string!, file!, url!,
// tag!, email!, ref! and the mold buffer (a string! into which form and mold
// append).
//
// A text value is a series cell: payload word 1 (w1) is its index in code
// points from the buffer's head, word 2 (w2) the node of its buffer, word 3
// (w3) the node of its UTF-8/UTF-16 conversion buffer (0 in a new value, see
// datatypes/text_codec.h).
//
// A text buffer is a series buffer whose unit is 1, 2 or 4 bytes, and every
// unit is a whole code point: unit 1 holds 0-255 (Latin-1), unit 2 holds
// 0-65535 (no surrogate pairs), unit 4 any code point; little-endian, no
// terminating NUL.
//
// Invariants:
//  - every code point in a buffer fits its unit; a buffer never narrows. A
//    write of a code point too wide for the buffer widens the whole buffer
//    first (1 -> 2, 1 -> 4 or 2 -> 4), which may move it;
//  - the writers take the buffer's node, which stays valid across growth;
//    addresses into the buffer are stale after any write that may grow it;
//  - a unit width other than 1, 2 or 4 ends the process (runtime error 101):
//    only a fault of the runtime itself can produce one.
//
// Widening thresholds differ on purpose: appending stores only 0-127 in a
// 1-byte buffer (128-65535 widen it to 2), while set, poke and insert store
// 0-255 in it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyr::string_t {

// ---- Values ------------------------------------------------------------------

// The string-like types: their values hold text and share these rules.
inline bool string_like_q(uint32_t type) {
    return type == type_string || type == type_file || type == type_url || type == type_tag ||
           type == type_email || type == type_ref;
}

inline NodeId node_of(const Cell& v) { return v.w2; }
inline memory::SeriesBuffer* buffer_of(const Cell& v) { return memory::buffer_of(v.w2); }
inline unsigned unit_of(NodeId node) { return memory::buffer_of(node)->unit(); }
// A text value of `type` on `node` at `index`, with no conversion buffer.
inline Cell make_cell(NodeId node, uint32_t index = 0, uint32_t type = type_string) {
    return Cell{type, index, node, 0};
}
inline int32_t index_of(const Cell& v) { return int32_t(v.w1); }

// The unit width a single code point needs when it is appended, inserted or
// changed in as a char!: 1 up to 127, 2 up to 65535, 4 above.
inline unsigned char_unit(uint32_t cp) { return cp < 0x80 ? 1 : cp <= 0xFFFF ? 2 : 4; }

// ---- Reading and positions -----------------------------------------------------

// The code point stored at `p` in a buffer of the given unit width.
uint32_t get_code_point(const uint8_t* p, unsigned width);
// The code point of unit n, counted from the buffer's head.
uint32_t char_at(const Cell& v, uint32_t n);
// Address of the unit at the value's index; an index past the tail is first
// set to the tail (a negative one to 0).
uint8_t* position(Cell& v);
uint8_t* tail_address(const Cell& v);
bool at_tail_q(const Cell& v);
// Units from the index to the tail; an index past the tail is first set to
// the tail, a negative one to 0.
uint32_t length_at(Cell& v);
// Units from the head to the tail.
inline uint32_t buffer_length(const Cell& v) { return buffer_of(v)->length(); }
// Offset from the index of the first unit equal to cp (exact), or -1.
int32_t find_char(const Cell& v, uint32_t cp);
// Whether some unit at index, index + step, index + 2 x step ... equals cp;
// unless `exact`, both sides are folded to upper case first.
bool contains_char_q(const Cell& v, uint32_t cp, uint32_t step, bool exact);
// Whether the units from the index equal the 8-bit text byte for byte.
bool starts_with_text_q(const Cell& v, const char* text);
// Whether the code point at the index belongs to the bitset (a code point
// beyond the bitset's array belongs to it only when it is complemented).
bool char_in_bitset_q(const Cell& v, const Cell& bitset);
// Whether the unit at the index is "<" and the unit just after the tag's
// length is ">".
bool tag_enclosed_q(const Cell& v, const Cell& tag);

// ---- Writing -------------------------------------------------------------------
// `buffer` is the node of a text buffer; it may be moved by any of these.

// Makes room for `bytes` bytes from the buffer's head: when they do not fit,
// grows it to twice its capacity, or to `bytes` when that is more. Beyond
// the largest series raises internal error `no-memory`.
memory::SeriesBuffer* reserve(NodeId buffer, uint64_t bytes);
// Widens the buffer's units from `from` to `to` bytes (1->2, 1->4, 2->4),
// growing it first when there is no room for the widened text plus one unit.
void widen_buffer_to(NodeId buffer, unsigned from, unsigned to);
// Appends one code point at the tail (widening first: see the header).
void append_code_point(NodeId buffer, uint32_t cp);
// Stores a code point over the existing unit `unit` (counted from the head).
void set_code_point(NodeId buffer, uint32_t unit, uint32_t cp);
// Stores a code point at unit i (from the head), growing the buffer as
// needed. When i lies beyond the tail, the units between the old tail and i
// become U+0000 (never left uninitialised) and the tail moves past unit i.
void poke_char(NodeId buffer, uint32_t i, uint32_t cp);
// Inserts a code point before unit i (at the tail when i is past it).
void insert_char(NodeId buffer, uint32_t i, uint32_t cp);
// Removes unit i / n units from unit i (counted from the head); nothing when
// i is at or past the tail; fewer units when fewer follow.
void remove_char(const Cell& v, uint32_t i);
void remove_chars(const Cell& v, uint32_t i, uint32_t n);
// Cuts the buffer to n units when it holds more.
void truncate(NodeId buffer, uint32_t n);
// Empties the value's buffer and makes it 1 byte per unit; index 0.
void reset(Cell& v);
// Appends each byte of a NUL-terminated 8-bit text as a code point (bytes
// 128-255 widen the buffer, as append_code_point does).
void append_text(NodeId buffer, const char* text);
// Appends the first n bytes of an 8-bit text as code points.
void append_text_part(NodeId buffer, const char* text, uint32_t n);
// Appends n bytes of UTF-8 text. Ill-formed input raises access error
// `invalid-utf8`; a sequence cut off at the end is dropped.
void append_utf8(NodeId buffer, const uint8_t* bytes, size_t n);
inline void append_utf8(NodeId buffer, const char* text, size_t n) {
    append_utf8(buffer, reinterpret_cast<const uint8_t*>(text), n);
}

// The cell forms of the writers, on the value's buffer.
inline void append_code_point(const Cell& s, uint32_t cp) { append_code_point(node_of(s), cp); }
inline void append_text(const Cell& s, const char* text) { append_text(node_of(s), text); }
inline void append_text_part(const Cell& s, const char* text, uint32_t n) { append_text_part(node_of(s), text, n); }

enum class Concat : uint32_t { append = 0, insert = 1, overwrite = 2 };

// Writes the source's text (from its index, cut to `part` units when part
// is 0 or more and below its length) into the target: at the tail
// (append), at the target's index + offset moving the rest up (insert), or
// over the units from there (overwrite, extending the tail when it runs
// past). A narrower target is widened first; a narrower source is widened in
// place unless `per_char`, in which case its code points are converted one
// by one. A symbol! operand stands for its cached spelling. Grows the target
// to twice the needed room.
void concatenate(Cell& target, const Cell& source, int32_t part, int32_t offset, bool per_char, Concat mode);
inline void append_string(Cell& target, const Cell& source, int32_t part, bool per_char) {
    concatenate(target, source, part, 0, per_char, Concat::append);
}
inline void overwrite_string(Cell& target, const Cell& source, int32_t part, bool per_char) {
    concatenate(target, source, part, 0, per_char, Concat::overwrite);
}

// Exchanges region A (la bytes) with region B (lb bytes), which follows A
// after a gap of `gap` bytes: afterwards B stands at A's address, then the
// gap, then A. In place, without scratch memory.
void rotate_text_regions(uint8_t* a, uint32_t la, uint8_t* b, uint32_t lb, uint32_t gap);

// Inserts the code points of the first `bytes` bytes at the source's index
// into the target at its index (one by one, widening the target as needed),
// then removes them from the source.
void move_chars(const Cell& source, const Cell& target, uint32_t bytes);

// ---- Construction --------------------------------------------------------------

// The cell becomes an empty string! whose 1-byte buffer has room for n bytes.
void make_at(Cell& cell, uint32_t capacity);
// The cell becomes a string! holding a copy of `count` units of `width`.
void make_from_units_at(Cell& cell, const void* units, uint32_t count, unsigned width);
// A new string buffer holding a copy of every unit of `buffer`, same width.
NodeId copy_buffer(NodeId buffer);

// Encodings of external text.
inline constexpr int32_t encoding_utf8 = 0;
inline constexpr int32_t encoding_utf16le = -1;

// A string! of external text into `target` (a new argument-stack cell when
// null): `length` is in bytes for UTF-8, in 16-bit units for UTF-16LE. Any
// other encoding prints "*** Loading Error: input encoding unsupported" and
// ends the process with status 0.
Cell* make_string_from_text(const void* text, uint32_t length, Cell* target, int32_t encoding);
Cell* push_text(const void* text, uint32_t length, int32_t encoding);
// The same, appended as a new cell at the block's tail.
Cell* load_text_in(const Cell& block, const void* text, uint32_t length, int32_t encoding);
// A new string! on the argument stack from UTF-8 bytes. Ill-formed input
// raises access error `invalid-utf8` with a binary! of the bytes from the
// bad sequence on (also for a sequence cut off at the end); nothing is
// pushed then.
Cell* push_from_utf8(const uint8_t* bytes, uint32_t length);
// Pushes a copy of the value's cell.
Cell* push(const Cell& v);
// Pushes a new string! holding a copy of every unit of `buffer`: the string
// side of handing out a name, so changing the string never changes the
// buffer it came from.
Cell* push_copy_of(NodeId buffer);

// Copies the units [src_start, src_end) of `source` (src_end 0 or less: to
// its tail) to `target` from unit `target_start`, widening them to
// `new_width`. With no target (0) the source node itself gets a new buffer
// of the needed size and the units are widened into it from the old one.
// Unless `keep`, the target's tail is set after the last unit written and its
// unit width to new_width. Answers the target node.
NodeId copy_units_widening(NodeId source, NodeId target, unsigned new_width, uint32_t src_start,
                           uint32_t target_start, int32_t src_end, bool keep);

// ---- Numbers and hex ---------------------------------------------------------

// Upper-case hex digits, NUL-terminated.
struct HexDigits {
    char text[9];
    uint32_t length;
};
HexDigits byte_to_hex(uint8_t byte);
// Without `short_form` always 8 digits; with it no leading zeros but at least
// two digits ("00" for 0, "1E" for 30, "FFF" for 4095).
HexDigits integer_to_hex(int32_t value, bool short_form);
// The float read from `length` bytes of decimal text.
double text_range_to_float(const char* text, uint32_t length);

// ---- Comparison and matching -------------------------------------------------

// Compares two texts from their indexes under a comparison operator code
// (registry::CompareOp) and answers -1, 0 or 1. Unless the operator is
// strict-equal or case-sensitive sort order, code points are folded to upper
// case first. Without `match`, texts of different lengths are unequal under
// the equality operators, and otherwise the shorter text sorts first when
// they agree; with `match` (parse), b is matched as a prefix of a. A symbol!
// operand is compared through its cached spelling.
int32_t compare_strings(Cell& a, Cell& b, int32_t op, bool match);
// Whether `rule` (a text, char! or tag!) matches at the input's index, for
// parse; `case_flag` is 2 under /case, else 0.
bool match_at(Cell& input, const Cell& rule, int32_t case_flag);

// ---- Owner notification -------------------------------------------------------

// Called before a change of a text (or bitset) with the action's word
// (`append`, ...) and, when it answered true, after it with the word of the
// finished action (`appended`, ...); `value` is the material, when there is
// one. Answers whether the series is owned; then the owner's
// on-deep-change* handler has run, and it may have run Vyr code: callers
// read their cells and buffers again afterwards.
bool notify_owned(const Cell& series, const char* word, uint32_t position, uint32_t part, const Cell* value);
// Only an owned buffer has anyone to tell: most answer false at once.
inline bool notify_owner(const Cell& series, const char* word, uint32_t position, uint32_t part,
                         const Cell* value = nullptr) {
    if (!(buffer_of(series)->flags & memory::flag::owned)) return false;
    return notify_owned(series, word, position, part, value);
}

}  // namespace vyr::string_t
