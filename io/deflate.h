// DEFLATE (RFC 1951) and its zlib (RFC 1950) and gzip (RFC 1952) framings:
// the compressor and decompressor behind `compress` and `decompress`.
//
// The compressor is deliberately small: one final block with the fixed
// Huffman codes, a 1024-bucket hash of 3-byte prefixes with 4 positions per
// bucket, the first matching candidate taken, no lazy matching. Its output is
// a pure function of the input, byte for byte.
//
// The decompressor reads every block type. Invariants it keeps whatever the
// input: it never reads past the input nor writes past its output; its output
// grows as bytes are produced, so no size field of the input (gzip's ISIZE
// included) decides an allocation beyond what the input can produce; it stops
// after the final block; each step consumes input, so it always ends.
//
// Two forms of each operation:
//  - the vector form answers the bytes (compressors cannot fail) or a status;
//  - the buffer form writes into a caller's buffer and reports the size
//    through an in/out argument, with the status codes below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vyr::deflate {

// Status codes shared by every operation.
enum class Status : int32_t {
    ok = 0,
    output_too_small = 1,  // size argument receives the size needed
    bad_data = 2,
    stored_cut_short = 3,  // a stored block's length runs past the input
};

// The largest output a decompressor produces: the longest binary! value.
// A stream that would produce more answers `output_too_small`.
inline constexpr size_t max_output = 0x7FFFFFFF;

// What a decompressor answers: `bytes` holds the output when `status` is ok
// and is empty otherwise.
struct Decoded {
    Status status;
    std::vector<uint8_t> bytes;
};

// ---- Vector form ------------------------------------------------------------

std::vector<uint8_t> deflate_compress(std::span<const uint8_t> in);
// 78 01, the raw stream, then the Adler-32 of the input (big-endian).
std::vector<uint8_t> zlib_compress(std::span<const uint8_t> in);
// The fixed 10-byte header (no flags, time 0, extra flags 4, system 4), the raw
// stream, then the CRC-32 and the length of the input mod 2^32 (little-endian).
std::vector<uint8_t> gzip_compress(std::span<const uint8_t> in);

// A raw stream: bytes after the final block are bad data.
Decoded inflate(std::span<const uint8_t> in, size_t limit = max_output);
// Header checked, stream inflated up to the 4-byte trailer, Adler-32 compared.
Decoded zlib_decompress(std::span<const uint8_t> in, size_t limit = max_output);
// One gzip member: header fields skipped (and FHCRC checked), stream inflated
// up to the 8-byte trailer, CRC-32 and ISIZE compared.
Decoded gzip_decompress(std::span<const uint8_t> in, size_t limit = max_output);

// ---- Buffer form --------------------------------------------------------------
// `out` may be empty (no buffer) to learn the size. On entry `size` is ignored
// (the capacity is out.size()); on return it holds the bytes written, or the
// size needed with `output_too_small`, or 0 with bad data. A buffer that is too
// small is never written.

Status deflate_compress(std::span<uint8_t> out, size_t& size, std::span<const uint8_t> in);
Status zlib_compress(std::span<uint8_t> out, size_t& size, std::span<const uint8_t> in);
Status gzip_compress(std::span<uint8_t> out, size_t& size, std::span<const uint8_t> in);
Status inflate(std::span<uint8_t> out, size_t& size, std::span<const uint8_t> in);
Status zlib_decompress(std::span<uint8_t> out, size_t& size, std::span<const uint8_t> in);
Status gzip_decompress(std::span<uint8_t> out, size_t& size, std::span<const uint8_t> in);

// ---- Method words ------------------------------------------------------------

// The framings a script names by word: 'zlib, 'deflate, 'gzip.
enum class Framing : uint8_t { zlib, deflate, gzip };

// Start-up: interns the three method words.
void compression_words_init();
// The framing a word's symbol names (in any letter case); false for another word.
bool framing_of_symbol(int32_t symbol, Framing& out);

}  // namespace vyr::deflate
