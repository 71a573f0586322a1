// binary!: the byte-string datatype. A child of string! that shares its
// series machinery and overrides conversion, form and mold (hexadecimal in
// "#{...}"), comparison, the bitwise actions, and the byte-oriented append,
// insert, change and trim.
//
// Cell layout: payload word 1 is the index in bytes, word 2 the node of a
// byte series (unit width 1), word 3 is 0. A binary never widens: every
// element is one byte 0-255. "Length" is always the bytes from the index to
// the tail.
//
// The byte helpers below let other modules (the serialiser, checksums, file
// and network reading, process output capture, parse) build and inspect
// binaries without the action table. The base codecs are in
// runtime/base_codecs.h.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace vyr::binary_t {

// ---- Making --------------------------------------------------------------------

// A binary! value at index 0 on the node.
inline Cell make_cell(NodeId node, uint32_t index = 0) { return Cell{type_binary, index, node, 0}; }
// The cell becomes an empty binary! over a new series of n bytes (0 gives 16).
Cell* make_at(Cell& cell, uint32_t capacity);
// Appends an empty binary! to the block and answers the new cell.
Cell* make_in_block(const Cell& block, uint32_t capacity);
// A binary! holding a copy of n bytes, appended to the block when one is
// given, else pushed on the argument stack. Answers the cell.
Cell* load(const uint8_t* src, uint32_t n, const Cell* block);
// load without a block: pushes the new binary!.
Cell* push_bytes(const uint8_t* src, uint32_t n);
// Pushes a copy of the cell.
Cell* push_copy(const Cell& value);

// ---- Writing bytes ---------------------------------------------------------------
// The source may lie in the binary's own buffer.

// Copies n bytes to the tail (the buffer at least doubles when it must grow).
void append_bytes(const Cell& bin, const uint8_t* src, uint32_t n);
// Inserts n bytes `offset` bytes after the value's index, moving the rest up;
// a buffer that must grow gets 2 x capacity + n bytes. Answers the address
// of the inserted bytes.
uint8_t* insert_bytes(const Cell& bin, uint32_t offset, const uint8_t* src, uint32_t n);
// Writes n bytes at index + offset over what is there, growing the buffer
// and moving the tail when the write runs past them.
void write_bytes_at(const Cell& bin, uint32_t offset, const uint8_t* src, uint32_t n);
// Appends the integer as 4 bytes, most significant first.
void append_int32(int32_t value, const Cell& bin);

// ---- Reading ---------------------------------------------------------------------

// Bytes from the index to the tail (an index past the tail is set to it).
uint32_t byte_length(Cell& value);
// The address of the byte at the index, and of the tail. Valid until the
// series grows or a safe point runs.
uint8_t* head_ptr(const Cell& value);
uint8_t* tail_ptr(const Cell& value);
bool tail_q(const Cell& value);
// Cuts the buffer at the value's index.
void clear_at(const Cell& value);
// Moves the index by n (or 1) when the new index stays within the tail.
void skip(Cell& value, int32_t n);
void next(Cell& value);
// The byte at `position` counted from the buffer's head.
uint8_t get_byte(const Cell& value, uint32_t position);
// The byte poke stores: the low 8 bits of an integer! or char!; any other
// type raises script `invalid-arg` with the value.
uint8_t byte_from_value(const Cell& value);
// Whether the byte at the value's index is in the bitset (beyond the
// bitset's bits: whether it is complemented).
bool byte_in_bitset_q(const Cell& value, const Cell& bitset);
// Parse's match: a binary! or text value matches when its bytes start the
// binary at its index; a char! when it equals the byte there.
bool match_at_q(const Cell& value, const Cell& other, int32_t op);

// Compares a binary with a binary! or text value under a comparison code
// (registry::CompareOp): -1, 0 or 1, or -2 when `b` is of another type. In
// match mode (parse and find) b is compared with the start of a.
int32_t compare_bytes(const Cell& a, const Cell& b, int32_t op, bool match);

// ---- Conversion of values to bytes -------------------------------------------------

// What value_bytes does with a type that has no byte form.
enum class Others : uint32_t {
    refuse,  // script `bad-to-arg` (append, insert, to)
    form,    // the UTF-8 of the value's form (change)
};
// Appends to `out` the bytes that append, insert and change write for the
// value: char! as UTF-8, integer! as one byte (-128..255, else `invalid-arg`),
// binary! from its index, tuple! its bytes, text as UTF-8, and the elements
// of a block!, paren! or hash! in turn. `limit` (below 1: none) cuts the
// bytes of one value; for a block it counts elements, or bytes when
// `byte_limit` is set. Answers the number of bytes appended.
uint32_t value_bytes(std::vector<uint8_t>& out, const Cell& value, int32_t limit, bool byte_limit, Others others);

// ---- Form and mold ---------------------------------------------------------------

// "#{", two upper-case hex digits per byte, "}" (the braces left out with
// `only`). Longer than 30 bytes, unless `flat`: a line break after "#{",
// after every 32 bytes and before "}", each followed by the indentation
// (four blanks per level, one level deeper inside the braces). With `part`
// the writing stops once the budget is spent. Answers the budget left.
int32_t form_hex(Cell* value, Cell* buffer, bool only, bool flat, bool part, int32_t budget, int32_t indent);

// ---- Actions ---------------------------------------------------------------------

Cell* to(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
int32_t compare(Cell* a, Cell* b, int32_t op);
Cell* and_t();
Cell* complement(Cell* value);
Cell* or_t();
Cell* xor_t();
// append and insert (one implementation).
Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append_flag);
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);

void init();

}  // namespace vyr::binary_t
