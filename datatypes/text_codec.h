// Unicode conversions of text values: a string value to UTF-8 or UTF-16LE
// through its conversion buffer, external UTF-8 and UTF-16LE text into a
// string buffer, and widening a buffer's units.
//
// The raw codecs are runtime/unicode.h; this layer sizes the buffers first
// and converts once, so each call allocates at most once.
//
// Conversion buffer: payload word 3 of a text value is 0 or the node of a
// byte series that receives the converted text of that value. The first
// conversion through a cell allocates it; later ones reuse it, growing it
// when it is too small. The converted text starts at the buffer's first data
// byte; the buffer's tail is not moved. The collector marks payload word 3
// of text values, so the buffer lives as long as the cell. An answered
// address is valid until the next conversion through the same cell or the
// next allocation that may move it (use it at once).
//
// Outside text never ends the process: ill-formed UTF-8 raises access error
// `invalid-utf8`; a broken UTF-16 surrogate pair decodes to U+FFFD.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace vyr::text_codec {

// ---- Text value to UTF-8 -------------------------------------------------------

// NUL-terminated UTF-8 of the value from its index, in its conversion buffer.
// `length` in: character limit (-1 = to the tail); out: bytes without the NUL.
const uint8_t* to_utf8(Cell& value, int32_t& length);
// As to_utf8; with `crlf` a CR goes before every LF.
const uint8_t* to_utf8_crlf(Cell& value, int32_t& length, bool crlf);
// Encodes into caller memory (room: unicode::utf8_conversion_size); a limit
// of -1 or at least the length means all. Answers the bytes without the NUL.
size_t utf8_encode_string(const Cell& value, uint8_t* dst, int32_t limit, bool nul);
// As utf8_encode_string, writing no more than `budget` bytes (the output may
// stop inside a character); the limit applies only when above 0.
size_t utf8_encode_string_budget(const Cell& value, uint8_t* dst, ptrdiff_t budget, int32_t limit, bool nul);

// ---- External text to a string buffer -----------------------------------------

// Decodes n bytes of UTF-8 into `target` (its text replaced, from its head,
// its unit width kept or widened) or into a new buffer when target is 0, and
// answers the node. A leading byte-order mark is skipped. With `fold_cr`,
// CR LF becomes LF and a lone CR becomes LF. A sequence cut off by the end of
// the input is left undecoded and its byte count given back in `remaining`
// (0 when everything was decoded; `remaining` may be null). Ill-formed input
// raises `invalid-utf8`.
NodeId utf8_to_string(const uint8_t* src, size_t n, NodeId target, size_t* remaining, bool fold_cr);
NodeId utf8_to_string_into(const uint8_t* src, size_t n, const Cell& value, size_t* remaining);
NodeId utf8_to_new_string(const uint8_t* src, size_t n);

// Appends UTF-8 bytes to a text value as code points, never failing on bad
// input: an ill-formed sequence gives U+FFFD. With `fold_crlf` each CR LF
// becomes LF. For text that comes from outside (child output, environment,
// names in a directory).
void append_utf8_lenient(NodeId text, const uint8_t* bytes, size_t size, bool fold_crlf);

// Decodes `units` UTF-16LE units (src null: the value's conversion buffer)
// into the value's buffer, or into a new buffer when value is null, and
// answers the node. With `drop_cr` every CR is left out.
NodeId utf16_to_string(const uint8_t* src, size_t units, Cell* value, bool drop_cr);

// Raises `invalid-utf8` whose argument is a binary! of the n bytes at p.
[[noreturn]] void raise_invalid_utf8_tail(const uint8_t* p, size_t n);

// ---- Text value to UTF-16LE ----------------------------------------------------

// NUL-terminated UTF-16LE of the whole value with CR LF line ends.
const uint8_t* to_utf16(Cell& value);
// `length` in: character limit (-1 = all); out: UTF-16 units without the
// NUL. With `crlf` a CR goes before every LF. Null when a unit holds a value
// above U+10FFFF.
const uint8_t* to_utf16_part(Cell& value, int32_t& length, bool crlf);

// ---- Widening a buffer ---------------------------------------------------------

void widen_1_to_2(NodeId buffer);
void widen_1_to_4(NodeId buffer);
void widen_2_to_4(NodeId buffer);

}  // namespace vyr::text_codec
