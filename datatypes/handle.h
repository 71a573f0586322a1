// handle!: an opaque platform value (a file descriptor, a monitor, a window,
// a font, a rich-text object) that scripts can pass around, compare and
// print but not compute with.
//
// Cell layout: w1 = the kind (0-5, below), w2 = the platform value (32 bits),
// w3 = -1. Handles compare by platform value alone; the kind only shows in
// mold/all ("#[handle! 1A4h window]").
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::handle_t {

enum Kind : uint32_t { kind_null = 0, kind_fd, kind_monitor, kind_window, kind_font, kind_rich_text };
inline constexpr uint32_t kind_count = 6;
inline constexpr uint32_t payload_marker = 0xFFFFFFFF;  // w3 of every handle

inline Cell cell_of(uint32_t value, uint32_t kind) { return Cell{type_handle, kind, value, payload_marker}; }

// Types the cell handle! with the value and kind (flag bits kept).
Cell* make_at(Cell* cell, uint32_t value, uint32_t kind);
// Makes the result cell (the argument base) such a handle.
Cell* push(uint32_t value, uint32_t kind);
// Appends such a handle at the tail of the block value.
Cell* load(const Cell& block, uint32_t value, uint32_t kind);
// Pushes a new handle on the argument stack.
Cell* push_new(uint32_t value, uint32_t kind);
// Pushes the null handle (value 0, kind 0).
Cell* push_null();

// ---- Actions -------------------------------------------------------------------

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
int32_t compare(Cell* a, Cell* b, int32_t op);

void init();

}  // namespace vyr::handle_t
