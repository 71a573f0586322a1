// handle!: helpers, form, mold, compare and registration (see handle.h).
#include "datatypes/handle.h"

#include <string>

#include "datatypes/number_support.h"
#include "runtime/registry.h"
#include "runtime/stack.h"
#include "runtime/series.h"

namespace vyr::handle_t {

using namespace number_support;

namespace {
// The budget form takes, whatever the length of its text.
constexpr int32_t form_budget = 9;
constexpr const char* kind_names[kind_count] = {"", "fd", "monitor", "window", "font", "rich-text"};
}  // namespace

// ---- Helpers -----------------------------------------------------------------

Cell* make_at(Cell* cell, uint32_t value, uint32_t kind) {
    cell->header = (cell->header & ~header::type_mask) | type_handle;
    cell->w1 = kind;
    cell->w2 = value;
    cell->w3 = payload_marker;
    return cell;
}

Cell* push(uint32_t value, uint32_t kind) {
    Cell* c = stack::arg_base();
    *c = cell_of(value, kind);
    return c;
}

Cell* load(const Cell& block, uint32_t value, uint32_t kind) {
    Cell* c = series::append_cell(block);
    *c = cell_of(value, kind);
    return c;
}

Cell* push_new(uint32_t value, uint32_t kind) { return stack::push_copy(cell_of(value, kind)); }
Cell* push_null() { return push_new(0, kind_null); }

// ---- Actions -------------------------------------------------------------------

namespace {

// Upper-case hexadecimal without leading zeros, then "h" ("1A4h", "0h").
std::string hex_text(uint32_t value) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return text + "h";
}

}  // namespace

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) {
    append_ascii(*buffer, hex_text(value->w2), budget);
    return budget - form_budget;
}

// With /all the construction form "#[handle! 1A4h window]"; without it only
// the type's name, since a handle cannot be loaded back.
int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int32_t budget, int32_t) {
    if (!all) return append_ascii(*buffer, "handle!", budget);
    std::string text = "#[handle! " + hex_text(value->w2);
    if (value->w1 > kind_null && value->w1 < kind_count) text += std::string(" ") + kind_names[value->w1];
    return append_ascii(*buffer, text + "]", budget);
}

// Only another handle can be equal; handles order by their platform value
// as a signed integer.
int32_t compare(Cell* a, Cell* b, int32_t) {
    if (type_of(*b) != type_handle) return 1;
    int32_t x = int32_t(a->w2), y = int32_t(b->w2);
    return (x > y) - (x < y);
}

void init() {
    using namespace registry;
    Row row;
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_compare, compare);
    row.register_as(type_handle, type_integer, "handle!");
}

}  // namespace vyr::handle_t
