// tuple!: 3 to 12 unsigned bytes written as dotted decimals (1.2.3,
// 255.0.0.128): colours, versions, network addresses. The whole value lives
// in its cell.
//
// Cell layout: header bits 19-22 hold the byte count n (header::tuple_size_*);
// the bytes follow from byte 4 of the cell (payload words 1-3), the first
// byte at the lowest address. Bytes past n are kept 0.
//
// Arithmetic works byte by byte and clamps every result to 0..255; bytes
// missing from the shorter tuple count as 0, as they do in comparison (so
// 1.2.3 equals 1.2.3.0).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::tuple_t {

inline constexpr uint32_t min_bytes = 3;
inline constexpr uint32_t max_bytes = 12;
inline constexpr uint32_t byte_offset = 4;  // of the first byte within the cell

inline uint32_t count_of(const Cell& c) { return (c.header & header::tuple_size_mask) >> header::tuple_size_shift; }
inline const uint8_t* bytes_of(const Cell& c) { return reinterpret_cast<const uint8_t*>(&c) + byte_offset; }
inline uint8_t* bytes_of(Cell& c) { return reinterpret_cast<uint8_t*>(&c) + byte_offset; }

// A tuple of the first `count` bytes (3..12; fewer are padded with zeros to 3).
Cell cell_of(const uint8_t* bytes, uint32_t count);
// The cell becomes that tuple (its new-line flag kept).
Cell* make_at(Cell* cell, const uint8_t* bytes, uint32_t count);
// Pushes a tuple of count n whose payload words are given.
Cell* push(uint32_t count, uint32_t w1, uint32_t w2, uint32_t w3);
// Pushes a tuple of the low bytes of the integers (at most 12; fewer than 3
// padded with zeros).
Cell* from_ints(uint32_t count, const int32_t* ints);
// The first bytes of the binary from its index (at most 12, padded to 3).
Cell* from_binary(const Cell& binary, Cell* out);
// #F80 (each digit doubled), #FF8000 (r.g.b) or #FF800080 (r.g.b.a); any
// other issue raises `invalid-data`.
Cell* from_issue(const Cell& issue, Cell* out);
// r.g.b, or r.g.b.a when a is not -1.
Cell* make_rgba(Cell* out, int32_t r, int32_t g, int32_t b, int32_t a);
// Whether every byte is 0.
bool zero_q(const Cell& tuple);
// Byte `index` (1-based, within the count, else `out-of-range`) becomes the
// integer clamped to 0..255; none! cuts the tuple there (never below 3
// bytes, the cut bytes become 0).
void set_byte(Cell& tuple, int32_t index, const Cell& value);

// add ... xor~ (codes 0-7) of the two argument cells, one of them a tuple;
// the result is left at the argument base.
Cell* do_math(int32_t op);

// ---- Actions -------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint32_t type);  // also to
Cell* random(Cell* value, bool seed, bool secure, bool only);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* previous,
                  int32_t index, bool case_, bool get, bool tail, bool event);
int32_t compare(Cell* a, Cell* b, int32_t op);
Cell* add();
Cell* divide();
Cell* multiply();
Cell* remainder();
Cell* subtract();
Cell* and_t();
Cell* complement(Cell* value);
Cell* or_t();
Cell* xor_t();
int32_t length_q(Cell* value);
Cell* pick(Cell* value, int32_t index, Cell* index_cell);
Cell* reverse(Cell* value, Cell* part, Cell* skip);

void init();

}  // namespace vyr::tuple_t
