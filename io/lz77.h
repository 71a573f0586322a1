// The LZ77 container of compressed VYRBIN payloads.
//
// Container (int32 fields little-endian): the size of the block data, the
// decompressed size, then the blocks. A block is its length (the bytes it
// yields, 1 to 1 MiB) followed by a bit stream read least significant bit
// first: bit 0 and 8 bits is a literal byte; bit 1 is a match of 3 to 566
// bytes (a prefix-coded length) reaching 1 to 262144 bytes back (a 4-bit
// width and that many bits). Matches never reach before their block's first
// byte. A block's bit stream starts on a byte boundary and the next block's
// length word starts at the first byte the previous stream has not loaded.
//
// The decompressor trusts nothing in its input: it never reads past the block
// data nor writes past what a block declares, and its output is allocated
// once, no larger than the header declares nor than the block data could
// yield, so the size fields cannot drive an allocation beyond what the input
// can produce.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vyr::lz77 {

inline constexpr uint32_t max_block = 0x100000;    // bytes one block yields at most
inline constexpr uint32_t max_distance = 0x40000;  // the farthest a match reaches back
inline constexpr uint32_t min_match = 3;
inline constexpr uint32_t max_match = 566;
// Inputs of this many bytes or fewer are not worth a container.
inline constexpr size_t min_input = 127;

// The decompressed bytes, or nothing when the container is damaged (cut
// short, a block length out of range, a match out of its block, or more
// output than the header declares).
std::optional<std::vector<uint8_t>> decompress(std::span<const uint8_t> container);

// The container of the input; nothing for an input of min_input bytes or fewer.
std::optional<std::vector<uint8_t>> compress(std::span<const uint8_t> in);

}  // namespace vyr::lz77
