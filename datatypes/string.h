// string!: the text series of the language, parent of url! (and through it
// of file!), tag!, email!, ref!, binary! and vector!, which inherit what they
// do not override.
//
// This module holds conversion (make, to), form and mold with their quoting,
// brace and caret-escape rules, comparison and path access
// (datatypes/string.cpp), and the searching and modifying actions
// (datatypes/string_search.cpp). The buffer operations they use are the
// text-buffer layer (datatypes/string_buffer.h), declared in the same
// namespace.
#pragma once

#include <cstdint>

#include "datatypes/string_buffer.h"
#include "runtime/cell.h"

namespace vyr::string_t {

// ---- Mold helpers shared with char!, vector! and the other text types ------------

// Writes one code point as mold writes it inside a double-quoted text:
// "^(XX)" for 30, 128-159 and (with `all`) anything above 127; "^" and the
// escape table's letter for the control characters, the double quote and
// the caret; "^~" for DEL; the character itself otherwise.
void mold_char_escaped(NodeId buffer, uint32_t cp, bool all);

// Forms any value into the buffer through its type's form action, with a
// budget (the characters still allowed; `limited` says whether /part is in
// effect). Answers the budget left.
int32_t form_value(Cell& value, Cell& buffer, int32_t budget, bool limited);
// The same through the mold action.
int32_t mold_value(Cell& value, Cell& buffer, int32_t budget, bool limited);

// Raises script error `invalid-refine-arg` naming the refinement ("part",
// "skip" or "compare": /part, /skip, /compare) and its argument.
[[noreturn]] void raise_invalid_refine_arg(const char* refinement, const Cell& argument);

// ---- Case change -----------------------------------------------------------------

// The body of the `uppercase` and `lowercase` natives: a char! is mapped in
// its cell; a text is mapped in place from its index, for the /part count
// (an integer!, or a position in the same series; null without /part),
// widening the buffer when a mapped character does not fit (U+00FF upper-
// cases to U+0178). Answers the value.
Cell* change_case(Cell* value, Cell* part, bool upper);

// ---- Actions (conversion, form, mold, comparison, path access) ------------------

Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* previous,
                  int32_t index, bool case_, bool get, bool tail, bool event);
int32_t compare(Cell* a, Cell* b, int32_t op);

// ---- Actions (search and modification: string_search.cpp) ----------------------

// Answers `series`, changed in place (as insert and change do).
Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append_flag);
Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append_flag);
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
           Cell* skip, bool last, bool reverse, bool tail, bool match);
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
             Cell* skip, bool last, bool reverse);
Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse,
           bool stable);
Cell* swap(Cell* a, Cell* b);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);

// Set-operation codes of the arithmetic core.
enum SetOp : int32_t { set_unique = 8, set_union = 9, set_intersect = 10, set_exclude = 11, set_difference = 12 };
// unique, union, intersect, exclude and difference on texts: the result
// replaces `first` (at index 0). `second` is ignored by unique; `skip` is
// null without /skip.
void set_operation(Cell* first, Cell* second, bool case_, Cell* skip, int32_t code);

// The trim workers, from the value's index.
void trim_spaces(Cell& series, const Cell* with);
void trim_lines(Cell& series);
void trim_ends(Cell& series, bool head, bool tail);

// Sort comparators of fixed-size text records (see string_search.cpp):
// `context1` is the case flag, `context2` the flags word.
int32_t sort_compare_1(const void* a, const void* b, uintptr_t case_flag, uintptr_t flags);
int32_t sort_compare_2(const void* a, const void* b, uintptr_t case_flag, uintptr_t flags);
int32_t sort_compare_4(const void* a, const void* b, uintptr_t case_flag, uintptr_t flags);

}  // namespace vyr::string_t
