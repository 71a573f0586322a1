// error!: the values of language errors, and their reports.
//
// An error! is an object (the object! cell layout, type 34, class id 1, no
// event record) whose fields are, in this order: code, type (the category
// word), id (the id word), arg1, arg2, arg3, near, where, stack, files. A
// new error starts as a copy of the prototype error object.
//
// The catalog object (`system/catalog/errors`) has one field per category
// in catalog order; each category is an object whose fields are `code`,
// `type` (its title) and then the ids, each holding its message: a string,
// a word naming a field (user/message: arg1), or a template block of strings
// and words naming the error's fields. Both the catalog and the prototype
// are built here from the C++ catalog table (runtime/error_catalog.h), so
// the positions that runtime code raises with and the objects scripts see
// cannot disagree.
//
// An error's code is its category's position x 100 + its id's position
// (from 0, not counting `code` and `type`).
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace vyr::error_t {

// Field numbers of an error object.
namespace field {
inline constexpr uint32_t code = 0, type = 1, id = 2, arg1 = 3, arg2 = 4, arg3 = 5, near = 6, where = 7,
                          stack = 8, files = 9, count = 10;
}  // namespace field
inline constexpr int32_t class_id = 1;

// ---- The catalog and the prototype ------------------------------------------

// Builds the catalog object and the prototype error (start-up, once words
// exist). Until then no error! value can be made.
void make_catalog();
bool catalog_ready();
// The catalog object and the prototype (none! before make_catalog).
const Cell& catalog();
const Cell& prototype();
// The category word at a catalog position and the id word at a position of
// a category (2 for the first id), bound to the catalog's contexts; none!
// outside the catalog.
Cell category_word(int category);
Cell id_word(int category, int id);

// ---- Making ------------------------------------------------------------------

// A new error! from the category and id words (as make error! [cat id]),
// with the given arguments copied into arg1..arg3.
Cell create(const Cell& category, const Cell& id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
            const Cell* arg3 = nullptr);
// The same by catalog positions.
Cell create_at(int category, int id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
               const Cell* arg3 = nullptr);

// ---- Fields ------------------------------------------------------------------

Cell* field_at(const Cell& error, uint32_t i);
// Stores the value in `where` when it is still none.
void set_where(const Cell& error, const Cell& value);
int32_t get_type(const Cell& error);  // the symbol of the `type` field
int32_t get_id(const Cell& error);    // the symbol of the `id` field
inline constexpr uint32_t stack_index() { return field::stack; }

// The depth of the "*** Stack:" line (system/state/stack-trace); 0, the
// default, writes no such line.
void set_stack_trace(int32_t depth);
int32_t stack_trace();
// Turns a recorded call level in `stack` into the list of called words
// (through the evaluator's hook, datatypes/eval_hooks.h; without it the
// field stays as it is).
void capture_stack(Cell& error);

// ---- Reports -----------------------------------------------------------------

// Writes the filled template; answers the budget left.
int32_t form_message(const Cell& tpl, Cell* buffer, Cell& error, int32_t budget);
// The report as UTF-8, without a final line end.
std::string report_text(const Cell& error);

// ---- Actions -----------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* previous,
                  int32_t index, bool case_, bool get, bool tail, bool event);
int32_t compare(Cell* a, Cell* b, int32_t op);
void init();

}  // namespace vyr::error_t
