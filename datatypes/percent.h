// percent!: a float! written and read as a percentage. The cell holds the
// fraction (50% holds 0.5) in payload words 2-3, as float! does; every
// action but form and mold is float!'s, inherited at registration.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::percent_t {

inline double value(const Cell& c) { return cell_float(c); }

// Types the cell percent! with the fraction (flag bits kept).
Cell* make_at(Cell* cell, double fraction);
// The fraction given as the high and low 32-bit halves of its double.
Cell* make_at_halves(Cell* cell, uint32_t high, uint32_t low);
// Appends a percent! (given as halves) at the tail of the block value.
Cell* load(const Cell& block, uint32_t high, uint32_t low);
Cell* push(double fraction);
Cell* push_halves(uint32_t high, uint32_t low);
// Makes the result cell (the argument base) a percent!.
Cell* set_result(double fraction);

// ---- Actions -------------------------------------------------------------------

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);

void init();

}  // namespace vyr::percent_t
