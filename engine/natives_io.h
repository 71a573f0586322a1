// Helpers shared by the output, encoding and system natives
// (engine/natives_output.cpp, natives_encoding.cpp, natives_system.cpp):
// reading the bytes of a binary! or text argument, making a binary! result,
// and the last line-end flag of `print`/`prin`.
//
// Byte views point into a series buffer (a binary!'s own buffer, a text's
// conversion buffer): they stay valid until that buffer grows or a safe
// point runs. Making a new series never moves an existing one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace vyr::natives {

// The line-end flag of the last `print` (true) or `prin` (false), which the
// `last-lf?` routine reads.
bool last_lf_q();

}  // namespace vyr::natives

namespace vyr::natives_io {

struct ByteView {
    const uint8_t* data;
    size_t size;
};

// A binary!'s bytes from its index (an index past the tail gives none).
ByteView binary_bytes(const Cell& binary);
// A text value's UTF-8 bytes from its index, made in the value's own
// conversion buffer (so `text` must be a rooted cell, such as an argument).
ByteView text_bytes(Cell& text);
// binary_bytes for a binary!, text_bytes for any text value.
ByteView value_bytes(Cell& value);

// The cell becomes a new binary! (index 0) holding a copy of the bytes.
Cell* make_binary_at(Cell& cell, const uint8_t* data, size_t size);

}  // namespace vyr::natives_io
