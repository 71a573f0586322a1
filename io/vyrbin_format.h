// The fixed bytes and bits of the VYRBIN formats, shared by the readers and
// the writers (see vyrbin.h).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::vyrbin::format {

inline constexpr uint8_t magic[6] = {'V', 'Y', 'R', 'B', 'I', 'N'};
inline constexpr size_t header_size = 8;  // magic, version, flags

// Compact encoding: prefix bytes before a record's header byte ...
inline constexpr uint8_t prefix_new_line = 0xC0;
inline constexpr uint8_t prefix_shared = 0xC1;
inline constexpr uint8_t prefix_set = 0xC4;  // boot images only
// ... and header bytes that are whole records.
inline constexpr uint8_t small_integer = 0x80;  // 0x80-0xBF: integer! 0-63
inline constexpr uint8_t byte_true = 0xC2;
inline constexpr uint8_t byte_false = 0xC3;
inline constexpr uint8_t byte_copy = 0xFF;      // an index path follows
inline constexpr uint8_t type_flag = 0x40;      // header bit 6: the type's own flag
inline constexpr uint8_t long_type = 63;        // the type id follows as LEB128

// Context flags byte of the compact encoding.
inline constexpr uint8_t context_on_stack = 4;
inline constexpr uint8_t context_object = 8;
inline constexpr uint8_t context_values = 16;

// Standard encoding: bits of a record's header word.
inline constexpr uint32_t std_shared = 1u << 19;
inline constexpr uint32_t std_negative = 1u << 22;
inline constexpr uint32_t std_complemented = 1u << 23;
inline constexpr uint32_t std_events = 1u << 24;
inline constexpr uint32_t std_word_flag = 1u << 25;  // codec: bound globally; boot: set word
inline constexpr uint32_t std_new_line = 1u << 31;
inline constexpr uint32_t reference_type = 255;
// Context header word of the standard encoding.
inline constexpr uint32_t std_context_kind_shift = 26;
inline constexpr uint32_t std_context_object = 1u << 28;
inline constexpr uint32_t std_context_on_stack = 1u << 29;
inline constexpr uint32_t std_context_values = 1u << 30;

inline constexpr uint32_t max_path = 65536;
// Values nest at most this deep in an image: the writers refuse deeper ones
// (internal `too-deep`) and the readers a deeper record, so that neither
// recursion can exhaust the machine stack.
inline constexpr uint32_t max_nesting = 4000;
inline constexpr uint32_t date_has_time = 1u << 16;
inline constexpr uint32_t money_sign = 0x4000;

}  // namespace vyr::vyrbin::format
