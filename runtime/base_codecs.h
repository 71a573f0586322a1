// The base codecs of binary!: bytes as base-2, base-16, base-58 and base-64
// text, and back. `enbase` and `debase` are built on these, and `to binary!`
// of an issue! reads its name with the base-16 decoder. They sit with the
// runtime because they know only bytes and code units.
//
// Encoders write plain ASCII into room the caller has reserved (see
// `encoded_room`) and never insert line breaks. Decoders read the code points
// of a text (1, 2 or 4 bytes per unit), skip white space and ";" comments
// (to the next line feed), and answer the node of a new byte series holding
// the bytes (its tail set after the last one), or no_node when the text is
// not valid in that base. A code above 127 is never a digit nor a blank in
// any base: it makes the text invalid (it is neither read by its low 7 bits,
// where U+0130 would pass for "0", nor taken as the end of the text). Neither
// side raises an error.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::binary_t {

// The bases there are codecs for.
inline bool base_supported_q(int32_t base) { return base == 2 || base == 16 || base == 58 || base == 64; }

// ---- Encoders ----------------------------------------------------------------
// (output, source, n bytes) -> the address just after the last character.

// Bytes the encoder of `base` may write for n source bytes: 8n for base 2,
// 2n for bases 16 and 58, 4 x ceiling(n / 3) for base 64.
uint64_t encoded_room(int32_t base, uint32_t n);

// 8 characters per byte, most significant bit first.
char* encode_base2(char* out, const uint8_t* src, uint32_t n);
// 2 upper-case hex digits per byte, high nibble first.
char* encode_base16(char* out, const uint8_t* src, uint32_t n);
// The big-number conversion: one "1" per leading zero byte, then the rest
// of the bytes as a base-58 number.
char* encode_base58(char* out, const uint8_t* src, uint32_t n);
// 4 characters per group of 3 bytes, "=" padding for a short last group.
char* encode_base64(char* out, const uint8_t* src, uint32_t n);
// One of the four by base (base_supported_q must hold).
char* encode_base(int32_t base, char* out, const uint8_t* src, uint32_t n);

// ---- Decoders ----------------------------------------------------------------
// (units at a text's index, n characters, unit width) -> node or no_node.

// "0" and "1", gathered 8 to a byte; characters 32 and below are skipped;
// bits left over at the end make the text invalid.
NodeId decode_base2(const uint8_t* src, uint32_t n, unsigned width);
// Hex digits in either case, paired high nibble first; characters 32 and
// below are skipped; a lone last digit is dropped.
NodeId decode_base16(const uint8_t* src, uint32_t n, unsigned width);
// Digits of the base-58 alphabet (no 0, O, I, l); backspace, tab, line
// feed, form feed, carriage return, space and "'" are skipped.
NodeId decode_base58(const uint8_t* src, uint32_t n, unsigned width);
// The standard alphabet; the same characters as base 58 are skipped; "="
// ends the text (after 2 or 3 digits of a group), digits left over without
// it are dropped.
NodeId decode_base64(const uint8_t* src, uint32_t n, unsigned width);
// One of the four by base (base_supported_q must hold).
NodeId decode_base(int32_t base, const uint8_t* src, uint32_t n, unsigned width);

}  // namespace vyr::binary_t
