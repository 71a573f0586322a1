// path!, lit-path!, set-path! and get-path!: blocks of path elements written
// with "/" between them. They keep block!'s cell buffer and inherit most of
// block!'s actions; what is theirs is construction and the written form
// ("a/b/1", "'a/b/1", "a/b/1:", ":a/b/1"). The three children take make,
// to, form and copy from path!.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::path_t {

// Sets the cell's type to path! and pushes a copy on the argument stack.
Cell* push(Cell& cell);
// The cell becomes an empty path! with room for n cells (at least 1).
Cell* make_at(Cell& cell, int32_t n);

Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);

void init();

}  // namespace vyr::path_t

namespace vyr::lit_path_t {
Cell* push(Cell& cell);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
void init();
}  // namespace vyr::lit_path_t

namespace vyr::set_path_t {
Cell* push(Cell& cell);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
void init();
}  // namespace vyr::set_path_t

namespace vyr::get_path_t {
Cell* push(Cell& cell);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
void init();
}  // namespace vyr::get_path_t
