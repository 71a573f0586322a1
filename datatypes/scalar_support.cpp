// Field words, path answers and in-place change notices of the cell scalars
// (see scalar_support.h).
#include "datatypes/scalar_support.h"

#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "datatypes/actions.h"
#include "datatypes/fixed_words.h"
#include "runtime/memory.h"
#include "datatypes/owners.h"

namespace vyr::scalar_support {

bool any_word_q(uint32_t type) {
    return type == type_word || type == type_lit_word || type == type_get_word || type == type_set_word ||
           type == type_refinement || type == type_issue;
}

int32_t word_field(const Cell& element, std::initializer_list<int32_t> fields) {
    if (!any_word_q(type_of(element))) return 0;
    int32_t id = symbol_t::resolve_alias(int32_t(element.w2));
    int32_t n = 1;
    for (int32_t field : fields) {
        if (symbol_t::resolve_alias(field) == id) return n;
        ++n;
    }
    return 0;
}

namespace {
Cell answer;
}  // namespace

Cell* path_answer(const Cell& value) {
    answer = value;
    return &answer;
}

namespace {

bool cell_series_q(uint32_t t) {
    switch (t) {
        case type_block: case type_paren: case type_path: case type_lit_path: case type_set_path:
        case type_get_path: case type_hash: case type_map:
            return true;
        default: return false;
    }
}

// The position of the changed cell in the series that holds it: its offset
// in the buffer when it lies there, else the series' own index.
int32_t position_in(const Cell& holder, const Cell* value) {
    if (cell_series_q(type_of(holder)) && holder.w2 != no_node) {
        memory::SeriesBuffer* b = memory::buffer_of(holder.w2);
        if (value >= b->cells() && value < b->cells_end()) return int32_t(value - b->cells());
    }
    return int32_t(holder.w1);
}

}  // namespace

namespace {

bool on_argument_stack_q(const Cell* c) { return c >= stack::bottom() && c < stack::top(); }

// Stores the changed value where the copy came from.
void store_back(const Cell& changed, Cell* holder, Cell* word) {
    Cell value = changed;
    if (!holder) {
        if (word && type_of(*word) == type_word) word_t::set(*word, value);
        return;
    }
    if (!word) return;
    Cell* v = stack::push_copy(value);
    Cell* w = stack::push_copy(*word);
    Cell* h = stack::push_copy(*holder);
    actions::path_access(h, w, v, nullptr, nullptr, nullptr, -1, false, false, true, false);
}

}  // namespace

InPlaceChange::InPlaceChange(const Cell* value, Cell* holder, Cell* word) : holder_(holder), word_(word) {
    if (holder_ && type_of(*holder_) == type_object && word_ && any_word_q(type_of(*word_)) &&
        !on_argument_stack_q(value))
        old_ = stack::push_copy(*value);
}

void InPlaceChange::done(const Cell* value) {
    if (on_argument_stack_q(value)) {
        store_back(*value, holder_, word_);
        return;
    }
    if (!holder_) return;
    if (old_) {
        Cell* object = stack::push_copy(*holder_);
        Cell* word = stack::push_copy(*word_);
        Cell* changed = stack::push_copy(*value);
        object_t::fire_on_change(object, word, old_, changed);
        return;
    }
    if (type_of(*holder_) == type_object) return;
    int32_t position = position_in(*holder_, value);
    Cell changed = *value;
    Cell series = *holder_;
    owners::notify_owner(series, fixed::word_set_path, &changed, position, 1);
}

}  // namespace vyr::scalar_support
