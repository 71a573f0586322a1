// What the compressor (deflate.cpp) and the decompressor (inflate.cpp)
// share: the buffer-form copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "runtime/checksum.h"
#include "io/deflate.h"

namespace vyr::deflate::detail {

// The buffer form of a finished result: copies `bytes` into `out` when they
// fit, else reports the size needed; failures report 0.
Status copy_out(Status status, std::span<const uint8_t> bytes, std::span<uint8_t> out, size_t& size);

}  // namespace vyr::deflate::detail
