// Text encodings of binary data in bases 2, 16, 58 and 64: the codecs of
// `enbase` and `debase`.
//
// Encoders write one byte per character and never insert line breaks; the
// caller reserves the room (`encoded_size` is enough). Decoders read the
// code points of a text (units of 1, 2 or 4 bytes) and answer false when the
// text is not valid in the base; they never raise. In every decoder a ";"
// starts a comment that runs to the next line feed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vyr::base_codecs {

// Characters an encoder writes for n bytes (at most).
size_t encoded_size(int32_t base, size_t n);

// Each writes the text of the n bytes at `src` to `out` and answers the
// number of characters written.
size_t encode_base2(uint8_t* out, const uint8_t* src, size_t n);
size_t encode_base16(uint8_t* out, const uint8_t* src, size_t n);  // upper case
size_t encode_base58(uint8_t* out, const uint8_t* src, size_t n);
size_t encode_base64(uint8_t* out, const uint8_t* src, size_t n);  // "=" padding

// Each decodes `count` units of `width` bytes at `units` into `out` (which
// is replaced). A code above 127 is never a digit nor a blank: the text is
// then not valid (it is neither folded onto an ASCII code nor taken as the
// end of the text). Base 2: blanks (codes up to 32) skipped, groups of 8
// bits, leftover bits invalid. Base 16: blanks skipped, a last lone digit
// dropped. Base 58: blanks and "'" skipped. Base 64: blanks and "'"
// skipped, "=" ends the text (after 2 or 3 digits of a group), leftover
// digits dropped.
bool decode_base2(const uint8_t* units, size_t count, unsigned width, std::vector<uint8_t>& out);
bool decode_base16(const uint8_t* units, size_t count, unsigned width, std::vector<uint8_t>& out);
bool decode_base58(const uint8_t* units, size_t count, unsigned width, std::vector<uint8_t>& out);
bool decode_base64(const uint8_t* units, size_t count, unsigned width, std::vector<uint8_t>& out);

}  // namespace vyr::base_codecs
