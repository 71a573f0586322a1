// What the compressor (deflate.cpp) and the decompressor (inflate.cpp)
// share: the framings' checksums and the buffer-form copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "io/deflate.h"

namespace vyr::deflate::detail {

uint32_t crc32(std::span<const uint8_t> data);
uint32_t adler32(std::span<const uint8_t> data);

// The buffer form of a finished result: copies `bytes` into `out` when they
// fit, else reports the size needed; failures report 0.
Status copy_out(Status status, std::span<const uint8_t> bytes, std::span<uint8_t> out, size_t& size);

}  // namespace vyr::deflate::detail
