// tag!, email! and ref!: string! values with a literal form of their own.
//
// Their cells and buffers are string!'s (datatypes/string_buffer.h), their
// text without the delimiters: the tag <b> holds "b", the ref @name holds
// "name". Nearly every action is string!'s, inherited at registration; this
// module holds what differs: the form and mold texts, and email!'s path
// words user and host (the parts before and after the first "@").
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::tag_t {
// Pushes a copy of the tag cell on the argument stack.
Cell* push(const Cell& tag);
// "<", the text, ">" (form and mold alike).
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
void init();
}  // namespace vyr::tag_t

namespace vyr::email_t {
Cell* push(const Cell& email);
// The text as it is (form is string!'s).
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
// An integer! element picks or pokes a character as string! does; the words
// user and host read or replace the text before / after the first "@".
Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* previous,
                  int32_t index, bool case_, bool get, bool tail, bool event);
void init();
}  // namespace vyr::email_t

namespace vyr::ref_t {
Cell* push(const Cell& ref);
// "@" and the text (form is string!'s, without the "@").
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
void init();
}  // namespace vyr::ref_t
