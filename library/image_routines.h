// The routines of the five image codec objects (system/codecs/png, jpeg,
// bmp, gif, tiff): encode and decode over the image! codec entry points.
#pragma once

#include <cstdint>

#include "runtime/catch_codes.h"
#include "runtime/cell.h"

namespace vyr::library {

// [img [image!] where [any-type!]]: a new binary! holding the image in the
// codec's format (`where` is not used: save writes the data).
template <int32_t Format>
Status image_encode(Cell* args, uint32_t count);
// [data [any-type!]]: the image a binary! or a file holds.
Status image_decode(Cell* args, uint32_t count);

}  // namespace vyr::library
