// The routines of the `vyrbin` codec object (system/codecs/vyrbin): `encode*`
// and `decode` over the VYRBIN writers and readers (io/vyrbin.h).
#pragma once

#include <cstdint>

#include "runtime/catch_codes.h"
#include "runtime/cell.h"

namespace vyr::library {

// [data [any-type!] compact? [logic!]]: a new binary! holding the image of
// the data, compact or standard.
Status vyrbin_encode(Cell* args, uint32_t count);
// [payload [any-type!]]: the value an image holds (a block when it holds
// other than one root value). A file or URL is read as binary first; any
// other non-binary payload, and one of 10 bytes or less, raise script
// `invalid-data`.
Status vyrbin_decode(Cell* args, uint32_t count);

}  // namespace vyr::library
