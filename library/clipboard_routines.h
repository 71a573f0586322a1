// The clipboard's routines: `read-clipboard` and `write-clipboard` over the
// host clipboard (io/clipboard.h), turning its contents into values and back.
#pragma once

#include <cstdint>

#include "runtime/catch_codes.h"
#include "runtime/cell.h"

namespace vyr::library {

// []: a string! (LF line ends), a block! of file!, none when the clipboard
// holds nothing this can take, or false when it cannot be reached.
Status read_clipboard(Cell* args, uint32_t count);
// [data [string! block! image! none!]]: sets the clipboard to the text, or
// to the files named by the block's file! and string! values from its
// index; none empties it. Answers whether the clipboard took it. Another
// value, or another value in the block, raises script `invalid-arg`.
Status write_clipboard(Cell* args, uint32_t count);

}  // namespace vyr::library
