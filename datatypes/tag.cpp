// tag!, email! and ref!: form, mold, email! path words and registration
// (see tag.h).
#include "datatypes/tag.h"

#include <initializer_list>
#include <utility>

#include "runtime/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/text_errors.h"
#include "runtime/stack.h"
#include "datatypes/fixed_words.h"
#include "runtime/series.h"

namespace vyr {

using namespace registry;

namespace {

// The text from the index as string! form writes it, with `budget` as its
// part limit when /part is in effect; answers the characters of the text.
int32_t form_text(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    Cell limit = text_errors::integer_cell(budget);
    return budget - string_t::form(value, buffer, part ? &limit : nullptr, budget);
}

// A row of 62 entries: `inherited` slots take string!'s entry, `own` ones
// their implementation, every other slot is empty.
void register_text_type(uint32_t type, const char* name, std::initializer_list<Slot> inherited,
                        std::initializer_list<std::pair<Slot, ActionFn>> own) {
    Row row;
    row.inherit(inherited);
    for (const auto& [s, fn] : own) row.set(s, fn);
    row.register_as(type, type_string, name);
}

}  // namespace

// ---- tag! ------------------------------------------------------------------------

namespace tag_t {

Cell* push(const Cell& tag) { return stack::push_copy(tag); }

// The budget falls by the text and the two brackets.
int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    string_t::append_code_point(*buffer, '<');
    int32_t n = form_text(value, buffer, part, budget - 1);
    string_t::append_code_point(*buffer, '>');
    return budget - n - 2;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return form(value, buffer, part, budget);
}

void init() {
    register_text_type(type_tag, "tag!",
                       {slot_make, slot_reflect, slot_to, slot_path_access, slot_compare, slot_append, slot_at,
                        slot_back, slot_change, slot_clear, slot_copy, slot_find, slot_head, slot_head_q,
                        slot_index_q, slot_insert, slot_length_q, slot_move, slot_next, slot_pick, slot_poke,
                        slot_put, slot_remove, slot_reverse, slot_select, slot_skip, slot_swap, slot_tail,
                        slot_tail_q, slot_take, slot_modify},
                       {{slot_form, act(form)}, {slot_mold, act(mold)}});
}

}  // namespace tag_t

// ---- email! ----------------------------------------------------------------------

namespace email_t {

Cell* push(const Cell& email) { return stack::push_copy(email); }

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    return budget - form_text(value, buffer, part, budget);
}

namespace {

enum Part { part_user = 1, part_host = 2 };

Cell answer;  // a path read's new string, until the caller copies it

// The email's characters from its index: the count before the first "@"
// and the whole count.
struct Split {
    uint32_t at;      // position of the "@" from the index (the length when none)
    uint32_t length;  // characters from the index
    bool found;
};
Split split(Cell& email) {
    uint32_t length = string_t::length_at(email);
    int32_t at = string_t::find_char(email, '@');
    return at < 0 ? Split{length, length, false} : Split{uint32_t(at), length, true};
}

Cell* read_part(Cell& email, int32_t which) {
    Split s = split(email);
    uint32_t from = which == part_user ? 0 : s.found ? s.at + 1 : s.length;
    uint32_t count = which == part_user ? s.at : s.length - from;
    answer = string_t::make_cell(series::copy_series_part(string_t::node_of(email), email.w1 + from, count));
    return &answer;
}

// The part is replaced as string! change with a part count does. An email
// without "@" gets one before a new host, so the host is never glued to the
// user name.
void write_part(Cell& email, int32_t which, Cell* value) {
    Split s = split(email);
    Cell target = email;
    if (which == part_user) {
        string_t::change(&target, value, int32_t(s.at), false, 1);
        return;
    }
    if (!s.found) string_t::append_code_point(email, '@');
    target.w1 = email.w1 + s.at + 1;
    string_t::change(&target, value, int32_t(s.found ? s.length - s.at - 1 : 0), false, 1);
}

}  // namespace

Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* previous,
                  int32_t index, bool case_, bool get, bool tail, bool event) {
    uint32_t et = type_of(*element);
    if (et == type_integer)
        return string_t::path_access(parent, element, value, path, grand_parent, previous, index, case_, get, tail,
                                     event);
    int32_t which = 0;
    if (et == type_word) {
        int32_t id = symbol_t::resolve_alias(int32_t(element->w2));
        if (id == symbol_t::resolve_alias(fixed::sym_user)) which = part_user;
        else if (id == symbol_t::resolve_alias(fixed::sym_host)) which = part_host;
    }
    if (which == 0) raise_error(err_cat::script, err_id::script::invalid_path, path, element);
    if (!value) return read_part(*parent, which);
    write_part(*parent, which, value);
    return value;
}

void init() {
    register_text_type(type_email, "email!",
                       {slot_make, slot_reflect, slot_to, slot_form, slot_compare, slot_append, slot_at, slot_back,
                        slot_change, slot_clear, slot_copy, slot_find, slot_head, slot_head_q, slot_index_q,
                        slot_insert, slot_length_q, slot_move, slot_next, slot_pick, slot_poke, slot_put,
                        slot_remove, slot_reverse, slot_select, slot_skip, slot_swap, slot_tail, slot_tail_q,
                        slot_take, slot_modify},
                       {{slot_mold, act(mold)}, {slot_path_access, act(path_access)}});
}

}  // namespace email_t

// ---- ref! ------------------------------------------------------------------------

namespace ref_t {

Cell* push(const Cell& ref) { return stack::push_copy(ref); }

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part, int32_t budget, int32_t) {
    string_t::append_code_point(*buffer, '@');
    return budget - form_text(value, buffer, part, budget - 1) - 1;
}

void init() {
    register_text_type(type_ref, "ref!",
                       {slot_make, slot_reflect, slot_to, slot_form, slot_compare, slot_at, slot_back, slot_change,
                        slot_clear, slot_copy, slot_find, slot_head, slot_head_q, slot_index_q, slot_insert,
                        slot_length_q, slot_move, slot_next, slot_pick, slot_poke, slot_remove, slot_reverse,
                        slot_select, slot_skip, slot_swap, slot_tail, slot_tail_q, slot_take, slot_modify},
                       {{slot_mold, act(mold)}});
}

}  // namespace ref_t

}  // namespace vyr
